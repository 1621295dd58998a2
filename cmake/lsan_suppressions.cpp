// Built into the programs and every test only under AddressSanitizer (whose leak checker runs
// at exit). libdbus makes one allocation when Qt first joins the session bus and never frees
// it, by design; it is the only leak waived.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n";
}
