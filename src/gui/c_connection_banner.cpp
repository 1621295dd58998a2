#include "c_connection_banner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

c_connection_banner::c_connection_banner(QWidget *parent)
    : QFrame(parent), m_text(new QLabel(this))
{
    setObjectName(QStringLiteral("connectionBanner"));
    setAutoFillBackground(true);
    // Readable over any picture, whatever the application's style sheet gives frames.
    setStyleSheet(QStringLiteral("#connectionBanner { background-color: #202020; }"
                                 "#connectionBanner QLabel { color: #ffffff; }"));
    setFrameShape(QFrame::StyledPanel);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_text, 1);
    auto *now = new QPushButton(QStringLiteral("Reconnect now"), this);
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    // The label keeps the keyboard focus: typing never lands on a button.
    now->setFocusPolicy(Qt::NoFocus);
    close->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(now);
    layout->addWidget(close);
    connect(now, &QPushButton::clicked, this, &c_connection_banner::signal_reconnect_now);
    connect(close, &QPushButton::clicked, this, &c_connection_banner::signal_close);
    hide();
}

void c_connection_banner::show_text(const QString &text)
{
    if (text.isEmpty()) {
        hide();
        return;
    }
    m_text->setText(text);
    // Along the bottom edge, where it hides the least of the remote screen (menus and title
    // bars are at the top).
    if (QWidget *parent = parentWidget()) {
        const int height = sizeHint().height();
        setGeometry(0, parent->height() - height, parent->width(), height);
    }
    show();
    raise();
}
