#include "protocol/login_message.h"

#include "protocol/frame.h"

namespace {
constexpr std::uint32_t kFrameBufferSize = 512;
}

CQUEUE_MESSAGE make_login_message(std::uint32_t userID)
{
    const std::uint8_t type = kMsgLogin;
    std::uint8_t id[4];
    write_be32(id, userID);
    std::shared_ptr<std::uint8_t[]> buffer(new std::uint8_t[kFrameBufferSize]());
    std::uint32_t length = 0;
    build_frame({{1, &type}, {4, id}}, buffer.get(), kFrameBufferSize, length);
    return CQUEUE_MESSAGE(length, std::move(buffer), 0, 0, QStringLiteral("notU"));
}
