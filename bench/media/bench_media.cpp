// Virtual media throughput of the viewer (c_u_media_session, the media path without the
// window) over a link with a real round trip, each figure beside the stop-and-wait bound of
// that same link measured right before it (the machines are shared: compare ratios, not raw
// figures).
//
// Why a round trip: the exchange is stop-and-wait, one frame in flight, so a sector costs a
// round trip plus the viewer's own time. Over bare loopback the round trip is a few
// microseconds and one thread wake-up of the viewer weighs as much as the whole exchange;
// on a real link (0.2-1 ms) the same wake-up is a few percent. The rows at 0.2 and 1 ms are
// the figures a user sees; the loopback rows show the viewer's own cost per sector.
//
//   read / write at 0, 0.2 and 1 ms added round trip
//        a 64 MiB image mapped through c_u_media_session against instant_device, a device
//        on a plain blocking socket that sends every answer the added round trip after the
//        frame it answers arrived: 128-sector instructions at seeded random places (reads:
//        the viewer sends pak_readData frames, each acknowledged; writes: the viewer asks for
//        each sector with a pak10 and the device answers with its data, which the session
//        writes through to the image). Timed on the device from the pak_ask that gets the
//        first instruction to the pak_ask after the last; each run lasts about 2 s.
//   bound
//        the same exchange between two bare threads over a loopback TCP pair, the peer
//        answering after the same delay with the same timer: for reads a 531-byte
//        pak_readData frame and its 3-byte answer body, for writes a pak10 frame and its
//        520-byte data body. The most sectors per second any one-frame-in-flight transport
//        gets over that link on this machine right now.
//   instruction -> first pak_readData
//        the device times each read instruction of the loopback read run leaving it and the
//        first sector of that read arriving back (p50/p99 over every instruction)
//
// Options: --log writes the viewer's log (as the program does, into a temporary folder),
// --quick runs a tenth of each workload, --disk keeps the image on disk (TMPDIR) instead of
// in memory, --sim adds the older rows against the simulator's media master (they measure
// the simulator's event loop as much as the viewer).

#include "bench_summary.h"
#include "instant_device.h"
#include "loopback.h"

#include "c_sim_runner.h"
#include "logging/CLogerManager.h"
#include "media/c_u_media_session.h"
#include "media/u_packets.h"
#include "protocol/frame.h"
#include "protocol/message_types.h"

#include <QGuiApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using steady = std::chrono::steady_clock;

constexpr std::uint32_t kImageSectors = 64u * 2048u; // 64 MiB
constexpr int kWaitMs = 120000;                      // longest wait for one workload

double seconds(steady::time_point from, steady::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * double(values.size() - 1))];
}

