#pragma once

#include <cstdint>
#include <vector>

// Small disk images in memory (512-byte sectors), laid out as the tools that make real
// ones lay them out, for the disk probe and the media tests.

std::vector<std::uint8_t> mbr_fat16_image();     // 8192 sectors; partition at 2048, "TESSDISK"
std::vector<std::uint8_t> mbr_fat32_image();     // 4096 sectors; partition at 2048, "BIGDISK"
