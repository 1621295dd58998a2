#include "app_startup.h"
#include "logging/log.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProcess>

int run_serial_bridge_mode(const std::string &decodedText)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/serbridge");
    if (!QProcess::startDetached(program, {QString::fromStdString(decodedText)})) {
        // The argument carries both DES keys, so it stays out of the log.
        TLOG_ERROR << "start serbridge.exe failed." << program
                   << " Param: (launch text withheld)";
        QMessageBox::critical(nullptr, QStringLiteral("critical"),
                              QStringLiteral("启动串口工具失败。"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    }
    return 0;
}

void apply_style_sheet(QApplication &app)
{
    QFile sheet(QStringLiteral(":/qss/H264Video"));
    const QString text =
        sheet.open(QIODevice::ReadOnly) ? QString::fromUtf8(sheet.readAll()) : QString();
    TLOG_DEBUG << "style sheet of " << static_cast<long long>(text.size()) << " characters";
    app.setStyleSheet(text);
}
