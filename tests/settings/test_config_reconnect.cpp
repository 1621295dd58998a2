// The reconnect item of "config.xml".
#include "settings/config_file.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace {

struct reconnect_case {
    const char *name;
    const char *item;  // inside the root, after mouseRate
    bool loaded;       // load_config_reconnect's result
    bool on;           // the setting afterwards, from the default "on"
};

struct ConfigReconnect : ::testing::TestWithParam<reconnect_case> {};

TEST_P(ConfigReconnect, ReadsZeroOrOneAndKeepsTheDefaultOtherwise)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = config_file_path(dir.path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((std::string("<config><mouseRate>50</mouseRate>") + GetParam().item + "</config>").c_str());
    file.close();
    bool on = true;
    EXPECT_EQ(load_config_reconnect(path, on), GetParam().loaded);
    EXPECT_EQ(on, GetParam().on);
}

INSTANTIATE_TEST_SUITE_P(
    , ConfigReconnect,
    ::testing::Values(reconnect_case{"Off", "<reconnect>0</reconnect>", true, false},
                      reconnect_case{"On", "<reconnect> 1 </reconnect>", true, true},
                      reconnect_case{"Missing", "", false, true},
                      reconnect_case{"Unreadable", "<reconnect>no</reconnect>", false, true}),
    [](const auto &test) { return std::string(test.param.name); });

TEST(ConfigReconnectInstalled, InstalledFileReconnects)
{
    bool on = false;
    EXPECT_TRUE(load_config_reconnect(QStringLiteral(TESSARACT_CONFIG_SOURCE_DIR "/config.xml"), on));
    EXPECT_TRUE(on);
}

} // namespace
