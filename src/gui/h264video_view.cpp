// The main window's view of the remote picture: fitted or at actual size, fast or smooth
// scaling, and the panning of the actual-size view by the pointer near the label's edges.

#include "h264video.h"
#include "ui_H264Video.h"

#include "km/c_km_session.h"
#include "logging/log.h"
#include "settings/config_file.h"
#include "toolbar_action.h"

#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QTimer>

#include <functional>

namespace {

// Pointer within this many label pixels of an edge pans the actual-size view, by up to
// kPanMaxStep pixels per tick at the edge itself: crossing a 2160p picture takes about two
// seconds, while a pointer just inside the band creeps so that it can still be placed.
constexpr int kPanBand = 32;
constexpr int kPanMaxStep = 40;
constexpr int kPanIntervalMs = 20;

// Hands the label's pointer events to the window without taking them: the input capture,
// which may consume them, sees them afterwards.
class c_pointer_watch : public QObject {
public:
    c_pointer_watch(QObject *parent, std::function<void(bool inside)> onPointer)
        : QObject(parent), m_onPointer(std::move(onPointer))
    {
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter)
            m_onPointer(true);
        else if (event->type() == QEvent::Leave)
            m_onPointer(false);
        return false;
    }

private:
    std::function<void(bool)> m_onPointer;
};

} // namespace

void H264Video::add_view_actions()
{
    const QString config = config_file_path(m_settingsDir);
    load_config_view_mode(config, m_viewMode);
    bool smooth = false;
    load_config_smooth_scaling(config, smooth);
    ui->label->set_smooth_scaling(smooth);

    const QColor ink = palette().windowText().color();
    // At the end of the toolbar: the buttons before keep their places.
    m_actualSizeAction = add_toolbar_action(
        ui->toolBar, this, drawn_icon("zoom-original", ink, [](QPainter &p) {
            p.drawRect(QRectF(4, 4, 24, 24));
            p.drawText(QRectF(4, 4, 24, 24), Qt::AlignCenter, QStringLiteral("1:1"));
        }),
        QStringLiteral("Actual size"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_0), "actionActualSize");
    m_actualSizeAction->setCheckable(true);
    m_actualSizeAction->setChecked(m_viewMode == view_mode::actual);
    m_smoothAction = add_toolbar_action(
        ui->toolBar, this, drawn_icon(nullptr, ink, [](QPainter &p) {
            QPainterPath curve(QPointF(4, 26));
            curve.cubicTo(QPointF(14, 26), QPointF(18, 6), QPointF(28, 6));
            p.drawPath(curve);
        }),
        QStringLiteral("Smooth scaling"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S), "actionSmoothScaling");
    m_smoothAction->setCheckable(true);
    m_smoothAction->setChecked(smooth);
    connect(m_actualSizeAction, &QAction::toggled, this, [this](bool on) {
        set_view_mode(on ? view_mode::actual : view_mode::fit);
    });
    connect(m_smoothAction, &QAction::toggled, this, &H264Video::set_smooth_scaling);

    m_panTimer = new QTimer(this);
    m_panTimer->setInterval(kPanIntervalMs);
    connect(m_panTimer, &QTimer::timeout, this, &H264Video::pan_view_tick);
    ui->label->installEventFilter(new c_pointer_watch(this, [this](bool inside) {
        if (!inside)
            m_panTimer->stop();
        else if (m_viewMode == view_mode::actual && !m_panTimer->isActive())
            pan_view_tick();
    }));
}

void H264Video::set_view_mode(view_mode mode)
{
    if (mode == m_viewMode)
        return;
    m_viewMode = mode;
    TLOG_INFO << "view mode: " << (mode == view_mode::actual ? "actual size" : "fit");
    if (m_actualSizeAction) {
        const QSignalBlocker quiet(m_actualSizeAction);
        m_actualSizeAction->setChecked(mode == view_mode::actual);
    }
    save_config_view_mode(config_file_path(m_settingsDir), mode);
    if (mode == view_mode::fit && m_panTimer)
        m_panTimer->stop();
    if (!ui->label->picture().isNull())
        show_picture(ui->label->picture());
    // Label pixels now map to other remote pixels: the relative pointer is aligned anew.
    mark_window_resized();
}

void H264Video::set_smooth_scaling(bool smooth)
{
    if (smooth == ui->label->smooth_scaling())
        return;
    TLOG_INFO << "smooth scaling: " << (smooth ? 1 : 0);
    ui->label->set_smooth_scaling(smooth);
    if (m_smoothAction) {
        const QSignalBlocker quiet(m_smoothAction);
        m_smoothAction->setChecked(smooth);
    }
    save_config_smooth_scaling(config_file_path(m_settingsDir), smooth);
}

void H264Video::pan_view(int dx, int dy)
{
    if (m_viewMode != view_mode::actual || ui->label->picture().isNull())
        return;
    const int oldX = m_scrollX, oldY = m_scrollY;
    m_scrollX += dx;
    m_scrollY += dy;
    show_picture(ui->label->picture()); // clamps the scroll to the picture
    // The pointer now stands over another remote pixel although it did not move: the next
    // sample sends it there.
    if ((m_scrollX != oldX || m_scrollY != oldY) && m_km)
        m_km->mouse().sampler().mark_moved();
}

void H264Video::pan_view_tick()
{
    const QPoint pointer = ui->label->mapFromGlobal(QCursor::pos());
    const QSize area = ui->label->size();
    const int dx = edge_pan_step(pointer.x(), area.width(), kPanBand, kPanMaxStep);
    const int dy = edge_pan_step(pointer.y(), area.height(), kPanBand, kPanMaxStep);
    const int oldX = m_scrollX, oldY = m_scrollY;
    if (m_viewMode == view_mode::actual && ui->label->rect().contains(pointer))
        pan_view(dx, dy);
    // Runs on only while the view still moves: at the picture's edge it stops.
    if (m_scrollX == oldX && m_scrollY == oldY)
        m_panTimer->stop();
    else if (!m_panTimer->isActive())
        m_panTimer->start();
}
