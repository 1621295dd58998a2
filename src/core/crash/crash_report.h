#pragma once

#include <csignal>
#include <cstddef>

// The text report written when the process dies of a fatal signal: signal and code, fault
// address or sender, pid/tid and thread name, time, executable and build-id, registers,
// the backtrace and a copy of /proc/self/maps.

// Facts about the running program gathered once, outside any signal handler, and read by
// the handler.
struct CrashReportFacts {
    char executable[4096] = {};
    char buildId[129] = {}; // hex; empty when the program carries none
};

// Fills `facts` for the running program. Not async-signal-safe: call at install.
void gather_crash_facts(CrashReportFacts &facts);

// Writes the whole report for one signal to `fd`. Uses async-signal-safe calls only (plus
// backtrace(), which is safe once it has been called outside the handler), so it may run
// inside a signal handler on an alternate stack. `info` and `context` may be null.
void write_crash_report(int fd, int signalNumber, const siginfo_t *info, const void *context,
                        const CrashReportFacts &facts);

// "SIGSEGV", ... for the signals the report handles (and a few others); "?" otherwise.
const char *crash_signal_name(int signalNumber);
// "SEGV_MAPERR", "SI_USER", ... for the code a signal arrived with; "?" otherwise.
const char *crash_code_name(int signalNumber, int code);
