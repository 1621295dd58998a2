// The settings files beside the program: "config.xml" with the mouse rate and "key.xml" with
// the system key combinations.
#include "logging/CLogerManager.h"
#include "settings/config_file.h"
#include "settings/key_file.h"
#include "settings/xml_file.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>
#include <future>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

QByteArray read_all(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write_all(const QString &path, const QByteArray &data)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
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
        return manager->start();
    }();
    std::string all;
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files, QDir::Name))
        all += read_all(dir.filePath(name)).toStdString();
    return all;
}

// The settings files in a fresh folder, and what was logged since the test began.
struct SettingsFile : ::testing::Test {
    std::string log() const { return main_log_text().substr(mark); }

    QTemporaryDir dir;
    const QString config = config_file_path(dir.path());
    const QString keys = key_file_path(dir.path());
    std::size_t mark = main_log_text().size();
};

// A file as the writer indents it, so that a save changes the number and nothing else; the
// paste layout chosen is added once and then changed.
TEST_F(SettingsFile, ConfigLoadReadsTheFirstMouseRateAndSaveChangesOnlyIt)
{
    const QByteArray original = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<!-- viewer settings -->\n"
                                "<config version=\"2\">\n"
                                "    <window width=\"800\">kept &amp; text</window>\n"
                                "    <mouseRate>50</mouseRate>\n"
                                "    <mouseRate>7</mouseRate>\n"
                                "</config>\n";
    write_all(config, original);
    int rate = 33;
    EXPECT_TRUE(load_config_rate(config, rate));
    EXPECT_EQ(rate, 50);
    EXPECT_TRUE(save_config_rate(config, 80));
    EXPECT_EQ(read_all(config), QByteArray(original).replace("<mouseRate>50<", "<mouseRate>80<"));
    EXPECT_TRUE(save_config_paste_layout(config, keyboard_layout_id::fr));
    EXPECT_TRUE(save_config_paste_layout(config, keyboard_layout_id::uk));
    EXPECT_EQ(read_all(config), QByteArray(original)
                                    .replace("<mouseRate>50<", "<mouseRate>80<")
                                    .replace("</config>", "    <pasteLayout>uk</pasteLayout>\n</config>"));
}

TEST_F(SettingsFile, ConfigRatesFromOneToHundredOnlyAreTaken)
{
    for (const char *text : {"0", "-5", "101", "200", "abc", "", "5x", "1e2", "1", "100"}) {
        write_all(config, QByteArray("<config><mouseRate>") + text + "</mouseRate></config>");
        int rate = 42;
        const bool good = std::string(text) == "1" || std::string(text) == "100";
        EXPECT_EQ(load_config_rate(config, rate), good) << text;
        EXPECT_EQ(rate, good ? std::atoi(text) : 42) << text;
        EXPECT_EQ(has(log(), std::string("mouseRate \"") + text + "\""), !good) << text;
    }
}

