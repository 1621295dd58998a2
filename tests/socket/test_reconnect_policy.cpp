// When a dropped channel is tried again.
#include "tools/socket/reconnect_policy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using setback = reconnect_policy::setback;

// One step: a setback, or (with `success`) a connection logged in again, or (with `now`)
// the user's "Reconnect now"; then the pause expected after a setback.
struct step {
    setback what = setback::dropped;
    std::optional<int> pause;
    bool success = false;
    bool now = false;
};

struct policy_case {
    const char *name;
    bool enabled;
    std::vector<step> steps;
};

step after(setback what, std::optional<int> pause) { return {what, pause}; }
step success() { return {setback::dropped, std::nullopt, true}; }
step now() { return {setback::dropped, std::nullopt, false, true}; }

struct ReconnectPolicy : ::testing::TestWithParam<policy_case> {};

TEST_P(ReconnectPolicy, PausesAsTheTableSays)
{
    reconnect_policy policy(GetParam().enabled);
    int index = 0;
    for (const step &s : GetParam().steps) {
        if (s.success)
            policy.connected();
        else if (s.now)
            policy.reconnect_now();
        else
            EXPECT_EQ(policy.after(s.what), s.pause) << "step " << index;
        ++index;
    }
}

constexpr auto drop = setback::dropped;
constexpr auto fail = setback::connect_failed;
constexpr auto refused = setback::login_refused;

INSTANTIATE_TEST_SUITE_P(
    , ReconnectPolicy,
    ::testing::Values(
        policy_case{"DoublesToTenSeconds", true,
                    {after(drop, 500), after(fail, 1000), after(fail, 2000), after(fail, 4000),
                     after(fail, 8000), after(fail, 10000), after(fail, 10000)}},
        policy_case{"StartsAgainAfterASuccess", true,
                    {after(drop, 500), after(fail, 1000), after(fail, 2000), success(),
                     after(drop, 500), after(fail, 1000)}},
        policy_case{"RefusedLoginWaitsForTheUser", true,
                    {after(drop, 500), after(fail, 1000), after(refused, std::nullopt), now(),
                     after(fail, 500)}},
        policy_case{"OffLeavesTheChannelDown", false,
                    {after(drop, std::nullopt), after(fail, std::nullopt)}}),
    [](const auto &test) { return std::string(test.param.name); });

} // namespace
