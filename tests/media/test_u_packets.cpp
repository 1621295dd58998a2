#include "media/u_packets.h"
#include "tools/socket/u/c_socket_send_u.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

bytes frame_of(const CQUEUE_MESSAGE &msg)
{
    return bytes(msg.buffer.get(), msg.buffer.get() + msg.length);
}

} // namespace

// Hand-computed frames: header A5 01, sum of the body, body length twice (BE), body.
TEST(MediaPackets, FramesAreByteExactAndFlagTheLastOfABatch)
{
    const CQUEUE_MESSAGE map = make_u_map_pak(1, 0x81, 0x00012345);
    EXPECT_EQ(frame_of(map), (bytes{0xA5, 0x01, 0xF2, 0, 0, 0, 7, 0, 0, 0, 7, 0x07, 0x01, 0x81, 0x00, 0x01, 0x23, 0x45}));
    EXPECT_EQ(frame_of(make_u_map_pak(1, 0x00, 0)), (bytes{0xA5, 0x01, 0x08, 0, 0, 0, 7, 0, 0, 0, 7, 0x07, 0x01, 0, 0, 0, 0, 0}));
    const CQUEUE_MESSAGE ask = make_u_ask_pak(1, 0);
    EXPECT_EQ(frame_of(ask), (bytes{0xA5, 0x01, 0x09, 0, 0, 0, 3, 0, 0, 0, 3, 0x08, 0x01, 0x00}));
    EXPECT_EQ(map.flag + ask.flag, 0);

    const CQUEUE_MESSAGE pak = make_u_pak10(1, 0x0102, true);
    EXPECT_EQ(frame_of(pak), (bytes{0xA5, 0x01, 0x0E, 0, 0, 0, 4, 0, 0, 0, 4, 0x0A, 0x01, 0x01, 0x02}));
    EXPECT_EQ(pak.flag, 1);
    EXPECT_EQ(make_u_pak10(1, 7, false).flag, 0);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^pak10_\\d\\d_\\d\\d\\d$")).match(pak.tag).hasMatch()) << pak.tag.toStdString();

    const bytes sector(512, 0x01);
    const CQUEUE_MESSAGE read = make_u_read_data_pak(1, 0x11223344, 5, sector.data(), 512, false);
    const bytes frame = frame_of(read);
    // 09+01+11+22+33+44+00+05 = 0xB9; 512 bytes of 1 add 0 modulo 256.
    ASSERT_EQ(frame.size(), 531u);
    EXPECT_EQ(bytes(frame.begin(), frame.begin() + 19), (bytes{0xA5, 0x01, 0xB9, 0, 0, 0x02, 0x08, 0, 0, 0x02, 0x08, 0x09, 0x01, 0x11, 0x22, 0x33, 0x44, 0x00, 0x05}));
    EXPECT_EQ(bytes(frame.begin() + 19, frame.end()), sector);
    EXPECT_EQ(read.flag, 0);
    EXPECT_EQ(make_u_read_data_pak(1, 0, 0, sector.data(), 512, true).flag, 1);

    EXPECT_EQ(c_socket_send_u::frame_label(ask), "pak_ask");
    EXPECT_EQ(c_socket_send_u::frame_label(read), "pak_readData");
    EXPECT_EQ(c_socket_send_u::frame_label(pak), "pak_Type=10");
}

TEST(MediaPackets, ReadDataNeverReadsPastShortData)
{
    const bytes half(100, 0xEE);
    const CQUEUE_MESSAGE pak = make_u_read_data_pak(1, 0, 0, half.data(), 100, true);
    ASSERT_EQ(pak.length, 531u);
    EXPECT_EQ(pak.buffer[19 + 99], 0xEE);
    EXPECT_EQ(pak.buffer[19 + 100], 0x00);
    EXPECT_EQ(u_frame_type(pak), 0x09);
}
