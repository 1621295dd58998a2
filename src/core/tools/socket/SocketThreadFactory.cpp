#include "tools/socket/SocketThreadFactory.h"

#include "logging/log.h"
#include "tools/socket/c_socket_recv_video.h"
#include "tools/socket/c_socket_send_video.h"
#include "tools/socket/u/u_channel_threads.h"

namespace {

socket_thread_pair create_video(const socket_channel_params &p)
{
    return {make_thread<c_socket_send_video>(p.socket, p.handler, p.queue, p.wait),
            make_thread<c_socket_recv_video>(p.socket, p.handler, p.inboundKey)};
}

struct kind_entry {
    int kind;
    socket_thread_pair (*create)(const socket_channel_params &);
};

// One line per channel kind.
constexpr kind_entry kKinds[] = {
    {SocketThreadFactory::kVideo, &create_video},
    {SocketThreadFactory::kMedia, &create_u_threads},
};

} // namespace

SocketThreadFactory &SocketThreadFactory::instance()
{
    static SocketThreadFactory factory;
    return factory;
}

socket_thread_pair SocketThreadFactory::create(int kind, const socket_channel_params &params) const
{
    if (!params.socket || !params.queue || !params.handler) {
        TLOG_ERROR << "SocketThreadFactory: channel " << kind
                   << " needs a socket, a queue and a handler";
        return {};
    }
    for (const kind_entry &entry : kKinds) {
        if (entry.kind == kind)
            return entry.create(params);
    }
    TLOG_ERROR << "SocketThreadFactory: unknown channel kind " << kind;
    return {};
}
