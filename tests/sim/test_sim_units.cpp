// The simulator's pure building blocks: the emulated keyboard, the console, the write
// privilege and the control-line grammar.
#include "c_console_text.h"
#include "c_control_parser.h"
#include "c_hid_keyboard.h"
#include "c_privilege_arbiter.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <vector>

std::ostream &operator<<(std::ostream &out, const c_privilege_arbiter::message &m)
{
    return out << "{viewer " << m.viewer << ", [" << unsigned{m.type} << ", " << unsigned{m.value} << "]}";
}

namespace {

constexpr std::uint8_t kShift = 0x02;
constexpr std::uint8_t kRightShift = 0x20;
constexpr std::uint8_t kControl = 0x01;

struct typist {
    c_hid_keyboard keyboard;
    c_console_text console;
    std::uint8_t leds = 0;

    // Presses the keys (with modifiers) and releases everything again.
    void tap(std::uint8_t modifiers, std::initializer_list<std::uint8_t> keys)
    {
        std::uint8_t report[8] = {modifiers};
        int i = 2;
        for (std::uint8_t k : keys)
            report[i++] = k;
        keyboard.apply_report(report, leds, console);
        const std::uint8_t none[8] = {};
        keyboard.apply_report(none, leds, console);
    }
};

TEST(SimKeyboard, TypesUsLayoutWithShiftAndLocks)
{
    typist t;
    t.tap(kShift, {11});     // H
    t.tap(0, {12});          // i
    t.tap(kRightShift, {30}); // !
    t.tap(0, {44});          // space
    t.tap(0, {45});          // -
    t.tap(kShift, {52});     // "
    t.tap(0, {49});          // backslash
    EXPECT_EQ(t.console.text(), "Hi! -\"\\");
    EXPECT_EQ(t.console.escaped(), "Hi! -\"\\\\");

    t.tap(0, {57}); // Caps Lock on
    EXPECT_EQ(t.leds, c_hid_keyboard::kCapsLock);
    t.tap(0, {4});      // A
    t.tap(kShift, {5}); // b: shift undoes caps for letters
    t.tap(0, {30});     // 1: caps does not shift digits
    t.tap(0, {57});     // Caps Lock off
    EXPECT_EQ(t.leds, 0);
    EXPECT_EQ(t.console.text(), "Hi! -\"\\Ab1");
}

TEST(SimKeyboard, BackspaceEnterAndHeldKeys)
{
    typist t;
    const std::uint8_t a[8] = {0, 0, 4};
    const std::uint8_t ab[8] = {0, 0, 4, 5};
    const std::uint8_t b[8] = {0, 0, 5};
    const std::uint8_t none[8] = {};
    t.keyboard.apply_report(a, t.leds, t.console);
    t.keyboard.apply_report(a, t.leds, t.console);  // still held: no repeat
    t.keyboard.apply_report(ab, t.leds, t.console); // b joins
    t.keyboard.apply_report(b, t.leds, t.console);  // a released
    t.keyboard.apply_report(none, t.leds, t.console);
    EXPECT_EQ(t.console.text(), "ab");
    t.tap(0, {40});   // Enter
    t.tap(0, {6});    // c
    t.tap(0, {42});   // Backspace removes c
    t.tap(0, {42});   // at the start of a line nothing happens
    t.tap(0, {88});   // keypad Enter
    t.tap(0, {7});
    EXPECT_EQ(t.console.text(), "ab\n\nd");
}

TEST(SimKeyboard, KeypadNeedsNumLockAndShortcutsTypeNothing)
{
    typist t;
    t.tap(0, {89}); // keypad 1 without Num Lock: End
    t.tap(0, {85}); // keypad *
    t.tap(0, {83}); // Num Lock on
    EXPECT_EQ(t.leds, c_hid_keyboard::kNumLock);
    t.tap(0, {89});
    t.tap(0, {98});
    t.tap(0, {99});
    t.tap(kControl, {6}); // Ctrl+C
    t.tap(0, {71});       // Scroll Lock
    EXPECT_EQ(t.leds, c_hid_keyboard::kNumLock | c_hid_keyboard::kScrollLock);
    const std::uint8_t rollover[8] = {0, 0, 1, 1, 1, 1, 1, 1}; // the report's error codes
    t.keyboard.apply_report(rollover, t.leds, t.console);
    EXPECT_EQ(t.console.text(), "*10.");
}

TEST(SimKeyboard, ConsoleKeepsABoundedNumberOfLines)
{
    c_console_text console;
    for (std::size_t i = 0; i < c_console_text::kMaxLines + 50; ++i) {
        console.type(static_cast<char>('a' + i % 26));
        console.newline();
    }
    std::size_t lines = 1;
    for (char c : console.text())
        lines += c == '\n' ? 1 : 0;
    EXPECT_EQ(lines, c_console_text::kMaxLines);
    for (std::size_t i = 0; i < c_console_text::kMaxLineLength + 10; ++i)
        console.type('x');
    EXPECT_EQ(console.text().size() - console.text().rfind('\n') - 1, 10u); // wrapped
    console.type('\x07'); // control characters never reach the screen
    EXPECT_EQ(console.text().back(), 'x');
}

using msg = c_privilege_arbiter::message;

TEST(SimPrivilege, FirstQueryHoldsLaterOnesReadOnly)
{
    c_privilege_arbiter p;
    EXPECT_EQ(p.on_query(1), (std::vector<msg>{{1, 23, 1}}));
    EXPECT_EQ(p.on_query(2), (std::vector<msg>{{2, 23, 0}}));
    EXPECT_EQ(p.on_query(1), (std::vector<msg>{{1, 23, 1}}));
    EXPECT_TRUE(p.may_write(1));
    EXPECT_FALSE(p.may_write(2));
}

TEST(SimPrivilege, RefusalThenHandOver)
{
    c_privilege_arbiter p;
    p.on_query(1);
    p.on_query(2);
    EXPECT_EQ(p.on_request(2), (std::vector<msg>{{2, 20, 1}, {1, 21, 0}}));
    EXPECT_EQ(p.on_request(3), (std::vector<msg>{{3, 20, 2}})) << "busy while 2 waits";
    EXPECT_EQ(p.on_answer(2, 0), std::vector<msg>{}) << "only the holder answers";
    EXPECT_EQ(p.on_answer(1, 1), (std::vector<msg>{{2, 22, 1}, {2, 20, 0}}));
    EXPECT_EQ(p.holder(), 1);
    EXPECT_EQ(p.on_answer(1, 0), std::vector<msg>{}) << "no request pending";
    EXPECT_EQ(p.on_request(2), (std::vector<msg>{{2, 20, 1}, {1, 21, 0}}));
    EXPECT_EQ(p.on_answer(1, 0), (std::vector<msg>{{2, 22, 0}, {1, 23, 0}}));
    EXPECT_EQ(p.holder(), 2);
    EXPECT_TRUE(p.may_write(2));
    EXPECT_FALSE(p.may_write(1));
}

TEST(SimPrivilege, DisconnectsFreeOrPassThePrivilege)
{
    c_privilege_arbiter p;
    p.on_query(1);
    p.on_query(2);
    EXPECT_EQ(p.on_disconnect(1), std::vector<msg>{});
    EXPECT_EQ(p.holder(), 0);
    EXPECT_EQ(p.on_request(2), (std::vector<msg>{{2, 22, 0}})) << "free: granted directly";
    p.on_query(3);
    p.on_request(3);
    EXPECT_EQ(p.on_disconnect(2), (std::vector<msg>{{3, 22, 0}})) << "the waiting requester takes over";
    EXPECT_EQ(p.holder(), 3);
    p.on_query(4);
    p.on_request(4);
    EXPECT_EQ(p.on_disconnect(4), std::vector<msg>{});
    EXPECT_EQ(p.requester(), 0);
    EXPECT_EQ(p.on_request(5), (std::vector<msg>{{5, 20, 1}, {3, 21, 0}}));
}

control_command parsed(const std::string &line)
{
    control_command c;
    std::string error;
    EXPECT_TRUE(parse_control_line(line, c, error)) << line << ": " << error;
    return c;
}

std::string refusal(const std::string &line)
{
    control_command c;
    std::string error;
    EXPECT_FALSE(parse_control_line(line, c, error)) << line;
    return error;
}

TEST(SimControlGrammar, CommandsAndArguments)
{
    using verb = control_command::verb;
    EXPECT_EQ(parsed("").what, verb::none);
    EXPECT_EQ(parsed("  # comment").what, verb::none);
    const auto send = parsed("send km 2 15 00 0a");
    EXPECT_EQ(send.what, verb::send);
    EXPECT_EQ(send.where, control_command::channel::km);
    EXPECT_EQ(send.viewer, 2);
    EXPECT_EQ(send.bytes, (std::vector<std::uint8_t>{0x15, 0x00, 0x0A}));
    const auto priv = parsed("priv 1 21 0");
    EXPECT_EQ(priv.first, 21u);
    EXPECT_EQ(priv.second, 0u);
    const auto ack = parsed("ack 0x20 0 1");
    EXPECT_EQ(ack.first, 32u);
    EXPECT_EQ(ack.viewer, 0);
    const auto write = parsed("write 100 3 lba");
    EXPECT_TRUE(write.fill.lba);
    EXPECT_EQ(parsed("write 7 1 A5").fill.fill, 0xA5);
    EXPECT_EQ(parsed("malformed video 1 short").flaw, control_command::defect::short_body);
    EXPECT_EQ(parsed("refuse-next").what, verb::refuse_next);
    EXPECT_EQ(parsed("silent 2500").first, 2500u);
    EXPECT_EQ(parsed("dump").first, 50u);
}

TEST(SimControlGrammar, BadLinesAreRefusedWithUsage)
{
    EXPECT_NE(refusal("frobnicate").find("unknown command"), std::string::npos);
    EXPECT_EQ(refusal("send km 1 0"), "usage: send CH ID HEX...");    // odd digit count
    EXPECT_EQ(refusal("send disk 1 00"), "usage: send CH ID HEX...");
    EXPECT_EQ(refusal("priv 1 19 0"), "usage: priv ID TYPE VALUE");  // not a privilege type
    EXPECT_EQ(refusal("led 8"), "usage: led BITS");
    EXPECT_EQ(refusal("read 0 0"), "usage: read S N");
    EXPECT_EQ(refusal("read 0 65536"), "usage: read S N");
    EXPECT_EQ(refusal("read 4294967296 1"), "usage: read S N");
    EXPECT_EQ(refusal("write 0 1 xyz"), "usage: write S N PATTERN");
    EXPECT_EQ(refusal("close km 0"), "usage: close CH ID");
    EXPECT_EQ(refusal("garbage km 1 -5"), "usage: garbage CH ID N");
    EXPECT_EQ(refusal("pointer 3"), "usage: pointer");
    EXPECT_EQ(refusal("stall km 0"), "usage: stall CH ID");
    EXPECT_EQ(refusal("next disk close"), "usage: next CH close|mute|normal");
    EXPECT_EQ(refusal("next km later"), "usage: next CH close|mute|normal");
}

} // namespace
