#pragma once

#include "c_control_parser.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>

#include <cstdint>
#include <memory>
#include <string>

class c_sim_device;
class c_sim_connection;

// The simulator's control interface: one command per line (grammar in README.md) from
// standard input and from clients of an optional control port on 127.0.0.1; every command
// gets one reply line starting with "ok" or "err". Lives on the device's thread.
class c_sim_control : public QObject {
    Q_OBJECT
public:
    explicit c_sim_control(c_sim_device &device, QObject *parent = nullptr);
    ~c_sim_control() override;

    // Runs one command line; returns its reply, or an empty text for blank and comment lines.
    std::string execute(const std::string &line);

    // Starts the control port (0 = any free port). False with a reason.
    bool listen(std::uint16_t port, QString &error);
    std::uint16_t port() const { return m_server.serverPort(); }
    // Reads commands from standard input; replies go to standard output.
    void read_stdin();

signals:
    // The quit command was given.
    void signal_quit();

private:
    std::string run(const control_command &command);
    std::string run_connection_command(const control_command &command);
    std::string run_media_command(const control_command &command);
    std::string status() const;
    std::string viewers() const;
    void on_stdin();
    void on_client();

    c_sim_device &m_device;
    QTcpServer m_server;
    std::unique_ptr<QSocketNotifier> m_stdin;
    std::string m_stdinBuffer;
};
