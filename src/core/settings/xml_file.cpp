#include "settings/xml_file.h"

#include "logging/log.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>

namespace {
// The settings files hold a few hundred bytes; anything this large is not one of them.
constexpr qint64 kMaxSettingsFileSize = 4 * 1024 * 1024;
}

bool load_xml_file(const QString &path, tinyxml2::XMLDocument &doc, const char *what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        TLOG_WARN << what << " not read: " << path << " (" << file.errorString() << ")";
        return false;
    }
    if (file.size() > kMaxSettingsFileSize) {
        TLOG_WARN << what << " not read: " << path << " is " << file.size() << " bytes long";
        return false;
    }
    const QByteArray data = file.readAll();
    if (doc.Parse(data.constData(), static_cast<std::size_t>(data.size())) !=
        tinyxml2::XML_SUCCESS) {
        TLOG_WARN << what << " not read: " << path << " is not well-formed XML ("
                  << doc.ErrorStr() << ")";
        return false;
    }
    // TinyXML-2 takes text after the root element as a node of its own, but cannot read a
    // document it prints with one: such a file is no more well-formed here than elsewhere.
    for (const tinyxml2::XMLNode *node = doc.FirstChild(); node; node = node->NextSibling()) {
        if (node->ToText()) {
            TLOG_WARN << what << " not read: " << path
                      << " is not well-formed XML (text outside the root element)";
            return false;
        }
    }
    return true;
}

bool save_xml_file(const QString &path, const tinyxml2::XMLDocument &doc, const char *what)
{
    tinyxml2::XMLPrinter printer(nullptr, false);
    doc.Print(&printer);

    // A file that would not load again is not written: the old one stays usable.
    tinyxml2::XMLDocument check;
    if (check.Parse(printer.CStr()) != tinyxml2::XML_SUCCESS) {
        TLOG_WARN << what << " not written: " << path << " would not read back ("
                  << check.ErrorStr() << ")";
        return false;
    }
    QSaveFile file(path);
    // A program folder the user may not create files in can still hold writable settings.
    file.setDirectWriteFallback(true);
    const qint64 size = printer.CStrSize() > 0 ? printer.CStrSize() - 1 : 0;
    if (!file.open(QIODevice::WriteOnly) || file.write(printer.CStr(), size) != size ||
        !file.commit()) {
        TLOG_WARN << what << " not written: " << path << " (" << file.errorString() << ")";
        return false;
    }
    return true;
}

tinyxml2::XMLElement *root_child(tinyxml2::XMLDocument &doc, const char *name)
{
    tinyxml2::XMLElement *root = doc.RootElement();
    return root ? root->FirstChildElement(name) : nullptr;
}
