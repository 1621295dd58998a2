#include "protocol/video_head.h"

#include "encrypt/frame_cipher.h"
#include "protocol/frame.h"
#include "protocol/message_types.h"

#include <cstring>

namespace {
constexpr std::uint32_t kHeadShift = kVideoCipheredHeadSize - kVideoHeadSize;
}

void write_video_head(std::uint8_t *head, bool last, std::uint32_t dataLength)
{
    std::memset(head, 0, kVideoHeadSize);
    head[0] = kMsgVideo;
    head[1] = last ? 1 : 0;
    write_be32(head + kVideoDataLengthOffset, dataLength);
}

std::uint32_t video_data_length(const std::uint8_t *body)
{
    return read_be32(body + kVideoDataLengthOffset);
}

bool video_fragment_is_last(const std::uint8_t *body)
{
    return body[1] == 1;
}

bool video_body_consistent(const std::uint8_t *body, std::uint32_t length)
{
    return length >= kVideoHeadSize &&
           std::uint64_t{length} == std::uint64_t{kVideoHeadSize} + video_data_length(body);
}

void encipher_video_head(const std::uint8_t key[8], const std::uint8_t *head, std::uint8_t *out)
{
    std::uint8_t padded[kVideoCipheredHeadSize];
    std::memcpy(padded, head, kVideoHeadSize);
    std::uint32_t length = kVideoHeadSize;
    des_encrypt_padded_b(key, padded, out, length);
}

bool decipher_video_head(const std::uint8_t key[8], std::uint8_t *body, std::uint32_t length)
{
    if (length < kVideoCipheredHeadSize)
        return false;
    std::uint8_t head[kVideoCipheredHeadSize];
    std::uint32_t headLength = kVideoCipheredHeadSize;
    des_decrypt_unpadded(key, body, head, headLength);
    if (head[0] != kMsgVideo)
        return false;
    // The padding strip may have eaten trailing zeros of the data length: the head is 12
    // bytes whatever the strip left.
    std::memcpy(body + kHeadShift, head, kVideoHeadSize);
    return true;
}
