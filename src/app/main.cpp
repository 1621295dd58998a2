#include "app_startup.h"
#include "crash/crash_handler.h"
#include "h264video.h"
#include "km/child_search_path.h"
#include "launch/LaunchParams.h"
#include "launch/program_options.h"
#include "launch/program_paths.h"
#include "logging/log.h"

#include <QApplication>
#include <QDir>

#include <csignal>

namespace {

const program_about kAbout{
    "tessaract", TESSARACT_VERSION,
    "usage: tessaract LAUNCH-TEXT\n"
    "Shows the remote screen of a KVM-over-IP device and forwards this keyboard and mouse to\n"
    "it. LAUNCH-TEXT, {key:value,...} with the device's address, ports and keys, comes from\n"
    "the launcher.\n"};

} // namespace

int main(int argc, char *argv[])
{
    // The launch text holds both DES keys: it leaves /proc/PID/cmdline and ps before
    // anything else runs (starting the toolkit and the log alone takes tens of milliseconds).
    const std::string argument = take_first_argument(argc, argv);
    // Answered before the toolkit starts, so that no display is needed.
    if (const int status = answer_program_option(kAbout, argument.c_str(), true); status >= 0)
        return status;
    // Before any thread exists, as it changes the environment: the programs the viewer
    // starts by bare name ("ledsync") are found beside it first.
    put_program_dir_first_on_path();
    QApplication app(argc, argv);
    install_crash_handler();
    // A device that closes its end must not kill the process on the next send.
    std::signal(SIGPIPE, SIG_IGN);
    // The program folder becomes the current folder before the log manager starts, so
    // that "./log/" lies beside the executable from the first line on.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    start_program_log();
    // The resources live in the GUI library, a static archive: pull them in explicitly.
    Q_INIT_RESOURCE(resources);

    const std::string text = decode_launch_text(argument);
    if (is_serial_bridge_text(text))
        return run_serial_bridge_mode(text);

    para = parse_launch_params(text);
    TLOG_INFO << "qt start,para.userID=" << para.userID;
    // No session under a made-up key or on a port number the socket would cut short.
    const std::vector<std::string> problems = launch_params_problems(para);
    if (!problems.empty())
        return refuse_start(app, problems);
    TLOG_INFO << "system key info path:" << QCoreApplication::applicationDirPath() << "/key.xml";
    // Qt 6 strings are UTF-8 throughout: there are no text codecs to choose.
    apply_style_sheet(app);

    H264Video window(nullptr, {});
    // The device could not be reached: a launcher must be able to tell failure from success.
    if (window.start_failed())
        return report_start_failure(app, window.start_failure(), H264Video::kStartFailedStatus);
    window.setWindowTitle(launch_window_title(para));
    window.setMouseTracking(true);
    window.show();
    // Until here a termination signal ends the program at once: nothing is mapped or sent
    // yet, and a start-up message box would otherwise hold the signal (the event loop's quit
    // does not reach a box shown before the loop runs).
    quit_on_termination_signals(app);
    const int status = app.exec();
    // A login the device refused ends the loop with the failure status; a termination
    // signal during its box must not turn that into success.
    return window.start_failed() ? H264Video::kStartFailedStatus : status;
}
