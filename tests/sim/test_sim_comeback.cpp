// The device faults the viewer's reconnecting is tested against: refused logins, and ports
// that stop and start listening.
#include "c_sim_runner.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using kind = c_sim_connection::kind;
using bytes = std::vector<std::uint8_t>;

struct channel_case {
    const char *name;
    sim_client::channel client;
    kind port;
};

struct sim_comeback_test : ::testing::TestWithParam<channel_case> {
    std::unique_ptr<c_sim_runner> sim;

    void SetUp() override
    {
        sim = std::make_unique<c_sim_runner>(test_sim_options());
        QString error;
        ASSERT_TRUE(sim->start(error)) << error.toStdString();
    }
    bytes login_answer(const channel_case &c)
    {
        sim_client client(c.client);
        EXPECT_TRUE(client.connect_to(sim->port(c.port)));
        client.send_login();
        received_frame f;
        EXPECT_TRUE(client.next_of_type(50, f));
        return f.body;
    }
};

TEST_P(sim_comeback_test, RefusesLoginsOnOneChannelUntilToldOtherwise)
{
    const channel_case c = GetParam();
    EXPECT_EQ(sim->command(std::string("login ") + c.name + " refuse"), "ok");
    EXPECT_EQ(login_answer(c), (bytes{50, 1}));
    EXPECT_EQ(sim->command(std::string("login ") + c.name + " accept"), "ok");
    EXPECT_EQ(login_answer(c), (bytes{50, 0}));
}

INSTANTIATE_TEST_SUITE_P(, sim_comeback_test,
                         ::testing::Values(channel_case{"km", sim_client::channel::km, kind::km},
                                           channel_case{"video", sim_client::channel::video, kind::video},
                                           channel_case{"media", sim_client::channel::media, kind::media}),
                         [](const auto &test) { return std::string(test.param.name); });

TEST(sim_comeback, StopsAndStartsListeningOnTheSamePorts)
{
    c_sim_runner sim(test_sim_options());
    QString error;
    ASSERT_TRUE(sim.start(error)) << error.toStdString();
    const std::uint16_t port = sim.port(kind::km);
    sim_client kept(sim_client::channel::km);
    ASSERT_TRUE(kept.connect_to(port));
    kept.send_login();
    received_frame f;
    ASSERT_TRUE(kept.next_of_type(50, f));

    EXPECT_EQ(sim.command("unlisten"), "ok");
    sim_client refused(sim_client::channel::km);
    EXPECT_FALSE(refused.connect_to(port, 500));
    kept.send_km(23, {0});
    EXPECT_TRUE(kept.next_of_type(23, f)) << "an accepted connection outlives the listening";

    EXPECT_EQ(sim.command("listen"), "ok");
    EXPECT_EQ(sim.port(kind::km), port);
    sim_client again(sim_client::channel::km);
    EXPECT_TRUE(again.connect_to(port));
}

} // namespace
