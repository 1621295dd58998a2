#include "launch/LaunchParams.h"
#include "launch/program_paths.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string key_text(const DesKey &key)
{
    std::ostringstream out;
    out << std::hex;
    for (int i = 0; key.present() && i < 8; ++i)
        out << key.key[i] / 16 << key.key[i] % 16;
    return key.present() ? out.str() : "-";
}

// Every field of the record parsed from `raw`, as "name=value" words.
std::string fields(const std::string &raw)
{
    const std::string text = decode_launch_text(raw);
    const LaunchParams p = parse_launch_params(text);
    std::ostringstream out;
    out << " ip=" << p.ip << " km=" << p.portKM << " v=" << p.portV << " media=" << p.portMedia
        << " priv=" << p.priv << " dog=" << p.dogID << " mode=" << p.mouseMode
        << " user=" << p.userNM << " id=" << p.userID << " enc=" << key_text(p.desEncodeKey)
        << " dec=" << key_text(p.desDecodeKey) << " bridge=" << is_serial_bridge_text(text) << ' ';
    return out.str();
}

} // namespace

// Each case names the fields it is about; the others may hold anything.
TEST(LaunchText, FieldsTakenFromTheText)
{
    const std::string exact = "{userID:5," + std::string(1023 - 11, 'x') + "}";
    const struct {
        std::string text, expected;
    } cases[] = {
        {"{ip:192.168.1.10,portKM:5901,portV:5900,portMedia:5918,priv:1,dogID:3,mouseMode:1,"
         "userNM:admin,userID:7,desEncode:0123456789ABCDEF,desDecode:fedcba9876543210}",
         "ip=192.168.1.10 km=5901 v=5900 media=5918 priv=1 dog=3 mode=1 user=admin id=7 "
         "enc=0123456789abcdef dec=fedcba9876543210 bridge=0"},
        // Quotes and percent-encoding are undone before the text is split.
        {R"({"ip":"10.0.0.1","portKM":"5901","userNM":"bob"})", "ip=10.0.0.1 km=5901 user=bob"},
        {"%7Bip%3A10.0.0.1%2CportKM%3a5901%2cuserNM%3Abob%7D", "ip=10.0.0.1 km=5901 user=bob"},
        {"{desEncode:01 23;45\t67\r\n89;AB cd;eF;}", "enc=0123456789abcdef"},
        // The media port defaults only when its item is present.
        {"{portMedia:0}", "media=5918"}, {"{portMedia:abc}", "media=5918"},
        {"{portMedia:6000}", "media=6000"}, {"{portKM:5901}", "media=0 km=5901"},
        // Items match by prefix in order; the last occurrence wins; a blank matches nothing.
        {"{ ip:1.2.3.4,portKM:5}", "ip= km=5"}, {"{userID:7,userID:9}", "id=9"},
        {"{ipAddress:5.6.7.8,portVideo:77,userNMx:a:b:c,priv}", "ip=5.6.7.8 v=77 user=a:b:c priv=0"},
        {"{userNM}", "user=userNM"},
        // Empty pieces, unknown keys and text outside the braces are ignored.
        {"x,userID:1{,,dogID:2,,Port:3,portKM:4,}userID:5", "dog=2 km=4 id=0"},
        {"ip:1.2.3.4,userID:3", "ip= id=0"}, {"}userID:3{", "id=0"},
        // Numbers are decimal or zero.
        {"{userID: 42 }", "id=42"}, {"{userID:4294967295}", "id=4294967295"},
        {"{userID:4294967296}", "id=0"}, {"{userID:5901x}", "id=0"}, {"{userID:-1}", "id=0"},
        // A stray digit anywhere, a short or a long value: never part of a key.
        {"{desEncode:012345678ZABCDEF,desDecode:0123456789ABCDEFzz99}", "enc=- dec=-"},
        {"{desEncode:0123456789ABCDE,desDecode:0123456789ABCDEF0011}", "enc=- dec=-"},
        {"{desEncode:Z123456789ABCDEF,desDecode:}", "enc=- dec=-"},
        // portCOM anywhere selects the serial bridge, and is no key of the record.
        {"{portCOM:4001,portKM:5}", "bridge=1 km=5 v=0"}, {"{userNM:myportCOMuser}", "bridge=1"},
        {"{port%43OM:1}", "bridge=1"}, {"{portcom:1}", "bridge=0"},
        // The text is cut to 1023 bytes: a closing brace beyond them ends no items.
        {exact, "id=5"}, {exact.substr(0, 1022) + "x}", "id=0"}};
    for (const auto &c : cases) {
        const std::string actual = fields(c.text);
        std::istringstream words(c.expected);
        for (std::string word; words >> word;)
            EXPECT_NE(actual.find(' ' + word + ' '), std::string::npos) << c.text << "\n" << actual;
    }
    EXPECT_EQ(launch_window_title(parse_launch_params("{ip:192.168.1.10,dogID:3,userNM:admin}")),
              "Tessaract V2.1 2018.10.26 - Login User: admin DongleID:4 IP: 192.168.1.10");
}

