#pragma once

#include <cstdint>
#include <vector>

// Pictures and byte-stream helpers shared by the video tests.

// A width x height RGB32 picture (bytes B, G, R, X) with gradients, a moving bar and fine
// detail, so encoded pictures are neither trivial nor noise. `phase` moves the content.
std::vector<std::uint8_t> make_test_picture(int width, int height, int phase);

// The nal_unit_type of every NAL unit of an Annex B byte stream, in order.
std::vector<int> nal_unit_types(const std::vector<std::uint8_t> &stream);

// The profile_idc of the first SPS in the stream, or -1.
int sps_profile(const std::vector<std::uint8_t> &stream);

// Peak signal-to-noise ratio in dB between two RGB32 pictures of the same size, over the
// three colour bytes of each pixel.
double psnr_rgb32(const std::uint8_t *a, const std::uint8_t *b, int width, int height);

// An encoded stream of `count` moving pictures of width x height (key frame first), at the
// encoder's usual quality unless `crf` is given.
std::vector<std::vector<std::uint8_t>> encode_pictures(int count, int width, int height,
                                                       int firstPhase = 0, int crf = -1);
