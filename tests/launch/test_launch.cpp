#include "launch/LaunchParams.h"
#include "launch/program_paths.h"
#include "logging/CLogerManager.h"

#include <QDir>
#include <QFile>
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

// The main logger of the process, writing into a temporary folder; text() gives what was
// logged since the fixture started.
class LaunchLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        auto *manager = static_cast<CLogerManager *>(ILogManager::getInstance());
        LoggerConfig config = CLogerManager::mainLoggerDefaults();
        config.path = dir.path().toStdString() + "/";
        config.display = false;
        manager->setLogger(0, "Main", config);
        manager->start();
    }
    std::string text() const
    {
        std::string all;
        for (const QString &name : QDir(dir.path()).entryList(QDir::Files)) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                all += file.readAll().toStdString();
        }
        return all;
    }

    QTemporaryDir dir;
};

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
    EXPECT_EQ(launch_number("99999999999999999999999"), 0u);
    EXPECT_EQ(launch_number("5901x"), 0u);
    EXPECT_EQ(launch_number("-1"), 0u);
    EXPECT_EQ(launch_number("0x10"), 0u);
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

TEST(LaunchText, KeyDigitsIgnoreSeparatorsAndLetterCase)
{
    EXPECT_EQ(launch_key("0123456789ABCDEF"), kKey);
    EXPECT_EQ(launch_key("0123456789abcdef"), kKey);
    EXPECT_EQ(launch_key("01 23;45\t67\r\n89;AB cd;eF;"), kKey);
    EXPECT_EQ(parse("{desDecode:01 23 45 67 89 ab cd ef}").desDecodeKey, kKey);
    // Reading stops at the first pair that is not hexadecimal; 8 bytes before it suffice.
    EXPECT_EQ(launch_key("0123456789ABCDEFzz99"), kKey);
    EXPECT_EQ(launch_key("0123456789ABCDEF0011").length, 8);
}

TEST_F(LaunchLog, ShortKeyIsAbsentAndLoggedWithoutItsDigits)
{
    EXPECT_EQ(launch_key("0123456789ABCD"), DesKey{});
    EXPECT_EQ(launch_key("012345678ZABCDEF"), DesKey{});
    EXPECT_EQ(launch_key("0123456789ABCDE"), DesKey{});
    EXPECT_EQ(launch_key(""), DesKey{});

    // A later unusable item takes the earlier key away: the last occurrence counts.
    const LaunchParams p =
        parse("{desEncode:0123456789ABCDEF,desDecode:0123456789ABCDEF,desEncode:13579bdf}");
    EXPECT_FALSE(p.desEncodeKey.present());
    EXPECT_EQ(p.desEncodeKey, DesKey{});
    EXPECT_EQ(p.desDecodeKey, kKey);

    const std::string log = text();
    EXPECT_NE(log.find("LOG_ERROR launch item desEncode holds fewer than 8 key bytes"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("13579"), std::string::npos) << log;
    EXPECT_EQ(log.find("0123456789"), std::string::npos) << log;
}

TEST_F(LaunchLog, OverlongTextIsCutTo1023BytesWithAWarning)
{
    const std::string exact = "{userID:5," + std::string(1023 - 11, 'x') + "}";
    ASSERT_EQ(exact.size(), 1023u);
    EXPECT_EQ(decode_launch_text(exact), exact);
    EXPECT_EQ(parse(exact).userID, 5u);
    EXPECT_EQ(text().find("LOG_WARN"), std::string::npos);

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

    const std::string log = text();
    EXPECT_NE(log.find("LOG_WARN  launch text of 1024 bytes cut to 1023 bytes"), std::string::npos)
        << log;
    EXPECT_NE(log.find("launch text of 2100 bytes cut to 1023 bytes"), std::string::npos) << log;
    EXPECT_EQ(log.find("xxxx"), std::string::npos);
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

TEST(ProgramPaths, WipedArgumentKeepsItsLengthButNotItsText)
{
    char argument[] = "{desEncode:0123456789ABCDEF}";
    wipe_argument(argument);
    for (const char c : argument)
        EXPECT_EQ(c, '\0');
    wipe_argument(nullptr);
}
