// The keyboard/mouse channel of c_sim_device: logins, the write privilege, the emulated
// keyboard and mouse. Replies go out plain: a ciphered two-byte reply such as [23, 0] would
// lose its trailing zero to the receiver's padding strip.
#include "c_sim_device.h"

#include "km/mouse_math.h"
#include "logging/log.h"
#include "protocol/frame.h"
#include "protocol/message_types.h"

namespace {

constexpr std::uint8_t kAccepted = 0;
constexpr std::uint8_t kRefused = 1;

} // namespace

void c_sim_device::handle_km(c_sim_connection *connection, const std::uint8_t *body,
                             std::size_t length)
{
    switch (body[0]) {
    case kKmLogin:
        if (length < 5) {
            TLOG_WARN << "sim: km viewer " << connection->id() << ": login of " << length
                      << " bytes ignored";
            return;
        }
        if (login_refused(kind::km)) {
            TLOG_INFO << "sim: km viewer " << connection->id() << ": login refused as asked";
            connection->send_body({kKmLogin, kRefused});
            return;
        }
        connection->loggedIn = true;
        connection->userID = read_be32(body + 1);
        connection->send_body({kKmLogin, kAccepted});
        TLOG_INFO << "sim: km viewer " << connection->id() << " logged in as user "
                  << connection->userID;
        return;
    case kKmKeyboard: handle_keyboard(connection, body, length); return;
    case kKmMouseRelative:
    case kKmMouseAbsolute: handle_mouse(connection, body, length); return;
    case kKmKeepAlive: return;
    case c_privilege_arbiter::kRequest:
    case c_privilege_arbiter::kAsk:
    case c_privilege_arbiter::kGrab:
    case c_privilege_arbiter::kState: handle_privilege(connection, body, length); return;
    default:
        TLOG_WARN << "sim: km viewer " << connection->id() << ": type " << unsigned{body[0]}
                  << " (" << length << " bytes) ignored";
        return;
    }
}

void c_sim_device::handle_keyboard(c_sim_connection *connection, const std::uint8_t *body,
                                   std::size_t length)
{
    if (length < 1 + c_hid_keyboard::kReportSize) {
        TLOG_WARN << "sim: km viewer " << connection->id() << ": keyboard report of " << length
                  << " bytes refused";
        connection->send_body({kKmKeyboard, kRefused});
        return;
    }
    if (!m_privilege.may_write(connection->id())) {
        TLOG_WARN << "sim: km viewer " << connection->id()
                  << ": keyboard report without the write privilege refused";
        connection->send_body({kKmKeyboard, kRefused});
        return;
    }
    std::uint8_t leds = m_leds;
    connection->keyboard.apply_report(body + 1, m_layout, leds, m_console);
    m_screen.set_console(m_console.text());
    connection->send_body({kKmKeyboard, kAccepted});
    // The remote computer answers a lock key with new LED states, on the video channel.
    if (leds != m_leds)
        set_leds(leds);
}

void c_sim_device::handle_mouse(c_sim_connection *connection, const std::uint8_t *body,
                                std::size_t length)
{
    const bool absolute = body[0] == kKmMouseAbsolute;
    const std::uint8_t type = body[0];
    if (length < (absolute ? 7u : 5u)) {
        TLOG_WARN << "sim: km viewer " << connection->id() << ": mouse report of " << length
                  << " bytes refused";
        connection->send_body({type, kRefused});
        return;
    }
    if (!m_privilege.may_write(connection->id())) {
        TLOG_WARN << "sim: km viewer " << connection->id()
                  << ": mouse report without the write privilege refused";
        connection->send_body({type, kRefused});
        return;
    }
    // The wheel is the last byte of either report: 4 of the relative, 6 of the absolute one.
    // Recorded as it comes: the viewer's middle button arrives as a wheel value of 4.
    const auto wheel = static_cast<std::int8_t>(body[absolute ? 6 : 4]);
    if (wheel != 0) {
        m_wheelTotal += wheel;
        TLOG_INFO << "sim: km viewer " << connection->id() << ": wheel " << int{wheel}
                  << " (total " << m_wheelTotal << ")";
    }
    if (absolute) {
        const int x = body[2] | body[3] << 8; // little-endian, unlike the rest of the channel
        const int y = body[4] | body[5] << 8;
        m_screen.set_pointer(x * m_options.width / kAbsoluteWidth,
                             y * m_options.height / kAbsoluteHeight);
    } else {
        int x = 0;
        int y = 0;
        m_screen.move_pointer_by(static_cast<std::int8_t>(body[2]), static_cast<std::int8_t>(body[3]),
                                 x, y);
    }
    connection->send_body({type, kAccepted});
}

void c_sim_device::handle_privilege(c_sim_connection *connection, const std::uint8_t *body,
                                    std::size_t length)
{
    const int id = connection->id();
    const std::uint8_t value = length >= 2 ? body[1] : 0;
    switch (body[0]) {
    case c_privilege_arbiter::kState:
        send_privilege(m_privilege.on_query(id));
        break;
    case c_privilege_arbiter::kRequest:
        TLOG_INFO << "sim: km viewer " << id << " asks for the write privilege";
        send_privilege(m_privilege.on_request(id));
        break;
    case c_privilege_arbiter::kAsk:
        TLOG_INFO << "sim: km viewer " << id << (value == 0 ? " gives up" : " keeps")
                  << " the write privilege";
        send_privilege(m_privilege.on_answer(id, value));
        break;
    default: // 22: the viewer acknowledges a grab result; nothing to answer
        return;
    }
    update_holder_status();
}

void c_sim_device::send_privilege(const std::vector<c_privilege_arbiter::message> &messages)
{
    for (const auto &m : messages) {
        c_sim_connection *km = connection(kind::km, m.viewer);
        if (!km)
            continue;
        if (m.type == c_privilege_arbiter::kState && m.value == 0)
            km->keyboard.release_all(); // its held keys no longer reach the computer
        km->send_body({m.type, m.value});
        TLOG_INFO << "sim: privilege message [" << unsigned{m.type} << ", " << unsigned{m.value}
                  << "] to km viewer " << m.viewer;
    }
}

void c_sim_device::update_holder_status()
{
    const int holder = m_privilege.holder();
    c_sim_connection *km = holder ? connection(kind::km, holder) : nullptr;
    m_screen.set_holder(km ? "viewer " + std::to_string(holder) + " (user " +
                                 std::to_string(km->userID) + ")"
                           : std::string("nobody"));
}
