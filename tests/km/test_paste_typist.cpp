// Paste as keystrokes, below the window: what the typist sends for a text, and how it stops.
#include "km/c_paste_typist.h"
#include "km_test_support.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <tuple>

namespace {

using report = c_paste_typist::report;

// Records every report the typist sends, in hex.
struct recorder {
    std::vector<std::string> sent;
    std::atomic<bool> writing{true};
    bool capsLock = false; // on the remote computer

    c_paste_typist::sink sink()
    {
        c_paste_typist::sink out;
        out.send = [this](const report &r) { sent.push_back(hex(bytes(r.begin(), r.end()))); };
        out.may_write = [this] { return writing.load(); };
        out.caps_lock = [this] { return capsLock; };
        return out;
    }
    bool key_held() const { return !sent.empty() && sent.back() != kAllUp; }

    static inline const std::string kAllUp = "00 00 00 00 00 00 00 00";
};

struct typing_case {
    const char *name;
    keyboard_layout_id layout;
    QString text;
    strings reports; // after the first all-up report
    bool capsLock = false;
};

class PasteTypistTyping : public ::testing::TestWithParam<typing_case> {};

// Each character is its press (modifiers, 0, usage) and then no key held; a key the user
// may still hold is let go before the first.
TEST_P(PasteTypistTyping, SendsEachPressFollowedByNoKeyHeld)
{
    const typing_case &c = GetParam();
    c_paste_typist typist;
    typist.plan(c.text, c.layout);
    typist.set_rate(c_paste_typist::kMaxRate);
    recorder rec;
    rec.capsLock = c.capsLock;
    QSignalSpy finished(&typist, &c_paste_typist::signal_finished);
    ASSERT_TRUE(typist.start(rec.sink(), false));
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(finished.at(0).at(0).value<c_paste_typist::outcome>(), c_paste_typist::outcome::typed);
    strings expected{recorder::kAllUp};
    expected.insert(expected.end(), c.reports.begin(), c.reports.end());
    EXPECT_EQ(rec.sent, expected);
}

const std::string kUp = recorder::kAllUp;
const std::string kCaps = "00 00 39 00 00 00 00 00";

INSTANTIATE_TEST_SUITE_P(
    Texts, PasteTypistTyping,
    ::testing::Values(
        // Shift for capitals; "\r\n" is one Enter, as are a lone "\r" and "\n"; "\t" is Tab.
        typing_case{"ShiftAndLineEnds", keyboard_layout_id::us, QStringLiteral("aB\r\n\rc\n\t"),
                    {"00 00 04 00 00 00 00 00", kUp, "02 00 05 00 00 00 00 00", kUp, "00 00 28 00 00 00 00 00", kUp,
                     "00 00 28 00 00 00 00 00", kUp, "00 00 06 00 00 00 00 00", kUp, "00 00 28 00 00 00 00 00", kUp,
                     "00 00 2B 00 00 00 00 00", kUp}},
        // A character on a dead key: the dead key, then Space.
        typing_case{"DeadKey", keyboard_layout_id::de, QStringLiteral("^"),
                    {"00 00 35 00 00 00 00 00", kUp, "00 00 2C 00 00 00 00 00", kUp}},
        // Caps Lock on would swap the cases: it is turned off around the typing.
        typing_case{"CapsLockOn", keyboard_layout_id::us, QStringLiteral("aB"),
                    {kCaps, kUp, "00 00 04 00 00 00 00 00", kUp, "02 00 05 00 00 00 00 00", kUp, kCaps, kUp},
                    true}),
    [](const ::testing::TestParamInfo<typing_case> &param) { return std::string(param.param.name); });

// Characters the layout cannot type are listed once each in order of appearance; nothing is
// sent until the user agrees to type the rest.
TEST(PasteTypist, ListsUntypableCharactersOnceAndSendsNothingWithoutAgreement)
{
    c_paste_typist typist;
    typist.plan(QStringLiteral("h\u00e9llo w\u00f6rld \u00e9\U0001F600"), keyboard_layout_id::us);
    EXPECT_EQ(typist.untypable(), (std::vector<char32_t>{U'\u00e9', U'\u00f6', U'\U0001F600'}));
    EXPECT_EQ(typist.total(), 10);
    recorder rec;
    EXPECT_FALSE(typist.start(rec.sink(), false));
    EXPECT_FALSE(typist.running());
    EXPECT_TRUE(rec.sent.empty());
}

enum class stop_by { cancel, privilege_lost };

class PasteTypistStop : public ::testing::TestWithParam<std::tuple<stop_by, bool>> {};

// Stopped while a key is down, the typist lets it go at once and says why it stopped; the log
// line names the figures and the layout, never the text (it may be a password). Caps Lock,
// turned off for typing, goes back on when the user cancels; a viewer that may no longer
// write cannot, and says so.
TEST_P(PasteTypistStop, ReleasesTheHeldKeyAndSaysWhy)
{
    const auto [by, capsLock] = GetParam();
    log_capture log(LOG_LEVEL_INFO);
    c_paste_typist typist;
    typist.plan(QStringLiteral("secret"), keyboard_layout_id::us);
    typist.set_rate(c_paste_typist::kMinRate); // each key is down for 100 ms
    recorder rec;
    rec.capsLock = capsLock;
    QSignalSpy finished(&typist, &c_paste_typist::signal_finished);
    ASSERT_TRUE(typist.start(rec.sink(), false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec.key_held() && rec.sent.back() != kCaps; }, 5000));

    c_paste_typist::outcome expected = c_paste_typist::outcome::cancelled;
    if (by == stop_by::cancel) {
        typist.cancel();
    } else {
        rec.writing = false;
        expected = c_paste_typist::outcome::privilege_lost;
    }
    ASSERT_TRUE(finished.count() == 1 || finished.wait(5000));
    EXPECT_EQ(finished.at(0).at(0).value<c_paste_typist::outcome>(), expected);
    strings sent{kUp, "00 00 16 00 00 00 00 00", kUp};
    if (capsLock) {
        sent.insert(sent.begin() + 1, {kCaps, kUp});
        if (by == stop_by::cancel)
            sent.insert(sent.end(), {kCaps, kUp});
    }
    EXPECT_EQ(rec.sent, sent);
    EXPECT_FALSE(typist.running());
    EXPECT_FALSE(c_paste_typist::outcome_text(expected).isEmpty());
    EXPECT_EQ(log.count("0 of 6 characters typed"), 1);
    EXPECT_EQ(log.count("layout us"), 1);
    EXPECT_EQ(log.count("secret"), 0);
    EXPECT_EQ(log.count("Caps Lock, turned off for typing, is left off"),
              capsLock && by == stop_by::privilege_lost ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, PasteTypistStop,
                         ::testing::Combine(::testing::Values(stop_by::cancel, stop_by::privilege_lost),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<PasteTypistStop::ParamType> &param) {
                             return std::string(std::get<0>(param.param) == stop_by::cancel ? "Cancel" : "PrivilegeLost")
                                    + (std::get<1>(param.param) ? "CapsLockOn" : "");
                         });

} // namespace
