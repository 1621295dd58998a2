#include "video/H264Encoder.h"
#include "video_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The nal_unit_type of every NAL unit of an Annex B byte stream, in order.
std::vector<int> nal_unit_types(const std::vector<std::uint8_t> &stream)
{
    std::vector<int> types;
    for (std::size_t i = 0; i + 3 < stream.size(); ++i)
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1)
            types.push_back(stream[i + 3] & 0x1F), i += 3;
    return types;
}

// Whether the picture is a key frame carrying its parameter sets (SPS 7, PPS 8, IDR 5) or
// else a plain slice (1).
bool key_frame(const std::vector<std::uint8_t> &picture)
{
    const auto types = nal_unit_types(picture);
    const auto has = [&](int type) { return std::count(types.begin(), types.end(), type) > 0; };
    EXPECT_TRUE(has(7) == has(5) && has(8) == has(5) && has(1) != has(5));
    return has(5);
}

} // namespace

// Key frames come every GOP (here 5), on request, on a size change (which re-opens the
// encoder), and by default every two seconds (10 fps: 20 pictures) counted from the last.
TEST(H264Encoder, KeyFramesComeEveryGopOnRequestAndOnASizeChange)
{
    struct run { int gop, pictures, forceAt, resizeAt; std::vector<int> keys; };
    for (const run &r : {run{5, 11, -1, -1, {0, 5, 10}}, run{0, 30, 7, 29, {0, 7, 27, 29}}}) {
        H264Encoder encoder;
        ASSERT_TRUE(encoder.open({.width = 320, .height = 240, .fps = 10, .gop = r.gop}));
        std::vector<int> keys;
        for (int i = 0; i < r.pictures; ++i) {
            if (i == r.forceAt)
                encoder.request_key_frame();
            const int w = i == r.resizeAt ? 160 : 320, h = i == r.resizeAt ? 96 : 240;
            const auto pixels = make_test_picture(w, h, i);
            std::vector<std::uint8_t> out;
            ASSERT_TRUE(encoder.encode(pixels.data(), w, h, w * 4, out)) << i;
            ASSERT_FALSE(out.empty()) << "zero latency: every picture comes out at once";
            EXPECT_EQ(encoder.last_was_key_frame(), key_frame(out)) << i;
            if (key_frame(out))
                keys.push_back(i);
        }
        EXPECT_EQ(keys, r.keys);
    }
}

TEST(H264Encoder, RefusesUnusableSizesAndRows)
{
    H264Encoder encoder;
    EXPECT_FALSE(encoder.open({.width = 321, .height = 240}));
    EXPECT_FALSE(encoder.is_open());
    ASSERT_TRUE(encoder.open({.width = 320, .height = 240}));
    const auto pixels = make_test_picture(320, 240, 0);
    std::vector<std::uint8_t> out{1, 2, 3};
    EXPECT_FALSE(encoder.encode(pixels.data(), 320, 240, 100, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(encoder.encode(nullptr, 320, 240, 1280, out));
    encoder.close();
    encoder.close();
    EXPECT_FALSE(encoder.is_open());
}
