#pragma once

#include <QMainWindow>

// The main window: shows the remote screen, captures input for it and owns the device
// channels. Later parts of the viewer extend this class.
class H264Video : public QMainWindow {
    Q_OBJECT

public:
    explicit H264Video(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~H264Video() override;
};
