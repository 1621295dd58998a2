#pragma once

#include "km/c_paste_typist.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

// "Paste as keystrokes": shows how many characters of a text will be typed on the remote
// computer, lets the user choose the remote keyboard layout, lists the characters that layout
// cannot type, and types the text once the user agrees ("Type", or "Type the rest" when some
// characters will be left out). While typing it shows the progress and Cancel stops it.
// Nothing is typed when the dialog is closed before agreeing. GUI thread.
class c_paste_dialog : public QDialog {
    Q_OBJECT
public:
    // `out` carries the reports to the device (see c_paste_typist::sink); `rate` is the
    // typing rate in characters per second.
    c_paste_dialog(QWidget *parent, const QString &text, keyboard_layout_id layout, int rate,
                   c_paste_typist::sink out);
    ~c_paste_dialog() override;

    const c_paste_typist &typist() const { return m_typist; }

    // How a character the layout cannot type is listed: itself and its code point
    // ("é U+00E9"); the code point alone for characters that show nothing.
    static QString describe_character(char32_t c);

public slots:
    // Closing stops any typing first (the key held is released).
    void reject() override;

signals:
    // The user picked another layout (to be remembered).
    void signal_layout_chosen(keyboard_layout_id layout);

private:
    void build_widgets();
    void fill_layouts(keyboard_layout_id chosen);
    void on_slot_layout_changed(int index);
    void on_slot_type();
    void on_slot_cancel();
    void on_slot_progress(int typed, int total);
    void on_slot_finished(c_paste_typist::outcome result);
    // Shows the plan for the chosen layout.
    void show_plan();

    QString m_text;
    c_paste_typist::sink m_sink;
    c_paste_typist m_typist;
    QLabel *m_summary = nullptr;
    QComboBox *m_layoutBox = nullptr;
    QLabel *m_untypable = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_typeButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
};
