#pragma once

#include "protocol/c_abs_net_handler.h"
#include "tools/disk/rw_disk/list_removable_drives.h"
#include "tools/socket/c_wait_object.h"
#include "tools/socket/mt_queue.h"

#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SocketChannel;
class c_net_syncer;
class c_read_disk_thread;
class c_read_write_disk_sector_win;
class c_socket_send_u;
class c_tcp_sock;

// Timing and environment of a c_u_media_session; tests shorten the pauses and set the clock.
struct u_media_settings {
    int mapPauseMs = 200;        // between the unmap and the map that follows it
    int closeWaitMs = 500;       // longest wait for the final unmap to be answered
    int readerStopWaitMs = 3000; // longest wait for a reader to end at unmap
    bool interactiveAuth = true; // udisks2 may prompt (off in tests)
    std::function<std::chrono::steady_clock::time_point()> now = [] {
        return std::chrono::steady_clock::now();
    };
};

// Why a map did not happen or did not hold: nothing was chosen, a disk is mapped already,
// the device is not connected, the disk did not open (gone, not a disk, no permission, in
// use, udisks2 / polkit refused, too large, other), or the device refused the map.
enum class map_error { none, nothing_chosen, already_mapped, not_connected, not_found,
                       not_a_disk, permission, busy, not_authorized, too_large, failed,
                       refused_by_device };

// Everything the virtual media window does, without a widget: the media channel (socket,
// queue, send and receive threads), the handler of the device's media messages, the mapped
// disk with its reader, the idle re-ask and the progress figures. The window forwards its
// slots and timers here and shows the figures.
//
// Instructions (the device's answers to pak_ask) and what the session holds for them. The
// exchange is stop-and-wait, so a device has one instruction in progress at most; the
// session trusts nothing beyond that:
//  - while nothing is mapped, every instruction is ignored (one log line per unmapped
//    period); no pak_ask goes out then, so none is owed an answer;
//  - an instruction that answers no pak_ask (one arrives while a read or write batch is in
//    progress, or while idle after "nothing to do") is ignored, logged once per batch or
//    idle period;
//  - a read or write of 0 sectors, or one whose start + count reaches past the mapped
//    disk's sector count, is taken as "nothing to do" (the refusal logged once): nothing is
//    read, written or queued for it, and the idle re-ask keeps the polling going;
//  - a batch's messages are queued a window at a time, so the queue never holds more than
//    a few hundred frames: the reader reads and queues read data in windows
//    (c_read_disk_thread), and pak10 requests are topped up to kPak10Window whenever the
//    queue has fallen to kPak10LowWater as device messages arrive. The frames on the wire,
//    their order and their last-of-batch flags are those of the whole batch built at once.
//  - write data is written only when it answers a pak10 at the head of the queue and names
//    a sector of the write batch in progress.
//
// Threads: construction, open_channel, map, unmap, the *_tick calls, the drive list and
// destruction run on the GUI thread; HandleMsg and request_read on the media receive thread.
// The figures read by the GUI thread are atomics.
class c_u_media_session : public c_abs_net_handler {
public:
    using settings = u_media_settings;

    static constexpr int kProgressSectors = 30000;
    static constexpr std::chrono::milliseconds kProgressIdle{5000};
    static constexpr int kIdleTicks = 10; // re-ask after more than this many ask ticks
    // pak10 requests queued at most, and the queue length at which more are added.
    static constexpr int kPak10Window = 256;
    static constexpr int kPak10LowWater = 64;

    explicit c_u_media_session(settings config = {});
    // shutdown().
    ~c_u_media_session() override;
    c_u_media_session(const c_u_media_session &) = delete;
    c_u_media_session &operator=(const c_u_media_session &) = delete;

    // Connects to the device's media port within 2000 ms, creates and starts the channel
    // (kind 3, both threads at the highest priority) and queues the userID message. False
    // when the connection failed: the channel is created all the same (its sends fail and
    // time out). Call once.
    bool open_channel(const std::string &ip, std::uint16_t port, std::uint32_t userID);
    // The channel again on a socket connected anew, after the device dropped it: the old
    // channel is stopped, the batch in progress is abandoned (its queued frames dropped,
    // nothing of it replayed: the device asks again for what it still wants), the login is
    // queued, and a disk that is still mapped here is mapped again in the same mode
    // (read-only stays read-only), then polled. GUI thread.
    void reopen_channel(std::shared_ptr<c_tcp_sock> socket, std::uint32_t userID);
    // The device dropped the channel: the batch in progress is abandoned and no media frame
    // is queued any more (none would leave: the dead socket would fail each one in a loop),
    // while the send thread goes on carrying keyboard/mouse frames until reopen_channel
    // replaces it. The disk stays mapped here; a map asked for meanwhile is refused. GUI
    // thread; harmless when repeated.
    void channel_lost();
    bool channel_down() const { return m_down.load(); }
    // Called on the media receive thread when the device closes the channel. Before
    // open_channel.
    void set_on_closed(std::function<void()> callback) { m_onClosed = std::move(callback); }
    // Called on the media receive thread with the device's answer to the login (true:
    // accepted). Before open_channel.
    void set_on_login_answer(std::function<void(bool)> callback) { m_onLogin = std::move(callback); }
    // Called on the media receive thread when the device refuses a map (not an unmap).
    // Before open_channel.
    void set_on_map_refused(std::function<void()> callback) { m_onMapRefused = std::move(callback); }
    // Lets the keyboard/mouse syncer send through the media send thread (null detaches).
    // The syncer must stay alive until it is detached or this session is shut down.
    void set_syncer(c_net_syncer *syncer);

