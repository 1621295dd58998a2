// Writes the seed corpus of the fuzz targets: `fuzz_make_seeds <folder>` fills
// <folder>/<target>/ with the reference frames and texts of the unit tests, a few device
// conversations, and a short encoded test stream. Run by hand when the protocol changes;
// the result is committed as fuzz/corpus/.
#include "encrypt/frame_cipher.h"
#include "protocol/frame.h"
#include "video/H264Encoder.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

const std::uint8_t kInboundKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

fs::path g_root;

void put(const char *target, const std::string &name, const bytes &content)
{
    const fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char *>(content.data()), std::streamsize(content.size()));
}

void put_text(const char *target, const std::string &name, const std::string &text)
{
    put(target, name, bytes(text.begin(), text.end()));
}

bytes cat(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A frame: header with both lengths = body size unless `plainLength` says otherwise.
bytes frame(const bytes &body, long plainLength = -1)
{
    bytes out(kFrameHeaderSize);
    out[0] = kFrameMagic;
    out[1] = kFrameVersion;
    out[2] = sum8(body.data(), body.size());
    write_be32(out.data() + 3, plainLength < 0 ? std::uint32_t(body.size()) : std::uint32_t(plainLength));
    write_be32(out.data() + 7, std::uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A whole body ciphered under `key` (padded), plain length = the body's.
bytes ciphered_frame(const std::uint8_t key[8], const bytes &body)
{
    bytes wire(body);
    wire.resize((body.size() + 7) / 8 * 8);
    std::uint32_t length = std::uint32_t(body.size());
    des_encrypt_padded_b(key, wire.data(), wire.data(), length);
    wire.resize(length);
    bytes out = frame(wire, long(body.size()));
    if (length == body.size()) // already whole blocks: mark it ciphered all the same
        write_be32(out.data() + 3, std::uint32_t(body.size()) - 1);
    return out;
}

bytes video_body(std::uint8_t last, const bytes &data)
{
    bytes body{6, last, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    write_be32(body.data() + 8, std::uint32_t(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

// The video frame with its first 12 body bytes in a ciphered 16-byte head.
bytes video_ciphered_frame(const bytes &plainBody)
{
    std::uint8_t head[16] = {};
    for (int i = 0; i < 12; ++i)
        head[i] = plainBody[std::size_t(i)];
    head[12] = 0x80;
    bytes wire(16);
    des_encrypt_block(kInboundKey, head, wire.data());
    des_encrypt_block(kInboundKey, head + 8, wire.data() + 8);
    wire.insert(wire.end(), plainBody.begin() + 12, plainBody.end());
    return frame(wire, long(plainBody.size()));
}

// RGB32 test picture with gradients and a bar.
bytes picture(int w, int h, int phase)
{
    bytes px(std::size_t(w) * std::size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t *p = &px[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 4];
            const bool bar = ((x + phase * 4) / 8) % 4 == 0;
            p[0] = std::uint8_t(x * 4);
            p[1] = std::uint8_t(y * 5);
            p[2] = bar ? 255 : std::uint8_t((x + y) * 3);
            p[3] = 255;
        }
    return px;
}

std::vector<bytes> encoded_stream(int w, int h, int count)
{
    H264Encoder encoder;
    h264_encoder_config config;
    config.width = w;
    config.height = h;
    config.crf = 35;
    std::vector<bytes> out;
    if (!encoder.open(config))
        return out;
    for (int i = 0; i < count; ++i) {
        const bytes px = picture(w, h, i);
        bytes coded;
        if (encoder.encode(px.data(), w, h, w * 4, coded))
            out.push_back(coded);
    }
    return out;
}

void launch_seeds()
{
    const char *t = "fuzz_launch";
    put_text(t, "well_formed", "{ip:192.168.1.10,portKM:5901,portV:5900,portMedia:5918,priv:1,"
                               "dogID:0,mouseMode:0,userNM:admin,userID:7,"
                               "desEncode:0123456789abcdef,desDecode:FEDCBA9876543210}");
    put_text(t, "json_quoted", R"({"ip":"10.0.0.1","portKM":"5901","userNM":"bob","desEncode":"0123456789abcdef"})");
    put_text(t, "percent", "{ip%3A10.0.0.1%2CportKM%3A5901%2CuserNM%3Abob%2CportMedia%3A0}");
    put_text(t, "serial_bridge", "{ip:1.2.3.4,portCOM:4001}");
    put_text(t, "key_blanks", "{desDecode:01 23 45 67 89 ab cd ef;,desEncode:13579bdf}");
    put_text(t, "odd_items", "{ ip:1.2.3.4,portKM:5,userID:7,userID:9,ipAddress:5.6.7.8,userNMx:a:b:c,priv}");
    put_text(t, "long", "{userID:5," + std::string(1100, 'x') + "}");
}

void des_seeds()
{
    const char *t = "fuzz_des";
    const bytes key(kInboundKey, kInboundKey + 8);
    // The published single-block vector: 0123456789ABCDEF enciphers to 85E813540F0AB405.
    put(t, "fips_block", cat({key, {0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05}}));
    std::uint8_t buf[8] = {3, 0};
    std::uint32_t len = 2;
    des_encrypt_padded_b(kInboundKey, buf, buf, len);
    put(t, "km_ack_padded", cat({key, bytes(buf, buf + 8)}));
    put(t, "two_blocks", cat({key, bytes(16, 0x5A)}));
    put(t, "not_whole_blocks", cat({key, bytes(12, 0x80)}));
}

void settings_seeds()
{
    put_text("fuzz_config_xml", "installed",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n    <mouseRate>50</mouseRate>\n</config>\n");
    put_text("fuzz_config_xml", "kept_parts",
             "<config version=\"2\">\n    <window width=\"800\" height=\"600\">kept &amp; text</window>\n"
             "    <mouseRate>50</mouseRate>\n    <mouseRate>7</mouseRate>\n</config>\n");
    put_text("fuzz_config_xml", "bad_rate", "<config><mouseRate> 101 </mouseRate></config>");
    put_text("fuzz_key_xml", "installed",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<systemKey>\n    <common>\n"
             "        <key name=\"Ctrl+Alt+Del\">\n"
             "            <keyValue value=\"16777249\" str=\"Control\"/>\n"
             "            <keyValue value=\"16777251\" str=\"Alt\"/>\n"
             "            <keyValue value=\"16777223\" str=\"Delete\"/>\n        </key>\n"
             "        <key name=\"Win\">\n            <keyValue value=\"16777250\" str=\"Win\"/>\n"
             "        </key>\n    </common>\n</systemKey>\n");
    put_text("fuzz_key_xml", "kept_parts",
             "<root owner=\"me\">\n    <profile id=\"7\" lang=\"de\">Tastatur &lt;DE&gt;</profile>\n"
             "    <common>\n        <key name=\"old\">\n            <keyValue value=\"65\" str=\"A\"/>\n"
             "        </key>\n        <key name=\"\"><keyValue value=\"-1\" str=\"&#x41;&amp;\"/></key>\n"
             "        <key><keyValue value=\"x\" str=\"B\"/></key>\n    </common>\n</root>\n");
}

void video_seeds()
{
    const char *t = "fuzz_video_stream";
    const bytes plainOpts{0x00};
    put(t, "acks", cat({plainOpts, frame({50, 0}), frame({50, 1}), frame({30, 0, 0}),
                        frame({31, 0, 1}), frame({32}), frame({4, 7}), frame({1, 0}),
                        frame({2, 5, 0}), frame({2, 2, 1}), frame({12}), frame({99, 1})}));
    const std::vector<bytes> stream = encoded_stream(64, 48, 3);
    if (stream.size() == 3) {
        bytes all = plainOpts;
        for (const bytes &picture : stream)
            all = cat({all, frame(video_body(1, picture))});
        put(t, "pictures", all);

        // The key frame in three fragments, in pieces of 7 bytes per read, after garbage.
        const bytes &key = stream[0];
        const std::size_t third = key.size() / 3;
        const bytes a(key.begin(), key.begin() + long(third));
        const bytes b(key.begin() + long(third), key.begin() + long(2 * third));
        const bytes c(key.begin() + long(2 * third), key.end());
        put(t, "fragments", cat({{0x07}, {0x00, 0x13, 0xA4}, frame(video_body(0, a)),
                                 frame(video_body(0, b)), frame(video_body(1, c)),
                                 frame(video_body(1, stream[1]))}));
        put(t, "ciphered_head", cat({plainOpts, video_ciphered_frame(video_body(1, key)),
                                     video_ciphered_frame(video_body(1, stream[1]))}));
        // A fragment refused for its length between two that are taken.
        bytes bad = video_body(0, b);
        bad[11] = std::uint8_t(bad[11] + 1);
        put(t, "refused_fragment", cat({{0x80}, frame(video_body(0, a)), frame(bad),
                                        frame(video_body(1, c))}));
    }
}

void km_seeds()
{
    const char *t = "fuzz_km_stream";
    put(t, "answers", cat({{0x00}, frame({3, 0}), frame({3, 1}), frame({5, 1}), frame({20, 0}),
                           frame({50, 0}), frame({3}), frame({99})}));
    put(t, "privilege", cat({{0x00}, frame({23, 1}), frame({21}), frame({22, 1}), frame({23, 0}),
                             frame({20, 1}), frame({22, 0})}));
    bytes badSum = frame({3, 1});
    badSum[2] = std::uint8_t(badSum[2] + 1);
    put(t, "ciphered", cat({{0x05}, ciphered_frame(kInboundKey, {3, 0}),
                            ciphered_frame(kInboundKey, {23, 1}), badSum,
                            ciphered_frame(kInboundKey, {50, 0, 0, 0, 0, 0, 0, 0})}));
}

void media_seeds()
{
    const char *t = "fuzz_media_stream";
    put(t, "acks", cat({{0x00}, frame({0x32, 9}), frame({0x07, 1, 0}), frame({0x07, 1, 3}),
                        frame({0x09, 1, 0}), frame({0x09, 0, 0}), frame({0x55, 1, 2})}));
    auto instruction = [](std::uint8_t mode, std::uint32_t start, std::uint16_t count) {
        bytes body{0x08, mode, 0, 0, 0, 0, 0, 0};
        write_be32(body.data() + 2, start);
        write_be16(body.data() + 6, count);
        return frame(body);
    };
    auto write_data = [](std::uint32_t start, std::uint16_t index, std::uint8_t fill) {
        bytes body{0x0A, 1, 0, 0, 0, 0, 0, 0};
        write_be32(body.data() + 2, start);
        write_be16(body.data() + 6, index);
        body.resize(8 + 512, fill);
        return frame(body);
    };
    put(t, "write_batch", cat({{0x00}, instruction(2, 3, 2), write_data(3, 0, 0xEE),
                               write_data(0xFFFFFFFFu, 1, 0), write_data(3, 1, 0x11),
                               instruction(0, 0, 0)}));
    put(t, "read_and_past_end", cat({{0x00}, instruction(1, 0, 4), instruction(1, 14, 8),
                                     instruction(2, 15, 3), write_data(15, 2, 0x22),
                                     write_data(0xFFFFFFFEu, 5, 0x33)}));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    launch_seeds();
    des_seeds();
    settings_seeds();
    video_seeds();
    km_seeds();
    media_seeds();
    return 0;
}
