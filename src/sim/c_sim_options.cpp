#include "c_sim_options.h"

#include <QCommandLineParser>
#include <QRandomGenerator>

#include <cstdio>

namespace {

struct int_option {
    const char *name;
    long long low;
    long long high;
};

bool read_number(const QCommandLineParser &parser, const QString &name, long long low,
                 long long high, long long &out, QString &error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const long long value = parser.value(name).toLongLong(&ok);
    if (!ok || value < low || value > high) {
        error = QStringLiteral("--%1 wants a number from %2 to %3").arg(name).arg(low).arg(high);
        return false;
    }
    out = value;
    return true;
}

std::string hex(const std::array<std::uint8_t, 8> &key)
{
    char text[17];
    for (std::size_t i = 0; i < key.size(); ++i)
        std::snprintf(text + 2 * i, 3, "%02X", key[i]);
    return std::string(text, 16);
}

void random_key(std::array<std::uint8_t, 8> &key)
{
    for (auto &byte : key)
        byte = static_cast<std::uint8_t>(QRandomGenerator::system()->bounded(256));
}

void add_options(QCommandLineParser &parser)
{
    const auto value = [&parser](const char *name, const char *text, const char *valueName) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text),
                                            QString::fromLatin1(valueName)));
    };
    value("port-video", "video port (default 5900; 0 = any free)", "port");
    value("port-km", "keyboard/mouse port (default 5901; 0 = any free)", "port");
    value("port-media", "virtual media port (default 5918; 0 = any free)", "port");
    value("control-port", "control interface port on 127.0.0.1 (0 = any free)", "port");
    parser.addOption(QCommandLineOption(QStringLiteral("no-stdin"),
                                        QStringLiteral("do not read commands from standard input")));
    value("width", "screen width (even, default 1920)", "pixels");
    value("height", "screen height (even, default 1080)", "pixels");
    value("fps", "pictures per second (default 30)", "n");
    value("gop", "seconds between key frames (default 2)", "s");
    value("encoder-threads", "H.264 encoder threads (default 1)", "n");
    value("fragment", "most H.264 bytes per video frame (default 65536; 0 = never split)", "bytes");
    value("cipher-every", "cipher the head of every Nth video frame (default 0 = never)", "n");
    value("des-encode", "key the device sends with (16 hex digits; default random)", "hex");
    value("des-decode", "key the device receives with (16 hex digits; default random)", "hex");
    value("user-id", "userID in the launch text (default 7)", "n");
    value("user-name", "userNM in the launch text (default admin)", "name");
    value("mouse-mode", "mouseMode in the launch text (0 relative, 1 absolute)", "n");
    value("dog-id", "dogID in the launch text: the target position commands name", "n");
    value("layout", "the remote computer's keyboard layout: us, uk, de or fr (default us)", "name");
    value("launch", "start this viewer with the launch text; exit with its status", "path");
    value("log-json", "append every received frame as a JSON line to this file", "path");
    value("stats", "print encode figures and CPU share every N seconds", "seconds");
    value("log-dir", "folder for log files (default ./log/)", "path");
    parser.addOption(QCommandLineOption(QStringLiteral("verbose"),
                                        QStringLiteral("log lines on standard output too")));
}

// The toolkit's synopsis names whatever argv[0] was; ours reads like the other programs'.
QString usage_text(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char('\n')), QStringLiteral("usage: tessaract-sim [options]"));
    return text.trimmed();
}

QString usage_error(const QCommandLineParser &parser, const QString &problem)
{
    return problem + QLatin1Char('\n') + usage_text(parser);
}

bool read_numbers(const QCommandLineParser &parser, c_sim_options &o, QString &error)
{
    long long v[14] = {o.portVideo, o.portKM, o.portMedia, o.controlPort, o.width, o.height,
                       o.fps, o.gopSeconds, o.encoderThreads, o.fragment, o.cipherEvery,
                       o.userID, o.mouseMode, o.dogID};
    const int_option table[14] = {
        {"port-video", 0, 65535}, {"port-km", 0, 65535}, {"port-media", 0, 65535},
        {"control-port", 0, 65535}, {"width", 64, 4096}, {"height", 64, 2304},
        {"fps", 1, 120}, {"gop", 1, 60}, {"encoder-threads", 1, 16},
        {"fragment", 0, 4194304}, {"cipher-every", 0, 1000000}, {"user-id", 0, 0xFFFFFFFFLL},
        {"mouse-mode", 0, 1}, {"dog-id", 0, 0xFFFFFFFFLL}};
    for (int i = 0; i < 14; ++i) {
        if (!read_number(parser, QString::fromLatin1(table[i].name), table[i].low, table[i].high,
                         v[i], error))
            return false;
    }
    o.portVideo = static_cast<std::uint16_t>(v[0]);
    o.portKM = static_cast<std::uint16_t>(v[1]);
    o.portMedia = static_cast<std::uint16_t>(v[2]);
    o.controlPort = static_cast<int>(v[3]);
    o.width = static_cast<int>(v[4]);
    o.height = static_cast<int>(v[5]);
    o.fps = static_cast<int>(v[6]);
    o.gopSeconds = static_cast<int>(v[7]);
    o.encoderThreads = static_cast<int>(v[8]);
    o.fragment = static_cast<std::uint32_t>(v[9]);
    o.cipherEvery = static_cast<unsigned>(v[10]);
    o.userID = static_cast<std::uint32_t>(v[11]);
    o.mouseMode = static_cast<std::uint32_t>(v[12]);
    o.dogID = static_cast<std::uint32_t>(v[13]);
    if (o.width % 2 != 0 || o.height % 2 != 0) {
        error = QStringLiteral("--width and --height must be even");
        return false;
    }
    long long seconds = 0;
    if (!read_number(parser, QStringLiteral("stats"), 1, 3600, seconds, error))
        return false;
    o.statsSeconds = static_cast<int>(seconds);
    return true;
}

