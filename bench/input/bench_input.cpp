// Keyboard and mouse on the way to the device, each beside a baseline from the same run.
//
//   key event -> device     a key press or release on the screen label until the frame's
//                           last byte is read at a loopback device: capture, translation,
//                           ciphering, the outgoing list and the media send thread's
//                           send-next (the path every key takes); back to back, and with
//                           a typing pause before each key
//   bare send               the same frame written with tcp_send on the same socket: the
//                           floor of any path
//   mouse sample period     ticks of the sample timer against 1000 / rate ms
//
// Latencies are reported as p50/p99 in microseconds over every event of the run.

#include "bench_summary.h"
#include "c_input_capture.h"
#include "km/c_km_session.h"
#include "km/mouse_rate.h"
#include "km_peer.h"
#include "protocol/km_frame.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/c_wait_object.h"
#include "tools/socket/u/c_socket_send_u.h"

#include <QApplication>
#include <QLabel>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using steady = std::chrono::steady_clock;

const km_peer::key_type kInbound{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const km_peer::key_type kOutbound{0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * double(values.size() - 1));
    return values[at];
}

void report(benchmark::State &state, const std::vector<double> &micros)
{
    state.counters["p50_us"] = percentile(micros, 0.50);
    state.counters["p99_us"] = percentile(micros, 0.99);
    state.counters["max_us"] = percentile(micros, 1.0);
}

// The device: answers every frame as the real one does and notes when each frame's last
// byte arrived.
class device_thread {
public:
    explicit device_thread(km_peer &peer) : m_peer(peer), m_thread([this] { run(); }) {}
    ~device_thread()
    {
        m_peer.close_client();
        m_thread.join();
    }

    // Waits for the next frame; its arrival time, or nullopt after 2 s.
    std::optional<steady::time_point> next_arrival()
    {
        std::unique_lock lock(m_mutex);
        if (!m_cond.wait_for(lock, std::chrono::seconds(2), [this] { return !m_arrivals.empty(); }))
            return std::nullopt;
        const steady::time_point t = m_arrivals.front();
        m_arrivals.erase(m_arrivals.begin());
        return t;
    }
    void forget()
    {
        std::lock_guard lock(m_mutex);
        m_arrivals.clear();
    }

private:
    void run()
    {
        std::vector<std::uint8_t> body;
        while (m_peer.read_frame(body)) {
            const steady::time_point t = steady::now();
            {
                std::lock_guard lock(m_mutex);
                m_arrivals.push_back(t);
            }
            m_cond.notify_one();
            const std::uint8_t type = body.empty() ? 0 : body[0];
            if (type == kKmKeepAlive)
                continue;
            // The privilege query makes this viewer the writer; the rest is acknowledged.
            m_peer.send({type, std::uint8_t(type == kKmPrivilegeQuery ? 1 : 0)}, false);
        }
    }

    km_peer &m_peer;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<steady::time_point> m_arrivals;
    std::thread m_thread;
};

// A viewer's keyboard path on loopback: session, capture on a label, and the media send
// thread that carries the keyboard/mouse list.
struct key_path {
    key_path()
    {
        session.create_km_socket("127.0.0.1", peer.port());
        peer.accept_client();
        device = std::make_unique<device_thread>(peer);
        mediaSend = std::make_unique<c_socket_send_u>(std::make_shared<c_tcp_sock>(), nullptr,
                                                      &mediaQueue, std::make_shared<c_wait_object>());
        mediaSend->set_syncer(&syncer);
        mediaSend->start();
        screen.resize(640, 480);
        // The login and the privilege query have arrived once the device's answer is in.
        ready = QTest::qWaitFor([this] { return session.privilege().writing(); }, 5000);
        device->forget();
    }
    ~key_path()
    {
        mediaSend->stop();
        mediaSend->wait();
        mediaSend->set_syncer(nullptr);
        session.stop();
    }

    km_peer peer{kInbound, kOutbound};
    bool ready = false;
    c_net_syncer syncer;
    c_key_translator translator;
    c_km_session session{{kInbound, kOutbound}, syncer, translator};
    std::unique_ptr<device_thread> device;
    mt_queue<CQUEUE_MESSAGE> mediaQueue;
    std::unique_ptr<c_socket_send_u> mediaSend;
    QWidget window;
    QLabel screen{&window};
    c_input_capture capture{session, &translator, &window, &screen};
};

// Range 0: pause in ms after each frame has arrived (0 = back to back). Typing leaves the
// send thread idle between keys; back to back it is still busy with the previous frame.
void BM_KeyEventToDevice(benchmark::State &state)
{
    key_path path;
    if (!path.ready) {
        state.SkipWithError("no loopback session");
        return;
    }
    path.screen.installEventFilter(&path.capture);
    const auto pause = std::chrono::milliseconds(state.range(0));
    std::vector<double> micros;
    bool down = true;
    for (auto _ : state) {
        if (pause.count() > 0)
            std::this_thread::sleep_for(pause);
        const steady::time_point t0 = steady::now();
        QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier);
        QCoreApplication::sendEvent(&path.screen, &event);
        down = !down;
        const std::optional<steady::time_point> t1 = path.device->next_arrival();
        if (!t1) {
            state.SkipWithError("a key frame did not arrive");
            break;
        }
        const double us = std::chrono::duration<double, std::micro>(*t1 - t0).count();
        state.SetIterationTime(us / 1e6);
        micros.push_back(us);
    }
    report(state, micros);
}

