// Built into the simulator and its tests only under ThreadSanitizer. Qt and GLib are not
// instrumented, so the hand-overs inside them (QThread's finish-and-wait, the event
// dispatcher's wake-up descriptor) look unsynchronised to the sanitizer. Only those are
// waived; races in our own code still stop the run.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "called_from_lib:libglib-2.0.so.0\n";
}
