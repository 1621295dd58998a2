#include "h264video.h"

#include "c_ui_u_setting_dlg.h"

#include <QCloseEvent>
#include <QMessageBox>

void H264Video::closeEvent(QCloseEvent *event)
{
    // The window's end takes the media channel with it: a remote computer still using the
    // disk would lose it, perhaps in the middle of a write, so the user decides. Only a close
    // the user asks for through the window system (its close button, a window manager's
    // shortcut) is spontaneous; the program's own closes go through unasked.
    if (event->spontaneous() && m_media && m_media->mapped()) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("Close"),
            QStringLiteral("A disk is mapped: closing the viewer unmaps it. Close anyway?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    QMainWindow::closeEvent(event);
}
