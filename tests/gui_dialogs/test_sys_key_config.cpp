#include "sysKeyConfig.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;

namespace {

// The window as the user sees it, with every table it hands back recorded.
struct SysKeyWindow : ::testing::Test {
    void click(const char *button)
    {
        QTest::mouseClick(window.findChild<QPushButton *>(button), Qt::LeftButton);
    }

    QStringList rows() const
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }

    sysKeyConfig window;
    QLineEdit *keyString = window.findChild<QLineEdit *>("lineEdit_keyString");
    QLineEdit *mappingName = window.findChild<QLineEdit *>("lineEdit_mappingName");
    QListWidget *list = window.findChild<QListWidget *>("listWidget");
    std::vector<system_key_table> updates;
    QMetaObject::Connection recorder = QObject::connect(
        &window, &sysKeyConfig::updateSysKeyMap, [this](system_key_table &t) { updates.push_back(t); });
};

// Typed text and Tab are taken as keys, never as text or a move; a held key counts once.
TEST_F(SysKeyWindow, CapturesKeysInPressOrderAndClearEmptiesTheCombination)
{
    window.show();
    // QTest presses the modifiers first, as a user does: Control, Alt, then Delete.
    QTest::keyClick(keyString, Qt::Key_Delete, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(keyString, 'x');
    EXPECT_EQ(keyString->text(), "Control + Alt + Delete + x") << "a recorded key is not typed too";
    QTest::keyClick(keyString, Qt::Key_Tab);
    QTest::simulateEvent(keyString, true, Qt::Key_Tab, Qt::NoModifier, {}, true);
    EXPECT_EQ(keyString->text(), "Control + Alt + Delete + x + Tab");
    EXPECT_THAT(window.keySequence(),
                ElementsAre(SYSTEMKEYINFO{"Control", Qt::Key_Control}, SYSTEMKEYINFO{"Alt", Qt::Key_Alt},
                            SYSTEMKEYINFO{"Delete", Qt::Key_Delete}, SYSTEMKEYINFO{"x", Qt::Key_X},
                            SYSTEMKEYINFO{"Tab", Qt::Key_Tab}));
    click("pb_clear");
    EXPECT_EQ(keyString->text(), "");
    EXPECT_TRUE(window.keySequence().empty());
    EXPECT_TRUE(updates.empty());
}

TEST_F(SysKeyWindow, AddModifyAndDeleteHandBackTheTableAndKeepOneRowPerName)
{
    window.loadSysKeyMap({{"", {{"Win", Qt::Key_Meta}}}, {"Alt+Tab", {}}});
    EXPECT_EQ(rows(), QStringList{"Alt+Tab"});
    for (const char *button : {"pb_add", "pb_modify", "pb_delete"})
        click(button); // no name, nothing selected
    mappingName->setText("  ");
    click("pb_add");
    EXPECT_TRUE(updates.empty());

    QTest::keyClick(keyString, Qt::Key_F1, Qt::AltModifier);
    mappingName->setText("Help");
    click("pb_add");
    click("pb_clear");
    QTest::keyClick(keyString, Qt::Key_F2);
    click("pb_add"); // the same name again: replaced, no second row
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_THAT(updates[0].value("Help"),
                ElementsAre(SYSTEMKEYINFO{"Alt", Qt::Key_Alt}, SYSTEMKEYINFO{"F1", Qt::Key_F1}));
    EXPECT_THAT(updates[1].keys(), ElementsAre("", "Alt+Tab", "Help"));
    EXPECT_THAT(updates[1].value("Help"), ElementsAre(SYSTEMKEYINFO{"F2", Qt::Key_F2}));
    EXPECT_EQ(rows(), (QStringList{"Alt+Tab", "Help"}));

    // Selecting shows the group; renaming onto another group's name replaces it and its row.
    list->setCurrentRow(0);
    list->setCurrentRow(1);
    EXPECT_EQ(keyString->text(), "F2");
    mappingName->setText("Alt+Tab");
    click("pb_modify");
    ASSERT_EQ(updates.size(), 3u);
    EXPECT_THAT(updates[2].keys(), ElementsAre("", "Alt+Tab"));
    EXPECT_THAT(updates[2].value("Alt+Tab"), ElementsAre(SYSTEMKEYINFO{"F2", Qt::Key_F2}));
    EXPECT_EQ(rows(), QStringList{"Alt+Tab"});

    click("pb_delete");
    ASSERT_EQ(updates.size(), 4u);
    EXPECT_THAT(updates[3].keys(), ElementsAre(""));
    EXPECT_TRUE(rows().isEmpty());
}

} // namespace
