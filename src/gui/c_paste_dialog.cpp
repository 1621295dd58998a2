#include "c_paste_dialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Characters listed by name at most; a text in another script would fill the screen.
constexpr std::size_t kMaxListed = 40;
}

c_paste_dialog::c_paste_dialog(QWidget *parent, const QString &text, keyboard_layout_id layout,
                               int rate, c_paste_typist::sink out)
    : QDialog(parent), m_text(text), m_sink(std::move(out))
{
    setWindowTitle(QStringLiteral("Paste as keystrokes"));
    m_typist.set_rate(rate);
    build_widgets();
    fill_layouts(layout);
    m_typist.plan(m_text, layout);
    show_plan();
    connect(&m_typist, &c_paste_typist::signal_progress, this, &c_paste_dialog::on_slot_progress);
    connect(&m_typist, &c_paste_typist::signal_finished, this, &c_paste_dialog::on_slot_finished);
}

c_paste_dialog::~c_paste_dialog()
{
    // The typist must not call back into widgets being destroyed.
    disconnect(&m_typist, nullptr, this, nullptr);
    m_typist.cancel();
}

QString c_paste_dialog::describe_character(char32_t c)
{
    const QString code = QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
    const QString shown = QString::fromUcs4(&c, 1);
    // Control characters, spaces other than the plain one and unassigned code points would
    // show as nothing or as a box.
    const bool printable = QChar::isPrint(c) && !QChar::isSpace(c);
    return printable ? shown + QLatin1Char(' ') + code : code;
}

void c_paste_dialog::build_widgets()
{
    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    m_layoutBox = new QComboBox(this);
    m_layoutBox->setObjectName(QStringLiteral("layoutBox"));
    m_untypable = new QLabel(this);
    m_untypable->setObjectName(QStringLiteral("untypableLabel"));
    m_untypable->setWordWrap(true);
    m_untypable->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_progress = new QProgressBar(this);
    m_progress->setVisible(false);
    m_typeButton = new QPushButton(QStringLiteral("Type"), this);
    m_typeButton->setObjectName(QStringLiteral("typeButton"));
    m_typeButton->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Remote keyboard layout:"), m_layoutBox);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_typeButton);
    buttons->addWidget(m_cancelButton);
    auto *column = new QVBoxLayout(this);
    column->addWidget(m_summary);
    column->addLayout(form);
    column->addWidget(m_untypable);
    column->addWidget(m_progress);
    column->addLayout(buttons);

    connect(m_typeButton, &QPushButton::clicked, this, &c_paste_dialog::on_slot_type);
    connect(m_cancelButton, &QPushButton::clicked, this, &c_paste_dialog::on_slot_cancel);
}

void c_paste_dialog::fill_layouts(keyboard_layout_id chosen)
{
    for (keyboard_layout_id layout : all_keyboard_layouts()) {
        m_layoutBox->addItem(QString::fromUtf8(keyboard_layout_title(layout)),
                             static_cast<int>(layout));
        if (layout == chosen)
            m_layoutBox->setCurrentIndex(m_layoutBox->count() - 1);
    }
    // Connected after filling: only the user's choice is remembered.
    connect(m_layoutBox, &QComboBox::currentIndexChanged, this,
            &c_paste_dialog::on_slot_layout_changed);
}

void c_paste_dialog::on_slot_layout_changed(int index)
{
    if (index < 0 || m_typist.running())
        return;
    const auto layout = static_cast<keyboard_layout_id>(m_layoutBox->itemData(index).toInt());
    m_typist.plan(m_text, layout);
    show_plan();
    emit signal_layout_chosen(layout);
}

void c_paste_dialog::show_plan()
{
    const int total = m_typist.total();
    m_summary->setText(total == 1 ? QStringLiteral("1 character will be typed on the remote computer.")
                                  : QStringLiteral("%1 characters will be typed on the remote computer.").arg(total));
    const std::vector<char32_t> &missing = m_typist.untypable();
    QStringList listed;
    for (std::size_t i = 0; i < missing.size() && i < kMaxListed; ++i)
        listed << describe_character(missing[i]);
    if (missing.size() > kMaxListed)
        listed << QStringLiteral("and %1 more").arg(missing.size() - kMaxListed);
    m_untypable->setText(QStringLiteral("This layout cannot type these characters; they will be left out:\n")
                         + listed.join(QStringLiteral(", ")));
    m_untypable->setVisible(!missing.empty());
    m_typeButton->setText(missing.empty() ? QStringLiteral("Type") : QStringLiteral("Type the rest"));
    m_typeButton->setEnabled(total > 0);
    m_progress->setRange(0, std::max(total, 1));
    m_progress->setValue(0);
}

void c_paste_dialog::on_slot_type()
{
    // Pressing the button is the user's agreement to leave the listed characters out.
    if (!m_typist.start(m_sink, true))
        return;
    m_layoutBox->setEnabled(false);
    m_typeButton->setEnabled(false);
    m_progress->setVisible(true);
}

void c_paste_dialog::on_slot_cancel()
{
    reject();
}

void c_paste_dialog::reject()
{
    // on_slot_finished() closes the dialog once the typist has let go of every key.
    if (m_typist.running()) {
        m_typist.cancel();
        return;
    }
    QDialog::reject();
}

void c_paste_dialog::on_slot_progress(int typed, int total)
{
    m_progress->setRange(0, std::max(total, 1));
    m_progress->setValue(typed);
}

void c_paste_dialog::on_slot_finished(c_paste_typist::outcome result)
{
    switch (result) {
    case c_paste_typist::outcome::typed: accept(); return;
    case c_paste_typist::outcome::cancelled: QDialog::reject(); return;
    case c_paste_typist::outcome::privilege_lost: break;
    }
    // The user must see why typing stopped short; the dialog stays until closed.
    m_summary->setText(c_paste_typist::outcome_text(result)
                       + QStringLiteral(" %1 of %2 characters were typed.")
                             .arg(m_typist.typed())
                             .arg(m_typist.total()));
    m_cancelButton->setText(QStringLiteral("Close"));
}
