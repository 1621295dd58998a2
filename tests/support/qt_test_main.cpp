#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The window tests run as the program does: one application object on the offscreen
// platform (test discovery runs the executable without the test environment, so the platform
// is chosen here too), the GUI library's resources and the program's style sheet, which
// colours the margins around the remote picture.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Windows remember their place per user: each test program starts from none.
    const QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QFile sheet(QStringLiteral(":/qss/H264Video"));
    if (sheet.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
