// "config.xml" as found beside the program: loaded, and when it holds a rate, saved with
// another rate and loaded again.
#include "fuzz_support.h"

#include "settings/config_file.h"

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ensure_application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 1 << 16)
        return 0;
    const QString path = fuzz::write_scratch_file("config.xml", data, size);
    const int untouched = -12345;
    int rate = untouched;
    if (!load_config_rate(path, rate)) {
        FUZZ_CHECK(rate == untouched);
        return 0;
    }
    FUZZ_CHECK(rate >= kConfigRateMin && rate <= kConfigRateMax);

    const int other = rate == kConfigRateMax ? kConfigRateMin : rate + 1;
    FUZZ_CHECK(save_config_rate(path, other));
    int reread = untouched;
    FUZZ_CHECK(load_config_rate(path, reread));
    FUZZ_CHECK(reread == other);
    return 0;
}
