#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Composes one log text in a fixed 2048-byte buffer. An append that does not fit is cut at
// the end of the buffer, which always stays terminated.
class LogStream {
public:
    static constexpr std::size_t kCapacity = 2048;

    LogStream &operator<<(const char *text);
    LogStream &operator<<(std::string_view text);
    LogStream &operator<<(const std::string &text) { return *this << std::string_view(text); }
    LogStream &operator<<(const QString &text);
    LogStream &operator<<(char c) { return *this << std::string_view(&c, 1); }
    LogStream &operator<<(bool value) { return *this << (value ? 1 : 0); }
    LogStream &operator<<(int value) { return appendSigned(value); }
    LogStream &operator<<(long value) { return appendSigned(value); }
    LogStream &operator<<(long long value) { return appendSigned(value); }
    LogStream &operator<<(short value) { return appendSigned(value); }
    LogStream &operator<<(signed char value) { return appendSigned(value); }
    LogStream &operator<<(unsigned char value) { return appendUnsigned(value); }
    LogStream &operator<<(unsigned short value) { return appendUnsigned(value); }
    LogStream &operator<<(unsigned value) { return appendUnsigned(value); }
    LogStream &operator<<(unsigned long value) { return appendUnsigned(value); }
    LogStream &operator<<(unsigned long long value) { return appendUnsigned(value); }
    LogStream &operator<<(double value);

    const char *c_str() const { return m_buffer; }
    std::size_t size() const { return m_length; }

private:
    LogStream &appendSigned(long long value);
    LogStream &appendUnsigned(unsigned long long value);

    char m_buffer[kCapacity] = {};
    std::size_t m_length = 0;
};
