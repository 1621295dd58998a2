#include "receive_bench.h"

#include "c_video_framer.h"
#include "loopback_sender.h"
#include "video/ffmpeg_ptr.h"
#include "session_display.h"
#include "video/display_geometry.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <sys/resource.h>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;

constexpr std::size_t kFragmentBytes = 65536;
constexpr unsigned kCipherEvery = 8;
constexpr int kPollMs = 20; // the display's GUI thread is busy as little as may be
constexpr int kGraceMs = 20000; // beyond the stream's own duration

double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double process_cpu_seconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, std::size_t(p * double(values.size())));
    return values[at];
}

} // namespace

std::vector<std::vector<std::uint8_t>> frame_pictures(const test_stream &stream,
                                                      const inbound_key &key)
{
    c_video_framer framer(kFragmentBytes, kCipherEvery, key.data());
    std::vector<std::vector<std::uint8_t>> wire(stream.pictures.size());
    for (std::size_t i = 0; i < stream.pictures.size(); ++i)
        framer.append_picture(stream.pictures[i].data(), stream.pictures[i].size(), wire[i]);
    return wire;
}

path_figures run_viewer(const std::vector<std::vector<std::uint8_t>> &wire, int warmUp,
                        int count, int fps, QSize area, const inbound_key &key)
{
    path_figures f;
    loopback_sender sender;
    if (sender.port() == 0)
        return f;
    session_display viewer(area);
    QCoreApplication::processEvents(); // the label's first paint, before anything is timed

    double processAtMark = process_cpu_seconds(), guiAtMark = thread_cpu_seconds();
    clock_type::time_point markedAt = clock_type::now();
    viewer.set_mark(warmUp, [&] {
        processAtMark = process_cpu_seconds();
        guiAtMark = thread_cpu_seconds();
        markedAt = clock_type::now();
    });
    sender.start(wire, count, fps);
    if (!viewer.start(sender.port(), key))
        return f;
    const int streamMs = fps > 0 ? count * 1000 / fps : 0;
    const auto deadline = clock_type::now() + std::chrono::milliseconds(streamMs + kGraceMs);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if ((sender.done() && (!sender.ok() || viewer.settled(count)))
            || clock_type::now() > deadline)
            loop.quit();
    });
    poll.start(kPollMs);
    loop.exec();
    poll.stop();
    const double processCpu = process_cpu_seconds() - processAtMark;
    const double guiCpu = thread_cpu_seconds() - guiAtMark;
    f.complete = sender.ok() && viewer.settled(count);
    sender.close();
    sender.join();
    viewer.stop();
    // The sender's clock runs over the whole session; its share after the mark is taken
    // in proportion to the pictures (it does the same work for each).
    const double senderCpu = sender.cpu_seconds() * double(count - warmUp) / count;

    const auto end = viewer.results();
    const auto &mark = viewer.marked();
    const int pictures = end.decoded - mark.decoded;
    f.pictures = end.decoded;
    f.shown = end.shown;
    f.dropped = end.decoded - end.shown;
    f.maxWaiting = end.maxWaiting;
    if (pictures > 0) {
        const double seconds = std::chrono::duration<double>(end.lastShown - markedAt).count();
        f.picturesPerSecond = seconds > 0 ? pictures / seconds : 0;
        f.cpuMsPerPicture = (processCpu - senderCpu) * 1e3 / pictures;
        f.receiveCpuMsPerPicture =
            (end.receiveCpuSeconds - mark.receiveCpuSeconds) * 1e3 / pictures;
        f.guiCpuMsPerPicture = guiCpu * 1e3 / pictures;
        f.renderCpuMsPerPicture = (end.renderCpuSeconds - mark.renderCpuSeconds) * 1e3 / pictures;
        f.paintCpuMsPerPicture = (end.paintCpuSeconds - mark.paintCpuSeconds) * 1e3 / pictures;
    }
    const std::vector<double> latency(end.latencyMs.begin() + long(mark.latencyMs.size()),
                                      end.latencyMs.end());
    f.p50Ms = percentile(latency, 0.50);
    f.p99Ms = percentile(latency, 0.99);
    return f;
}

