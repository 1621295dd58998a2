// The whole main window against a simulated device that fails on purpose (each channel
// failing as a real device or network fails, floods of frames nothing asked for, the media
// channel failing mid-transfer): the window must neither crash nor freeze, must keep the
// other channels serving, must never lose or misplace disk data, and must close in time.
// And the program itself ended by a signal.
#include "child_process.h"
#include "window_on_sim.h"
#include "disk_images.h"
#include "log_capture.h"
#include "c_ui_u_setting_dlg.h"
#include "h264video.h"
#include "logging/CLogerManager.h"
#include "protocol/frame.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

namespace {

// Table rows print as their names.
template <typename Row>
auto operator<<(std::ostream &out, const Row &row) -> decltype(row.name, out)
{
    return out << row.name;
}

bool has(const std::string &text, const std::string &piece)
{
    return text.find(piece) != std::string::npos;
}

// The window on the simulated device. The viewer's log goes to a private folder where the
// test reads it, and a 5 ms timer on the GUI thread measures the longest stall of its loop.
class FailingDevice : public WindowOnSim {
protected:
    void SetUp() override
    {
        m_logMark = logged_text().size();
        m_timer.setInterval(5);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_longest = std::max(m_longest, m_since.restart()); });
        // Made before the simulator's threads start, so that prepare_image() only overwrites
        // it: adding a variable reallocates the environment under any thread reading it.
        qputenv("TESSARACT_IMAGES", QByteArray());
        WindowOnSim::SetUp();
    }
    void TearDown() override
    {
        WindowOnSim::TearDown();
        qunsetenv("TESSARACT_IMAGES");
    }
    std::string log_text() const // the log written since SetUp
    {
        const std::string all = logged_text();
        return m_logMark < all.size() ? all.substr(m_logMark) : std::string();
    }
    bool wait_log(const std::string &piece) { return wait_for([&] { return has(log_text(), piece); }, kWaitMs); }
    void restart_meter()
    {
        m_longest = 0;
        m_since.start();
        m_timer.start();
    }
    // The fault's aftermath runs too (under the meter); then the GUI thread must not have
    // stalled for longer than the window's own pause (1 s, creating the media channel) and
    // some room, and the window must close within 3 s.
    void expect_stall_and_close_bounds()
    {
        QTest::qWait(300);
        EXPECT_LE(m_longest, 1500) << "the GUI thread stalled";
        QElapsedTimer closing;
        closing.start();
        m_window->close();
        m_window.reset();
        EXPECT_LE(closing.elapsed(), 3000) << "closing the window took too long";
    }
    // Before open_window(): a FAT32 image of 4096 sectors offered to the media dialog.
    void prepare_image()
    {
        const std::vector<std::uint8_t> disk = mbr_fat32_image();
        m_original = QByteArray(reinterpret_cast<const char *>(disk.data()), qsizetype(disk.size()));
        m_image = m_dir.filePath("fat32.img");
        QFile file(m_image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(m_original) == m_original.size());
        qputenv("TESSARACT_IMAGES", m_image.toLocal8Bit());
    }
    QByteArray image_contents() const
    {
        QFile file(m_image);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Maps the image as the user does, until the remote computer is done probing it.
    void map_image(bool readOnly)
    {
        auto *dialog = m_window->findChild<c_ui_u_setting_dlg *>();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QCheckBox *>("checkBox")->setChecked(readOnly);
        dialog->findChild<QPushButton *>("mapButton")->click();
        ASSERT_TRUE(wait_for([&] { return has(media(), "mapped=1") && has(media(), "idle=1"); }, kWaitMs)) << media();
    }
    std::string media() { return sim_reply("media"); }

    QString m_image;
    QByteArray m_original;

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    std::size_t m_logMark = 0;
};

struct fault {
    const char *name;
    bool beforeWindow;                 // the device fails from the connection on
    std::vector<std::string> commands; // to the simulator, "$" standing for the channel; "keys": typing
    bool channelSurvives;              // the channel itself serves again afterwards
};

