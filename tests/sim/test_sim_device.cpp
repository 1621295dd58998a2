// The simulator in-process on free ports, driven by clients that read the wire as viewers do.
#include "c_sim_runner.h"
#include "sim_test_support.h"
#include "video/FrameAssembler.h"
#include "video/H264Decoder.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using kind = c_sim_connection::kind;
using bytes = std::vector<std::uint8_t>;

struct sim_device_test : ::testing::Test {
    std::unique_ptr<c_sim_runner> sim;

    void start(const c_sim_options &options = test_sim_options())
    {
        sim = std::make_unique<c_sim_runner>(options);
        QString error;
        ASSERT_TRUE(sim->start(error)) << error.toStdString();
    }
    std::unique_ptr<sim_client> client(sim_client::channel channel, kind port)
    {
        auto c = std::make_unique<sim_client>(channel);
        EXPECT_TRUE(c->connect_to(sim->port(port)));
        return c;
    }
    // A keyboard/mouse session logged in, with the privilege state the device answered.
    std::unique_ptr<sim_client> km_viewer(std::uint8_t expectedPrivilege)
    {
        auto km = client(sim_client::channel::km, kind::km);
        km->send_login();
        received_frame f;
        EXPECT_TRUE(km->next_of_type(50, f));
        EXPECT_EQ(f.body, (bytes{50, 0}));
        km->send_km(23, {0});
        EXPECT_TRUE(km->next_of_type(23, f));
        EXPECT_EQ(f.body, (bytes{23, expectedPrivilege}));
        return km;
    }
    void type(sim_client &km, std::uint8_t modifiers, std::uint8_t key, std::uint8_t expectAck = 0)
    {
        received_frame f;
        km.send_km(3, key_report(modifiers, {key}));
        ASSERT_TRUE(km.next_of_type(3, f));
        EXPECT_EQ(f.body, (bytes{3, expectAck}));
        km.send_km(3, key_report(0, {}));
        ASSERT_TRUE(km.next_of_type(3, f));
    }
    void expect(sim_client &c, const bytes &body)
    {
        received_frame f;
        ASSERT_TRUE(c.next_of_type(body[0], f)) << "waiting for type " << unsigned{body[0]};
        EXPECT_EQ(f.body, body);
    }
};

TEST_F(sim_device_test, EveryChannelAcknowledgesTheLogin)
{
    start();
    std::vector<std::unique_ptr<sim_client>> clients;
    for (auto [channel, port] : {std::pair{sim_client::channel::km, kind::km},
                                 std::pair{sim_client::channel::video, kind::video},
                                 std::pair{sim_client::channel::media, kind::media}}) {
        clients.push_back(client(channel, port));
        clients.back()->send_login(7);
        expect(*clients.back(), {50, 0});
    }
    EXPECT_EQ(sim->command("viewers"), "ok km:1 video:1 media:1");
}

// Reads video frames, puts pictures together and decodes them until `enough` says stop.
struct video_watcher {
    sim_client &video;
    FrameAssembler assembler;
    H264Decoder decoder;
    bytes pixels;
    int width = 0;
    int height = 0;
    int pictures = 0;
    int fragmentsNotLast = 0;
    int cipheredHeads = 0;

    explicit video_watcher(sim_client &v) : video(v) { decoder.open(); }

