#include "video/video_statistics.h"

namespace {

// Counters only grow while the session lives; a later snapshot that is smaller (a session
// made anew) counts as nothing rather than as a huge unsigned difference.
template <typename T> T grown(T earlier, T later)
{
    return later > earlier ? later - earlier : T{};
}

double per_picture_ms(std::int64_t us, std::uint64_t pictures)
{
    return pictures == 0 ? 0.0 : static_cast<double>(us) / 1000.0 / static_cast<double>(pictures);
}

} // namespace

video_rates video_rates_between(const video_statistics &earlier, const video_statistics &later,
                                std::int64_t elapsedMs)
{
    video_rates rates;
    if (elapsedMs <= 0)
        return rates;
    const double seconds = static_cast<double>(elapsedMs) / 1000.0;
    const std::uint64_t decoded = grown(earlier.picturesDecoded, later.picturesDecoded);
    const std::uint64_t shown = grown(earlier.picturesShown, later.picturesShown);
    rates.receivedPerSecond = static_cast<double>(decoded) / seconds;
    rates.shownPerSecond = static_cast<double>(shown) / seconds;
    rates.decodeMs = per_picture_ms(grown(earlier.decodeUs, later.decodeUs), decoded);
    rates.displayMs = per_picture_ms(grown(earlier.displayUs, later.displayUs), shown);
    rates.bitsPerSecond =
        static_cast<double>(grown(earlier.bytesReceived, later.bytesReceived)) * 8.0 / seconds;
    return rates;
}
