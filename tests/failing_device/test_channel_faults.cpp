// Each device channel failing in the ways a real device or network fails: the window must
// neither crash nor freeze, must log what happened, must keep the other channels serving,
// and must close within its bound.
#include "failing_device_support.h"

#include "h264video.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

namespace {

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

class ChannelFault : public FailingDevice, public ::testing::WithParamInterface<std::string> {
protected:
    const std::string &channel() const { return GetParam(); }

    // What the viewer logs when the device ends this channel.
    std::string closed_line() const
    {
        if (channel() == "km")
            return "km socket closed by the device";
        return channel() == "video" ? "video_recv connection closed" : "u_recv connection closed";
    }

    // Types `text` (lower-case letters and blanks) on the window and waits until the remote
    // computer's console shows it.
    bool typing_reaches_console(const std::string &text)
    {
        for (char c : text)
            type_key(c == ' ' ? Qt::Key_Space : static_cast<Qt::Key>(Qt::Key_A + (c - 'a')));
        return wait_for([&] { return has(console(), text); }, kWaitMs);
    }

    // The channels the fault was not aimed at still serve: pictures arrive, and typed keys
    // reach the remote computer (they travel on the keyboard/mouse channel, sent by the media
    // channel's thread).
    void expect_others_serving()
    {
        if (channel() != "video") {
            EXPECT_TRUE(wait_new_pictures(2)) << "no pictures after a " << channel() << " fault";
        }
        if (channel() != "km") {
            EXPECT_TRUE(typing_reaches_console("kvm")) << console();
        }
    }
};

std::string channel_name(const ::testing::TestParamInfo<std::string> &info)
{
    return info.param == "km" ? "Km" : info.param == "video" ? "Video" : "Media";
}

} // namespace

INSTANTIATE_TEST_SUITE_P(EachChannel, ChannelFault, ::testing::Values("video", "km", "media"),
                         channel_name);

TEST_P(ChannelFault, ClosedByTheDeviceAsSoonAsConnected)
{
    ASSERT_EQ(sim_reply("next " + channel() + " close"), "ok");
    ASSERT_NO_FATAL_FAILURE(show_window());
    m_meter.restart();
    EXPECT_TRUE(wait_log(closed_line())) << log_text();
    if (channel() != "video") {
        EXPECT_TRUE(wait_for([&] { return !screen()->picture().isNull(); }, kWaitMs));
    }
    if (channel() != "km") {
        EXPECT_TRUE(wait_for([&] { return has(sim_reply("status"), "holder=1"); }, kWaitMs))
            << sim_reply("status");
    }
    expect_stall_and_close_bounds();
}

TEST_P(ChannelFault, ClosedByTheDeviceMidStream)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    m_meter.restart();
    ASSERT_EQ(sim_reply("close " + channel() + " 1"), "ok");
    EXPECT_TRUE(wait_log(closed_line())) << log_text();
    expect_others_serving();
    EXPECT_EQ(log_count(closed_line()), 1u);
    expect_stall_and_close_bounds();
}

// Accepted, but nothing the viewer sends is ever read or answered.
TEST_P(ChannelFault, DeviceAcceptsButNeverAnswers)
{
    ASSERT_EQ(sim_reply("next " + channel() + " mute"), "ok");
    ASSERT_NO_FATAL_FAILURE(show_window());
    m_meter.restart();
    if (channel() == "media") {
        // The login is the first frame the media thread waits on; it gives up after its bound.
        EXPECT_TRUE(wait_log("wait ack failed,")) << log_text();
    }
    if (channel() == "km") {
        // No privilege query was answered: the window never captures input.
        QTest::qWait(2500);
        EXPECT_TRUE(has(sim_reply("status"), "holder=0")) << sim_reply("status");
        EXPECT_TRUE(wait_new_pictures(2));
    } else {
        EXPECT_TRUE(wait_for([&] { return has(sim_reply("status"), "holder=1"); }, kWaitMs));
        if (channel() == "video") {
            QTest::qWait(2500);
            EXPECT_TRUE(screen()->picture().isNull()) << "a picture without a login";
            EXPECT_FALSE(has(log_text(), "video.userID.ack"));
        } else {
            EXPECT_TRUE(wait_new_pictures(2));
        }
    }
    expect_stall_and_close_bounds();
}

