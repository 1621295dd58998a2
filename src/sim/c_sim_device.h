#pragma once

#include "c_console_text.h"
#include "c_privilege_arbiter.h"
#include "c_receive_log.h"
#include "c_screen_state.h"
#include "c_sim_connection.h"
#include "c_sim_options.h"
#include "c_stream_thread.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The simulated KVM-over-IP device: three TCP servers on 127.0.0.1 (video, keyboard/mouse,
// virtual media) serving any number of viewers, the remote computer's screen with its
// stream thread, the emulated keyboard and mouse, the write privilege and the virtual disk.
//
// Lives on one thread with an event loop (the program's main thread, or the thread of a
// c_sim_runner); every method must be called there. Only the H.264 encoding runs on a
// thread of its own.
class c_sim_device : public QObject {
    Q_OBJECT
public:
    using kind = c_sim_connection::kind;

    explicit c_sim_device(const c_sim_options &options, QObject *parent = nullptr);
    ~c_sim_device() override;

    // Listens on the three channels, opens the JSON log and starts the stream. False with a
    // reason when a port cannot be bound.
    bool start(QString &error);
    std::uint16_t port(kind channel) const;
    // The launch text for a viewer, with the ports actually bound.
    std::string launch_text() const;
    const c_sim_options &options() const { return m_options; }

    // Operations of the control interface.
    c_sim_connection *connection(kind channel, int id) const;
    std::vector<c_sim_connection *> connections(kind channel) const;
    // The media connection scripts go to: the latest one with a mapped disk, else the latest.
    c_sim_connection *media_target() const;
    // Sets the remote keyboard LEDs and reports them on every logged-in video connection.
    void set_leds(std::uint8_t bits);
    std::uint8_t leds() const { return m_leds; }
    void request_key_frame();
    const c_console_text &console() const { return m_console; }
    // The remote computer's keyboard layout, which keyboard reports are read through.
    void set_keyboard_layout(keyboard_layout_id layout);
    keyboard_layout_id keyboard_layout() const { return m_layout; }
    // Sum of the signed wheel values of every mouse report, relative and absolute.
    long long wheel_total() const { return m_wheelTotal; }
    void clear_console();
    void pointer(int &x, int &y) const { m_screen.pointer(x, y); }
    // Writes the remote screen as it stands now (the picture the next frame encodes, but for
    // its frame counter) to `path`; the format follows the file name (PNG for ".png").
    bool save_screen(const std::string &path) const;
    int holder() const { return m_privilege.holder(); }
    int requester() const { return m_privilege.requester(); }
    c_receive_log &receive_log() { return m_log; }
    // Figures of the last statistics period, one line.
    std::string stats_line() const { return m_statsLine; }
    // Refreshes the disk shown on the screen after a script changed the media state.
    void update_disk_status();
    // Stops or resumes reading what this viewer sends.
    void set_reading(c_sim_connection *connection, bool reading);
    // What happens to the next connection accepted on `channel`: kept as usual, closed at
    // once, or kept open without ever reading or answering it (the viewer's connect
    // succeeds either way). Applies to one connection, then the channel is normal again.
    enum class arrival { normal, close, mute };
    void set_next_arrival(kind channel, arrival fate);
    // Logins on `channel` are answered with result 1 (refused) from now on, or with 0 again.
    // A refused connection stays open, not logged in.
    void set_login_refused(kind channel, bool refused);
    bool login_refused(kind channel) const;
    // Stops accepting connections on all three channels (those accepted stay), and accepts
    // them again on the same ports. False with a reason when a port cannot be bound again.
    void stop_listening();
    bool listen_again(QString &error);

signals:
    // A statistics line is ready (every --stats seconds).
    void signal_stats(QString line);

private:
    void on_new_connection(kind channel);
    bool listen_all(QString &error);
    void on_ready_read(c_sim_connection *connection);
    void on_disconnected(c_sim_connection *connection);
    void on_picture_ready();
    void send_picture(const encoded_picture &picture);
    void on_stats_timer();
    bool read_frames(c_sim_connection *connection);
    void handle_frame(c_sim_connection *connection, const std::uint8_t *body, std::size_t length);
    void handle_video(c_sim_connection *connection, const std::uint8_t *body, std::size_t length);
    void handle_position(c_sim_connection *connection, const std::uint8_t *body, std::size_t length);
    void handle_km(c_sim_connection *connection, const std::uint8_t *body, std::size_t length);
    void handle_keyboard(c_sim_connection *connection, const std::uint8_t *body, std::size_t length);
    void handle_mouse(c_sim_connection *connection, const std::uint8_t *body, std::size_t length);
    void handle_privilege(c_sim_connection *connection, const std::uint8_t *body, std::size_t length);
    void handle_media(c_sim_connection *connection, const std::uint8_t *body, std::size_t length);
    void send_privilege(const std::vector<c_privilege_arbiter::message> &messages);
    void update_holder_status();
    void update_stream_viewers();
    void forget(c_sim_connection *connection);

    c_sim_options m_options;
    std::array<QTcpServer, 3> m_servers;
    std::array<std::map<int, std::unique_ptr<c_sim_connection>>, 3> m_connections;
    std::array<int, 3> m_nextId{1, 1, 1};
    std::array<std::uint16_t, 3> m_ports{};
    std::array<bool, 3> m_refuseLogin{};
    std::array<arrival, 3> m_nextArrival{arrival::normal, arrival::normal, arrival::normal};
    c_screen_state m_screen;
    std::unique_ptr<c_stream_thread> m_stream;
    std::unique_ptr<QSocketNotifier> m_pictureReady;
    c_console_text m_console;
    c_privilege_arbiter m_privilege;
    c_receive_log m_log;
    std::uint8_t m_leds = 0;
    keyboard_layout_id m_layout;
    long long m_wheelTotal = 0;
    int m_offsetX = 0;
    int m_offsetY = 0;
    encoded_picture m_picture;
    std::vector<std::uint8_t> m_videoScratch;
    QTimer m_statsTimer;
    std::string m_statsLine = "no figures yet";
    std::chrono::steady_clock::time_point m_statsStart;
    double m_cpuStart = 0;
    std::string m_diskShown;
};
