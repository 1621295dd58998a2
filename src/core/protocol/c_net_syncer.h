#pragma once

#include "tools/socket/Win32Event.h"

#include <QMutex>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class c_tcp_sock;

// The keyboard/mouse channel's outgoing list and its synchronous sender. The channel has no
// send thread of its own: the virtual media send thread calls send_next() before each of its
// own frames, so keyboard and mouse frames go first. Base class of the main window; usable on
// its own (tests, simulator).
//
// Input is never late. Pointer motion waits as one entry that later motion updates (the
// newest absolute position replaces the waiting one; relative movement is summed and sent
// in steps of at most 127 per axis); button changes and every other frame keep their own
// entries and their order. A keyboard report goes ahead of motion waiting at the tail. When
// the device has left awaited frames unanswered for kSilenceLimitMs in all, input that has
// waited that long is dropped, and once the device speaks again one all-keys-up keyboard
// report and one buttons-up mouse report go first.
//
// Threads: producers (the GUI thread) call the queue operations; send_next() runs on one
// sending thread; on_km_message_received() runs on the keyboard/mouse receive thread. The
// owner stops the sending thread before destroying the syncer.
class c_net_syncer {
public:
    static constexpr int kAnswerWaitMs = 200;
    // Unanswered waiting, in all, after which the device counts as silent.
    static constexpr int kSilenceLimitMs = 1000;

    c_net_syncer() = default;
    virtual ~c_net_syncer() = default;
    c_net_syncer(const c_net_syncer &) = delete;
    c_net_syncer &operator=(const c_net_syncer &) = delete;

    // Sends the oldest entry of the list on the keyboard/mouse socket. Frames of types 11, 21
    // and 22 expect no answer; after any other the call waits up to kAnswerWaitMs for
    // on_km_message_received(). True when a frame went out (answered or not); false when the
    // list was empty or the send failed (that frame is then dropped and logged).
    virtual bool send_next();

    // The keyboard/mouse socket; null (the default) makes every send fail. Any thread.
    void set_km_socket(std::shared_ptr<c_tcp_sock> socket);
    // The outbound key, needed to read the type of a ciphered frame and by send_km_data().
    void set_outbound_key(const std::uint8_t key[8]);

    // Builds a frame of `type` with the payload under the outbound key and appends it (a
    // keyboard report goes ahead of waiting motion). False when the frame could not be
    // built (nothing is queued).
    bool send_km_data(std::uint8_t type, const std::uint8_t *payload, std::uint32_t length);
    // Appends a frame built with build_km_frame.
    void queue_km_frame(std::vector<std::uint8_t> frame);
    // Inserts a frame at the head (the keep-alive goes before waiting input).
    void queue_km_frame_first(std::vector<std::uint8_t> frame);
    // Relative motion with the button bits held (type 5, wheel 0). It joins motion waiting
    // at the tail with the same buttons unless either is not `mergeable` (the alignment's
    // sweep must reach the corner whole).
    void queue_relative_motion(std::uint8_t buttons, int dx, int dy, bool mergeable = true);
    // An absolute position sample (the 6-byte type-44 payload, wheel 0): replaces a sample
    // waiting at the tail with the same buttons.
    void queue_absolute_motion(const std::uint8_t payload[6]);
    // Drops every queued entry.
    void clear_km_queue();
    // Called after every append, outside the list's lock (empty: nothing is called). The
    // sending thread sets it to be woken at once instead of finding the frame at its next
    // poll. Any thread; a call already under way may still run the previous callback.
    void set_on_queue(std::function<void()> callback);
    // Entries waiting (merged motion counts once).
    int km_queue_size() const;

    // Any message arrived on the keyboard/mouse channel: the device is alive, and the answer
    // wait of send_next() ends if one is in progress. Keyboard/mouse receive thread.
    void on_km_message_received();

    bool is_waiting_answer() const { return m_waiting.load() != 0; }
    // The type of the frame whose answer is (or was last) awaited.
    std::uint8_t awaited_type() const { return m_awaitedType.load(); }

    // The message type of a complete frame, deciphering the head of a ciphered body under
    // `key`; -1 when the frame has no body.
    static int frame_type(const std::vector<std::uint8_t> &frame,
                          const std::array<std::uint8_t, 8> &key);

protected:
    // Waits for the answer event; true when it came in time. Sending thread.
    virtual bool wait_for_answer(int timeoutMs) { return m_answerEvent.wait(timeoutMs); }
    // A monotonic clock in milliseconds (input ages, silence). Any thread.
    virtual std::int64_t now_ms() const;

private:
    enum class entry_kind : std::uint8_t { frame, relative_motion, absolute_motion };
    struct entry {
        entry_kind kind = entry_kind::frame;
        int type = -1;                   // message type
        std::vector<std::uint8_t> frame; // kind frame: complete and ciphered
        std::array<std::uint8_t, 6> payload{}; // motion and absolute reports: [buttons, ...]
        int dx = 0;                      // relative motion still to send
        int dy = 0;
        bool mergeable = true;
        std::int64_t queuedMs = 0;       // the newest input in the entry
    };

    void append(entry e);
    void insert_input(entry e);
    bool merge_motion(const entry &e);
    bool take_oldest(std::vector<std::uint8_t> &frame, int &type,
                     std::array<std::uint8_t, 6> &payload);
    bool build_motion_frame(entry &head, std::vector<std::uint8_t> &frame);
    void after_device_heard();
    // Builds a frame and puts it at the head; nothing when it cannot be built.
    void queue_first_built(std::uint8_t type, const std::uint8_t *payload, std::uint32_t length);
    void drop_stale_input();
    void note_sent_mouse(int type, const std::array<std::uint8_t, 6> &payload);
    bool await_answer(int type);
    std::array<std::uint8_t, 8> outbound_key() const;
    void notify_queued();

    mutable QMutex m_listMutex;
    std::deque<entry> m_list;

    mutable QMutex m_configMutex;
    std::shared_ptr<c_tcp_sock> m_socket;
    std::array<std::uint8_t, 8> m_outboundKey{};

    mutable QMutex m_notifyMutex;
    std::function<void()> m_onQueue;

    Win32Event m_answerEvent;
    std::atomic<std::uint8_t> m_waiting{0};
    std::atomic<std::uint8_t> m_awaitedType{0};
    std::atomic<std::uint8_t> m_heard{0};

    // Sending thread only.
    std::int64_t m_silentMs = 0;     // unanswered waiting since the device last spoke
    bool m_releaseOwed = false;      // input may have been lost: release all when it speaks
    std::size_t m_droppedInSilence = 0;
    int m_lastMouseType = 5;         // the mouse report kind last sent
    std::array<std::uint8_t, 6> m_lastAbsolute{}; // its payload when absolute
};
