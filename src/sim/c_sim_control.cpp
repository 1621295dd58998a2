#include "c_sim_control.h"

#include "c_sim_device.h"
#include "logging/log.h"
#include "protocol/frame.h"

#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpSocket>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

using verb = control_command::verb;
using kind = c_sim_connection::kind;

// A control line longer than this without a line feed closes the control connection.
constexpr qint64 kMaxLine = 1 << 20;

kind kind_of(control_command::channel where)
{
    switch (where) {
    case control_command::channel::km: return kind::km;
    case control_command::channel::video: return kind::video;
    case control_command::channel::media: return kind::media;
    }
    return kind::km;
}

std::string hex(const std::uint8_t *bytes, std::size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    return out;
}

// A frame whose header and body disagree in the way asked for, for the channel's reader.
std::vector<std::uint8_t> malformed_frame(control_command::defect flaw, kind channel)
{
    std::vector<std::uint8_t> body;
    switch (flaw) {
    case control_command::defect::checksum:
    case control_command::defect::cipher:
        body = channel == kind::km ? std::vector<std::uint8_t>{3, 0, 0, 0, 0, 0, 0}
             : channel == kind::video ? std::vector<std::uint8_t>{4, 7, 0, 0, 0, 0, 0}
                                      : std::vector<std::uint8_t>{8, 0, 0, 0, 0, 0, 0};
        break;
    case control_command::defect::short_body:
        body = channel == kind::km ? std::vector<std::uint8_t>{23}
             : channel == kind::video ? std::vector<std::uint8_t>{6, 1, 0, 0, 0, 0, 0, 0}
                                      : std::vector<std::uint8_t>{10, 1};
        break;
    case control_command::defect::header:
        return {kFrameMagic, kFrameVersion, 0, 0, 0};
    }
    std::vector<std::uint8_t> frame(kFrameHeaderSize + body.size());
    std::uint32_t length = 0;
    build_frame({{static_cast<std::uint32_t>(body.size()), body.data()}}, frame.data(), length);
    if (flaw == control_command::defect::checksum)
        frame[2] = static_cast<std::uint8_t>(frame[2] + 1);
    if (flaw == control_command::defect::cipher)
        write_be32(frame.data() + 3, static_cast<std::uint32_t>(body.size() - 2)); // 5 of 7
    return frame;
}

} // namespace

c_sim_control::c_sim_control(c_sim_device &device, QObject *parent)
    : QObject(parent), m_device(device)
{
}

c_sim_control::~c_sim_control() = default;

std::string c_sim_control::execute(const std::string &line)
{
    control_command command;
    std::string error;
    if (!parse_control_line(line, command, error))
        return "err " + error;
    if (command.what == verb::none)
        return {};
    return run(command);
}

std::string c_sim_control::run(const control_command &c)
{
    int x = 0;
    int y = 0;
    switch (c.what) {
    case verb::none: return {};
    case verb::help: return std::string("ok ") + control_help_text();
    case verb::status: return status();
    case verb::viewers: return viewers();
    case verb::led: m_device.set_leds(static_cast<std::uint8_t>(c.first)); return "ok";
    case verb::keyframe: m_device.request_key_frame(); return "ok";
    case verb::console: return "ok " + m_device.console().escaped();
    case verb::clear: m_device.clear_console(); return "ok";
    case verb::pointer:
        m_device.pointer(x, y);
        return "ok " + std::to_string(x) + " " + std::to_string(y);
    case verb::dump: return "ok " + m_device.receive_log().last(c.first);
    case verb::stats: return "ok " + m_device.stats_line();
    case verb::screenshot:
        if (!m_device.save_screen(c.path))
            return "err cannot write " + c.path;
        return "ok " + std::to_string(m_device.options().width) + "x" +
               std::to_string(m_device.options().height);
    case verb::quit: emit signal_quit(); return "ok bye";
    case verb::send: case verb::priv: case verb::ack: case verb::close: case verb::garbage:
    case verb::flood:
    case verb::oversize: case verb::malformed: case verb::stall: case verb::resume:
        return run_connection_command(c);
    case verb::next:
        m_device.set_next_arrival(kind_of(c.where), c.fate == control_command::arrival::close
                                                        ? c_sim_device::arrival::close
                                                    : c.fate == control_command::arrival::mute
                                                        ? c_sim_device::arrival::mute
                                                        : c_sim_device::arrival::normal);
        return "ok";
    case verb::login: m_device.set_login_refused(kind_of(c.where), c.refuse); return "ok";
    case verb::unlisten: m_device.stop_listening(); return "ok";
    case verb::layout: m_device.set_keyboard_layout(c.layout); return "ok";
    case verb::listen: {
        QString error;
        if (!m_device.listen_again(error))
            return "err " + error.toStdString();
        return "ok";
    }
    default: return run_media_command(c);
    }
}

