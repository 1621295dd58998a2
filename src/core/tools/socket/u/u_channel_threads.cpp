#include "tools/socket/u/u_channel_threads.h"

#include "tools/socket/u/c_socket_recv_u.h"
#include "tools/socket/u/c_socket_send_u.h"

socket_thread_pair create_u_threads(const socket_channel_params &params)
{
    auto send = make_thread<c_socket_send_u>(params.socket, params.handler, params.queue, params.wait);
    // The receive thread keeps the send thread's object for as long as it may answer.
    auto recv = make_thread<c_socket_recv_u>(params.socket, params.handler,
                                             [send](bool accepted) { send->on_answer(accepted); });
    return {std::move(send), std::move(recv)};
}
