#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Deterministic H.264 test streams for the video benchmark, encoded once in memory.

// A desktop-like picture of width x height (RGB32: bytes B, G, R, X): flat background, a
// few windows with text-like detail, and small regions that change with `phase` (a line
// being typed, a moving pointer, a ticking clock), as a remote desktop mostly looks.
class desktop_scene {
public:
    desktop_scene(int width, int height);
    // Writes picture `phase` into `pixels` (resized to width x height x 4).
    void draw(int phase, std::vector<std::uint8_t> &pixels) const;

    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    void fill_rect(std::vector<std::uint8_t> &pixels, int x, int y, int w, int h,
                   std::uint8_t grey) const;

    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_base; // the static desktop
};

struct test_stream_config {
    std::string name;
    int width = 1920;
    int height = 1080;
    int fps = 60;
    bool cabac = false;
    int pictures = 120;
    int slices = 4;
    int crf = 23;
};

// One encoded stream: libx264 through libavcodec (ultrafast, zero latency), a key frame
// every second, `slices` slices per picture, CAVLC (baseline) or CABAC (main).
struct test_stream {
    test_stream_config config;
    std::vector<std::vector<std::uint8_t>> pictures; // one complete picture each
    std::vector<bool> key;

    std::size_t total_bytes() const;
    std::size_t largest_key() const;
    std::size_t largest_other() const;
};

// Encodes the stream; pictures is empty when the encoder could not be opened.
test_stream make_test_stream(const test_stream_config &config);
