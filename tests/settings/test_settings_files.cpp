// The settings files beside the program: "config.xml" with the mouse rate and "key.xml" with
// the system key combinations.
#include "settings/config_file.h"
#include "settings/key_file.h"
#include "settings/system_key.h"
#include "settings/xml_file.h"

#include "logging/CLogerManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <future>
#include <tuple>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

QByteArray read_all(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write_all(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

// Everything the process's main logger has written, into a private folder it is pointed at
// on the first call. Lines are in the file once the statement that logs them has returned.
std::string main_log_text()
{
    static QTemporaryDir dir;
    [[maybe_unused]] static const bool started = [] {
        LoggerConfig config = CLogerManager::mainLoggerDefaults();
        config.path = dir.path().toStdString() + "/";
        config.display = false;
        config.level = LOG_LEVEL_TRACE;
        auto *manager = dynamic_cast<CLogerManager *>(ILogManager::getInstance());
        manager->setLogger(ILogManager::kMainLogger, "Main", config);
        manager->start();
        return true;
    }();
    std::string all;
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files, QDir::Name))
        all += read_all(dir.filePath(name)).toStdString();
    return all;
}

// A settings file in a fresh folder, and what was logged since the test began.
struct SettingsFile : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string log() const { return main_log_text().substr(mark); }

    QTemporaryDir dir;
    std::size_t mark = main_log_text().size();
};

constexpr int kControl = 0x01000021;
constexpr int kAlt = 0x01000023;
constexpr int kDelete = 0x01000007;
constexpr int kMeta = 0x01000022;

const std::vector<SYSTEMKEYINFO> kCtrlAltDel = {
    {"Control", kControl}, {"Alt", kAlt}, {"Delete", kDelete}};

struct ConfigFile : SettingsFile {
    QString path() const { return config_file_path(dir.path()); }
};

// A file as the writer indents it, so that a save changes the number and nothing else.
TEST_F(ConfigFile, LoadReadsTheFirstMouseRateAndSaveChangesOnlyIt)
{
    const QByteArray original = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<!-- viewer settings -->\n"
                                "<config version=\"2\">\n"
                                "    <window width=\"800\" height=\"600\">kept &amp; text</window>\n"
                                "    <mouseRate>50</mouseRate>\n"
                                "    <mouseRate>7</mouseRate>\n"
                                "</config>\n";
    write_all(path(), original);
    int rate = 33;
    EXPECT_TRUE(load_config_rate(path(), rate));
    EXPECT_EQ(rate, 50);
    EXPECT_TRUE(save_config_rate(path(), 80));
    EXPECT_EQ(read_all(path()).toStdString(),
              QByteArray(original).replace("<mouseRate>50<", "<mouseRate>80<").toStdString());
}

TEST_F(ConfigFile, OnlyRatesFromOneToHundredAreTaken)
{
    for (const char *text : {"0", "-5", "101", "200", "abc", "", "5x", "1e2", "1", "100"}) {
        write_all(path(), QByteArray("<config><mouseRate>") + text + "</mouseRate></config>");
        int rate = 42;
        const bool good = QByteArray(text) == "1" || QByteArray(text) == "100";
        EXPECT_EQ(load_config_rate(path(), rate), good) << text;
        EXPECT_EQ(rate, good ? std::atoi(text) : 42) << text;
        if (!good) {
            EXPECT_THAT(log(), HasSubstr(std::string("mouseRate \"") + text + "\"")) << text;
        }
    }
}

// What lies at the settings path instead of a usable file.
enum class Kind { Missing, Content, Fifo, DevZeroLink, Folder };

struct Unusable {
    const char *name;
    Kind kind;
    QByteArray content; // for Kind::Content
    const char *warning;
};

class UnusableConfig : public ConfigFile, public ::testing::WithParamInterface<Unusable> {};

