#include "failing_device_support.h"

#include "../sim/disk_images.h"
#include "c_ui_u_setting_dlg.h"
#include "h264video.h"
#include "logging/CLogerManager.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <algorithm>

namespace {

// Everything the process's main logger wrote; on first use it is pointed at a private
// folder for the rest of the test process. A line is there once its log statement returns.
std::string logged_text()
{
    static QTemporaryDir folder;
    static const bool started = [] {
        auto *manager = dynamic_cast<CLogerManager *>(ILogManager::getInstance());
        LoggerConfig config = CLogerManager::mainLoggerDefaults();
        config.path = folder.path().toStdString() + "/";
        config.display = false;
        config.level = LOG_LEVEL_TRACE;
        manager->setLogger(ILogManager::kMainLogger, "Main", config);
        return manager->start();
    }();
    std::string all;
    const QDir dir(folder.path());
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (started && file.open(QIODevice::ReadOnly))
            all += file.readAll().toStdString();
    }
    return all;
}

} // namespace

gui_stall_meter::gui_stall_meter()
{
    m_timer.setInterval(5);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        m_longest = std::max(m_longest, m_since.restart());
    });
}

void gui_stall_meter::restart()
{
    m_longest = 0;
    m_since.start();
    m_timer.start();
}

void FailingDevice::SetUp()
{
    m_logMark = logged_text().size();
    WindowOnSim::SetUp();
}

void FailingDevice::TearDown()
{
    WindowOnSim::TearDown();
    qunsetenv("TESSARACT_IMAGES");
}

void FailingDevice::prepare_image()
{
    const std::vector<std::uint8_t> disk = mbr_fat32_image();
    m_image = m_dir.filePath("fat32.img");
    QFile file(m_image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(disk.data()), static_cast<qint64>(disk.size()));
    file.close();
    m_original = image_contents();
    qputenv("TESSARACT_IMAGES", m_image.toLocal8Bit());
}

QByteArray FailingDevice::image_contents() const
{
    QFile file(m_image);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void FailingDevice::map_image(bool readOnly)
{
    c_ui_u_setting_dlg *dialog = media_dialog();
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QCheckBox *>("checkBox")->setChecked(readOnly);
    dialog->findChild<QPushButton *>("mapButton")->click();
}

bool FailingDevice::wait_mapped()
{
    return wait_for(
        [&] {
            const std::string reply = media();
            return reply.find("mapped=1") != std::string::npos &&
                   reply.find("idle=1") != std::string::npos;
        },
        kWaitMs);
}

std::string FailingDevice::log_text() const
{
    const std::string all = logged_text();
    return m_logMark < all.size() ? all.substr(m_logMark) : std::string();
}

std::size_t FailingDevice::log_count(const std::string &piece) const
{
    const std::string text = log_text();
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

bool FailingDevice::wait_log(const std::string &piece, int count, int timeoutMs)
{
    return wait_for([&] { return log_count(piece) >= static_cast<std::size_t>(count); }, timeoutMs);
}

qint64 FailingDevice::close_window()
{
    QElapsedTimer clock;
    clock.start();
    if (m_window) {
        m_window->close();
        m_window.reset();
    }
    return clock.elapsed();
}

void FailingDevice::expect_stall_and_close_bounds()
{
    // The fault's aftermath runs on the GUI thread too: let it, under the meter.
    QTest::qWait(300);
    EXPECT_LE(m_meter.longest_ms(), kStallBoundMs) << "the GUI thread stalled";
    ::testing::Test::RecordProperty("longest_gui_stall_ms", static_cast<int>(m_meter.longest_ms()));
    const qint64 closing = close_window();
    ::testing::Test::RecordProperty("close_ms", static_cast<int>(closing));
    EXPECT_LE(closing, kCloseBoundMs) << "closing the window took " << closing << " ms";
}

c_ui_u_setting_dlg *FailingDevice::media_dialog() const
{
    return m_window ? m_window->findChild<c_ui_u_setting_dlg *>() : nullptr;
}
