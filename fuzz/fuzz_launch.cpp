// The launch text: the one argument the launcher hands over, decoded and parsed into the
// connection settings.
#include "fuzz_support.h"

#include "launch/LaunchParams.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view argument(reinterpret_cast<const char *>(data), size);
    const std::string decoded = decode_launch_text(argument);
    FUZZ_CHECK(decoded.size() < kLaunchTextBuffer);
    FUZZ_CHECK(decoded.find('"') == std::string::npos);
    FUZZ_CHECK(decoded.find('\0') == std::string::npos);

    (void)is_serial_bridge_text(decoded);
    for (const std::string_view item : launch_items(decoded)) {
        FUZZ_CHECK(!item.empty());
        FUZZ_CHECK(item.data() >= decoded.data() &&
                   item.data() + item.size() <= decoded.data() + decoded.size());
        const std::string_view value = launch_item_value(item);
        FUZZ_CHECK(value.data() >= item.data() && value.data() + value.size() <= item.data() + item.size());
        (void)launch_number(value);
        const DesKey key = launch_key(value);
        FUZZ_CHECK(key.length == 0 || key.length == 8);
    }

    const LaunchParams params = parse_launch_params(decoded);
    for (const DesKey *key : {&params.desEncodeKey, &params.desDecodeKey}) {
        FUZZ_CHECK(key->length == 0 || key->length == 8);
        if (!key->present())
            for (std::uint8_t b : key->key)
                FUZZ_CHECK(b == 0);
    }
    FUZZ_CHECK(params.mouseMode == 0 || decoded.find("mouseMode") != std::string::npos);
    (void)launch_window_title(params);
    return 0;
}
