#include "tools/socket/u/u_channel_threads.h"

#include "tools/socket/u/c_socket_recv_u.h"
#include "tools/socket/u/c_socket_send_u.h"

socket_thread_pair create_u_threads(const socket_channel_params &params)
{
    return {make_thread<c_socket_send_u>(params.socket, params.handler, params.queue, params.wait),
            make_thread<c_socket_recv_u>(params.socket, params.handler, params.queue)};
}
