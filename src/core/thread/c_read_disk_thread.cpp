#include "thread/c_read_disk_thread.h"

#include "logging/log.h"
#include "media/u_packets.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <vector>

c_read_disk_thread::c_read_disk_thread(mt_queue<CQUEUE_MESSAGE> *queue,
                                       std::shared_ptr<c_read_write_disk_sector_win> disk)
    : m_queue(queue ? *queue : mt_queue<CQUEUE_MESSAGE>()), m_disk(std::move(disk))
{
    setObjectName(QStringLiteral("read_disk"));
}

void c_read_disk_thread::addReadRequest(std::uint32_t start, std::uint32_t count)
{
    {
        QMutexLocker lock(&m_lock);
        m_requests.push_back({start, count});
    }
    m_wakeUp.release();
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
    if (req.count > 0xFFFFu) { // indexes are 16-bit on the wire
        TLOG_ERROR << "err,readLocalDisk count " << req.count << " above 65535";
        return;
    }
    const std::uint64_t size = std::uint64_t{req.count} * kUSectorSize;
    // Data from a position other than the one asked for would reach the remote computer
    // as the contents of the wrong sectors: a failed positioning sends nothing.
    if (!m_disk->setPoint(req.start)) {
        TLOG_ERROR << "err ,readLocal Disk_setPoint," << "start=" << req.start;
        return;
    }
    std::vector<std::uint8_t> buffer(size);
    std::uint32_t got = 0;
    if (!m_disk->readDiskAt(req.start, buffer.data(), static_cast<std::uint32_t>(size), got))
        TLOG_ERROR << "err,readLocalDisk_readFile";
    if (got != size) {
        TLOG_ERROR << "err,readLocalDisk with size:" << static_cast<unsigned long long>(got)
                   << ",but wana size is:" << static_cast<unsigned long long>(size);
        return;
    }
    for (std::uint32_t i = 0; i < req.count; ++i) {
        // After a stop (Unmap) the queue belongs to the next mapping: add nothing more.
        if (!running())
            return;
        TLOG_INFO << "send read response, start" << req.start << ",index" << i << ",count"
                  << req.count;
        m_queue.append(make_u_read_data_pak(1, req.start, static_cast<std::uint16_t>(i),
                                            buffer.data() + std::uint64_t{i} * kUSectorSize,
                                            kUSectorSize, i + 1 == req.count));
    }
}
