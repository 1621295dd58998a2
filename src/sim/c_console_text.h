#pragma once

#include <cstddef>
#include <string>

// The text typed on the remote computer's console: printable ASCII, line feeds between lines.
// Keeps at most a bounded number of lines (the oldest go first). Not thread-safe: the
// device's event-loop thread owns it and hands copies to the renderer.
class c_console_text {
public:
    static constexpr std::size_t kMaxLines = 200;
    static constexpr std::size_t kMaxLineLength = 400;

    void type(char c);   // printable ASCII; anything else is ignored
    void newline();
    void backspace();    // removes the last character of the last line; never joins lines
    void clear();

    const std::string &text() const { return m_text; }
    // Text for a one-line reply: "\n" for line feeds and "\\" for backslashes.
    std::string escaped() const;

private:
    std::size_t last_line_length() const;
    void drop_oldest_lines();

    std::string m_text;
    std::size_t m_lines = 1;
};
