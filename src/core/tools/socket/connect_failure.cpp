#include "tools/socket/connect_failure.h"

#include <cerrno>
#include <cstring>

std::string connect_failure_cause(int error)
{
    switch (error) {
    case ECONNREFUSED: return "connection refused";
    // The device's network is known but nothing answers on it, or no route leads there.
    case EHOSTUNREACH: case ENETUNREACH: case ENETDOWN: case EHOSTDOWN:
        return "no route to the device";
    case ETIMEDOUT: return "timed out";
    case EINVAL: case EADDRNOTAVAIL: case EAFNOSUPPORT: case EDESTADDRREQ:
        return "invalid address";
    case 0: return "unknown cause";
    default: return std::strerror(error);
    }
}

std::string start_failure_text(const std::string &firstLine, const std::string &channel,
                               const std::string &ip, std::uint16_t port,
                               const std::string &cause)
{
    return firstLine + "\n" + channel + " channel, " + ip + ":" + std::to_string(port) + ": " +
           cause;
}