// Loading keeps the rate, saving writes nothing, neither waits on the file nor reads it
// without end, and one warning says why.
TEST_P(UnusableConfig, KeepsTheRateAndIsLeftAlone)
{
    const Unusable &c = GetParam();
    switch (c.kind) {
    case Kind::Missing: break;
    case Kind::Content: write_all(path(), c.content); break;
    case Kind::Fifo: ASSERT_EQ(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0); break;
    case Kind::DevZeroLink: ASSERT_TRUE(QFile::link("/dev/zero", path())); break;
    case Kind::Folder: ASSERT_TRUE(QDir().mkdir(path())); break;
    }
    auto run = std::async(std::launch::async, [this] {
        int rate = 42;
        const bool loaded = load_config_rate(path(), rate);
        return std::tuple(loaded, rate, save_config_rate(path(), 60));
    });
    if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "loading " << c.name << " does not return";
        std::abort();
    }
    EXPECT_EQ(run.get(), std::tuple(false, 42, false)); // loaded, rate, saved
    EXPECT_EQ(QFileInfo::exists(path()), c.kind != Kind::Missing);
    if (c.kind == Kind::Content) {
        EXPECT_EQ(read_all(path()), c.content);
    }
    EXPECT_THAT(log(), HasSubstr(path().toStdString()));
    EXPECT_THAT(log(), HasSubstr(c.warning));
}

QByteArray over_cap_document()
{
    const QByteArray start = "<config><mouseRate>60</mouseRate>", end = "</config>";
    const auto cap = static_cast<qsizetype>(kMaxSettingsFileBytes);
    return start + QByteArray(cap + 1 - start.size() - end.size(), ' ') + end;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnusableConfig,
    ::testing::Values(
        Unusable{"missing", Kind::Missing, {}, "No such file or directory"},
        Unusable{"broken", Kind::Content, "<config><mouseRate>60</mouseRate>", "not well-formed XML"},
        Unusable{"empty", Kind::Content, "", "not well-formed XML"},
        Unusable{"noRate", Kind::Content, "<config><other>60</other></config>", "has no mouseRate"},
        // Found by fuzzing: TinyXML-2 accepted text after the root element, a save then
        // wrote a file that no longer loaded, and the rate was lost for good.
        Unusable{"textAfterRoot", Kind::Content,
                 "<config>\n    <mouseRate>50</mouseRate>\n</config>te> 101 </mouseRate>",
                 "not well-formed XML (text outside the root element)"},
        Unusable{"fifo", Kind::Fifo, {}, "(not a regular file)"},
        Unusable{"devZeroLink", Kind::DevZeroLink, {}, "(not a regular file)"},
        Unusable{"folder", Kind::Folder, {}, "(not a regular file)"},
        Unusable{"overCap", Kind::Content, over_cap_document(), "(longer than 1048576 bytes)"}),
    [](const auto &test) { return std::string(test.param.name); });

struct KeyFile : SettingsFile {
    QString path() const { return key_file_path(dir.path()); }
};

TEST_F(KeyFile, SaveRewritesOnlyCommonInTheStoredFormat)
{
    const std::string before = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<root owner=\"me\">\n"
                               "    <profile id=\"7\" lang=\"de\">Tastatur &lt;DE&gt;</profile>\n"
                               "    <common>\n";
    const std::string after = "    </common>\n"
                              "    <!-- kept -->\n"
                              "</root>\n";
    write_all(path(), QByteArray::fromStdString(before + "        <key name=\"old\"/>\n" + after));
    system_key_table table;
    table.insert("Ctrl+Alt+Del", kCtrlAltDel);
    table.insert("", {{"Win", kMeta}});
    EXPECT_TRUE(save_system_keys(path(), table));
    EXPECT_EQ(read_all(path()).toStdString(),
              before + "        <key name=\"\">\n"
                       "            <keyValue value=\"16777250\" str=\"Win\"/>\n"
                       "        </key>\n"
                       "        <key name=\"Ctrl+Alt+Del\">\n"
                       "            <keyValue value=\"16777249\" str=\"Control\"/>\n"
                       "            <keyValue value=\"16777251\" str=\"Alt\"/>\n"
                       "            <keyValue value=\"16777223\" str=\"Delete\"/>\n"
                       "        </key>\n" + after);
}

