#include "settings/settings_folder.h"

#include "launch/program_paths.h"
#include "logging/log.h"
#include "settings/config_file.h"
#include "settings/key_file.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

bool may_write(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

// The folder may take new files and the settings files in it may be rewritten.
bool settings_writable(const QString &dir)
{
    if (!may_write(dir))
        return false;
    for (const QString &file : {config_file_path(dir), key_file_path(dir)}) {
        if (QFileInfo::exists(file) && !may_write(file))
            return false;
    }
    return true;
}

} // namespace

QString settings_folder(const QString &programDir)
{
    if (settings_writable(programDir))
        return programDir;
    const QString user = QString::fromStdString(user_config_dir());
    if (!make_writable_dir(user.toStdString())) {
        TLOG_WARN << "the program folder " << programDir << " is not writable and no per-user"
                  << " settings folder could be made (" << user << "): changed settings are not kept";
        return programDir;
    }
    for (const auto &path_of : {&config_file_path, &key_file_path}) {
        const QString seed = path_of(programDir);
        const QString copy = path_of(user);
        if (QFileInfo::exists(copy) || !QFileInfo::exists(seed))
            continue;
        if (!QFile::copy(seed, copy)) {
            TLOG_WARN << "could not copy " << seed << " to " << copy;
            continue;
        }
        // The installed copy may be read-only; the user's must not be.
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    }
    TLOG_INFO << "the program folder is not writable: settings are read from and saved to " << user;
    return user;
}
