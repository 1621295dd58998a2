// The simulator's own logic: its receive splitter against the byte layouts viewers send, the
// write privilege among viewers and the control-line grammar. (Typing into the emulated
// keyboard and the media exchange are exercised end to end through the viewer.)
#include "c_control_parser.h"
#include "c_privilege_arbiter.h"
#include "c_sim_frame_splitter.h"
#include "protocol/km_frame.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using status = c_sim_frame_splitter::status;

const std::uint8_t kKey[8] = {0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};
// The login frame for user 7, byte for byte as viewers send it.
const bytes kLogin7 = {0xA5, 0x01, 0x39, 0, 0, 0, 5, 0, 0, 0, 5, 0x32, 0, 0, 0, 7};

bytes km_frame(std::uint8_t type, const bytes &payload)
{
    bytes frame;
    EXPECT_TRUE(build_km_frame(kKey, type, payload.data(), static_cast<std::uint32_t>(payload.size()), frame));
    return frame;
}

TEST(SimSplitter, GoldenLoginFrameByteByByteAfterGarbage)
{
    c_sim_frame_splitter splitter(4096, kKey);
    bytes stream = {0x00, 0x13, 0xA5, 0x02, 0x77}; // garbage, with a stray magic
    stream.insert(stream.end(), kLogin7.begin(), kLogin7.end());
    for (std::size_t i = 0; i + 1 < stream.size(); ++i) {
        splitter.feed(&stream[i], 1);
        EXPECT_EQ(splitter.next(), status::need_more);
    }
    splitter.feed(&stream.back(), 1);
    ASSERT_EQ(splitter.next(), status::frame);
    EXPECT_EQ(splitter.body(), (bytes{0x32, 0, 0, 0, 7}));
    EXPECT_FALSE(splitter.was_ciphered());
    EXPECT_EQ(splitter.take_skipped(), 5u);
}

