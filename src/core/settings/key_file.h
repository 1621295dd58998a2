#pragma once

#include "settings/system_key.h"

#include <QString>

// The system key file "key.xml" beside the program:
//
//   <anyRoot>
//     <common>
//       <key name="Ctrl+Alt+Del">
//         <keyValue value="16777249" str="Control"/>
//         ...
//       </key>
//     </common>
//     ... other elements, left alone
//   </anyRoot>
//
// Groups and keys are read from every child element of `common` and of a group, whatever
// its name. The program never creates the file; it must be installed with root and
// `common`.

// The file's path: `programDir` + "/key.xml".
QString key_file_path(const QString &programDir);

// Replaces `table` by the file's groups (a later group of a name replaces an earlier one).
// An unreadable file leaves `table` unchanged and returns false. A readable file empties
// `table` first; without `common` it stays empty and false is returned. A group without
// `name`, or a key without `str` or a decimal `value`, is skipped with a warning. Every
// failure logs a warning naming the path.
bool load_system_keys(const QString &path, system_key_table &table);

// Logs "save system key info:" and the path, then replaces the children of `common` by
// `table` (every group in table order, an empty name included, as `key` with `name`; its
// keys in order as `keyValue` with `value` then `str`) and writes the file back indented,
// everything outside `common` unchanged. Writes nothing and returns false (with a warning)
// when the file cannot be read, has no `common` or cannot be written.
bool save_system_keys(const QString &path, const system_key_table &table);
