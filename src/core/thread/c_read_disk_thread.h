#pragma once

#include "tools/socket/c_abs_thread.h"
#include "tools/socket/mt_queue.h"

#include <QMutex>
#include <QSemaphore>

#include <cstdint>
#include <deque>
#include <memory>

class c_read_write_disk_sector_win;

// Serves the device's read instructions off the media receive thread: each request is read
// from the mapped disk with one positioned read of count x 512 bytes and queued on the
// media queue as count pak_readData messages (indexes 0 .. count-1, the last flagged as the
// end of the batch). A failed positioning or a failed or short read queues nothing for that
// request (one error line). One reader per mapping; a stopped reader is never restarted.
class c_read_disk_thread : public c_abs_thread {
    Q_OBJECT
public:
    // Longest sleep between looks at the request list.
    static constexpr int kPollMs = 10;

    // `queue` must not be null; the reader keeps a copy sharing its messages. Not started.
    c_read_disk_thread(mt_queue<CQUEUE_MESSAGE> *queue,
                       std::shared_ptr<c_read_write_disk_sector_win> disk);

    // Adds a request; served after every earlier one. Any thread (the media receive thread).
    void addReadRequest(std::uint32_t start, std::uint32_t count);

protected:
    void run() override;
    void wake() override { m_wakeUp.release(); }

private:
    struct request {
        std::uint32_t start;
        std::uint32_t count;
    };

    bool take_request(request &out);
    void serve(const request &req);

    mt_queue<CQUEUE_MESSAGE> m_queue;
    std::shared_ptr<c_read_write_disk_sector_win> m_disk;
    QMutex m_lock; // guards m_requests
    std::deque<request> m_requests;
    QSemaphore m_wakeUp{0}; // one permit per request (and one per stop)
};
