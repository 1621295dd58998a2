#pragma once

#include <string>

// Describes the last system error of the calling thread (errno; sockets report through errno
// too, socketError only documents the caller's intent) as
// "ErrorInfo:File:utils.cpp,Line:N,Function:<function> errorCode <code>: <system text>".
// Returns the error code; the text goes to `out`.
int get_error_info(const char *function, bool socketError, std::string &out);
