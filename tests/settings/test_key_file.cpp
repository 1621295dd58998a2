#include "settings/key_file.h"
#include "settings/system_key.h"

#include "settings_test_support.h"

#include <QFileInfo>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

constexpr int kControl = 0x01000021;
constexpr int kAlt = 0x01000023;
constexpr int kDelete = 0x01000007;
constexpr int kMeta = 0x01000022;

const std::vector<SYSTEMKEYINFO> kCtrlAltDel = {
    {"Control", kControl}, {"Alt", kAlt}, {"Delete", kDelete}};

struct KeyFile : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path() const { return key_file_path(dir.path()); }

    QTemporaryDir dir;
    log_since log;
};

TEST_F(KeyFile, SaveRewritesOnlyCommonInTheStoredFormat)
{
    write_all(path(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<root owner=\"me\">\n"
                      "    <profile id=\"7\" lang=\"de\">Tastatur &lt;DE&gt;</profile>\n"
                      "    <common>\n"
                      "        <key name=\"old\">\n"
                      "            <keyValue value=\"65\" str=\"A\"/>\n"
                      "        </key>\n"
                      "    </common>\n"
                      "    <!-- kept -->\n"
                      "</root>\n");
    system_key_table table;
    table.insert("Ctrl+Alt+Del", kCtrlAltDel);
    table.insert("", {{"Win", kMeta}});
    EXPECT_TRUE(save_system_keys(path(), table));

    EXPECT_EQ(read_all(path()).toStdString(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<root owner=\"me\">\n"
              "    <profile id=\"7\" lang=\"de\">Tastatur &lt;DE&gt;</profile>\n"
              "    <common>\n"
              "        <key name=\"\">\n"
              "            <keyValue value=\"16777250\" str=\"Win\"/>\n"
              "        </key>\n"
              "        <key name=\"Ctrl+Alt+Del\">\n"
              "            <keyValue value=\"16777249\" str=\"Control\"/>\n"
              "            <keyValue value=\"16777251\" str=\"Alt\"/>\n"
              "            <keyValue value=\"16777223\" str=\"Delete\"/>\n"
              "        </key>\n"
              "    </common>\n"
              "    <!-- kept -->\n"
              "</root>\n");
    EXPECT_THAT(log.text(), HasSubstr("save system key info:" + path().toStdString()));
}

TEST_F(KeyFile, TableWrittenAndReadBackIsEqual)
{
    write_all(path(), "<keys><common/></keys>");
    system_key_table table;
    table.insert("Ctrl+Alt+Del", kCtrlAltDel);
    table.insert("Alt+Tab", {{"Alt", kAlt}, {"Tab", 0x01000001}});
    table.insert(QString::fromUtf8("Größe & <Ünïcode> \"q\""), {{"ß", 0xDF}, {"Esc", 0x01000000}});
    table.insert("nothing", {});
    table.insert("", {{"Win", kMeta}});
    ASSERT_TRUE(save_system_keys(path(), table));

    system_key_table back;
    back.insert("stale", {});
    ASSERT_TRUE(load_system_keys(path(), back));
    EXPECT_EQ(back, table);
}

TEST_F(KeyFile, LoadReadsAnyElementNamesAndALaterGroupReplacesAnEarlier)
{
    write_all(path(), "<r><other><key name=\"no\"/></other><common>"
                      "<g name=\"twice\"><k value=\"1\" str=\"one\"/></g>"
                      "<g name=\"twice\"><k value=\"2\" str=\"two\"/><k value=\"3\" str=\"x\"/></g>"
                      "</common><common><key name=\"second common\"/></common></r>");
    system_key_table table;
    ASSERT_TRUE(load_system_keys(path(), table));
    ASSERT_EQ(table.size(), 1);
    EXPECT_THAT(table.value("twice"), ElementsAre(SYSTEMKEYINFO{"two", 2}, SYSTEMKEYINFO{"x", 3}));
}

TEST_F(KeyFile, ElementsMissingRequiredAttributesAreSkippedWithWarnings)
{
    write_all(path(), "<r><common>\n"
                      "<key><keyValue value=\"1\" str=\"nameless\"/></key>\n"
                      "<key name=\"kept\">\n"
                      "  <keyValue value=\"16777249\" str=\"Control\"/>\n"
                      "  <keyValue value=\"16777251\"/>\n"
                      "  <keyValue str=\"no value\"/>\n"
                      "  <keyValue value=\"12abc\" str=\"bad value\"/>\n"
                      "  <keyValue value=\"16777223\" str=\"Delete\"/>\n"
                      "</key>\n"
                      "</common></r>");
    system_key_table table;
    EXPECT_TRUE(load_system_keys(path(), table));
    ASSERT_EQ(table.size(), 1);
    EXPECT_THAT(table.value("kept"),
                ElementsAre(SYSTEMKEYINFO{"Control", kControl}, SYSTEMKEYINFO{"Delete", kDelete}));
    const std::string text = log.text();
    EXPECT_THAT(text, HasSubstr("group on line 2 skipped, it has no name"));
    EXPECT_THAT(text, HasSubstr("key on line 5 skipped"));
    EXPECT_THAT(text, HasSubstr("key on line 6 skipped"));
    EXPECT_THAT(text, HasSubstr("key on line 7 skipped"));
}

// How a file that cannot be read behaves is shown with the settings file: the same reader.
TEST_F(KeyFile, UnreadableFileKeepsTheTableAndOneWithoutCommonEmptiesIt)
{
    system_key_table table;
    table.insert("kept", kCtrlAltDel);
    EXPECT_FALSE(load_system_keys(path(), table));
    EXPECT_EQ(table.size(), 1);
    EXPECT_FALSE(save_system_keys(path(), table));
    EXPECT_FALSE(QFileInfo::exists(path()));

    // A readable file without common gives an empty table and is not written.
    const QByteArray noCommon = "<r><uncommon/></r>";
    write_all(path(), noCommon);
    EXPECT_FALSE(load_system_keys(path(), table));
    EXPECT_TRUE(table.isEmpty());
    table.insert("kept", kCtrlAltDel);
    EXPECT_FALSE(save_system_keys(path(), table));
    EXPECT_EQ(read_all(path()), noCommon);
    EXPECT_THAT(log.text(), HasSubstr("system key file not read: " + path().toStdString()));
    EXPECT_THAT(log.text(), HasSubstr("has no common under its root"));
}

TEST(InstalledKeyFile, OffersTheCommonCombinations)
{
    system_key_table table;
    ASSERT_TRUE(load_system_keys(QStringLiteral(TESSARACT_CONFIG_SOURCE_DIR "/key.xml"), table));
    EXPECT_THAT(table.keys(), ElementsAre("Alt+F4", "Alt+Tab", "Ctrl+Alt+Backspace",
                                          "Ctrl+Alt+Del", "Ctrl+Alt+F1", "Ctrl+Alt+F2",
                                          "Ctrl+Esc", "Win"));
    EXPECT_EQ(table.value("Ctrl+Alt+Del"), kCtrlAltDel);
    // Each group is the keys its name lists, each key named as the key capture names it.
    for (auto group = table.cbegin(); group != table.cend(); ++group) {
        QStringList names;
        for (const SYSTEMKEYINFO &key : group.value()) {
            EXPECT_EQ(key.str, system_key_name(key.value, {})) << group.key().toStdString();
            names << key.str;
        }
        EXPECT_EQ(names.join('+').replace("Control", "Ctrl").replace("Delete", "Del"), group.key());
    }
}

// X11 gives Delete, and any letter held with Control, a control character as text.
TEST(SystemKeyName, ControlCharacterTextsFallBackToTheKey)
{
    EXPECT_EQ(system_key_name(kDelete, QStringLiteral("\x7f")), "Delete");
    EXPECT_EQ(system_key_name(0x41, QStringLiteral("\x01")), "A");
    EXPECT_EQ(system_key_name(0x41, QStringLiteral("a")), "a");
    EXPECT_EQ(system_key_name(0x01000004, QStringLiteral("\r")), "");
    EXPECT_EQ(join_system_keys(kCtrlAltDel), "Control + Alt + Delete");
    EXPECT_EQ(join_system_keys({}), "");
}

} // namespace