std::string c_sim_control::run_connection_command(const control_command &c)
{
    if (c.what == verb::ack && c.viewer == 0) {
        for (c_sim_connection *video : m_device.connections(kind::video))
            video->send_body({static_cast<std::uint8_t>(c.first), static_cast<std::uint8_t>(c.second),
                              static_cast<std::uint8_t>(c.third)});
        return "ok";
    }
    c_sim_connection *target = m_device.connection(kind_of(c.where), c.viewer);
    if (!target || !target->open())
        return std::string("err no ") + channel_name(c.where) + " viewer " + std::to_string(c.viewer);
    std::vector<std::uint8_t> bytes;
    switch (c.what) {
    case verb::send: target->send_body(c.bytes.data(), c.bytes.size()); break;
    case verb::priv:
        target->send_body({static_cast<std::uint8_t>(c.first), static_cast<std::uint8_t>(c.second)});
        break;
    case verb::ack:
        target->send_body({static_cast<std::uint8_t>(c.first), static_cast<std::uint8_t>(c.second),
                           static_cast<std::uint8_t>(c.third)});
        break;
    case verb::close:
        TLOG_INFO << "sim: closing " << target->channel_name() << " viewer " << c.viewer << " as asked";
        target->abort();
        break;
    case verb::stall: m_device.set_reading(target, false); break;
    case verb::resume: m_device.set_reading(target, true); break;
    case verb::garbage:
        // Never the magic byte, so the garbage cannot start a frame of its own.
        for (std::uint32_t i = 0; i < c.first; ++i) {
            const auto byte = static_cast<std::uint8_t>(QRandomGenerator::global()->bounded(256));
            bytes.push_back(byte == kFrameMagic ? 0x5A : byte);
        }
        target->send_raw(bytes.data(), bytes.size());
        break;
    case verb::flood:
        for (std::uint32_t i = 0; i < c.first; ++i)
            target->send_raw(c.bytes.data(), c.bytes.size());
        break;
    case verb::oversize:
        bytes.assign(kFrameHeaderSize + 64, 0);
        bytes[0] = kFrameMagic;
        bytes[1] = kFrameVersion;
        write_be32(bytes.data() + 3, 0x7FFFFFF0);
        write_be32(bytes.data() + 7, 0x7FFFFFF0);
        target->send_raw(bytes.data(), bytes.size());
        break;
    case verb::malformed:
        bytes = malformed_frame(c.flaw, kind_of(c.where));
        target->send_raw(bytes.data(), bytes.size());
        break;
    default: break;
    }
    return "ok";
}

