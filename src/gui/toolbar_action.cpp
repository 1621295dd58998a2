#include "toolbar_action.h"

#include <QAction>
#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>

QIcon drawn_icon(const char *themeName, const QColor &ink, const std::function<void(QPainter &)> &draw)
{
    if (themeName != nullptr) {
        QIcon themed = QIcon::fromTheme(QString::fromLatin1(themeName));
        if (!themed.isNull())
            return themed;
    }
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ink, 2));
    draw(painter);
    return QIcon(pixmap);
}

QAction *add_toolbar_action(QToolBar *toolBar, QObject *owner, const QIcon &icon, const QString &text,
                            const QKeySequence &keys, const char *objectName)
{
    auto *action = new QAction(icon, text, owner);
    action->setObjectName(QString::fromLatin1(objectName));
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    action->setToolTip(QStringLiteral("%1 (%2)").arg(text, keys.toString(QKeySequence::NativeText)));
    toolBar->addAction(action);
    return action;
}