TEST(SimSplitter, FramesInOneStreamBadOnesDroppedZeroFillSkipped)
{
    bytes badSum = kLogin7;
    badSum[2] ^= 0xFF;
    bytes badCipher = {0xA5, 0x01, 28, 0, 0, 0, 5, 0, 0, 0, 7, 1, 2, 3, 4, 5, 6, 7}; // lengths wrong
    const bytes empty = {0xA5, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // Shift+A ends in five zero bytes, which the decipher strip alone would eat; a whole
    // block travels plain, followed by 8 zero fill bytes.
    const bytes parts[] = {km_frame(3, {0x02, 0, 0x04, 0, 0, 0, 0, 0}), badSum, badCipher, empty,
                           km_frame(9, {1, 2, 3, 4, 5, 6, 0}), kLogin7};
    c_sim_frame_splitter splitter(4096, kKey);
    for (const bytes &part : parts)
        splitter.feed(part.data(), part.size());
    std::vector<bytes> bodies;
    std::vector<status> drops;
    for (status s = splitter.next(); s != status::need_more; s = splitter.next()) {
        if (s == status::frame)
            bodies.push_back(splitter.body());
        else
            drops.push_back(s);
    }
    EXPECT_EQ(bodies, (std::vector<bytes>{{3, 0x02, 0, 0x04, 0, 0, 0, 0, 0},
                                          {9, 1, 2, 3, 4, 5, 6, 0},
                                          {0x32, 0, 0, 0, 7}}));
    EXPECT_EQ(drops, (std::vector<status>{status::bad_checksum, status::bad_cipher}));
}

TEST(SimSplitter, OversizedWireLengthStopsTheConnection)
{
    const bytes huge = {0xA5, 0x01, 0, 0x7F, 0xFF, 0xFF, 0xF0, 0x7F, 0xFF, 0xFF, 0xF0, 1, 2, 3};
    c_sim_frame_splitter splitter(4096, kKey);
    splitter.feed(huge.data(), huge.size());
    EXPECT_EQ(splitter.next(), status::too_long);
    splitter.feed(kLogin7.data(), kLogin7.size());
    EXPECT_EQ(splitter.next(), status::too_long) << "nothing after it can be trusted";
}

using msg = c_privilege_arbiter::message;

// One step of a privilege script: 'q' query, 'r' request, 'a' answer (value), 'd'
// disconnect, and the messages it yields; 'h' checks that the viewer is the holder and that
// only the holder may write.
struct step {
    char op;
    int viewer;
    std::uint8_t value;
    std::vector<msg> out;
};

const std::vector<step> kPrivilegeScripts[] = {
    {// The first query holds; busy while one request waits; only the holder answers.
     {'q', 1, 0, {{1, 23, 1}}}, {'q', 2, 0, {{2, 23, 0}}}, {'q', 1, 0, {{1, 23, 1}}}, {'h', 1},
     {'r', 2, 0, {{2, 20, 1}, {1, 21, 0}}}, {'r', 3, 0, {{3, 20, 2}}}, {'a', 2, 0, {}},
     {'a', 1, 1, {{2, 22, 1}, {2, 20, 0}}}, {'h', 1}, {'a', 1, 0, {}},
     {'r', 2, 0, {{2, 20, 1}, {1, 21, 0}}}, {'a', 1, 0, {{2, 22, 0}, {1, 23, 0}}}, {'h', 2}},
    {// Disconnects free the privilege or pass it to the one waiting.
     {'q', 1, 0, {{1, 23, 1}}}, {'q', 2, 0, {{2, 23, 0}}}, {'d', 1, 0, {}}, {'h', 0},
     {'r', 2, 0, {{2, 22, 0}}}, {'q', 3, 0, {{3, 23, 0}}}, {'r', 3, 0, {{3, 20, 1}, {2, 21, 0}}},
     {'d', 2, 0, {{3, 22, 0}}}, {'h', 3}, {'r', 4, 0, {{4, 20, 1}, {3, 21, 0}}}, {'d', 4, 0, {}},
     {'r', 5, 0, {{5, 20, 1}, {3, 21, 0}}}},
};

TEST(SimPrivilege, ScriptsOfQueriesRequestsAnswersAndDisconnects)
{
    for (const auto &script : kPrivilegeScripts) {
        c_privilege_arbiter p;
        for (std::size_t i = 0; i < script.size(); ++i) {
            const step &s = script[i];
            if (s.op == 'h') {
                EXPECT_EQ(p.holder(), s.viewer) << "step " << i;
                for (int v = 1; v <= 5; ++v)
                    EXPECT_EQ(p.may_write(v), v == s.viewer) << "step " << i << " viewer " << v;
                continue;
            }
            const std::vector<msg> got = s.op == 'q' ? p.on_query(s.viewer)
                                       : s.op == 'r' ? p.on_request(s.viewer)
                                       : s.op == 'a' ? p.on_answer(s.viewer, s.value)
                                                     : p.on_disconnect(s.viewer);
            EXPECT_TRUE(got == s.out) << "step " << i << " (" << s.op << " " << s.viewer << ")";
        }
    }
}

TEST(SimControlGrammar, LinesAreParsedOrRefusedWithUsage)
{
    control_command c;
    std::string error;
    ASSERT_TRUE(parse_control_line("send km 2 15 00 0a", c, error)) << error;
    EXPECT_EQ(c.viewer, 2);
    EXPECT_EQ(c.bytes, (std::vector<std::uint8_t>{0x15, 0x00, 0x0A}));
    ASSERT_TRUE(parse_control_line("ack 0x20 0 1", c, error)) << error;
    EXPECT_EQ(c.first, 32u);
    const std::pair<const char *, const char *> refused[] = {
        {"frobnicate", "unknown command \"frobnicate\" (try help)"},
        {"send km 1 0", "usage: send CH ID HEX..."}, // odd digit count
        {"send disk 1 00", "usage: send CH ID HEX..."},
        {"priv 1 19 0", "usage: priv ID TYPE VALUE"}, // not a privilege type
        {"read 0 65536", "usage: read S N"},
        {"read 4294967296 1", "usage: read S N"},
        {"write 0 1 xyz", "usage: write S N PATTERN"},
        {"next km later", "usage: next CH close|mute|normal"},
    };
    for (const auto &[line, usage] : refused) {
        EXPECT_FALSE(parse_control_line(line, c, error)) << line;
        EXPECT_EQ(error, usage) << line;
    }
}

} // namespace
