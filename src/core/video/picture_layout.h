#pragma once

#include <climits>
#include <cstddef>

// How a converted picture lies in memory: 32-bit pixels, rows `stride` bytes apart, and
// `bytes` in all, which includes room after the last row.
//
// The colour converter writes whole vectors: at the end of a row whose width is not a
// multiple of its vector length it writes past the row, by up to a vector. A buffer packed to
// width x 4 bytes a row is then overrun at its end (seen at widths such as 1000, 1004 and
// 1912). So rows are padded to a multiple of kRowAlignment bytes, and kTailPadding bytes
// follow the last row, as FFmpeg lays out its own frames.
struct picture_layout {
    static constexpr std::size_t kRowAlignment = 64;
    static constexpr std::size_t kTailPadding = 64;

    int stride = 0;
    std::size_t bytes = 0;

    // The layout of a width x height picture; empty (0, 0) when a side is not positive or a
    // row does not fit an int.
    static constexpr picture_layout of(int width, int height)
    {
        if (width <= 0 || height <= 0)
            return {};
        const std::size_t row = std::size_t(width) * 4;
        const std::size_t stride = (row + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
        if (stride > std::size_t(INT_MAX))
            return {};
        return {int(stride), stride * std::size_t(height) + kTailPadding};
    }
};
