#include "km/c_km_session.h"

#include "logging/log.h"
#include "protocol/c_net_syncer.h"
#include "protocol/km_frame.h"
#include "tools/key_mouse/c_key_translator.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/km/c_socket_recv_km1.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

c_km_session::c_km_session(const km_session_options &options, c_net_syncer &syncer,
                           c_key_translator &translator, QObject *parent)
    : QObject(parent), m_syncer(syncer), m_translator(translator), m_inboundKey(options.inboundKey),
      m_outboundKey(options.outboundKey), m_userID(options.userID), m_privilege(syncer),
      m_mouse(syncer, translator, options.mouseMode),
      m_request([this](std::int32_t code, std::int32_t value) {
          m_privilege.handle_request(code, value);
      })
{
    setObjectName(QStringLiteral("km session"));
    set_privilege_actions({});
    m_keepAlive.setInterval(kKeepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, &c_km_session::queue_keep_alive);
    m_ledApply.setSingleShot(true);
    connect(&m_ledApply, &QTimer::timeout, this, [this] { m_led.apply_pending(); });
    // Called on the video receive thread: only a queued hop to the main thread happens there.
    m_led.set_scheduler([this](std::int64_t delayMs) {
        QMetaObject::invokeMethod(
            this, [this, delayMs] { m_ledApply.start(static_cast<int>(delayMs)); },
            Qt::QueuedConnection);
    });
}

c_km_session::~c_km_session()
{
    stop();
}

void c_km_session::set_privilege_actions(c_km_privilege::actions actions)
{
    if (!actions.start_sampling)
        actions.start_sampling = [this] { m_mouse.start_sampling(); };
    if (!actions.stop_sampling) {
        // Writing ended: the device let go of whatever this viewer held, so nothing is held
        // here either, and a key released later is not sent as if others were still down.
        actions.stop_sampling = [this] {
            m_mouse.stop_sampling();
            m_translator.release_all();
            m_mouse.forget_buttons();
        };
    }
    if (!actions.align_mouse)
        actions.align_mouse = [this] { m_mouse.align_mouse(); };
    m_privilege.set_actions(std::move(actions));
}

bool c_km_session::create_km_socket(const std::string &ip, std::uint16_t port,
                                    c_abs_net_handler *handler)
{
    TLOG_INFO << "H264Video::create_km_socket:" << ip << " port:" << port;
    auto sock = std::make_shared<c_tcp_sock>();
    sock->init();
    sock->set_remote_addr(ip.c_str(), port);
    if (sock->create_sock(nullptr, 0, kConnectTimeoutMs) != 1) {
        m_connectError = sock->last_connect_error();
        return false;
    }
    m_connectError = 0;
    start_on(std::move(sock), handler);
    TLOG_INFO << "create_km_socket success.";
    return true;
}

void c_km_session::start_on(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler)
{
    m_socket = sock;
    // Input typed while the channel was down is not replayed on the new connection.
    m_syncer.clear_km_queue();
    m_request.open_again();

    m_recv = make_thread<c_socket_recv_km1>(sock, m_inboundKey);
    m_recvId.store(m_recv.get());
    // Registered before the thread starts, so no answer can slip past an empty list.
    m_recv->attach_handler(handler != nullptr ? handler : this);
    connect(m_recv.get(), &c_socket_recv_km1::socket_close, this,
            &c_km_session::on_km_socket_close, Qt::QueuedConnection);
    m_recv->start();

    m_syncer.set_outbound_key(m_outboundKey.data());
    m_syncer.set_km_socket(sock);
    m_syncer.queue_km_frame(build_km_login_frame(m_userID));
    TLOG_INFO << "km send userID";
    std::vector<std::uint8_t> query = build_km_byte_frame(m_outboundKey.data(), kKmPrivilegeQuery);
    if (!query.empty())
        m_syncer.queue_km_frame(std::move(query));
}

void c_km_session::start_keep_alive()
{
    m_keepAlive.start();
}

void c_km_session::stop_keep_alive()
{
    m_keepAlive.stop();
}

