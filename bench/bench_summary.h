#pragma once

// Each benchmark's targets, one line per target: printed with its own output, and appended to
// the file named by TESSARACT_BENCH_SUMMARY, from which scripts/bench.sh prints one table of
// every target at the end of `make bench`.

#include <cstdio>
#include <cstdlib>
#include <string>

// `measured` and `goal` are as a reader should see them ("1.04x", "<= 1.10x").
inline void report_target(const char *bench, const std::string &what, const std::string &measured,
                          const std::string &goal, bool met)
{
    std::printf("  target %-50s %10s (%s): %s\n", what.c_str(), measured.c_str(), goal.c_str(),
                met ? "met" : "MISSED");
    const char *summary = std::getenv("TESSARACT_BENCH_SUMMARY");
    if (summary == nullptr || *summary == '\0')
        return;
    if (std::FILE *file = std::fopen(summary, "a")) {
        std::fprintf(file, "%s\t%s\t%s\t%s\t%s\n", bench, what.c_str(), measured.c_str(),
                     goal.c_str(), met ? "met" : "MISSED");
        std::fclose(file);
    }
}

// printf into a std::string, for the measured and goal columns.
template <typename... Args>
std::string bench_format(const char *format, Args... args)
{
    char text[64];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}
