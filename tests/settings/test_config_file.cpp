#include "settings/config_file.h"

#include "settings_test_support.h"

#include <QFileInfo>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;

namespace {

// A file as the writer indents it, so that a save changes the number and nothing else.
const QByteArray kConfig = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<!-- viewer settings -->\n"
                           "<config version=\"2\">\n"
                           "    <window width=\"800\" height=\"600\">kept &amp; text</window>\n"
                           "    <mouseRate>50</mouseRate>\n"
                           "    <mouseRate>7</mouseRate>\n"
                           "</config>\n";

struct ConfigFile : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path() const { return config_file_path(dir.path()); }

    QTemporaryDir dir;
    log_since log;
};

TEST_F(ConfigFile, LoadReadsTheFirstMouseRateAndLogsThePath)
{
    write_all(path(), kConfig);
    int rate = 33;
    EXPECT_TRUE(load_config_rate(path(), rate));
    EXPECT_EQ(rate, 50);
    EXPECT_THAT(log.text(), HasSubstr("get config info:" + path().toStdString()));
}

TEST_F(ConfigFile, SaveChangesOnlyTheMouseRate)
{
    write_all(path(), kConfig);
    EXPECT_TRUE(save_config_rate(path(), 80));
    QByteArray expected = kConfig;
    expected.replace("<mouseRate>50<", "<mouseRate>80<");
    EXPECT_EQ(read_all(path()).toStdString(), expected.toStdString());
    EXPECT_THAT(log.text(), HasSubstr("save config info:" + path().toStdString()));

    int rate = 0;
    EXPECT_TRUE(load_config_rate(path(), rate));
    EXPECT_EQ(rate, 80);
}

TEST_F(ConfigFile, MissingOrBrokenFilesKeepTheRateAndAreNeverCreated)
{
    int rate = 50;
    EXPECT_FALSE(load_config_rate(path(), rate));
    EXPECT_FALSE(save_config_rate(path(), 60));
    EXPECT_FALSE(QFileInfo::exists(path()));

    const QByteArray broken = "<config><mouseRate>60</mouseRate>";
    write_all(path(), broken);
    EXPECT_FALSE(load_config_rate(path(), rate));
    EXPECT_FALSE(save_config_rate(path(), 60));
    EXPECT_EQ(read_all(path()), broken);

    const QByteArray noRate = "<config><other>60</other></config>";
    write_all(path(), noRate);
    EXPECT_FALSE(load_config_rate(path(), rate));
    EXPECT_FALSE(save_config_rate(path(), 60));
    EXPECT_EQ(read_all(path()), noRate);

    write_all(path(), "");
    EXPECT_FALSE(load_config_rate(path(), rate));

    EXPECT_EQ(rate, 50);
    const std::string text = log.text();
    EXPECT_THAT(text, HasSubstr("not read: " + path().toStdString()));
    EXPECT_THAT(text, HasSubstr("not well-formed XML"));
    EXPECT_THAT(text, HasSubstr("has no mouseRate"));
}

TEST_F(ConfigFile, RatesOutsideOneToHundredAreRefusedByName)
{
    for (const char *text : {"0", "-5", "101", "200", "abc", "", "5x", "1e2"}) {
        write_all(path(), QByteArray("<config><mouseRate>") + text + "</mouseRate></config>");
        int rate = 42;
        EXPECT_FALSE(load_config_rate(path(), rate)) << text;
        EXPECT_EQ(rate, 42) << text;
        EXPECT_THAT(log.text(), HasSubstr(std::string("mouseRate \"") + text + "\"")) << text;
    }
    for (int good : {1, 100}) {
        write_all(path(), QByteArray("<config><mouseRate>") + QByteArray::number(good) +
                              "</mouseRate></config>");
        int rate = 42;
        EXPECT_TRUE(load_config_rate(path(), rate));
        EXPECT_EQ(rate, good);
    }
}

TEST_F(ConfigFile, InstalledFileHoldsTheDefaultRate)
{
    int rate = 0;
    EXPECT_TRUE(load_config_rate(QStringLiteral(TESSARACT_CONFIG_SOURCE_DIR "/config.xml"), rate));
    EXPECT_EQ(rate, 50);
}

} // namespace

// Found by fuzzing: TinyXML-2 accepted text after the root element, a save then wrote a
// file that no longer loaded, and the rate was lost for good.
TEST_F(ConfigFile, TextAfterTheRootIsNotWellFormedAndTheFileIsLeftAlone)
{
    const QByteArray crash = "<?xml version=\"1.<mouseRa-8\"?>\n<config>\n"
                             "    <mouseRate>50</mouseRate>\n</config>te> 101 </mouseRate>"
                             "</confi0\" encoding=\"UTF-8\"?>\n<config>\n"
                             "    <mouseRate>50</mouseRate>\n</config>\n";
    write_all(path(), crash);
    int rate = 42;
    EXPECT_FALSE(load_config_rate(path(), rate));
    EXPECT_EQ(rate, 42);
    EXPECT_FALSE(save_config_rate(path(), 60));
    EXPECT_EQ(read_all(path()), crash);
    EXPECT_THAT(log.text(), HasSubstr("not well-formed XML (text outside the root element)"));
}
