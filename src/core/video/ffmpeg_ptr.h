#pragma once

// Owning handles for the FFmpeg objects of the video code: each releases its object with the
// library's own free function, so failure branches need no cleanup chains.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <memory>

struct av_codec_context_deleter {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct av_frame_deleter {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct av_packet_deleter {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct sws_context_deleter {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};
struct av_buffer_deleter {
    void operator()(std::uint8_t *bytes) const { av_free(bytes); }
};

using av_codec_context_ptr = std::unique_ptr<AVCodecContext, av_codec_context_deleter>;
using av_frame_ptr = std::unique_ptr<AVFrame, av_frame_deleter>;
using av_packet_ptr = std::unique_ptr<AVPacket, av_packet_deleter>;
using sws_context_ptr = std::unique_ptr<SwsContext, sws_context_deleter>;
// A buffer from av_malloc (aligned for the library's vector code).
using av_buffer_ptr = std::unique_ptr<std::uint8_t, av_buffer_deleter>;

// FFmpeg's error text for an AVERROR code.
inline const char *av_error_text(int code, char (&text)[AV_ERROR_MAX_STRING_SIZE])
{
    av_strerror(code, text, sizeof text);
    return text;
}
