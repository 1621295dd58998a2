#include "c_sim_device.h"

#include "c_screen_renderer.h"
#include "logging/log.h"

#include <QHostAddress>

#include <sys/resource.h>

#include <cstdio>
#include <utility>

namespace {

// Longest body the device accepts from a viewer: the largest viewer message is a 520-byte
// sector; anything far beyond is a broken or hostile stream.
constexpr std::uint32_t kMaxWireLength = 4096;
constexpr int kReadChunk = 65536;

std::size_t slot(c_sim_connection::kind channel)
{
    return static_cast<std::size_t>(channel);
}

double cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

c_sim_device::c_sim_device(const c_sim_options &options, QObject *parent)
    : QObject(parent), m_options(options), m_screen(options.width, options.height),
      m_layout(options.layout)
{
}

c_sim_device::~c_sim_device()
{
    m_pictureReady.reset();
    if (m_stream)
        m_stream->stop();
    for (auto &servers : m_connections)
        servers.clear();
}

bool c_sim_device::start(QString &error)
{
    m_ports = {m_options.portKM, m_options.portVideo, m_options.portMedia};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto channel = static_cast<kind>(i);
        connect(&m_servers[i], &QTcpServer::newConnection, this,
                [this, channel] { on_new_connection(channel); });
    }
    if (!listen_all(error))
        return false;
    if (!m_options.logJsonPath.isEmpty() && !m_log.open_file(m_options.logJsonPath.toStdString())) {
        error = QStringLiteral("cannot open ") + m_options.logJsonPath;
        return false;
    }
    c_stream_thread::config stream;
    stream.width = m_options.width;
    stream.height = m_options.height;
    stream.fps = m_options.fps;
    stream.gopSeconds = m_options.gopSeconds;
    stream.threads = m_options.encoderThreads;
    m_stream = std::make_unique<c_stream_thread>(stream, m_screen);
    m_pictureReady = std::make_unique<QSocketNotifier>(m_stream->ready_fd(), QSocketNotifier::Read);
    connect(m_pictureReady.get(), &QSocketNotifier::activated, this, &c_sim_device::on_picture_ready);
    m_stream->start();

    m_statsStart = std::chrono::steady_clock::now();
    m_cpuStart = cpu_seconds();
    connect(&m_statsTimer, &QTimer::timeout, this, &c_sim_device::on_stats_timer);
    m_statsTimer.start((m_options.statsSeconds > 0 ? m_options.statsSeconds : 5) * 1000);
    TLOG_INFO << "sim: listening, video " << port(kind::video) << ", km " << port(kind::km)
              << ", media " << port(kind::media) << ", screen " << m_options.width << "x"
              << m_options.height << "@" << m_options.fps;
    return true;
}

// The ports actually bound are kept, so that listening again takes the same ones even
// when the options asked for any free port.
bool c_sim_device::listen_all(QString &error)
{
    const char *names[3] = {"keyboard/mouse", "video", "media"};
    for (std::size_t i = 0; i < 3; ++i) {
        if (m_servers[i].isListening())
            continue;
        if (!m_servers[i].listen(QHostAddress::LocalHost, m_ports[i])) {
            error = QStringLiteral("cannot listen on 127.0.0.1:%1 (%2): %3")
                        .arg(m_ports[i]).arg(QString::fromLatin1(names[i]), m_servers[i].errorString());
            return false;
        }
        m_ports[i] = m_servers[i].serverPort();
    }
    return true;
}

void c_sim_device::stop_listening()
{
    for (QTcpServer &server : m_servers)
        server.close();
    TLOG_INFO << "sim: not listening any more, as asked";
}

bool c_sim_device::listen_again(QString &error)
{
    if (!listen_all(error))
        return false;
    TLOG_INFO << "sim: listening again, video " << port(kind::video) << ", km " << port(kind::km)
              << ", media " << port(kind::media);
    return true;
}

void c_sim_device::set_login_refused(kind channel, bool refused)
{
    m_refuseLogin[slot(channel)] = refused;
    TLOG_INFO << "sim: logins on channel " << slot(channel) << (refused ? " refused" : " accepted");
}

bool c_sim_device::login_refused(kind channel) const
{
    return m_refuseLogin[slot(channel)];
}

std::uint16_t c_sim_device::port(kind channel) const
{
    return m_ports[slot(channel)];
}

