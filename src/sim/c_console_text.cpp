#include "c_console_text.h"

#include <algorithm>

namespace {

bool is_continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

bool printable(char32_t c)
{
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) // C0 and C1 controls, DEL
        return false;
    if (c >= 0xD800 && c <= 0xDFFF)
        return false;
    return c <= 0x10FFFF;
}

void append_utf8(std::string &out, char32_t c)
{
    const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
    if (c < 0x80) {
        out.push_back(byte(c));
    } else if (c < 0x800) {
        out.push_back(byte(0xC0 | c >> 6));
        out.push_back(byte(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(byte(0xE0 | c >> 12));
        out.push_back(byte(0x80 | (c >> 6 & 0x3F)));
        out.push_back(byte(0x80 | (c & 0x3F)));
    } else {
        out.push_back(byte(0xF0 | c >> 18));
        out.push_back(byte(0x80 | (c >> 12 & 0x3F)));
        out.push_back(byte(0x80 | (c >> 6 & 0x3F)));
        out.push_back(byte(0x80 | (c & 0x3F)));
    }
}

} // namespace

void c_console_text::type(char32_t c)
{
    if (!printable(c))
        return;
    // Long lines wrap, as a console does; the renderer wraps further by its own width.
    if (last_line_length() >= kMaxLineLength)
        newline();
    append_utf8(m_text, c);
}

void c_console_text::newline()
{
    m_text.push_back('\n');
    ++m_lines;
    if (m_lines > kMaxLines)
        drop_oldest_lines();
}

void c_console_text::backspace()
{
    if (m_text.empty() || m_text.back() == '\n')
        return;
    // A character is its lead byte and the continuation bytes after it.
    while (!m_text.empty() && is_continuation(m_text.back()))
        m_text.pop_back();
    if (!m_text.empty())
        m_text.pop_back();
}

void c_console_text::clear()
{
    m_text.clear();
    m_lines = 1;
}

std::string c_console_text::escaped() const
{
    std::string out;
    out.reserve(m_text.size() + 8);
    for (char c : m_text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else
            out.push_back(c);
    }
    return out;
}

std::size_t c_console_text::last_line_length() const
{
    const std::size_t lineFeed = m_text.rfind('\n');
    const auto start = m_text.begin() +
                       static_cast<std::ptrdiff_t>(lineFeed == std::string::npos ? 0 : lineFeed + 1);
    return static_cast<std::size_t>(
        std::count_if(start, m_text.end(), [](char byte) { return !is_continuation(byte); }));
}

void c_console_text::drop_oldest_lines()
{
    while (m_lines > kMaxLines) {
        const std::size_t lineFeed = m_text.find('\n');
        if (lineFeed == std::string::npos)
            return;
        m_text.erase(0, lineFeed + 1);
        --m_lines;
    }
}
