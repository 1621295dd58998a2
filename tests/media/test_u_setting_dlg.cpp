// The media window's own behaviour; the mapping itself is the session's. The device is a
// loopback listener that answers nothing unless a test plays it: what the window would send
// stays in the session's queue, where the test reads it.
#include "media_support.h"

#include "c_ui_u_setting_dlg.h"
#include "media/u_packets.h"
#include "protocol/frame.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

using namespace media_test;

namespace {

struct UDialog : ::testing::Test {
    void SetUp() override
    {
        qputenv("TESSARACT_IMAGES", QByteArray());
        if (!list_removable_drives().empty())
            GTEST_SKIP() << "this machine has removable drives; the list would not be ours";
    }
    void TearDown() override { qunsetenv("TESSARACT_IMAGES"); }

    std::unique_ptr<c_ui_u_setting_dlg> dialog(const QStringList &images, bool reachable = true)
    {
        qputenv("TESSARACT_IMAGES", images.join(u':').toLocal8Bit());
        c_ui_u_setting_dlg::options config;
        config.ip = "127.0.0.1";
        config.port = reachable ? device.port() : socket_test::free_port();
        config.session.mapPauseMs = 0;
        config.session.interactiveAuth = false;
        config.modalNotices = false;
        auto d = std::make_unique<c_ui_u_setting_dlg>(config, nullptr);
        box = d->findChild<QComboBox *>("comboBox");
        return d;
    }
    // The map frames queued, as their flags and sector counts.
    static std::vector<bytes> maps(c_ui_u_setting_dlg &d)
    {
        std::vector<bytes> out;
        for (const CQUEUE_MESSAGE &m : queued(d.session().queue()))
            if (u_frame_type(m) == kUTypeMap)
                out.emplace_back(m.buffer.get() + 13, m.buffer.get() + m.length);
        return out;
    }
    static void expect_mapped(QWidget &d, bool mapped, bool readOnly)
    {
        auto *bar = d.findChild<QProgressBar *>("progPercent");
        auto *check = d.findChild<QCheckBox *>("checkBox");
        EXPECT_EQ((std::vector<bool>{d.findChild<QComboBox *>("comboBox")->isEnabled(), d.findChild<QPushButton *>("mapButton")->isEnabled(),
                                     d.findChild<QPushButton *>("unmapButton")->isEnabled(), check->isEnabled(), check->isChecked(),
                                     bar->isEnabled(), bar->value() == 0}),
                  (std::vector<bool>{!mapped, !mapped, mapped, !mapped, readOnly, mapped, true}))
            << (mapped ? "mapped" : "unmapped");
    }
    static void click(QWidget &d, const char *name) { d.findChild<QPushButton *>(name)->click(); }
    void select(const test_image &image) { box->setCurrentIndex(box->findText(image.path(), Qt::MatchStartsWith)); }
    // The device's side: reads the next frame and answers it with `body`.
    static bool answer(int peer, const bytes &body)
    {
        std::uint8_t head[11];
        bytes frame(4096);
        return socket_test::read_fd(peer, head, 11) && socket_test::read_fd(peer, frame.data(), read_be32(head + 7)) &&
               socket_test::write_fd(peer, socket_test::frame_bytes(body));
    }

    socket_test::loopback_listener device;
    QComboBox *box = nullptr;
};

} // namespace

