#include "instant_device.h"

#include "loopback.h"
#include "media/u_packets.h"
#include "protocol/frame.h"
#include "protocol/message_types.h"

#include <random>

namespace {

constexpr std::uint8_t kModeRead = 1;
constexpr std::uint8_t kModeWrite = 2;

} // namespace

instant_device::instant_device(const instant_work &work)
    : m_work(work), m_listener(bench_loopback::listen_any(m_port)), m_left(work.instructions),
      m_seed(work.seed), m_thread([this] { run(); })
{
}

instant_device::~instant_device()
{
    m_stop = true;
    m_thread.join();
}

bool instant_device::wait_done(int timeoutMs) const
{
    // A sleeping waiter, not a polling one: its wake-ups would compete with the viewer's
    // threads for the cores being measured.
    std::unique_lock lock(m_doneLock);
    return m_doneSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return m_done.load(); });
}

double instant_device::work_seconds() const
{
    return m_done ? std::chrono::duration<double>(m_last - m_first).count() : 0;
}

std::vector<double> instant_device::latencies_us() const
{
    std::lock_guard lock(m_lock);
    return m_latencies;
}

// Runs on the device thread.
void instant_device::run()
{
    bench_loopback::tighten_timer_slack();
    unique_fd client;
    while (!m_stop && !client)
        client = bench_loopback::accept_within(m_listener.get(), 100);
    std::vector<std::uint8_t> frame;
    while (!m_stop && bench_loopback::read_frame(client.get(), frame))
        if (!answer(client.get(), frame, steady::now()))
            break;
}

bool instant_device::answer(int fd, const std::vector<std::uint8_t> &frame,
                            steady::time_point arrival)
{
    const std::uint8_t *body = frame.data() + kFrameHeaderSize;
    const std::size_t length = frame.size() - kFrameHeaderSize;
    std::vector<std::uint8_t> reply;
    switch (body[0]) {
    case kUTypeUserId: reply = {kUTypeUserId, 0}; break;
    case kUTypeMap:
        if (length >= 7 && (body[2] & kUMapFlagMap) != 0)
            m_sectors = read_be32(body + 3);
        reply = {kUTypeMap, 1, 0};
        break;
    case kUTypeReadData:
        note_read_data(body, length, arrival);
        reply = {kUTypeReadData, 1, 0};
        break;
    case kUTypePak10: reply = sector_data(body, length); break;
    case kUTypeAsk: reply = instruction(arrival); break;
    default: break;
    }
    if (reply.empty())
        return true;
    const auto out = bench_loopback::frame_of(reply);
    bench_loopback::wait_to_answer(arrival, m_work.delay);
    const bool ok = bench_loopback::write_all(fd, out.data(), out.size());
    if (body[0] == kUTypeAsk && reply[1] == kModeRead) {
        m_sent = steady::now();
        m_waitingFirst = true;
    }
    return ok;
}

std::vector<std::uint8_t> instant_device::instruction(steady::time_point arrival)
{
    std::vector<std::uint8_t> reply{kUTypeAsk, 0, 0, 0, 0, 0, 0, 0};
    if (m_left > 0 && m_sectors > m_work.count) {
        if (m_left == m_work.instructions)
            m_first = arrival;
        --m_left;
        std::minstd_rand random(m_seed++);
        m_start = static_cast<std::uint32_t>(random() % (m_sectors - m_work.count));
        reply[1] = m_work.work == instant_work::kind::reads ? kModeRead : kModeWrite;
        write_be32(reply.data() + 2, m_start);
        write_be16(reply.data() + 6, m_work.count);
    } else if (m_sectors > 0 && !m_done) {
        finish(arrival);
    }
    return reply;
}

std::vector<std::uint8_t> instant_device::sector_data(const std::uint8_t *body, std::size_t length)
{
    if (length < 4)
        return {};
    const std::uint16_t index = read_be16(body + 2);
    std::vector<std::uint8_t> reply(8 + kUSectorSize);
    reply[0] = kUTypePak10;
    reply[1] = 1;
    write_be32(reply.data() + 2, m_start);
    write_be16(reply.data() + 6, index);
    for (std::uint32_t at = 8; at < reply.size(); at += 4)
        write_be32(reply.data() + at, m_start + index);
    ++m_served;
    return reply;
}

void instant_device::finish(steady::time_point arrival)
{
    if (m_left == m_work.instructions)
        m_first = arrival; // nothing was asked: no time, and the run counts as failed
    m_last = arrival;
    {
        std::lock_guard lock(m_doneLock);
        m_done = true;
    }
    m_doneSignal.notify_all();
}

void instant_device::note_read_data(const std::uint8_t *body, std::size_t length,
                                    steady::time_point arrival)
{
    if (length < 8)
        return;
    ++m_served;
    if (!m_waitingFirst || read_be16(body + 6) != 0)
        return;
    m_waitingFirst = false;
    std::lock_guard lock(m_lock);
    m_latencies.push_back(std::chrono::duration<double, std::micro>(arrival - m_sent).count());
}
