#include "km/c_km_privilege.h"

#include "km/c_main_request.h"
#include "logging/log.h"
#include "protocol/c_net_syncer.h"
#include "protocol/km_frame.h"


bool c_km_privilege::on_slot_grabPriv()
{
    if (m_writeFlag.load() != 0 || m_requestAllowed.load() != 1)
        return false;
    m_requestAllowed.store(0);
    if (m_actions.set_grab_icon)
        m_actions.set_grab_icon(false);
    TLOG_INFO << "priv,want to grab";
    m_grabAsked.store(1);
    send_byte(kKmControlRequest, 0x00);
    return true;
}

void c_km_privilege::on_control_answer(std::uint8_t value)
{
    m_answered.store(1);
    if (value != 1)
        m_requestAllowed.store(1);
}

void c_km_privilege::on_privilege_state(std::uint8_t value)
{
    m_answered.store(1);
    // Only 1 means writing; any other value is read-only.
    m_writeFlag.store(value == 1 ? 1 : 0);
}

void c_km_privilege::handle_request(std::int32_t code, std::int32_t value)
{
    switch (code) {
    case c_main_request::kPrivilegeState:
        handle_state(value);
        break;
    case c_main_request::kGiveUpQuestion:
        handle_give_up();
        break;
    case c_main_request::kGrabResult:
        handle_grab_result(value);
        break;
    default:
        TLOG_WARN << "unknown main thread request " << code;
        break;
    }
}

void c_km_privilege::handle_state(std::int32_t value)
{
    if (value == 1) {
        if (m_actions.start_sampling)
            m_actions.start_sampling();
    } else {
        // The flag already dropped on the receive thread; capture stopped with it.
        if (m_actions.stop_sampling)
            m_actions.stop_sampling();
        if (m_actions.set_grab_icon)
            m_actions.set_grab_icon(false);
    }
}

void c_km_privilege::on_channel_lost()
{
    m_grabAsked.store(0);
    m_answered.store(0);
    give_up_locally();
}

void c_km_privilege::give_up_locally()
{
    m_writeFlag.store(0);
    if (m_actions.stop_sampling)
        m_actions.stop_sampling();
    if (m_actions.set_grab_icon)
        m_actions.set_grab_icon(false);
    m_requestAllowed.store(1);
}

void c_km_privilege::handle_give_up()
{
    const give_up_answer answer =
        m_actions.ask_give_up ? m_actions.ask_give_up() : give_up_answer::closed;
    std::uint8_t value = 0x00;
    switch (answer) {
    case give_up_answer::yes:
        give_up_locally();
        TLOG_INFO << "priv pleaseGiveup_admit";
        break;
    case give_up_answer::no:
        TLOG_INFO << "Priv pleaseGiveup_refuse";
        value = 0x01;
        break;
    case give_up_answer::closed:
        // The device hears "given up", so stop writing here too; otherwise this viewer
        // would go on sending input the device no longer takes from it.
        give_up_locally();
        TLOG_INFO << "priv pleaseGiveup question closed, given up";
        break;
    }
    send_byte(kKmPrivilegeAnswerAsk, value);
}

void c_km_privilege::handle_grab_result(std::int32_t value)
{
    m_answered.store(1);
    if (value == 0) {
        m_writeFlag.store(1);
        if (m_actions.start_sampling)
            m_actions.start_sampling();
        if (m_actions.set_grab_icon)
            m_actions.set_grab_icon(true);
    } else {
        m_writeFlag.store(0);
        // Nothing may be sampled without the privilege.
        if (m_actions.stop_sampling)
            m_actions.stop_sampling();
        if (m_actions.set_grab_icon)
            m_actions.set_grab_icon(false);
    }
    // Input queued under the old state must not reach the device under the new one.
    m_syncer.clear_km_queue();
    send_byte(kKmPrivilegeAnswerGrab, 0x00);
    // Only a writer's reports move the remote pointer; aligning after a refusal would send
    // twenty reports the device turns down.
    if (value == 0 && m_actions.align_mouse)
        m_actions.align_mouse();
}

void c_km_privilege::send_byte(std::uint8_t type, std::uint8_t value)
{
    m_syncer.send_km_data(type, &value, 1);
}
