#pragma once

#include "protocol/message_types.h"
#include "tools/socket/mt_queue.h"

#include <cstdint>

// The login of the video and virtual media channels: a plain type-50 frame carrying the user
// identifier big-endian, built in a 512-byte buffer and tagged "notU", flag 0. Any thread.
CQUEUE_MESSAGE make_login_message(std::uint32_t userID);
