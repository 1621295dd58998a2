#pragma once

#include "km/c_km_mouse.h"
#include "km/c_km_privilege.h"
#include "km/c_led_sync.h"
#include "km/c_main_request.h"
#include "protocol/c_abs_net_handler.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class c_key_translator;
class c_net_syncer;
class c_socket_recv_km1;
class c_socket_thread;
class c_tcp_sock;

// What a keyboard/mouse session is configured with; the window fills it from the launch
// parameters.
struct km_session_options {
    std::array<std::uint8_t, 8> inboundKey{};  // deciphers what the device sends
    std::array<std::uint8_t, 8> outboundKey{}; // enciphers what the viewer sends
    std::uint32_t userID = 0;                  // carried by the login
    c_km_mouse::mode mouseMode = c_km_mouse::mode::relative;
};

// The keyboard/mouse session of the main window, free of widgets: the channel's socket and
// receive thread, the handler of the device's answers (HandleKMData), the hand-over of
// privilege notices to the main thread, the keep-alive, and the privilege, mouse and LED
// parts. The window wires its widgets in through c_km_privilege::actions and
// c_km_mouse::pointer_access and shows what must be shown.
//
// Lives on the main thread; everything is called there except HandleMsg/HandleKMData, which
// run on the keyboard/mouse receive thread.
class c_km_session : public QObject, public c_abs_net_handler {
    Q_OBJECT
public:
    using key_type = std::array<std::uint8_t, 8>;
    static constexpr int kConnectTimeoutMs = 2000;
    static constexpr int kKeepAliveMs = 10000;
    // Longest stop(): the receive thread checks its stop flag (and a waiting request gives
    // up) every 100 ms, and the socket is closed under it first.
    static constexpr int kStopWaitMs = 2000;

    // `syncer` holds the outgoing list and `translator` the held keys and buttons; both outlive the
    // session.
    c_km_session(const km_session_options &options, c_net_syncer &syncer,
                 c_key_translator &translator, QObject *parent = nullptr);
    ~c_km_session() override;

    // The window's part of the privilege. Sampling and alignment default to this session's
    // mouse when left unset.
    void set_privilege_actions(c_km_privilege::actions actions);

    // Connects to ip:port within 2000 ms, starts the receive thread with `handler` (this
    // session when null) registered, hands the socket and outbound key to the syncer and
    // queues the login (50) and the privilege query (23). False when the connection failed
    // (the caller tells the user and ends the program).
    bool create_km_socket(const std::string &ip, std::uint16_t port,
                          c_abs_net_handler *handler = nullptr);
    // Starts the session on a connected socket, as create_km_socket does after its connect:
    // the receive thread, then the login and the privilege query on an emptied outgoing
    // list. For a connection made again; stop() the old one first.
    void start_on(std::shared_ptr<c_tcp_sock> sock, c_abs_net_handler *handler = nullptr);
    // The errno of the last failed create_km_socket (see c_tcp_sock::last_connect_error).
    int connect_error() const { return m_connectError; }
    // The 10 s keep-alive: a type-11 frame at the head of the outgoing list.
    void start_keep_alive();
    void stop_keep_alive();
    bool keep_alive_active() const { return m_keepAlive.isActive(); }
    // One keep-alive, as the timer sends it.
    void queue_keep_alive();

    // Stops the receive thread and withdraws a waiting main-thread request, and ends the
    // thread's calls to its handler; returns within 2 x kStopWaitMs. Then closes the socket
    // and empties the outgoing list. Harmless when repeated.
    void stop();

    // True when `sender` is this session's receive thread (the window's dispatch test).
    bool is_km_receiver(const c_socket_thread *sender) const;
    bool connected() const;

    // c_abs_net_handler: forwards to HandleKMData; always 0.
    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override;

    // Receive thread: hands (code, value) to the main thread's request handler and waits
    // until it has run. False when the channel stopped first.
    bool post_main_request(std::int32_t code, std::int32_t value);

    // A request waits for the main thread (the receive thread is blocked in it).
    bool request_pending() const { return m_request.pending(); }

    c_km_privilege &privilege() { return m_privilege; }
    c_km_mouse &mouse() { return m_mouse; }
    c_led_sync &led() { return m_led; }
    c_net_syncer &syncer() { return m_syncer; }
    const std::shared_ptr<c_tcp_sock> &socket() const { return m_socket; }

public slots:
    // Receive thread: one device message (body type first). Types 3, 5, 20, 22, 23 and 50
    // need two bytes, else they are ignored; every message, ignored or not, ends the
    // syncer's answer wait.
    void HandleKMData(const void *sender, const unsigned char *body, uint lengthField,
                      uint bodyLength);
    // The grab button.
    void on_slot_grabPriv();
    // The device closed the channel: the receive thread and the keep-alive stop; the
    // privilege state stays as it is and nothing reconnects.
    void on_km_socket_close();

signals:
    // Emitted on the main thread after on_km_socket_close().
    void signal_km_closed();
    // Main thread: the device answered the login with a refusal, or accepted it.
    void signal_login_refused();
    void signal_login_accepted();

private:
    void handle_km_message(const std::uint8_t *body, std::uint32_t length);

    c_net_syncer &m_syncer;
    c_key_translator &m_translator;
    const key_type m_inboundKey;
    const key_type m_outboundKey;
    const std::uint32_t m_userID;

    c_km_privilege m_privilege;
    c_km_mouse m_mouse;
    c_led_sync m_led;
    c_main_request m_request;
    QTimer m_keepAlive;
    QTimer m_ledApply; // LED states are applied on the main thread, never on a receive thread

    std::shared_ptr<c_tcp_sock> m_socket;
    int m_connectError = 0;
    std::shared_ptr<c_socket_recv_km1> m_recv;
    // The receive thread's identity, read on that thread by is_km_receiver().
    std::atomic<const c_socket_thread *> m_recvId{nullptr};
};
