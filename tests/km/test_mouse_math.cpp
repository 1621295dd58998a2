#include "km/c_mouse_sampler.h"
#include "km/mouse_math.h"
#include "km/mouse_rate.h"

#include <QTest>

#include <gtest/gtest.h>

#include <array>

namespace {

struct absolute_case {
    int imageWidth, imageHeight;
    float scale;
    int remoteWidth, remoteHeight;
    int x, y;
    bool inside;
    std::uint16_t ax, ay; // 7, 7: left as they were
};

// Positions in the 1920 x 1200 absolute space, truncated at each step; the far edges count
// as inside; nothing outside the picture or before the first picture.
const absolute_case kAbsolute[] = {
    {1024, 768, 1, 1024, 768, 512, 384, true, 960, 600},
    {1024, 768, 1, 1024, 768, 0, 0, true, 0, 0},
    {1024, 768, 1, 1024, 768, 1024, 768, true, 1920, 1200},
    {640, 400, 3, 1920, 1200, 101, 7, true, 303, 21}, // shown at a third
    {1366, 768, 1, 1366, 768, 683, 100, true, 960, 156}, // 683 x 1920 / 1366 = 960 exactly
    {1024, 768, 1, 1024, 768, -1, 10, false, 7, 7},
    {1024, 768, 1, 1024, 768, 10, 769, false, 7, 7},
    {1024, 768, 1, 1024, 768, 1025, 0, false, 7, 7},
    {1024, 768, 1, 0, 768, 10, 10, false, 7, 7},
    {1024, 768, 1, 1024, 0, 10, 10, false, 7, 7},
};

} // namespace

TEST(AbsoluteMouse, PositionsAndPayloadInTheAbsoluteSpace)
{
    for (const absolute_case &c : kAbsolute) {
        picture_geometry g{c.imageWidth, c.imageHeight, c.scale, c.scale, c.remoteWidth, c.remoteHeight};
        std::uint16_t x = 7;
        std::uint16_t y = 7;
        EXPECT_EQ(absolute_position(g, c.x, c.y, x, y), c.inside) << c.x << "," << c.y;
        EXPECT_EQ(std::pair(x, y), std::pair(c.ax, c.ay)) << c.x << "," << c.y;
    }
    using payload = std::array<std::uint8_t, kAbsolutePayloadSize>;
    payload out{};
    absolute_payload(2, 1920, 1200, 1, out.data()); // buttons, little-endian x and y, wheel
    EXPECT_EQ(out, (payload{0x02, 0x80, 0x07, 0xB0, 0x04, 0x01}));
    absolute_payload(1, 960, 600, -1, out.data());
    EXPECT_EQ(out, (payload{0x01, 0xC0, 0x03, 0x58, 0x02, 0xFF}));
}

TEST(RelativeMouse, SmallMovesAreNeitherLostNorInvented)
{
    relative_tracker t;
    t.move_to(20, 20, 1.0f, 1.0f);
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(t.move_to(20 - i, 20, 1.0f, 1.0f), (mouse_step{-1, 0})) << "move " << i;

    // At 1.5 remote pixels per label pixel, ten moves of +1 are handed out as 1, 2, 1, 2, ...
    relative_tracker scaled;
    std::vector<int> each;
    for (int i = 1; i <= 10; ++i)
        each.push_back(scaled.move_to(i, 0, 1.5f, 1.0f).dx);
    EXPECT_EQ(each, (std::vector<int>{1, 2, 1, 2, 1, 2, 1, 2, 1, 2}));

    // Back and forth at a fractional scale returns to where it started.
    relative_tracker there_and_back;
    int net = 0;
    for (int i = 1; i <= 14; ++i)
        net += there_and_back.move_to(3 * (i <= 7 ? i : 14 - i), 0, 0.7f, 1.0f).dx;
    EXPECT_EQ(net, 0);
    there_and_back.reset();
    EXPECT_EQ(there_and_back.move_to(5, 6, 1.0f, 1.0f), (mouse_step{5, 6}));
}

TEST(MouseSampler, RatesOutOfRangeAreRefusedAndAChangeRestartsTheTimerAtTheNextTick)
{
    EXPECT_EQ(mouse_sample_interval_ms(), 20);
    const std::uint32_t generation = mouse_rate_generation();
    for (int refused : {0, 1001})
        EXPECT_EQ(set_mouse_sample_rate(refused), kDefaultMouseRate) << refused;
    EXPECT_EQ(mouse_rate_generation(), generation);

    int ticks = 0;
    int intervalSeenByTick = -1;
    c_mouse_sampler s([&] {
        ++ticks;
        intervalSeenByTick = s.interval_ms();
    });
    s.start();
    EXPECT_EQ(s.interval_ms(), 20);
    EXPECT_EQ(set_mouse_sample_rate(3), 3);
    EXPECT_EQ(s.interval_ms(), 20) << "a change waits for the next tick";
    s.tick();
    EXPECT_EQ(intervalSeenByTick, 20) << "the tick samples before it restarts";
    EXPECT_EQ(s.interval_ms(), 333);
    EXPECT_EQ(set_mouse_sample_rate(1000), 1000);
    s.tick();
    EXPECT_EQ(s.interval_ms(), 1);
    const int before = ticks;
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= before + 3; }, 5000));

    s.mark_moved();
    EXPECT_TRUE(s.take_moved());
    EXPECT_FALSE(s.take_moved());
    s.stop();
    s.tick();
    EXPECT_FALSE(s.is_active()) << "a stopped sampler stays stopped";
    set_mouse_sample_rate(kDefaultMouseRate); // the rate is the process's
}
