#include "video_test_support.h"

#include "video/H264Encoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cmath>

// The encoder's per-run statistics would flood the test output.
static const int quiet_ffmpeg = (av_log_set_level(AV_LOG_ERROR), 0);

std::vector<std::uint8_t> make_test_picture(int width, int height, int phase)
{
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < pixels.size() / 4; ++i) {
        const int x = int(i % width), y = int(i / width);
        const bool bar = x >= phase * 16 % width && x < phase * 16 % width + width / 8;
        pixels[i * 4] = std::uint8_t(bar ? 240 : x * 255 / std::max(width - 1, 1));
        pixels[i * 4 + 1] = std::uint8_t(y * 255 / std::max(height - 1, 1));
        pixels[i * 4 + 2] = std::uint8_t((x / 8 + y / 8) % 2 == 0 ? 200 : 60);
        pixels[i * 4 + 3] = 0xFF;
    }
    return pixels;
}

double psnr_rgb32(const std::uint8_t *a, const std::uint8_t *b, int width, int height, int strideB)
{
    double sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 4; ++x) {
            const double d = x % 4 == 3 ? 0 : a[std::size_t(y) * width * 4 + x] - b[std::size_t(y) * strideB + x];
            sum += d * d;
        }
    const double mse = sum / (double(width) * height * 3);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<std::vector<std::uint8_t>> encode_pictures(int count, int width, int height, int crf)
{
    H264Encoder encoder;
    std::vector<std::vector<std::uint8_t>> pictures{std::size_t(count)};
    if (!encoder.open({.width = width, .height = height, .fps = 25, .crf = crf}))
        return {};
    for (int i = 0; i < count; ++i) {
        const auto pixels = make_test_picture(width, height, i);
        if (!encoder.encode(pixels.data(), width, height, width * 4, pictures[std::size_t(i)]))
            return {};
    }
    return pictures;
}
