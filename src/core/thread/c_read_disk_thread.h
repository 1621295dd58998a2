#pragma once

#include "tools/socket/c_abs_thread.h"
#include "tools/socket/mt_queue.h"

#include <QMutex>
#include <QSemaphore>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

class c_read_write_disk_sector_win;

// Serves the device's read instructions off the media receive thread: each request of
// count sectors is queued on the media queue as count pak_readData messages (indexes
// 0 .. count-1, the last flagged as the end of the batch). The sectors are read and queued
// a window at a time: up to kWindow sectors with one positioned read, and the next window
// only once the media queue holds kLowWater messages or fewer, so a queue fed by one reader
// never holds more than kLowWater + kWindow messages, whatever count the device names.
// A failed positioning or a failed or short read queues nothing more for that request (one
// error line naming the window's sizes); windows queued before it stay queued. One reader
// per mapping; a stopped reader is never restarted.
class c_read_disk_thread : public c_abs_thread {
    Q_OBJECT
public:
    // Longest sleep between looks at the request list and at the queue's length.
    static constexpr int kPollMs = 10;
    // Sectors read and queued at a time.
    static constexpr std::uint32_t kWindow = 256;
    // The next window is read once the media queue holds this many messages or fewer.
    static constexpr int kLowWater = 64;
    // Requests that may wait at once; the device has one instruction in progress at most.
    static constexpr std::size_t kMaxPending = 4;

    // `queue` must not be null; the reader keeps a copy sharing its messages. Not started.
    c_read_disk_thread(mt_queue<CQUEUE_MESSAGE> *queue,
                       std::shared_ptr<c_read_write_disk_sector_win> disk);

    // Adds a request; served after every earlier one. False, with an error line, when
    // kMaxPending requests already wait. Any thread (the media receive thread).
    bool addReadRequest(std::uint32_t start, std::uint32_t count);
    // Tells a reader waiting for room that the media queue may have shrunk (an answer was
    // accepted). Cheap when it does not wait. Any thread.
    void queue_shrunk();

protected:
    void run() override;
    void wake() override;

private:
    struct request {
        std::uint32_t start;
        std::uint32_t count;
    };

    bool take_request(request &out);
    void serve(const request &req);
    bool serve_window(const request &req, std::uint32_t from, std::uint32_t n,
                      std::uint8_t *buffer);
    bool wait_for_room();

    mt_queue<CQUEUE_MESSAGE> m_queue;
    std::shared_ptr<c_read_write_disk_sector_win> m_disk;
    QMutex m_lock; // guards m_requests
    std::deque<request> m_requests;
    QSemaphore m_wakeUp{0}; // one permit per request (and one per stop)
    QSemaphore m_room{0};   // released by queue_shrunk while m_roomWanted (and by a stop)
    std::atomic<bool> m_roomWanted{false};
};
