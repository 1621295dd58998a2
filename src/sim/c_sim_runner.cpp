#include "c_sim_runner.h"

#include "c_sim_control.h"
#include "c_sim_device.h"

#include <chrono>

c_sim_runner::c_sim_runner(const c_sim_options &options) : m_options(options)
{
    m_thread.setObjectName(QStringLiteral("sim-device"));
    m_anchor.moveToThread(&m_thread);
}

c_sim_runner::~c_sim_runner()
{
    if (m_thread.isRunning()) {
        on_device_thread([this] {
            delete m_control;
            delete m_device;
            m_control = nullptr;
            m_device = nullptr;
        });
        m_thread.quit();
        m_thread.wait();
    }
}

void c_sim_runner::on_device_thread(const std::function<void()> &work)
{
    QMetaObject::invokeMethod(&m_anchor, work, Qt::BlockingQueuedConnection);
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
