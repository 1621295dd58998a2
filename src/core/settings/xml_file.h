#pragma once

#include <QString>

#include <tinyxml2.h>

// Reading and writing the settings documents beside the program. Internal to the settings
// module (callers of the module never see TinyXML-2).

// Reads and parses the file at `path` into `doc`. On failure (missing, unreadable, too
// large, not well-formed) logs one warning naming `what` and the path, and returns false.
bool load_xml_file(const QString &path, tinyxml2::XMLDocument &doc, const char *what);

// Writes `doc` indented to `path`, replacing the file as a whole so that a failed write
// leaves the old content in place (falling back to writing in place when the folder is not
// writable). Logs a warning and returns false when the file cannot be written.
bool save_xml_file(const QString &path, const tinyxml2::XMLDocument &doc, const char *what);

// The first child element called `name` of the document's root; null without root or child.
tinyxml2::XMLElement *root_child(tinyxml2::XMLDocument &doc, const char *name);
