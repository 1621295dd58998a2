#include "loopback.h"
#include "video_test_support.h"

#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_abs_thread.h"
#include "video/c_video_session.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace socket_test;

namespace {

// A session connected to a listener playing the device, which sends `pictures` pictures;
// `decoded` runs on the receive thread for every decoded picture.
struct VideoSession : ::testing::Test {
    void open(int pictures, std::function<void(const video_picture &)> decoded)
    {
        QObject::connect(&session, &c_video_session::picture_decoded, &session, std::move(decoded),
                         Qt::DirectConnection);
        connect_and_send(pictures);
    }
    void connect_and_send(int pictures)
    {
        ASSERT_TRUE(session.open({"127.0.0.1", listener.port(), 0, {}}));
        peer = listener.accept_one();
        for (const auto &picture : encode_pictures(pictures, 64, 48)) {
            const std::vector<std::uint8_t> body = video_body(1, picture);
            bytesSent += body.size();
            ASSERT_TRUE(write_fd(peer.get(), frame_bytes(body)));
        }
    }
    std::uint64_t bytesSent = 0;
    loopback_listener listener;
    unique_fd peer;
    c_video_session session;
};

} // namespace

// The receive thread is still inside the picture path (a slow taker of a decoded picture)
// when the session stops and gives up waiting for the thread: stop() returns only once the
// thread has left, for the picture path it was in is released then.
TEST_F(VideoSession, StopReturnsOnlyOnceTheReceiveThreadLeftThePicturePath)
{
    std::atomic<int> entered{0}, left{0};
    open(1, [&](const video_picture &) {
        ++entered;
        const auto *self = qobject_cast<const c_abs_thread *>(QThread::currentThread());
        if (eventually([self] { return !self->running(); }, 10s))
            std::this_thread::sleep_for(
                std::chrono::milliseconds(SocketChannel::kStopWaitMs + SocketChannel::kCloseGraceMs + 300));
        ++left;
    });
    ASSERT_TRUE(eventually([&] { return entered.load() == 1; }));
    session.stop();
    EXPECT_EQ(left.load(), 1) << "stop() returned with the receive thread in the picture path";
}

// While the GUI thread is busy, every decoded picture waits for it, but only the newest is
// handed on once it is free; the others are skipped (no backlog).
TEST_F(VideoSession, ABusyGuiThreadIsHandedOnlyTheNewestPicture)
{
    int argc = 1;
    char name[] = "test_video", *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv); // the hand-over needs an event loop on this thread
    std::atomic<int> decoded{0};
    std::atomic<const std::uint8_t *> newest{nullptr};
    std::vector<const std::uint8_t *> handed;
    QObject::connect(&session, &c_video_session::picture_ready, &session,
                     [&](const video_picture &picture) { handed.push_back(picture.data()); });
    open(8, [&](const video_picture &picture) {
        newest = picture.data();
        ++decoded;
    });
    ASSERT_TRUE(eventually([&] { return decoded.load() == 8; })); // no events run
    EXPECT_EQ(session.pictures_waiting(), 8);
    QCoreApplication::sendPostedEvents(&session);
    EXPECT_EQ(handed, std::vector<const std::uint8_t *>{newest.load()});
    EXPECT_EQ(session.pictures_skipped(), 7u);
    EXPECT_EQ(session.statistics().picturesShown, 1u);
    EXPECT_EQ(session.statistics().picturesSkipped, 7u);
    EXPECT_EQ(session.pictures_waiting(), 0);
}

// The figures count what the picture path took and decoded, and a new connection adds to
// them instead of starting again.
TEST_F(VideoSession, FiguresAddUpOverConnections)
{
    std::atomic<int> decoded{0};
    open(3, [&](const video_picture &) { ++decoded; });
    ASSERT_TRUE(eventually([&] { return decoded.load() == 3; }));
    connect_and_send(2);
    ASSERT_TRUE(eventually([&] { return decoded.load() == 5; }));
    const video_statistics figures = session.statistics();
    EXPECT_EQ(figures.picturesDecoded, 5u);
    EXPECT_EQ(figures.bytesReceived, bytesSent);
    EXPECT_EQ(figures.picturesDropped, 0u);
    EXPECT_GT(figures.decodeUs, 0);
    const video_rates rates = video_rates_between({}, figures, 500);
    EXPECT_DOUBLE_EQ(rates.receivedPerSecond, 10.0);
    EXPECT_DOUBLE_EQ(rates.bitsPerSecond, double(bytesSent) * 16);
}
