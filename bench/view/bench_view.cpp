// Showing one remote picture in the default 800 x 600 video label: the label's own paint
// with fast (nearest-pixel) and with smooth scaling, and the two smooth ways it chooses
// between, each on its own: the painter's bilinear filter, and QImage's smooth (averaging)
// scaling once per picture, drawn 1:1. 1080p and 2160p pictures; ratios to the fast path
// printed at the end.
#include "video_label.h"
#include "video/display_geometry.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

namespace {

constexpr int kLabelWidth = 800;
constexpr int kLabelHeight = 600;

// Noise with some sharp lines, like console text: the content does not steer the cost, but
// no scaler gets to skip uniform areas.
QImage test_picture(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<quint32 *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = (y % 16 < 2 || x % 9 == 0) ? 0xffffffffu : (random() & 0x3f3f3fu) | 0xff000000u;
    }
    return picture;
}

enum class way { fast, smooth, bilinear, averaged };

void BM_ShowPicture(benchmark::State &state, way how, int width, int height)
{
    const QImage picture = test_picture(width, height);
    const auto geometry = compute_display_geometry(width, height, kLabelWidth, kLabelHeight);
    c_video_label label;
    label.resize(kLabelWidth, kLabelHeight);
    label.set_smooth_scaling(how == way::smooth);
    // The window's backing store format.
    QImage target(kLabelWidth, kLabelHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        const QRect shown(geometry->offsetX, geometry->offsetY, geometry->shownWidth,
                          geometry->shownHeight);
        if (how == way::bilinear || how == way::averaged) {
            QPainter painter(&target);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, how == way::bilinear);
            if (how == way::bilinear)
                painter.drawImage(shown, picture);
            else
                painter.drawImage(shown.topLeft(),
                                  picture.scaled(shown.size(), Qt::IgnoreAspectRatio,
                                                 Qt::SmoothTransformation));
        } else {
            label.show_picture(picture, *geometry);
            label.render(&target);
        }
        benchmark::DoNotOptimize(target.constBits());
    }
}

class ratio_reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (!run.error_occurred && run.iterations > 0)
                m_ms[run.benchmark_name()] = run.real_accumulated_time * 1e3 / run.iterations;
    }

    void print_ratios() const
    {
        std::printf("\nPer picture into the %dx%d label (same run):\n", kLabelWidth, kLabelHeight);
        for (const char *size : {"1080p", "2160p"}) {
            const std::string fast = std::string("BM_ShowPicture/fast/") + size + "/real_time";
            for (const char *other : {"smooth", "bilinear", "averaged"})
                ratio(std::string(other) + " / fast, " + size,
                      std::string("BM_ShowPicture/") + other + "/" + size + "/real_time", fast);
        }
    }

private:
    void ratio(const std::string &label, const std::string &a, const std::string &b) const
    {
        const auto x = m_ms.find(a), y = m_ms.find(b);
        if (x == m_ms.end() || y == m_ms.end() || y->second <= 0)
            return;
        std::printf("  %-36s %7.3f ms / %7.3f ms = %5.2f\n", label.c_str(), x->second, y->second,
                    x->second / y->second);
    }

    std::map<std::string, double> m_ms;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const struct { const char *name; int width, height; } sizes[] = {{"1080p", 1920, 1080},
                                                                    {"2160p", 3840, 2160}};
    const struct { const char *name; way how; } ways[] = {
        {"fast", way::fast}, {"smooth", way::smooth}, {"bilinear", way::bilinear},
        {"averaged", way::averaged}};
    for (const auto &size : sizes)
        for (const auto &w : ways)
            benchmark::RegisterBenchmark(
                (std::string("BM_ShowPicture/") + w.name + "/" + size.name).c_str(),
                BM_ShowPicture, w.how, size.width, size.height)
                ->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.print_ratios();
    benchmark::Shutdown();
    return 0;
}
