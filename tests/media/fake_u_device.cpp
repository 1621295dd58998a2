#include "fake_u_device.h"

#include "protocol/frame.h"

#include <random>

namespace media_test {

using socket_test::fd_readable;
using socket_test::read_fd;
using socket_test::write_fd;

bytes device_frame(const bytes &body)
{
    return socket_test::frame_bytes(body);
}

std::uint32_t be32(const bytes &b, std::size_t at)
{
    return read_be32(b.data() + at);
}

std::uint16_t be16(const bytes &b, std::size_t at)
{
    return read_be16(b.data() + at);
}

bytes random_bytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    bytes out(n);
    for (auto &byte : out)
        byte = static_cast<std::uint8_t>(gen());
    return out;
}

fake_u_device::fake_u_device() : m_thread([this] { run(); }) {}

fake_u_device::~fake_u_device()
{
    m_stop = true;
    release_reads();
    m_thread.join();
}

void fake_u_device::push_instruction(instruction in)
{
    std::lock_guard lock(m_lock);
    m_script.push_back(in);
}

void fake_u_device::set_write_source(write_source source)
{
    std::lock_guard lock(m_lock);
    m_writeSource = std::move(source);
}

void fake_u_device::refuse_reads(int n)
{
    std::lock_guard lock(m_lock);
    m_refuseReads = n;
}

void fake_u_device::answer_no_data(int n)
{
    std::lock_guard lock(m_lock);
    m_noData = n;
}

void fake_u_device::stay_silent(std::uint8_t type, int n)
{
    std::lock_guard lock(m_lock);
    m_silentType = type;
    m_silentCount = n;
}

void fake_u_device::hold_reads_from(int n)
{
    std::lock_guard lock(m_lock);
    m_holdFrom = n;
}

void fake_u_device::release_reads()
{
    {
        std::lock_guard lock(m_lock);
        m_holdFrom = 0;
        m_held = false;
    }
    m_changed.notify_all();
}

void fake_u_device::send_unsolicited(bytes body)
{
    std::lock_guard lock(m_lock);
    m_unsolicited.push_back(std::move(body));
}

void fake_u_device::close_connection()
{
    m_close = true;
}

std::vector<fake_u_device::received> fake_u_device::frames() const
{
    std::lock_guard lock(m_lock);
    return m_frames;
}

std::vector<fake_u_device::received> fake_u_device::frames_of(std::uint8_t type) const
{
    std::vector<received> out;
    for (const received &r : frames())
        if (r.type() == type)
            out.push_back(r);
    return out;
}

bool fake_u_device::wait_for(const std::function<bool(const std::vector<received> &)> &pred,
                             std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return pred(m_frames); });
}

bool fake_u_device::wait_count(std::uint8_t type, std::size_t n,
                               std::chrono::milliseconds timeout) const
{
    return wait_for(
        [&](const std::vector<received> &all) {
            std::size_t count = 0;
            for (const received &r : all)
                count += r.type() == type ? 1 : 0;
            return count >= n;
        },
        timeout);
}

bool fake_u_device::read_frame(int fd, bytes &frame)
{
    std::uint8_t header[11];
    if (!read_fd(fd, header, 11))
        return false;
    const std::uint32_t length = read_be32(header + 7);
    if (header[0] != 0xA5 || length == 0 || length > 4096)
        return false;
    frame.assign(header, header + 11);
    frame.resize(11 + length);
    return read_fd(fd, frame.data() + 11, length);
}

void fake_u_device::answer(int fd, const bytes &body)
{
    if (!body.empty())
        write_fd(fd, device_frame(body));
}

bytes fake_u_device::answer_ask()
{
    instruction in{0, 0, 0};
    if (!m_script.empty()) {
        in = m_script.front();
        m_script.pop_front();
    }
    if (in.mode == 2)
        m_writeStart = in.start;
    bytes body{0x08, in.mode, 0, 0, 0, 0, 0, 0};
    write_be32(body.data() + 2, in.start);
    write_be16(body.data() + 6, in.count);
    return body;
}

bytes fake_u_device::answer_read_data()
{
    if (m_refuseReads > 0) {
        --m_refuseReads;
        return {0x09, 0x01, 0x01};
    }
    return {0x09, 0x01, 0x00};
}

bytes fake_u_device::answer_pak10(const bytes &body)
{
    const std::uint16_t index = be16(body, 2);
    bytes out{0x0A, 0x01, 0, 0, 0, 0, 0, 0};
    write_be16(out.data() + 6, index);
    if (m_noData > 0) {
        --m_noData;
        write_be32(out.data() + 2, 0xFFFFFFFFu);
        return out;
    }
    write_be32(out.data() + 2, m_writeStart);
    bytes data = m_writeSource ? m_writeSource(m_writeStart, index) : bytes(512, 0);
    data.resize(512);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Runs on the device thread.
void fake_u_device::run()
{
    socket_test::unique_fd fd;
    while (!m_stop && fd.get() < 0)
        fd = m_listener.accept_one(100);
    while (!m_stop && !m_close) {
        std::deque<bytes> extra;
        {
            std::lock_guard lock(m_lock);
            extra.swap(m_unsolicited);
        }
        for (const bytes &body : extra)
            answer(fd.get(), body);
        if (!fd_readable(fd.get(), 20))
            continue;
        bytes frame;
        if (!read_frame(fd.get(), frame))
            break;
        const bytes body(frame.begin() + 11, frame.end());
        bytes reply;
        {
            std::unique_lock lock(m_lock);
            m_frames.push_back({frame, std::chrono::steady_clock::now()});
            m_changed.notify_all();
            if (m_silentCount > 0 && body[0] == m_silentType) {
                --m_silentCount;
                continue;
            }
            switch (body[0]) {
            case 0x32: reply = {0x32, 0x00}; break;
            case 0x07: reply = {0x07, 0x01, 0x00}; break;
            case 0x08: reply = answer_ask(); break;
            case 0x0A: reply = answer_pak10(body); break;
            case 0x09:
                ++m_readsSeen;
                if (m_holdFrom > 0 && m_readsSeen >= m_holdFrom) {
                    m_held = true;
                    m_changed.wait_for(lock, 20s, [this] { return !m_held || m_stop; });
                }
                reply = answer_read_data();
                break;
            default: break;
            }
        }
        answer(fd.get(), reply);
    }
}

} // namespace media_test