TEST(LaunchText, PercentSequencesAreDecodedOnceAndCountBeforeDecoding)
{
    std::string encoded;
    for (int i = 0; i < 700; ++i)
        encoded += "%41";
    const std::pair<std::string, std::string> cases[] = {
        {"a%zz%4%%41%", "a%zz%4%A%"}, {"%22x%22", "x"}, {"ab%00cd", "ab"}, {"", ""},
        {encoded, std::string(341, 'A')}};
    for (const auto &[raw, decoded] : cases)
        EXPECT_EQ(decode_launch_text(raw), decoded) << raw;
}

// One problem per item at fault, naming it; the rest of the text is usable.
TEST(LaunchText, ProblemsNameTheItemAtFault)
{
    const std::pair<const char *, const char *> cases[] = {
        {"", ""}, {",portMedia:65535", ""},
        // Without the item the media channel fails on its own; 0 stands for 5918.
        {",portMedia:0", ""}, {",desEncode:13579bdf", "desEncode"},
        {",desDecode:0123456789ABCDEX", "desDecode"}, {",desDecode", "desDecode"},
        // A port of 16 bits wraps: 5901 + 65536 would connect to 5901.
        {",portKM:71437", "portKM"}, {",portKM:0", "portKM"}, {",portV:99999999999", "portV"},
        {",portMedia:65536", "portMedia"}, {",portMedia:4294967296", "portMedia"}};
    for (const auto &[items, item] : cases) {
        const std::vector<std::string> problems = launch_params_problems(parse_launch_params(
            std::string("{ip:10.0.0.1,portKM:5901,portV:5900,desEncode:0123456789ABCDEF,"
                        "desDecode:0123456789ABCDEF") + items + "}"));
        ASSERT_EQ(problems.size(), *item ? 1u : 0u) << items;
        EXPECT_TRUE(!*item || problems.front().rfind(std::string(item) + ": the ", 0) == 0) << items;
    }
}

TEST(ProgramPaths, StateFolderFollowsTheEnvironment)
{
    const QByteArray savedState = qgetenv("XDG_STATE_HOME"), savedHome = qgetenv("HOME");
    qputenv("XDG_STATE_HOME", "/var/tmp/state");
    EXPECT_EQ(user_state_dir(), "/var/tmp/state/tessaract");
    // Relative values are not to be used.
    qputenv("XDG_STATE_HOME", "relative/state");
    qputenv("HOME", "/home/someone");
    EXPECT_EQ(user_state_dir(), "/home/someone/.local/state/tessaract");
    qputenv("HOME", savedHome);
    qputenv("XDG_STATE_HOME", savedState);

    QTemporaryDir dir;
    const std::string nested = dir.path().toStdString() + "/a/b/c";
    EXPECT_TRUE(make_writable_dir(nested));
    EXPECT_TRUE(QDir(QString::fromStdString(nested)).exists());
    EXPECT_TRUE(make_writable_dir(nested + "/"));
    EXPECT_FALSE(make_writable_dir("/proc/self/none"));
    EXPECT_FALSE(make_writable_dir(""));
}

TEST(ProgramPaths, FirstArgumentIsCopiedThenWipedInPlace)
{
    char program[] = "tessaract", argument[] = "{desEncode:0123456789ABCDEF}";
    char *argv[] = {program, argument, nullptr};
    EXPECT_EQ(take_first_argument(2, argv), "{desEncode:0123456789ABCDEF}");
    EXPECT_EQ(std::string(argument, sizeof argument), std::string(sizeof argument, '\0'));
    EXPECT_EQ(take_first_argument(1, argv), "");
}
