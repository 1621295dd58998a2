#include "test_support.h"

#include "km/c_km_session.h"
#include "protocol/c_net_syncer.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_socket_thread.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace socket_test;

namespace {

// Plays a device that never stops sending: accepts one connection after another and writes
// `frame` to each until it fails (the viewer closed it or stopped reading).
class flooding_device {
public:
    explicit flooding_device(bytes frame) : m_frame(std::move(frame)), m_thread([this] { run(); }) {}
    ~flooding_device() { m_stop = true, m_thread.join(); }
    std::uint16_t port() const { return m_listener.port(); }

private:
    void run()
    {
        const timeval patience{0, 200000};
        for (unique_fd peer; !m_stop; peer = m_listener.accept_one(50)) {
            setsockopt(peer.get(), SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
            while (peer.get() >= 0 && !m_stop && write_fd(peer.get(), m_frame)) {
            }
        }
    }

    loopback_listener m_listener;
    bytes m_frame;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Counts calls; a call lasts `slowMs` longer once its thread was asked to stop.
struct counting_handler : c_abs_net_handler {
    explicit counting_handler(int slowMs = 0) : slowMs(slowMs) {}
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *, std::uint32_t,
                           std::uint32_t) override
    {
        calls.fetch_add(1);
        if (slowMs > 0 && eventually([sender] { return sender->stop_requested(); }, 10s))
            std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
        returned.fetch_add(1);
        return kHandled;
    }
    const int slowMs;
    std::atomic<int> calls{0}, returned{0};
};

struct km_parts {
    c_net_syncer syncer;
    c_key_translator translator;
    c_km_session session{km_session_options{}, syncer, translator};
};

} // namespace

// Each channel is stopped and started again and again while the device keeps sending; each
// round's handler is destroyed as soon as the channel stopped (the sanitizers watch). In the
// first round the handler outlasts the wait for its thread, which then runs on: stop() still
// returns only once the call has ended.
TEST(HandlerLifetime, ChannelsStopAndStartUnderAFloodingDevice)
{
    constexpr int kRounds = 40;
    const int channelSlowMs = SocketChannel::kStopWaitMs + SocketChannel::kCloseGraceMs + 200;
    flooding_device device(frame_bytes({4, 1}));
    for (const int kind : {int(SocketThreadFactory::kVideo), int(SocketThreadFactory::kMedia)}) {
        for (int round = 0; round < kRounds; ++round) {
            auto sock = std::make_shared<c_tcp_sock>();
            sock->set_remote_addr("127.0.0.1", device.port());
            ASSERT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
            mt_queue<CQUEUE_MESSAGE> queue;
            auto handler = std::make_unique<counting_handler>(round == 0 ? channelSlowMs : 0);
            SocketChannel channel(kind, sock, &queue, std::make_shared<c_wait_object>(),
                                  handler.get());
            channel.start(QThread::InheritPriority, QThread::InheritPriority);
            ASSERT_TRUE(eventually([&] { return handler->calls.load() > 0; })) << kind;
            ASSERT_TRUE(channel.stop());
            ASSERT_EQ(handler->returned.load(), handler->calls.load()) << kind << ":" << round;
        }
    }
    km_parts km;
    for (int round = 0; round < kRounds; ++round) {
        auto handler =
            std::make_unique<counting_handler>(round == 0 ? c_km_session::kStopWaitMs + 300 : 0);
        ASSERT_TRUE(km.session.create_km_socket("127.0.0.1", device.port(), handler.get()));
        ASSERT_TRUE(eventually([&] { return handler->calls.load() > 0; }));
        km.session.stop();
        ASSERT_EQ(handler->returned.load(), handler->calls.load()) << "km:" << round;
    }
}
