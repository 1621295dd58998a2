#include "test_support.h"

#include "tools/socket/c_tcp_sock/c_tcp_sock.h"

#include <gtest/gtest.h>

#include <future>

using namespace socket_test;

TEST(TcpSock, CarriesBytesBothWaysAndSeesAnOrderlyClose)
{
    loopback_connection c;
    const bytes hello{'h', 'e', 'l', 'l', 'o'};
    EXPECT_NE(c.sock->local_port(), 0);
    EXPECT_EQ(c.sock->create_sock(nullptr, 0, 2000), -1) << "a live object keeps its connection";
    EXPECT_EQ(c.sock->tcp_send(hello.data(), 5), 1);
    bytes got(5);
    ASSERT_TRUE(read_fd(c.peer.get(), got.data(), got.size()));
    EXPECT_EQ(got, hello);

    // Empty sends and null buffers are refused without a call (an empty receive would
    // otherwise read as a close).
    std::uint8_t in[8] = {};
    EXPECT_EQ(c.sock->tcp_send(in, 0), -1);
    EXPECT_EQ(c.sock->tcp_send(in, -3), -1);
    EXPECT_EQ(c.sock->tcp_send(nullptr, 4), -1);
    EXPECT_EQ(c.sock->tcp_recv(nullptr, 4), -1);
    EXPECT_EQ(c.sock->tcp_recv(in, 0), -1);

    ASSERT_TRUE(write_fd(c.peer.get(), {1, 2, 3}));
    ASSERT_EQ(c.sock->wait_readable(2000), 1);
    EXPECT_EQ(c.sock->tcp_recv(in, sizeof in), 3);
    EXPECT_EQ(in[2], 3);
    EXPECT_EQ(c.sock->wait_readable(10), 0); // nothing more
    c.peer.reset();
    ASSERT_EQ(c.sock->wait_readable(2000), 1);
    EXPECT_EQ(c.sock->tcp_recv(in, sizeof in), 0);
}

// A failed connect leaves no descriptor and a line; the object may connect again. A full
// backlog drops the request, so that connect gives up at its timeout.
TEST(TcpSock, FailedConnectsLeaveNoDescriptorAndMayBeRepeated)
{
    loopback_listener open, full(0);
    const std::uint16_t refused = free_port(), taken = free_port();
    c_tcp_sock holder;
    holder.set_remote_addr("127.0.0.1", open.port());
    ASSERT_EQ(holder.create_sock("127.0.0.1", taken, 2000), 1);
    EXPECT_EQ(holder.local_port(), taken);
    const struct { std::uint16_t remote, local; const char *line; } cases[] = {
        {refused, 0, "c_tcp_sock::create_sock 3"},
        {full.port(), 0, "c_tcp_sock::create_sock 2"},
        {open.port(), taken, "c_tcp_sock::create_sock bind failed"},
    };
    std::vector<std::unique_ptr<c_tcp_sock>> queued; // fill the backlog
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const int linesBefore = log_lines_with(c.line);
        for (int attempt = 0; attempt < 6; ++attempt) {
            auto sock = std::make_unique<c_tcp_sock>();
            sock->set_remote_addr("127.0.0.1", c.remote);
            const int fdsBefore = open_fd_count();
            if (sock->create_sock("127.0.0.1", c.local, 300) == 1) {
                queued.push_back(std::move(sock));
                continue;
            }
            EXPECT_FALSE(sock->has_socket());
            EXPECT_EQ(open_fd_count(), fdsBefore);
            EXPECT_EQ(log_lines_with(c.line), linesBefore + 1);
            sock->set_remote_addr("127.0.0.1", open.port());
            EXPECT_EQ(sock->create_sock(nullptr, 0, 2000), 1);
            break;
        }
        EXPECT_EQ(log_lines_with(c.line), linesBefore + 1) << "never failed";
    }
}

TEST(TcpSock, SendToVanishedPeerFailsWithoutSignal)
{
    loopback_connection c;
    c.peer.reset();
    // The first send may still be accepted locally; the reset it provokes fails a later one.
    const bytes data(4096, 1);
    EXPECT_TRUE(eventually([&] { return c.sock->tcp_send(data.data(), 4096) == -1; }));
    EXPECT_GE(log_lines_with("c_tcp_sock::tcp_send socket error."), 1);
}

// A receive and a readiness wait blocked on the socket both end when another thread closes it.
TEST(TcpSock, CloseFromAnotherThreadEndsBlockedReceiveAndWait)
{
    const int fdsBefore = open_fd_count();
    {
        loopback_connection c;
        std::uint8_t in[16];
        auto blocked = std::async(std::launch::async, [&] { return c.sock->tcp_recv(in, 16); });
        auto waiting = std::async(std::launch::async, [&] { return c.sock->wait_readable(10000); });
        c.sock->close();
        ASSERT_EQ(blocked.wait_for(2s), std::future_status::ready);
        EXPECT_LE(blocked.get(), 0);
        ASSERT_EQ(waiting.wait_for(2s), std::future_status::ready);
        EXPECT_NE(waiting.get(), 0); // readable (the next receive reports the end) or closed
        EXPECT_FALSE(c.sock->has_socket());
        c.sock->close(); // harmless twice
        EXPECT_EQ(c.sock->tcp_recv(in, 4), -1);
        EXPECT_EQ(c.sock->wait_readable(10), -1);
        EXPECT_EQ(c.sock->tcp_send(in, 4), -1);
        EXPECT_FALSE(read_fd(c.peer.get(), in, 1, 2000)) << "the peer sees the end";
    }
    EXPECT_EQ(open_fd_count(), fdsBefore);
}
