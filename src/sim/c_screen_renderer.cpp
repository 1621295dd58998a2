#include "c_screen_renderer.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <vector>

namespace {

const QColor kConsoleBack(18, 20, 26);
const QColor kConsoleText(220, 228, 214);
const QColor kStatusBack(32, 36, 44);
const QColor kStatusText(235, 235, 235);
const QColor kLedOn(90, 220, 110);
const QColor kLedOff(90, 96, 104);
constexpr int kPointerWidth = 14;
constexpr int kPointerHeight = 22;

// The console's lines (UTF-8), each cut into pieces of at most `columns` characters.
// Characters the console font has no glyph for are drawn as '?', so a missing glyph reads
// the same on every machine instead of whatever a fallback font offers.
std::vector<QString> wrapped_lines(const std::string &text, int columns, const QFontMetrics &metrics)
{
    std::vector<QString> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        const std::string bytes = text.substr(start, end == std::string::npos ? end : end - start);
        QString line;
        for (const char32_t c : QString::fromUtf8(bytes).toUcs4())
            line += metrics.inFontUcs4(c) ? QString::fromUcs4(&c, 1) : QStringLiteral("?");
        qsizetype piece = 0;
        do {
            lines.push_back(line.mid(piece, columns));
            piece += columns;
        } while (piece < line.size());
        if (end == std::string::npos)
            return lines;
        start = end + 1;
    }
}

} // namespace

c_screen_renderer::c_screen_renderer(int width, int height)
    : m_width(width), m_height(height),
      m_canvas(width + 2 * kMargin, height + 2 * kMargin, QImage::Format_RGB32),
      m_underPointer(kPointerWidth, kPointerHeight, QImage::Format_RGB32)
{
    m_canvas.fill(Qt::black);
    const int unit = std::max(8, height / 54);
    m_consoleFont = QFont(QStringLiteral("DejaVu Sans Mono"));
    m_consoleFont.setStyleHint(QFont::Monospace);
    m_consoleFont.setPixelSize(unit);
    m_statusFont = QFont(QStringLiteral("DejaVu Sans"));
    m_statusFont.setPixelSize(std::max(8, unit * 4 / 5));
    const int statusHeight = unit + unit / 2;
    m_statusRect = QRect(kMargin, kMargin + height - statusHeight, width, statusHeight);
    m_consoleRect = QRect(kMargin + width / 20, kMargin + height / 8 + unit * 2,
                          width * 13 / 20, height * 5 / 8);
    paint_background();
}

