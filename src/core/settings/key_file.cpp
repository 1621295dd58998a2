#include "settings/key_file.h"

#include "logging/log.h"
#include "settings/xml_file.h"

namespace {

constexpr const char *kWhat = "system key file";
constexpr const char *kCommon = "common";

bool read_key(const QString &path, const tinyxml2::XMLElement &element, SYSTEMKEYINFO &key)
{
    const char *str = element.Attribute("str");
    const char *value = element.Attribute("value");
    bool ok = false;
    const int code = value ? QString::fromUtf8(value).trimmed().toInt(&ok, 10) : 0;
    if (!str || !ok) {
        TLOG_WARN << "system key file " << path << ": key on line " << element.GetLineNum()
                  << " skipped, it needs str and a decimal value";
        return false;
    }
    key.str = QString::fromUtf8(str);
    key.value = code;
    return true;
}

} // namespace

QString key_file_path(const QString &programDir)
{
    return programDir + QStringLiteral("/key.xml");
}

bool load_system_keys(const QString &path, system_key_table &table)
{
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return false;
    table.clear();
    const tinyxml2::XMLElement *common = root_child(doc, kCommon);
    if (!common) {
        TLOG_WARN << "system key file " << path << " has no common under its root";
        return false;
    }
    for (const tinyxml2::XMLElement *group = common->FirstChildElement(); group;
         group = group->NextSiblingElement()) {
        const char *name = group->Attribute("name");
        if (!name) {
            TLOG_WARN << "system key file " << path << ": group on line " << group->GetLineNum()
                      << " skipped, it has no name";
            continue;
        }
        std::vector<SYSTEMKEYINFO> keys;
        for (const tinyxml2::XMLElement *element = group->FirstChildElement(); element;
             element = element->NextSiblingElement()) {
            SYSTEMKEYINFO key;
            if (read_key(path, *element, key))
                keys.push_back(key);
        }
        table.insert(QString::fromUtf8(name), keys);
    }
    return true;
}

bool save_system_keys(const QString &path, const system_key_table &table)
{
    TLOG_INFO << "save system key info:" << path;
    tinyxml2::XMLDocument doc;
    if (!load_xml_file(path, doc, kWhat))
        return false;
    tinyxml2::XMLElement *common = root_child(doc, kCommon);
    if (!common) {
        TLOG_WARN << "system key file " << path << " has no common under its root, not saved";
        return false;
    }
    common->DeleteChildren();
    for (auto group = table.cbegin(); group != table.cend(); ++group) {
        tinyxml2::XMLElement *groupElement = doc.NewElement("key");
        groupElement->SetAttribute("name", group.key().toUtf8().constData());
        for (const SYSTEMKEYINFO &key : group.value()) {
            tinyxml2::XMLElement *keyElement = doc.NewElement("keyValue");
            keyElement->SetAttribute("value", key.value);
            keyElement->SetAttribute("str", key.str.toUtf8().constData());
            groupElement->InsertEndChild(keyElement);
        }
        common->InsertEndChild(groupElement);
    }
    return save_xml_file(path, doc, kWhat);
}