void BM_BareSendOfTheSameFrame(benchmark::State &state)
{
    key_path path;
    if (!path.ready) {
        state.SkipWithError("no loopback session");
        return;
    }
    const std::uint8_t keyA[8] = {0, 0, 4, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> frame;
    build_km_frame(kOutbound.data(), kKmKeyboard, keyA, sizeof keyA, frame);
    std::vector<double> micros;
    for (auto _ : state) {
        const steady::time_point t0 = steady::now();
        path.session.socket()->tcp_send(frame.data(), static_cast<int>(frame.size()));
        const std::optional<steady::time_point> t1 = path.device->next_arrival();
        if (!t1) {
            state.SkipWithError("a frame did not arrive");
            break;
        }
        const double us = std::chrono::duration<double, std::micro>(*t1 - t0).count();
        state.SetIterationTime(us / 1e6);
        micros.push_back(us);
    }
    report(state, micros);
}

// The sample timer at a rate: ticks are timed against 1000 / rate ms.
void BM_MouseSamplePeriod(benchmark::State &state)
{
    const int rate = static_cast<int>(state.range(0));
    set_mouse_sample_rate(rate);
    // About a second of ticks, at least three periods and at most fifty.
    const std::size_t needed = static_cast<std::size_t>(std::clamp(rate + 1, 4, 51));
    std::vector<steady::time_point> ticks;
    QEventLoop *running = nullptr;
    c_mouse_sampler sampler([&] {
        ticks.push_back(steady::now());
        if (ticks.size() >= needed && running != nullptr)
            running->quit();
    });
    for (auto _ : state) {
        ticks.clear();
        // A plain event loop: QTest::qWaitFor sleeps between its rounds and would delay ticks.
        QEventLoop loop;
        running = &loop;
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        sampler.start();
        loop.exec();
        sampler.stop();
        running = nullptr;
        const bool enough = ticks.size() >= needed;
        if (!enough || ticks.size() < 2) {
            state.SkipWithError("the sample timer did not tick");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(ticks.back() - ticks.front()).count());
    }
    std::vector<double> periods;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        periods.push_back(std::chrono::duration<double, std::milli>(ticks[i] - ticks[i - 1]).count());
    double sum = 0;
    for (double p : periods)
        sum += p;
    const double target = mouse_sample_interval_ms(rate);
    const double mean = periods.empty() ? 0 : sum / double(periods.size());
    state.counters["target_ms"] = target;
    state.counters["mean_ms"] = mean;
    state.counters["off_pct"] = target > 0 ? 100.0 * (mean - target) / target : 0;
    state.counters["p99_ms"] = percentile(periods, 0.99);
    set_mouse_sample_rate(kDefaultMouseRate);
}

} // namespace

BENCHMARK(BM_KeyEventToDevice)->Arg(0)->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeyEventToDevice)->Arg(12)->UseManualTime()->Iterations(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareSendOfTheSameFrame)->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MouseSamplePeriod)->Arg(1)->Arg(10)->Arg(50)->Arg(100)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

namespace {

// Console output, then the targets: key p99 within 2 ms of the bare send's, and the mouse
// sample period within 5 % of 1000 / rate at every rate.
class target_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (!run.error_occurred)
                m_runs.push_back(run);
    }

    void report_targets() const
    {
        std::printf("\nTargets:\n");
        const Run *typed = find("BM_KeyEventToDevice/0/"), *bare = find("BM_BareSendOfTheSameFrame");
        if (typed != nullptr && bare != nullptr) {
            const double above = (counter(*typed, "p99_us") - counter(*bare, "p99_us")) / 1e3;
            report_target("input", "key event -> device: p99 above a bare send",
                          bench_format("%+.2f ms", above), "< +2 ms", above < 2.0);
        } else {
            report_target("input", "key event -> device: p99 above a bare send", "no run", "< +2 ms", false);
        }
        for (const Run &run : m_runs) {
            if (run.run_name.function_name != "BM_MouseSamplePeriod")
                continue;
            const double off = counter(run, "off_pct");
            report_target("input", "mouse sample period at rate " + run.run_name.args + " vs 1000 / rate",
                          bench_format("%+.1f %%", off), "within 5 %", std::abs(off) <= 5.0);
        }
    }

private:
    const Run *find(const std::string &prefix) const
    {
        for (const Run &run : m_runs)
            if (run.benchmark_name().rfind(prefix, 0) == 0)
                return &run;
        return nullptr;
    }
    static double counter(const Run &run, const char *name)
    {
        const auto it = run.counters.find(name);
        return it == run.counters.end() ? 0 : double(it->second.value);
    }

    std::vector<Run> m_runs;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    target_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.report_targets();
    benchmark::Shutdown();
    return 0;
}
