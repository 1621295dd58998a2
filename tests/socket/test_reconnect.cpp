// When a dropped channel is tried again, and its keeper connecting it again against a real
// loopback port that starts listening.
#include "loopback.h"

#include "tools/socket/c_channel_keeper.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/reconnect_policy.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace socket_test;
using state = c_channel_keeper::state;

namespace {

void ensure_application()
{
    static int argc = 1;
    static char name[] = "test_socket";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        static QCoreApplication app(argc, argv);
}

// Runs this thread's events until `done` holds; false after timeoutMs.
bool run_until(const std::function<bool()> &done, int timeoutMs)
{
    return eventually([&] { QCoreApplication::processEvents(); return done(); },
                      std::chrono::milliseconds(timeoutMs));
}

unique_fd listen_on(std::uint16_t port)
{
    unique_fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd.get(), 4), 0);
    return fd;
}

} // namespace

// Steps: d dropped, f connect failed, r login refused, s logged in again, n "Reconnect now";
// after each setback the pause it gives in ms (-1: none, the channel waits for the user).
TEST(ReconnectPolicy, PausesDoubleToTenSecondsStartAgainAfterASuccessAndStopAtARefusal)
{
    const struct { bool enabled; const char *steps; std::vector<int> pauses; } cases[] = {
        {true, "dffffff", {500, 1000, 2000, 4000, 8000, 10000, 10000}},
        {true, "dffsdf", {500, 1000, 2000, 500, 1000}},
        {true, "dfrnf", {500, 1000, -1, 500}},
        {false, "df", {-1, -1}},
    };
    using setback = reconnect_policy::setback;
    for (const auto &c : cases) {
        reconnect_policy policy(c.enabled);
        std::size_t next = 0;
        for (const char step : std::string(c.steps)) {
            if (step == 's')
                policy.connected();
            else if (step == 'n')
                policy.reconnect_now();
            else
                EXPECT_EQ(policy.after(step == 'd'   ? setback::dropped
                                       : step == 'f' ? setback::connect_failed
                                                     : setback::login_refused)
                              .value_or(-1),
                          c.pauses.at(next++))
                    << c.steps << " step " << next;
        }
    }
}

TEST(ChannelKeeper, ConnectsAgainOnceTheDeviceListensAndWaitsForTheUserAfterARefusal)
{
    ensure_application();
    const std::uint16_t port = free_port();
    c_channel_keeper keeper("video", "127.0.0.1", port, true);
    int handed = 0, changes = 0;
    keeper.set_starter([&](std::shared_ptr<c_tcp_sock> socket) {
        EXPECT_TRUE(socket && socket->has_socket());
        ++handed;
    });
    QObject::connect(&keeper, &c_channel_keeper::signal_state_changed, [&] { ++changes; });

    keeper.channel_down();
    EXPECT_EQ(keeper.current(), state::waiting);
    EXPECT_EQ(keeper.describe(), "Video channel lost. Reconnecting in 1 s");
    // The first attempt finds nothing listening and waits again, longer.
    ASSERT_TRUE(run_until([&] { return changes >= 3 && keeper.current() == state::waiting; }, 3000));
    EXPECT_EQ(handed, 0);

    const unique_fd device = listen_on(port);
    ASSERT_TRUE(run_until([&] { return handed == 1; }, 5000));
    EXPECT_EQ(keeper.describe(), "") << "up again";

    keeper.login_refused();
    EXPECT_EQ(keeper.current(), state::refused);
    EXPECT_EQ(keeper.describe(), "Video channel lost. The device refused the login.");
    keeper.reconnect_now();
    ASSERT_TRUE(run_until([&] { return handed == 2; }, 5000));
    keeper.login_accepted();
    EXPECT_EQ(keeper.current(), state::up);
}
