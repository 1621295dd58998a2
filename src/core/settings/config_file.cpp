#include "settings/config_file.h"

#include "logging/log.h"
#include "settings/xml_file.h"

#include <QFileInfo>

#include <optional>
#include <string>

namespace {
constexpr const char *kWhat = "config file";
constexpr const char *kRateElement = "mouseRate";
constexpr const char *kReconnectElement = "reconnect";
constexpr const char *kKeyMappingElement = "keyMapping";
constexpr const char *kPasteLayoutElement = "pasteLayout";
constexpr const char *kPasteRateElement = "pasteRate";

// The trimmed text of a root child, or nothing when the file or the element is missing.
// A file that is there but cannot be read is warned about by load_xml_file.
std::optional<QString> root_child_text(const QString &path, const char *name)
{
    if (!QFileInfo::exists(path))
        return std::nullopt;
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return std::nullopt;
    const tinyxml2::XMLElement *element = root_child(doc, name);
    if (!element)
        return std::nullopt;
    return QString::fromUtf8(element->GetText() ? element->GetText() : "").trimmed();
}
} // namespace

QString config_file_path(const QString &programDir)
{
    return programDir + QStringLiteral("/config.xml");
}

bool load_config_rate(const QString &path, int &rate)
{
    TLOG_INFO << "get config info:" << path;
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return false;
    const tinyxml2::XMLElement *element = root_child(doc, kRateElement);
    if (!element) {
        TLOG_WARN << "config file " << path << " has no mouseRate under its root";
        return false;
    }

    const QString text = QString::fromUtf8(element->GetText() ? element->GetText() : "");
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < kConfigRateMin || value > kConfigRateMax) {
        TLOG_WARN << "config file " << path << ": mouseRate \"" << text
                  << "\" is not a rate from " << kConfigRateMin << " to " << kConfigRateMax
                  << ", keeping " << rate;
        return false;
    }
    rate = value;
    return true;
}

bool save_config_rate(const QString &path, int rate)
{
    TLOG_INFO << "save config info:" << path;
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return false;
    tinyxml2::XMLElement *element = root_child(doc, kRateElement);
    if (!element) {
        TLOG_WARN << "config file " << path << " has no mouseRate under its root, not saved";
        return false;
    }
    element->SetText(rate);
    return save_xml_file(path, doc, kWhat);
}

bool load_config_word(const QString &path, const char *name, const QStringList &words,
                      int &index)
{
    const std::optional<QString> text = root_child_text(path, name);
    if (!text)
        return false;
    const auto found = words.indexOf(text->toLower());
    if (found < 0) {
        TLOG_WARN << "config file " << path << ": " << name << " \"" << *text << "\" is none of "
                  << words.join(QStringLiteral(", ")) << ", keeping "
                  << (index >= 0 && index < words.size() ? words[index] : QString());
        return false;
    }
    index = static_cast<int>(found);
    return true;
}

bool load_config_reconnect(const QString &path, bool &on)
{
    int index = on ? 1 : 0;
    if (!load_config_word(path, kReconnectElement, {QStringLiteral("0"), QStringLiteral("1")}, index))
        return false;
    on = index == 1;
    return true;
}

bool load_config_key_mapping(const QString &path, key_mapping &mapping)
{
    int index = static_cast<int>(mapping);
    if (!load_config_word(path, kKeyMappingElement,
                          {QStringLiteral("physical"), QStringLiteral("qt")}, index))
        return false;
    mapping = static_cast<key_mapping>(index);
    return true;
}


keyboard_layout_id load_config_paste_layout(const QString &path)
{
    const std::vector<keyboard_layout_id> &layouts = all_keyboard_layouts();
    QStringList names;
    for (keyboard_layout_id layout : layouts) {
        const std::string_view name = keyboard_layout_name(layout);
        names << QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    }
    int index = 0;
    load_config_word(path, kPasteLayoutElement, names, index);
    return layouts[static_cast<std::size_t>(index)];
}

int load_config_paste_rate(const QString &path)
{
    const std::optional<QString> text = root_child_text(path, kPasteRateElement);
    if (!text)
        return kPasteRateDefault;
    bool ok = false;
    const int rate = text->toInt(&ok, 10);
    if (!ok || rate <= 0) {
        TLOG_WARN << "config file " << path << ": pasteRate \"" << *text
                  << "\" is not a number of characters per second, using " << kPasteRateDefault;
        return kPasteRateDefault;
    }
    return rate;
}

bool save_config_paste_layout(const QString &path, keyboard_layout_id layout)
{
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return false;
    tinyxml2::XMLElement *root = doc.RootElement();
    if (!root) {
        TLOG_WARN << "config file " << path << " has no root element, pasteLayout not saved";
        return false;
    }
    tinyxml2::XMLElement *element = root->FirstChildElement(kPasteLayoutElement);
    if (!element)
        element = root->InsertNewChildElement(kPasteLayoutElement);
    element->SetText(std::string(keyboard_layout_name(layout)).c_str());
    return save_xml_file(path, doc, kWhat);
}

namespace {

constexpr const char *kViewModeElement = "viewMode";
constexpr const char *kSmoothScalingElement = "smoothScaling";

QStringList view_mode_words()
{
    return {QStringLiteral("fit"), QStringLiteral("actual")};
}

QStringList flag_words()
{
    return {QStringLiteral("0"), QStringLiteral("1")};
}

bool save_root_child_text(const QString &path, const char *name, const QString &text)
{
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return false;
    tinyxml2::XMLElement *root = doc.RootElement();
    if (!root) {
        TLOG_WARN << "config file " << path << " has no root element, " << name << " not saved";
        return false;
    }
    tinyxml2::XMLElement *element = root->FirstChildElement(name);
    if (!element)
        element = root->InsertNewChildElement(name);
    element->SetText(text.toUtf8().constData());
    return save_xml_file(path, doc, kWhat);
}

} // namespace

bool load_config_view_mode(const QString &path, view_mode &mode)
{
    int index = mode == view_mode::actual ? 1 : 0;
    if (!load_config_word(path, kViewModeElement, view_mode_words(), index))
        return false;
    mode = index == 1 ? view_mode::actual : view_mode::fit;
    return true;
}

bool load_config_smooth_scaling(const QString &path, bool &smooth)
{
    int index = smooth ? 1 : 0;
    if (!load_config_word(path, kSmoothScalingElement, flag_words(), index))
        return false;
    smooth = index == 1;
    return true;
}

bool save_config_view_mode(const QString &path, view_mode mode)
{
    return save_root_child_text(path, kViewModeElement,
                                view_mode_words()[mode == view_mode::actual ? 1 : 0]);
}

bool save_config_smooth_scaling(const QString &path, bool smooth)
{
    return save_root_child_text(path, kSmoothScalingElement, flag_words()[smooth ? 1 : 0]);
}