    // Decodes pictures until `count` more have been shown; false on a stall.
    bool watch(int count)
    {
        const int target = pictures + count;
        received_frame f;
        while (pictures < target) {
            if (!video.next_of_type(6, f, 5000))
                return false;
            cipheredHeads += f.headCiphered ? 1 : 0;
            if (f.body.size() < 12 || read_be32(f.body.data() + 8) != f.body.size() - 12) {
                ADD_FAILURE() << "type-6 body of " << f.body.size() << " bytes";
                return false;
            }
            fragmentsNotLast += f.body[1] == 1 ? 0 : 1;
            FrameAssembler::picture picture;
            if (assembler.push(f.body.data() + 12, static_cast<std::uint32_t>(f.body.size() - 12),
                               f.body[1] == 1, picture) != FrameAssembler::status::complete)
                continue;
            bool finished = false;
            if (decoder.decode_picture(picture.data, static_cast<int>(picture.size), finished) < 0) {
                ADD_FAILURE() << "decode error";
                return false;
            }
            if (!finished)
                continue;
            width = decoder.picture_width();
            height = decoder.picture_height();
            pixels.resize(decoder.layout().bytes);
            decoder.convert_picture(pixels.data(), pixels.size());
            ++pictures;
        }
        return true;
    }
    // Mean absolute difference of the blue channel over a rectangle, between two pictures.
    static double difference(const bytes &a, const bytes &b, int width, int x0, int y0, int x1, int y1)
    {
        double sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 4;
                sum += std::abs(int{a[i]} - int{b[i]});
            }
        return sum / ((x1 - x0) * (y1 - y0));
    }
};

TEST_F(sim_device_test, VideoDecodesToTheScreenSizeFromFragmentsAndCipheredHeads)
{
    c_sim_options options = test_sim_options();
    options.fragment = 2048; // key frames come in several fragments
    options.cipherEvery = 3;
    start(options);
    auto video = client(sim_client::channel::video, kind::video);
    video->send_login();
    expect(*video, {50, 0});
    video_watcher watcher(*video);
    ASSERT_TRUE(watcher.watch(8));
    EXPECT_EQ(watcher.width, 640);
    EXPECT_EQ(watcher.height, 360);
    EXPECT_GT(watcher.fragmentsNotLast, 0);
    EXPECT_GT(watcher.cipheredHeads, 0);
}

TEST_F(sim_device_test, TypingShowsInTheConsoleAndOnTheScreen)
{
    start();
    auto video = client(sim_client::channel::video, kind::video);
    video->send_login();
    expect(*video, {50, 0});
    expect(*video, {4, 0}); // the LED state follows the login
    video_watcher watcher(*video);
    ASSERT_TRUE(watcher.watch(2));
    const bytes before = watcher.pixels;

    auto km = km_viewer(1);
    type(*km, 0x02, 11); // H
    type(*km, 0, 12);    // i
    type(*km, 0x20, 30); // !
    type(*km, 0, 40);    // Enter
    type(*km, 0, 7);     // d
    type(*km, 0, 42);    // Backspace
    type(*km, 0, 56);    // /
    EXPECT_EQ(sim->command("console"), "ok Hi!\\n/");

    // Pictures rendered before the typing may still be on their way: watch until the console
    // window (left part of the screen, below the title) shows the text, within a bound. The
    // right part of the desktop stays as it was.
    double changed = 0;
    for (int picture = 0; picture < 200 && changed <= 2.0; ++picture) {
        ASSERT_TRUE(watcher.watch(1));
        changed = video_watcher::difference(before, watcher.pixels, 640, 36, 62, 100, 84);
    }
    EXPECT_GT(changed, 2.0);
    EXPECT_LT(video_watcher::difference(before, watcher.pixels, 640, 500, 60, 600, 120), 2.0);

    type(*km, 0, 57); // Caps Lock: the remote computer reports the LED on the video channel
    received_frame f;
    ASSERT_TRUE(video->next_of_type(4, f));
    EXPECT_EQ(f.body, (bytes{4, 0x02}));
    EXPECT_EQ(sim->command("led 5"), "ok");
    ASSERT_TRUE(video->next_of_type(4, f));
    EXPECT_EQ(f.body, (bytes{4, 5}));
}

