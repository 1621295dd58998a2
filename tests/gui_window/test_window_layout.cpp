// The main window's layout at a common laptop screen size.
#include "window_test_support.h"

#include "h264video.h"

#include <QAction>
#include <QLabel>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

TEST_F(WindowOnSim, At1280x800EveryToolbarButtonShowsAndThePictureFillsTheRest)
{
    ASSERT_NO_FATAL_FAILURE(open_window());
    auto *toolBar = m_window->findChild<QToolBar *>(QStringLiteral("toolBar"));
    ASSERT_NE(toolBar, nullptr);
    EXPECT_EQ(m_window->width(), toolBar->width() + 800);
    EXPECT_EQ(m_window->height(), 600);

    m_window->resize(1280, 800);
    const QSize area(1280 - toolBar->width(), 800);
    ASSERT_TRUE(wait_for([&] { return screen()->size() == area; }, kWaitMs))
        << screen()->width() << "x" << screen()->height();
    ASSERT_TRUE(wait_new_pictures(2));

    // Every button the user can reach lies whole inside the toolbar, with no overflow.
    const QRect inside = toolBar->rect();
    int shown = 0;
    for (QAction *action : toolBar->actions()) {
        if (!action->isVisible())
            continue;
        QWidget *button = toolBar->widgetForAction(action);
        ASSERT_NE(button, nullptr) << action->objectName().toStdString();
        EXPECT_TRUE(button->isVisible()) << action->objectName().toStdString();
        EXPECT_TRUE(inside.contains(button->geometry())) << action->objectName().toStdString();
        ++shown;
    }
    EXPECT_EQ(shown, 7) << "six actions and the system key menu";
    for (auto *extension : toolBar->findChildren<QToolButton *>(QStringLiteral("qt_toolbar_ext_button")))
        EXPECT_FALSE(extension->isVisible()) << "the toolbar overflows";

    // The label fills the window beside the toolbar, without covering it.
    const QRect label(screen()->mapTo(m_window.get(), QPoint(0, 0)), screen()->size());
    EXPECT_GE(label.left(), toolBar->geometry().right() + 1);
    EXPECT_EQ(label.right(), m_window->width() - 1);
    EXPECT_EQ(label.bottom(), m_window->height() - 1);

    // 16:9 into about 3:2: full width, centred vertically.
    const display_geometry &g = m_window->shown_geometry();
    EXPECT_EQ(g.shownWidth, area.width());
    EXPECT_NEAR(g.shownHeight, area.width() * kRemoteHeight / kRemoteWidth, 1);
    EXPECT_EQ(g.offsetY, (area.height() - g.shownHeight) / 2);
    EXPECT_EQ(screen()->size(), area);
    EXPECT_TRUE(screen()->testAttribute(Qt::WA_OpaquePaintEvent));
}
