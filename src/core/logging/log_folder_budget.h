#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// True when `file` is named like a log file of the logger `name`:
// "<name>_<yyyyMMddhhmm>_<process id digits>_<index digits>.log".
bool is_log_file_of(std::string_view file, std::string_view name);

// What pruning removed.
struct log_prune_result {
    int files = 0;
    std::uint64_t bytes = 0;
};

// Removes the least recently written log files of the logger `name` from `folder` (ending
// in '/') and, with `monthFolders`, from its "yyyy_MM" subfolders, until the ones left total
// at most `keepBytes`. Only regular files whose name passes is_log_file_of are counted or
// removed; everything else is left alone.
log_prune_result prune_log_files(const std::string &folder, bool monthFolders,
                                 std::string_view name, std::uint64_t keepBytes);
