#include "launch/LaunchParams.h"
#include "launch/program_paths.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

std::ostream &operator<<(std::ostream &out, const DesKey &key)
{
    out << "DesKey{" << int(key.length) << ":";
    for (int i = 0; i < 8; ++i)
        out << ' ' << int(key.key[i]);
    return out << '}';
}

bool operator==(const DesKey &a, const DesKey &b)
{
    return a.length == b.length && std::equal(a.key, a.key + 16, b.key);
}

namespace {

DesKey key_of(std::initializer_list<std::uint8_t> bytes)
{
    DesKey key;
    key.length = 8;
    std::copy(bytes.begin(), bytes.end(), key.key);
    return key;
}

const DesKey kKey = key_of({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF});

LaunchParams parse(std::string_view raw)
{
    return parse_launch_params(decode_launch_text(raw));
}

} // namespace

TEST(LaunchText, WellFormedTextFillsEveryField)
{
    const LaunchParams p = parse("{ip:192.168.1.10,portKM:5901,portV:5900,portMedia:5918,priv:1,"
                                 "dogID:3,mouseMode:1,userNM:admin,userID:7,"
                                 "desEncode:0123456789ABCDEF,desDecode:fedcba9876543210}");
    EXPECT_EQ(p.ip, "192.168.1.10");
    EXPECT_EQ(p.portKM, 5901u);
    EXPECT_EQ(p.portV, 5900u);
    EXPECT_EQ(p.portMedia, 5918u);
    EXPECT_EQ(p.priv, 1u);
    EXPECT_EQ(p.dogID, 3u);
    EXPECT_EQ(p.mouseMode, 1u);
    EXPECT_EQ(p.userNM, "admin");
    EXPECT_EQ(p.userID, 7u);
    EXPECT_EQ(p.desEncodeKey, kKey);
    EXPECT_EQ(p.desDecodeKey, key_of({0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}));
    EXPECT_EQ(launch_window_title(p),
              "Tessaract V2.1 2018.10.26 - Login User: admin DongleID:4 IP: 192.168.1.10");
}

TEST(LaunchText, MediaPortDefaultsOnlyWhenItsItemIsPresent)
{
    EXPECT_EQ(parse("{portMedia:0}").portMedia, 5918u);
    EXPECT_EQ(parse("{portMedia:abc}").portMedia, 5918u);
    EXPECT_EQ(parse("{portMedia:6000}").portMedia, 6000u);
    EXPECT_EQ(parse("{portKM:5901}").portMedia, 0u);
}

TEST(LaunchText, QuotesAndPercentEncodingAreUndoneBeforeSplitting)
{
    const LaunchParams plain = parse("{ip:10.0.0.1,portKM:5901,userNM:bob,desEncode:0123456789abcdef}");
    const LaunchParams json =
        parse(R"({"ip":"10.0.0.1","portKM":"5901","userNM":"bob","desEncode":"0123456789abcdef"})");
    const LaunchParams encoded =
        parse("%7Bip%3A10.0.0.1%2CportKM%3a5901%2cuserNM%3Abob%2CdesEncode%3A0123456789abcdef%7D");
    for (const LaunchParams *p : {&plain, &json, &encoded}) {
        EXPECT_EQ(p->ip, "10.0.0.1");
        EXPECT_EQ(p->portKM, 5901u);
        EXPECT_EQ(p->userNM, "bob");
        EXPECT_EQ(p->desEncodeKey, kKey);
    }
    // Only '%' with two hex digits is decoded, once; a decoded zero ends the text.
    EXPECT_EQ(decode_launch_text("a%zz%4%%41%"), "a%zz%4%A%");
    EXPECT_EQ(decode_launch_text("%22x%22"), "x");
    EXPECT_EQ(decode_launch_text("ab%00cd"), "ab");
    EXPECT_EQ(decode_launch_text(""), "");
}

