#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// How much one logger lets a misbehaving peer or a tight loop write.
struct log_flood_limits {
    int verbatimRepeats = 3; // identical lines in a row written as they are, then folded
    double siteRate = 20;    // lines a second one call site may write in the long run
    int siteBurst = 100;     // lines one call site may write at once
    // A folded run or a suppressed site is summed up after this long without lines of it
    // (a fold that never pauses is summed up once per this period as well).
    std::chrono::milliseconds summaryAfter{1000};
    // A site that never pauses has its suppressed count written at least this often.
    std::chrono::milliseconds floodReportEvery{10000};
};

// Decides which log lines of one logger are written. Two mechanisms:
// - a text equal to the previous written one is folded after `verbatimRepeats`, and one
//   "... repeated N times" line stands for the folded ones;
// - each call site (the " ( source ) : line" suffix every log text ends with) spends from
//   a token bucket; lines over budget are dropped and counted, and the count is written as
//   one "... N lines suppressed ( source ) : line" line once the site has been quiet.
//   Fatal lines are never suppressed.
// Not thread-safe: the manager calls it under its file lock. Time is passed in, so the
// decisions follow the manager's clock.
class c_log_flood_guard {
public:
    using time_point = std::chrono::system_clock::time_point;

    // A line the guard asks to write: a summary of folded or suppressed lines.
    struct summary {
        int level;
        std::string text;
    };

    explicit c_log_flood_guard(const log_flood_limits &limits = {}) : m_limits(limits) {}

    void setLimits(const log_flood_limits &limits) { m_limits = limits; }

    // True when `text` is to be written now. Summaries that must come before it (the end of
    // a folded run) are appended to `out`, oldest first.
    bool admit(int level, std::string_view text, time_point now, std::vector<summary> &out);
    // Appends the summaries due at `now`; `all` appends every pending one (at stop).
    void collectDue(time_point now, bool all, std::vector<summary> &out);

    // The call-site suffix " ( source ) : line" of a text, empty when it has none.
    static std::string_view siteOf(std::string_view text);

private:
    struct site {
        double tokens = 0;
        time_point refilled;
        std::uint64_t suppressed = 0;
        int level = 0; // highest level among the suppressed lines
        time_point firstDropped;
        time_point lastDropped;
    };
    struct text_hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };

    bool spend(std::string_view key, int level, time_point now);
    void fold(time_point now, std::vector<summary> &out);
    void endFold(std::vector<summary> &out);

    log_flood_limits m_limits;
    // The previous written text and its run of identical lines.
    std::string m_lastText;
    int m_lastLevel = 0;
    int m_run = 0;
    std::uint64_t m_folded = 0;
    time_point m_foldStart;
    std::unordered_map<std::string, site, text_hash, std::equal_to<>> m_sites;
    std::size_t m_sitesSuppressing = 0;
};
