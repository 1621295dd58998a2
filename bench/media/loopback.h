#pragma once

#include "tools/disk/rw_disk/unique_fd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

// Plain blocking TCP on 127.0.0.1 for the media benchmark's own peers. Every receive is
// bounded by a 5 s socket time-out, so a peer that stops answering ends a run instead of
// hanging it.
namespace bench_loopback {

// A listening socket on 127.0.0.1 with a port the system picks; invalid on failure.
unique_fd listen_any(std::uint16_t &port);
// The next connection within timeoutMs; invalid otherwise.
unique_fd accept_within(int listener, int timeoutMs);
// A connected client; invalid on failure.
unique_fd connect_to(std::uint16_t port);

bool read_all(int fd, std::uint8_t *out, std::size_t n);
bool write_all(int fd, const std::uint8_t *data, std::size_t n);

// One frame (header and body): false on time-out, close or a bad length.
bool read_frame(int fd, std::vector<std::uint8_t> &frame);
// Header and plain body, as the device sends them.
std::vector<std::uint8_t> frame_of(const std::vector<std::uint8_t> &body);

// The answering side of a link with a round trip: call once on the answering thread before
// its first answer. Its timed waits then end within a nanosecond of their deadline instead
// of the default 50 us later, which would stretch a 200 us delay by a quarter.
void tighten_timer_slack();
// Blocks the calling thread until `delay` after `arrival` (the moment the frame being
// answered was read) on the monotonic clock; returns at once when delay is 0 or already past.
void wait_to_answer(std::chrono::steady_clock::time_point arrival, std::chrono::microseconds delay);

} // namespace bench_loopback
