#include "session_display.h"

#include "protocol/message_types.h"
#include "video_picture_image.h"

#include <ctime>

namespace {

double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace

void display_label::paintEvent(QPaintEvent *event)
{
    const double before = thread_cpu_seconds();
    c_video_label::paintEvent(event);
    m_paintCpu += thread_cpu_seconds() - before;
    if (m_painted)
        m_painted();
}

session_display::session_display(QSize area)
    : m_label(std::make_unique<display_label>([this] { painted(); })),
      m_session(std::make_unique<measured_session>(*this))
{
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setAutoFillBackground(true); // as in the window's form
    m_label->resize(area);
    m_label->show();
    m_label->set_margin_colour(m_label->palette().color(m_label->backgroundRole()));
    m_session->set_display_probe([label = m_label.get()] { return label->slowest_paint_us(); });
    connect(m_session.get(), &c_video_session::picture_decoded, this,
            [this](const video_picture &picture) { decoded(picture); }, Qt::DirectConnection);
    connect(m_session.get(), &c_video_session::picture_ready, this,
            [this](const video_picture &picture) { show(picture); });
}

session_display::~session_display()
{
    stop();
}

bool session_display::start(std::uint16_t port, const std::array<std::uint8_t, 8> &inboundKey)
{
    c_video_session::options config;
    config.ip = "127.0.0.1";
    config.port = port;
    config.userID = 1;
    config.inboundKey = inboundKey;
    return m_session->open(config);
}

void session_display::stop()
{
    m_session->stop();
}

// The arrival of a picture's last fragment is noted before the session handles it.
std::uint8_t session_display::measured_session::HandleMsg(c_socket_thread *sender,
                                                         const std::uint8_t *body,
                                                         std::uint32_t lengthField,
                                                         std::uint32_t bodyLength)
{
    session_display &d = m_display;
    if (d.m_receiveCpuFirst < 0)
        d.m_receiveCpuFirst = thread_cpu_seconds();
    if (bodyLength >= 2 && body[0] == kMsgVideo && body[1] == 1)
        d.m_lastFragmentAt = clock::now();
    const std::uint8_t result = c_video_session::HandleMsg(sender, body, lengthField, bodyLength);
    d.m_receiveCpuLast.store(thread_cpu_seconds() - d.m_receiveCpuFirst);
    return result;
}

void session_display::decoded(const video_picture &picture)
{
    {
        std::lock_guard<std::mutex> guard(m_stampLock);
        m_stamps[picture.data()] = m_lastFragmentAt;
    }
    m_decoded.fetch_add(1);
    const int waiting = m_session->pictures_waiting();
    int most = m_maxWaiting.load();
    while (waiting > most && !m_maxWaiting.compare_exchange_weak(most, waiting)) {
    }
}

int session_display::taken() const
{
    return int(m_session->pictures_shown() + m_session->pictures_skipped());
}

// The window's display of a picture the session hands on.
void session_display::show(const video_picture &picture)
{
    clock::time_point stamp;
    {
        std::lock_guard<std::mutex> guard(m_stampLock);
        stamp = m_stamps[picture.data()];
    }
    if (!m_marked && m_markAt >= 0 && taken() > m_markAt) {
        m_marked = true;
        m_atMark = results();
        if (m_markHook)
            m_markHook();
    }
    const double cpuBefore = thread_cpu_seconds();
    const QImage image = video_picture_image(picture);
    const auto geometry = compute_display_geometry(image.width(), image.height(),
                                                   m_label->width(), m_label->height());
    if (!geometry)
        return;
    if (m_paintPending)
        ++m_replaced; // the previous picture was replaced before it was painted
    m_label->show_picture(image, *geometry);
    m_paintPending = true;
    m_pendingStamp = stamp;
    m_renderCpu += thread_cpu_seconds() - cpuBefore;
}

void session_display::painted()
{
    if (!m_paintPending)
        return;
    m_paintPending = false;
    m_result.lastShown = clock::now();
    ++m_result.shown;
    m_result.latencyMs.push_back(
        std::chrono::duration<double, std::milli>(m_result.lastShown - m_pendingStamp).count());
}

void session_display::set_mark(int pictures, std::function<void()> hook)
{
    m_markAt = pictures;
    m_markHook = std::move(hook);
}

bool session_display::settled(int expectedPictures) const
{
    return m_decoded.load() >= expectedPictures && taken() >= m_decoded.load() && !m_paintPending;
}

session_display::result session_display::results() const
{
    result r = m_result;
    r.decoded = m_decoded.load();
    r.dropped = int(m_session->pictures_skipped()) + m_replaced;
    r.maxWaiting = m_maxWaiting.load();
    r.receiveCpuSeconds = m_receiveCpuLast.load();
    r.renderCpuSeconds = m_renderCpu;
    r.paintCpuSeconds = m_label->paint_cpu_seconds();
    return r;
}
