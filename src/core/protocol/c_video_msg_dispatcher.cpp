#include "protocol/c_video_msg_dispatcher.h"

#include "logging/log.h"
#include "protocol/c_abs_net_handler.h"
#include "protocol/message_types.h"
#include "protocol/video_head.h"

namespace {

constexpr std::uint8_t kHandled = c_abs_net_handler::kHandled;
constexpr std::uint8_t kRefused = c_abs_net_handler::kRefused;

// Types whose body has one fixed length and no effect beyond being accepted (4 is fixed too,
// but carries the LED state).
std::uint32_t fixed_length(std::uint8_t type)
{
    switch (type) {
    case 1: case 3: case 4: case 5: case 15: return 2;
    case 7: return 3;
    case 8: case 10: return 8;
    case 11: return 520;
    case 14: return 6;
    case 16: return 33;
    default: return 0;
    }
}

} // namespace

std::uint32_t c_video_msg_dispatcher::type2_required_length(std::uint8_t subType)
{
    switch (subType) {
    case 1: return 3 + 8;
    case 3: return 3 + 128;
    case 5: return 3;
    default: return 0; // 2 and 4 included: their replies' lengths are not settled
    }
}

std::uint8_t c_video_msg_dispatcher::dispatch(const std::uint8_t *body, std::uint32_t bodyLength)
{
    if (body == nullptr || bodyLength == 0)
        return kRefused;
    const std::uint8_t type = body[0];
    if (const std::uint32_t required = fixed_length(type); required != 0) {
        if (bodyLength != required)
            return kRefused;
        if (type == kMsgLedState && m_listener)
            m_listener->on_led_report(body[1]);
        return kHandled;
    }
    switch (type) {
    case 2:
        return dispatch_type2(body, bodyLength);
    case kMsgVideo:
        return dispatch_video(body, bodyLength);
    case 12:
        return kHandled;
    case kMsgVideoBeginSet: case kMsgVideoResetPosition: case kMsgVideoSetPosition:
        log_video_setting_ack(body, bodyLength);
        return kHandled;
    case kMsgLogin:
        log_login_ack(body, bodyLength);
        return kHandled;
    default:
        return kRefused;
    }
}

std::uint8_t c_video_msg_dispatcher::dispatch_type2(const std::uint8_t *body,
                                                    std::uint32_t bodyLength)
{
    if (bodyLength < 3)
        return kRefused;
    // A non-zero status in byte 2 is a reply without data, whatever its sub-type.
    if (body[2] != 0)
        return kHandled;
    const std::uint32_t required = type2_required_length(body[1]);
    return required != 0 && bodyLength == required ? kHandled : kRefused;
}

std::uint8_t c_video_msg_dispatcher::dispatch_video(const std::uint8_t *body,
                                                    std::uint32_t bodyLength)
{
    if (!video_body_consistent(body, bodyLength))
        return kRefused;
    if (m_listener)
        m_listener->on_video_fragment(body, bodyLength);
    return kHandled;
}

void c_video_msg_dispatcher::log_video_setting_ack(const std::uint8_t *body,
                                                   std::uint32_t bodyLength)
{
    static const char *const kNames[] = {"beginSet", "endSet", "setPos"};
    const char *name = kNames[body[0] - kMsgVideoBeginSet];
    const bool ok = bodyLength >= 3 && body[2] == 0;
    TLOG_INFO << "videoSetting," << name << ",ack," << (ok ? "success" : "fail");
}

void c_video_msg_dispatcher::log_login_ack(const std::uint8_t *body, std::uint32_t bodyLength)
{
    const bool ok = bodyLength >= 2 && body[1] == 0;
    TLOG_INFO << "video.userID.ack," << (ok ? "success" : "fail");
    if (m_listener)
        m_listener->on_login_answer(ok);
}
