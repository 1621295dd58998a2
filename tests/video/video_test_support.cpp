#include "video_test_support.h"

#include "video/H264Encoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cmath>

namespace {
// The encoder's per-run statistics would flood the test output.
const int quiet_ffmpeg = (av_log_set_level(AV_LOG_ERROR), 0);
} // namespace

std::vector<std::uint8_t> make_test_picture(int width, int height, int phase)
{
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    const int barLeft = (phase * 16) % width;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t *p = pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            const bool bar = x >= barLeft && x < barLeft + width / 8;
            p[0] = static_cast<std::uint8_t>(bar ? 240 : (x * 255) / std::max(width - 1, 1));
            p[1] = static_cast<std::uint8_t>((y * 255) / std::max(height - 1, 1));
            p[2] = static_cast<std::uint8_t>(((x / 8) + (y / 8)) % 2 == 0 ? 200 : 60);
            p[3] = 0xFF;
        }
    }
    return pixels;
}

double psnr_rgb32(const std::uint8_t *a, const std::uint8_t *b, int width, int height, int strideB)
{
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = double(a[(std::size_t(y) * width + x) * 4 + c])
                    - double(b[std::size_t(y) * (strideB ? strideB : width * 4) + x * 4 + c]);
                sum += d * d;
            }
    const double mse = sum / (double(width) * height * 3);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<std::vector<std::uint8_t>> encode_pictures(int count, int width, int height, int crf)
{
    H264Encoder encoder;
    h264_encoder_config config;
    config.width = width;
    config.height = height;
    config.fps = 25;
    if (crf >= 0)
        config.crf = crf;
    std::vector<std::vector<std::uint8_t>> pictures{std::size_t(count)};
    if (!encoder.open(config))
        return {};
    for (int i = 0; i < count; ++i) {
        const auto pixels = make_test_picture(width, height, i);
        if (!encoder.encode(pixels.data(), width, height, width * 4, pictures[std::size_t(i)]))
            return {};
    }
    return pictures;
}
