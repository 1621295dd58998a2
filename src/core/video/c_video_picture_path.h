#pragma once

#include "protocol/video_head.h"
#include "video/FrameAssembler.h"
#include "video/H264Decoder.h"
#include "video/c_picture_pool.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// The video channel's picture path, free of widgets: takes the bodies of accepted type-6
// video frames, reassembles pictures, decodes them and hands each decoded picture on.
//
// Body layout: type (1 byte), last (1 = this fragment completes a picture), 6 reserved
// bytes, data length (u32 big-endian), then the fragment's H.264 bytes.
//
// Pictures are decoded straight into frame-sized buffers of a small pool (c_picture_pool)
// instead of a 32 MiB output buffer that is wrapped and copied: a buffer is written only
// while no consumer holds it, and returns to the pool when the last holder lets go (for the
// window, the last QImage made over it; see video_picture_image() of the GUI library). So
// there is no per-picture copy, no per-picture allocation in the steady state, and the GUI
// never sees a buffer being overwritten. The output limit stays: a decoded picture of more
// than 33,554,432 bytes (W x H x 4) is dropped with an error line.
//
// All calls come from one thread, the video receive thread; the sink runs on it too.
class c_video_picture_path {
public:
    static constexpr std::uint32_t kAssemblerCapacity = FrameAssembler::kDefaultCapacity;
    static constexpr std::size_t kOutputLimit = 33554432;
    static constexpr std::uint32_t kBodyHeadSize = kVideoHeadSize;

    using picture_sink = std::function<void(video_picture)>;

    struct counters {
        std::uint64_t fragments = 0;
        std::uint64_t directPictures = 0;    // decoded straight from the fragment, no copy
        std::uint64_t assembledPictures = 0; // decoded from the assembler's buffer
        std::uint64_t picturesShown = 0;     // handed to the sink
        std::uint64_t decodeErrors = 0;
        std::uint64_t dropped = 0;           // oversize or malformed pictures and fragments
        std::int64_t decodeUs = 0;           // time spent decoding and converting pictures
    };

    // `sink` receives every decoded picture; `sliceThreads` goes to the decoder.
    explicit c_video_picture_path(picture_sink sink, int sliceThreads = 1);
    ~c_video_picture_path();
    c_video_picture_path(const c_video_picture_path &) = delete;
    c_video_picture_path &operator=(const c_video_picture_path &) = delete;

    // Set-up for a new video session: releases the previous decoder and assembler, creates
    // the assembler (pictures up to 16 MiB) and opens the decoder. False when the decoder
    // does not open (logged); pictures are then dropped until the next set-up.
    bool setup();

    // One accepted type-6 body of `length` bytes. Hands zero or one picture to the sink.
    // A body shorter than its head or than its data length is refused with an error line.
    void on_video_fragment(const std::uint8_t *body, std::uint32_t length);

    // Discards the partial picture held; for the receive side when a fragment of the
    // picture in progress was refused or lost.
    void discard_partial();

    // Set-up state and statistics (receive thread, or any thread once it has ended).
    const FrameAssembler *assembler() const { return m_assembler.get(); }
    const H264Decoder *decoder() const { return m_decoder.get(); }
    counters statistics() const { return m_counters; }
    std::uint64_t buffers_allocated() const { return m_pool.buffers_allocated(); }

private:
    // The decoded picture, or an empty one when there is nothing to show.
    video_picture decode(const std::uint8_t *data, std::uint32_t size);

    picture_sink m_sink;
    int m_sliceThreads;
    std::unique_ptr<H264Decoder> m_decoder;
    std::unique_ptr<FrameAssembler> m_assembler;
    c_picture_pool m_pool;
    counters m_counters;
};
