#include "video_test_support.h"

#include "video/H264Encoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cmath>
#include <cstddef>

namespace {
// The encoder's per-run statistics would flood the test output.
const int quiet_ffmpeg = (av_log_set_level(AV_LOG_ERROR), 0);
} // namespace

std::vector<std::uint8_t> make_test_picture(int width, int height, int phase)
{
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    const int barLeft = (phase * 16) % (width > 0 ? width : 1);
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = pixels.data() + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            std::uint8_t *p = row + static_cast<std::size_t>(x) * 4;
            const bool bar = x >= barLeft && x < barLeft + width / 8;
            const bool grid = ((x / 8) + (y / 8)) % 2 == 0;
            p[0] = static_cast<std::uint8_t>(bar ? 240 : (x * 255) / (width > 1 ? width - 1 : 1));
            p[1] = static_cast<std::uint8_t>((y * 255) / (height > 1 ? height - 1 : 1));
            p[2] = static_cast<std::uint8_t>(grid ? 200 : 60);
            p[3] = 0xFF;
        }
    }
    return pixels;
}

std::vector<int> nal_unit_types(const std::vector<std::uint8_t> &stream)
{
    std::vector<int> types;
    for (std::size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            types.push_back(stream[i + 3] & 0x1F);
            i += 3;
        }
    }
    return types;
}

int sps_profile(const std::vector<std::uint8_t> &stream)
{
    for (std::size_t i = 0; i + 4 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1
            && (stream[i + 3] & 0x1F) == 7)
            return stream[i + 4];
    }
    return -1;
}

double psnr_rgb32(const std::uint8_t *a, const std::uint8_t *b, int width, int height)
{
    double sum = 0;
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    for (std::size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 3; ++c) {
            const double d = double(a[i * 4 + c]) - double(b[i * 4 + c]);
            sum += d * d;
        }
    }
    const double mse = sum / double(pixels * 3);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<std::vector<std::uint8_t>> encode_pictures(int count, int width, int height,
                                                       int firstPhase, int crf)
{
    H264Encoder encoder;
    h264_encoder_config config;
    config.width = width;
    config.height = height;
    config.fps = 25;
    if (crf >= 0)
        config.crf = crf;
    std::vector<std::vector<std::uint8_t>> pictures;
    if (!encoder.open(config))
        return pictures;
    for (int i = 0; i < count; ++i) {
        const auto pixels = make_test_picture(width, height, firstPhase + i);
        std::vector<std::uint8_t> out;
        if (!encoder.encode(pixels.data(), width, height, width * 4, out))
            break;
        pictures.push_back(std::move(out));
    }
    return pictures;
}
