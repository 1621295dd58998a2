#include "protocol/c_video_msg_dispatcher.h"

#include "../socket/test_support.h"

#include <gtest/gtest.h>

#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

struct RecordingListener : c_video_msg_listener {
    void on_led_report(std::uint8_t bits) override { leds.push_back(bits); }
    void on_video_fragment(const std::uint8_t *body, std::uint32_t length) override
    {
        fragments.emplace_back(body, body + length);
    }
    std::vector<std::uint8_t> leds;
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
    Bytes body(std::uint8_t type, std::size_t length, std::uint8_t fill = 0)
    {
        Bytes b(length, fill);
        if (length)
            b[0] = type;
        return b;
    }
    Bytes video(std::uint32_t lengthField, std::size_t bodyLength)
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

TEST_F(Dispatch, FixedLengthTypesAcceptOnlyTheirLength)
{
    const std::pair<std::uint8_t, std::size_t> fixed[] = {
        {1, 2}, {3, 2}, {4, 2}, {5, 2}, {7, 3}, {8, 8}, {10, 8},
        {11, 520}, {14, 6}, {15, 2}, {16, 33}};
    for (const auto &[type, length] : fixed) {
        SCOPED_TRACE(testing::Message() << "type " << int(type));
        EXPECT_EQ(run(body(type, length)), 0);
        EXPECT_EQ(run(body(type, length - 1)), 3);
        EXPECT_EQ(run(body(type, length + 1)), 3);
    }
}

TEST_F(Dispatch, UnknownTypesAndEmptyBodiesAreRefused)
{
    for (int type : {0, 9, 13, 17, 20, 29, 33, 49, 51, 255})
        EXPECT_EQ(run(body(static_cast<std::uint8_t>(type), 2)), 3) << "type " << type;
    EXPECT_EQ(run({}), 3);
    EXPECT_EQ(dispatcher.dispatch(nullptr, 0), 3);
}

TEST_F(Dispatch, AnyLengthTypes)
{
    for (std::size_t length : {1u, 2u, 3u, 700u}) {
        EXPECT_EQ(run(body(12, length)), 0);
        EXPECT_EQ(run(body(30, length)), 0);
        EXPECT_EQ(run(body(31, length)), 0);
        EXPECT_EQ(run(body(32, length)), 0);
        EXPECT_EQ(run(body(50, length)), 0);
    }
}

TEST_F(Dispatch, Type2LengthDependsOnSubTypeUnlessStatusIsSet)
{
    auto reply = [&](std::uint8_t sub, std::uint8_t status, std::size_t length) {
        Bytes b = body(2, length);
        if (length > 1)
            b[1] = sub;
        if (length > 2)
            b[2] = status;
        return run(b);
    };
    EXPECT_EQ(reply(1, 0, 11), 0);
    EXPECT_EQ(reply(1, 0, 10), 3);
    EXPECT_EQ(reply(1, 0, 12), 3);
    EXPECT_EQ(reply(3, 0, 131), 0);
    EXPECT_EQ(reply(3, 0, 130), 3);
    EXPECT_EQ(reply(3, 0, 132), 3);
    EXPECT_EQ(reply(5, 0, 3), 0);
    EXPECT_EQ(reply(5, 0, 4), 3);
    for (std::uint8_t unsettled : {0, 2, 4, 6})
        for (std::size_t length : {3u, 11u, 131u})
            EXPECT_EQ(reply(unsettled, 0, length), 3) << int(unsettled) << "/" << length;
    // A non-zero status carries no data: accepted whatever the length and sub-type.
    for (std::uint8_t sub : {1, 2, 3, 4, 5})
        for (std::size_t length : {3u, 4u, 11u, 200u})
            EXPECT_EQ(reply(sub, 1, length), 0) << int(sub) << "/" << length;
    EXPECT_EQ(reply(1, 0, 2), 3);
    EXPECT_EQ(reply(1, 0, 1), 3);
}

TEST_F(Dispatch, VideoFragmentNeedsTwelvePlusItsLengthField)
{
    EXPECT_EQ(run(video(100, 112)), 0);
    ASSERT_EQ(listener.fragments.size(), 1u);
    EXPECT_EQ(listener.fragments[0], video(100, 112));
    EXPECT_EQ(run(video(99, 112)), 3);
    EXPECT_EQ(run(video(101, 112)), 3);
    EXPECT_EQ(run(video(0, 12)), 0);
    EXPECT_EQ(run(body(6, 11)), 3);
    EXPECT_EQ(run(body(6, 1)), 3);
    // A length field near 2^32 must not wrap around to a small total.
    EXPECT_EQ(run(video(0xFFFFFFF4u, 12)), 3);
    EXPECT_EQ(run(video(0xFFFFFFFFu, 12)), 3);
    EXPECT_EQ(listener.fragments.size(), 2u);
}

TEST_F(Dispatch, LedReportGoesToTheListener)
{
    EXPECT_EQ(run({4, 0x05}), 0);
    EXPECT_EQ(run({4, 0x05, 0}), 3);
    EXPECT_EQ(listener.leds, (std::vector<std::uint8_t>{0x05}));

    c_video_msg_dispatcher silent;
    const std::uint8_t led[2] = {4, 1};
    EXPECT_EQ(silent.dispatch(led, 2), 0);
}

TEST_F(Dispatch, AcknowledgementsAreLogged)
{
    struct Case {
        Bytes body;
        const char *line;
    };
    const Case cases[] = {
        {{30, 0, 0}, "videoSetting,beginSet,ack,success ( "},
        {{31, 0, 1}, "videoSetting,endSet,ack,fail ( "},
        {{32, 1, 0, 9}, "videoSetting,setPos,ack,success ( "},
        {{30, 0}, "videoSetting,beginSet,ack,fail ( "},
        {{32}, "videoSetting,setPos,ack,fail ( "},
        {{50, 0}, "video.userID.ack,success ( "},
        {{50, 2}, "video.userID.ack,fail ( "},
        {{50}, "video.userID.ack,fail ( "},
    };
    for (const Case &c : cases) {
        const std::string line = std::string("LOG_INFO  ") + c.line;
        const int before = socket_test::log_lines_with(line);
        EXPECT_EQ(run(c.body), 0);
        EXPECT_EQ(socket_test::log_lines_with(line), before + 1) << c.line;
    }
}
