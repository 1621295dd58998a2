// "config.xml" items of paste as keystrokes: the remote keyboard layout and the typing rate.
#include "log_capture.h"
#include "settings/config_file.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct paste_config_case {
    const char *name;
    const char *items; // inside the root, beside mouseRate
    keyboard_layout_id layout;
    int rate;
    int warnings;
};

class PasteSettingsLoad : public ::testing::TestWithParam<paste_config_case> {};

// Missing items give the defaults quietly; a value that is not a layout or a rate gives the
// default and one warning naming the element.
TEST_P(PasteSettingsLoad, ReadsTheItemsOrFallsBackToTheDefaults)
{
    const paste_config_case &c = GetParam();
    QTemporaryDir dir;
    const QString path = config_file_path(dir.path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("<config><mouseRate>50</mouseRate>") + c.items + "</config>\n");
    file.close();

    log_capture log(LOG_LEVEL_WARN);
    EXPECT_EQ(load_config_paste_layout(path), c.layout);
    EXPECT_EQ(load_config_paste_rate(path), c.rate);
    EXPECT_EQ(log.count("config file"), c.warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Items, PasteSettingsLoad,
    ::testing::Values(paste_config_case{"Missing", "", keyboard_layout_id::us, 100, 0},
                      paste_config_case{"Given", "<pasteLayout> de </pasteLayout><pasteRate>250</pasteRate>",
                                        keyboard_layout_id::de, 250, 0},
                      paste_config_case{"Bad", "<pasteLayout>qwertz</pasteLayout><pasteRate>fast</pasteRate>",
                                        keyboard_layout_id::us, 100, 2},
                      paste_config_case{"NotPositive", "<pasteLayout/><pasteRate>0</pasteRate>",
                                        keyboard_layout_id::us, 100, 2}),
    [](const ::testing::TestParamInfo<paste_config_case> &param) { return std::string(param.param.name); });

// The chosen layout is written into the file, the element added when missing, everything
// else kept.
TEST(PasteSettings, SavesTheChosenLayoutKeepingTheRestOfTheFile)
{
    QTemporaryDir dir;
    const QString path = config_file_path(dir.path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<config>\n    <mouseRate>42</mouseRate>\n    <!-- installed -->\n</config>\n");
    file.close();

    ASSERT_TRUE(save_config_paste_layout(path, keyboard_layout_id::fr));
    ASSERT_TRUE(save_config_paste_layout(path, keyboard_layout_id::uk));
    EXPECT_EQ(load_config_paste_layout(path), keyboard_layout_id::uk);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    EXPECT_EQ(saved.count("<pasteLayout>"), 1) << saved.toStdString();
    EXPECT_TRUE(saved.contains("<mouseRate>42</mouseRate>")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("<!-- installed -->")) << saved.toStdString();

    log_capture log(LOG_LEVEL_WARN);
    EXPECT_FALSE(save_config_paste_layout(dir.filePath("missing/config.xml"), keyboard_layout_id::de));
    EXPECT_EQ(log.count("config file"), 1);
}

} // namespace