TEST(LaunchText, ItemsMatchByPrefixInOrderAndTheLastOccurrenceWins)
{
    // A blank before the key matches nothing.
    EXPECT_EQ(parse("{ ip:1.2.3.4,portKM:5}").ip, "");
    EXPECT_EQ(parse("{ ip:1.2.3.4,portKM:5}").portKM, 5u);
    EXPECT_EQ(parse("{userID:7,userID:9}").userID, 9u);
    // Prefixes: longer names still go to the key they start with.
    const LaunchParams p = parse("{ipAddress:5.6.7.8,portVideo:77,userNMx:a:b:c,priv}");
    EXPECT_EQ(p.ip, "5.6.7.8");
    EXPECT_EQ(p.portV, 77u);
    EXPECT_EQ(p.userNM, "a:b:c"); // value after the first ':' only
    EXPECT_EQ(p.priv, 0u);        // no ':' -> the whole item "priv" is the value
    EXPECT_EQ(parse("{userNM}").userNM, "userNM");
    // Empty pieces, unknown keys and text outside the braces are ignored.
    const LaunchParams q = parse("x,userID:1{,,dogID:2,,Port:3,portKM:4,}userID:5");
    EXPECT_EQ(q.dogID, 2u);
    EXPECT_EQ(q.portKM, 4u);
    EXPECT_EQ(q.userID, 0u);
    // No braces, or braces the wrong way round: nothing.
    EXPECT_EQ(parse("ip:1.2.3.4,userID:3").userID, 0u);
    EXPECT_EQ(parse("}userID:3{").userID, 0u);
}

TEST(LaunchText, NumbersAreDecimalOrZero)
{
    EXPECT_EQ(launch_number("5901"), 5901u);
    EXPECT_EQ(launch_number(" 42 "), 42u);
    EXPECT_EQ(launch_number("4294967295"), 4294967295u);
    EXPECT_EQ(launch_number("4294967296"), 0u);
    EXPECT_EQ(launch_number("5901x"), 0u);
    EXPECT_EQ(launch_number("-1"), 0u);
    EXPECT_EQ(launch_number(""), 0u);
}

TEST(LaunchText, PortComAnywhereSelectsTheSerialBridge)
{
    EXPECT_TRUE(is_serial_bridge_text("{ip:1.2.3.4,portCOM:4001}"));
    EXPECT_TRUE(is_serial_bridge_text("{userNM:myportCOMuser}"));
    EXPECT_TRUE(is_serial_bridge_text(decode_launch_text("{port%43OM:1}")));
    EXPECT_FALSE(is_serial_bridge_text("{portcom:1}"));
    // portCOM is not a key of the record.
    const LaunchParams p = parse("{portCOM:4001,portKM:5}");
    EXPECT_EQ(p.portKM, 5u);
    EXPECT_EQ(p.portV, 0u);
}

struct KeyCase {
    const char *value;
    bool present; // then it is kKey
};

class LaunchKey : public ::testing::TestWithParam<KeyCase> {};

TEST_P(LaunchKey, IsExactlySixteenHexDigitsOrAbsent)
{
    const DesKey key = launch_key(GetParam().value);
    EXPECT_EQ(key, GetParam().present ? kKey : DesKey{});
}

INSTANTIATE_TEST_SUITE_P(
    Values, LaunchKey,
    ::testing::Values(KeyCase{"0123456789ABCDEF", true}, KeyCase{"0123456789abcdef", true},
                      KeyCase{"01 23;45\t67\r\n89;AB cd;eF;", true},
                      // A stray digit anywhere, a short or a long value: never part of a key.
                      KeyCase{"012345678ZABCDEF", false}, KeyCase{"Z123456789ABCDEF", false},
                      KeyCase{"0123456789ABCDEFzz99", false}, KeyCase{"0123456789ABCDEF0011", false},
                      KeyCase{"0123456789ABCDE", false}, KeyCase{"", false}));

struct ProblemCase {
    const char *items; // added to a usable text; a later item replaces an earlier one
    const char *item;  // the item named by the one problem expected, empty for none
};

