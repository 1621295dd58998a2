#include "protocol/c_video_msg_dispatcher.h"

#include "../socket/test_support.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

namespace {

struct RecordingListener : c_video_msg_listener {
    void on_led_report(std::uint8_t bits) override { leds.push_back(bits); }
    void on_video_fragment(const std::uint8_t *body, std::uint32_t length) override
    {
        fragments.emplace_back(body, body + length);
    }
    Bytes leds;
    std::vector<Bytes> fragments;
};

struct Dispatch : ::testing::Test {
    // The body is copied into a buffer of exactly its length, so a read past the end shows
    // up under AddressSanitizer.
    std::uint8_t run(const Bytes &body)
    {
        auto exact = std::make_unique<std::uint8_t[]>(body.size());
        std::copy(body.begin(), body.end(), exact.get());
        return dispatcher.dispatch(exact.get(), static_cast<std::uint32_t>(body.size()));
    }
    // `length` bytes of `fill` after the type; type 2 carries its sub-type and status.
    static Bytes body(int type, std::size_t length, std::uint8_t fill = 0, int sub = 0, int status = 0)
    {
        Bytes b(length, fill);
        for (std::size_t i = 0; i < length && i < 3; ++i)
            b[i] = std::uint8_t(i == 0 ? type : type != 2 ? fill : i == 1 ? sub : status);
        return b;
    }
    static Bytes video(std::uint32_t lengthField, std::size_t bodyLength)
    {
        Bytes b = body(6, bodyLength, 0x11);
        for (int i = 0; i < 4; ++i)
            b[8 + i] = static_cast<std::uint8_t>(lengthField >> (24 - 8 * i));
        return b;
    }

    RecordingListener listener;
    c_video_msg_dispatcher dispatcher{&listener};
};

} // namespace

TEST_F(Dispatch, EachTypeIsHandledOnlyAtItsLengths)
{
    const std::pair<int, std::size_t> fixed[] = {{1, 2}, {3, 2},  {4, 2},   {5, 2},  {7, 3},  {8, 8},
                                                 {10, 8}, {11, 520}, {14, 6}, {15, 2}, {16, 33}};
    for (const auto &[type, length] : fixed) {
        EXPECT_EQ(run(body(type, length)), 0) << type;
        EXPECT_EQ(run(body(type, length - 1)), 3) << type;
        EXPECT_EQ(run(body(type, length + 1)), 3) << type;
    }
    for (const int type : {0, 9, 13, 17, 20, 29, 33, 49, 51, 255})
        EXPECT_EQ(run(body(type, 2)), 3) << "type " << type;
    EXPECT_EQ(run({}), 3);
    EXPECT_EQ(dispatcher.dispatch(nullptr, 0), 3);
    for (const std::size_t length : {1u, 2u, 3u, 700u})
        for (const int type : {12, 30, 31, 32, 50})
            EXPECT_EQ(run(body(type, length)), 0) << type << "/" << length;

    // Type 2: the length depends on the sub-type unless the status is set (no data then).
    const struct { int sub, status; std::size_t length; int result; } replies[] = {
        {1, 0, 11, 0},  {1, 0, 10, 3}, {1, 0, 12, 3}, {3, 0, 131, 0}, {3, 0, 130, 3},
        {3, 0, 132, 3}, {5, 0, 3, 0},  {5, 0, 4, 3},  {1, 0, 2, 3},   {1, 0, 1, 3}};
    for (const auto &r : replies)
        EXPECT_EQ(run(body(2, r.length, 0, r.sub, r.status)), r.result) << r.sub << "/" << r.length;
    for (const std::size_t length : {3u, 4u, 11u, 131u, 200u}) {
        for (const int sub : {0, 2, 4, 6})
            EXPECT_EQ(run(body(2, length, 0, sub, 0)), 3) << sub << "/" << length;
        for (const int sub : {1, 2, 3, 4, 5})
            EXPECT_EQ(run(body(2, length, 0, sub, 1)), 0) << sub << "/" << length;
    }
}

TEST_F(Dispatch, VideoFragmentsAndLedReportsGoToTheListener)
{
    EXPECT_EQ(run(video(100, 112)), 0);
    EXPECT_EQ(run(video(99, 112)), 3);
    EXPECT_EQ(run(video(101, 112)), 3);
    EXPECT_EQ(run(video(0, 12)), 0);
    EXPECT_EQ(run(body(6, 11)), 3);
    EXPECT_EQ(run(body(6, 1)), 3);
    // A length field near 2^32 must not wrap around to a small total.
    EXPECT_EQ(run(video(0xFFFFFFF4u, 12)), 3);
    EXPECT_EQ(run(video(0xFFFFFFFFu, 12)), 3);
    EXPECT_EQ(listener.fragments, (std::vector<Bytes>{video(100, 112), video(0, 12)}));

    EXPECT_EQ(run({4, 0x05}), 0);
    EXPECT_EQ(listener.leds, Bytes{0x05});
    const std::uint8_t led[2] = {4, 1};
    EXPECT_EQ(c_video_msg_dispatcher().dispatch(led, 2), 0) << "without a listener";
}

TEST_F(Dispatch, AcknowledgementsAreLogged)
{
    const struct { Bytes body; const char *line; } cases[] = {
        {{30, 0, 0}, "videoSetting,beginSet,ack,success ( "},
        {{31, 0, 1}, "videoSetting,endSet,ack,fail ( "},
        {{32, 1, 0, 9}, "videoSetting,setPos,ack,success ( "},
        {{30, 0}, "videoSetting,beginSet,ack,fail ( "},
        {{32}, "videoSetting,setPos,ack,fail ( "},
        {{50, 0}, "video.userID.ack,success ( "},
        {{50, 2}, "video.userID.ack,fail ( "},
        {{50}, "video.userID.ack,fail ( "},
    };
    for (const auto &c : cases) {
        const std::string line = std::string("LOG_INFO  ") + c.line;
        const int before = socket_test::log_lines_with(line);
        EXPECT_EQ(run(c.body), 0);
        EXPECT_EQ(socket_test::log_lines_with(line), before + 1) << c.line;
    }
}
