#pragma once

#include "tools/disk/rw_disk/unique_fd.h"

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

} // namespace bench_loopback
