#include "video/H264Decoder.h"
#include "video/H264Encoder.h"
#include "loopback.h"
#include "video_test_support.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// `bytes` bytes whose end touches a page that may not be touched: FFmpeg's writes are
// invisible to the sanitizers, but a write past the end kills the test here.
class guarded_buffer {
public:
    explicit guarded_buffer(std::size_t bytes)
        : m_page(std::size_t(sysconf(_SC_PAGESIZE))), m_length((bytes + m_page - 1) / m_page * m_page + m_page),
          m_map(static_cast<std::uint8_t *>(
              mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)))
    {
        EXPECT_EQ(mprotect(m_map + m_length - m_page, m_page, PROT_NONE), 0);
    }
    ~guarded_buffer() { munmap(m_map, m_length); }
    std::uint8_t *end() const { return m_map + m_length - m_page; }

private:
    std::size_t m_page, m_length;
    std::uint8_t *m_map;
};

// Whether the picture is a key frame carrying its parameter sets (NAL units SPS 7, PPS 8,
// IDR 5) or else plain slices (1) only.
bool key_frame(const std::vector<std::uint8_t> &picture)
{
    std::vector<int> types;
    for (std::size_t i = 0; i + 3 < picture.size(); ++i)
        if (picture[i] == 0 && picture[i + 1] == 0 && picture[i + 2] == 1)
            types.push_back(picture[i + 3] & 0x1F);
    const auto has = [&](int type) { return std::count(types.begin(), types.end(), type) > 0; };
    EXPECT_TRUE(has(7) == has(5) && has(8) == has(5) && has(1) != has(5));
    return has(5);
}

} // namespace

// Key frames come every GOP (here 5), on request, on a size change (which re-opens the
// encoder), and by default every two seconds (10 fps: 20 pictures) counted from the last;
// every picture comes out at once (zero latency).
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
            std::vector<std::uint8_t> out;
            ASSERT_TRUE(encoder.encode(make_test_picture(w, h, i).data(), w, h, w * 4, out)) << i;
            EXPECT_EQ(encoder.last_was_key_frame(), key_frame(out)) << i;
            if (key_frame(out))
                keys.push_back(i);
        }
        EXPECT_EQ(keys, r.keys);
    }
    H264Encoder encoder;
    EXPECT_FALSE(encoder.open({.width = 321, .height = 240})) << "odd sizes are refused";
}

// Each picture is converted at its own size into a buffer of exactly its layout's bytes,
// guarded: widths that are not a multiple of the converter's vectors used to be written past.
// The converter is built again only when the size changes; a buffer one byte short is
// refused, with one line for the picture however often it is tried. Garbage, an empty
// packet (which would end the stream) and decoding before opening fail.
TEST(H264Decoder, ConvertsEachSizeWithinItsLayout)
{
    H264Encoder encoder;
    ASSERT_TRUE(encoder.open({.width = 320, .height = 240}));
    H264Decoder decoder;
    const std::vector<std::uint8_t> garbage(5000, 0x37);
    bool finished = false;
    EXPECT_LT(decoder.decode_picture(garbage.data(), 5000, finished), 0);
    ASSERT_EQ(decoder.open(), 1);
    EXPECT_LT(decoder.decode_picture(garbage.data(), 5000, finished), 0);
    EXPECT_LT(decoder.decode_picture(nullptr, 0, finished), 0);
    const int sizes[][2] = {{320, 240}, {320, 240}, {1000, 32}, {1004, 40}, {1366, 768},
                            {1912, 40}, {160, 96},  {1912, 40}, {320, 240}};
    const int dropLines = socket_test::log_lines_with("picture dropped");
    int phase = 0;
    for (const auto &[w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        const auto pixels = make_test_picture(w, h, phase++);
        std::vector<std::uint8_t> picture;
        ASSERT_TRUE(encoder.encode(pixels.data(), w, h, w * 4, picture));
        ASSERT_GT(decoder.decode_picture(picture.data(), int(picture.size()), finished), 0);
        ASSERT_TRUE(finished);
        ASSERT_EQ(std::pair(decoder.picture_width(), decoder.picture_height()), std::pair(w, h));
        const picture_layout layout = decoder.layout();
        guarded_buffer out(layout.bytes);
        for (int again = 0; again < 2; ++again)
            EXPECT_FALSE(decoder.convert_picture(out.end() - layout.bytes + 1, layout.bytes - 1));
        ASSERT_TRUE(decoder.convert_picture(out.end() - layout.bytes, layout.bytes));
        EXPECT_GT(psnr_rgb32(pixels.data(), out.end() - layout.bytes, w, h, layout.stride), 28.0);
    }
    EXPECT_EQ(decoder.converter_builds(), 8u);
    EXPECT_EQ(socket_test::log_lines_with("picture dropped") - dropLines, 9);
    decoder.close();
    decoder.close();
    EXPECT_FALSE(decoder.is_open());
}
