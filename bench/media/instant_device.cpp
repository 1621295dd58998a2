#include "instant_device.h"

#include "loopback.h"
#include "protocol/frame.h"

#include <chrono>
#include <random>

namespace {

using steady = std::chrono::steady_clock;

} // namespace

instant_device::instant_device(int reads, std::uint16_t count, unsigned seed)
    : m_count(count), m_listener(bench_loopback::listen_any(m_port)), m_readsLeft(reads),
      m_seed(seed), m_thread([this] { run(); })
{
}

instant_device::~instant_device()
{
    m_stop = true;
    m_thread.join();
}

bool instant_device::wait_done(int timeoutMs) const
{
    const auto deadline = steady::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_done && steady::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return m_done;
}

std::vector<double> instant_device::latencies_us() const
{
    std::lock_guard lock(m_lock);
    return m_latencies;
}

// Runs on the device thread.
void instant_device::run()
{
    unique_fd client;
    while (!m_stop && !client)
        client = bench_loopback::accept_within(m_listener.get(), 100);
    std::vector<std::uint8_t> frame;
    while (!m_stop && bench_loopback::read_frame(client.get(), frame))
        if (!answer(client.get(), frame))
            break;
}

bool instant_device::answer(int fd, const std::vector<std::uint8_t> &frame)
{
    const std::uint8_t *body = frame.data() + kFrameHeaderSize;
    const std::size_t length = frame.size() - kFrameHeaderSize;
    std::vector<std::uint8_t> reply;
    switch (body[0]) {
    case 0x32: reply = {0x32, 0}; break;
    case 0x07:
        if (length >= 7 && (body[2] & 0x01) != 0)
            m_sectors = read_be32(body + 3);
        reply = {0x07, 1, 0};
        break;
    case 0x09:
        if (m_waitingFirst && length >= 8 && read_be16(body + 6) == 0) {
            m_waitingFirst = false;
            const double us =
                std::chrono::duration<double, std::micro>(steady::now() - m_sent).count();
            std::lock_guard lock(m_lock);
            m_latencies.push_back(us);
        }
        reply = {0x09, 1, 0};
        break;
    case 0x08: {
        reply = {0x08, 0, 0, 0, 0, 0, 0, 0};
        if (m_readsLeft > 0 && m_sectors > m_count) {
            --m_readsLeft;
            std::minstd_rand random(m_seed++);
            reply[1] = 1;
            write_be32(reply.data() + 2, static_cast<std::uint32_t>(random() % (m_sectors - m_count)));
            write_be16(reply.data() + 6, m_count);
            const auto out = bench_loopback::frame_of(reply);
            const bool ok = bench_loopback::write_all(fd, out.data(), out.size());
            m_sent = steady::now();
            m_waitingFirst = true;
            return ok;
        }
        if (m_sectors > 0)
            m_done = true;
        break;
    }
    default: break;
    }
    const auto out = bench_loopback::frame_of(reply);
    return reply.empty() || bench_loopback::write_all(fd, out.data(), out.size());
}
