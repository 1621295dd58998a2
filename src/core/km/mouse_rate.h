#pragma once

#include <cstdint>

// The process-wide mouse sample rate: samples per second, 50 until the settings say
// otherwise. Any thread may read or set it.

inline constexpr int kDefaultMouseRate = 50;
inline constexpr int kMaxMouseRate = 1000;

int mouse_sample_rate();
// Rates outside 1..1000 are refused with a warning line and change nothing (a rate of 0
// would divide by zero, one above 1000 would give a 0 ms timer). Returns the rate in force.
int set_mouse_sample_rate(int rate);
// 1000 / rate, integer division: 20 ms at 50, 333 ms at 3.
int mouse_sample_interval_ms();
int mouse_sample_interval_ms(int rate);
// Grows by one with every accepted change, so a sampler can see that the rate changed
// since it last started its timer.
std::uint32_t mouse_rate_generation();
