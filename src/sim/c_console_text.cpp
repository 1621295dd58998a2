#include "c_console_text.h"

void c_console_text::type(char c)
{
    if (c < 0x20 || c > 0x7E)
        return;
    // Long lines wrap, as a console does; the renderer wraps further by its own width.
    if (last_line_length() >= kMaxLineLength)
        newline();
    m_text.push_back(c);
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
    if (!m_text.empty() && m_text.back() != '\n')
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
    return lineFeed == std::string::npos ? m_text.size() : m_text.size() - lineFeed - 1;
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
