#pragma once

#include <string>

// Crash report for fatal faults. When SIGSEGV, SIGABRT, SIGFPE, SIGILL or SIGBUS reaches
// the process (a fault in any thread, abort(), or `kill -SEGV` from outside), the handler
// writes a text report "crash.dat" (see crash_report.h), overwriting the previous one,
// prints one line on standard error and raises the signal again with its default action,
// so the exit status and any core dump are those of the original signal.

// Installs the handler. The report, named `fileName`, goes beside the executable, or into
// the per-user state folder when the executable's folder is not writable (decided now, not
// at crash time). Call once, at the very start of main on the main thread, before other
// threads exist; it also gives the calling thread its alternate stack.
void install_crash_handler(const char *fileName = "crash.dat");

// As above, with the report written to `reportPath` (used by tests).
void install_crash_handler_at(const std::string &reportPath);

// Where the report will be written; empty before installation or when no folder was
// writable (the handler then only prints its line and re-raises).
std::string crash_report_path();

// Gives the calling thread its own alternate signal stack, so a stack overflow in it can
// still be reported. Every thread the program starts calls this first thing in its body
// (for a QThread, at the top of run()). A thread that already has an alternate stack (its
// own from an earlier call, or a sanitizer's) keeps it. The stack is released when the
// thread ends. Returns false only when no stack could be set up. Any thread, any time.
bool install_thread_alt_stack();
