#include "km/c_mouse_sampler.h"
#include "km/mouse_math.h"
#include "km/mouse_rate.h"

#include <QTest>

#include <gtest/gtest.h>

#include <array>

namespace {

using Payload = std::array<std::uint8_t, kAbsolutePayloadSize>;

Payload absolute_bytes(const picture_geometry &g, int x, int y, std::uint8_t buttons = 0,
                       int wheel = 0)
{
    std::uint16_t ax = 0;
    std::uint16_t ay = 0;
    EXPECT_TRUE(absolute_position(g, x, y, ax, ay));
    Payload out{};
    absolute_payload(buttons, ax, ay, wheel, out.data());
    return out;
}

picture_geometry remote_1024x768()
{
    picture_geometry g;
    g.imageWidth = 1024;
    g.imageHeight = 768;
    g.remoteWidth = 1024;
    g.remoteHeight = 768;
    return g;
}

// Restores the process-wide rate whatever a test set.
struct RateGuard {
    ~RateGuard() { set_mouse_sample_rate(kDefaultMouseRate); }
};

} // namespace

TEST(AbsoluteMouse, CentreOfA1024x768ScreenIsLittleEndian960By600)
{
    const picture_geometry g = remote_1024x768();
    EXPECT_EQ(absolute_bytes(g, 512, 384), (Payload{0x00, 0xC0, 0x03, 0x58, 0x02, 0x00}));
    EXPECT_EQ(absolute_bytes(g, 0, 0, 1, -1), (Payload{0x01, 0, 0, 0, 0, 0xFF}));
    // The far edges count as inside and land on the end of the 1920 x 1200 space.
    EXPECT_EQ(absolute_bytes(g, 1024, 768, 2, 1), (Payload{0x02, 0x80, 0x07, 0xB0, 0x04, 0x01}));
}

TEST(AbsoluteMouse, ScaledPicturesTruncateAtEachStep)
{
    picture_geometry g;
    g.imageWidth = 640;
    g.imageHeight = 400;
    g.scaleX = 3.0f; // a 1920 x 1200 remote shown at a third
    g.scaleY = 3.0f;
    g.remoteWidth = 1920;
    g.remoteHeight = 1200;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    ASSERT_TRUE(absolute_position(g, 101, 7, x, y));
    EXPECT_EQ(x, 303);
    EXPECT_EQ(y, 21);

    // 1366 wide: 683 x 1920 / 1366 = 960 exactly, 100 x 1920 / 1366 = 140.55 -> 140.
    g.scaleX = g.scaleY = 1.0f;
    g.imageWidth = g.remoteWidth = 1366;
    g.imageHeight = g.remoteHeight = 768;
    ASSERT_TRUE(absolute_position(g, 683, 100, x, y));
    EXPECT_EQ(x, 960);
    EXPECT_EQ(y, 156);
}

TEST(AbsoluteMouse, NothingOutsideThePictureOrBeforeTheFirstPicture)
{
    picture_geometry g = remote_1024x768();
    std::uint16_t x = 7;
    std::uint16_t y = 7;
    EXPECT_FALSE(absolute_position(g, -1, 10, x, y));
    EXPECT_FALSE(absolute_position(g, 10, 769, x, y));
    EXPECT_FALSE(absolute_position(g, 1025, 0, x, y));
    g.remoteWidth = 0;
    EXPECT_FALSE(absolute_position(g, 10, 10, x, y));
    g.remoteWidth = 1024;
    g.remoteHeight = 0;
    EXPECT_FALSE(absolute_position(g, 10, 10, x, y));
    EXPECT_EQ(x, 7);
    EXPECT_EQ(y, 7);
}

TEST(RelativeMouse, SmallMovesAreNeitherLostNorInvented)
{
    relative_tracker t;
    t.move_to(20, 20, 1.0f, 1.0f);
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(t.move_to(20 - i, 20, 1.0f, 1.0f), (mouse_step{-1, 0})) << "move " << i;

    // At 1.5 remote pixels per label pixel, ten moves of +1 are 15 pixels in all,
    // handed out as whole pixels: 1, 2, 1, 2, ...
    relative_tracker scaled;
    int sum = 0;
    std::vector<int> each;
    for (int i = 1; i <= 10; ++i) {
        const mouse_step s = scaled.move_to(i, 0, 1.5f, 1.0f);
        each.push_back(s.dx);
        sum += s.dx;
    }
    EXPECT_EQ(sum, 15);
    EXPECT_EQ(each, (std::vector<int>{1, 2, 1, 2, 1, 2, 1, 2, 1, 2}));

    // Back and forth at a fractional scale returns to where it started.
    relative_tracker there_and_back;
    int net = 0;
    for (int i = 0; i < 7; ++i)
        net += there_and_back.move_to(3 * (i + 1), 0, 0.7f, 1.0f).dx;
    for (int i = 7; i > 0; --i)
        net += there_and_back.move_to(3 * (i - 1), 0, 0.7f, 1.0f).dx;
    EXPECT_EQ(net, 0);

    there_and_back.reset();
    EXPECT_EQ(there_and_back.move_to(5, 6, 1.0f, 1.0f), (mouse_step{5, 6}));
}

TEST(MouseRate, IntervalIsTheIntegerDivisionAndZeroIsRefused)
{
    RateGuard guard;
    EXPECT_EQ(mouse_sample_rate(), kDefaultMouseRate);
    EXPECT_EQ(mouse_sample_interval_ms(), 20);
    EXPECT_EQ(set_mouse_sample_rate(3), 3);
    EXPECT_EQ(mouse_sample_interval_ms(), 333);
    const std::uint32_t generation = mouse_rate_generation();
    EXPECT_EQ(set_mouse_sample_rate(0), 3);
    EXPECT_EQ(set_mouse_sample_rate(-5), 3);
    EXPECT_EQ(set_mouse_sample_rate(1001), 3);
    EXPECT_EQ(mouse_rate_generation(), generation);
    EXPECT_EQ(set_mouse_sample_rate(1000), 1000);
    EXPECT_EQ(mouse_sample_interval_ms(), 1);
}

TEST(MouseSampler, TicksSampleAndARateChangeRestartsTheTimer)
{
    RateGuard guard;
    int ticks = 0;
    int intervalSeenByTick = -1;
    c_mouse_sampler *sampler = nullptr;
    c_mouse_sampler s([&] {
        ++ticks;
        intervalSeenByTick = sampler->interval_ms();
    });
    sampler = &s;
    EXPECT_EQ(s.interval_ms(), 0);
    s.start();
    EXPECT_EQ(s.interval_ms(), 20);

    set_mouse_sample_rate(3);
    EXPECT_EQ(s.interval_ms(), 20) << "a change waits for the next tick";
    s.tick();
    EXPECT_EQ(intervalSeenByTick, 20) << "the tick samples before it restarts";
    EXPECT_EQ(s.interval_ms(), 333);

    set_mouse_sample_rate(200);
    s.tick();
    EXPECT_EQ(s.interval_ms(), 5);
    const int before = ticks;
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= before + 3; }, 5000));

    s.mark_moved();
    EXPECT_TRUE(s.take_moved());
    EXPECT_FALSE(s.take_moved());
    s.stop();
    EXPECT_FALSE(s.is_active());
    s.tick();
    EXPECT_FALSE(s.is_active()) << "a stopped sampler stays stopped";
}
