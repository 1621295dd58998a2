#include "sysKeyConfig.h"

#include "settings/key_file.h"

#include "../settings/settings_test_support.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;

namespace {

constexpr int kControl = 0x01000021;
constexpr int kAlt = 0x01000023;
constexpr int kDelete = 0x01000007;

// The window as the user sees it, with every table it hands back recorded.
struct SysKeyWindow : ::testing::Test {
    void SetUp() override
    {
        QObject::connect(&window, &sysKeyConfig::updateSysKeyMap,
                         [this](system_key_table &table) { updates.push_back(table); });
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        keyString = window.findChild<QLineEdit *>("lineEdit_keyString");
        mappingName = window.findChild<QLineEdit *>("lineEdit_mappingName");
        list = window.findChild<QListWidget *>("listWidget");
        ASSERT_TRUE(keyString && mappingName && list);
        keyString->setFocus();
    }

    void click(const char *button)
    {
        auto *b = window.findChild<QPushButton *>(button);
        ASSERT_TRUE(b) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    }

    QStringList rows() const
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }

    sysKeyConfig window;
    QLineEdit *keyString = nullptr;
    QLineEdit *mappingName = nullptr;
    QListWidget *list = nullptr;
    std::vector<system_key_table> updates;
};

TEST_F(SysKeyWindow, CapturesControlAltDeleteInPressOrder)
{
    // QTest presses the modifiers first, as a user does: Control, Alt, then Delete.
    QTest::keyPress(keyString, Qt::Key_Delete, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyRelease(keyString, Qt::Key_Delete, Qt::ControlModifier | Qt::AltModifier);

    EXPECT_EQ(keyString->text(), "Control + Alt + Delete");
    EXPECT_THAT(window.keySequence(),
                ElementsAre(SYSTEMKEYINFO{"Control", kControl}, SYSTEMKEYINFO{"Alt", kAlt},
                            SYSTEMKEYINFO{"Delete", kDelete}));
}

TEST_F(SysKeyWindow, NamesKeysWithoutTextAndNeverTakesTypedText)
{
    QTest::keyClick(keyString, Qt::Key_Escape);
    QTest::keyClick(keyString, Qt::Key_F5);
    QTest::keyClick(keyString, Qt::Key_Pause);
    QTest::keyClick(keyString, Qt::Key_Meta);
    QTest::keyClick(keyString, Qt::Key_Tab);
    QTest::keyClick(keyString, 'x');
    EXPECT_EQ(keyString->text(), "Esc + F5 + PAUSE + Win + Tab + x");
    EXPECT_EQ(window.keySequence().size(), 6u);
    EXPECT_EQ(window.keySequence()[2].value, Qt::Key_Pause);
    EXPECT_TRUE(keyString->hasFocus()); // Tab was recorded, not used to move on

    // A held key repeats; it is recorded once.
    QTest::simulateEvent(keyString, true, Qt::Key_F5, Qt::NoModifier, {}, true);
    EXPECT_EQ(window.keySequence().size(), 6u);
}

TEST_F(SysKeyWindow, ClearLeavesTableAndFileAlone)
{
    QTemporaryDir dir;
    const QString path = key_file_path(dir.path());
    write_all(path, "<r><common><key name=\"Ctrl+Alt+Del\">"
                    "<keyValue value=\"16777249\" str=\"Control\"/></key></common></r>");
    // Wired as the main window does: every new table is saved.
    QObject::connect(&window, &sysKeyConfig::updateSysKeyMap,
                     [&path](system_key_table &table) { save_system_keys(path, table); });
    const QByteArray before = read_all(path);
    system_key_table table;
    ASSERT_TRUE(load_system_keys(path, table));
    window.loadSysKeyMap(table);
    list->setCurrentRow(0);

    QTest::keyClick(keyString, Qt::Key_F5);
    click("pb_clear");

    EXPECT_EQ(keyString->text(), "");
    EXPECT_TRUE(window.keySequence().empty());
    EXPECT_EQ(window.sysKeyMap(), table);
    EXPECT_TRUE(updates.empty());
    EXPECT_EQ(read_all(path), before);
}

TEST_F(SysKeyWindow, AddStoresOneRowPerNameAndRefusesAnEmptyName)
{
    window.loadSysKeyMap({{"", {{"Win", 0x01000022}}}, {"Alt+Tab", {}}});
    EXPECT_EQ(rows(), QStringList{"Alt+Tab"});

    QTest::keyClick(keyString, Qt::Key_F1, Qt::AltModifier);
    click("pb_add"); // no name yet
    EXPECT_TRUE(updates.empty());
    QTest::keyClicks(mappingName, "  ");
    click("pb_add");
    EXPECT_TRUE(updates.empty());

    mappingName->setText("Help");
    click("pb_add");
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_THAT(updates.back().value("Help"),
                ElementsAre(SYSTEMKEYINFO{"Alt", kAlt}, SYSTEMKEYINFO{"F1", Qt::Key_F1}));
    EXPECT_EQ(updates.back().size(), 3); // the nameless group is handed back too
    EXPECT_EQ(rows(), (QStringList{"Alt+Tab", "Help"}));

    click("pb_clear");
    QTest::keyClick(keyString, Qt::Key_F2);
    mappingName->setText("Help");
    click("pb_add");
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_THAT(updates.back().value("Help"), ElementsAre(SYSTEMKEYINFO{"F2", Qt::Key_F2}));
    EXPECT_EQ(rows(), (QStringList{"Alt+Tab", "Help"}));
}

TEST_F(SysKeyWindow, SelectingAGroupShowsItAndModifyRenamesIt)
{
    window.loadSysKeyMap({{"Ctrl+Alt+Del", {{"Control", kControl}, {"Alt", kAlt},
                                            {"Delete", kDelete}}},
                          {"Esc", {{"Esc", Qt::Key_Escape}}}});
    click("pb_modify"); // nothing selected
    EXPECT_TRUE(updates.empty());

    list->setCurrentRow(0);
    EXPECT_EQ(mappingName->text(), "Ctrl+Alt+Del");
    EXPECT_EQ(keyString->text(), "Control + Alt + Delete");

    mappingName->setText("Secure attention");
    click("pb_modify");
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_THAT(updates.back().keys(), ElementsAre("Esc", "Secure attention"));
    EXPECT_EQ(updates.back().value("Secure attention").size(), 3u);
    EXPECT_EQ(rows(), (QStringList{"Secure attention", "Esc"}));

    // Renaming onto another group's name replaces that group and its row.
    mappingName->setText("Esc");
    click("pb_modify");
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_THAT(updates.back().keys(), ElementsAre("Esc"));
    EXPECT_EQ(updates.back().value("Esc").size(), 3u);
    EXPECT_EQ(rows(), QStringList{"Esc"});
}

TEST_F(SysKeyWindow, DeleteRemovesTheSelectedGroupAndItsRow)
{
    window.loadSysKeyMap({{"a", {}}, {"b", {{"F3", Qt::Key_F3}}}});
    click("pb_delete"); // nothing selected
    EXPECT_TRUE(updates.empty());

    list->setCurrentRow(0);
    click("pb_delete");
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_THAT(updates.back().keys(), ElementsAre("b"));
    EXPECT_EQ(rows(), QStringList{"b"});
    EXPECT_EQ(mappingName->text(), "b"); // the next row became current
    EXPECT_EQ(keyString->text(), "F3");

    click("pb_delete");
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_TRUE(updates.back().isEmpty());
    EXPECT_TRUE(rows().isEmpty());
    click("pb_delete");
    EXPECT_EQ(updates.size(), 2u);
}

} // namespace
