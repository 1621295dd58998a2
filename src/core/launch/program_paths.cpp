#include "launch/program_paths.h"
#include "logging/CLogerManager.h"
#include "logging/log_routing.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::string program_dir()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string exe(path, static_cast<std::size_t>(n));
    const std::size_t slash = exe.find_last_of('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

namespace {

// "$VARIABLE/tessaract", or "$HOME/FALLBACK/tessaract" when the variable is unset or relative
// (relative values of XDG variables are to be ignored).
std::string user_dir(const char *variable, const char *fallback)
{
    const char *value = std::getenv(variable);
    if (value && value[0] == '/')
        return std::string(value) + "/tessaract";
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/" + fallback + "/tessaract";
    return {};
}

} // namespace

std::string user_state_dir()
{
    return user_dir("XDG_STATE_HOME", ".local/state");
}

std::string user_config_dir()
{
    return user_dir("XDG_CONFIG_HOME", ".config");
}

bool make_writable_dir(const std::string &path)
{
    if (path.empty())
        return false;
    std::string partial;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') {
            partial += path[i];
            continue;
        }
        if (!partial.empty() && partial != "." && partial != "..")
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        if (i < path.size())
            partial += '/';
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string start_program_log()
{
    auto *manager = static_cast<CLogerManager *>(ILogManager::getInstance());
    LoggerConfig config = manager->logger(ILogManager::kMainLogger);
    config.path = "./log/";
    if (!make_writable_dir("./log")) {
        const std::string state = user_state_dir();
        if (!state.empty() && make_writable_dir(state + "/log"))
            config.path = state + "/log/";
    }
    manager->setLogger(ILogManager::kMainLogger, "Main", config);
    manager->start();
    install_log_routing();
    return config.path;
}

std::string take_first_argument(int argc, char *argv[])
{
    if (argc < 2 || !argv[1])
        return {};
    std::string text(argv[1]);
    std::memset(argv[1], 0, text.size());
    return text;
}
