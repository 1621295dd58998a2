#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

// The strip along the bottom of the remote picture while a device channel is down: what is down and what
// is being done, with "Reconnect now" and "Close". A view only; the window fills it.
// GUI thread.
class c_connection_banner : public QFrame {
    Q_OBJECT
public:
    explicit c_connection_banner(QWidget *parent);
    // Shows `text` (one line per channel down), or hides the banner when it is empty.
    void show_text(const QString &text);

signals:
    void signal_reconnect_now();
    void signal_close();

private:
    QLabel *m_text;
};