// Any element names; a later group replaces an earlier one; what lacks a required attribute
// is skipped with a warning.
TEST_F(KeyFile, LoadTakesEveryGroupOfCommonAndSkipsIncompleteOnes)
{
    write_all(path(), "<r><other><key name=\"no\"/></other><common>\n"
                      "<key><keyValue value=\"1\" str=\"nameless\"/></key>\n"
                      "<g name=\"twice\"><k value=\"1\" str=\"one\"/></g>\n"
                      "<g name=\"twice\">\n"
                      "  <k value=\"16777249\" str=\"Control\"/>\n"
                      "  <keyValue value=\"16777251\"/>\n"
                      "  <keyValue str=\"no value\"/>\n"
                      "  <keyValue value=\"12abc\" str=\"bad value\"/>\n"
                      "  <k value=\"16777223\" str=\"Delete\"/>\n"
                      "</g></common><common><key name=\"second common\"/></common></r>");
    system_key_table table;
    ASSERT_TRUE(load_system_keys(path(), table));
    EXPECT_THAT(table.keys(), ElementsAre("twice"));
    EXPECT_THAT(table.value("twice"),
                ElementsAre(SYSTEMKEYINFO{"Control", kControl}, SYSTEMKEYINFO{"Delete", kDelete}));
    const std::string text = log();
    EXPECT_THAT(text, HasSubstr("group on line 2 skipped, it has no name"));
    for (const char *line : {"6", "7", "8"})
        EXPECT_THAT(text, HasSubstr(std::string("key on line ") + line + " skipped"));
}

// How other unusable files behave is shown with the settings file: the same reader.
TEST_F(KeyFile, UnreadableFileKeepsTheTableAndOneWithoutCommonEmptiesIt)
{
    system_key_table table{{"kept", kCtrlAltDel}};
    EXPECT_FALSE(load_system_keys(path(), table));
    EXPECT_EQ(table.size(), 1);
    EXPECT_FALSE(save_system_keys(path(), table));
    EXPECT_FALSE(QFileInfo::exists(path()));
    EXPECT_THAT(log(), HasSubstr("system key file not read: " + path().toStdString()));

    write_all(path(), "<r><uncommon/></r>");
    EXPECT_FALSE(load_system_keys(path(), table));
    EXPECT_TRUE(table.isEmpty());
    EXPECT_FALSE(save_system_keys(path(), {{"kept", kCtrlAltDel}}));
    EXPECT_EQ(read_all(path()), "<r><uncommon/></r>");
    EXPECT_THAT(log(), HasSubstr("has no common under its root"));
}

// X11 gives Delete, Return and any letter held with Control a control character as text.
TEST(SystemKeyName, FixedNamesThenPrintableTextThenTheKeysOwnCharacter)
{
    const struct {
        int key;
        const char *text;
        const char *name;
    } cases[] = {{kMeta, "", "Win"}, {0x01000000, "\x1b", "Esc"}, {0x20, " ", "Space"},
                 {0x41, "a", "a"}, {kDelete, "\x7f", "Delete"}, {0x41, "\x01", "A"},
                 {0x01000030, "", "F1"}, {0x0100003B, "", "F12"}, {0x0100003C, "", ""},
                 {0x01000008, "", "PAUSE"}, {0x01000004, "\r", ""}, {0x21, "", "!"},
                 {0x7E, "", "~"}, {0x7F, "", ""}};
    for (const auto &c : cases)
        EXPECT_EQ(system_key_name(c.key, QString::fromLatin1(c.text)), c.name) << c.key;
    EXPECT_EQ(join_system_keys({}), "");
}

} // namespace
