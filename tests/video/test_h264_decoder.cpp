#include "video/H264Decoder.h"
#include "video/H264Encoder.h"
#include "test_support.h"
#include "video_test_support.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <gtest/gtest.h>

#include <random>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// The conversion of the original design: for every finished picture a fresh converter
// (fast bilinear, same size) into a freshly allocated BGRA buffer, then a copy. Decodes
// with its own libavcodec context.
class reference_decoder {
public:
    reference_decoder()
    {
        context.reset(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        avcodec_open2(context.get(), avcodec_find_decoder(AV_CODEC_ID_H264), nullptr);
        frame.reset(av_frame_alloc());
        packet.reset(av_packet_alloc());
    }

    // The BGRA picture, or nothing when no picture was finished.
    std::vector<std::uint8_t> decode(const std::vector<std::uint8_t> &data, int &w, int &h)
    {
        packet->data = const_cast<std::uint8_t *>(data.data());
        packet->size = int(data.size());
        std::vector<std::uint8_t> out;
        if (avcodec_send_packet(context.get(), packet.get()) < 0
            || avcodec_receive_frame(context.get(), frame.get()) < 0)
            return out;
        w = frame->width;
        h = frame->height;
        // Packed rows; the converter's vectors run past the last one (picture_layout).
        const int bytes = av_image_get_buffer_size(AV_PIX_FMT_BGRA, w, h, 1);
        av_buffer_ptr rgb(static_cast<std::uint8_t *>(
            av_malloc(std::size_t(bytes) + picture_layout::kTailPadding)));
        std::uint8_t *planes[4];
        int strides[4];
        av_image_fill_arrays(planes, strides, rgb.get(), AV_PIX_FMT_BGRA, w, h, 1);
        sws_context_ptr scaler(sws_getContext(w, h, AVPixelFormat(frame->format), w, h,
                                              AV_PIX_FMT_BGRA, 1, nullptr, nullptr, nullptr));
        sws_scale(scaler.get(), frame->data, frame->linesize, 0, h, planes, strides);
        out.assign(rgb.get(), rgb.get() + std::size_t(w) * h * 4);
        av_frame_unref(frame.get());
        return out;
    }

private:
    av_codec_context_ptr context;
    av_frame_ptr frame;
    av_packet_ptr packet;
};

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
        EXPECT_NE(m_map, MAP_FAILED);
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

// The rows of a picture laid out as `layout` says, packed to width x 4 bytes each.
std::vector<std::uint8_t> packed_rows(const std::uint8_t *data, int w, int h)
{
    const picture_layout layout = picture_layout::of(w, h);
    std::vector<std::uint8_t> rows(std::size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        std::copy_n(data + std::size_t(y) * layout.stride, std::size_t(w) * 4,
                    rows.begin() + std::ptrdiff_t(y) * w * 4);
    return rows;
}

std::vector<std::uint8_t> noise(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto &b : bytes)
        b = std::uint8_t(random());
    return bytes;
}

} // namespace

TEST(H264Decoder, PicturesMatchSourceAndAFreshConverterPerPicture)
{
    constexpr int W = 640, H = 360;
    const auto stream = encode_pictures(6, W, H);
    ASSERT_EQ(stream.size(), 6u);
    H264Decoder decoder;
    ASSERT_EQ(decoder.open(), 1);
    reference_decoder reference;
    std::vector<std::uint8_t> out(picture_layout::of(W, H).bytes);
    for (std::size_t i = 0; i < stream.size(); ++i) {
        SCOPED_TRACE(i);
        int w = 0, h = 0, rw = 0, rh = 0;
        ASSERT_EQ(decoder.decode(stream[i].data(), int(stream[i].size()), out.data(), out.size(),
                                 w, h),
                  int(stream[i].size()));
        ASSERT_EQ(w, W);
        ASSERT_EQ(h, H);
        const auto expected = reference.decode(stream[i], rw, rh);
        ASSERT_EQ(rw, W);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()))
            << "cached converter differs from a fresh one";
        const auto source = make_test_picture(W, H, int(i));
        EXPECT_GT(psnr_rgb32(source.data(), out.data(), W, H), 30.0);
    }
    EXPECT_EQ(decoder.converter_builds(), 1u);
}

