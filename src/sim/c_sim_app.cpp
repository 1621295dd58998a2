#include "c_sim_app.h"

#include "c_sim_control.h"
#include "c_sim_device.h"
#include "launch/program_paths.h"
#include "logging/CLogerManager.h"
#include "logging/log.h"
#include "logging/log_routing.h"

#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSocketNotifier>

#include <csignal>
#include <optional>
#include <cstdio>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void on_signal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop through a pipe, so everything shuts down in order.
void quit_on_signals(QCoreApplication &app)
{
    if (::pipe(g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(130); });
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void start_logging(const c_sim_options &options)
{
    auto *manager = dynamic_cast<CLogerManager *>(ILogManager::getInstance());
    if (!manager)
        return;
    LoggerConfig config = CLogerManager::mainLoggerDefaults();
    if (!options.logDir.isEmpty()) {
        config.path = (options.logDir + QStringLiteral("/")).toStdString();
    } else {
        // Beside the program, as the viewer does; an installed, read-only folder sends the
        // log to the per-user state folder.
        const std::string beside = QCoreApplication::applicationDirPath().toStdString() + "/log";
        const std::string state = user_state_dir();
        config.path = !make_writable_dir(beside) && !state.empty() && make_writable_dir(state + "/log")
                          ? state + "/log/"
                          : beside + "/";
    }
    config.display = options.verbose; // standard output carries the launch text and replies
    config.consoleLevel = LOG_LEVEL_TRACE;
    config.enabled = true;
    manager->setLogger(ILogManager::kMainLogger, "Main", config);
    manager->start();
    install_log_routing();
}

void print_line(const std::string &text)
{
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The Qt platform the simulator was started with (unset: none), before it chose the
// offscreen one for itself: the viewer it launches gets this one, so that it shows its
// window on the display.
std::optional<QByteArray> g_startPlatform;

// Starts the viewer with the launch text; its exit ends the simulator with its status.
void launch_viewer(QCoreApplication &app, const QString &program, const std::string &launchText)
{
    auto *viewer = new QProcess(&app);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (g_startPlatform)
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QString::fromLocal8Bit(*g_startPlatform));
    else
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    viewer->setProcessEnvironment(environment);
    viewer->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(viewer, &QProcess::finished, &app, [](int code, QProcess::ExitStatus status) {
        TLOG_INFO << "sim: the viewer ended with status " << code;
        QCoreApplication::exit(status == QProcess::NormalExit ? code : 1);
    });
    QObject::connect(viewer, &QProcess::errorOccurred, &app, [program](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        std::fprintf(stderr, "tessaract-sim: cannot start %s\n", qPrintable(program));
        QCoreApplication::exit(127);
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, viewer, [viewer] {
        if (viewer->state() != QProcess::NotRunning) {
            viewer->terminate();
            if (!viewer->waitForFinished(3000))
                viewer->kill();
        }
    });
    viewer->start(program, {QString::fromStdString(launchText)});
}

} // namespace

int run_simulator(int argc, char **argv)
{
    // Text is rendered into images only; the simulator never shows a window.
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        g_startPlatform = qgetenv("QT_QPA_PLATFORM");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    c_sim_options options;
    QString error;
    bool answered = false;
    if (!parse_sim_options(app.arguments(), options, error, answered)) {
        if (answered) {
            std::printf("%s\n", qPrintable(error));
            return 0;
        }
        std::fprintf(stderr, "tessaract-sim: %s\n", qPrintable(error));
        return 2;
    }
    start_logging(options);
    c_sim_device device(options);
    c_sim_control control(device);
    if (!device.start(error) ||
        (options.controlPort >= 0 && !control.listen(static_cast<std::uint16_t>(options.controlPort), error))) {
        std::fprintf(stderr, "tessaract-sim: %s\n", qPrintable(error));
        return 1;
    }
    QObject::connect(&control, &c_sim_control::signal_quit, &app, [] { QCoreApplication::exit(0); },
                     Qt::QueuedConnection);
    QObject::connect(&device, &c_sim_device::signal_stats, &app, [](const QString &line) {
        std::fprintf(stderr, "stats: %s\n", qPrintable(line));
    });
    quit_on_signals(app);
    print_line(device.launch_text());
    if (options.controlPort >= 0)
        print_line("control:" + std::to_string(control.port()));
    if (options.controlStdin)
        control.read_stdin();
    if (!options.launchProgram.isEmpty())
        launch_viewer(app, options.launchProgram, device.launch_text());
    const int status = app.exec();
    TLOG_INFO << "sim: stopping";
    return status;
}
