#include "km/mouse_rate.h"

#include "logging/log.h"

#include <atomic>

namespace {

std::atomic<int> g_rate{kDefaultMouseRate};
std::atomic<std::uint32_t> g_generation{0};

} // namespace

int mouse_sample_rate()
{
    return g_rate.load();
}

int set_mouse_sample_rate(int rate)
{
    if (rate < 1 || rate > kMaxMouseRate) {
        TLOG_WARN << "mouse sample rate " << rate << " refused, keeping " << g_rate.load();
        return g_rate.load();
    }
    g_rate.store(rate);
    g_generation.fetch_add(1);
    return rate;
}

int mouse_sample_interval_ms(int rate)
{
    return rate >= 1 ? 1000 / rate : 1000 / kDefaultMouseRate;
}

int mouse_sample_interval_ms()
{
    return mouse_sample_interval_ms(g_rate.load());
}

std::uint32_t mouse_rate_generation()
{
    return g_generation.load();
}
