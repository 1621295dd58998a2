#include "logging/LogStream.h"

#include <cstdio>
#include <cstring>

LogStream &LogStream::operator<<(const char *text)
{
    return *this << std::string_view(text ? text : "(null)");
}

LogStream &LogStream::operator<<(std::string_view text)
{
    const std::size_t room = kCapacity - 1 - m_length;
    const std::size_t n = text.size() < room ? text.size() : room;
    std::memcpy(m_buffer + m_length, text.data(), n);
    m_length += n;
    m_buffer[m_length] = '\0';
    return *this;
}

LogStream &LogStream::operator<<(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return *this << std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

LogStream &LogStream::operator<<(double value)
{
    char digits[64];
    const int n = std::snprintf(digits, sizeof digits, "%g", value);
    return *this << std::string_view(digits, n > 0 ? static_cast<std::size_t>(n) : 0);
}

LogStream &LogStream::appendSigned(long long value)
{
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%lld", value);
    return *this << std::string_view(digits, static_cast<std::size_t>(n));
}

LogStream &LogStream::appendUnsigned(unsigned long long value)
{
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%llu", value);
    return *this << std::string_view(digits, static_cast<std::size_t>(n));
}
