#include "crash/crash_handler.h"
#include "launch/LaunchParams.h"
#include "launch/program_options.h"
#include "launch/program_paths.h"
#include "logging/log.h"
#include "serial_bridge.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

// Started detached by the viewer, from the viewer's folder, with the decoded launch text on
// its standard input (or, from a script, as its one argument): connects to the device's
// serial port and offers it as a local terminal. Exit status: 0 after bridging (or --help,
// --version), 1 bad launch text, 2 no connection (or an unknown option, with the usage on
// standard error), 3 no terminal, 4 a failure while bridging.

namespace {

const program_about kAbout{
    "serbridge", TESSARACT_VERSION,
    "usage: serbridge [LAUNCH-TEXT]\n"
    "Connects to the serial port of the device the launch text names and offers it as a local\n"
    "terminal, whose path it prints. Without LAUNCH-TEXT it reads the text from standard input.\n"};

std::atomic<bool> g_stop{false};

void on_stop_signal(int)
{
    g_stop.store(true);
}

void install_stop_signals()
{
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char *argv[])
{
    // An argument holds the DES keys: it leaves our visible command line at once.
    const std::string argument = take_first_argument(argc, argv);
    if (const int status = answer_program_option(kAbout, argument.c_str(), true); status >= 0)
        return status;
    // Its own name, so that a crash here never replaces the viewer's report.
    install_crash_handler("serbridge-crash.dat");
    install_stop_signals();
    const std::string dir = program_dir();
    if (dir.empty() || ::chdir(dir.c_str()) != 0)
        std::fprintf(stderr, "serbridge: cannot enter the program folder\n");
    start_program_log();

    // The viewer has decoded the text already.
    std::string text = argument;
    if (argc < 2 && !read_launch_input(STDIN_FILENO, 2000, text))
        return 1;
    BridgeTarget target;
    if (!bridge_target_from_text(text, target))
        return 1;

    const UniqueFd device = connect_device(target, 2000);
    if (!device.valid())
        return 2;
    std::string terminalPath;
    const UniqueFd terminal = open_bridge_terminal(terminalPath);
    if (!terminal.valid())
        return 3;
    TLOG_INFO << "serial bridge " << target.ip << ":" << target.port << " on terminal "
              << terminalPath;
    std::printf("%s\n", terminalPath.c_str());
    std::fflush(stdout);

    const BridgeEnd end = relay_bridge(device.get(), terminal.get(), g_stop);
    TLOG_INFO << "serial bridge ended: " << bridge_end_text(end);
    return end == BridgeEnd::Failed ? 4 : 0;
}
