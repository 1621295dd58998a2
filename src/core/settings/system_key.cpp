#include "settings/system_key.h"

#include <QStringList>

#include <algorithm>
#include <ostream>

namespace {

// Qt key codes, spelt out so that this widget-free code needs no GUI header.
constexpr int kKeyEscape = 0x01000000;
constexpr int kKeyDelete = 0x01000007;
constexpr int kKeyPause = 0x01000008;
constexpr int kKeyF1 = 0x01000030;
constexpr int kKeyF12 = 0x0100003B;

QString special_key_name(int qtKey)
{
    switch (qtKey) {
    case 0x01000020: return QStringLiteral("Shift");
    case 0x01000021: return QStringLiteral("Control");
    case 0x01000023: return QStringLiteral("Alt");
    case 0x01000022: return QStringLiteral("Win");
    case kKeyEscape: return QStringLiteral("Esc");
    case 0x01000010: return QStringLiteral("Home");
    case 0x01000011: return QStringLiteral("End");
    case 0x01000006: return QStringLiteral("Insert");
    case 0x01000003: return QStringLiteral("Backspace");
    case 0x20: return QStringLiteral("Space");
    case 0x01000026: return QStringLiteral("ScrollLock");
    case 0x01000024: return QStringLiteral("CapsLock");
    case 0x01000016: return QStringLiteral("PageUp");
    case 0x01000017: return QStringLiteral("PageDown");
    case 0x01000001: return QStringLiteral("Tab");
    case 0x01000005: return QStringLiteral("Enter");
    default: return {};
    }
}

// Names of keys whose events carry no text.
QString textless_key_name(int qtKey)
{
    if (qtKey >= kKeyF1 && qtKey <= kKeyF12)
        return QStringLiteral("F%1").arg(qtKey - kKeyF1 + 1);
    switch (qtKey) {
    case kKeyEscape: return QStringLiteral("ESC");
    case kKeyPause: return QStringLiteral("PAUSE");
    case kKeyDelete: return QStringLiteral("Delete");
    default: return {};
    }
}

// Delete, Return or a key held with Control produce control characters as text on X11:
// they are no name to show.
bool printable(const QString &text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

} // namespace

std::ostream &operator<<(std::ostream &out, const SYSTEMKEYINFO &key)
{
    return out << "{\"" << key.str.toStdString() << "\", 0x" << std::hex << key.value
               << std::dec << '}';
}

QString system_key_name(int qtKey, const QString &eventText)
{
    QString name = special_key_name(qtKey);
    if (!name.isEmpty())
        return name;
    if (printable(eventText))
        return eventText;
    name = textless_key_name(qtKey);
    if (!name.isEmpty())
        return name;
    if (qtKey > 0x20 && qtKey < 0x7F)
        return QString(QChar(qtKey));
    return {};
}

QString join_system_keys(const std::vector<SYSTEMKEYINFO> &keys)
{
    QStringList names;
    for (const SYSTEMKEYINFO &key : keys)
        names << key.str;
    return names.join(QStringLiteral(" + "));
}

std::vector<std::uint32_t> system_key_codes(const std::vector<SYSTEMKEYINFO> &keys)
{
    std::vector<std::uint32_t> codes;
    codes.reserve(keys.size());
    for (const SYSTEMKEYINFO &key : keys)
        codes.push_back(static_cast<std::uint32_t>(key.value));
    return codes;
}
