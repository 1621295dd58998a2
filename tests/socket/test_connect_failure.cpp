// Why a channel's connect failed, in the words the start-up box shows, from real sockets.
#include "test_support.h"

#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/connect_failure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

using namespace socket_test;

namespace {

enum class fault { refused, timed_out, invalid_address };

struct connect_case {
    const char *name;
    fault what;
    int error;
    const char *cause;
};

struct ConnectFailure : ::testing::TestWithParam<connect_case> {
    std::unique_ptr<loopback_listener> listener;
    std::vector<std::unique_ptr<c_tcp_sock>> queued;

    // A listener that never accepts, its queue filled: the next handshake gets no answer.
    std::uint16_t silent_port()
    {
        listener = std::make_unique<loopback_listener>(0);
        for (int i = 0; i < 8; ++i) {
            auto sock = std::make_unique<c_tcp_sock>();
            sock->set_remote_addr("127.0.0.1", listener->port());
            if (sock->create_sock(nullptr, 0, 300) != 1)
                break;
            queued.push_back(std::move(sock));
        }
        return listener->port();
    }
};

TEST_P(ConnectFailure, NamesTheCause)
{
    const connect_case c = GetParam();
    c_tcp_sock sock;
    switch (c.what) {
    case fault::refused: sock.set_remote_addr("127.0.0.1", free_port()); break;
    case fault::timed_out: sock.set_remote_addr("127.0.0.1", silent_port()); break;
    case fault::invalid_address: sock.set_remote_addr("127.0.0.300", 5900); break;
    }
    EXPECT_EQ(sock.create_sock(nullptr, 0, 300), -1);
    EXPECT_EQ(sock.last_connect_error(), c.error);
    EXPECT_EQ(connect_failure_cause(sock.last_connect_error()), c.cause);
}

INSTANTIATE_TEST_SUITE_P(
    , ConnectFailure,
    ::testing::Values(connect_case{"refused", fault::refused, ECONNREFUSED, "connection refused"},
                      connect_case{"timed_out", fault::timed_out, ETIMEDOUT, "timed out"},
                      connect_case{"invalid_address", fault::invalid_address, EINVAL,
                                   "invalid address"}),
    [](const auto &test) { return std::string(test.param.name); });

} // namespace