    // Maps `source` (a device path or an image file): opens it, starts a reader, queues
    // unmap(0), pauses mapPauseMs, queues map(flags, sectors) and the first pak_ask. The
    // read-only flag goes out when asked for or when the source cannot be written. False,
    // with nothing changed but the log, when the source is empty or does not open, when a
    // disk is mapped already, or when the channel is not connected; last_map_error() then
    // says why.
    bool map(const QString &source, bool readOnly);
    map_error last_map_error() const { return m_mapError; }
    // The mode the mapping was announced in (true also when the source cannot be written).
    bool mapped_read_only() const { return m_announcedReadOnly; }
    // Ends the mapping: stops the reader, empties the queue, queues unmap(sectors), closes
    // the disk.
    void unmap();
    // The destruction sequence: final unmap(0), channel stopped, queue drained, reader
    // stopped, disk closed. Harmless when repeated.
    void shutdown();

    // 50 ms: after a nothing-to-do answer, queues the next pak_ask after more than 10 ticks.
    void ask_tick();
    // 300 ms: completes the progress 5 s after the last read instruction. True when the
    // window should show the figures (false once the progress was already complete).
    bool progress_tick();

    bool is_mapped() const { return m_mapped.load(); }
    bool is_idle() const { return m_idle.load(); }
    int progress() const { return m_progress.load(); }
    bool progress_done() const { return m_progressDone.load(); }
    int read_sectors() const { return m_readSectors.load(); }
    // Whole seconds since the last map.
    int seconds_since_map() const;

    // The drive list: removable disks, TESSARACT_IMAGES and the images added here. At the
    // first call, the TESSARACT_IMAGES entries that are no regular file are logged and
    // returned in `missing`.
    const drive_list &refresh_drives(QStringList *missing = nullptr);
    const drive_list &drives() const { return m_drives; }
    void add_image(const QString &path);

    // Media receive thread. Handles one device message; 0 = the head frame is answered,
    // 5 = send the head frame again. Never reads past bodyLength.
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override;
    // Queues a pak_ask and restarts the idle tick count. Any thread.
    void enqueue_request_status();
    // A read instruction: hands it to the reader (if one runs) and counts it for the progress.
    void request_read(std::uint32_t start, std::uint16_t count);

    mt_queue<CQUEUE_MESSAGE> &queue() { return m_queue; }
    const std::shared_ptr<SocketChannel> &channel() const { return m_channel; }
    // The mapped disk, always open; null while nothing is mapped. Any thread.
    std::shared_ptr<c_read_write_disk_sector_win> disk() const;

private:
    // The read or write instruction being served (guarded by m_stateLock).
    struct batch {
        std::uint8_t mode = 0; // 0 none, 1 read, 2 write
        std::uint32_t start = 0;
        std::uint32_t count = 0;
        std::uint32_t queued = 0; // pak10 requests queued so far
    };
    enum class verdict { ignore, nothing, serve };

    std::uint8_t dispatch(const std::uint8_t *body, std::uint32_t bodyLength);
    verdict admit(std::uint8_t mode, std::uint32_t start, std::uint32_t count);
    void end_batch();
    void refill_window();
    std::uint8_t handle_instruction(const std::uint8_t *body);
    std::uint8_t handle_read_answer(const std::uint8_t *body);
    std::uint8_t handle_write_data(const std::uint8_t *body, std::uint32_t length);
    void write_sector(std::uint32_t start, std::uint16_t index, const std::uint8_t *data,
                      bool headIsPak10);
    void stop_reader();
    void wait_until_sent(int timeoutMs);
    std::int64_t now_ms() const;
    // Creates and starts the channel on m_socket, with the syncer, and queues the login.
    void start_channel(std::uint32_t userID);
    void start_reader(const std::shared_ptr<c_read_write_disk_sector_win> &disk);
    bool refuse_map(map_error why);
    void check_map_answer();

    settings m_config;
    std::shared_ptr<c_tcp_sock> m_socket;
    std::shared_ptr<SocketChannel> m_channel;
    mt_queue<CQUEUE_MESSAGE> m_queue;
    std::shared_ptr<c_wait_object> m_waitObject = std::make_shared<c_wait_object>();

    mutable QMutex m_stateLock; // guards m_disk and m_reader against the receive thread
    std::shared_ptr<c_read_write_disk_sector_win> m_disk;
    std::shared_ptr<c_read_disk_thread> m_reader;
    batch m_batch;
    std::atomic<bool> m_unmappedNoted{false};    // ignored instructions logged this period
    std::atomic<bool> m_unsolicitedNoted{false}; // logged for this batch or idle period

    drive_list m_drives;
    QStringList m_images;
    bool m_imagesChecked = false; // TESSARACT_IMAGES checked for missing entries
    map_error m_mapError = map_error::none;
    std::function<void()> m_onMapRefused;
    bool m_shutDown = false;
    c_net_syncer *m_syncer = nullptr;   // GUI thread
    bool m_announcedReadOnly = false;   // the mapping's read-only flag, for a map again
    std::function<void()> m_onClosed;
    std::function<void(bool)> m_onLogin;
    std::atomic<bool> m_down{false}; // the device dropped the channel; nothing is queued

    std::atomic<bool> m_mapped{false};
    std::atomic<bool> m_idle{false};
    std::atomic<int> m_idleTicks{0};
    std::atomic<bool> m_progressDone{false};
    bool m_progressShownDone = false; // GUI thread only
    std::atomic<int> m_readSectors{0};
    std::atomic<int> m_progress{0};
    std::atomic<std::int64_t> m_mapClockMs{0};
    std::atomic<std::int64_t> m_readClockMs{0};
};
