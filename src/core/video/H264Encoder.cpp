#include "video/H264Encoder.h"

#include "logging/log.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <string>

namespace {

bool set_private_option(AVCodecContext *context, const char *name, const char *value)
{
    const int result = av_opt_set(context->priv_data, name, value, 0);
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE];
        TLOG_ERROR << "H264Encoder: option " << name << "=" << value << " refused: "
                   << av_error_text(result, text);
        return false;
    }
    return true;
}

bool valid_config(const h264_encoder_config &config)
{
    if (config.width <= 0 || config.height <= 0 || config.width % 2 != 0
        || config.height % 2 != 0) {
        TLOG_ERROR << "H264Encoder: picture size " << config.width << "x" << config.height
                   << " is not a positive even size";
        return false;
    }
    if (config.fps <= 0 || config.threads <= 0 || config.slices < 0 || config.gop < 0) {
        TLOG_ERROR << "H264Encoder: fps " << config.fps << ", threads " << config.threads
                   << ", slices " << config.slices << ", gop " << config.gop << " not usable";
        return false;
    }
    return true;
}

// Picture format, timing and the x264 options of a low-latency desktop stream.
bool configure(AVCodecContext *context, const h264_encoder_config &config)
{
    context->width = config.width;
    context->height = config.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{1, config.fps};
    context->framerate = AVRational{config.fps, 1};
    context->gop_size = config.gop > 0 ? config.gop : 2 * config.fps;
    context->max_b_frames = 0;
    context->thread_count = config.threads;
    context->slices = config.slices;
    // SPS/PPS travel in the stream before each key frame, never as side configuration:
    // the viewer's decoder is given no extradata.
    context->flags &= ~AV_CODEC_FLAG_GLOBAL_HEADER;
    const std::string crf = std::to_string(config.crf);
    return set_private_option(context, "preset", "ultrafast")
        && set_private_option(context, "tune", "zerolatency")
        && set_private_option(context, "profile", config.mainProfile ? "main" : "baseline")
        && set_private_option(context, "crf", crf.c_str())
        // An on-demand key frame must be an IDR so a decoder can start from it.
        && set_private_option(context, "forced-idr", "1")
        // ultrafast turns CABAC off; main profile is asked for to get it back.
        && set_private_option(context, "x264-params",
                               config.mainProfile ? "repeat-headers=1:annexb=1:cabac=1"
                                                  : "repeat-headers=1:annexb=1");
}

} // namespace

bool H264Encoder::open(const h264_encoder_config &config)
{
    close();
    if (!valid_config(config))
        return false;
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        TLOG_ERROR << "H264Encoder: libavcodec has no libx264 encoder";
        return false;
    }
    av_codec_context_ptr context(avcodec_alloc_context3(codec));
    av_frame_ptr frame(av_frame_alloc());
    av_packet_ptr packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        TLOG_ERROR << "H264Encoder: out of memory for the encoder";
        return false;
    }
    if (!configure(context.get(), config))
        return false;
    const int result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE];
        TLOG_ERROR << "H264Encoder: open failed: " << av_error_text(result, text);
        return false;
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = config.width;
    frame->height = config.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        TLOG_ERROR << "H264Encoder: out of memory for a " << config.width << "x"
                   << config.height << " picture";
        return false;
    }
    m_config = config;
    m_context = std::move(context);
    m_frame = std::move(frame);
    m_packet = std::move(packet);
    m_nextPts = 0;
    return true;
}

void H264Encoder::close()
{
    m_context.reset();
    m_frame.reset();
    m_packet.reset();
    m_scaler.reset();
}

bool H264Encoder::convert(const std::uint8_t *pixels, int stride)
{
    const int width = m_config.width;
    const int height = m_config.height;
    m_scaler.reset(sws_getCachedContext(m_scaler.release(), width, height, AV_PIX_FMT_BGRA,
                                        width, height, AV_PIX_FMT_YUV420P, SWS_FAST_BILINEAR,
                                        nullptr, nullptr, nullptr));
    if (!m_scaler) {
        TLOG_ERROR << "H264Encoder: no colour converter for " << width << "x" << height;
        return false;
    }
    // The encoder may still reference the previous picture's planes.
    if (av_frame_make_writable(m_frame.get()) < 0) {
        TLOG_ERROR << "H264Encoder: picture buffer not writable";
        return false;
    }
    const std::uint8_t *const source[4] = {pixels, nullptr, nullptr, nullptr};
    const int sourceStride[4] = {stride, 0, 0, 0};
    sws_scale(m_scaler.get(), source, sourceStride, 0, height, m_frame->data,
              m_frame->linesize);
    return true;
}

bool H264Encoder::drain_packets(std::vector<std::uint8_t> &out)
{
    for (;;) {
        const int result = avcodec_receive_packet(m_context.get(), m_packet.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0) {
            char text[AV_ERROR_MAX_STRING_SIZE];
            TLOG_ERROR << "H264Encoder: encode failed: " << av_error_text(result, text);
            return false;
        }
        out.insert(out.end(), m_packet->data, m_packet->data + m_packet->size);
        if (m_packet->flags & AV_PKT_FLAG_KEY)
            m_lastKey = true;
        av_packet_unref(m_packet.get());
    }
}

bool H264Encoder::encode(const std::uint8_t *pixels, int width, int height, int stride,
                         std::vector<std::uint8_t> &out)
{
    const auto started = std::chrono::steady_clock::now();
    out.clear();
    m_lastKey = false;
    if (pixels == nullptr || stride < width * 4) {
        TLOG_ERROR << "H264Encoder: picture rows of " << stride << " bytes for width " << width;
        return false;
    }
    if (!m_context || width != m_config.width || height != m_config.height) {
        h264_encoder_config resized = m_config;
        resized.width = width;
        resized.height = height;
        if (!open(resized))
            return false;
    }
    if (!convert(pixels, stride))
        return false;
    m_frame->pts = m_nextPts++;
    m_frame->pict_type = m_keyRequested.exchange(false) ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    const int result = avcodec_send_frame(m_context.get(), m_frame.get());
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE];
        TLOG_ERROR << "H264Encoder: picture refused: " << av_error_text(result, text);
        return false;
    }
    if (!drain_packets(out)) {
        out.clear();
        return false;
    }
    ++m_pictures;
    m_lastTime = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now() - started);
    return true;
}
