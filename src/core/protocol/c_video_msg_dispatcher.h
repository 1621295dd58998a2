#pragma once

#include <cstdint>

// Effects of the video channel's device messages that reach beyond the dispatcher. Called on
// the video receive thread, inside c_video_msg_dispatcher::dispatch.
class c_video_msg_listener {
public:
    virtual ~c_video_msg_listener() = default;
    // Type 4: the device's keyboard LED state, body byte 1 (bit 0, bit 1, bit 2). Whether it
    // is applied now (LED hold-off time) is the listener's decision.
    virtual void on_led_report(std::uint8_t bits) = 0;
    // Type 6: one video fragment, the whole body (header fields included), its length
    // already checked. The bytes are valid only during the call.
    virtual void on_video_fragment(const std::uint8_t *body, std::uint32_t length) = 0;
    // Type 50: the device's answer to the login; `accepted` false when it refused it (or
    // the answer had no result byte).
    virtual void on_login_answer(bool accepted) { (void)accepted; }
};

// The main window's handling of video channel messages, free of widgets: checks each type's
// required body length, logs the acknowledgements and hands LED reports and video fragments
// to the listener. Reads nothing past bodyLength.
class c_video_msg_dispatcher {
public:
    // listener may be null (effects are then dropped); it must outlive the dispatcher.
    explicit c_video_msg_dispatcher(c_video_msg_listener *listener = nullptr)
        : m_listener(listener) {}

    // Returns 0 when the message was handled, 3 when its type is unknown or its length is
    // not the one its type requires (nothing happens then). Runs on the video receive thread.
    std::uint8_t dispatch(const std::uint8_t *body, std::uint32_t bodyLength);

    // The body length a type-2 reply must have, 0 when the sub-type has none settled.
    static std::uint32_t type2_required_length(std::uint8_t subType);

private:
    std::uint8_t dispatch_type2(const std::uint8_t *body, std::uint32_t bodyLength);
    std::uint8_t dispatch_video(const std::uint8_t *body, std::uint32_t bodyLength);
    void log_video_setting_ack(const std::uint8_t *body, std::uint32_t bodyLength);
    void log_login_ack(const std::uint8_t *body, std::uint32_t bodyLength);

    c_video_msg_listener *m_listener;
};
