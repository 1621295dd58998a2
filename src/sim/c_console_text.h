#pragma once

#include <cstddef>
#include <string>

// The text typed on the remote computer's console, held as UTF-8: printable characters, line
// feeds between lines. Keeps at most a bounded number of lines (the oldest go first). Not
// thread-safe: the device's event-loop thread owns it and hands copies to the renderer.
class c_console_text {
public:
    static constexpr std::size_t kMaxLines = 200;
    static constexpr std::size_t kMaxLineLength = 400; // characters, not bytes

    // A printable character; control characters, surrogates and values beyond Unicode are
    // ignored.
    void type(char32_t c);
    void newline();
    void backspace();    // removes the last character of the last line; never joins lines
    void clear();

    const std::string &text() const { return m_text; }
    // Text for a one-line reply: "\n" for line feeds and "\\" for backslashes; other
    // characters as they are (UTF-8).
    std::string escaped() const;

private:
    std::size_t last_line_length() const;
    void drop_oldest_lines();

    std::string m_text;
    std::size_t m_lines = 1;
};
