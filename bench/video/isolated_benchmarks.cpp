// Cost of one 1080p remote picture on the receive thread, piece by piece: decoding, colour
// conversion and the hand-over buffer, each beside a baseline measured in the same run.
//
//   decode only             libavcodec send/receive, no conversion
//   decode+convert cached   H264Decoder::decode into a reused buffer (the viewer's path)
//   decode+convert percall  a converter and a BGRA buffer made per picture, then copied
//                           into the output buffer (the original design)
//   convert cached/percall  the colour conversion alone, either way
//   memcpy frame            copying one 1080p BGRA picture: the floor of any hand-over
//   path pooled / fresh     the whole picture path into pooled buffers, against
//                           allocating and filling a fresh picture buffer per picture

#include "isolated_benchmarks.h"

#include "video/H264Decoder.h"
#include "video/c_video_picture_path.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::size_t kFrameBytes = std::size_t(kWidth) * kHeight * 4;

// The 1080p streams of the run, CAVLC and CABAC (set before the benchmarks run).
const test_stream *g_streams[2] = {nullptr, nullptr};

const test_stream &encoded_stream(bool cabac)
{
    return *g_streams[cabac ? 1 : 0];
}

// Decodes the stream in order, round and round; times only the pictures of the wanted
// kind (key or P) with `work`, and decodes the others untimed with `skip`.
template <typename Work, typename Skip>
void run_stream(benchmark::State &state, bool cabac, bool keyFrames, Work work, Skip skip)
{
    const test_stream &set = encoded_stream(cabac);
    std::size_t next = 0;
    double bytes = 0;
    for (auto _ : state) {
        while (set.key[next] != keyFrames) {
            skip(set.pictures[next]);
            next = (next + 1) % set.pictures.size();
        }
        const auto started = std::chrono::steady_clock::now();
        work(set.pictures[next]);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        bytes += double(set.pictures[next].size());
        next = (next + 1) % set.pictures.size();
    }
    // Encoded size of the timed pictures (the CPU column also counts the untimed ones).
    state.counters["picture_bytes"] = benchmark::Counter(bytes, benchmark::Counter::kAvgIterations);
}

// The original conversion: converter and BGRA buffer made and freed for every picture.
void convert_per_call(const AVFrame *frame, std::uint8_t *out)
{
    const int w = frame->width, h = frame->height;
    const int bytes = av_image_get_buffer_size(AV_PIX_FMT_BGRA, w, h, 1);
    av_buffer_ptr rgb(static_cast<std::uint8_t *>(av_malloc(std::size_t(bytes))));
    std::uint8_t *planes[4];
    int strides[4];
    av_image_fill_arrays(planes, strides, rgb.get(), AV_PIX_FMT_BGRA, w, h, 1);
    sws_context_ptr scaler(sws_getContext(w, h, AVPixelFormat(frame->format), w, h,
                                          AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr, nullptr,
                                          nullptr));
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, h, planes, strides);
    std::memcpy(out, rgb.get(), std::size_t(w) * h * 4);
}

// A bare libavcodec decoder (send/receive, low delay) for the baselines.
struct raw_decoder {
    raw_decoder()
    {
        const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        context.reset(avcodec_alloc_context3(codec));
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        context->thread_type = FF_THREAD_SLICE;
        context->thread_count = 1;
        avcodec_open2(context.get(), codec, nullptr);
        frame.reset(av_frame_alloc());
        packet.reset(av_packet_alloc());
    }
    bool decode(const std::vector<std::uint8_t> &data)
    {
        av_frame_unref(frame.get());
        packet->data = const_cast<std::uint8_t *>(data.data());
        packet->size = int(data.size());
        return avcodec_send_packet(context.get(), packet.get()) >= 0
            && avcodec_receive_frame(context.get(), frame.get()) >= 0;
    }
    av_codec_context_ptr context;
    av_frame_ptr frame;
    av_packet_ptr packet;
};

void BM_DecodeOnly(benchmark::State &state, bool cabac, bool key)
{
    raw_decoder decoder;
    auto work = [&](const std::vector<std::uint8_t> &p) { decoder.decode(p); };
    run_stream(state, cabac, key, work, work);
}

void BM_DecodeConvertCached(benchmark::State &state, bool cabac, bool key)
{
    H264Decoder decoder;
    decoder.open();
    std::vector<std::uint8_t> out(c_video_picture_path::kOutputLimit);
    auto work = [&](const std::vector<std::uint8_t> &p) {
        int w = 0, h = 0;
        decoder.decode(p.data(), int(p.size()), out.data(), out.size(), w, h);
    };
    run_stream(state, cabac, key, work, work);
}

void BM_DecodeConvertPerCall(benchmark::State &state, bool cabac, bool key)
{
    raw_decoder decoder;
    std::vector<std::uint8_t> out(c_video_picture_path::kOutputLimit);
    auto work = [&](const std::vector<std::uint8_t> &p) {
        if (decoder.decode(p))
            convert_per_call(decoder.frame.get(), out.data());
    };
    run_stream(state, cabac, key, work, work);
}