std::string c_sim_control::run_media_command(const control_command &c)
{
    c_sim_connection *target = m_device.media_target();
    if (!target)
        return "err no media viewer";
    c_media_session &media = target->media;
    std::string error;
    bool ok = true;
    switch (c.what) {
    case verb::read:
        ok = media.queue_read(c.first, static_cast<std::uint16_t>(c.second), error);
        break;
    case verb::write:
        ok = media.queue_write(c.first, static_cast<std::uint16_t>(c.second), c.fill, error);
        break;
    case verb::nothing: media.queue_nothing(); break;
    case verb::refuse_next: media.refuse_next(); break;
    case verb::ffff: media.no_data_next(); break;
    case verb::silent:
        media.silent_until(c_media_session::clock::now() + std::chrono::milliseconds(c.first));
        break;
    case verb::media: return "ok viewer=" + std::to_string(target->id()) + " " + media.describe();
    case verb::sector: {
        const auto sector = media.sector(c.first);
        if (!sector)
            return "err sector " + std::to_string(c.first) + " not read";
        return "ok " + hex(sector->data(), sector->size());
    }
    default: return "err not a media command";
    }
    if (!ok)
        return "err " + error;
    m_device.update_disk_status();
    return "ok";
}

std::string c_sim_control::viewers() const
{
    std::string text = "ok";
    for (kind channel : {kind::km, kind::video, kind::media}) {
        text += channel == kind::km ? " km:" : channel == kind::video ? " video:" : " media:";
        std::string ids;
        for (c_sim_connection *connection : m_device.connections(channel))
            ids += (ids.empty() ? "" : ",") + std::to_string(connection->id());
        text += ids.empty() ? "-" : ids;
    }
    return text;
}

std::string c_sim_control::status() const
{
    int x = 0;
    int y = 0;
    m_device.pointer(x, y);
    const c_sim_connection *media = m_device.media_target();
    return "ok video=" + std::to_string(m_device.port(kind::video)) +
           " km=" + std::to_string(m_device.port(kind::km)) +
           " media=" + std::to_string(m_device.port(kind::media)) +
           viewers().substr(2) + " holder=" + std::to_string(m_device.holder()) +
           " requester=" + std::to_string(m_device.requester()) +
           " leds=" + std::to_string(m_device.leds()) + " pointer=" + std::to_string(x) + "," +
           std::to_string(y) + " disk=\"" +
           (media ? media->media.disk_summary() : std::string("no disk")) + "\"" +
           " layout=" + std::string(keyboard_layout_name(m_device.keyboard_layout())) +
           " wheel=" + std::to_string(m_device.wheel_total());
}

bool c_sim_control::listen(std::uint16_t port, QString &error)
{
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        error = QStringLiteral("cannot listen on control port %1: %2").arg(port).arg(m_server.errorString());
        return false;
    }
    connect(&m_server, &QTcpServer::newConnection, this, &c_sim_control::on_client);
    return true;
}

void c_sim_control::on_client()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QTcpSocket::readyRead, this, [this, client] {
            while (client->canReadLine()) {
                const QByteArray line = client->readLine().trimmed();
                const std::string reply = execute(line.toStdString());
                if (!reply.empty())
                    client->write(QByteArray::fromStdString(reply + "\n"));
            }
            if (client->bytesAvailable() > kMaxLine) {
                client->write("err line too long\n");
                client->disconnectFromHost();
            }
        });
    }
}

void c_sim_control::read_stdin()
{
    m_stdin = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_stdin.get(), &QSocketNotifier::activated, this, &c_sim_control::on_stdin);
}

void c_sim_control::on_stdin()
{
    char chunk[4096];
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        m_stdin->setEnabled(false); // end of input: the device keeps running
        return;
    }
    m_stdinBuffer.append(chunk, static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = m_stdinBuffer.find('\n')) != std::string::npos) {
        const std::string reply = execute(m_stdinBuffer.substr(0, end));
        m_stdinBuffer.erase(0, end + 1);
        if (!reply.empty()) {
            std::fputs((reply + "\n").c_str(), stdout);
            std::fflush(stdout);
        }
    }
    if (m_stdinBuffer.size() > static_cast<std::size_t>(kMaxLine))
        m_stdinBuffer.clear();
}
