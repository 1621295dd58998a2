#include "media_test_support.h"

#include "c_ui_u_setting_dlg.h"
#include "media/u_packets.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/SocketChannel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace media_test;
using socket_test::log_lines_with;

namespace {

// Processes events until pred holds or the time is up.
bool pump_until(const std::function<bool()> &pred, int timeoutMs = 3000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

// The device answers only through the media channel's threads; without them
// (MediaChannel.FactoryBuildsTheMediaPair fails) the exchange cannot be checked.
#define NEED_CHANNEL(dialog)                                                               \
    if (!(dialog).session().channel()->valid())                                            \
    GTEST_SKIP() << "SocketThreadFactory builds no media threads"

struct UDialog : ::testing::Test {
    void SetUp() override
    {
        qputenv("TESSARACT_IMAGES", QByteArray());
        if (!list_removable_drives().empty())
            GTEST_SKIP() << "this machine has removable drives; the list would not be ours";
    }
    void TearDown() override { qunsetenv("TESSARACT_IMAGES"); }

    c_ui_u_setting_dlg::options options()
    {
        c_ui_u_setting_dlg::options config;
        config.ip = "127.0.0.1";
        config.port = device.port();
        config.userID = 3;
        config.session.mapPauseMs = 0;
        config.session.interactiveAuth = false;
        config.session.now = [this] { return clock.now; };
        config.modalNotices = false;
        return config;
    }
    static void set_images(const QStringList &paths)
    {
        qputenv("TESSARACT_IMAGES", paths.join(u':').toLocal8Bit());
    }
    template <typename W>
    static W *child(QWidget &dialog, const char *name)
    {
        W *widget = dialog.findChild<W *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static QStringList items(QWidget &dialog)
    {
        QStringList texts;
        auto *box = child<QComboBox>(dialog, "comboBox");
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    }
    static void expect_mapped(QWidget &dialog, bool mapped)
    {
        EXPECT_EQ(child<QComboBox>(dialog, "comboBox")->isEnabled(), !mapped);
        EXPECT_EQ(child<QPushButton>(dialog, "mapButton")->isEnabled(), !mapped);
        EXPECT_EQ(child<QPushButton>(dialog, "unmapButton")->isEnabled(), mapped);
        EXPECT_TRUE(child<QCheckBox>(dialog, "checkBox")->isEnabled());
        auto *bar = child<QProgressBar>(dialog, "progPercent");
        EXPECT_EQ(bar->isEnabled(), mapped);
        if (!mapped) {
            EXPECT_EQ(bar->value(), 0);
        }
    }

    manual_clock clock;
    fake_u_device device;
};

} // namespace

TEST_F(UDialog, StartsUnmappedWithItsTextsAndSendsUserId)
{
    c_ui_u_setting_dlg dialog(options(), nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Virtual Media Setting");
    EXPECT_EQ(child<QLabel>(dialog, "label")->text(), "Map Drive");
    EXPECT_EQ(child<QLabel>(dialog, "label_2")->text(), "Map Mode");
    EXPECT_EQ(child<QCheckBox>(dialog, "checkBox")->text(), "Read Only");
    EXPECT_EQ(child<QPushButton>(dialog, "mapButton")->text(), "Map");
    EXPECT_EQ(child<QPushButton>(dialog, "unmapButton")->text(), "Unmap");
    EXPECT_EQ(child<QLabel>(dialog, "label_3")->text(), "Progress:");
    auto *edit = child<QLineEdit>(dialog, "lineEdit");
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_LE(edit->maximumWidth(), 75);
    EXPECT_TRUE(edit->text().isEmpty());
    expect_mapped(dialog, false);
    NEED_CHANNEL(dialog);
    ASSERT_TRUE(device.wait_count(0x32, 1));
    EXPECT_EQ(device.frames()[0].body(), (bytes{0x32, 0, 0, 0, 3}));
}

TEST_F(UDialog, GrowsToShowEveryButtonWholeUnderTheStyleSheet)
{
    Q_INIT_RESOURCE(resources);
    QFile sheet(":/qss/H264Video");
    ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    set_images({QStringLiteral("/tmp/a-rather-long-folder-name/and-a-long-disk-image-name.img")});
    {
        c_ui_u_setting_dlg dialog(options(), nullptr);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        EXPECT_GE(dialog.width(), 284);
        EXPECT_GE(dialog.height(), 152);
        for (const char *name : {"mapButton", "unmapButton", "imageButton"}) {
            auto *button = child<QPushButton>(dialog, name);
            EXPECT_GE(button->width(), button->sizeHint().width()) << name;
        }
    }
    qApp->setStyleSheet({});
}

TEST_F(UDialog, MapWithAnEmptyListDoesNothing)
{
    c_ui_u_setting_dlg dialog(options(), nullptr);
    ASSERT_EQ(child<QComboBox>(dialog, "comboBox")->count(), 0);
    child<QPushButton>(dialog, "mapButton")->click();
    expect_mapped(dialog, false);
    EXPECT_FALSE(dialog.session().is_mapped());
    // A map queues its unmap at once; nothing but the userID message may be queued.
    mt_queue<CQUEUE_MESSAGE> queue = dialog.session().queue();
    CQUEUE_MESSAGE head;
    if (queue.copyFirst(head)) {
        EXPECT_EQ(u_frame_type(head), 0x32);
    }
    EXPECT_LE(queue.size(), 1);
}

TEST_F(UDialog, DriveListFollowsTheImagesWithinASecond)
{
    test_image z(4, 1, "z.img");
    set_images({z.path()});
    c_ui_u_setting_dlg dialog(options(), nullptr);
    ASSERT_EQ(items(dialog).size(), 1);
    EXPECT_TRUE(items(dialog)[0].startsWith(z.path() + "  image file ("));

    test_image a(2, 2, "a.img"); // sorts first, but is appended after what is listed
    set_images({z.path(), a.path()});
    ASSERT_TRUE(pump_until([&] { return items(dialog).size() == 2; }, 1500));
    EXPECT_TRUE(items(dialog)[1].startsWith(a.path()));
    auto *box = child<QComboBox>(dialog, "comboBox");
    box->setCurrentIndex(1);

    ASSERT_TRUE(QFile::remove(z.path()));
    ASSERT_TRUE(pump_until([&] { return items(dialog).size() == 1; }, 1500));
    EXPECT_TRUE(items(dialog)[0].startsWith(a.path()));
    EXPECT_EQ(box->currentIndex(), 0); // the selection stayed on the image still there
}

TEST_F(UDialog, MapAndUnmapSwitchTheWidgetsAndTheWire)
{
    test_image image(16);
    set_images({image.path()});
    c_ui_u_setting_dlg dialog(options(), nullptr);
    NEED_CHANNEL(dialog);
    const std::shared_ptr<c_read_write_disk_sector_win> none = dialog.session().disk();
    child<QCheckBox>(dialog, "checkBox")->setChecked(true);
    child<QPushButton>(dialog, "mapButton")->click();
    expect_mapped(dialog, true);
    auto *bar = child<QProgressBar>(dialog, "progPercent");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    ASSERT_TRUE(device.wait_count(0x08, 1));
    auto maps = device.frames_of(0x07);
    ASSERT_EQ(maps.size(), 2u);
    EXPECT_EQ(maps[0].body(), (bytes{0x07, 0x01, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(maps[1].body(), (bytes{0x07, 0x01, 0x81, 0, 0, 0, 16}));
    const auto first = dialog.session().disk();

    child<QPushButton>(dialog, "unmapButton")->click();
    expect_mapped(dialog, false);
    EXPECT_EQ(child<QLabel>(dialog, "label_3")->text(), "Progress:");
    ASSERT_TRUE(device.wait_count(0x07, 3));
    EXPECT_EQ(device.frames_of(0x07)[2].body(), (bytes{0x07, 0x01, 0x00, 0, 0, 0, 16}));

    child<QCheckBox>(dialog, "checkBox")->setChecked(false);
    child<QPushButton>(dialog, "mapButton")->click();
    expect_mapped(dialog, true);
    ASSERT_TRUE(device.wait_count(0x07, 5));
    EXPECT_EQ(device.frames_of(0x07)[4].body(), (bytes{0x07, 0x01, 0x01, 0, 0, 0, 16}));
    EXPECT_NE(dialog.session().disk(), first); // a new disk object for every map
    EXPECT_EQ(none, nullptr);
}

TEST_F(UDialog, ProgressBarFollowsReadsThenFiveQuietSeconds)
{
    test_image image(16);
    set_images({image.path()});
    c_ui_u_setting_dlg dialog(options(), nullptr);
    child<QPushButton>(dialog, "mapButton")->click();
    auto *bar = child<QProgressBar>(dialog, "progPercent");
    auto *label = child<QLabel>(dialog, "label_3");

    dialog.request_read(0, 15000);
    dialog.on_slot_progress_tick();
    EXPECT_EQ(bar->value(), 50);
    EXPECT_EQ(label->text(), QStringLiteral("Progress(0S）:"));
    clock.advance(std::chrono::milliseconds(3000));
    dialog.on_slot_progress_tick();
    EXPECT_EQ(label->text(), QStringLiteral("Progress(3S）:"));
    clock.advance(std::chrono::milliseconds(5100)); // no read instruction for 5.1 s
    dialog.on_slot_progress_tick();
    EXPECT_EQ(bar->value(), 100);
    EXPECT_EQ(label->text(), QStringLiteral("Progress(8S）:"));
    clock.advance(std::chrono::milliseconds(2000));
    dialog.on_slot_progress_tick();
    EXPECT_EQ(label->text(), QStringLiteral("Progress(8S）:")); // complete: nothing changes

    child<QPushButton>(dialog, "unmapButton")->click();
    child<QPushButton>(dialog, "mapButton")->click();
    EXPECT_EQ(bar->value(), 0);
    dialog.request_read(0, 30000); // 30000 sectors complete it at once
    dialog.on_slot_progress_tick();
    EXPECT_EQ(bar->value(), 100);
    EXPECT_EQ(label->text(), QStringLiteral("Progress(0S）:"));
}

TEST_F(UDialog, MapOfALockedImageLeavesEveryWidgetAsItWas)
{
    test_image image(16);
    set_images({image.path()});
    c_ui_u_setting_dlg dialog(options(), nullptr);
    const int fd = ::open(QFile::encodeName(image.path()).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const int lockFailures = log_lines_with("FSCTL_LOCK_VOLUME failed! (");
    child<QPushButton>(dialog, "mapButton")->click();
    ::close(fd);
    expect_mapped(dialog, false);
    EXPECT_FALSE(dialog.session().is_mapped());
    EXPECT_EQ(log_lines_with("FSCTL_LOCK_VOLUME failed! ("), lockFailures + 1);
}

TEST_F(UDialog, ImageFileButtonAddsTheImageAndSelectsIt)
{
    test_image first(4, 1, "first.img");
    test_image added(4, 2, "added.img");
    set_images({first.path()});
    c_ui_u_setting_dlg dialog(options(), nullptr);
    dialog.add_image_file(added.path());
    ASSERT_EQ(items(dialog).size(), 2);
    EXPECT_TRUE(child<QComboBox>(dialog, "comboBox")->currentText().startsWith(added.path()));
}

TEST_F(UDialog, UnreachableDeviceShowsTheNoticeAndKeepsTheWindowUsable)
{
    c_ui_u_setting_dlg::options config = options();
    config.port = socket_test::free_port();
    c_ui_u_setting_dlg dialog(config, nullptr);
    auto *box = dialog.findChild<QMessageBox *>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("提示"));
    EXPECT_EQ(box->text(), QStringLiteral("虚拟媒体服务器连接出错."));
    box->close();
    expect_mapped(dialog, false);
}
