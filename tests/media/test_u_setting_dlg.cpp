// The media window's own behaviour; the mapping itself is the session's. The device is
// unreachable: what the window would send stays in the session's queue, where the test
// reads it.
#include "media_support.h"

#include "c_ui_u_setting_dlg.h"
#include "media/u_packets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

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

    std::unique_ptr<c_ui_u_setting_dlg> dialog(const QStringList &images)
    {
        qputenv("TESSARACT_IMAGES", images.join(u':').toLocal8Bit());
        c_ui_u_setting_dlg::options config;
        config.ip = "127.0.0.1";
        config.port = socket_test::free_port();
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
    static void expect_mapped(QWidget &d, bool mapped)
    {
        auto *bar = d.findChild<QProgressBar *>("progPercent");
        EXPECT_EQ((std::vector<bool>{d.findChild<QComboBox *>("comboBox")->isEnabled(), d.findChild<QPushButton *>("mapButton")->isEnabled(),
                                     d.findChild<QPushButton *>("unmapButton")->isEnabled(), d.findChild<QCheckBox *>("checkBox")->isEnabled(),
                                     bar->isEnabled(), bar->value() == 0}),
                  (std::vector<bool>{!mapped, !mapped, mapped, true, mapped, true}))
            << (mapped ? "mapped" : "unmapped");
    }
    static void click(QWidget &d, const char *name) { d.findChild<QPushButton *>(name)->click(); }

    QComboBox *box = nullptr;
};

} // namespace

// The read-only box picks the map flags; a map that fails changes nothing.
TEST_F(UDialog, MapAndUnmapSwitchTheWidgetsAndWhatIsSent)
{
    test_image image(16), gone(8, 2, "gone.img");
    const auto d = dialog({image.path(), gone.path()});
    auto *notice = d->findChild<QMessageBox *>(); // the device cannot be reached
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->text(), QStringLiteral("虚拟媒体服务器连接出错."));
    notice->close();
    expect_mapped(*d, false);
    ASSERT_TRUE(QFile::remove(gone.path())); // still listed: the list is refreshed each second
    box->setCurrentIndex(box->findText(gone.path(), Qt::MatchStartsWith));
    click(*d, "mapButton");
    expect_mapped(*d, false);
    EXPECT_TRUE(maps(*d).empty());

    box->setCurrentIndex(box->findText(image.path(), Qt::MatchStartsWith));
    d->findChild<QCheckBox *>("checkBox")->setChecked(true);
    click(*d, "mapButton");
    expect_mapped(*d, true);
    EXPECT_EQ(maps(*d), (std::vector<bytes>{{0, 0, 0, 0, 0}, {0x81, 0, 0, 0, 16}}));
    click(*d, "unmapButton");
    expect_mapped(*d, false);
    EXPECT_EQ(maps(*d), (std::vector<bytes>{{0, 0, 0, 0, 16}})); // the unmap empties the queue first
    d->findChild<QCheckBox *>("checkBox")->setChecked(false);
    click(*d, "mapButton");
    expect_mapped(*d, true);
    EXPECT_EQ(maps(*d), (std::vector<bytes>{{0, 0, 0, 0, 16}, {0, 0, 0, 0, 0}, {0x01, 0, 0, 0, 16}}));
}

// New images are appended (not sorted in), vanished ones removed, the selection stays on
// what is still there; the image button adds and selects.
TEST_F(UDialog, DriveListFollowsTheImagesAndTheImageButton)
{
    test_image z(4, 1, "z.img"), a(2, 2, "a.img"), added(4, 3, "added.img");
    const auto d = dialog({z.path()});
    const auto wait_count = [&](int n) {
        for (const QDeadlineTimer deadline(5000); box->count() != n; QTest::qWait(10))
            if (deadline.hasExpired())
                return false;
        return true;
    };
    ASSERT_EQ(box->count(), 1);
    EXPECT_TRUE(box->itemText(0).startsWith(z.path() + "  image file ("));
    qputenv("TESSARACT_IMAGES", (z.path() + ':' + a.path()).toLocal8Bit());
    ASSERT_TRUE(wait_count(2));
    EXPECT_TRUE(box->itemText(1).startsWith(a.path()));
    box->setCurrentIndex(1);
    ASSERT_TRUE(QFile::remove(z.path()));
    ASSERT_TRUE(wait_count(1));
    EXPECT_TRUE(box->currentText().startsWith(a.path()));
    d->add_image_file(added.path());
    EXPECT_TRUE(box->currentText().startsWith(added.path()));
}
