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
// Threads: producers (the GUI thread) call the queue operations; send_next() runs on one
// sending thread; on_km_message_received() runs on the keyboard/mouse receive thread. The
// owner stops the sending thread before destroying the syncer.
class c_net_syncer {
public:
    static constexpr int kAnswerWaitMs = 200;

    c_net_syncer() = default;
    virtual ~c_net_syncer() = default;
    c_net_syncer(const c_net_syncer &) = delete;
    c_net_syncer &operator=(const c_net_syncer &) = delete;

    // Sends the oldest frame of the list on the keyboard/mouse socket. Frames of types 11, 21
    // and 22 expect no answer; after any other the call waits up to kAnswerWaitMs for
    // on_km_message_received(). True when a frame went out (answered or not); false when the
    // list was empty or the send failed (that frame is then dropped and logged).
    virtual bool send_next();

    // The keyboard/mouse socket; null (the default) makes every send fail. Any thread.
    void set_km_socket(std::shared_ptr<c_tcp_sock> socket);
    // The outbound key, needed to read the type of a ciphered frame and by send_km_data().
    void set_outbound_key(const std::uint8_t key[8]);

    // Builds a frame of `type` with the payload under the outbound key and appends it. False
    // when the frame could not be built (nothing is queued).
    bool send_km_data(std::uint8_t type, const std::uint8_t *payload, std::uint32_t length);
    // Appends a frame built with build_km_frame.
    void queue_km_frame(std::vector<std::uint8_t> frame);
    // Inserts a frame at the head (the keep-alive goes before waiting input).
    void queue_km_frame_first(std::vector<std::uint8_t> frame);
    // Drops every queued frame.
    void clear_km_queue();
    // Called after every append, outside the list's lock (empty: nothing is called). The
    // sending thread sets it to be woken at once instead of finding the frame at its next
    // poll. Any thread; a call already under way may still run the previous callback.
    void set_on_queue(std::function<void()> callback);
    int km_queue_size() const;

    // Any message arrived on the keyboard/mouse channel: ends the answer wait of send_next()
    // if one is in progress. Keyboard/mouse receive thread.
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

private:
    bool take_oldest(std::vector<std::uint8_t> &frame);
    void notify_queued();

    mutable QMutex m_listMutex;
    std::deque<std::vector<std::uint8_t>> m_list;

    mutable QMutex m_configMutex;
    std::shared_ptr<c_tcp_sock> m_socket;
    std::array<std::uint8_t, 8> m_outboundKey{};

    mutable QMutex m_notifyMutex;
    std::function<void()> m_onQueue;

    Win32Event m_answerEvent;
    std::atomic<std::uint8_t> m_waiting{0};
    std::atomic<std::uint8_t> m_awaitedType{0};
};