floor_figures run_floors(const test_stream &stream, int warmUp, int count, int fps, QSize display)
{
    floor_figures f;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    av_codec_context_ptr context(avcodec_alloc_context3(codec));
    av_frame_ptr frame(av_frame_alloc());
    av_packet_ptr packet(av_packet_alloc());
    if (!context || !frame || !packet)
        return f;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return f;
    const int width = stream.config.width, height = stream.config.height;
    const auto geometry = compute_display_geometry(width, height, display.width(), display.height());
    if (!geometry)
        return f;
    std::vector<std::uint8_t> out(std::size_t(width) * height * 4, 0); // touched up front
    sws_context_ptr converter;
    std::uint8_t *const target[4] = {out.data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {width * 4, 0, 0, 0};
    // The decoded picture as the label gets it, and the window's backing store.
    const QImage decoded(out.data(), width, height, width * 4, QImage::Format_RGB32);
    const QRect shown(geometry->offsetX, geometry->offsetY, geometry->shownWidth, geometry->shownHeight);
    QImage backingStore(display, QImage::Format_ARGB32_Premultiplied);
    backingStore.fill(Qt::black);

    std::vector<double> latency, shownLatency;
    double cpuBefore = thread_cpu_seconds(), scaleCpu = 0;
    auto started = clock_type::now();
    const auto paceStart = started;
    for (int i = 0; i < count; ++i) {
        if (i == warmUp) {
            latency.clear();
            shownLatency.clear();
            cpuBefore = thread_cpu_seconds();
            scaleCpu = 0;
            started = clock_type::now();
        }
        if (fps > 0)
            std::this_thread::sleep_until(paceStart + std::chrono::nanoseconds(
                                                          std::int64_t(i) * 1000000000 / fps));
        const auto &picture = stream.pictures[std::size_t(i) % stream.pictures.size()];
        const auto t0 = clock_type::now();
        packet->data = const_cast<std::uint8_t *>(picture.data());
        packet->size = int(picture.size());
        if (avcodec_send_packet(context.get(), packet.get()) < 0
            || avcodec_receive_frame(context.get(), frame.get()) < 0)
            continue;
        if (!converter)
            converter.reset(sws_getContext(width, height, AVPixelFormat(frame->format), width,
                                           height, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr,
                                           nullptr, nullptr));
        sws_scale(converter.get(), frame->data, frame->linesize, 0, height, target, targetStride);
        av_frame_unref(frame.get());
        const auto converted = clock_type::now();
        latency.push_back(std::chrono::duration<double, std::milli>(converted - t0).count());
        const double scaleFrom = thread_cpu_seconds();
        {
            QPainter painter(&backingStore);
            painter.drawImage(shown, decoded);
        }
        scaleCpu += thread_cpu_seconds() - scaleFrom;
        shownLatency.push_back(
            std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
    }
    const double wall = std::chrono::duration<double>(clock_type::now() - started).count();
    const double cpu = thread_cpu_seconds() - cpuBefore;
    const int pictures = int(latency.size());
    for (path_figures *figures : {&f.floor, &f.display}) {
        figures->pictures = figures->shown = pictures;
        figures->complete = pictures == count - warmUp;
        figures->picturesPerSecond = pictures > 0 ? pictures / wall : 0;
    }
    if (pictures > 0) {
        f.display.cpuMsPerPicture = cpu * 1e3 / pictures;
        f.floor.cpuMsPerPicture = (cpu - scaleCpu) * 1e3 / pictures;
    }
    f.floor.p50Ms = percentile(latency, 0.50);
    f.floor.p99Ms = percentile(latency, 0.99);
    f.display.p50Ms = percentile(shownLatency, 0.50);
    f.display.p99Ms = percentile(shownLatency, 0.99);
    return f;
}
