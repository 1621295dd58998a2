#include "sysKeyConfig.h"

#include "ui_sysKeyConfig.h"

#include <QKeyEvent>
#include <QListWidgetItem>

sysKeyConfig::sysKeyConfig(QWidget *parent) : QWidget(parent), ui(new Ui::sysKeyConfig)
{
    ui->setupUi(this);
    ui->lineEdit_keyString->installEventFilter(this);
    // Composed text would bypass the key filter.
    ui->lineEdit_keyString->setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(ui->pb_add, &QPushButton::clicked, this, &sysKeyConfig::on_add);
    connect(ui->pb_clear, &QPushButton::clicked, this, &sysKeyConfig::on_clear);
    connect(ui->pb_modify, &QPushButton::clicked, this, &sysKeyConfig::on_modify);
    connect(ui->pb_delete, &QPushButton::clicked, this, &sysKeyConfig::on_delete);
    connect(ui->listWidget, &QListWidget::currentTextChanged, this, &sysKeyConfig::onTextChange);
}

sysKeyConfig::~sysKeyConfig() = default;

void sysKeyConfig::loadSysKeyMap(const system_key_table &table)
{
    m_table = table;
    ui->listWidget->clear();
    for (auto group = m_table.cbegin(); group != m_table.cend(); ++group) {
        if (!group.key().isEmpty())
            ui->listWidget->addItem(group.key());
    }
    ui->listWidget->setCurrentRow(-1);
    m_sequence.clear();
    m_selectedName.clear();
    ui->lineEdit_mappingName->clear();
    ui->lineEdit_keyString->clear();
}

void sysKeyConfig::on_add()
{
    const QString name = ui->lineEdit_mappingName->text().trimmed();
    if (name.isEmpty())
        return;
    const bool known = m_table.contains(name);
    m_table.insert(name, m_sequence);
    if (!known) {
        ui->listWidget->addItem(name);
        ui->listWidget->setCurrentRow(ui->listWidget->count() - 1);
    }
    emit updateSysKeyMap(m_table);
}

void sysKeyConfig::on_modify()
{
    const QString name = ui->lineEdit_mappingName->text().trimmed();
    QListWidgetItem *row = ui->listWidget->currentItem();
    if (name.isEmpty() || m_selectedName.isEmpty() || !row)
        return;
    m_table.remove(m_selectedName);
    m_table.insert(name, m_sequence);
    // The new name may be another group's: that group is replaced, so is its row.
    removeRowsNamed(name, row);
    // Renaming the row does not report a new current text.
    row->setText(name);
    m_selectedName = name;
    ui->lineEdit_mappingName->setText(name);
    emit updateSysKeyMap(m_table);
}

void sysKeyConfig::on_delete()
{
    if (m_selectedName.isEmpty())
        return;
    m_table.remove(m_selectedName);
    // Taking the row moves the current row, which selects the next group.
    delete ui->listWidget->takeItem(ui->listWidget->currentRow());
    emit updateSysKeyMap(m_table);
}

void sysKeyConfig::on_clear()
{
    m_sequence.clear();
    ui->lineEdit_keyString->clear();
}

void sysKeyConfig::onTextChange(const QString &text)
{
    // No current row reports an empty text; the group of that name has no row.
    m_sequence = text.isEmpty() ? std::vector<SYSTEMKEYINFO>{} : m_table.value(text);
    m_selectedName = text;
    ui->lineEdit_mappingName->setText(text);
    showSequence();
}

bool sysKeyConfig::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != ui->lineEdit_keyString || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *keyEvent = static_cast<QKeyEvent *>(event);
    // A held key repeats; the combination holds it once.
    if (!keyEvent->isAutoRepeat()) {
        m_sequence.push_back({system_key_name(keyEvent->key(), keyEvent->text()),
                              keyEvent->key()});
        showSequence();
    }
    return true;
}

void sysKeyConfig::showSequence()
{
    ui->lineEdit_keyString->setText(join_system_keys(m_sequence));
}

void sysKeyConfig::removeRowsNamed(const QString &name, const QListWidgetItem *keep)
{
    for (int i = ui->listWidget->count() - 1; i >= 0; --i) {
        QListWidgetItem *item = ui->listWidget->item(i);
        if (item != keep && item->text() == name)
            delete ui->listWidget->takeItem(i);
    }
}
