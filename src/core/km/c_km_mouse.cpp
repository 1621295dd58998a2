#include "km/c_km_mouse.h"

#include "logging/log.h"
#include "protocol/c_net_syncer.h"
#include "protocol/km_frame.h"
#include "tools/key_mouse/c_key_translator.h"

#include <algorithm>

namespace {
constexpr int kWheelNotch = 120; // a wheel event's angle for one notch, in eighths of a degree
}

c_km_mouse::c_km_mouse(c_net_syncer &syncer, c_key_translator &translator, mode m)
    : m_syncer(syncer), m_translator(translator), m_mode(m), m_sampler([this] { sample_tick(); })
{
}

void c_km_mouse::set_geometry(QPoint origin, const picture_geometry &geometry)
{
    m_origin = origin;
    m_geometry = geometry;
}

std::optional<QPoint> c_km_mouse::local_position() const
{
    if (!m_pointer.local_position)
        return std::nullopt;
    return m_pointer.local_position();
}

bool c_km_mouse::window_active() const
{
    return !m_pointer.window_active || m_pointer.window_active();
}

void c_km_mouse::on_move()
{
    if (m_alignPending.load() != 0 && window_active() && m_alignPending.exchange(0) != 0)
        align_mouse();
    m_sampler.mark_moved();
}

void c_km_mouse::on_window_activated()
{
    if (window_active() && m_alignDeferred.exchange(false))
        align_mouse();
}

void c_km_mouse::send_relative_button(int qtButton, int kind)
{
    std::uint8_t report[c_key_translator::kMouseReportSize];
    int length = 0;
    // The middle button travels as a wheel value of 4 with the buttons unchanged.
    if (qtButton == kMiddle)
        m_translator.build_mouse_report(0, c_key_translator::kMove, 0, 0, 4, report, length);
    else
        m_translator.build_mouse_report(qtButton, kind, 0, 0, 0, report, length);
    m_syncer.send_km_data(kKmMouseRelative, report, static_cast<std::uint32_t>(length));
}

void c_km_mouse::on_button(int qtButton, int kind)
{
    if (m_mode == mode::relative) {
        // A double click counts as a press of the same button.
        const int asKind = kind == kDoubleClick ? kPress : kind;
        send_relative_button(qtButton, asKind);
        return;
    }
    if (kind == kPress || kind == kDoubleClick) {
        if (qtButton == kLeft)
            m_absoluteButtons = 1;
        else if (qtButton == kRight)
            m_absoluteButtons = 2;
    } else if (kind == kRelease) {
        m_absoluteButtons = 0;
    }
    send_absolute_mouse(0);
}

void c_km_mouse::on_wheel(int delta)
{
    if (m_mode == mode::absolute) {
        send_absolute_mouse(delta > 0 ? 1 : -1);
        return;
    }
    // The movement still pending goes first, so the wheel turns where the pointer is; then
    // the wheel byte of a report without movement, one step per notch (120 eighths of a
    // degree), at least one.
    if (m_pointer.clamped_local_position)
        send_relative_mouse(m_pointer.clamped_local_position());
    const int steps = std::clamp(delta / kWheelNotch, -kMaxRelativeStep, kMaxRelativeStep);
    const int wheel = steps != 0 ? steps : (delta > 0 ? 1 : -1);
    std::uint8_t report[c_key_translator::kMouseReportSize];
    int length = 0;
    m_translator.build_mouse_report(0, c_key_translator::kMove, 0, 0, wheel, report, length);
    m_syncer.send_km_data(kKmMouseRelative, report, static_cast<std::uint32_t>(length));
}

void c_km_mouse::release_buttons()
{
    if (m_mode == mode::absolute) {
        if (m_absoluteButtons == 0)
            return;
        m_absoluteButtons = 0;
        send_absolute_mouse(0);
        return;
    }
    const int held = m_translator.mouse_buttons();
    if (held != 0)
        send_relative_button(held, kRelease);
}

void c_km_mouse::forget_buttons()
{
    m_absoluteButtons = 0;
    m_translator.release_buttons();
}

void c_km_mouse::on_leave()
{
    if (m_mode != mode::absolute)
        return;
    m_absoluteButtons = 0;
    send_absolute_mouse(0);
}

void c_km_mouse::align_mouse()
{
    if (m_mode != mode::relative) {
        m_alignPending.store(0);
        return;
    }
    if (!window_active()) {
        m_alignPending.store(1);
        m_alignDeferred.store(true);
        return;
    }
    m_alignPending.store(0);
    m_alignDeferred.store(false);
    // One sweep that is never joined with other motion: the remote pointer must hit the
    // corner before any later movement counts from it.
    constexpr int kSweep = -kMaxRelativeStep * kAlignReports;
    m_syncer.queue_relative_motion(m_translator.mouse_buttons(), kSweep, kSweep, false);
    m_relative.reset();
    // The remote pointer now stands on the picture's top-left corner. Where that corner is
    // on the label, the local cursor goes to the label's corner to match. A panned view
    // shows it nowhere: the cursor stays where the user has it (taking it to the edge would
    // pan the view back), and the next sample brings the remote pointer under it.
    if (m_origin.x() < 0 || m_origin.y() < 0) {
        m_sampler.mark_moved();
        return;
    }
    if (m_pointer.move_to_label_origin)
        m_pointer.move_to_label_origin();
    m_sampler.clear_moved();
}

bool c_km_mouse::absolute_sample(int wheel, std::uint8_t payload[kAbsolutePayloadSize]) const
{
    const std::optional<QPoint> local = local_position();
    if (!local)
        return false;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    if (!absolute_position(m_geometry, local->x(), local->y(), x, y))
        return false;
    TLOG_INFO << "local pos:" << local->x() << "," << local->y() << ",remote pos:" << x << ","
              << y;
    absolute_payload(static_cast<std::uint8_t>(m_absoluteButtons & 0xFF), x, y, wheel, payload);
    return true;
}

void c_km_mouse::send_absolute_mouse(int wheel)
{
    std::uint8_t payload[kAbsolutePayloadSize];
    if (absolute_sample(wheel, payload))
        m_syncer.send_km_data(kKmMouseAbsolute, payload, kAbsolutePayloadSize);
}

void c_km_mouse::send_relative_mouse(QPoint position)
{
    TLOG_INFO << "mouseEvt pos:" << position.x() << "," << position.y();
    const mouse_step whole =
        m_relative.move_to(position.x(), position.y(), m_geometry.scaleX, m_geometry.scaleY);
    m_syncer.queue_relative_motion(m_translator.mouse_buttons(), whole.dx, whole.dy);
}

void c_km_mouse::sample_tick()
{
    if (!m_sampler.take_moved())
        return;
    if (m_mode == mode::absolute) {
        // A sample replaces one still waiting: only the newest position matters.
        std::uint8_t payload[kAbsolutePayloadSize];
        if (absolute_sample(0, payload))
            m_syncer.queue_absolute_motion(payload);
        return;
    }
    const std::optional<QPoint> local = local_position();
    if (!local)
        return;
    TLOG_INFO << "isMouseMove pos:" << local->x() << "," << local->y()
              << " origin_pos:" << m_origin.x() << "," << m_origin.y();
    if (inside_picture(m_geometry, local->x(), local->y()))
        send_relative_mouse(*local);
}
