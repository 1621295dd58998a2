#pragma once

#include "settings/system_key.h"

#include <QMap>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

namespace Ui {
class sysKeyConfig;
}

// The window in which the user edits the system key table: a list of combination names,
// the name field, a key string field that records the keys pressed in it, and Add, Clear,
// Modify and Delete. It edits its own copy of the table and hands the whole copy back by
// updateSysKeyMap() at every Add, Modify and Delete. GUI thread only.
class sysKeyConfig : public QWidget {
    Q_OBJECT

public:
    explicit sysKeyConfig(QWidget *parent = nullptr);
    ~sysKeyConfig() override;

    // Replaces the window's copy by `table` and refills the list (one row per non-empty
    // group name, in table order); the fields and the current key sequence are emptied.
    // Call before showing the window.
    void loadSysKeyMap(const system_key_table &table);

    // The window's copy of the table and the keys recorded so far (for the owner and tests).
    const system_key_table &sysKeyMap() const { return m_table; }
    const std::vector<SYSTEMKEYINFO> &keySequence() const { return m_sequence; }

signals:
    // The window's whole table after an edit. The reference is only valid during the call.
    void updateSysKeyMap(QMap<QString, std::vector<SYSTEMKEYINFO>> &table);

public:
    // Connected by address, so not declared as slots: the form's connect-by-name would
    // otherwise look for signals to match the on_ names and warn at every start.
    // Stores the recorded keys under the name field's text (trimmed; an empty name is
    // refused). A new name gets a row and becomes current; a known name has its keys
    // replaced.
    void on_add();
    // Moves the selected group to the name field's text with the recorded keys and renames
    // its row. Nothing happens without a selected group or with an empty name.
    void on_modify();
    // Removes the selected group and its row.
    void on_delete();
    // Forgets the recorded keys and empties the key string field; the table is unchanged.
    void on_clear();
    // The list's current row became `text`: its keys become the recorded keys and both
    // fields show the group.
    void onTextChange(const QString &text);

protected:
    // Records every key pressed in the key string field (the field never receives text).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showSequence();
    // Drops rows called `name` other than `keep`.
    void removeRowsNamed(const QString &name, const class QListWidgetItem *keep);

    std::unique_ptr<Ui::sysKeyConfig> ui;
    system_key_table m_table;
    std::vector<SYSTEMKEYINFO> m_sequence;
    QString m_selectedName;
};
