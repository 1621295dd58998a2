// "key.xml" as found beside the program: loaded; a table that loads is saved and loaded
// again, and must come back the same.
#include "fuzz_support.h"

#include "settings/key_file.h"

#include <cstdint>

namespace {

// TinyXML-2 turns a carriage return inside an attribute into a line feed when it reads the
// file back, so a name holding one cannot survive a save unchanged.
bool survives_save(const system_key_table &table)
{
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        if (it.key().contains(QChar('\r')))
            return false;
        for (const SYSTEMKEYINFO &key : it.value())
            if (key.str.contains(QChar('\r')))
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ensure_application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 1 << 16)
        return 0;
    const QString path = fuzz::write_scratch_file("key.xml", data, size);
    system_key_table table;
    table.insert(QStringLiteral("before"), {SYSTEMKEYINFO{QStringLiteral("A"), 65}});
    if (!load_system_keys(path, table))
        return 0;

    FUZZ_CHECK(save_system_keys(path, table));
    system_key_table reread;
    FUZZ_CHECK(load_system_keys(path, reread));
    if (survives_save(table))
        FUZZ_CHECK(reread == table);
    else
        FUZZ_CHECK(reread.size() <= table.size());
    return 0;
}
