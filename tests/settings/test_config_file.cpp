#include "settings/config_file.h"

#include "settings_test_support.h"

#include "settings/xml_file.h"

#include <QFileInfo>

#include <chrono>
#include <cstdlib>
#include <future>
#include <tuple>
#include <sys/stat.h>

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

TEST_F(ConfigFile, LoadReadsTheFirstMouseRateAndSaveChangesOnlyIt)
{
    write_all(path(), kConfig);
    int rate = 33;
    EXPECT_TRUE(load_config_rate(path(), rate));
    EXPECT_EQ(rate, 50);
    EXPECT_THAT(log.text(), HasSubstr("get config info:" + path().toStdString()));
    EXPECT_TRUE(save_config_rate(path(), 80));
    QByteArray expected = kConfig;
    expected.replace("<mouseRate>50<", "<mouseRate>80<");
    EXPECT_EQ(read_all(path()).toStdString(), expected.toStdString());
    EXPECT_THAT(log.text(), HasSubstr("save config info:" + path().toStdString()));
    EXPECT_TRUE(load_config_rate(path(), rate));
    EXPECT_EQ(rate, 80);
}

// What lies at the settings path instead of a usable file.
enum class Kind { Missing, Content, Fifo, DevZeroLink, Folder };

struct Unusable {
    const char *name;
    Kind kind;
    QByteArray content; // for Kind::Content
    const char *warning;
};

class UnusableConfig : public ConfigFile, public ::testing::WithParamInterface<Unusable> {
protected:
    bool make(const Unusable &c)
    {
        switch (c.kind) {
        case Kind::Missing: return true;
        case Kind::Content: write_all(path(), c.content); return true;
        case Kind::Fifo: return ::mkfifo(QFile::encodeName(path()).constData(), 0600) == 0;
        case Kind::DevZeroLink: return QFile::link(QStringLiteral("/dev/zero"), path());
        case Kind::Folder: return QDir(dir.path()).mkdir(QStringLiteral("config.xml"));
        }
        return false;
    }
};

// Loading keeps the rate, saving writes nothing, neither waits on the file nor reads it
// without end, and one warning says why.
TEST_P(UnusableConfig, KeepsTheRateAndIsLeftAlone)
{
    const Unusable &c = GetParam();
    ASSERT_TRUE(make(c));
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
    EXPECT_THAT(log.text(), HasSubstr(path().toStdString()));
    EXPECT_THAT(log.text(), HasSubstr(c.warning));
}

QByteArray over_cap_document()
{
    QByteArray document = "<config><mouseRate>60</mouseRate>";
    const QByteArray end = "</config>";
    const auto cap = static_cast<qsizetype>(kMaxSettingsFileBytes);
    document += QByteArray(cap + 1 - document.size() - end.size(), ' ');
    return document + end;
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