class LaunchProblems : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(LaunchProblems, NameTheItemAtFault)
{
    const std::vector<std::string> problems = launch_params_problems(
        parse(std::string("{ip:10.0.0.1,portKM:5901,portV:5900,desEncode:0123456789ABCDEF,"
                          "desDecode:0123456789ABCDEF") + GetParam().items + "}"));
    const std::string item = GetParam().item;
    ASSERT_EQ(problems.size(), item.empty() ? 0u : 1u);
    EXPECT_TRUE(item.empty() || problems.front().rfind(item + ": the ", 0) == 0) << item;
}

INSTANTIATE_TEST_SUITE_P(
    Values, LaunchProblems,
    ::testing::Values(ProblemCase{"", ""}, ProblemCase{",portMedia:65535", ""},
                      // Without the item the media channel fails on its own; 0 stands for 5918.
                      ProblemCase{",portMedia:0", ""},
                      ProblemCase{",desEncode:13579bdf", "desEncode"},
                      ProblemCase{",desDecode:0123456789ABCDEX", "desDecode"},
                      ProblemCase{",desDecode", "desDecode"},
                      // A port of 16 bits wraps: 5901 + 65536 would connect to 5901.
                      ProblemCase{",portKM:71437", "portKM"}, ProblemCase{",portKM:0", "portKM"},
                      ProblemCase{",portV:99999999999", "portV"},
                      ProblemCase{",portMedia:65536", "portMedia"},
                      ProblemCase{",portMedia:4294967296", "portMedia"}));

TEST(LaunchText, OverlongTextIsCutTo1023Bytes)
{
    const std::string exact = "{userID:5," + std::string(1023 - 11, 'x') + "}";
    ASSERT_EQ(exact.size(), 1023u);
    EXPECT_EQ(decode_launch_text(exact), exact);
    EXPECT_EQ(parse(exact).userID, 5u);

    // The closing brace falls beyond the buffer: no items survive.
    const std::string longer = exact.substr(0, 1022) + "x}";
    const std::string cut = decode_launch_text(longer);
    EXPECT_EQ(cut, longer.substr(0, 1023));
    EXPECT_EQ(parse(longer).userID, 0u);

    // Percent sequences count before decoding: 1023 encoded bytes decode to 341.
    std::string encoded;
    for (int i = 0; i < 700; ++i)
        encoded += "%41";
    EXPECT_EQ(decode_launch_text(encoded), std::string(341, 'A'));
}

TEST(ProgramPaths, StateFolderFollowsTheEnvironment)
{
    const QByteArray savedState = qgetenv("XDG_STATE_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("XDG_STATE_HOME", "/var/tmp/state");
    EXPECT_EQ(user_state_dir(), "/var/tmp/state/tessaract");
    // Relative values are not to be used.
    qputenv("XDG_STATE_HOME", "relative/state");
    qputenv("HOME", "/home/someone");
    EXPECT_EQ(user_state_dir(), "/home/someone/.local/state/tessaract");
    qputenv("HOME", savedHome);
    if (savedState.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", savedState);

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string nested = dir.path().toStdString() + "/a/b/c";
    EXPECT_TRUE(make_writable_dir(nested));
    EXPECT_TRUE(QDir(QString::fromStdString(nested)).exists());
    EXPECT_TRUE(make_writable_dir(nested + "/"));
    EXPECT_FALSE(make_writable_dir("/proc/self/none"));
    EXPECT_FALSE(make_writable_dir(""));
    EXPECT_FALSE(program_dir().empty());
}

TEST(ProgramPaths, FirstArgumentIsCopiedThenWipedInPlace)
{
    char program[] = "tessaract";
    char argument[] = "{desEncode:0123456789ABCDEF}";
    char *argv[] = {program, argument, nullptr};
    EXPECT_EQ(take_first_argument(2, argv), "{desEncode:0123456789ABCDEF}");
    for (const char c : argument)
        EXPECT_EQ(c, '\0');
    EXPECT_EQ(take_first_argument(1, argv), "");
}
