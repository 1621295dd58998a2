#pragma once

#include "video/ffmpeg_ptr.h"
#include "video/picture_layout.h"

#include <cstddef>
#include <cstdint>

// Decodes complete H.264 pictures (Annex B byte stream, parameter sets in band) and converts
// each finished picture to 32-bit BGRA laid out as picture_layout says (rows padded to 64
// bytes, room after the last row): read as 32-bit little-endian words that is 0xAARRGGBB, the
// QImage::Format_RGB32 layout.
//
// Chosen for latency: low-delay decoding, slice threads only (never frame threads, which
// hold pictures back), one send/receive per complete picture. The colour converter (fast
// bilinear flag, same size in and out) is kept and rebuilt only when the picture's size or
// pixel format changes; its output is the same as a converter built for each picture.
//
// Used by one thread at a time (the video receive thread).
class H264Decoder {
public:
    // `sliceThreads` > 1 decodes the slices of one picture in parallel (helps only when the
    // stream has several slices per picture).
    explicit H264Decoder(int sliceThreads = 1) : m_sliceThreads(sliceThreads) {}
    ~H264Decoder() { close(); }
    H264Decoder(const H264Decoder &) = delete;
    H264Decoder &operator=(const H264Decoder &) = delete;

    // Opens the decoder: 1 on success, 0 on failure (logged). Closes a previous one first.
    int open();
    // Releases everything open; safe to call twice.
    void close();
    bool is_open() const { return m_context != nullptr; }

    // Decodes one complete picture and converts it into `out` (`outCapacity` bytes), rows
    // picture_layout::of(width, height).stride bytes apart.
    // Returns a negative value on a decode error, else the number of bytes consumed (`size`).
    // outWidth/outHeight are written only when a picture was finished and converted; a
    // finished picture whose layout needs more than `outCapacity` bytes is dropped (one error
    // line per new size).
    int decode(const std::uint8_t *data, int size, std::uint8_t *out, std::size_t outCapacity,
               int &outWidth, int &outHeight);

    // The same in two steps, for a caller that picks the output buffer by the picture's size:
    // decode_picture() returns as decode() does and sets `finished`; picture_width()/
    // picture_height() then describe the finished picture until the next decode_picture();
    // convert_picture() writes it as BGRA into `out` in the picture's layout() (false, logged,
    // when `outCapacity` is less than layout().bytes).
    int decode_picture(const std::uint8_t *data, int size, bool &finished);
    int picture_width() const { return m_hasPicture ? m_picture->width : 0; }
    int picture_height() const { return m_hasPicture ? m_picture->height : 0; }
    picture_layout layout() const { return picture_layout::of(picture_width(), picture_height()); }
    bool convert_picture(std::uint8_t *out, std::size_t outCapacity);

    // How often the colour converter was built (once per size or format in use).
    std::uint64_t converter_builds() const { return m_converterBuilds; }

private:
    bool receive_pictures();
    bool prepare_converter();

    int m_sliceThreads;
    av_codec_context_ptr m_context;
    av_frame_ptr m_picture;  // the decoded picture (planar YUV as the decoder delivers it)
    av_frame_ptr m_incoming; // receives pictures; swapped into m_picture
    av_packet_ptr m_packet;
    bool m_hasPicture = false;
    sws_context_ptr m_converter;
    int m_converterWidth = 0;
    int m_converterHeight = 0;
    int m_converterFormat = -1;
    std::uint64_t m_converterBuilds = 0;
    std::size_t m_refusedBytes = 0; // size of the last picture refused for want of room
};
