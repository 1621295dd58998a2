#include "utils.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int get_error_info(const char *function, bool /*socketError*/, std::string &out)
{
    const int code = errno;
    char message[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char *text = strerror_r(code, message, sizeof message);
    char line[2048];
    const int n = std::snprintf(line, sizeof line,
                                "ErrorInfo:File:%s,Line:%d,Function:%s errorCode %d: %s", __FILE__,
                                __LINE__, function ? function : "", code, text);
    // A description that would not fit is left empty rather than cut.
    out = (n > 0 && static_cast<std::size_t>(n) < sizeof line) ? std::string(line, n) : std::string();
    return code;
}