// Conversion alone, from one decoded picture.
void BM_Convert(benchmark::State &state, bool perCall)
{
    raw_decoder decoder;
    decoder.decode(encoded_stream(false).pictures[0]);
    std::vector<std::uint8_t> out(c_video_picture_path::kOutputLimit);
    const AVFrame *frame = decoder.frame.get();
    sws_context_ptr cached(sws_getContext(kWidth, kHeight, AVPixelFormat(frame->format), kWidth,
                                          kHeight, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr,
                                          nullptr, nullptr));
    std::uint8_t *target[4] = {out.data(), nullptr, nullptr, nullptr};
    const int stride[4] = {kWidth * 4, 0, 0, 0};
    for (auto _ : state) {
        if (perCall)
            convert_per_call(frame, out.data());
        else
            sws_scale(cached.get(), frame->data, frame->linesize, 0, kHeight, target, stride);
        benchmark::DoNotOptimize(out.data());
    }
}

void BM_MemcpyFrame(benchmark::State &state)
{
    std::vector<std::uint8_t> from(kFrameBytes, 1), to(kFrameBytes, 2);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kFrameBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

// The whole picture path on P pictures: pooled buffers, or a fresh picture buffer per
// picture (filled from the pooled one, as a path without a pool would have to).
void BM_PicturePath(benchmark::State &state, bool freshBuffer)
{
    std::vector<std::uint8_t> body;
    c_video_picture_path path([&](video_picture picture) {
        if (freshBuffer) {
            std::unique_ptr<std::uint8_t[]> fresh(new std::uint8_t[kFrameBytes]);
            std::memcpy(fresh.get(), picture.data(), kFrameBytes);
            benchmark::DoNotOptimize(fresh.get());
        }
    });
    path.setup();
    auto work = [&](const std::vector<std::uint8_t> &p) {
        body.assign(12, 0);
        body[0] = 6;
        body[1] = 1;
        body[8] = std::uint8_t(p.size() >> 24);
        body[9] = std::uint8_t(p.size() >> 16);
        body[10] = std::uint8_t(p.size() >> 8);
        body[11] = std::uint8_t(p.size());
        body.insert(body.end(), p.begin(), p.end());
        path.on_video_fragment(body.data(), std::uint32_t(body.size()));
    };
    run_stream(state, false, false, work, work);
}

// Console output plus the ratios between each figure and its baseline.
class ratio_reporter : public benchmark::ConsoleReporter {
public:
    ratio_reporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (!run.error_occurred && run.iterations > 0)
                m_ms[run.benchmark_name()] = run.real_accumulated_time * 1e3 / run.iterations;
    }

    void print_ratios() const
    {
        std::printf("\nRatios (same run):\n");
        ratio("convert percall / convert cached", "BM_Convert/percall/real_time",
              "BM_Convert/cached/real_time");
        ratio("convert cached / memcpy frame", "BM_Convert/cached/real_time",
              "BM_MemcpyFrame/real_time");
        for (const char *kind : {"baseline/P", "baseline/key", "cabac/P", "cabac/key"}) {
            const std::string k(kind);
            ratio("decode+convert percall / cached, " + k,
                  "BM_DecodeConvertPerCall/" + k + "/manual_time",
                  "BM_DecodeConvertCached/" + k + "/manual_time");
            ratio("decode+convert cached / decode only, " + k,
                  "BM_DecodeConvertCached/" + k + "/manual_time",
                  "BM_DecodeOnly/" + k + "/manual_time");
        }
        ratio("path with fresh buffer / pooled path (P)", "BM_PicturePath/fresh/manual_time",
              "BM_PicturePath/pooled/manual_time");
    }

private:
    void ratio(const std::string &label, const std::string &a, const std::string &b) const
    {
        const auto x = m_ms.find(a), y = m_ms.find(b);
        if (x == m_ms.end() || y == m_ms.end() || y->second <= 0)
            return;
        std::printf("  %-52s %7.3f ms / %7.3f ms = %5.2f\n", label.c_str(), x->second,
                    y->second, x->second / y->second);
    }

    std::map<std::string, double> m_ms;
};

void register_benchmarks()
{
    for (bool cabac : {false, true}) {
        for (bool key : {false, true}) {
            const std::string name = std::string(cabac ? "cabac" : "baseline") + (key ? "/key" : "/P");
            benchmark::RegisterBenchmark(("BM_DecodeOnly/" + name).c_str(), BM_DecodeOnly, cabac, key)
                ->UseManualTime()->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("BM_DecodeConvertCached/" + name).c_str(),
                                         BM_DecodeConvertCached, cabac, key)
                ->UseManualTime()->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("BM_DecodeConvertPerCall/" + name).c_str(),
                                         BM_DecodeConvertPerCall, cabac, key)
                ->UseManualTime()->Unit(benchmark::kMillisecond);
        }
    }
    for (bool perCall : {false, true})
        benchmark::RegisterBenchmark(perCall ? "BM_Convert/percall" : "BM_Convert/cached",
                                     BM_Convert, perCall)
            ->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_MemcpyFrame", BM_MemcpyFrame)
        ->UseRealTime()->Unit(benchmark::kMillisecond);
    for (bool fresh : {false, true})
        benchmark::RegisterBenchmark(fresh ? "BM_PicturePath/fresh" : "BM_PicturePath/pooled",
                                     BM_PicturePath, fresh)
            ->UseManualTime()->Unit(benchmark::kMillisecond);
}

} // namespace

int run_isolated_benchmarks(int argc, char **argv, const test_stream &cavlc1080,
                            const test_stream &cabac1080)
{
    g_streams[0] = &cavlc1080;
    g_streams[1] = &cabac1080;
    register_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
