#pragma once

#include "video/video_statistics.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <functional>

// A small semi-transparent panel in the top-right corner of the remote picture with the
// video figures of the last second: pictures received and shown per second, decode and
// display time per picture, bit rate, and the pictures skipped and dropped so far. It is
// refreshed every kRefreshMs while shown, follows its parent's size, and lets every mouse
// event through to the picture underneath. GUI thread.
class c_stats_overlay : public QLabel {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 1000;
    // Reads the video session's figures; called on the GUI thread.
    using source = std::function<video_statistics()>;

    // Hidden until set_visible_stats(true). `parent`: the widget the picture is shown in.
    c_stats_overlay(source figures, QWidget *parent);

    // Shows (starting the count afresh) or hides the panel.
    void set_visible_stats(bool shown);

    // The panel's text for the rates of one interval and the totals so far.
    static QString text_of(const video_rates &rates, const video_statistics &totals);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void place();

    source m_figures;
    QTimer m_timer;
    QElapsedTimer m_clock;
    video_statistics m_last;
};
