// The toolbar buttons the window adds to those of its form: an icon drawn when the desktop's
// theme has none, and an action whose shortcut and tool tip go together.

#pragma once

#include <QIcon>
#include <QKeySequence>
#include <QString>

#include <functional>

class QAction;
class QColor;
class QPainter;
class QToolBar;

// The desktop theme's icon `themeName` when it has one (none asked for when null), otherwise
// a 32x32 icon drawn by `draw` with a 2-pixel pen of `ink`.
QIcon drawn_icon(const char *themeName, const QColor &ink, const std::function<void(QPainter &)> &draw);

// A new action at the end of `toolBar`, owned by `owner`: shortcut `keys` while the main window
// is active (not from its dialogs), tool tip "TEXT (KEYS)".
QAction *add_toolbar_action(QToolBar *toolBar, QObject *owner, const QIcon &icon, const QString &text,
                            const QKeySequence &keys, const char *objectName);
