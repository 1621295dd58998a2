// The video channel as the device sends it: the byte stream is cut into frames, ciphered
// heads are deciphered, every frame is dispatched by type as the main window does, and
// video fragments go through the picture assembler into the H.264 decoder.
#include "fuzz_support.h"

#include "protocol/c_abs_net_handler.h"
#include "protocol/c_video_msg_dispatcher.h"
#include "tools/socket/c_socket_recv_video.h"
#include "video/c_video_picture_path.h"

#include <cstdint>
#include <memory>

namespace {

// The key the seed corpus's ciphered heads were made with.
const c_socket_recv_video::key_type kInboundKey{0x13, 0x34, 0x57, 0x79,
                                                0x9B, 0xBC, 0xDF, 0xF1};

// The main window's part for the video channel, without the window.
class video_handler : public c_abs_net_handler, public c_video_msg_listener {
public:
    video_handler()
        : m_dispatcher(this), m_path([](video_picture picture) { check_picture(picture); })
    {
        FUZZ_CHECK(m_path.setup());
    }

    void discard() { m_path.discard_partial(); }

    std::uint8_t HandleMsg(c_socket_thread *, const std::uint8_t *body, std::uint32_t,
                           std::uint32_t bodyLength) override
    {
        FUZZ_CHECK(body != nullptr && bodyLength >= 1);
        const std::uint8_t result = m_dispatcher.dispatch(body, bodyLength);
        FUZZ_CHECK(result == kHandled || result == kRefused);
        if (result == kRefused && body[0] == 6)
            m_path.discard_partial();
        return result;
    }

    void on_led_report(std::uint8_t bits) override { m_ledBits = bits; }
    void on_video_fragment(const std::uint8_t *body, std::uint32_t length) override
    {
        m_path.on_video_fragment(body, length);
        const FrameAssembler *assembler = m_path.assembler();
        FUZZ_CHECK(assembler == nullptr || assembler->fill() <= assembler->capacity());
    }

private:
    // Every picture handed on fills its whole buffer: touching both ends lets the address
    // sanitizer see a buffer smaller than the picture.
    static void check_picture(const video_picture &picture)
    {
        FUZZ_CHECK(!picture.empty());
        FUZZ_CHECK(picture.stride == picture.width * 4);
        const std::size_t bytes = std::size_t(picture.stride) * std::size_t(picture.height);
        FUZZ_CHECK(bytes <= c_video_picture_path::kOutputLimit);
        volatile std::uint8_t sink = picture.data()[0];
        sink = picture.data()[bytes - 1];
        (void)sink;
    }

    c_video_msg_dispatcher m_dispatcher;
    c_video_picture_path m_path;
    std::uint8_t m_ledBits = 0;
};

// The receive thread's frame handling, called here on the fuzzing thread.
class video_receiver : public c_socket_recv_video {
public:
    using c_socket_recv_video::c_socket_recv_video;
    void feed(const frame_header &header, std::uint8_t *body, std::uint32_t length)
    {
        handle_frame(header, body, length);
    }
};

struct video_channel {
    std::shared_ptr<video_handler> handler = std::make_shared<video_handler>();
    video_receiver receiver{nullptr, handler.get(), kInboundKey};
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ensure_application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static video_channel channel;
    // The decoder is opened once (opening it for every input costs five times the decoding);
    // each input starts without a partial picture.
    channel.handler->discard();
    fuzz::split_stream(data, size, [](const frame_header &header, std::uint8_t *body,
                                      std::uint32_t length) {
        channel.receiver.feed(header, body, length);
    });
    return 0;
}