std::string c_sim_device::launch_text() const
{
    return m_options.launch_text(port(kind::video), port(kind::km), port(kind::media));
}

c_sim_connection *c_sim_device::connection(kind channel, int id) const
{
    const auto &table = m_connections[slot(channel)];
    const auto it = table.find(id);
    return it == table.end() ? nullptr : it->second.get();
}

std::vector<c_sim_connection *> c_sim_device::connections(kind channel) const
{
    std::vector<c_sim_connection *> list;
    for (const auto &[id, connection] : m_connections[slot(channel)])
        list.push_back(connection.get());
    return list;
}

void c_sim_device::on_new_connection(kind channel)
{
    QTcpServer &server = m_servers[slot(channel)];
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        const int id = m_nextId[slot(channel)]++;
        auto owned = std::make_unique<c_sim_connection>(channel, id, socket, kMaxWireLength,
                                                        m_options.desDecode.data());
        c_sim_connection *connection = owned.get();
        if (channel == kind::video)
            connection->framer = std::make_unique<c_video_framer>(
                m_options.fragment, m_options.cipherEvery, m_options.desEncode.data());
        m_connections[slot(channel)][id] = std::move(owned);
        TLOG_INFO << "sim: " << connection->channel_name() << " viewer " << id << " connected";
        const arrival fate = std::exchange(m_nextArrival[slot(channel)], arrival::normal);
        if (fate == arrival::mute) {
            TLOG_INFO << "sim: " << connection->channel_name() << " viewer " << id
                      << " muted as asked: never read nor answered";
            connection->set_reading(false);
        }
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { on_ready_read(connection); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, connection] { on_disconnected(connection); });
        if (fate == arrival::close) {
            TLOG_INFO << "sim: closing " << connection->channel_name() << " viewer " << id
                      << " at once as asked";
            connection->abort();
            continue;
        }
        if (socket->bytesAvailable() > 0)
            on_ready_read(connection);
    }
}

void c_sim_device::set_next_arrival(kind channel, arrival fate)
{
    m_nextArrival[slot(channel)] = fate;
}

void c_sim_device::set_reading(c_sim_connection *connection, bool reading)
{
    if (connection->reading() == reading)
        return;
    TLOG_INFO << "sim: " << connection->channel_name() << " viewer " << connection->id()
              << (reading ? ": reading again" : ": reading stopped as asked");
    connection->set_reading(reading);
    if (reading)
        on_ready_read(connection);
}

void c_sim_device::on_ready_read(c_sim_connection *connection)
{
    if (!connection->reading())
        return;
    char chunk[kReadChunk];
    while (connection->open() && connection->socket()->bytesAvailable() > 0) {
        const qint64 got = connection->socket()->read(chunk, sizeof chunk);
        if (got <= 0)
            break;
        connection->splitter.feed(reinterpret_cast<const std::uint8_t *>(chunk),
                                  static_cast<std::size_t>(got));
        if (!read_frames(connection))
            return;
    }
}

// False when the connection was dropped.
bool c_sim_device::read_frames(c_sim_connection *connection)
{
    const char *name = connection->channel_name();
    const int id = connection->id();
    while (connection->open()) {
        const auto result = connection->splitter.next();
        if (const std::size_t skipped = connection->splitter.take_skipped(); skipped != 0) {
            TLOG_WARN << "sim: " << name << " viewer " << id << ": skipped " << skipped
                      << " bytes outside any frame";
            m_log.dropped(name, id, std::to_string(skipped) + " bytes outside any frame");
        }
        using status = c_sim_frame_splitter::status;
        switch (result) {
        case status::need_more: return true;
        case status::frame: {
            const auto &body = connection->splitter.body();
            m_log.frame(name, id, body.data(), body.size());
            handle_frame(connection, body.data(), body.size());
            break;
        }
        case status::bad_checksum:
            TLOG_WARN << "sim: " << name << " viewer " << id << ": checksum mismatch, frame dropped";
            m_log.dropped(name, id, "checksum mismatch");
            break;
        case status::bad_cipher:
            TLOG_WARN << "sim: " << name << " viewer " << id << ": ciphered body of "
                      << connection->splitter.header().wireLength << " bytes (plain "
                      << connection->splitter.header().plainLength << ") cannot be deciphered, dropped";
            m_log.dropped(name, id, "undecipherable body");
            break;
        case status::too_long:
            TLOG_ERROR << "sim: " << name << " viewer " << id << ": wire length "
                       << connection->splitter.header().wireLength << " over " << kMaxWireLength
                       << ", connection closed";
            m_log.dropped(name, id, "wire length over the limit; closed");
            connection->abort();
            return false;
        }
    }
    return false;
}

