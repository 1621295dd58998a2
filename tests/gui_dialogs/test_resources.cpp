#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QSlider>
#include <QToolBar>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The resources live in the static GUI library; an executable registers them itself.
static void init_resources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

std::vector<std::string> g_styleWarnings;

void record_style_warnings(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_styleWarnings.push_back(message.toStdString());
}

struct Resources : ::testing::Test {
    static void SetUpTestSuite() { init_resources(); }
};

TEST_F(Resources, EveryIconNameHoldsAnImageOfItsSize)
{
    const std::vector<std::pair<const char *, int>> icons = {
        {":/image/Resources/fullscreen.png", 48}, {":/image/mouse", 48},
        {":/image/Resources/privCanGrab.png", 48}, {":/image/Resources/privCannotGrab.png", 48},
        {":/image/videoset", 48}, {":/image/uvset", 48},
        {":/image/Resources/mouseHide.png", 48}, {":/image/Resources/mouseShow.png", 48},
        {":/image/Resources/setting.png", 48}, {":/image/Resources/win.png", 48},
        {":/image/setting_16px.png", 32}, {":/image/Resources/cross.png", 32}};
    for (const auto &[name, size] : icons) {
        const QImage image(name);
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_EQ(image.size(), QSize(size, size)) << name;
        EXPECT_TRUE(image.hasAlphaChannel()) << name;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << name;
    }
}

TEST_F(Resources, CrossCursorIsCentredOnItsHotSpot)
{
    const QImage cross(":/image/Resources/cross.png");
    ASSERT_EQ(cross.size(), QSize(32, 32));
    // White lines in black borders, so the cursor shows on any picture; the hot spot (16, 16)
    // is the white centre pixel and the four arms mirror each other around it.
    EXPECT_EQ(cross.pixel(16, 16), qRgba(255, 255, 255, 255));
    EXPECT_EQ(cross.pixel(15, 16), qRgba(0, 0, 0, 255));
    EXPECT_EQ(cross.pixel(16, 14), qRgba(0, 0, 0, 0));
    for (int d = 4; d <= 13; ++d) {
        EXPECT_EQ(cross.pixel(16 - d, 16), qRgba(255, 255, 255, 255)) << d;
        EXPECT_EQ(cross.pixel(16 + d, 16), qRgba(255, 255, 255, 255)) << d;
        EXPECT_EQ(cross.pixel(16, 16 - d), qRgba(255, 255, 255, 255)) << d;
        EXPECT_EQ(cross.pixel(16, 16 + d), qRgba(255, 255, 255, 255)) << d;
    }
}

TEST_F(Resources, StyleSheetParsesWithoutWarnings)
{
    QFile file(":/qss/H264Video");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromUtf8(file.readAll());
    ASSERT_FALSE(sheet.isEmpty());

    g_styleWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(record_style_warnings);
    qApp->setStyleSheet(sheet);
    // Rules are parsed when widgets are polished.
    QToolBar bar;
    bar.addAction(QIcon(":/image/Resources/win.png"), "win");
    QPushButton button("Add");
    QSlider slider(Qt::Horizontal);
    bar.ensurePolished();
    button.ensurePolished();
    slider.ensurePolished();
    qInstallMessageHandler(previous);
    qApp->setStyleSheet({});
    EXPECT_TRUE(g_styleWarnings.empty()) << g_styleWarnings.front();
}

} // namespace
