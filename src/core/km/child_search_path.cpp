#include "km/child_search_path.h"

#include "launch/program_paths.h"

#include <cstdlib>

std::string put_program_dir_first_on_path(const std::string &folder)
{
    const std::string dir = folder.empty() ? program_dir() : folder;
    const char *current = std::getenv("PATH");
    std::string path = current != nullptr ? current : "";
    if (dir.empty())
        return path;
    if (path == dir || path.rfind(dir + ":", 0) == 0)
        return path;
    // An unset PATH means the system's default search list; keep it behind our folder.
    if (current == nullptr)
        path = "/usr/local/bin:/usr/bin:/bin";
    path = path.empty() ? dir : dir + ":" + path;
    ::setenv("PATH", path.c_str(), 1);
    return path;
}