const fault kChannelFaults[] = {
    {"ClosedAsSoonAsConnected", true, {"next $ close"}, false},
    {"ClosedMidStream", false, {"close $ 1"}, false},
    {"ClosedWhileKeysAreQueued", false, {"keys", "close $ 1", "keys"}, false},
    {"ClosedInsideAFrame", false, {"malformed $ 1 header", "close $ 1"}, false},
    {"AcceptsButNeverAnswers", true, {"next $ mute"}, false},
    {"GarbageFlood", false, std::vector<std::string>(24, "garbage $ 1 65536"), true},
    {"OversizedFrame", false, {"oversize $ 1"}, false},
    // A body too short for its type, a wrong checksum, then half a header after which the
    // device carries on.
    {"TruncatedAndShortFrames", false, {"malformed $ 1 short", "malformed $ 1 checksum", "malformed $ 1 header"}, false},
    {"SlowReader", false, {"stall $ 1", "keys", "resume $ 1"}, true},
};

class ChannelFault : public FailingDevice, public ::testing::WithParamInterface<std::tuple<std::string, fault>> {
protected:
    // Types `text` (lower-case letters) on the window and waits until the remote computer's
    // console shows it.
    // Keys count from the moment the device has told the viewer it may write.
    bool typing_reaches_console(const std::string &text)
    {
        if (!wait_for([&] { return has(sim_reply("status"), "holder=1"); }, kWaitMs))
            return false;
        for (char c : text)
            type_key(static_cast<Qt::Key>(Qt::Key_A + (c - 'a')));
        return wait_for([&] { return has(console(), text); }, kWaitMs);
    }
};

struct media_fault {
    const char *name;
    bool write;
    std::uint32_t first, count;      // the run the device reads or writes
    std::vector<std::string> faults; // once the run has begun
    const char *logged;
    long after; // sectors still served after the fault (0: the run is cut)
};

const media_fault kMediaFaults[] = {
    {"ReadRunCutByTheDevice", false, 100, 1000, {"close media 1"}, "u_recv connection closed", 0},
    {"WriteRunCutByTheDevice", true, 200, 400, {"close media 1"}, "u_recv connection closed", 0},
    {"HostileFramesDuringReads", false, 300, 600, {"garbage media 1 65536", "malformed media 1 short", "malformed media 1 checksum"}, "short media message", 40},
    {"SilentDeviceMidRunThenRecovers", false, 1000, 200, {"silent 2500"}, "wait ack failed,", 200},
};

// A number after ` key=` in a reply line; -1 when missing.
long field(const std::string &reply, const std::string &key)
{
    const std::size_t at = reply.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::strtol(reply.c_str() + at + key.size() + 2, nullptr, 10);
}

class MediaFault : public FailingDevice, public ::testing::WithParamInterface<media_fault> {};

// This process's resident memory in KiB.
long resident_kib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    for (const QByteArray &line : status.open(QIODevice::ReadOnly) ? status.readAll().split('\n') : QList<QByteArray>())
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// A plain frame of this body in hex; `cipheredHead` announces a plain length 4 less than the
// wire length, which marks a ciphered head that the viewer's key will not turn into sense.
std::string frame(const std::vector<std::uint8_t> &body, bool cipheredHead = false)
{
    std::vector<std::uint8_t> bytes(kFrameHeaderSize + body.size());
    std::uint32_t length = 0;
    build_frame({{static_cast<std::uint32_t>(body.size()), body.data()}}, bytes.data(), length);
    if (cipheredHead)
        write_be32(bytes.data() + 3, static_cast<std::uint32_t>(body.size() - 4));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())).toHex().toStdString();
}

struct hostile_case {
    const char *name;
    const char *channel;
    std::string hex;
    bool mapped = false; // the image is mapped first
};

const hostile_case kCases[] = {
    {"VideoEmptyHeaders", "video", "a501" + std::string(18, '0')}, // a header without a body
    {"VideoWrongKeyHeads", "video", frame(std::vector<std::uint8_t>(20, 0x5A), true)},
    {"VideoLedReports", "video", frame({4, 5})},
    {"KmUnaskedAlignment", "km", frame({22, 1})},
    {"MediaWritesWhileUnmapped", "media", frame({8, 2, 0, 0, 0, 0, 0xFF, 0xFF})},
    {"MediaReadsPastTheDisk", "media", frame({8, 1, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF}), true},
    {"MediaUnaskedReads", "media", frame({8, 1, 0, 0, 0, 0, 0x0F, 0xFF}), true},
};

class HostileDevice : public FailingDevice, public ::testing::WithParamInterface<hostile_case> {};

class ProgramOnSim : public WindowOnSim, public ::testing::WithParamInterface<int> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(EachChannel, ChannelFault, ::testing::Combine(::testing::Values("video", "km", "media"), ::testing::ValuesIn(kChannelFaults)),
                         [](const auto &row) {
                             const std::string &channel = std::get<0>(row.param);
                             return char(std::toupper(channel[0])) + channel.substr(1) + std::get<1>(row.param).name;
                         });

