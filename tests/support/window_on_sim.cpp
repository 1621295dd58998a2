#include "window_on_sim.h"

#include "h264video.h"
#include "launch/LaunchParams.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <ostream>

std::ostream &operator<<(std::ostream &out, const device_record &record)
{
    out << record.channel << '/' << record.viewer << " type " << record.type << ' '
        << record.payload;
    if (!record.error.empty())
        out << " error " << record.error;
    return out;
}

std::vector<device_record> read_device_records(const QString &path)
{
    std::vector<device_record> records;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.isEmpty())
            continue;
        records.push_back({object.value("channel").toString().toStdString(),
                           object.value("viewer").toInt(), object.value("type").toInt(),
                           object.value("payload").toString().toLower().toStdString(),
                           object.value("error").toString().toStdString()});
    }
    return records;
}

bool wait_for(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

WindowOnSim::WindowOnSim() = default;
WindowOnSim::~WindowOnSim() = default;

void WindowOnSim::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    m_settingsDir = m_dir.filePath("program");
    ASSERT_TRUE(QDir().mkpath(m_settingsDir));
    QFile config(m_settingsDir + "/config.xml");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<config>\n    <mouseRate>50</mouseRate>\n</config>\n");
    config.close();
    m_jsonPath = m_dir.filePath("received.jsonl");

    c_sim_options options = c_sim_options::in_process(kRemoteWidth, kRemoteHeight, 10);
    options.logJsonPath = m_jsonPath;
    m_sim = std::make_unique<c_sim_runner>(options);
    QString error;
    ASSERT_TRUE(m_sim->start(error)) << error.toStdString();
}

void WindowOnSim::TearDown()
{
    m_window.reset();
    m_sim.reset();
    QApplication::restoreOverrideCursor();
}

void WindowOnSim::open_window()
{
    ASSERT_NO_FATAL_FAILURE(show_window());
    // The first viewer that asks holds the privilege; the first picture aligns the mouse.
    ASSERT_TRUE(wait_for([&] { return sim_reply("status").find("holder=1") != std::string::npos; },
                         kWaitMs))
        << sim_reply("status");
    ASSERT_TRUE(wait_for([&] { return !screen()->picture().isNull(); }, kWaitMs));
    ASSERT_TRUE(wait_for([&] { return align_reports() >= 20; }, kWaitMs));
}

void WindowOnSim::show_window()
{
    para = parse_launch_params(decode_launch_text(m_sim->launch_text()));
    m_window = std::make_unique<H264Video>(nullptr, Qt::WindowFlags{}, m_settingsDir);
    ASSERT_FALSE(m_window->start_failed());
    m_window->setMouseTracking(true);
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
}

c_video_label *WindowOnSim::screen() const
{
    return m_window->findChild<c_video_label *>(QStringLiteral("label"));
}

bool WindowOnSim::choose_syskey(const QString &text)
{
    auto *toolBar = m_window->findChild<QToolBar *>(QStringLiteral("toolBar"));
    for (QToolButton *button : toolBar->findChildren<QToolButton *>()) {
        for (QAction *action : button->menu() ? button->menu()->actions() : QList<QAction *>()) {
            if (action->text() == text) {
                action->trigger();
                return true;
            }
        }
    }
    return false;
}

void WindowOnSim::type_key(Qt::Key key)
{
    QTest::keyPress(m_window->windowHandle(), key);
    QTest::keyRelease(m_window->windowHandle(), key);
}

std::vector<std::string> WindowOnSim::km_payloads(int type) const
{
    std::vector<std::string> payloads;
    for (const device_record &record : read_device_records(m_jsonPath))
        if (record.channel == "km" && record.type == type)
            payloads.push_back(record.payload);
    return payloads;
}

int WindowOnSim::align_reports() const
{
    const auto moves = km_payloads(5); // no buttons, dx -127, dy -127, no wheel
    return static_cast<int>(std::count(moves.begin(), moves.end(), "00818100"));
}

bool WindowOnSim::wait_new_pictures(int count)
{
    const std::uint64_t before = screen()->pictures_shown();
    return wait_for([&] { return screen()->pictures_shown() >= before + count; }, kWaitMs);
}