bool make_image(const QString &path)
{
    const unique_fd fd(::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    std::vector<std::uint32_t> chunk(2048 * 512 / 4);
    std::mt19937 random(1);
    const auto bytes = static_cast<ssize_t>(chunk.size() * 4);
    for (std::uint32_t done = 0; fd && done < kImageSectors; done += 2048) {
        for (auto &word : chunk)
            word = random();
        if (::write(fd.get(), chunk.data(), static_cast<std::size_t>(bytes)) != bytes)
            return false;
    }
    return static_cast<bool>(fd);
}

std::vector<std::uint8_t> bytes_of(const CQUEUE_MESSAGE &message)
{
    return {message.buffer.get(), message.buffer.get() + message.length};
}

// One sector's exchange: the frame the viewer sends and the body the device answers with.
struct exchange {
    std::vector<std::uint8_t> request;
    std::vector<std::uint8_t> answer;
};

exchange exchange_of(instant_work::kind work)
{
    const std::uint8_t data[kUSectorSize] = {};
    if (work == instant_work::kind::reads)
        return {bytes_of(make_u_read_data_pak(1, 0, 0, data, kUSectorSize, false)),
                {kUTypeReadData, 1, 0}};
    std::vector<std::uint8_t> body(8 + kUSectorSize);
    body[0] = kUTypePak10;
    body[1] = 1;
    return {bytes_of(make_u_pak10(1, 0, false)), body};
}

// Sectors per second of a bare stop-and-wait exchange of one sector whose answer leaves
// `delay` after the request arrived; 0 when it fails.
double stop_and_wait_bound(std::chrono::microseconds delay, instant_work::kind work, int exchanges)
{
    std::uint16_t port = 0;
    const unique_fd listener = bench_loopback::listen_any(port);
    const unique_fd viewer = bench_loopback::connect_to(port);
    const unique_fd device = bench_loopback::accept_within(listener.get(), 2000);
    if (!viewer || !device)
        return 0;
    const exchange x = exchange_of(work);

    // The peer does what instant_device does for each sector (frame read in two parts, answer
    // framed anew, the same wait), so the bound leaves out only the viewer.
    std::thread peer([&] {
        bench_loopback::tighten_timer_slack();
        std::vector<std::uint8_t> in;
        for (int i = 0; i < exchanges; ++i) {
            if (!bench_loopback::read_frame(device.get(), in))
                return;
            const steady::time_point arrival = steady::now();
            const std::vector<std::uint8_t> out = bench_loopback::frame_of(x.answer);
            bench_loopback::wait_to_answer(arrival, delay);
            if (!bench_loopback::write_all(device.get(), out.data(), out.size()))
                return;
        }
    });
    std::vector<std::uint8_t> in(kFrameHeaderSize + x.answer.size());
    bool ok = true;
    const steady::time_point t0 = steady::now();
    for (int i = 0; ok && i < exchanges; ++i)
        ok = bench_loopback::write_all(viewer.get(), x.request.data(), x.request.size()) &&
             bench_loopback::read_all(viewer.get(), in.data(), in.size());
    const steady::time_point t1 = steady::now();
    peer.join();
    return ok ? exchanges / seconds(t0, t1) : 0;
}

struct workload {
    const char *name;
    bool write;
    bool random;
    std::uint16_t run;      // sectors per instruction
    std::uint32_t sectors;  // in all
};

// Script lines for the simulator's control interface.
std::vector<std::string> script_of(const workload &w)
{
    std::vector<std::string> lines;
    std::mt19937 random(7);
    for (std::uint32_t done = 0; done < w.sectors; done += w.run) {
        const std::uint32_t start = w.random ? random() % (kImageSectors - w.run) : done;
        lines.push_back(std::string(w.write ? "write " : "read ") + std::to_string(start) + ' ' +
                        std::to_string(w.run) + (w.write ? " lba" : ""));
    }
    return lines;
}

std::uint64_t field(const std::string &reply, const char *name)
{
    const std::size_t at = reply.find(name);
    return at == std::string::npos ? 0 : std::stoull(reply.substr(at + std::strlen(name)));
}

// The viewer's media session mapped to the image against an in-process simulator.
class sim_rig {
public:
    bool start(const QString &image)
    {
        m_sim = std::make_unique<c_sim_runner>(c_sim_options::in_process(320, 240, 1));
        QString error;
        if (!m_sim->start(error)) {
            std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
            return false;
        }
        u_media_settings settings;
        settings.mapPauseMs = 0;
        settings.interactiveAuth = false;
        m_session = std::make_unique<c_u_media_session>(settings);
        return m_session->open_channel("127.0.0.1", m_sim->port(c_sim_connection::kind::media), 7) &&
               m_session->map(image, false) && settle();
    }

    // Seconds the device took for the whole script; negative when it did not finish.
    double run(const std::vector<std::string> &script, std::uint32_t sectors, bool write)
    {
        const char *counter = write ? "written=" : "read=";
        const std::uint64_t before = field(m_sim->command("media"), counter);
        for (const std::string &line : script)
            if (m_sim->command(line).rfind("ok", 0) != 0)
                return -1;
        const steady::time_point t0 = steady::now();
        for (int tick = 0; tick <= c_u_media_session::kIdleTicks; ++tick)
            m_session->ask_tick(); // the session is idle: ask at once
        if (!wait_idle())
            return -1;
        const steady::time_point t1 = steady::now();
        return field(m_sim->command("media"), counter) - before == sectors ? seconds(t0, t1) : -1;
    }

private:
    // The remote computer's probe is over and the session waits for its next ask.
    bool settle()
    {
        const steady::time_point deadline = steady::now() + std::chrono::seconds(20);
        while (steady::now() < deadline) {
            if (m_session->is_idle() && m_sim->command("media").find("idle=1") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    bool wait_idle()
    {
        const steady::time_point deadline = steady::now() + std::chrono::milliseconds(kWaitMs);
        while (!m_session->is_idle() && steady::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        return m_session->is_idle();
    }

    std::unique_ptr<c_sim_runner> m_sim;
    std::unique_ptr<c_u_media_session> m_session; // destroyed before the simulator
};

void throughput(const QString &image, int divisor)
{
    const workload workloads[] = {
        {"read seq", false, false, 128, 16384},
        {"read random", false, true, 8, 8192},
        {"write seq", true, false, 128, 2048},
        {"write random", true, true, 8, 1024},
    };
    sim_rig rig;
    if (!rig.start(image)) {
        std::printf("no media session against the simulator\n");
        return;
    }
    std::printf("%-14s %9s %8s %11s %12s %7s\n", "workload", "sectors", "MB/s", "sectors/s",
                "bound sec/s", "ratio");
    for (const workload &w : workloads) {
        workload scaled = w;
        scaled.sectors = std::max<std::uint32_t>(w.sectors / divisor / w.run, 1) * w.run;
        const auto kind = w.write ? instant_work::kind::writes : instant_work::kind::reads;
        const double bound = stop_and_wait_bound(std::chrono::microseconds(0), kind, 20000 / divisor);
        const double secs = rig.run(script_of(scaled), scaled.sectors, w.write);
        if (secs <= 0 || bound <= 0) {
            std::printf("%-14s failed\n", w.name);
            continue;
        }
        const double rate = scaled.sectors / secs;
        std::printf("%-14s %9u %8.2f %11.0f %12.0f %7.2f\n", w.name, scaled.sectors,
                    rate * kUSectorSize / 1e6, rate, bound, rate / bound);
    }
}

struct run_result {
    bool ok = false;
    double rate = 0; // sectors per second
    std::vector<double> latencies_us;
};

// The viewer's session mapped to the image against an instant device doing `work`.
run_result instant_run(const QString &image, const instant_work &work)
{
    instant_device device(work);
    u_media_settings settings;
    settings.mapPauseMs = 0;
    settings.interactiveAuth = false;
    c_u_media_session session(settings); // destroyed before the device
    const std::uint32_t sectors =
        std::uint32_t{work.count} * static_cast<std::uint32_t>(work.instructions);
    if (!session.open_channel("127.0.0.1", device.port(), 7) || !session.map(image, false) ||
        !device.wait_done(kWaitMs) || device.work_seconds() <= 0)
        return {};
    if (device.sectors_served() != sectors)
        std::printf("  (%u sectors served for %u: the viewer sent some again)\n",
                    device.sectors_served(), sectors);
    return {true, sectors / device.work_seconds(), device.latencies_us()};
}

struct row {
    std::chrono::microseconds delay;
    instant_work::kind work;
    std::uint32_t sectors = 0;
    double bound = 0;
    run_result result;

    const char *name() const { return work == instant_work::kind::reads ? "read" : "write"; }
    double ratio() const { return result.ok && bound > 0 ? result.rate / bound : 0; }
};

constexpr std::uint16_t kRun = 128; // sectors per instruction

// Bound exchanges for about half a second (at most 40000 over bare loopback).
int bound_exchanges(std::chrono::microseconds delay, int divisor)
{
    const long long n = 500000 / (delay.count() + 5);
    return static_cast<int>(std::clamp<long long>(n, 400, 40000)) / divisor;
}

// Sectors for about 2 s at the bound's rate, a whole number of instructions.
std::uint32_t run_sectors(double bound, int divisor)
{
    const double sectors = std::clamp(2.0 * bound, 1024.0, 16384.0) / divisor;
    return std::max<std::uint32_t>(static_cast<std::uint32_t>(sectors) / kRun, 1) * kRun;
}

row measure(const QString &image, std::chrono::microseconds delay, instant_work::kind work,
            int divisor)
{
    row r{delay, work};
    r.bound = stop_and_wait_bound(delay, work, bound_exchanges(delay, divisor));
    r.sectors = run_sectors(r.bound, divisor);
    instant_work w;
    w.work = work;
    w.instructions = static_cast<int>(r.sectors / kRun);
    w.count = kRun;
    w.delay = delay;
    r.result = instant_run(image, w);
    return r;
}

void print_row(const row &r)
{
    const double ms = r.delay.count() / 1000.0;
    if (!r.result.ok || r.bound <= 0) {
        std::printf("%5.1f ms  %-6s failed\n", ms, r.name());
        return;
    }
    std::printf("%5.1f ms  %-6s %8u %8.2f %10.0f %12.0f %6.2f\n", ms, r.name(), r.sectors,
                r.result.rate * kUSectorSize / 1e6, r.result.rate, r.bound, r.ratio());
}

void report(const row &r)
{
    const bool loopback = r.delay.count() == 0;
    const double goal = loopback ? 0.80 : 0.90;
    const std::string what = bench_format("%s, %g ms round trip: of bound", r.name(),
                                          r.delay.count() / 1000.0);
    report_target("media", what, r.result.ok ? bench_format("%.2f", r.ratio()) : "failed",
                  bench_format(">= %.2f", goal), r.result.ok && r.ratio() >= goal);
}

void print_first_sector(const std::vector<double> &us, unsigned count)
{
    std::printf("instruction -> first pak_readData (%zu %u-sector reads, loopback): p50 %.0f us, "
                "p99 %.0f us\n",
                us.size(), count, percentile(us, 0.5), percentile(us, 0.99));
}

void round_trips(const QString &image, int divisor)
{
    using std::chrono::microseconds;
    std::printf("%8s  %-6s %8s %8s %10s %12s %6s\n", "delay", "work", "sectors", "MB/s",
                "sectors/s", "bound sec/s", "ratio");
    std::vector<row> rows;
    for (const microseconds delay : {microseconds(0), microseconds(200), microseconds(1000)})
        for (const auto work : {instant_work::kind::reads, instant_work::kind::writes}) {
            rows.push_back(measure(image, delay, work, divisor));
            print_row(rows.back());
        }
    std::printf("\n");
    print_first_sector(rows.front().result.latencies_us, kRun);
    instant_work small;
    small.instructions = 2000 / divisor;
    small.count = 8;
    const run_result reads = instant_run(image, small);
    if (reads.ok)
        print_first_sector(reads.latencies_us, small.count);
    else
        std::printf("instruction -> first pak_readData (8-sector reads): failed\n");
    for (const row &r : rows)
        report(r);
}

void start_log(const QString &dir)
{
    auto *manager = static_cast<CLogerManager *>(ILogManager::getInstance());
    LoggerConfig config = manager->logger(ILogManager::kMainLogger);
    config.path = (dir + "/log/").toStdString();
    config.display = false;
    manager->setLogger(ILogManager::kMainLogger, "Main", config);
    manager->start();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the simulator renders its screen
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int divisor = args.contains("--quick") ? 10 : 1;

    // Writes are write-through: on a real disk they measure the disk. In memory (the
    // default, where /dev/shm exists) they measure the protocol; --disk uses TMPDIR.
    const bool inMemory = !args.contains("--disk") && QDir(QStringLiteral("/dev/shm")).exists();
    QTemporaryDir dir(inMemory ? QStringLiteral("/dev/shm/bench_media-XXXXXX")
                               : QDir::tempPath() + QStringLiteral("/bench_media-XXXXXX"));
    const QString image = dir.path() + "/media.img";
    if (!dir.isValid() || !make_image(image)) {
        std::printf("cannot write a 64 MiB image in %s\n", qPrintable(dir.path()));
        return 1;
    }
    if (args.contains("--log"))
        start_log(dir.path());
    std::printf("64 MiB image in %s (%s), viewer log %s; MB = 10^6 bytes\n", qPrintable(dir.path()),
                inMemory ? "memory" : "disk", args.contains("--log") ? "on" : "off");
    round_trips(image, divisor);
    if (args.contains("--sim")) {
        std::printf("\nagainst the simulator's media master (loopback):\n");
        throughput(image, divisor);
    }
    return 0;
}