TEST_F(sim_device_test, PointerFollowsRelativeAndAbsoluteReportsWithinTheScreen)
{
    start();
    auto km = km_viewer(1);
    EXPECT_EQ(sim->command("pointer"), "ok 320 180");
    km->send_km(5, {0, 10, 0xF6, 0}); // +10, -10
    expect(*km, {5, 0});
    EXPECT_EQ(sim->command("pointer"), "ok 330 170");
    for (int i = 0; i < 5; ++i) {
        km->send_km(5, {0, 0x81, 0x81, 0}); // -127, -127
        expect(*km, {5, 0});
    }
    EXPECT_EQ(sim->command("pointer"), "ok 0 0");
    km->send_km(44, {0, 0xC0, 0x03, 0x58, 0x02, 0}); // 960, 600 of 1920 x 1200
    expect(*km, {44, 0});
    EXPECT_EQ(sim->command("pointer"), "ok 320 180");
    km->send_km(44, {0, 0xFF, 0xFF, 0xFF, 0xFF, 0});
    expect(*km, {44, 0});
    EXPECT_EQ(sim->command("pointer"), "ok 639 359");
    km->send_km(5, {0, 1});  // too short
    expect(*km, {5, 1});
}

TEST_F(sim_device_test, ScreenshotShowsTheScreenAsItStandsWithThePointer)
{
    start();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString before = dir.filePath(QStringLiteral("before.png"));
    const QString after = dir.filePath(QStringLiteral("after.png"));
    EXPECT_EQ(sim->command("screenshot " + before.toStdString()), "ok 640x360");
    auto km = km_viewer(1);
    km->send_km(5, {0, 40, 40, 0});
    expect(*km, {5, 0});
    EXPECT_EQ(sim->command("screenshot " + after.toStdString()), "ok 640x360");

    const QImage first(before);
    const QImage second(after);
    ASSERT_EQ(first.size(), QSize(640, 360));
    ASSERT_EQ(second.size(), QSize(640, 360));
    // Inside the arrow, just below its tip at the pointer position (320, 180).
    EXPECT_EQ(first.pixel(322, 188), qRgb(255, 255, 255));
    EXPECT_NE(second.pixel(322, 188), qRgb(255, 255, 255));
    EXPECT_EQ(second.pixel(362, 228), qRgb(255, 255, 255));
    EXPECT_EQ(sim->command("screenshot /nonexistent/folder/x.png").rfind("err", 0), 0U);
}

TEST_F(sim_device_test, TwoViewersRefuseThenHandOverThePrivilege)
{
    start();
    auto a = km_viewer(1);
    auto b = km_viewer(0);
    type(*b, 0, 4, 1); // read-only: refused
    EXPECT_EQ(sim->command("console"), "ok ");

    b->send_km(20, {0});
    expect(*b, {20, 1});
    expect(*a, {21, 0});
    a->send_km(21, {1}); // refuse
    expect(*b, {22, 1});
    expect(*b, {20, 0});

    b->send_km(20, {0});
    expect(*b, {20, 1});
    expect(*a, {21, 0});
    a->send_km(21, {0}); // give up
    expect(*b, {22, 0});
    expect(*a, {23, 0});
    b->send_km(22, {0});
    type(*b, 0, 5);    // b
    type(*a, 0, 4, 1); // a is read-only now
    EXPECT_EQ(sim->command("console"), "ok b");

    // The holder leaves; the next request is granted directly.
    b->close();
    const auto freed = [](const std::string &reply) { return reply.find(" holder=0 ") != std::string::npos; };
    EXPECT_TRUE(freed(sim->wait_for("status", freed, 3000)));
    a->send_km(20, {0});
    expect(*a, {22, 0});
    type(*a, 0, 6);
    EXPECT_EQ(sim->command("console"), "ok bc");
}

