#include "h264video.h"

H264Video::H264Video(QWidget *parent, Qt::WindowFlags flags) : QMainWindow(parent, flags)
{
    resize(1280, 800);
}

H264Video::~H264Video() = default;
