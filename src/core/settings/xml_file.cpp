#include "settings/xml_file.h"

#include "logging/log.h"
#include "tools/disk/rw_disk/unique_fd.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

std::string errno_text()
{
    return std::error_code(errno, std::generic_category()).message();
}

// The file's bytes, when it is a regular file of at most kMaxSettingsFileBytes; otherwise
// false with `why` set. A FIFO would block an ordinary open until a writer came, and a
// device such as /dev/zero reports no size and never ends: neither may stall the start.
bool read_settings_bytes(const QString &path, std::string &data, std::string &why)
{
    const unique_fd fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0) {
        why = errno_text();
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
        return false;
    }
    // The size is only a hint (the file may grow while read): the cap counts bytes read.
    data.clear();
    char chunk[16384];
    while (data.size() <= kMaxSettingsFileBytes) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = errno_text();
            return false;
        }
        if (n == 0)
            return true;
        data.append(chunk, static_cast<std::size_t>(n));
    }
    why = "longer than " + std::to_string(kMaxSettingsFileBytes) + " bytes";
    return false;
}

} // namespace

bool load_xml_file(const QString &path, tinyxml2::XMLDocument &doc, const char *what)
{
    std::string data;
    std::string why;
    if (!read_settings_bytes(path, data, why)) {
        TLOG_WARN << what << " not read: " << path << " (" << why << ")";
        return false;
    }
    if (doc.Parse(data.data(), data.size()) != tinyxml2::XML_SUCCESS) {
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