TEST_F(sim_device_test, ControlCommandsReachTheViewer)
{
    start();
    auto km = km_viewer(1);
    auto video = client(sim_client::channel::video, kind::video);
    video->send_login();
    expect(*video, {50, 0});
    EXPECT_EQ(sim->command("priv 1 21 0"), "ok");
    expect(*km, {21, 0});
    EXPECT_EQ(sim->command("send km 1 14 02"), "ok");
    expect(*km, {20, 2});
    EXPECT_EQ(sim->command("ack 30 0 1 1"), "ok");
    expect(*video, {30, 0, 1});
    EXPECT_EQ(sim->command("malformed km 1 checksum"), "ok");
    EXPECT_EQ(sim->command("priv 1 23 1"), "ok");
    expect(*km, {23, 1});
    EXPECT_EQ(km->bad_checksums(), 1u);
    EXPECT_EQ(sim->command("send video 9 00"), "err no video viewer 9");
    EXPECT_EQ(sim->command("close km 1"), "ok");
    EXPECT_TRUE(km->closed_by_peer());

    // Position commands move the picture and are acknowledged with the target.
    video->send_body({0x20, 0, 3, 1});
    expect(*video, {0x20, 0, 0});
    video->send_body({0x20, 5, 3, 1}); // another target
    expect(*video, {0x20, 5, 1});
    video->send_body({0x1F, 0});
    expect(*video, {0x1F, 0, 0});
}

TEST_F(sim_device_test, ChannelFaultsForTheViewersTests)
{
    start();
    // Closed at once: the connect succeeds, then the device is gone. One connection only.
    EXPECT_EQ(sim->command("next km close"), "ok");
    auto closed = client(sim_client::channel::km, kind::km);
    EXPECT_TRUE(closed->closed_by_peer());
    auto km = km_viewer(1);

    // Muted: accepted and kept open, but the login is never answered.
    EXPECT_EQ(sim->command("next media mute"), "ok");
    auto mute = client(sim_client::channel::media, kind::media);
    mute->send_login();
    EXPECT_TRUE(mute->quiet_of_type(50, 500));
    EXPECT_NE(sim->command("viewers").find("media:1"), std::string::npos) << sim->command("viewers");
    auto media = client(sim_client::channel::media, kind::media);
    media->send_login();
    expect(*media, {50, 0});

    // A stalled connection is answered only once reading resumes, in order.
    EXPECT_EQ(sim->command("stall km 2"), "ok");
    km->send_km(5, {0, 1, 1, 0});
    km->send_km(3, key_report(0, {4}));
    EXPECT_TRUE(km->quiet_of_type(5, 500));
    EXPECT_EQ(sim->command("resume km 2"), "ok");
    expect(*km, {5, 0});
    expect(*km, {3, 0});
    EXPECT_EQ(sim->command("stall km 9"), "err no km viewer 9");
}

TEST_F(sim_device_test, HostileInputNeverStopsTheOthers)
{
    start();
    auto a = km_viewer(1);
    const auto alive = [&] {
        a->send_km(5, {0, 1, 1, 0});
        expect(*a, {5, 0});
    };
    {
        auto garbage = client(sim_client::channel::km, kind::km);
        bytes noise(20000);
        for (std::size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<std::uint8_t>(i * 131 + 7);
        garbage->send_raw(noise);
        garbage->send_login(); // the noise never forms a header: the login is understood
        expect(*garbage, {50, 0});
    }
    alive();
    {
        auto huge = client(sim_client::channel::media, kind::media);
        huge->send_raw({0xA5, 0x01, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
        EXPECT_TRUE(huge->closed_by_peer());
    }
    alive();
    {
        const std::uint8_t wrongKey[8] = {9, 9, 9, 9, 9, 9, 9, 9};
        auto wrong = client(sim_client::channel::km, kind::km);
        wrong->send_login();
        expect(*wrong, {50, 0});
        wrong->send_km(23, {0}, wrongKey);
        wrong->send_km(3, key_report(0, {4}), wrongKey);
        wrong->send_raw({0xA5, 0x01, 0, 0, 0, 0}); // half a header, then gone
        wrong->close();
    }
    alive();
    for (int i = 0; i < 5; ++i) {
        auto quick = client(sim_client::channel::video, kind::video);
        quick->send_login();
        quick->close(); // gone before the answer and the pictures
    }
    alive();
    auto late = client(sim_client::channel::media, kind::media);
    late->send_login();
    expect(*late, {50, 0});
    EXPECT_EQ(sim->command("console"), "ok ");
    EXPECT_NE(sim->command("dump 200").find("\"error\":\"wire length over the limit; closed\""), std::string::npos);
}

} // namespace
