#include "settings/config_file.h"

#include "logging/log.h"
#include "settings/xml_file.h"

namespace {
constexpr const char *kWhat = "config file";
constexpr const char *kRateElement = "mouseRate";
constexpr const char *kReconnectElement = "reconnect";
constexpr const char *kKeyMappingElement = "keyMapping";
}

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
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return false;
    const tinyxml2::XMLElement *element = root_child(doc, name);
    if (!element)
        return false;
    const QString text = QString::fromUtf8(element->GetText() ? element->GetText() : "").trimmed();
    const auto found = words.indexOf(text.toLower());
    if (found < 0) {
        TLOG_WARN << "config file " << path << ": " << name << " \"" << text << "\" is none of "
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
