#include "c_status_line.h"

#include <gtest/gtest.h>

namespace {

struct privilege_case {
    bool channelUp, answered, writing, requestAllowed;
    const char *text;
};

} // namespace

// What the status line says for each privilege state, each disk and the connection.
TEST(StatusLine, SaysWhoHoldsThePrivilegeWhichDiskIsMappedAndWhatIsDown)
{
    const privilege_case cases[] = {
        {false, true, true, true, "Control: nobody"}, // the device freed it with the channel
        {true, false, false, true, "Control: nobody"},
        {true, true, true, false, "Control: this viewer"},
        {true, true, false, true, "Control: another viewer"},
        {true, true, false, false, "Control: another viewer (asked to hand over)"},
    };
    for (const privilege_case &c : cases)
        EXPECT_EQ(c_status_line::holder_text(c_status_line::holder_of(
                      c.channelUp, c.answered, c.writing, c.requestAllowed)), c.text)
            << c.channelUp << c.answered << c.writing << c.requestAllowed;

    EXPECT_EQ(c_status_line::disk_text({}), "Disk: none");
    EXPECT_EQ(c_status_line::disk_text({"disk.img", 4u << 20, true}), "Disk: disk.img, 4.0 MiB, read-only");
    EXPECT_EQ(c_status_line::disk_text({"sdb", std::uint64_t{15} << 30, false}), "Disk: sdb, 15.0 GiB, read-write");
    EXPECT_EQ(c_status_line::locks_text(-1), "");
    EXPECT_EQ(c_status_line::locks_text(0), "");
    EXPECT_EQ(c_status_line::locks_text(0x02), "CAPS");
    EXPECT_EQ(c_status_line::locks_text(0x07), "NUM CAPS SCRL");
    EXPECT_EQ(c_status_line::connection_text(""), "Connected");
    EXPECT_EQ(c_status_line::connection_text("Video channel lost. Reconnecting in 2 s"),
              "Video channel lost. Reconnecting in 2 s");
}
