#include "video/H264Encoder.h"
#include "video_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

constexpr int kNalSlice = 1;
constexpr int kNalIdr = 5;
constexpr int kNalSps = 7;
constexpr int kNalPps = 8;

bool contains(const std::vector<int> &types, int type)
{
    return std::find(types.begin(), types.end(), type) != types.end();
}

h264_encoder_config small_config()
{
    h264_encoder_config config;
    config.width = 320;
    config.height = 240;
    config.fps = 10;
    return config;
}

// Encodes `count` moving pictures and returns each picture's bytes.
std::vector<std::vector<std::uint8_t>> encode_run(H264Encoder &encoder, int count, int width,
                                                  int height, int requestKeyAt = -1)
{
    std::vector<std::vector<std::uint8_t>> pictures;
    for (int i = 0; i < count; ++i) {
        if (i == requestKeyAt)
            encoder.request_key_frame();
        const auto pixels = make_test_picture(width, height, i);
        std::vector<std::uint8_t> out;
        EXPECT_TRUE(encoder.encode(pixels.data(), width, height, width * 4, out));
        pictures.push_back(out);
    }
    return pictures;
}

} // namespace

// Key frames carry the parameter sets and come every GOP (here 5), on request, and by
// default every two seconds (10 fps: 20 pictures) counted from the last key frame.
TEST(H264Encoder, KeyFramesCarryParameterSetsAndComeEveryGopOrOnRequest)
{
    struct run {
        int gop;
        int pictures;
        std::set<std::size_t> keys;
        int forceAt;
    };
    for (const run &r : {run{5, 11, {0, 5, 10}, -1}, run{0, 28, {0, 7, 27}, 7}}) {
        H264Encoder encoder;
        h264_encoder_config config = small_config();
        if (r.gop > 0)
            config.gop = r.gop;
        ASSERT_TRUE(encoder.open(config));
        const auto pictures = encode_run(encoder, r.pictures, 320, 240, r.forceAt);
        // Zero latency: every input picture gives its output picture at once.
        ASSERT_EQ(pictures.size(), std::size_t(r.pictures));
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            SCOPED_TRACE(i);
            const auto types = nal_unit_types(pictures[i]);
            const bool key = r.keys.count(i) > 0;
            EXPECT_EQ(contains(types, kNalSps), key);
            EXPECT_EQ(contains(types, kNalPps), key);
            EXPECT_EQ(contains(types, kNalIdr), key);
            EXPECT_EQ(contains(types, kNalSlice), !key);
        }
    }
}

TEST(H264Encoder, ProfilesSlicesAndSizeChange)
{
    H264Encoder baseline;
    ASSERT_TRUE(baseline.open(small_config()));
    EXPECT_EQ(sps_profile(encode_run(baseline, 1, 320, 240)[0]), 66);

    H264Encoder main;
    h264_encoder_config config = small_config();
    config.mainProfile = true;
    config.slices = 3;
    ASSERT_TRUE(main.open(config));
    const auto first = encode_run(main, 2, 320, 240);
    EXPECT_EQ(sps_profile(first[0]), 77);
    const auto types = nal_unit_types(first[1]);
    EXPECT_EQ(std::count(types.begin(), types.end(), kNalSlice), 3);

    // A new size re-opens the encoder and starts with a key frame at that size.
    const auto resized = encode_run(main, 1, 160, 96);
    EXPECT_TRUE(contains(nal_unit_types(resized[0]), kNalIdr));
    EXPECT_EQ(main.config().width, 160);
    EXPECT_EQ(main.config().height, 96);
    EXPECT_TRUE(main.last_was_key_frame());
    EXPECT_GT(main.last_encode_time().count(), 0);
}

TEST(H264Encoder, RefusesUnusableSizesAndRows)
{
    H264Encoder encoder;
    h264_encoder_config config = small_config();
    config.width = 321;
    EXPECT_FALSE(encoder.open(config));
    EXPECT_FALSE(encoder.is_open());

    ASSERT_TRUE(encoder.open(small_config()));
    const auto pixels = make_test_picture(320, 240, 0);
    std::vector<std::uint8_t> out{1, 2, 3};
    EXPECT_FALSE(encoder.encode(pixels.data(), 320, 240, 100, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(encoder.encode(nullptr, 320, 240, 1280, out));
    encoder.close();
    encoder.close();
    EXPECT_FALSE(encoder.is_open());
}