TEST_P(ChannelFault, WindowKeepsTheOtherChannelsServingAndClosesInTime)
{
    const std::string &channel = std::get<0>(GetParam());
    const fault &f = std::get<1>(GetParam());
    const auto run = [&] {
        for (std::string command : f.commands) {
            if (command == "keys") {
                for (int i = 0; i < 40; ++i)
                    type_key(static_cast<Qt::Key>(Qt::Key_A + i % 26));
                continue;
            }
            command.replace(command.find('$'), 1, channel);
            ASSERT_EQ(sim_reply(command), "ok") << command;
        }
    };
    if (f.beforeWindow) {
        run();
        ASSERT_NO_FATAL_FAILURE(show_window());
    } else {
        ASSERT_NO_FATAL_FAILURE(open_window());
    }
    restart_meter();
    if (!f.beforeWindow)
        run();
    if (std::string(f.name).find("Closed") == 0) {
        EXPECT_TRUE(wait_log(channel == "km" ? "km socket closed by the device"
                                             : (channel == "video" ? "video" : "u") + std::string("_recv connection closed")))
            << log_text();
    }
    const bool muted = std::string(f.name) == "AcceptsButNeverAnswers";
    if (muted && channel == "media") {
        EXPECT_TRUE(wait_log("wait ack failed,")) << log_text(); // the login went unanswered
    }
    if (muted && channel != "media") {
        QTest::qWait(2500);
        // Without a login answer no picture; without a privilege answer no input captured.
        EXPECT_TRUE(channel == "km" ? has(sim_reply("status"), "holder=0") : screen()->picture().isNull()) << sim_reply("status");
    }
    if (channel != "video" || f.channelSurvives) {
        EXPECT_TRUE(wait_new_pictures(2)) << "no pictures after a " << channel << " fault";
    }
    if ((channel != "km" || f.channelSurvives) && !(muted && channel == "media")) {
        EXPECT_TRUE(typing_reaches_console("kvm")) << console();
    }
    expect_stall_and_close_bounds();
}

INSTANTIATE_TEST_SUITE_P(Media, MediaFault, ::testing::ValuesIn(kMediaFaults), [](const auto &row) { return std::string(row.param.name); });

TEST_P(MediaFault, DiskDataIsNeverLostOrMisplaced)
{
    const media_fault &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(prepare_image());
    ASSERT_NO_FATAL_FAILURE(open_window());
    ASSERT_NO_FATAL_FAILURE(map_image(!c.write));
    ASSERT_TRUE(has(media(), c.write ? "ro=0" : "ro=1")) << media();
    const std::string counter = c.write ? "written" : "read";
    const long before = field(media(), counter);
    const auto served = [&](long n) { return wait_for([&] { return field(media(), counter) >= before + n; }, kWaitMs); };
    restart_meter();
    const std::string run = std::to_string(c.first) + " " + std::to_string(c.count);
    ASSERT_EQ(sim_reply(c.write ? "write " + run + " lba" : "read " + run), "ok");
    ASSERT_TRUE(served(10)) << media();
    for (const std::string &fault : c.faults)
        ASSERT_EQ(sim_reply(fault), "ok") << fault;
    EXPECT_TRUE(wait_log(c.logged)) << log_text();
    ASSERT_TRUE(c.after == 0 || served(c.after)) << media() << " the run stopped";
    expect_stall_and_close_bounds(); // and the device's log is complete

    // A read-only image stays as it was; a written one changed only inside the run, and
    // only as the device wrote it.
    const QByteArray after = image_contents();
    ASSERT_EQ(after.size(), m_original.size());
    EXPECT_TRUE(c.write || after == m_original) << "a read-only image changed";
    std::uint32_t written = 0;
    for (std::uint32_t n = 0; n < std::uint32_t(after.size() / 512); ++n) {
        const QByteArray sector = after.mid(n * 512, 512);
        if (sector == m_original.mid(n * 512, 512))
            continue;
        ++written;
        ASSERT_TRUE(n >= c.first && n < c.first + c.count) << "sector " << n << " outside the run written";
        for (int i = 0; i < 512; i += 4)
            ASSERT_EQ(qFromBigEndian<std::uint32_t>(sector.constData() + i), n) << "sector " << n << " offset " << i;
    }
    if (c.write) {
        EXPECT_GE(written, 1u);
        EXPECT_LT(written, c.count) << "the cut came after the whole run";
    }
}

