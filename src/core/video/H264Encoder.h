#pragma once

#include "video/ffmpeg_ptr.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

// Settings of an H264Encoder. Width and height must be even (4:2:0 chroma).
struct h264_encoder_config {
    int width = 1920;
    int height = 1080;
    int fps = 30;
    // Pictures from one key frame to the next; 0 = two seconds' worth (2 x fps).
    int gop = 0;
    // Encoder threads. With the zero-latency tuning each thread codes its own slice, so a
    // value of N gives N slices per picture (unless `slices` says otherwise).
    int threads = 1;
    // Slices per picture; 0 = the encoder's choice (one per thread).
    int slices = 0;
    // Baseline profile (CAVLC) when false, main profile (CABAC) when true.
    bool mainProfile = false;
    // Constant rate factor of x264 (lower = better quality, larger pictures).
    int crf = 23;
};

// Encodes RGB32 pictures (QImage::Format_RGB32 memory layout: bytes B, G, R, X per pixel)
// into an H.264 Annex B byte stream with libavcodec's libx264 wrapper: ultrafast preset,
// zero-latency tuning (one output picture per input picture, no delay), SPS and PPS repeated
// before every key frame so a decoder can join at any key frame.
//
// One thread at a time may call open/encode/close (the simulator's stream thread);
// request_key_frame() may be called from any thread.
class H264Encoder {
public:
    H264Encoder() = default;
    ~H264Encoder() = default;
    H264Encoder(const H264Encoder &) = delete;
    H264Encoder &operator=(const H264Encoder &) = delete;

    // Opens the encoder with these settings (closing a previous one). False on failure (logged).
    bool open(const h264_encoder_config &config);
    // Releases the encoder; safe to call twice.
    void close();
    bool is_open() const { return m_context != nullptr; }
    const h264_encoder_config &config() const { return m_config; }

    // Makes the next encoded picture an IDR key frame (with SPS and PPS).
    void request_key_frame() { m_keyRequested.store(true); }

    // Encodes one picture of width x height pixels whose rows are `stride` bytes apart.
    // A size other than the open one re-opens the encoder at the new size (the next
    // picture is then a key frame). `out` is cleared and receives the picture's complete
    // Annex B bytes (its capacity is reused from call to call). False on failure (logged);
    // `out` is then empty.
    bool encode(const std::uint8_t *pixels, int width, int height, int stride,
                std::vector<std::uint8_t> &out);

    // Facts about the last encode call (for the simulator's statistics).
    bool last_was_key_frame() const { return m_lastKey; }
    std::chrono::nanoseconds last_encode_time() const { return m_lastTime; }
    std::uint64_t pictures_encoded() const { return m_pictures; }

private:
    bool convert(const std::uint8_t *pixels, int stride);
    bool drain_packets(std::vector<std::uint8_t> &out);

    h264_encoder_config m_config;
    av_codec_context_ptr m_context;
    av_frame_ptr m_frame;
    av_packet_ptr m_packet;
    sws_context_ptr m_scaler; // RGB32 -> YUV420P, kept while the size stays
    std::int64_t m_nextPts = 0;
    std::atomic<bool> m_keyRequested{false};
    bool m_lastKey = false;
    std::chrono::nanoseconds m_lastTime{0};
    std::uint64_t m_pictures = 0;
};
