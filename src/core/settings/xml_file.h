#pragma once

#include <QString>

#include <tinyxml2.h>

#include <cstddef>

// Reading and writing the settings documents beside the program. Internal to the settings
// module (callers of the module never see TinyXML-2).

// The settings files hold a few hundred bytes; a file longer than this is not one of them.
inline constexpr std::size_t kMaxSettingsFileBytes = 1024 * 1024;

// Reads and parses the file at `path` into `doc`, without waiting on it: only a regular
// file of at most kMaxSettingsFileBytes is read. On failure (missing, unreadable, not a
// regular file, too long, not well-formed) logs one warning naming `what` and the path,
// and returns false.
bool load_xml_file(const QString &path, tinyxml2::XMLDocument &doc, const char *what);

// Writes `doc` indented to `path`, replacing the file as a whole so that a failed write
// leaves the old content in place (falling back to writing in place when the folder is not
// writable). Logs a warning and returns false when the file cannot be written.
bool save_xml_file(const QString &path, const tinyxml2::XMLDocument &doc, const char *what);

// The first child element called `name` of the document's root; null without root or child.
tinyxml2::XMLElement *root_child(tinyxml2::XMLDocument &doc, const char *name);
