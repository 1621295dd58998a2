#include "test_streams.h"

#include "video/H264Encoder.h"

#include <algorithm>
#include <cstring>

desktop_scene::desktop_scene(int width, int height)
    : m_width(width), m_height(height), m_base(std::size_t(width) * height * 4)
{
    // Window rectangles in 1/100 of the screen, so every size has the same layout; text
    // keeps its pixel size, so a larger screen carries more of it.
    struct rect { int x0, y0, x1, y1; };
    const rect windows[] = {{5, 7, 57, 83}, {62, 18, 96, 65}, {30, 60, 80, 95}};
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = m_base.data() + std::size_t(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            std::uint8_t b = 120, g = 80, r = 40; // background
            for (const rect &w : windows) {
                if (x * 100 < w.x0 * width || x * 100 >= w.x1 * width || y * 100 < w.y0 * height
                    || y * 100 >= w.y1 * height)
                    continue;
                b = g = r = 245;
                if (y * 100 < w.y0 * height + 24 * 100) { // title bar
                    b = 200, g = 150, r = 90;
                    break;
                }
                // Lines of text: 8 rows of glyph-like stems, 20 blank rows, ragged ends.
                const bool textRow = y % 28 < 8 && (x % 700) < 300 + (y / 28 * 97) % 350;
                if (textRow && ((x / 2 + (x / 8) * (y / 28)) % 4) == 0)
                    b = g = r = 30;
            }
            std::uint8_t *p = row + std::size_t(x) * 4;
            p[0] = b;
            p[1] = g;
            p[2] = r;
            p[3] = 0xFF;
        }
    }
}

void desktop_scene::fill_rect(std::vector<std::uint8_t> &pixels, int x, int y, int w, int h,
                              std::uint8_t grey) const
{
    const int x0 = std::clamp(x, 0, m_width), x1 = std::clamp(x + w, 0, m_width);
    const int y0 = std::clamp(y, 0, m_height), y1 = std::clamp(y + h, 0, m_height);
    for (int row = y0; row < y1; ++row) {
        std::uint8_t *p = pixels.data() + (std::size_t(row) * m_width + x0) * 4;
        for (int col = x0; col < x1; ++col, p += 4)
            p[0] = p[1] = p[2] = std::uint8_t(grey ^ ((col / 3 + row) & 0x1F));
    }
}

void desktop_scene::draw(int phase, std::vector<std::uint8_t> &pixels) const
{
    pixels.resize(m_base.size());
    std::memcpy(pixels.data(), m_base.data(), m_base.size());
    // A line being typed: one more glyph per picture, restarting every 80.
    const int glyphs = phase % 80;
    const int lineY = m_height * 50 / 100 + (phase / 80 % 4) * 28;
    for (int i = 0; i < glyphs; ++i)
        fill_rect(pixels, m_width * 8 / 100 + i * 9, lineY, 6, 10, 20);
    // A pointer moving across the screen.
    fill_rect(pixels, (phase * 23) % m_width, (phase * 11) % m_height, 14, 20, 0);
    // A clock that changes every 30 pictures.
    fill_rect(pixels, m_width - 90, m_height - 24, 80, 16, std::uint8_t(60 + (phase / 30) * 17));
}

std::size_t test_stream::total_bytes() const
{
    std::size_t sum = 0;
    for (const auto &p : pictures)
        sum += p.size();
    return sum;
}

std::size_t test_stream::largest_key() const
{
    std::size_t most = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i)
        if (key[i])
            most = std::max(most, pictures[i].size());
    return most;
}

std::size_t test_stream::largest_other() const
{
    std::size_t most = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i)
        if (!key[i])
            most = std::max(most, pictures[i].size());
    return most;
}

test_stream make_test_stream(const test_stream_config &config)
{
    test_stream stream;
    stream.config = config;
    h264_encoder_config encoder;
    encoder.width = config.width;
    encoder.height = config.height;
    encoder.fps = config.fps;
    encoder.gop = config.fps;
    encoder.mainProfile = config.cabac;
    // Sliced threads give the same bytes run after run; two keep 2160p encoding short.
    encoder.threads = 2;
    encoder.slices = config.slices;
    encoder.crf = config.crf;
    H264Encoder x264;
    if (!x264.open(encoder))
        return stream;
    const desktop_scene scene(config.width, config.height);
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < config.pictures; ++i) {
        scene.draw(i, pixels);
        std::vector<std::uint8_t> out;
        if (!x264.encode(pixels.data(), config.width, config.height, config.width * 4, out)
            || out.empty()) {
            stream.pictures.clear();
            stream.key.clear();
            return stream;
        }
        stream.pictures.push_back(std::move(out));
        stream.key.push_back(x264.last_was_key_frame());
    }
    return stream;
}
