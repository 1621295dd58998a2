#include "h264video.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    H264Video window;
    window.show();
    return app.exec();
}