TEST_P(ChannelFault, GarbageFloodIsSkippedAndTheChannelStaysInStep)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    m_meter.restart();
    for (int i = 0; i < 24; ++i) {
        ASSERT_EQ(sim_reply("garbage " + channel() + " 1 65536"), "ok");
        QTest::qWait(5);
    }
    // The garbage never holds the magic byte: the channel itself goes on working too.
    EXPECT_TRUE(wait_new_pictures(3));
    EXPECT_TRUE(typing_reaches_console("ok"));
    EXPECT_FALSE(has(log_text(), closed_line()));
    expect_stall_and_close_bounds();
}

// A header announcing a body of almost 2 GiB: discarded, never allocated.
TEST_P(ChannelFault, OversizedFrameIsDiscarded)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    m_meter.restart();
    ASSERT_EQ(sim_reply("oversize " + channel() + " 1"), "ok");
    EXPECT_TRUE(wait_log("bytes exceeds the receive buffer")) << log_text();
    expect_others_serving();
    expect_stall_and_close_bounds();
}

// A body too short for its type, a wrong checksum, then half a header after which the device
// carries on: the reader takes the next frame's bytes as the rest of that header (and may
// then be discarding a body that never ends).
TEST_P(ChannelFault, TruncatedAndShortFramesDoNotDerailTheWindow)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    m_meter.restart();
    ASSERT_EQ(sim_reply("malformed " + channel() + " 1 short"), "ok");
    ASSERT_EQ(sim_reply("malformed " + channel() + " 1 checksum"), "ok");
    if (channel() == "media") {
        EXPECT_TRUE(wait_log("short media message")) << log_text();
    }
    if (channel() == "video") {
        // Lengths that differ mark a ciphered head, but the body cannot hold one.
        ASSERT_EQ(sim_reply("malformed video 1 cipher"), "ok");
        EXPECT_TRUE(wait_log("video frame marked ciphered with a body of only")) << log_text();
    }
    ASSERT_EQ(sim_reply("malformed " + channel() + " 1 header"), "ok");
    QTest::qWait(1000);
    expect_others_serving();
    expect_stall_and_close_bounds();
}

// The device stops reading what the viewer sends, then catches up.
TEST_P(ChannelFault, SlowReaderHoldsNothingUpOnTheGuiThread)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    m_meter.restart();
    ASSERT_EQ(sim_reply("stall " + channel() + " 1"), "ok");
    for (int i = 0; i < 30; ++i) {
        type_key(Qt::Key_X);
        QTest::qWait(20);
    }
    QTest::qWait(1500);
    ASSERT_EQ(sim_reply("resume " + channel() + " 1"), "ok");
    EXPECT_TRUE(wait_new_pictures(2));
    EXPECT_TRUE(typing_reaches_console("go")) << console();
    expect_stall_and_close_bounds();
}

TEST_F(FailingDevice, KeyboardChannelClosedWhileKeysAreQueued)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    m_meter.restart();
    for (int i = 0; i < 40; ++i)
        type_key(static_cast<Qt::Key>(Qt::Key_A + i % 26));
    ASSERT_EQ(sim_reply("close km 1"), "ok");
    EXPECT_TRUE(wait_log("km socket closed by the device")) << log_text();
    for (int i = 0; i < 10; ++i)
        type_key(Qt::Key_Z); // after the close: dropped, never sent on a dead socket
    EXPECT_TRUE(wait_new_pictures(2));
    expect_stall_and_close_bounds();
}

TEST_F(FailingDevice, VideoChannelClosedInsideAFrame)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    m_meter.restart();
    // Half a header and the connection ends: the reader is inside a frame when it closes.
    ASSERT_EQ(sim_reply("malformed video 1 header"), "ok");
    ASSERT_EQ(sim_reply("close video 1"), "ok");
    EXPECT_TRUE(wait_log("video_recv connection closed")) << log_text();
    EXPECT_FALSE(screen()->picture().isNull()) << "the last picture stays";
    EXPECT_TRUE(wait_for([&] { return has(sim_reply("status"), "holder=1"); }, kWaitMs));
    expect_stall_and_close_bounds();
}
