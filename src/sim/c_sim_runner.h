#pragma once

#include "c_sim_connection.h"
#include "c_sim_options.h"

#include <QSocketNotifier>
#include <QThread>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class c_sim_device;
class c_sim_control;

// Runs a simulated device on a thread of its own ("sim-device") with its own event loop, so
// a test or another in-process user can talk to it with blocking sockets. A QGuiApplication
// (offscreen platform) must exist for the screen's text rendering.
//
// Every method is called from one outside thread (never the device's own).
class c_sim_runner {
public:
    explicit c_sim_runner(const c_sim_options &options);
    // Stops the device and its threads.
    ~c_sim_runner();
    c_sim_runner(const c_sim_runner &) = delete;
    c_sim_runner &operator=(const c_sim_runner &) = delete;

    // Starts the thread and the device. False with a reason.
    bool start(QString &error);
    std::uint16_t port(c_sim_connection::kind channel) const;
    std::string launch_text() const { return m_launchText; }

    // Runs one control command on the device's thread; returns its reply line.
    std::string command(const std::string &line);
    // Repeats `line` every 20 ms until `accept` likes the reply or timeoutMs has passed;
    // returns the last reply (check it with `accept` again).
    std::string wait_for(const std::string &line, const std::function<bool(const std::string &)> &accept,
                         int timeoutMs);

private:
    // Runs `work` on the device's thread and waits until it has run. The hand-over goes
    // through a mutex and an eventfd (no Qt object is shared between the threads).
    void on_device_thread(std::function<void()> work);
    void serve(); // device thread

    c_sim_options m_options;
    QThread m_thread;
    int m_wakeFd = -1;
    std::unique_ptr<QSocketNotifier> m_wake; // lives on m_thread
    std::mutex m_lock;
    std::condition_variable m_doneChanged;
    std::function<void()> m_work;
    bool m_done = true;
    c_sim_device *m_device = nullptr;
    c_sim_control *m_control = nullptr;
    std::uint16_t m_ports[3] = {};
    std::string m_launchText;
};
