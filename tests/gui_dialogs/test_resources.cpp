#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
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

TEST_F(Resources, StyleSheetTextIsLightOnTheDarkDialogs)
{
    QFile file(":/qss/H264Video");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    // Text widgets do not inherit the dialog's colour: each kind needs its own rule.
    QDialog dialog;
    QCheckBox box("Read Only", &dialog);
    QPushButton button("Map", &dialog);
    dialog.ensurePolished();
    box.ensurePolished();
    button.ensurePolished();
    const QColor text(0xe8, 0xea, 0xed);
    EXPECT_EQ(box.palette().color(QPalette::WindowText), text);
    EXPECT_EQ(button.palette().color(QPalette::ButtonText), text);
    qApp->setStyleSheet({});
}

TEST_F(Resources, StyleSheetDarkensOnlyTheRemoteScreenLabel)
{
    QFile file(":/qss/H264Video");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    // The main window's screen label, and a dialog's first label of the same object name.
    QMainWindow window;
    auto *central = new QWidget(&window);
    central->setObjectName("centralWidget");
    window.setCentralWidget(central);
    auto *screen = new QLabel(central);
    screen->setObjectName("label");
    auto *dialog = new QDialog(&window);
    auto *caption = new QLabel("Map Drive", dialog);
    caption->setObjectName("label");
    screen->ensurePolished();
    caption->ensurePolished();
    const QColor margin(0x12, 0x13, 0x14);
    EXPECT_EQ(screen->palette().color(QPalette::Window), margin);
    EXPECT_NE(caption->palette().color(QPalette::Window), margin);
    qApp->setStyleSheet({});
}