void c_screen_renderer::paint_background()
{
    QPainter p(&m_canvas);
    p.translate(kMargin, kMargin);
    QLinearGradient sky(0, 0, 0, m_height);
    sky.setColorAt(0, QColor(24, 60, 110));
    sky.setColorAt(1, QColor(20, 110, 120));
    p.fillRect(0, 0, m_width, m_height, sky);
    // A few fixed shapes give the encoder and the eye something to hold on to.
    p.fillRect(m_width * 3 / 4, m_height / 8, m_width / 5, m_height / 4, QColor(200, 120, 40));
    p.fillRect(m_width * 3 / 4, m_height / 2, m_width / 5, m_height / 5, QColor(120, 60, 160));
    p.setPen(Qt::white);
    QFont title = m_consoleFont;
    title.setPixelSize(m_consoleFont.pixelSize() * 2);
    p.setFont(title);
    p.drawText(QRect(m_width / 20, m_height / 40, m_width, m_height / 10),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tessaract remote screen"));
    const QRect frame = m_consoleRect.translated(-kMargin, -kMargin)
                            .adjusted(-6, -m_consoleFont.pixelSize() * 2, 6, 6);
    p.fillRect(frame, QColor(60, 64, 72));
    p.setFont(m_statusFont);
    p.drawText(frame.adjusted(10, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("console"));
}

void c_screen_renderer::paint_console(const std::string &text)
{
    QPainter p(&m_canvas);
    p.fillRect(m_consoleRect, kConsoleBack);
    p.setFont(m_consoleFont);
    p.setPen(kConsoleText);
    const QFontMetrics metrics(m_consoleFont);
    const int charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    const int lineHeight = std::max(1, metrics.lineSpacing());
    const int columns = std::max(1, (m_consoleRect.width() - 16) / charWidth);
    const int rows = std::max(1, (m_consoleRect.height() - 8) / lineHeight);
    std::vector<QString> lines = wrapped_lines(text, columns, metrics);
    lines.back() += QLatin1Char('_'); // the cursor
    const std::size_t first = lines.size() > static_cast<std::size_t>(rows)
                                  ? lines.size() - static_cast<std::size_t>(rows) : 0;
    int y = m_consoleRect.top() + 4 + metrics.ascent();
    for (std::size_t i = first; i < lines.size(); ++i, y += lineHeight)
        p.drawText(m_consoleRect.left() + 8, y, lines[i]);
}

void c_screen_renderer::paint_status(const screen_snapshot &state, std::uint64_t frameNumber)
{
    QPainter p(&m_canvas);
    p.fillRect(m_statusRect, kStatusBack);
    p.setFont(m_statusFont);
    const QFontMetrics metrics(m_statusFont);
    const int baseline = m_statusRect.top() + (m_statusRect.height() + metrics.ascent() -
                                               metrics.descent()) / 2;
    int x = m_statusRect.left() + 12;
    static const char *const names[] = {"NUM", "CAPS", "SCROLL"};
    for (int i = 0; i < 3; ++i) {
        p.setPen((state.leds >> i) & 1 ? kLedOn : kLedOff);
        const QString name = QString::fromLatin1(names[i]);
        p.drawText(x, baseline, name);
        x += metrics.horizontalAdvance(name) + 14;
    }
    p.setPen(kStatusText);
    const QString text = QStringLiteral("|  write: %1  |  disk: %2  |  frame %3  |  %4x%5")
                             .arg(QString::fromStdString(state.holder),
                                  QString::fromStdString(state.disk))
                             .arg(frameNumber)
                             .arg(m_width)
                             .arg(m_height);
    p.drawText(x, baseline, text);
}

void c_screen_renderer::restore_under_pointer()
{
    if (m_pointerRect.isEmpty())
        return;
    QPainter p(&m_canvas);
    p.drawImage(m_pointerRect.topLeft(), m_underPointer, QRect(QPoint(0, 0), m_pointerRect.size()));
    m_pointerRect = QRect();
}

void c_screen_renderer::paint_pointer(int x, int y)
{
    const QRect desktop(kMargin, kMargin, m_width, m_height);
    m_pointerRect = QRect(kMargin + x, kMargin + y, kPointerWidth, kPointerHeight) & desktop;
    if (m_pointerRect.isEmpty())
        return;
    {
        QPainter save(&m_underPointer);
        save.drawImage(QPoint(0, 0), m_canvas, m_pointerRect);
    }
    QPainter p(&m_canvas);
    p.setClipRect(desktop);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.translate(kMargin + x, kMargin + y);
    const QPolygon arrow({QPoint(0, 0), QPoint(0, 17), QPoint(4, 13), QPoint(7, 20),
                          QPoint(10, 19), QPoint(7, 12), QPoint(12, 12)});
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawPolygon(arrow);
}

const std::uint8_t *c_screen_renderer::render(const screen_snapshot &state,
                                              std::uint64_t frameNumber)
{
    restore_under_pointer();
    if (state.consoleVersion != m_consoleVersion) {
        paint_console(state.console);
        m_consoleVersion = state.consoleVersion;
    }
    paint_status(state, frameNumber);
    paint_pointer(state.pointerX, state.pointerY);
    const int dx = std::clamp(state.offsetX, -kMargin, kMargin);
    const int dy = std::clamp(state.offsetY, -kMargin, kMargin);
    return m_canvas.constBits() + static_cast<std::ptrdiff_t>(kMargin + dy) * stride() +
           static_cast<std::ptrdiff_t>(kMargin + dx) * 4;
}