// The read-only box picks the map flags, shows the mode mapped (an image nobody may write
// goes read-only) and is fixed while mapped; Unmap gives back the user's choice.
TEST_F(UDialog, MapAndUnmapSwitchTheWidgetsAndWhatIsSent)
{
    test_image image(16);
    const auto d = dialog({image.path()});
    expect_mapped(*d, false, false);
    d->findChild<QCheckBox *>("checkBox")->setChecked(true);
    click(*d, "mapButton");
    expect_mapped(*d, true, true);
    EXPECT_EQ(maps(*d), (std::vector<bytes>{{0, 0, 0, 0, 0}, {0x81, 0, 0, 0, 16}}));
    click(*d, "unmapButton");
    expect_mapped(*d, false, true);
    EXPECT_EQ(maps(*d), (std::vector<bytes>{{0, 0, 0, 0, 16}})); // the unmap empties the queue first
    d->findChild<QCheckBox *>("checkBox")->setChecked(false);
    click(*d, "mapButton");
    expect_mapped(*d, true, false);
    EXPECT_EQ(maps(*d).back(), (bytes{0x01, 0, 0, 0, 16}));
    click(*d, "unmapButton");
    ASSERT_TRUE(QFile::setPermissions(image.path(), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    click(*d, "mapButton");
    expect_mapped(*d, true, true);
    EXPECT_EQ(maps(*d).back(), (bytes{0x81, 0, 0, 0, 16}));
    click(*d, "unmapButton");
    expect_mapped(*d, false, false);
}

// Every map that fails says why in a warning box on the dialog, which stays unmapped.
TEST_F(UDialog, FailedMapNamesItsCause)
{
    test_image image(16), gone(8, 2, "gone.img");
    c_read_write_disk_sector_win holder;
    unique_fd peer;
    struct row {
        const char *cause;
        std::function<void()> before, after;
        bool reachable = true;
    };
    const std::function<void()> none = [] {};
    const row rows[] = { // the first row takes the only connection the listener holds
        {"The device refused the disk", [&] { select(image), peer = device.accept_one(); },
         [&] { ASSERT_TRUE(answer(peer.get(), {0x32, 0}) && answer(peer.get(), {0x07, 1, 0}) && answer(peer.get(), {0x07, 1, 1})); }},
        {"No drive or image file is selected", [&] { box->setCurrentIndex(-1); }, none},
        {"It no longer exists", [&] { select(gone), QFile::remove(gone.path()); }, none},
        {"It is busy", [&] { select(image), holder.openDisk(image.path()); }, [&] { holder.closeDisk(); }},
        {"Permission denied", [&] { select(image), QFile::setPermissions(image.path(), {}); },
         [&] { QFile::setPermissions(image.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner); }},
        {"The device is not connected", [&] { select(image); }, none, false},
    };
    for (const row &r : rows) {
        if (std::string(r.cause) == "Permission denied" && ::geteuid() == 0)
            continue; // root opens any file
        const auto d = dialog({image.path(), gone.path()}, r.reachable);
        r.before();
        click(*d, "mapButton");
        r.after();
        const auto notice = [&]() -> QMessageBox * {
            for (QMessageBox *b : d->findChildren<QMessageBox *>())
                if (b->windowTitle() == "Map failed")
                    return b;
            return nullptr;
        };
        ASSERT_TRUE(QTest::qWaitFor([&] { return notice() != nullptr && !d->mapped(); })) << r.cause;
        EXPECT_TRUE(notice()->text().contains(r.cause)) << notice()->text().toStdString();
        expect_mapped(*d, false, false);
    }
}

// New images are appended (not sorted in), vanished ones removed, the selection stays on
// what is still there; a TESSARACT_IMAGES entry that is no file is reported once; long
// paths show elided in the middle with the whole entry as tool tip; the image button adds
// and selects.
TEST_F(UDialog, DriveListFollowsTheImagesAndTheImageButton)
{
    test_image z(4, 1, "z.img"), a(2, 2, "a.img"), added(4, 3, QString(150, u'x') + ".img");
    const QString missing = z.dir() + "/missing.img";
    const auto d = dialog({z.path(), missing});
    const auto wait_count = [&](int n) { return QTest::qWaitFor([&] { return box->count() == n; }, 5000); };
    auto *notice = d->findChild<QLabel *>("noticeLabel");
    ASSERT_EQ(box->count(), 1);
    EXPECT_TRUE(box->itemText(0).startsWith(z.path() + "  image file ("));
    EXPECT_EQ(notice->text(), "Not found (TESSARACT_IMAGES): " + missing);
    qputenv("TESSARACT_IMAGES", (z.path() + ':' + a.path() + ':' + missing).toLocal8Bit());
    ASSERT_TRUE(wait_count(2));
    EXPECT_EQ(socket_test::log_lines_with("missing.img, which is no file"), 1);
    EXPECT_TRUE(box->itemText(1).startsWith(a.path()));
    box->setCurrentIndex(1);
    ASSERT_TRUE(QFile::remove(z.path()));
    ASSERT_TRUE(wait_count(1));
    EXPECT_TRUE(box->currentText().startsWith(a.path()));
    d->add_image_file(added.path());
    EXPECT_TRUE(box->currentText().contains(u'…') && box->currentText().endsWith("xx.img  image file (2.0 KiB)"))
        << box->currentText().toStdString();
    EXPECT_TRUE(box->toolTip().startsWith(added.path()));
}
