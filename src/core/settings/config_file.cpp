#include "settings/config_file.h"

#include "logging/log.h"
#include "settings/xml_file.h"

namespace {
constexpr const char *kWhat = "config file";
constexpr const char *kRateElement = "mouseRate";
constexpr const char *kReconnectElement = "reconnect";
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

bool load_config_reconnect(const QString &path, bool &on)
{
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return false;
    const tinyxml2::XMLElement *element = root_child(doc, kReconnectElement);
    if (!element)
        return false;
    const QString text = QString::fromUtf8(element->GetText() ? element->GetText() : "").trimmed();
    if (text != QLatin1String("0") && text != QLatin1String("1")) {
        TLOG_WARN << "config file " << path << ": reconnect \"" << text
                  << "\" is neither 0 nor 1, keeping " << (on ? 1 : 0);
        return false;
    }
    on = text == QLatin1String("1");
    return true;
}