INSTANTIATE_TEST_SUITE_P(Flood, HostileDevice, ::testing::ValuesIn(kCases), [](const auto &row) { return std::string(row.param.name); });

TEST_P(HostileDevice, HoldsItsMemoryAndLogAndKeepsServing)
{
    const hostile_case &c = GetParam();
    const std::string channel = c.channel;
    ASSERT_NO_FATAL_FAILURE(prepare_image());
    ASSERT_NO_FATAL_FAILURE(open_window());
    if (c.mapped) {
        ASSERT_NO_FATAL_FAILURE(map_image(true));
    }
    ASSERT_TRUE(wait_new_pictures(2));
    const int alignments = align_reports();
    const long before = resident_kib();
    const std::size_t logBefore = log_text().size();

    restart_meter();
    ASSERT_EQ(sim_reply("flood " + channel + " 1 1000 " + c.hex), "ok");
    // Everything the flood sent has been read once a frame sent after it has had its effect:
    // a picture, or the login answer logged with its value.
    if (channel == "video") {
        ASSERT_TRUE(wait_new_pictures(2));
    } else {
        ASSERT_EQ(sim_reply("flood " + channel + " 1 1 " + frame({std::uint8_t(channel == "km" ? 50 : 0x32), 77})), "ok");
        ASSERT_TRUE(wait_log(channel == "km" ? "km recv userID  ack,value=77" : "vm,, recv userID ack,value=77")) << log_text().substr(logBefore, 4000);
    }
    EXPECT_TRUE(wait_new_pictures(2)) << "the picture froze";
    EXPECT_LT(resident_kib() - before, 10 * 1024);
    EXPECT_LT(log_text().size() - logBefore, 64u * 1024);
    EXPECT_EQ(align_reports(), alignments) << "the device moved the pointer";
    expect_stall_and_close_bounds();
    EXPECT_EQ(image_contents(), m_original);
}

// Logout, shutdown or Ctrl+C while the device serves the program: it closes as the window's
// close does, so the device sees the media channel's final unmap rather than a connection
// that vanished.
INSTANTIATE_TEST_SUITE_P(EachSignal, ProgramOnSim, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto &row) { return std::string(row.param == SIGTERM ? "Term" : row.param == SIGINT ? "Int" : "Hup"); });

TEST_P(ProgramOnSim, TerminationSignalClosesTheWindowAndTheChannelsInOrder)
{
    QTemporaryDir programDir;
    const QString folder = QFileInfo(programDir.path()).canonicalFilePath();
    ASSERT_TRUE(copy_program("tessaract", folder));
    ASSERT_TRUE(QFile::copy(m_settingsDir + "/config.xml", folder + "/config.xml"));
    ChildProcess viewer;
    ChildProcess::Options options;
    options.program = (folder + "/tessaract").toStdString();
    options.args = {m_sim->launch_text()};
    options.env = {{"QT_QPA_PLATFORM", "offscreen"}, {"XDG_STATE_HOME", (folder + "/state").toStdString()}};
    options.outputFile = (folder + "/output.txt").toStdString();
    ASSERT_TRUE(viewer.start(options));
    ASSERT_TRUE(wait_until([&] { return align_reports() >= 20; }, 20000)) // sanitizer builds start slowly
        << sim_reply("viewers") << read_file_text(folder + "/output.txt");
    const auto unmaps = [&] {
        const auto records = read_device_records(m_jsonPath);
        return std::count_if(records.begin(), records.end(), [](const device_record &r) {
            return r.channel == "media" && r.type == 7 && r.payload.rfind("0100", 0) == 0;
        });
    };
    const auto before = unmaps();
    viewer.signal(GetParam());
    const auto status = viewer.waitExit(3000);
    ASSERT_TRUE(status.has_value()) << "still running 3 s after the signal";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "ended by signal " << WTERMSIG(*status);
    EXPECT_TRUE(wait_until([&] { return unmaps() > before; }, kWaitMs)) << "no final unmap";
    std::string logText;
    for (const QString &name : QDir(folder + "/log").entryList(QDir::Files))
        logText += read_file_text(folder + "/log/" + name);
    EXPECT_TRUE(has(logText, "signal " + std::to_string(GetParam()) + " received, closing")) << logText;
    EXPECT_TRUE(wait_until([&] { return has(sim_reply("viewers"), "km:- video:- media:-"); }, kWaitMs)) << sim_reply("viewers");
}
