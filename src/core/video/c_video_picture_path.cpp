#include "video/c_video_picture_path.h"

#include "logging/log.h"
#include "protocol/video_head.h"

#include <chrono>
#include <limits>

c_video_picture_path::c_video_picture_path(picture_sink sink, int sliceThreads)
    : m_sink(std::move(sink)), m_sliceThreads(sliceThreads)
{
}

c_video_picture_path::~c_video_picture_path() = default;

bool c_video_picture_path::setup()
{
    m_decoder.reset();
    m_assembler.reset();
    m_assembler = std::make_unique<FrameAssembler>(kAssemblerCapacity);
    m_decoder = std::make_unique<H264Decoder>(m_sliceThreads);
    if (m_decoder->open() != 1) {
        TLOG_ERROR << "video decoder not opened; pictures are dropped";
        return false;
    }
    return true;
}

void c_video_picture_path::discard_partial()
{
    if (m_assembler)
        m_assembler->discard();
}

void c_video_picture_path::on_video_fragment(const std::uint8_t *body, std::uint32_t length)
{
    ++m_counters.fragments;
    if (body == nullptr || length < kBodyHeadSize
        || video_data_length(body) > length - kBodyHeadSize) {
        TLOG_ERROR << "video fragment of " << length << " bytes shorter than its head and data";
        ++m_counters.dropped;
        return;
    }
    if (!m_assembler) {
        ++m_counters.dropped;
        return;
    }
    FrameAssembler::picture picture;
    const auto result = m_assembler->push(body + kBodyHeadSize, video_data_length(body),
                                          video_fragment_is_last(body), picture);
    if (result == FrameAssembler::status::dropped) {
        ++m_counters.dropped;
        return;
    }
    if (result != FrameAssembler::status::complete)
        return;
    ++(picture.copied ? m_counters.assembledPictures : m_counters.directPictures);
    // Timed without the sink, which belongs to whoever shows the picture.
    const auto start = std::chrono::steady_clock::now();
    video_picture shown = decode(picture.data, picture.size);
    m_counters.decodeUs += std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
    if (shown.empty())
        return;
    ++m_counters.picturesShown;
    if (m_sink)
        m_sink(std::move(shown));
}

video_picture c_video_picture_path::decode(const std::uint8_t *data, std::uint32_t size)
{
    if (!m_decoder || !m_decoder->is_open()) {
        ++m_counters.dropped;
        return {};
    }
    if (size == 0 || size > std::uint32_t(std::numeric_limits<int>::max())) {
        TLOG_WARN << "video picture of " << size << " bytes skipped";
        ++m_counters.dropped;
        return {};
    }
    bool finished = false;
    if (m_decoder->decode_picture(data, int(size), finished) < 0) {
        ++m_counters.decodeErrors;
        return {};
    }
    // Only a picture finished by this call is shown: before the first one there is
    // nothing to show, and a packet without a picture must not repeat the previous one.
    if (!finished)
        return {};
    const int width = m_decoder->picture_width();
    const int height = m_decoder->picture_height();
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    if (width <= 0 || height <= 0 || bytes > kOutputLimit) {
        // convert_picture() logs the refusal once per size.
        m_decoder->convert_picture(nullptr, kOutputLimit);
        ++m_counters.dropped;
        return {};
    }
    video_picture shown = m_pool.acquire(width, height);
    if (shown.empty()
        || !m_decoder->convert_picture(shown.pixels.get(), m_decoder->layout().bytes)) {
        ++m_counters.dropped;
        return {};
    }
    return shown;
}
