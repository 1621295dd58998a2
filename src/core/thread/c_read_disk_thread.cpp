#include "thread/c_read_disk_thread.h"

#include "logging/log.h"
#include "media/u_packets.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <algorithm>
#include <vector>

c_read_disk_thread::c_read_disk_thread(mt_queue<CQUEUE_MESSAGE> *queue,
                                       std::shared_ptr<c_read_write_disk_sector_win> disk)
    : m_queue(queue ? *queue : mt_queue<CQUEUE_MESSAGE>()), m_disk(std::move(disk))
{
    setObjectName(QStringLiteral("read_disk"));
}

bool c_read_disk_thread::addReadRequest(std::uint32_t start, std::uint32_t count)
{
    {
        QMutexLocker lock(&m_lock);
        if (m_requests.size() >= kMaxPending) {
            TLOG_ERROR << "read request " << start << "+" << count << " refused: "
                       << m_requests.size() << " requests wait already";
            return false;
        }
        m_requests.push_back({start, count});
    }
    m_wakeUp.release();
    return true;
}

void c_read_disk_thread::queue_shrunk()
{
    // Only when the reader waits, and only once the queue is low: a wake-up per answered
    // sector would cost a context switch per sector for nothing.
    if (m_roomWanted.load() && m_queue.size() <= kLowWater)
        m_room.release();
}

void c_read_disk_thread::wake()
{
    m_wakeUp.release();
    m_room.release();
}

bool c_read_disk_thread::take_request(request &out)
{
    QMutexLocker lock(&m_lock);
    if (m_requests.empty())
        return false;
    out = m_requests.front();
    m_requests.pop_front();
    return true;
}

// Runs on the reader thread.
void c_read_disk_thread::run()
{
    while (running()) {
        if (!m_wakeUp.tryAcquire(1, kPollMs))
            continue;
        request req{};
        if (running() && take_request(req))
            serve(req);
    }
}

void c_read_disk_thread::serve(const request &req)
{
    if (req.count == 0 || !m_disk)
        return;
    // Indexes are 16-bit on the wire, and sector numbers 32-bit.
    if (req.count > 0xFFFFu || std::uint64_t{req.start} + req.count > 0x100000000u) {
        TLOG_ERROR << "err,readLocalDisk request " << req.start << "+" << req.count
                   << " outside the 16-bit count or the 32-bit sector range";
        return;
    }
    // Data from a position other than the one asked for would reach the remote computer
    // as the contents of the wrong sectors: a failed positioning sends nothing.
    if (!m_disk->setPoint(req.start)) {
        TLOG_ERROR << "err ,readLocal Disk_setPoint," << "start=" << req.start;
        return;
    }
    std::vector<std::uint8_t> buffer(std::size_t{std::min(req.count, kWindow)} * kUSectorSize);
    for (std::uint32_t from = 0; from < req.count; from += kWindow) {
        const std::uint32_t n = std::min(kWindow, req.count - from);
        if (!wait_for_room() || !serve_window(req, from, n, buffer.data()))
            return;
    }
}

bool c_read_disk_thread::serve_window(const request &req, std::uint32_t from, std::uint32_t n,
                                      std::uint8_t *buffer)
{
    const std::uint32_t size = n * kUSectorSize;
    std::uint32_t got = 0;
    if (!m_disk->readDiskAt(req.start + from, buffer, size, got))
        TLOG_ERROR << "err,readLocalDisk_readFile";
    if (got != size) {
        TLOG_ERROR << "err,readLocalDisk with size:" << static_cast<unsigned long long>(got)
                   << ",but wana size is:" << static_cast<unsigned long long>(size);
        return false;
    }
    TLOG_INFO << "send read response, start" << req.start << ",index" << from << ".."
              << from + n - 1 << ",count" << req.count;
    for (std::uint32_t i = from; i < from + n; ++i) {
        // After a stop (Unmap) the queue belongs to the next mapping: add nothing more.
        if (!running())
            return false;
        m_queue.append(make_u_read_data_pak(1, req.start, static_cast<std::uint16_t>(i),
                                            buffer + std::size_t{i - from} * kUSectorSize,
                                            kUSectorSize, i + 1 == req.count));
    }
    return true;
}

bool c_read_disk_thread::wait_for_room()
{
    while (running()) {
        if (m_queue.size() <= kLowWater)
            return true;
        m_roomWanted = true;
        // Looked at again with the flag raised: a shrink between the two looks still wakes us.
        if (m_queue.size() > kLowWater)
            m_room.tryAcquire(1, kPollMs);
        m_roomWanted = false;
    }
    return false;
}
