#include "loopback.h"
#include "video/H264Decoder.h"
#include "video/c_video_picture_path.h"
#include "video/display_geometry.h"
#include "video_picture_image.h"
#include "video_test_support.h"

#include <gtest/gtest.h>

using socket_test::bytes;
using socket_test::video_body;

namespace {

// A picture path whose sink keeps every picture it was handed.
struct PicturePath : ::testing::Test {
    void SetUp() override { ASSERT_TRUE(path.setup()); }
    void feed(const bytes &body) { path.on_video_fragment(body.data(), std::uint32_t(body.size())); }
    void feed(std::uint8_t last, const bytes &data) { feed(video_body(last, data)); }

    // Whether `picture` holds what a decoder of its own gives for these pictures' last one.
    static bool decoded_as(const video_picture &picture, const std::vector<bytes> &pictures)
    {
        H264Decoder decoder;
        decoder.open();
        bytes out(c_video_picture_path::kOutputLimit + picture_layout::kTailPadding);
        int w = 0, h = 0;
        for (const auto &p : pictures)
            decoder.decode(p.data(), int(p.size()), out.data(), out.size(), w, h);
        return std::size_t(picture.stride) * picture.height == std::size_t(w) * h * 4
            && std::equal(out.begin(), out.begin() + std::ptrdiff_t(w) * h * 4, picture.data());
    }

    std::vector<video_picture> shown;
    c_video_picture_path path{[this](video_picture p) { shown.push_back(std::move(p)); }};
};

} // namespace

// Fragments are held until the one marked last (any value but 1 means "more follows"); a
// whole picture in one fragment is decoded without a copy, into a pooled buffer that is
// reused once nobody holds it; an image the GUI still holds is never written over.
TEST_F(PicturePath, FragmentsGiveOnePictureAfterTheLastIntoReusedBuffers)
{
    const auto stream = encode_pictures(12, 320, 240);
    const std::size_t third = stream[0].size() / 3;
    feed(video_body(0, stream[0].data(), third));
    feed(video_body(2, stream[0].data() + third, third));
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(path.assembler()->fill(), 2 * third);
    feed(video_body(1, stream[0].data() + 2 * third, stream[0].size() - 2 * third));
    EXPECT_EQ(path.assembler()->fill(), 0u);
    EXPECT_EQ(path.statistics().assembledPictures, 1u);
    ASSERT_EQ(shown.size(), 1u);
    for (std::size_t i = 1; i < 7; ++i) {
        shown.clear();
        feed(1, stream[i]);
        ASSERT_EQ(shown.size(), 1u);
    }
    shown.clear();
    EXPECT_EQ(path.buffers_allocated(), 1u);
    EXPECT_EQ(path.statistics().directPictures, 6u);
    feed(1, stream[7]);
    EXPECT_TRUE(decoded_as(shown[0], {stream.begin(), stream.begin() + 8}));
    const QImage held = video_picture_image(shown[0]), snapshot = held.copy();
    EXPECT_EQ(held.constBits(), shown[0].data());
    for (std::size_t i = 8; i < stream.size(); ++i, shown.clear())
        feed(1, stream[i]);
    EXPECT_EQ(held, snapshot);
    EXPECT_EQ(path.buffers_allocated(), 2u);
    EXPECT_TRUE(video_picture_image(video_picture{}).isNull());
    // Set up again, the path starts a fresh session: nothing held, and a key frame needed.
    feed(2, stream[0]);
    ASSERT_TRUE(path.setup());
    EXPECT_EQ(path.assembler()->fill(), 0u);
    feed(1, stream[1]);
    EXPECT_TRUE(shown.empty());
    feed(1, stream[0]);
    EXPECT_EQ(shown.size(), 1u);
}

// Malformed bodies, a picture whose fragment was lost, a picture over the assembler's
// capacity (with its remaining fragments) and one that decodes past the output limit
// (4096 x 2112 x 4 > 33,554,432 bytes) are dropped; the next picture is shown.
TEST_F(PicturePath, DropsWhatItCannotShowAndShowsTheNextPicture)
{
    constexpr std::uint32_t kLimit = c_video_picture_path::kAssemblerCapacity;
    const auto small = encode_pictures(1, 320, 240), large = encode_pictures(1, 4096, 2112);
    ASSERT_EQ(large.size(), 1u);
    const int before = socket_test::log_lines_with("picture dropped");
    const bytes body = video_body(1, small[0]), half(kLimit / 2 + 1, 0x11);
    path.on_video_fragment(body.data(), 11);                             // shorter than its head
    path.on_video_fragment(body.data(), std::uint32_t(body.size() - 1)); // data cut short
    path.on_video_fragment(nullptr, 0);
    EXPECT_EQ(path.statistics().dropped, 3u);
    feed(video_body(0, small[0].data(), 100));
    path.discard_partial(); // the receive side lost a fragment of it
    EXPECT_EQ(path.assembler()->fill(), 0u);
    feed(0, half);
    feed(0, half); // two bytes over the limit
    EXPECT_EQ(path.assembler()->fill(), 0u);
    feed(0, half);
    feed(1, small[0]); // the oversize picture's last fragment: skipped too
    feed(0, bytes(kLimit - 100, 0));
    feed(0, bytes(100, 0));
    EXPECT_EQ(path.assembler()->fill(), kLimit) << "exactly the limit fits";
    feed(1, bytes(1, 0));
    EXPECT_EQ(path.assembler()->fill(), 0u);
    EXPECT_EQ(path.statistics().dropped, 5u);
    feed(1, large[0]);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(socket_test::log_lines_with("picture dropped") - before, 3);
    feed(1, small[0]);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].width, 320);
}

