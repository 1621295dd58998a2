// Virtual media throughput against the simulated device, each figure beside the stop-and-wait
// bound measured in the same run (the machines are shared: compare ratios, not raw figures).
//
//   read seq, read random, write seq, write random
//        a 64 MiB image mapped through c_u_media_session (the viewer's media path without
//        the window) against the simulator's media master, whose script is queued ahead so
//        that every pak_ask is answered at once: the device reads or writes the image in
//        128-sector runs from the start, or in 8-sector runs at seeded random places
//   read instant
//        the same session against a device that answers at once from a plain blocking
//        socket (8-sector reads at random places): the viewer's own share, without the
//        simulator's event loop
//   bound
//        one 531-byte frame (a pak_readData) and its 14-byte answer (3-byte body) back and
//        forth between two threads over a loopback TCP pair: the most sectors per second
//        any one-frame-in-flight transport gets on this machine right now. Measured right
//        before each workload.
//   instruction -> first pak_readData
//        that device times each read instruction leaving it and the first sector of that
//        read arriving back (p50/p99 over every instruction)
//
// Options: --log writes the viewer's log (as the program does, into a temporary folder),
// --quick runs a tenth of each workload, --disk keeps the image on disk instead of in
// memory, --instant runs the read instant row alone.

#include "instant_device.h"
#include "loopback.h"

#include "c_sim_runner.h"
#include "logging/CLogerManager.h"
#include "media/c_u_media_session.h"
#include "media/u_packets.h"

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

// Sectors per second of a bare stop-and-wait exchange of one sector; 0 when it fails.
double stop_and_wait_bound(int exchanges)
{
    std::uint16_t port = 0;
    const unique_fd listener = bench_loopback::listen_any(port);
    const unique_fd viewer = bench_loopback::connect_to(port);
    const unique_fd device = bench_loopback::accept_within(listener.get(), 2000);
    if (!viewer || !device)
        return 0;
    const std::uint8_t data[kUSectorSize] = {};
    const CQUEUE_MESSAGE sector = make_u_read_data_pak(1, 0, 0, data, kUSectorSize, false);
    const std::vector<std::uint8_t> answer = bench_loopback::frame_of({kUTypeReadData, 1, 0});

    std::thread peer([&] {
        std::vector<std::uint8_t> in(sector.length);
        for (int i = 0; i < exchanges; ++i)
            if (!bench_loopback::read_all(device.get(), in.data(), in.size()) ||
                !bench_loopback::write_all(device.get(), answer.data(), answer.size()))
                return;
    });
    std::vector<std::uint8_t> in(answer.size());
    bool ok = true;
    const steady::time_point t0 = steady::now();
    for (int i = 0; ok && i < exchanges; ++i)
        ok = bench_loopback::write_all(viewer.get(), sector.buffer.get(), sector.length) &&
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
        const double bound = stop_and_wait_bound(20000 / divisor);
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

// The viewer's own share: the same session against a device that answers at once from a
// plain blocking socket, with 8-sector reads at random places.
void instant_reads(const QString &image, int divisor)
{
    const int reads = 2000 / divisor;
    const double bound = stop_and_wait_bound(20000 / divisor);
    instant_device device(reads, 8, 11);
    u_media_settings settings;
    settings.mapPauseMs = 0;
    settings.interactiveAuth = false;
    c_u_media_session session(settings);
    const steady::time_point t0 = steady::now();
    if (!session.open_channel("127.0.0.1", device.port(), 7) || !session.map(image, false) ||
        !device.wait_done(kWaitMs) || bound <= 0) {
        std::printf("%-14s failed\n", "read instant");
        return;
    }
    const double rate = reads * 8 / seconds(t0, steady::now());
    std::printf("%-14s %9d %8.2f %11.0f %12.0f %7.2f\n", "read instant", reads * 8,
                rate * kUSectorSize / 1e6, rate, bound, rate / bound);
    const std::vector<double> us = device.latencies_us();
    std::printf("\ninstruction -> first pak_readData (%zu 8-sector reads): p50 %.0f us, p99 %.0f us\n",
                us.size(), percentile(us, 0.5), percentile(us, 0.99));
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
    if (!args.contains("--instant"))
        throughput(image, divisor);
    instant_reads(image, divisor);
    return 0;
}