void c_sim_device::handle_frame(c_sim_connection *connection, const std::uint8_t *body,
                                std::size_t length)
{
    switch (connection->channel()) {
    case kind::km: handle_km(connection, body, length); return;
    case kind::video: handle_video(connection, body, length); return;
    case kind::media: handle_media(connection, body, length); return;
    }
}

void c_sim_device::on_disconnected(c_sim_connection *connection)
{
    TLOG_INFO << "sim: " << connection->channel_name() << " viewer " << connection->id()
              << " disconnected";
    if (connection->channel() == kind::km) {
        send_privilege(m_privilege.on_disconnect(connection->id()));
        update_holder_status();
    }
    // The socket's signal is still being delivered: forget the connection afterwards.
    QMetaObject::invokeMethod(this, [this, connection] { forget(connection); }, Qt::QueuedConnection);
}

void c_sim_device::forget(c_sim_connection *connection)
{
    auto &table = m_connections[slot(connection->channel())];
    const auto it = table.find(connection->id());
    if (it == table.end() || it->second.get() != connection)
        return;
    const bool media = connection->channel() == kind::media;
    table.erase(it);
    update_stream_viewers();
    if (media)
        update_disk_status();
}

bool c_sim_device::save_screen(const std::string &path) const
{
    // A renderer of its own: the stream thread's canvas is not to be read from here.
    c_screen_renderer renderer(m_screen.width(), m_screen.height());
    screen_snapshot state;
    m_screen.snapshot(state);
    const std::uint8_t *bits = renderer.render(state, 0);
    const QImage picture(bits, renderer.width(), renderer.height(), renderer.stride(),
                         QImage::Format_RGB32);
    return picture.save(QString::fromStdString(path));
}

void c_sim_device::request_key_frame()
{
    if (m_stream)
        m_stream->request_key_frame();
}

void c_sim_device::set_leds(std::uint8_t bits)
{
    m_leds = bits & 0x07;
    m_screen.set_leds(m_leds);
    for (c_sim_connection *video : connections(kind::video)) {
        if (video->loggedIn)
            video->send_body({4, m_leds});
    }
    TLOG_INFO << "sim: LED report " << unsigned{m_leds};
}

void c_sim_device::set_keyboard_layout(keyboard_layout_id layout)
{
    m_layout = layout;
    TLOG_INFO << "sim: the remote computer's keyboard layout is now "
              << keyboard_layout_name(layout);
}

void c_sim_device::clear_console()
{
    m_console.clear();
    m_screen.set_console(m_console.text());
}

void c_sim_device::on_stats_timer()
{
    const stream_stats s = m_stream ? m_stream->take_stats() : stream_stats{};
    const auto now = std::chrono::steady_clock::now();
    const double wall = std::chrono::duration<double>(now - m_statsStart).count();
    const double cpu = cpu_seconds();
    const double share = wall > 0 ? 100.0 * (cpu - m_cpuStart) / wall : 0;
    m_statsStart = now;
    m_cpuStart = cpu;
    const double pictures = static_cast<double>(s.pictures);
    char line[400];
    std::snprintf(line, sizeof line,
                  "pictures/s=%.1f encode_avg_ms=%.2f encode_max_ms=%.2f picture_cpu_ms=%.2f "
                  "key_frames=%llu key_avg_ms=%.2f render_avg_ms=%.2f skipped=%llu kB/s=%.1f "
                  "cpu=%.1f%%",
                  wall > 0 ? pictures / wall : 0, s.pictures ? s.encodeMsTotal / pictures : 0,
                  s.encodeMsMax, s.pictures ? s.cpuMsTotal / pictures : 0, static_cast<unsigned long long>(s.keyFrames),
                  s.keyFrames ? s.keyMsTotal / static_cast<double>(s.keyFrames) : 0,
                  s.pictures ? s.renderMsTotal / pictures : 0,
                  static_cast<unsigned long long>(s.skipped),
                  wall > 0 ? static_cast<double>(s.bytes) / 1024.0 / wall : 0, share);
    m_statsLine = line;
    if (m_options.statsSeconds > 0)
        emit signal_stats(QString::fromStdString(m_statsLine));
}
