#pragma once

#include <cstdint>
#include <vector>

// Pictures shared by the video tests.

// A width x height RGB32 picture (bytes B, G, R, X) with gradients, a moving bar and fine
// detail, so encoded pictures are neither trivial nor noise. `phase` moves the content.
std::vector<std::uint8_t> make_test_picture(int width, int height, int phase);

// Peak signal-to-noise ratio in dB between two RGB32 pictures of width x height, over the
// three colour bytes of each pixel; the rows of `b` are `strideB` bytes apart.
double psnr_rgb32(const std::uint8_t *a, const std::uint8_t *b, int width, int height, int strideB);

// An encoded stream of `count` moving pictures of width x height (key frame first), at the
// encoder's usual quality unless `crf` is given; empty when the encoder fails.
std::vector<std::vector<std::uint8_t>> encode_pictures(int count, int width, int height, int crf = 23);
