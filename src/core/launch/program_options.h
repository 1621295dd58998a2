#pragma once

// The options every program of the system answers on its command line: --help and
// --version. Header only, since ledsync does not link the core library. The answer comes
// before anything else starts (no toolkit, no display, no log, no device, no standard input
// read), so it works on any machine the programs are copied to.

#include <cstdio>
#include <cstring>

// What a program says about itself. `usage` is the synopsis line ("usage: NAME ...") and a
// line or two on what the program does, each ending in '\n'; the options are added after it.
struct program_about {
    const char *name;
    const char *version;
    const char *usage;
};

// True when `argument` is an option rather than the program's input: it starts with '-'.
// A program whose input is a launch text (which holds the DES keys and is never echoed)
// takes it as an option only when it also holds no '{' and no '%': every launch text has a
// brace, written as it is or percent-encoded.
inline bool is_program_option(const char *argument, bool takesLaunchText)
{
    if (argument == nullptr || argument[0] != '-')
        return false;
    return !takesLaunchText || std::strpbrk(argument, "{%") == nullptr;
}

// Prints `about`'s usage and the options to `stream`.
inline void print_program_usage(const program_about &about, std::FILE *stream)
{
    std::fprintf(stream,
                 "%s\noptions:\n"
                 "  -h, --help  print this help and exit\n"
                 "  --version   print the version and exit\n",
                 about.usage);
}

// Answers an option (see is_program_option): "--help" or "-h" prints the usage on standard
// output, "--version" prints "NAME VERSION" there; both give exit status 0. Any other
// option prints "NAME: unknown option ARG" and the usage on standard error and gives 2.
// Returns -1, printing nothing, when `argument` is not an option: the program goes on.
inline int answer_program_option(const program_about &about, const char *argument,
                                 bool takesLaunchText)
{
    if (!is_program_option(argument, takesLaunchText))
        return -1;
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
        print_program_usage(about, stdout);
        return 0;
    }
    if (std::strcmp(argument, "--version") == 0) {
        std::printf("%s %s\n", about.name, about.version);
        return 0;
    }
    std::fprintf(stderr, "%s: unknown option %s\n", about.name, argument);
    print_program_usage(about, stderr);
    return 2;
}
