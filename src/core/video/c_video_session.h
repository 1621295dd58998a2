#pragma once

#include "protocol/c_abs_net_handler.h"
#include "protocol/c_video_msg_dispatcher.h"
#include "tools/socket/mt_queue.h"
#include "video/c_picture_pool.h"
#include "video/video_statistics.h"

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class SocketChannel;
class c_video_picture_path;
class c_tcp_sock;
struct c_wait_object;

// The video channel of the main window, free of widgets: the channel's socket and thread pair,
// the handling of the device's video messages (on the receive thread), the picture path, the
// hand-over of decoded pictures to this object's thread and the statistics line ("video
// statistics: ...", once a minute). The window only shows what picture_ready() hands it.
//
// The hand-over never builds a backlog: every decoded picture is posted to this object's
// thread, but only the newest of those waiting there is handed on; the others are skipped.
//
// Lives on the GUI thread; everything is called there except HandleMsg, the LED sink and
// picture_decoded(), which run on the video receive thread.
class c_video_session : public QObject, public c_abs_net_handler, private c_video_msg_listener {
    Q_OBJECT
public:
    using key_type = std::array<std::uint8_t, 8>;
    static constexpr int kConnectTimeoutMs = 2000;
    // A long session's figures reach the log once a minute, not once a picture.
    static constexpr std::int64_t kStatisticsPeriodMs = 60000;

    struct options {
        std::string ip;
        std::uint16_t port = 0;
        std::uint32_t userID = 0;
        std::optional<key_type> inboundKey; // deciphers ciphered frame heads when present
    };

    explicit c_video_session(QObject *parent = nullptr);
    ~c_video_session() override;

    // Connects to ip:port within kConnectTimeoutMs and starts; false (nothing started) when
    // the connection failed, with its errno in connect_error().
    bool open(const options &config);
    int connect_error() const { return m_connectError; }
    // Starts a session on a connected socket: stops the one before, sets up the picture path,
    // queues the login and starts the channel ("video userID send").
    void start(std::shared_ptr<c_tcp_sock> socket, const options &config);
    // Stops the channel (bounded, see SocketChannel::stop) and releases the picture path and
    // the frames still queued. Pictures already posted still arrive. Harmless when repeated.
    void stop();
    bool started() const;

    // Queues one video channel body (type byte first), framed plain, tagged "notU"; an empty
    // body or one over 501 bytes is dropped.
    void queue_body(const std::vector<std::uint8_t> &body);

    // Receive thread: where LED reports (type 4) go. Before start().
    void set_led_sink(std::function<void(std::uint8_t)> sink) { m_ledSink = std::move(sink); }
    // Any thread: the longest display of a picture so far, in microseconds, for the
    // statistics line. Before start().
    void set_display_probe(std::function<std::int64_t()> probe) { m_displayProbe = std::move(probe); }

    // Video channel messages; receive thread.
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override;

    // Pictures decoded and posted but not yet taken by this object's thread. Any thread.
    int pictures_waiting() const { return m_picturesInFlight.load(); }
    // Pictures handed on by picture_ready() and skipped for a newer one. Any thread.
    std::uint64_t pictures_shown() const { return m_picturesShown.load(); }
    std::uint64_t pictures_skipped() const { return m_picturesSkipped.load(); }
    // The figures of this session's life so far, over all its connections. Any thread.
    video_statistics statistics() const;

signals:
    // Receive thread, for every decoded picture before it is posted (direct connections only).
    void picture_decoded(const video_picture &picture);
    // This object's thread: the newest decoded picture, to be shown.
    void picture_ready(const video_picture &picture);
    // This object's thread: the device refused the login of this connection, or accepted it.
    void login_refused();
    void login_accepted();
    // This object's thread: the device closed the connection (the session has stopped).
    void closed();

private:
    void on_led_report(std::uint8_t bits) override;
    void on_video_fragment(const std::uint8_t *body, std::uint32_t length) override;
    void on_login_answer(bool accepted) override;
    void post_picture(const video_picture &picture); // receive thread
    void take_picture(const video_picture &picture); // this object's thread
    void log_statistics();                           // receive thread

    std::shared_ptr<c_tcp_sock> m_socket;
    int m_connectError = 0;
    int m_generation = 0; // counts the channels started, so a late close of an old one is ignored
    mt_queue<CQUEUE_MESSAGE> m_queue;
    std::shared_ptr<c_wait_object> m_wait;
    std::unique_ptr<SocketChannel> m_channel;
    std::unique_ptr<c_video_picture_path> m_picturePath;
    c_video_msg_dispatcher m_dispatcher{this};
    std::function<void(std::uint8_t)> m_ledSink;
    std::function<std::int64_t()> m_displayProbe;

    std::atomic<int> m_picturesInFlight{0};
    std::atomic<std::uint64_t> m_picturesShown{0};
    std::atomic<std::uint64_t> m_picturesSkipped{0};
    std::int64_t m_slowestFragmentUs = 0; // receive thread
    std::int64_t m_statisticsDueMs = 0;   // receive thread
    std::atomic<std::int64_t> m_displayUs{0};

    // The picture path's figures as of its last fragment, and those of the paths before it.
    mutable std::mutex m_figuresMutex;
    video_statistics m_pathFigures; // decoded, dropped and decode time only
    video_statistics m_earlierFigures;
    std::uint64_t m_bytesReceived = 0;
};
