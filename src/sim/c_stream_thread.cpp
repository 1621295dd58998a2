#include "c_stream_thread.h"

#include "c_screen_renderer.h"
#include "logging/log.h"
#include "video/H264Encoder.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <ctime>
#include <vector>

namespace {

// Pictures the event loop may leave untaken before ticks are left out.
constexpr std::size_t kMaxPending = 3;

double ms(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double thread_cpu_ms()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

} // namespace

c_stream_thread::c_stream_thread(const config &settings, c_screen_state &state, QObject *parent)
    : QThread(parent), m_config(settings), m_state(state)
{
    setObjectName(QStringLiteral("sim-stream"));
    m_readyFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

c_stream_thread::~c_stream_thread()
{
    stop();
    if (m_readyFd >= 0)
        ::close(m_readyFd);
}

void c_stream_thread::stop()
{
    {
        std::lock_guard<std::mutex> hold(m_wakeLock);
        m_running.store(false);
    }
    m_wake.notify_all();
    wait();
}

bool c_stream_thread::wait_until(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> hold(m_wakeLock);
    m_wake.wait_until(hold, deadline, [this] { return !m_running.load(); });
    return m_running.load();
}

bool c_stream_thread::queue_full()
{
    std::lock_guard<std::mutex> hold(m_queueLock);
    return m_ready.size() >= kMaxPending;
}

// Swaps the encoder's output into the queue; `bytes` comes back with a spare buffer.
void c_stream_thread::queue_picture(std::vector<std::uint8_t> &bytes, bool keyFrame,
                                    std::uint64_t number)
{
    std::lock_guard<std::mutex> hold(m_queueLock);
    encoded_picture picture;
    picture.bytes.swap(bytes);
    picture.keyFrame = keyFrame;
    picture.number = number;
    m_ready.push_back(std::move(picture));
    if (!m_spare.empty()) {
        bytes.swap(m_spare.back());
        m_spare.pop_back();
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_readyFd, &one, sizeof one);
}

bool c_stream_thread::take_picture(encoded_picture &out)
{
    std::lock_guard<std::mutex> hold(m_queueLock);
    if (m_ready.empty()) {
        std::uint64_t count = 0; // all taken: the descriptor goes quiet until the next one
        [[maybe_unused]] const ssize_t got = ::read(m_readyFd, &count, sizeof count);
        return false;
    }
    encoded_picture &front = m_ready.front();
    out.bytes.swap(front.bytes);
    out.keyFrame = front.keyFrame;
    out.number = front.number;
    if (m_spare.size() <= kMaxPending)
        m_spare.push_back(std::move(front.bytes)); // the taker's previous buffer
    m_ready.pop_front();
    return true;
}

stream_stats c_stream_thread::take_stats()
{
    std::lock_guard<std::mutex> hold(m_statsLock);
    return std::exchange(m_stats, stream_stats{});
}

void c_stream_thread::run()
{
    h264_encoder_config encoderConfig;
    encoderConfig.width = m_config.width;
    encoderConfig.height = m_config.height;
    encoderConfig.fps = m_config.fps;
    encoderConfig.gop = m_config.fps * m_config.gopSeconds;
    encoderConfig.threads = m_config.threads;
    H264Encoder encoder;
    if (!encoder.open(encoderConfig)) {
        TLOG_ERROR << "stream: the H.264 encoder did not open; no video";
        m_encoderOk.store(false);
        return;
    }
    c_screen_renderer renderer(m_config.width, m_config.height);
    screen_snapshot snapshot;
    std::vector<std::uint8_t> encoded;
    std::uint64_t number = 0;
    using clock = std::chrono::steady_clock;
    const auto interval = std::chrono::duration_cast<clock::duration>(
        std::chrono::duration<double>(1.0 / m_config.fps));
    auto next = clock::now();
    while (wait_until(next)) {
        next += interval;
        if (clock::now() > next + interval)
            next = clock::now() + interval; // far behind: do not try to catch up
        if (m_viewers.load() == 0)
            continue; // nobody watches: spare the CPU
        if (queue_full()) {
            std::lock_guard<std::mutex> hold(m_statsLock);
            ++m_stats.skipped;
            continue;
        }
        const auto renderStart = clock::now();
        const double cpuStart = thread_cpu_ms();
        m_state.snapshot(snapshot);
        const std::uint8_t *pixels = renderer.render(snapshot, ++number);
        const auto encodeStart = clock::now();
        if (m_keyWanted.exchange(false))
            encoder.request_key_frame();
        if (!encoder.encode(pixels, m_config.width, m_config.height, renderer.stride(), encoded) ||
            encoded.empty())
            continue;
        const auto encodeEnd = clock::now();
        const double cpuMs = thread_cpu_ms() - cpuStart;
        const bool key = encoder.last_was_key_frame();
        {
            std::lock_guard<std::mutex> hold(m_statsLock);
            ++m_stats.pictures;
            m_stats.bytes += encoded.size();
            m_stats.renderMsTotal += ms(encodeStart - renderStart);
            const double encodeMs = ms(encodeEnd - encodeStart);
            m_stats.encodeMsTotal += encodeMs;
            m_stats.encodeMsMax = std::max(m_stats.encodeMsMax, encodeMs);
            m_stats.cpuMsTotal += cpuMs;
            if (key) {
                ++m_stats.keyFrames;
                m_stats.keyMsTotal += encodeMs;
            }
        }
        queue_picture(encoded, key, number);
    }
}
