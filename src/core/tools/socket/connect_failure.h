#pragma once

#include <cstdint>
#include <string>

// Plain words for why a channel's connect failed, from the errno that c_tcp_sock recorded
// (c_tcp_sock::last_connect_error): "connection refused", "no route to the device",
// "timed out", "invalid address", else the system's own text. Pure; any thread.
std::string connect_failure_cause(int error);

// The text of a start-up failure box: `firstLine` as it stands ("KM connect error."), then
// one line naming the channel, the device's address and port and the cause, e.g.
// "keyboard and mouse channel, 10.0.0.5:5901: connection refused". Pure; any thread.
std::string start_failure_text(const std::string &firstLine, const std::string &channel,
                               const std::string &ip, std::uint16_t port,
                               const std::string &cause);
