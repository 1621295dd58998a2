#include "video/H264Decoder.h"

#include "logging/log.h"

#include <utility>

int H264Decoder::open()
{
    close();
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        TLOG_ERROR << "H264Decoder: libavcodec has no H.264 decoder";
        return 0;
    }
    av_codec_context_ptr context(avcodec_alloc_context3(codec));
    av_frame_ptr picture(av_frame_alloc());
    av_frame_ptr incoming(av_frame_alloc());
    av_packet_ptr packet(av_packet_alloc());
    if (!context || !picture || !incoming || !packet) {
        TLOG_ERROR << "H264Decoder: out of memory for the decoder";
        return 0;
    }
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    // A viewer shows each picture as soon as it is complete: no reordering delay, and no
    // frame threads (each would hold a picture back); slices may still run in parallel.
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = m_sliceThreads > 0 ? m_sliceThreads : 1;
    const int result = avcodec_open2(context.get(), codec, nullptr);
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE];
        TLOG_ERROR << "H264Decoder: open failed: " << av_error_text(result, text);
        return 0;
    }
    m_context = std::move(context);
    m_picture = std::move(picture);
    m_incoming = std::move(incoming);
    m_packet = std::move(packet);
    return 1;
}

void H264Decoder::close()
{
    m_context.reset();
    m_picture.reset();
    m_incoming.reset();
    m_packet.reset();
    m_converter.reset();
    m_converterWidth = m_converterHeight = 0;
    m_converterFormat = -1;
    m_hasPicture = false;
}

bool H264Decoder::receive_pictures()
{
    // One packet normally gives at most one picture; should it give more, the newest wins.
    for (;;) {
        const int result = avcodec_receive_frame(m_context.get(), m_incoming.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0) {
            char text[AV_ERROR_MAX_STRING_SIZE];
            TLOG_ERROR << "H264Decoder: picture not decoded: " << av_error_text(result, text);
            return false;
        }
        std::swap(m_picture, m_incoming);
        av_frame_unref(m_incoming.get());
        m_hasPicture = true;
    }
}

int H264Decoder::decode_picture(const std::uint8_t *data, int size, bool &finished)
{
    finished = false;
    m_hasPicture = false;
    if (!m_context) {
        TLOG_ERROR << "H264Decoder: decode without an open decoder";
        return -1;
    }
    av_frame_unref(m_picture.get()); // hand the previous picture's buffer back to the decoder
    // An empty packet would put the decoder into draining mode for good.
    if (data == nullptr || size <= 0) {
        TLOG_ERROR << "H264Decoder: empty picture of " << size << " bytes ignored";
        return -1;
    }
    // The packet does not own the bytes: libavcodec copies them into a padded buffer of
    // its own, so the caller's buffer needs no padding.
    m_packet->data = const_cast<std::uint8_t *>(data);
    m_packet->size = size;
    const int result = avcodec_send_packet(m_context.get(), m_packet.get());
    m_packet->data = nullptr;
    m_packet->size = 0;
    if (result < 0) {
        char text[AV_ERROR_MAX_STRING_SIZE];
        TLOG_ERROR << "H264Decoder: picture of " << size
                   << " bytes not decoded: " << av_error_text(result, text);
        receive_pictures(); // leave nothing pending before the next picture
        m_hasPicture = false;
        return -1;
    }
    if (!receive_pictures())
        return -1;
    finished = m_hasPicture;
    return size;
}

bool H264Decoder::prepare_converter()
{
    const int width = m_picture->width;
    const int height = m_picture->height;
    const int format = m_picture->format;
    if (m_converter && width == m_converterWidth && height == m_converterHeight
        && format == m_converterFormat)
        return true;
    m_converter.reset(sws_getContext(width, height, static_cast<AVPixelFormat>(format), width,
                                     height, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr,
                                     nullptr, nullptr));
    if (!m_converter) {
        TLOG_ERROR << "H264Decoder: no colour converter for " << width << "x" << height
                   << " in format " << format;
        m_converterFormat = -1;
        return false;
    }
    m_converterWidth = width;
    m_converterHeight = height;
    m_converterFormat = format;
    ++m_converterBuilds;
    return true;
}

bool H264Decoder::convert_picture(std::uint8_t *out, std::size_t outCapacity)
{
    if (!m_hasPicture)
        return false;
    const int width = m_picture->width;
    const int height = m_picture->height;
    const picture_layout target = layout();
    if (target.bytes == 0 || target.bytes > outCapacity) {
        if (target.bytes != m_refusedBytes) {
            TLOG_ERROR << "H264Decoder: decoded picture " << width << "x" << height << " needs "
                       << target.bytes << " bytes, the output buffer has " << outCapacity
                       << "; picture dropped";
            m_refusedBytes = target.bytes;
        }
        return false;
    }
    m_refusedBytes = 0;
    if (out == nullptr || !prepare_converter())
        return false;
    std::uint8_t *const planes[4] = {out, nullptr, nullptr, nullptr};
    const int strides[4] = {target.stride, 0, 0, 0};
    sws_scale(m_converter.get(), m_picture->data, m_picture->linesize, 0, height, planes,
              strides);
    return true;
}

int H264Decoder::decode(const std::uint8_t *data, int size, std::uint8_t *out,
                        std::size_t outCapacity, int &outWidth, int &outHeight)
{
    bool finished = false;
    const int result = decode_picture(data, size, finished);
    if (result >= 0 && finished && convert_picture(out, outCapacity)) {
        outWidth = picture_width();
        outHeight = picture_height();
    }
    return result;
}
