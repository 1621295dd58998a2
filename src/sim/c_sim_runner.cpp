#include "c_sim_runner.h"

#include "c_sim_control.h"
#include "c_sim_device.h"
#include "logging/log.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

c_sim_runner::c_sim_runner(const c_sim_options &options) : m_options(options)
{
    m_thread.setObjectName(QStringLiteral("sim-device"));
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_wake = std::make_unique<QSocketNotifier>(m_wakeFd, QSocketNotifier::Read);
    QObject::connect(m_wake.get(), &QSocketNotifier::activated, m_wake.get(), [this] { serve(); });
    m_wake->moveToThread(&m_thread);
}

c_sim_runner::~c_sim_runner()
{
    if (m_thread.isRunning()) {
        // The thread ends its own loop: a quit() from here would wake its dispatcher from
        // this thread while the dispatcher is being torn down over there.
        on_device_thread([this] {
            delete m_control;
            delete m_device;
            m_control = nullptr;
            m_device = nullptr;
            m_wake->setEnabled(false);
            QThread::currentThread()->quit();
        });
        m_thread.wait();
    }
    m_wake.reset();
    ::close(m_wakeFd);
}

void c_sim_runner::on_device_thread(std::function<void()> work)
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_work = std::move(work);
    m_done = false;
    const std::uint64_t one = 1;
    if (::write(m_wakeFd, &one, sizeof one) != sizeof one)
        TLOG_ERROR << "sim runner: cannot wake the device thread";
    // The device thread never blocks; a long wait means a hang worth a log line.
    while (!m_doneChanged.wait_for(hold, std::chrono::seconds(5), [this] { return m_done; }))
        TLOG_WARN << "sim runner: the device thread has been busy for 5 s";
}

void c_sim_runner::serve()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(m_wakeFd, &count, sizeof count);
    std::function<void()> work;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        work.swap(m_work);
    }
    if (!work)
        return;
    work();
    // Notified under the lock: the waiter may destroy the runner as soon as it sees m_done.
    std::lock_guard<std::mutex> hold(m_lock);
    m_done = true;
    m_doneChanged.notify_all();
}

bool c_sim_runner::start(QString &error)
{
    m_thread.start();
    bool ok = false;
    on_device_thread([this, &ok, &error] {
        m_device = new c_sim_device(m_options);
        m_control = new c_sim_control(*m_device);
        ok = m_device->start(error);
        if (ok && m_options.controlPort >= 0)
            ok = m_control->listen(static_cast<std::uint16_t>(m_options.controlPort), error);
        for (auto channel : {c_sim_connection::kind::km, c_sim_connection::kind::video,
                             c_sim_connection::kind::media})
            m_ports[static_cast<int>(channel)] = m_device->port(channel);
        m_launchText = m_device->launch_text();
    });
    return ok;
}

std::uint16_t c_sim_runner::port(c_sim_connection::kind channel) const
{
    return m_ports[static_cast<int>(channel)];
}

std::string c_sim_runner::command(const std::string &line)
{
    std::string reply;
    on_device_thread([this, &line, &reply] { reply = m_control ? m_control->execute(line) : "err stopped"; });
    return reply;
}

std::string c_sim_runner::wait_for(const std::string &line,
                                   const std::function<bool(const std::string &)> &accept,
                                   int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string reply = command(line);
    while (!accept(reply) && std::chrono::steady_clock::now() < deadline) {
        QThread::msleep(20);
        reply = command(line);
    }
    return reply;
}
