#pragma once

#include "tools/socket/SocketThreadFactory.h"

// The thread pair of a virtual media channel (SocketThreadFactory::kMedia): c_socket_send_u
// and c_socket_recv_u on the params' socket and queue, the receive thread delivering to the
// params' handler. Created, not started. Any thread.
socket_thread_pair create_u_threads(const socket_channel_params &params);
