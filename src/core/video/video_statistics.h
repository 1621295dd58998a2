#pragma once

#include <cstdint>

// The video channel's figures since the session was made, summed over its connections.
struct video_statistics {
    std::uint64_t bytesReceived = 0;   // video frame bodies handed to the picture path
    std::uint64_t picturesDecoded = 0; // decoded and handed on for display
    std::uint64_t picturesShown = 0;   // handed to the display
    std::uint64_t picturesSkipped = 0; // decoded, then passed over for a newer one
    std::uint64_t picturesDropped = 0; // malformed, oversize or undecodable
    std::int64_t decodeUs = 0;         // spent decoding and converting
    std::int64_t displayUs = 0;        // spent handing pictures to the display
};

// What happened between two snapshots taken `elapsedMs` apart: rates per second and mean
// times per picture in milliseconds (0 without pictures). A zero or negative interval gives
// all zeros.
struct video_rates {
    double receivedPerSecond = 0;
    double shownPerSecond = 0;
    double decodeMs = 0;
    double displayMs = 0;
    double bitsPerSecond = 0;
};

video_rates video_rates_between(const video_statistics &earlier, const video_statistics &later,
                                std::int64_t elapsedMs);