// The picture fits by its relatively longer side, centred (an odd margin halved toward
// zero), and is as large as QImage's fast scaling of it, which is what is drawn. An empty
// picture or area shows nothing, nor does a very tall picture in a 1-pixel-high area.
TEST(DisplayGeometry, FitsByTheRelativelyLongerSideAsQImageScales)
{
    const struct { int pw, ph, aw, ah; display_geometry expected; } cases[] = {
        {1920, 1080, 960, 800, {960, 540, 0, 130, 2.0f, 2.0f}},
        {1024, 768, 1600, 900, {1200, 900, 200, 0, float(1024.0 / 1200.0), float(768.0 / 900.0)}},
        {1280, 720, 1920, 1080, {1920, 1080, 0, 0, float(1280.0 / 1920.0), float(720.0 / 1080.0)}},
        {1366, 768, 1301, 903, {1301, 731, 0, 86, float(1366.0 / 1301.0), float(768.0 / 731.0)}},
        {720, 400, 1686, 436, {785, 436, 450, 0, float(720.0 / 785.0), float(400.0 / 436.0)}},
        {0, 1080, 960, 800, {}}, {1920, 0, 960, 800, {}}, {1920, 1080, 0, 800, {}}, {1920, 1080, 960, -1, {}},
        {1, 4000, 1000, 1, {}}};
    for (const auto &[pw, ph, aw, ah, expected] : cases) {
        const auto g = compute_display_geometry(pw, ph, aw, ah);
        EXPECT_EQ(g.value_or(display_geometry{}), expected) << pw << "x" << ph << " in " << aw << "x" << ah;
        const QImage picture(pw, ph, QImage::Format_RGB32);
        if (g) {
            const bool taller = double(pw) / ph < double(aw) / ah;
            EXPECT_EQ(QSize(g->shownWidth, g->shownHeight),
                      (taller ? picture.scaledToHeight(ah) : picture.scaledToWidth(aw)).size());
        }
    }
}

// Every view maps a label point to the remote pixel under it: (point - offset) x ratio. Fit
// (fast or smooth scaling alike) as above; actual size 1:1, centred along a side the picture
// does not fill, and scrolled (kept within the picture) along a side it overflows.
TEST(DisplayGeometry, EachViewMapsLabelPointsToTheRemotePixelUnderThem)
{
    const struct { view_mode mode; int pw, ph, sx, sy; display_geometry expected; QPoint centre; } cases[] = {
        {view_mode::fit, 1920, 1080, 50, 60, {800, 450, 0, 75, 2.4f, 2.4f}, {960, 540}},
        {view_mode::actual, 640, 360, 50, 60, {640, 360, 80, 120, 1, 1}, {320, 180}},
        {view_mode::actual, 1920, 1080, 500, 300, {1920, 1080, -500, -300, 1, 1}, {900, 600}},
        {view_mode::actual, 1920, 1080, 5000, -9, {1920, 1080, -1120, 0, 1, 1}, {1520, 300}},
        {view_mode::actual, 1024, 900, 90, 90, {1024, 900, -90, -90, 1, 1}, {490, 390}}};
    for (auto [mode, pw, ph, sx, sy, expected, centre] : cases) {
        const auto g = compute_view_geometry(mode, pw, ph, 800, 600, sx, sy).value_or(display_geometry{});
        EXPECT_EQ(g, expected) << pw << "x" << ph << " scrolled " << sx << "," << sy;
        EXPECT_EQ(QPoint(int((400 - g.offsetX) * g.xRatio), int((300 - g.offsetY) * g.yRatio)), centre);
    }
}

// The view pans only with the pointer in the band along an edge, faster nearer the edge.
TEST(DisplayGeometry, EdgePanGrowsTowardTheEdgeInsideTheBandOnly)
{
    const struct { int position, step; } cases[] = {{-5, -40}, {0, -40}, {16, -20}, {31, -2}, {32, 0},
                                                   {400, 0}, {767, 0}, {768, 2}, {799, 40}, {900, 40}};
    for (const auto &[position, step] : cases)
        EXPECT_EQ(edge_pan_step(position, 800, 32, 40), step) << position;
}
