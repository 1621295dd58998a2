#include "window_test_support.h"

#include "h264video.h"
#include "launch/LaunchParams.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <ostream>

namespace {

const char kConfigXml[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<config>\n    <mouseRate>50</mouseRate>\n</config>\n";

const std::string kAlignPayload = "00818100"; // no buttons, dx -127, dy -127, no wheel

} // namespace

class WindowOnSim::deactivation_recorder : public QObject {
public:
    explicit deactivation_recorder(std::vector<std::string> &expected) : m_expected(expected) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::WindowDeactivate)
            m_expected.push_back("0000000000000000");
        return false;
    }

private:
    std::vector<std::string> &m_expected;
};

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
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject())
            continue;
        const QJsonObject object = document.object();
        device_record record;
        record.channel = object.value("channel").toString().toStdString();
        record.viewer = object.value("viewer").toInt();
        record.type = object.value("type").toInt();
        record.payload = object.value("payload").toString().toLower().toStdString();
        record.error = object.value("error").toString().toStdString();
        records.push_back(std::move(record));
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

std::string rgb_text(QRgb colour)
{
    return "(" + std::to_string(qRed(colour)) + "," + std::to_string(qGreen(colour)) + "," +
           std::to_string(qBlue(colour)) + ")";
}

bool near_colour(QRgb actual, QRgb expected, int tolerance)
{
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
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
    config.write(kConfigXml);
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
    m_deactivations.reset();
    m_sim.reset();
    QApplication::restoreOverrideCursor();
}

void WindowOnSim::write_key_file(const QString &xml)
{
    QFile file(m_settingsDir + "/key.xml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(xml.toUtf8());
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
    // Installed last, so it sees every event before the window's own filter takes it.
    m_deactivations = std::make_unique<deactivation_recorder>(m_expectedKeys);
    m_window->installEventFilter(m_deactivations.get());
    // Connected after the window's own handler: runs once the entry's reports are queued.
    QToolButton *button = syskey_button();
    ASSERT_NE(button, nullptr);
    QObject::connect(button->menu(), &QMenu::triggered, m_window.get(), [this](QAction *action) {
        const auto combo = m_comboReports.find(action->data().toString());
        if (combo != m_comboReports.end())
            m_expectedKeys.insert(m_expectedKeys.end(), {combo->second, "0000000000000000"});
    });
    m_window->setMouseTracking(true);
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
}

c_video_label *WindowOnSim::screen() const
{
    return m_window->findChild<c_video_label *>(QStringLiteral("label"));
}

QToolButton *WindowOnSim::syskey_button() const
{
    auto *toolBar = m_window->findChild<QToolBar *>(QStringLiteral("toolBar"));
    if (toolBar == nullptr)
        return nullptr;
    for (QToolButton *button : toolBar->findChildren<QToolButton *>())
        if (button->menu() != nullptr)
            return button;
    return nullptr;
}

QStringList WindowOnSim::syskey_menu_texts() const
{
    QStringList texts;
    QToolButton *button = syskey_button();
    if (button == nullptr)
        return texts;
    for (QAction *action : button->menu()->actions())
        texts << action->text();
    return texts;
}

bool WindowOnSim::choose_syskey(const QString &text)
{
    QToolButton *button = syskey_button();
    if (button == nullptr)
        return false;
    // The button pops its menu up at the press and runs it modally: the entry is clicked
    // from inside that loop.
    bool chosen = false;
    const QDeadlineTimer deadline(kWaitMs);
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            if (deadline.hasExpired())
                poll.stop();
            return;
        }
        poll.stop();
        for (QAction *action : menu->actions()) {
            if (action->text() == text && menu->actionGeometry(action).isValid()) {
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
                chosen = true;
            }
        }
        if (menu->isVisible())
            menu->close();
    });
    poll.start();
    QTest::mouseClick(button, Qt::LeftButton);
    wait_for([&] { return !poll.isActive(); }, kWaitMs);
    return chosen;
}

void WindowOnSim::type_key(Qt::Key key)
{
    QWindow *window = m_window->windowHandle();
    QTest::keyPress(window, key);
    QTest::keyRelease(window, key);
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
    int count = 0;
    for (const std::string &payload : km_payloads(5))
        count += payload == kAlignPayload ? 1 : 0;
    return count;
}

bool WindowOnSim::wait_keyboard_reports(std::size_t count)
{
    return wait_for([&] { return km_payloads(3).size() >= count; }, kWaitMs);
}

bool WindowOnSim::wait_keyboard_report(const std::string &payload, int count)
{
    return wait_for(
        [&] {
            const auto sent = km_payloads(3);
            return std::count(sent.begin(), sent.end(), payload) >= count;
        },
        kWaitMs);
}

bool WindowOnSim::wait_new_pictures(int count)
{
    const std::uint64_t before = screen()->pictures_shown();
    return wait_for([&] { return screen()->pictures_shown() >= before + count; }, kWaitMs);
}
