#include "logging/log_folder_budget.h"

#include <algorithm>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

struct log_file {
    std::string path;
    std::uint64_t size;
    timespec written;
};

// Consumes `count` digits (at least one, exactly `count` when exact) from the front of s.
bool take_digits(std::string_view &s, std::size_t count, bool exact)
{
    std::size_t n = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9')
        ++n;
    if (n == 0 || (exact ? n != count : n < count))
        return false;
    s.remove_prefix(n);
    return true;
}

bool take(std::string_view &s, std::string_view piece)
{
    if (s.substr(0, piece.size()) != piece)
        return false;
    s.remove_prefix(piece.size());
    return true;
}

bool is_month_folder(std::string_view name)
{
    return take_digits(name, 4, true) && take(name, "_") && take_digits(name, 2, true) &&
           name.empty();
}

void list_log_files(const std::string &folder, bool monthFolders, std::string_view name,
                    std::vector<log_file> &out)
{
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (monthFolders && is_month_folder(entry->d_name)) {
            list_log_files(folder + entry->d_name + '/', false, name, out);
            continue;
        }
        if (!is_log_file_of(entry->d_name, name))
            continue;
        std::string path = folder + entry->d_name;
        struct stat st {};
        // lstat: a link that merely carries the name is neither counted nor removed.
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            out.push_back({std::move(path), static_cast<std::uint64_t>(st.st_size), st.st_mtim});
    }
}

bool older(const log_file &a, const log_file &b)
{
    if (a.written.tv_sec != b.written.tv_sec)
        return a.written.tv_sec < b.written.tv_sec;
    if (a.written.tv_nsec != b.written.tv_nsec)
        return a.written.tv_nsec < b.written.tv_nsec;
    return a.path < b.path;
}

} // namespace

bool is_log_file_of(std::string_view file, std::string_view name)
{
    return !name.empty() && take(file, name) && take(file, "_") && take_digits(file, 12, true) &&
           take(file, "_") && take_digits(file, 1, false) && take(file, "_") &&
           take_digits(file, 3, false) && file == ".log";
}

log_prune_result prune_log_files(const std::string &folder, bool monthFolders,
                                 std::string_view name, std::uint64_t keepBytes)
{
    std::vector<log_file> files;
    list_log_files(folder, monthFolders, name, files);
    std::uint64_t total = 0;
    for (const log_file &f : files)
        total += f.size;
    // Least recently written first: a file another running instance still writes is the
    // newest, so it goes last.
    std::sort(files.begin(), files.end(), older);
    log_prune_result removed;
    for (const log_file &f : files) {
        if (total <= keepBytes)
            break;
        if (::unlink(f.path.c_str()) != 0)
            continue;
        total -= f.size;
        ++removed.files;
        removed.bytes += f.size;
    }
    return removed;
}