void c_km_session::queue_keep_alive()
{
    std::vector<std::uint8_t> frame = build_km_byte_frame(m_outboundKey.data(), kKmKeepAlive);
    if (!frame.empty())
        m_syncer.queue_km_frame_first(std::move(frame));
}

void c_km_session::stop()
{
    m_keepAlive.stop();
    // A request waiting for the main thread gives up within one 100 ms slice.
    m_request.shut_down();
    if (m_recv) {
        m_recv->stop();
        if (m_recv->wait(QDeadlineTimer(kStopWaitMs)))
            m_recvId.store(nullptr);
        else
            TLOG_ERROR << "km_recv did not end within " << kStopWaitMs << " ms";
        // The thread may run on, but the handler is its owner's to destroy from now on.
        if (!m_recv->detach_handler(kStopWaitMs))
            TLOG_ERROR << "km_recv still inside its handler after " << kStopWaitMs << " ms more";
        m_recv.reset();
    }
    if (m_socket) {
        // The syncer keeps the closed socket: frames queued later fail one by one.
        m_socket->close();
        m_syncer.clear_km_queue();
        m_socket.reset();
    }
}

bool c_km_session::is_km_receiver(const c_socket_thread *sender) const
{
    return sender != nullptr && sender == m_recvId.load();
}

bool c_km_session::connected() const
{
    return m_socket && m_socket->has_socket() && m_recv && m_recv->running();
}

std::uint8_t c_km_session::HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                                     std::uint32_t lengthField, std::uint32_t bodyLength)
{
    HandleKMData(sender, body, lengthField, bodyLength);
    return kHandled;
}

void c_km_session::HandleKMData(const void *, const unsigned char *body, uint, uint bodyLength)
{
    if (body != nullptr && bodyLength >= 1)
        handle_km_message(body, bodyLength);
    // Any message, even one ignored, ends the sender's answer wait.
    m_syncer.on_km_message_received();
}

// Receive thread.
void c_km_session::handle_km_message(const std::uint8_t *body, std::uint32_t length)
{
    const std::uint8_t type = body[0];
    if (type == kKmPrivilegeAnswerAsk) {
        TLOG_INFO << "mouse privilege ask grab.";
        post_main_request(c_main_request::kGiveUpQuestion, 0);
        return;
    }
    if (length < 2)
        return;
    const std::uint8_t value = body[1];
    switch (type) {
    case kKmKeyboard:
        if (value == 1)
            TLOG_ERROR << "send keyboard return failed.";
        break;
    case kKmMouseRelative:
        if (value == 1)
            TLOG_ERROR << "send mouse pos return failed.";
        break;
    case kKmControlRequest:
        m_privilege.on_control_answer(value);
        break;
    case kKmPrivilegeAnswerGrab:
        if (!m_privilege.take_grab_request()) {
            TLOG_WARN << "grab result " << value << " without a request of ours ignored";
            break;
        }
        TLOG_INFO << "grab KM privilege OK";
        post_main_request(c_main_request::kGrabResult, value);
        break;
    case kKmPrivilegeQuery:
        m_privilege.on_privilege_state(value);
        post_main_request(c_main_request::kPrivilegeState, value);
        break;
    case kKmLogin:
        TLOG_INFO << "km recv userID  ack,value=" << value;
        QMetaObject::invokeMethod(this,
                                  value == 0 ? &c_km_session::signal_login_accepted
                                             : &c_km_session::signal_login_refused,
                                  Qt::QueuedConnection);
        break;
    default:
        break;
    }
}

bool c_km_session::post_main_request(std::int32_t code, std::int32_t value)
{
    // The calling receive thread gives up once it is asked to stop.
    const auto *self = qobject_cast<const c_abs_thread *>(QThread::currentThread());
    return m_request.post_main_request(code, value,
                                       [self] { return self != nullptr && !self->running(); });
}

void c_km_session::on_slot_grabPriv()
{
    m_privilege.on_slot_grabPriv();
}

void c_km_session::on_km_socket_close()
{
    TLOG_WARN << "km socket closed by the device";
    stop();
    emit signal_km_closed();
}
