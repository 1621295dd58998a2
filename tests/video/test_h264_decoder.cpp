#include "video/H264Decoder.h"
#include "video/H264Encoder.h"
#include "test_support.h"
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
    {
        const auto page = std::size_t(sysconf(_SC_PAGESIZE));
        m_length = (bytes + page - 1) / page * page + page;
        m_map = static_cast<std::uint8_t *>(
            mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        EXPECT_EQ(mprotect(m_map + m_length - page, page, PROT_NONE), 0);
        m_data = m_map + m_length - page - bytes;
    }
    ~guarded_buffer() { munmap(m_map, m_length); }
    std::uint8_t *data() const { return m_data; }

private:
    std::uint8_t *m_map = nullptr;
    std::uint8_t *m_data = nullptr;
    std::size_t m_length = 0;
};

} // namespace

// Each picture is converted at its own size into a buffer of exactly its layout's bytes,
// guarded: widths that are not a multiple of the converter's vectors used to be written past.
// The converter is built again only when the size changes.
TEST(H264Decoder, ConvertsEachSizeWithinItsLayout)
{
    H264Encoder encoder;
    ASSERT_TRUE(encoder.open({.width = 320, .height = 240}));
    H264Decoder decoder;
    ASSERT_EQ(decoder.open(), 1);
    const int sizes[][2] = {{320, 240}, {320, 240}, {1000, 32}, {1004, 40}, {1366, 768},
                            {1912, 40}, {160, 96},  {1912, 40}, {320, 240}};
    int phase = 0;
    for (const auto &[w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        const auto pixels = make_test_picture(w, h, phase++);
        std::vector<std::uint8_t> picture;
        ASSERT_TRUE(encoder.encode(pixels.data(), w, h, w * 4, picture));
        bool finished = false;
        ASSERT_GT(decoder.decode_picture(picture.data(), int(picture.size()), finished), 0);
        ASSERT_TRUE(finished);
        ASSERT_EQ(decoder.picture_width(), w);
        ASSERT_EQ(decoder.picture_height(), h);
        guarded_buffer out(decoder.layout().bytes);
        ASSERT_TRUE(decoder.convert_picture(out.data(), decoder.layout().bytes));
        EXPECT_GT(psnr_rgb32(pixels.data(), out.data(), w, h, int(decoder.layout().stride)), 28.0);
    }
    EXPECT_EQ(decoder.converter_builds(), 8u);
}

TEST(H264Decoder, CorruptOrMisusedInputFailsAndNothingIsWrittenPastTheOutput)
{
    const auto stream = encode_pictures(2, 320, 240);
    H264Decoder decoder;
    const int dropLines = socket_test::log_lines_with("picture dropped");
    std::vector<std::uint8_t> out(picture_layout::of(320, 240).bytes - 1, 0xCD); // one short
    int w = -1, h = -1;
    EXPECT_LT(decoder.decode(stream[0].data(), int(stream[0].size()), out.data(), out.size(), w, h), 0)
        << "decode before open";
    ASSERT_EQ(decoder.open(), 1);
    // Decoded, but the picture does not fit: nothing written, no size reported.
    EXPECT_GT(decoder.decode(stream[0].data(), int(stream[0].size()), out.data(), out.size(), w, h), 0);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -1);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0xCD; }));
    EXPECT_EQ(socket_test::log_lines_with("picture dropped") - dropLines, 1);
    // Garbage and an empty packet (which would end the stream) are refused.
    const std::vector<std::uint8_t> garbage(5000, 0x37);
    EXPECT_LT(decoder.decode(garbage.data(), 5000, out.data(), out.size(), w, h), 0);
    EXPECT_LT(decoder.decode(nullptr, 0, out.data(), out.size(), w, h), 0);
    out.resize(picture_layout::of(320, 240).bytes);
    EXPECT_GT(decoder.decode(stream[1].data(), int(stream[1].size()), out.data(), out.size(), w, h), 0);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    const auto source = make_test_picture(320, 240, 1);
    EXPECT_GT(psnr_rgb32(source.data(), out.data(), 320, 240, int(picture_layout::of(320, 240).stride)), 30.0);
    decoder.close();
    decoder.close();
    EXPECT_FALSE(decoder.is_open());
}

TEST(H264Decoder, SliceThreadsGiveTheSamePictures)
{
    constexpr int W = 640, H = 368;
    H264Encoder encoder;
    ASSERT_TRUE(encoder.open({.width = W, .height = H, .threads = 2})); // two slices a picture
    H264Decoder threaded(2), single;
    ASSERT_EQ(threaded.open(), 1);
    ASSERT_EQ(single.open(), 1);
    std::vector<std::uint8_t> out(picture_layout::of(W, H).bytes), expected(out.size());
    for (int i = 0; i < 4; ++i) {
        const auto pixels = make_test_picture(W, H, i);
        std::vector<std::uint8_t> picture;
        ASSERT_TRUE(encoder.encode(pixels.data(), W, H, W * 4, picture));
        int w = 0, h = 0;
        ASSERT_GT(single.decode(picture.data(), int(picture.size()), expected.data(), out.size(), w, h), 0);
        ASSERT_GT(threaded.decode(picture.data(), int(picture.size()), out.data(), out.size(), w, h), 0);
        EXPECT_EQ(out, expected) << i;
    }
}
