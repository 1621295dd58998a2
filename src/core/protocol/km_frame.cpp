#include "protocol/km_frame.h"

#include "encrypt/frame_cipher.h"
#include "logging/log.h"
#include "protocol/frame.h"

#include <cstring>

namespace {

constexpr int kEncipherAttempts = 3;

// Enciphers the plain body at `body` (plainLength bytes, room for the padded length) and
// checks that it deciphers back to the same type; the check guards against a cipher that
// produced garbage. Returns the wire length, 0 when every attempt failed.
std::uint32_t encipher_checked(const std::uint8_t key[8], std::uint8_t *body,
                               std::uint32_t plainLength)
{
    const std::uint32_t padded = (plainLength + 7) / 8 * 8;
    std::vector<std::uint8_t> cipher(padded);
    std::vector<std::uint8_t> check(padded);
    for (int attempt = 0; attempt < kEncipherAttempts; ++attempt) {
        std::uint32_t wire = plainLength;
        if (!des_encrypt_padded_b(key, body, cipher.data(), wire))
            continue;
        std::uint32_t back = wire;
        if (des_decrypt_unpadded_b(key, cipher.data(), check.data(), back) &&
            check[0] == body[0]) {
            std::memcpy(body, cipher.data(), wire);
            return wire;
        }
    }
    return 0;
}

} // namespace

std::uint32_t km_frame_size(std::uint8_t type, std::uint32_t payloadLength)
{
    if (type == kKmLogin)
        return 12 + payloadLength;
    return 20 + payloadLength - (payloadLength + 1) % 8;
}

bool build_km_frame(const std::uint8_t outboundKey[8], std::uint8_t type,
                    const std::uint8_t *payload, std::uint32_t payloadLength,
                    std::vector<std::uint8_t> &frame)
{
    frame.clear();
    if (payloadLength > kKmMaxPayload) {
        TLOG_ERROR << "build_km_frame: payload too long, type=" << type
                   << ",length=" << payloadLength;
        return false;
    }
    if (type != kKmLogin && outboundKey == nullptr) {
        TLOG_ERROR << "build_km_frame: no outbound key, type=" << type;
        return false;
    }
    const std::uint32_t plainLength = 1 + payloadLength;
    frame.assign(km_frame_size(type, payloadLength), 0);
    std::uint8_t *out = frame.data();
    out[0] = kFrameMagic;
    out[1] = kFrameVersion;
    write_be32(out + 3, plainLength);
    write_be32(out + 7, plainLength);
    out[kFrameHeaderSize] = type;
    if (payloadLength != 0)
        std::memcpy(out + kFrameHeaderSize + 1, payload, payloadLength);

    // A body that is already a whole number of blocks would keep its length when
    // enciphered, and receivers take equal lengths to mean a plain body: it goes plain.
    if (type != kKmLogin && plainLength % 8 != 0) {
        const std::uint32_t wire = encipher_checked(outboundKey, out + kFrameHeaderSize,
                                                    plainLength);
        if (wire == 0) {
            // A frame that claims to be ciphered but is not would be garbage to the device.
            TLOG_ERROR << "build_km_frame: encipher check failed, type=" << type;
            frame.clear();
            return false;
        }
        write_be32(out + 7, wire);
    }
    out[2] = sum8(out + kFrameHeaderSize, frame.size() - kFrameHeaderSize);
    return true;
}

std::vector<std::uint8_t> build_km_login_frame(std::uint32_t userID)
{
    std::uint8_t id[4];
    write_be32(id, userID);
    std::vector<std::uint8_t> frame;
    build_km_frame(nullptr, kKmLogin, id, sizeof id, frame);
    return frame;
}

std::vector<std::uint8_t> build_km_byte_frame(const std::uint8_t outboundKey[8],
                                              std::uint8_t type)
{
    const std::uint8_t zero = 0;
    std::vector<std::uint8_t> frame;
    build_km_frame(outboundKey, type, &zero, 1, frame);
    return frame;
}
