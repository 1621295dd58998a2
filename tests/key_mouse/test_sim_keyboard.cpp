#include "c_console_text.h"
#include "c_hid_keyboard.h"
#include "c_sim_runner.h"
#include "loopback.h"

#include <QGuiApplication>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using socket_test::bytes;

constexpr std::uint8_t kRightAlt = 0x40;
constexpr std::uint8_t kShift = 0x02;
constexpr std::uint8_t kControlAlt = 0x01 | 0x04;

// The remote computer's keyboard and console, fed one key stroke (press, then release) at a
// time.
struct remote_computer {
    c_hid_keyboard keyboard;
    c_console_text console;
    std::uint8_t leds = 0;
    keyboard_layout_id layout;

    void stroke(std::uint8_t modifiers, std::uint8_t usage)
    {
        const std::uint8_t down[8] = {modifiers, 0, usage};
        const std::uint8_t up[8] = {};
        keyboard.apply_report(down, layout, leds, console);
        keyboard.apply_report(up, layout, leds, console);
    }
};

bool has(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(sim_keyboard, a_german_computer_types_umlauts_accents_and_altgr_characters)
{
    remote_computer pc{.layout = keyboard_layout_id::de};
    pc.stroke(kShift, 10);        // G
    pc.stroke(0, 21);             // r
    pc.stroke(0, 47);             // ü
    pc.stroke(0, 45);             // ß
    pc.stroke(0, 42);             // Backspace takes the whole ß
    pc.stroke(0, 8);              // e
    pc.stroke(0, 53);             // dead ^ ...
    pc.stroke(0, 4);              // ... with a: â
    pc.stroke(0, 46);             // dead ´ ...
    pc.stroke(0, 44);             // ... with Space: the accent alone
    pc.stroke(0, 53);             // dead ^ ...
    pc.stroke(0, 27);             // ... with x, which it does not compose with: ^x
    pc.stroke(kRightAlt, 20);     // @
    pc.stroke(kControlAlt, 8);    // €
    pc.stroke(0, 28);             // z
    pc.stroke(0, 100);            // <
    pc.stroke(0, 57);             // Caps Lock ...
    pc.stroke(0, 51);             // ... Ö
    EXPECT_EQ(pc.console.text(), "Grüeâ´^x@€z<Ö");
    EXPECT_EQ(pc.console.escaped(), "Grüeâ´^x@€z<Ö");
    EXPECT_EQ(pc.leds, c_hid_keyboard::kCapsLock);
}

TEST(sim_console, lines_wrap_after_a_count_of_characters_not_bytes)
{
    c_console_text console;
    for (std::size_t i = 0; i < c_console_text::kMaxLineLength; ++i)
        console.type(U'ä');
    EXPECT_FALSE(has(console.text(), "\n"));
    console.type(U'€');
    console.type(U'\x01'); // not printable: ignored
    EXPECT_TRUE(has(console.text(), "\n€")) << console.text().substr(790);
    console.backspace();
    console.backspace(); // never joins the lines
    EXPECT_EQ(console.text().size(), c_console_text::kMaxLineLength * 2 + 1);
}

// The device itself: reports that arrive on its keyboard/mouse port.
class sim_device_km : public testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(m_sim.start(error)) << error.toStdString();
        m_km.connectToHost(QStringLiteral("127.0.0.1"), m_sim.port(c_sim_connection::kind::km));
        ASSERT_TRUE(m_km.waitForConnected(3000));
        send({50, 0, 0, 0, 7}); // login
        send({23});              // privilege query: the first to ask holds it
        ASSERT_TRUE(has(m_sim.wait_for("status", [](const std::string &s) { return has(s, "holder=1"); }, 3000),
                        "holder=1"));
    }

    void send(const bytes &body)
    {
        const bytes frame = socket_test::frame_bytes(body);
        m_km.write(reinterpret_cast<const char *>(frame.data()), static_cast<qint64>(frame.size()));
        ASSERT_TRUE(m_km.waitForBytesWritten(3000));
    }

    std::string wait_for(const std::string &command, const std::string &part)
    {
        return m_sim.wait_for(command, [&](const std::string &s) { return has(s, part); }, 3000);
    }

    c_sim_runner m_sim{c_sim_options::in_process()};
    QTcpSocket m_km;
};

TEST_F(sim_device_km, reads_keys_through_the_layout_it_is_told)
{
    EXPECT_EQ(m_sim.command("layout dvorak"), "err usage: layout us|uk|de|fr");
    EXPECT_EQ(m_sim.command("layout DE"), "ok");
    send({3, 0, 0, 28, 0, 0, 0, 0, 0});
    send({3, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(wait_for("console", "z"), "ok z");
    EXPECT_TRUE(has(m_sim.command("status"), " layout=de ")) << m_sim.command("status");
}

TEST_F(sim_device_km, adds_up_the_signed_wheel_of_relative_and_absolute_reports)
{
    send({5, 0, 0, 0, 0xFD});              // relative, wheel -3
    send({5, 0, 0, 0, 4});                 // the viewer's middle button, recorded as it is
    send({44, 0, 0x10, 0, 0x10, 0, 5});    // absolute, wheel 5
    send({44, 0, 0x10, 0, 0x10, 0, 0});
    EXPECT_TRUE(has(wait_for("status", "wheel=6"), "wheel=6")) << m_sim.command("status");
}

// The device paints its screen with fonts, which needs an application object (offscreen:
// test discovery runs this program without the test environment).
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
