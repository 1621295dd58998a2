#include <QApplication>

#include <gtest/gtest.h>

// The dialog tests need an application object; everything runs headless (test discovery
// runs the executable without the test environment, so the platform is chosen here too).
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