// Each picture is converted at its own size into a buffer of exactly its layout's bytes,
// guarded: widths that are not a multiple of the converter's vectors used to be written past.
TEST(H264Decoder, ConvertsEachSizeWithinItsLayout)
{
    H264Encoder encoder;
    h264_encoder_config config;
    config.width = 320;
    config.height = 240;
    ASSERT_TRUE(encoder.open(config));
    H264Decoder decoder;
    ASSERT_EQ(decoder.open(), 1);
    const int sizes[][2] = {{320, 240}, {1000, 32}, {1004, 40},  {1366, 768},
                            {1912, 40}, {160, 96},  {1912, 40}, {320, 240}};
    int phase = 0;
    for (const auto &size : sizes) {
        SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1]);
        const auto pixels = make_test_picture(size[0], size[1], phase++);
        std::vector<std::uint8_t> picture;
        ASSERT_TRUE(encoder.encode(pixels.data(), size[0], size[1], size[0] * 4, picture));
        bool finished = false;
        ASSERT_GT(decoder.decode_picture(picture.data(), int(picture.size()), finished), 0);
        ASSERT_TRUE(finished);
        ASSERT_EQ(decoder.picture_width(), size[0]);
        ASSERT_EQ(decoder.picture_height(), size[1]);
        guarded_buffer out(decoder.layout().bytes);
        ASSERT_TRUE(decoder.convert_picture(out.data(), decoder.layout().bytes));
        const auto rows = packed_rows(out.data(), size[0], size[1]);
        EXPECT_GT(psnr_rgb32(pixels.data(), rows.data(), size[0], size[1]), 28.0);
    }
    EXPECT_EQ(decoder.converter_builds(), 8u);
}

TEST(H264Decoder, CorruptPictureFailsAndTheNextOneDecodes)
{
    const auto stream = encode_pictures(3, 320, 240);
    H264Decoder decoder;
    ASSERT_EQ(decoder.open(), 1);
    std::vector<std::uint8_t> out(picture_layout::of(320, 240).bytes);
    int w = 0, h = 0;
    ASSERT_GT(decoder.decode(stream[0].data(), int(stream[0].size()), out.data(), out.size(), w,
                             h),
              0);
    const auto garbage = noise(5000, 7);
    w = h = 0;
    EXPECT_LT(decoder.decode(garbage.data(), int(garbage.size()), out.data(), out.size(), w, h),
              0);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_GT(decoder.decode(stream[1].data(), int(stream[1].size()), out.data(), out.size(), w,
                             h),
              0);
    EXPECT_EQ(w, 320);
    const auto source = make_test_picture(320, 240, 1);
    EXPECT_GT(psnr_rgb32(source.data(), out.data(), 320, 240), 30.0);
}

TEST(H264Decoder, NeverWritesPastTheOutputAndSurvivesMisuse)
{
    const auto stream = encode_pictures(2, 320, 240);
    H264Decoder decoder;
    const int dropLines = socket_test::log_lines_with("picture dropped");
    std::vector<std::uint8_t> out(picture_layout::of(320, 240).bytes - 1, 0xCD); // one short
    int w = -1, h = -1;
    EXPECT_LT(decoder.decode(stream[0].data(), int(stream[0].size()), out.data(), out.size(), w,
                             h),
              0) << "decode before open";
    ASSERT_EQ(decoder.open(), 1);
    // Decoded, but the picture does not fit: nothing written, no size reported.
    EXPECT_GT(decoder.decode(stream[0].data(), int(stream[0].size()), out.data(), out.size(), w,
                             h),
              0);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(h, -1);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0xCD; }));
    EXPECT_EQ(socket_test::log_lines_with("picture dropped") - dropLines, 1);
    // An empty packet is refused rather than ending the stream.
    EXPECT_LT(decoder.decode(nullptr, 0, out.data(), out.size(), w, h), 0);
    std::vector<std::uint8_t> room(picture_layout::of(320, 240).bytes);
    EXPECT_GT(decoder.decode(stream[1].data(), int(stream[1].size()), room.data(), room.size(),
                             w, h),
              0);
    EXPECT_EQ(w, 320);
    decoder.close();
    decoder.close();
    EXPECT_FALSE(decoder.is_open());
}

TEST(H264Decoder, SliceThreadsGiveTheSamePictures)
{
    constexpr int W = 640, H = 368;
    H264Encoder encoder;
    h264_encoder_config config;
    config.width = W;
    config.height = H;
    config.threads = 2; // two slices per picture
    ASSERT_TRUE(encoder.open(config));
    H264Decoder threaded(2);
    ASSERT_EQ(threaded.open(), 1);
    reference_decoder reference;
    std::vector<std::uint8_t> out(picture_layout::of(W, H).bytes);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const auto pixels = make_test_picture(W, H, i);
        std::vector<std::uint8_t> picture;
        ASSERT_TRUE(encoder.encode(pixels.data(), W, H, W * 4, picture));
        int w = 0, h = 0, rw = 0, rh = 0;
        ASSERT_GT(threaded.decode(picture.data(), int(picture.size()), out.data(), out.size(), w,
                                  h),
                  0);
        ASSERT_EQ(w, W);
        const auto expected = reference.decode(picture, rw, rh);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    }
}
