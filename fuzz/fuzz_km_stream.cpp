// The keyboard/mouse channel as the device sends it: the byte stream is cut into frames,
// checksums are verified, ciphered bodies deciphered, and every message goes to the
// keyboard/mouse session's handler (privilege notices run at once: the fuzzing thread is
// the session's own thread, as the main thread would be).
#include "fuzz_support.h"

#include "km/c_km_session.h"
#include "protocol/c_net_syncer.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/socket/km/c_socket_recv_km1.h"

#include <cstdint>
#include <memory>

namespace {

// The keys the seed corpus's ciphered frames were made with.
const c_km_session::key_type kInboundKey{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const c_km_session::key_type kOutboundKey{0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};

class km_receiver : public c_socket_recv_km1 {
public:
    using c_socket_recv_km1::c_socket_recv_km1;
    void feed(const frame_header &header, std::uint8_t *body, std::uint32_t length)
    {
        handle_frame(header, body, length);
    }
};

// Records what reaches the session, then passes it on.
class checking_handler : public c_abs_net_handler {
public:
    explicit checking_handler(c_km_session &session) : m_session(session) {}

    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override
    {
        FUZZ_CHECK(body != nullptr && bodyLength >= 1);
        FUZZ_CHECK(bodyLength <= m_wireLength);
        ++messages;
        return m_session.HandleMsg(sender, body, lengthField, bodyLength);
    }
    void expect_at_most(std::uint32_t wireLength) { m_wireLength = wireLength; }

    int messages = 0;

private:
    c_km_session &m_session;
    std::uint32_t m_wireLength = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ensure_application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A fresh session per input: the privilege state is part of what the input drives.
    c_net_syncer syncer;
    syncer.set_outbound_key(kOutboundKey.data());
    c_key_translator translator;
    c_km_session session({kInboundKey, kOutboundKey}, syncer, translator);
    checking_handler handler(session);
    km_receiver receiver(nullptr, kInboundKey);
    receiver.attach_handler(&handler);

    fuzz::split_stream(data, size, [&](const frame_header &header, std::uint8_t *body,
                                       std::uint32_t length) {
        handler.expect_at_most(length);
        receiver.feed(header, body, length);
    });
    const std::int32_t flag = session.privilege().write_flag();
    FUZZ_CHECK(flag == 0 || flag == 1);
    return 0;
}
