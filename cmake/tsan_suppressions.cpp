// Built into the programs and every test only under ThreadSanitizer. Qt, fontconfig and
// harfbuzz are not instrumented, and Qt's mutexes are bare futexes, so the hand-overs inside
// them look unsynchronised to the sanitizer: QThread::wait and the destructor of its internal wait
// condition; a queued call's function object, made on the posting thread and run by the
// receiving thread's event loop (matched by name, and by Qt's header for the frames the
// symbolizer leaves unnamed once inlined); fontconfig's own locks and harfbuzz's lazily built tables
// when the simulator's screen and a window both lay out text; a decoded picture's buffer
// going back to its pool from whichever thread drops it last, when the other thread's last
// reference was a QImage (whose reference count lives in Qt). Only those are waived; races
// in our own code still stop the run.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "race:QtPrivate::QFunctorSlotObject\n"
           "race:qobjectdefs_impl.h\n"
           "race:libfontconfig.so.1\n"
           "race:libharfbuzz.so.0\n"
           "race:c_picture_pool::state::give_back\n";
}
