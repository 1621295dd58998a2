// The main window's "Paste as keystrokes": the clipboard's text typed on the remote computer.

#include "h264video.h"
#include "ui_H264Video.h"

#include "c_paste_dialog.h"
#include "km/c_km_session.h"
#include "protocol/message_types.h"
#include "settings/config_file.h"
#include "toolbar_action.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>

namespace {

// A plain message over the window that does not stop the event loop (the device's channels
// keep being served while it is open).
void show_paste_message(QWidget *window, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Paste as keystrokes"),
                                text, QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

} // namespace

void H264Video::add_paste_action()
{
    // The resources hold no icon for pasting: a clipboard, unless the desktop's theme has one.
    QAction *action = add_toolbar_action(
        ui->toolBar, this, drawn_icon("edit-paste", palette().windowText().color(), [](QPainter &p) {
            p.drawRoundedRect(QRectF(6, 5, 20, 24), 3, 3);
            p.fillRect(QRectF(11, 3, 10, 5), p.pen().color());
            for (int y = 13; y <= 23; y += 5)
                p.drawLine(QPointF(10, y), QPointF(22, y));
        }),
        QStringLiteral("Paste as keystrokes"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_V), "actionPaste");
    connect(action, &QAction::triggered, this, &H264Video::on_slot_paste);
}

void H264Video::on_slot_paste()
{
    if (m_pasteDialog && m_pasteDialog->isVisible()) {
        m_pasteDialog->raise();
        m_pasteDialog->activateWindow();
        return;
    }
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty()) {
        show_paste_message(this, QStringLiteral("The clipboard holds no text to type."));
        return;
    }
    if (!m_km || !m_km->privilege().writing() || !input_path_up()) {
        show_paste_message(this, QStringLiteral("This viewer does not hold the write privilege, "
                                                "so it cannot type on the remote computer. Ask for "
                                                "it with the grab button, then paste again."));
        return;
    }

    c_paste_typist::sink out;
    out.send = [this](const c_paste_typist::report &report) {
        if (m_km)
            m_km->syncer().send_km_data(kKmKeyboard, report.data(),
                                        static_cast<std::uint32_t>(report.size()));
    };
    out.may_write = [this] { return m_km && m_km->privilege().writing() && input_path_up(); };
    out.backlog = [this] { return km_queue_size(); };
    out.caps_lock = [this] { return m_km && m_km->led().caps_lock_reported(); };

    const QString configPath = config_file_path(m_settingsDir);
    auto dialog = std::make_unique<c_paste_dialog>(this, text, load_config_paste_layout(configPath),
                                                   load_config_paste_rate(configPath), std::move(out));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog.get(), &c_paste_dialog::signal_layout_chosen, this,
            [configPath](keyboard_layout_id layout) { save_config_paste_layout(configPath, layout); });
    // The dialog holds the text (perhaps a password) only while it is open.
    connect(dialog.get(), &QDialog::finished, this, [this] {
        if (m_pasteDialog)
            m_pasteDialog.release()->deleteLater();
    });
    m_pasteDialog = std::move(dialog);
    m_pasteDialog->open();
}
