#pragma once

#include <QString>

// Where "config.xml" and "key.xml" are read and saved: the program folder while this user
// may write it and the files in it; otherwise the per-user folder (user_config_dir(),
// "$XDG_CONFIG_HOME/tessaract"), created if needed and seeded with the program folder's
// copies of the files it does not hold yet, so an installed viewer keeps what the user
// changes. The program folder again (saves then fail and say so) when no per-user folder
// can be made. Logs the folder chosen and why.
QString settings_folder(const QString &programDir);