// The optional items: reconnecting is on unless it says 0 (the shipped file turns it on),
// keys are physical unless it says qt, paste types US at 100 characters a second unless
// told otherwise; a word it does not know keeps the default.
TEST_F(SettingsFile, OptionalItemsAreReadOrKeepTheirDefaults)
{
    const struct {
        const char *items;
        bool reconnect;
        key_mapping keys;
        keyboard_layout_id layout;
        int rate;
    } cases[] = {
        {"", true, key_mapping::physical, keyboard_layout_id::us, 100},
        {"<reconnect>0</reconnect><keyMapping> QT </keyMapping><pasteLayout>de</pasteLayout>"
         "<pasteRate>250</pasteRate>", false, key_mapping::qt_key, keyboard_layout_id::de, 250},
        {"<reconnect> 1 </reconnect><keyMapping>physical</keyMapping>", true, key_mapping::physical,
         keyboard_layout_id::us, 100},
        {"<reconnect>no</reconnect><keyMapping>x</keyMapping><pasteLayout>qwertz</pasteLayout>"
         "<pasteRate>0</pasteRate>", true, key_mapping::physical, keyboard_layout_id::us, 100},
    };
    for (const auto &c : cases) {
        write_all(config, QByteArray("<config><mouseRate>50</mouseRate>") + c.items + "</config>");
        bool on = true;
        key_mapping keys = key_mapping::physical;
        load_config_reconnect(config, on);
        load_config_key_mapping(config, keys);
        EXPECT_EQ(on, c.reconnect) << c.items;
        EXPECT_EQ(keys, c.keys) << c.items;
        EXPECT_EQ(load_config_paste_layout(config), c.layout) << c.items;
        EXPECT_EQ(load_config_paste_rate(config), c.rate) << c.items;
    }
    bool shipped = false;
    EXPECT_TRUE(load_config_reconnect(QStringLiteral(TESSARACT_CONFIG_SOURCE_DIR "/config.xml"), shipped));
    EXPECT_TRUE(shipped);
}