bool read_keys(const QCommandLineParser &parser, c_sim_options &o, QString &error)
{
    const std::pair<const char *, std::array<std::uint8_t, 8> *> keys[] = {
        {"des-encode", &o.desEncode}, {"des-decode", &o.desDecode}};
    for (const auto &[name, key] : keys) {
        const QString option = QString::fromLatin1(name);
        if (!parser.isSet(option)) {
            random_key(*key);
        } else if (!parse_des_key(parser.value(option), *key)) {
            error = QStringLiteral("--%1 wants 16 hexadecimal digits").arg(option);
            return false;
        }
    }
    return true;
}

bool read_layout(const QCommandLineParser &parser, c_sim_options &o, QString &error)
{
    const QString option = QStringLiteral("layout");
    if (!parser.isSet(option))
        return true;
    const auto layout = keyboard_layout_named(parser.value(option).toStdString());
    if (!layout) {
        error = QStringLiteral("--layout wants us, uk, de or fr");
        return false;
    }
    o.layout = *layout;
    return true;
}

} // namespace

bool parse_des_key(const QString &text, std::array<std::uint8_t, 8> &key)
{
    if (text.size() != 16)
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        bool ok = false;
        const uint byte = text.mid(static_cast<qsizetype>(2 * i), 2).toUInt(&ok, 16);
        if (!ok)
            return false;
        key[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

bool parse_sim_options(const QStringList &arguments, c_sim_options &options, QString &error,
                       bool &answered)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated KVM-over-IP device for Tessaract"));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("print the version and exit"));
    parser.addOption(versionOption);
    add_options(parser);
    answered = false;
    if (!parser.parse(arguments)) {
        error = usage_error(parser, parser.errorText());
        return false;
    }
    // The toolkit adds --help-all beside --help; parse() leaves both to us.
    const bool help = parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"));
    if (help || parser.isSet(versionOption)) {
        answered = true;
        error = help ? usage_text(parser) : QStringLiteral("tessaract-sim " TESSARACT_VERSION);
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = usage_error(parser, QStringLiteral("unexpected argument: ") +
                                        parser.positionalArguments().first());
        return false;
    }
    if (!read_numbers(parser, options, error) || !read_keys(parser, options, error) ||
        !read_layout(parser, options, error))
        return false;
    options.controlStdin = !parser.isSet(QStringLiteral("no-stdin"));
    options.verbose = parser.isSet(QStringLiteral("verbose"));
    options.userName = parser.value(QStringLiteral("user-name")).toStdString();
    if (options.userName.empty())
        options.userName = "admin";
    if (options.userName.find_first_of(",:{}\"% \t") != std::string::npos) {
        error = QStringLiteral("--user-name must not hold , : { } \" % or blanks");
        return false;
    }
    options.launchProgram = parser.value(QStringLiteral("launch"));
    options.logJsonPath = parser.value(QStringLiteral("log-json"));
    options.logDir = parser.value(QStringLiteral("log-dir"));
    return true;
}

c_sim_options c_sim_options::in_process(int width, int height, int fps)
{
    c_sim_options options;
    options.portVideo = options.portKM = options.portMedia = 0;
    options.controlStdin = false;
    options.width = width;
    options.height = height;
    options.fps = fps;
    return options;
}

std::string c_sim_options::launch_text(std::uint16_t video, std::uint16_t km,
                                       std::uint16_t media) const
{
    return "{ip:127.0.0.1,portKM:" + std::to_string(km) + ",portV:" + std::to_string(video) +
           ",portMedia:" + std::to_string(media) + ",priv:" + std::to_string(priv) +
           ",dogID:" + std::to_string(dogID) + ",mouseMode:" + std::to_string(mouseMode) +
           ",userNM:" + userName + ",userID:" + std::to_string(userID) +
           ",desEncode:" + hex(desEncode) + ",desDecode:" + hex(desDecode) + "}";
}
