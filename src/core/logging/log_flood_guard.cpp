#include "logging/log_flood_guard.h"
#include "logging/ILogManager.h"

#include <algorithm>

namespace {

// Call sites are the program's log statements, a few hundred; the cap only guards the map
// against texts whose suffix was mangled into something new every time.
constexpr std::size_t kMaxSites = 4096;

} // namespace

std::string_view c_log_flood_guard::siteOf(std::string_view text)
{
    constexpr std::string_view close = " ) : ";
    std::size_t digits = text.size();
    while (digits > 0 && text[digits - 1] >= '0' && text[digits - 1] <= '9')
        --digits;
    if (digits == text.size() || digits < close.size() ||
        text.substr(digits - close.size(), close.size()) != close)
        return {};
    const std::size_t open = text.rfind(" ( ", digits - close.size());
    return open == std::string_view::npos ? std::string_view{} : text.substr(open);
}

bool c_log_flood_guard::admit(int level, std::string_view text, time_point now,
                              std::vector<summary> &out)
{
    const bool same = m_run > 0 && level == m_lastLevel && text == m_lastText;
    if (same && m_run >= m_limits.verbatimRepeats) {
        fold(now, out);
        return false;
    }
    if (!same)
        endFold(out);
    // Folding comes first: identical lines never spend their site's budget. A fatal line
    // tells why the program ends and comes once, so no budget holds it back.
    if (level < LOG_LEVEL_FATAL && !spend(siteOf(text), level, now))
        return false;
    if (same) {
        ++m_run;
    } else {
        m_lastText.assign(text);
        m_lastLevel = level;
        m_run = 1;
    }
    return true;
}

void c_log_flood_guard::fold(time_point now, std::vector<summary> &out)
{
    if (m_folded++ == 0)
        m_foldStart = now;
    // A run that never pauses is summed up once per period, so its size shows while it lasts.
    if (now - m_foldStart >= m_limits.summaryAfter)
        endFold(out);
}

void c_log_flood_guard::endFold(std::vector<summary> &out)
{
    if (m_folded == 0)
        return;
    out.push_back({m_lastLevel, "... repeated " + std::to_string(m_folded) + " times"});
    m_folded = 0;
}

bool c_log_flood_guard::spend(std::string_view key, int level, time_point now)
{
    auto it = m_sites.find(key);
    if (it == m_sites.end()) {
        if (m_sites.size() >= kMaxSites)
            key = {}; // one shared bucket for whatever comes past the cap
        it = m_sites.find(key);
        if (it == m_sites.end())
            it = m_sites.emplace(std::string(key), site{double(m_limits.siteBurst), now}).first;
    }
    site &s = it->second;
    // A clock set back refills nothing; the bucket goes on from the new time.
    const double elapsed = std::chrono::duration<double>(now - s.refilled).count();
    if (elapsed > 0)
        s.tokens = std::min(double(m_limits.siteBurst), s.tokens + elapsed * m_limits.siteRate);
    s.refilled = now;
    if (s.tokens >= 1) {
        s.tokens -= 1;
        return true;
    }
    if (s.suppressed++ == 0) {
        s.firstDropped = now;
        s.level = level;
        ++m_sitesSuppressing;
    }
    s.level = std::max(s.level, level);
    s.lastDropped = now;
    return false;
}

void c_log_flood_guard::collectDue(time_point now, bool all, std::vector<summary> &out)
{
    if (m_folded > 0 && (all || now - m_foldStart >= m_limits.summaryAfter))
        endFold(out);
    if (m_sitesSuppressing == 0)
        return;
    for (auto &[key, s] : m_sites) {
        if (s.suppressed == 0)
            continue;
        const bool quiet = now - s.lastDropped >= m_limits.summaryAfter;
        const bool longFlood = now - s.firstDropped >= m_limits.floodReportEvery;
        if (!all && !quiet && !longFlood)
            continue;
        endFold(out); // "repeated" stays right below the line it counts
        out.push_back({s.level, "... " + std::to_string(s.suppressed) + " lines suppressed" + key});
        s.suppressed = 0;
        --m_sitesSuppressing;
    }
}