// Loading keeps the rate, saving writes nothing, neither waits on the file nor reads it
// without end, and one warning says why.
TEST_F(SettingsFile, UnusableConfigKeepsTheRateAndIsLeftAlone)
{
    const QByteArray start = "<config><mouseRate>60</mouseRate>";
    const auto cap = static_cast<qsizetype>(kMaxSettingsFileBytes);
    const struct {
        const char *name;
        QByteArray content; // a file, or what stands at the path instead: "missing", "fifo",
                            // "devZeroLink", "folder"
        const char *warning;
    } cases[] = {
        {"missing", {}, "No such file or directory"},
        {"broken", start, "not well-formed XML"},
        {"empty", "", "not well-formed XML"},
        {"noRate", "<config><other>60</other></config>", "has no mouseRate"},
        // Found by fuzzing: TinyXML-2 accepted text after the root element, a save then
        // wrote a file that no longer loaded, and the rate was lost for good.
        {"textAfterRoot", "<config>\n    <mouseRate>50</mouseRate>\n</config>te> 101 </mouseRate>",
         "not well-formed XML (text outside the root element)"},
        {"fifo", {}, "(not a regular file)"},
        {"devZeroLink", {}, "(not a regular file)"},
        {"folder", {}, "(not a regular file)"},
        {"overCap", start + QByteArray(cap + 1 - start.size() - 9, ' ') + "</config>",
         "(longer than 1048576 bytes)"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t logMark = log().size();
        const QString path = config_file_path(dir.filePath(c.name));
        ASSERT_TRUE(QDir(dir.path()).mkdir(c.name));
        const std::string kind = c.content.isNull() ? c.name : "content";
        if (kind == "content")
            write_all(path, c.content);
        ASSERT_TRUE(kind != "fifo" || ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        ASSERT_TRUE(kind != "devZeroLink" || QFile::link("/dev/zero", path));
        ASSERT_TRUE(kind != "folder" || QDir().mkdir(path));
        auto run = std::async(std::launch::async, [&path] {
            int rate = 42;
            const bool loaded = load_config_rate(path, rate);
            return std::tuple(loaded, rate, save_config_rate(path, 60));
        });
        if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "does not return";
            std::abort();
        }
        EXPECT_EQ(run.get(), std::tuple(false, 42, false)); // loaded, rate, saved
        EXPECT_EQ(QFileInfo::exists(path), kind != "missing");
        if (kind == "content") {
            EXPECT_EQ(read_all(path), c.content);
        }
        EXPECT_THAT(log().substr(logMark), HasSubstr(path.toStdString()));
        EXPECT_THAT(log().substr(logMark), HasSubstr(c.warning));
    }
}

TEST_F(SettingsFile, KeySaveRewritesOnlyCommonInTheStoredFormat)
{
    const QByteArray before = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                              "<root owner=\"me\">\n"
                              "    <profile id=\"7\">Tastatur &lt;DE&gt;</profile>\n"
                              "    <common>\n";
    const QByteArray after = "    </common>\n"
                             "    <!-- kept -->\n"
                             "</root>\n";
    write_all(keys, before + "        <key name=\"old\"/>\n" + after);
    EXPECT_TRUE(save_system_keys(keys, {{"Ctrl+Alt+Del", {{"Control", 16777249}, {"Delete", 16777223}}},
                                        {"", {{"Win", 16777250}}}}));
    EXPECT_EQ(read_all(keys), before + "        <key name=\"\">\n"
                                       "            <keyValue value=\"16777250\" str=\"Win\"/>\n"
                                       "        </key>\n"
                                       "        <key name=\"Ctrl+Alt+Del\">\n"
                                       "            <keyValue value=\"16777249\" str=\"Control\"/>\n"
                                       "            <keyValue value=\"16777223\" str=\"Delete\"/>\n"
                                       "        </key>\n" + after);
}

// Any element names; a later group replaces an earlier one; what lacks a required attribute
// is skipped with a warning.
TEST_F(SettingsFile, KeyLoadTakesEveryGroupOfCommonAndSkipsIncompleteOnes)
{
    write_all(keys, "<r><other><key name=\"no\"/></other><common>\n"
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
    ASSERT_TRUE(load_system_keys(keys, table));
    EXPECT_EQ(table, (system_key_table{{"twice", {{"Control", 16777249}, {"Delete", 16777223}}}}));
    EXPECT_THAT(log(), HasSubstr("group on line 2 skipped, it has no name"));
    for (const char *line : {"6", "7", "8"})
        EXPECT_THAT(log(), HasSubstr(std::string("key on line ") + line + " skipped"));
}

// How other unusable files behave is shown with the settings file: the same reader.
TEST_F(SettingsFile, UnreadableKeyFileKeepsTheTableAndOneWithoutCommonEmptiesIt)
{
    const system_key_table kept{{"kept", {{"Win", 16777250}}}};
    system_key_table table = kept;
    EXPECT_FALSE(load_system_keys(keys, table));
    EXPECT_EQ(table, kept);
    EXPECT_FALSE(save_system_keys(keys, table));
    EXPECT_FALSE(QFileInfo::exists(keys));
    EXPECT_THAT(log(), HasSubstr("system key file not read: " + keys.toStdString()));

    write_all(keys, "<r><uncommon/></r>");
    EXPECT_FALSE(load_system_keys(keys, table));
    EXPECT_TRUE(table.isEmpty());
    EXPECT_FALSE(save_system_keys(keys, kept));
    EXPECT_EQ(read_all(keys), "<r><uncommon/></r>");
    EXPECT_THAT(log(), HasSubstr("has no common under its root"));
}

// X11 gives Delete, Return and any letter held with Control a control character as text.
TEST(SystemKeyName, FixedNamesThenPrintableTextThenTheKeysOwnCharacter)
{
    const std::tuple<int, const char *, const char *> cases[] = {
        {0x01000022, "", "Win"}, {0x01000000, "\x1b", "Esc"}, {0x20, " ", "Space"}, {0x41, "a", "a"},
        {0x01000007, "\x7f", "Delete"}, {0x41, "\x01", "A"}, {0x01000030, "", "F1"},
        {0x0100003B, "", "F12"}, {0x0100003C, "", ""}, {0x01000008, "", "PAUSE"},
        {0x01000004, "\r", ""}, {0x21, "", "!"}, {0x7E, "", "~"}, {0x7F, "", ""}};
    for (const auto &[key, text, name] : cases)
        EXPECT_EQ(system_key_name(key, QString::fromLatin1(text)), name) << key;
    EXPECT_EQ(join_system_keys({{"Control", 1}, {"Alt", 2}}), "Control + Alt");
    EXPECT_EQ(join_system_keys({}), "");
}

} // namespace
