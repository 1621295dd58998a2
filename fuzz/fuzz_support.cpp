#include "fuzz_support.h"

#include "tools/socket/c_abs_socket_recv.h"
#include "tools/socket/frame_reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fuzz {

void ensure_application()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tessaract_fuzz";
    static char *argv[] = {name, nullptr};
    // Lives until the process ends; libFuzzer never returns from its loop.
    static auto *app = new QCoreApplication(argc, argv);
    (void)app;
}

void fail(const char *what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

const QString &scratch_dir()
{
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        auto d = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/tessaract-fuzz-XXXXXX");
        if (!d->isValid())
            fail("no scratch folder");
        return d;
    }();
    static const QString path = dir->path();
    return path;
}

QString write_scratch_file(const char *name, const std::uint8_t *bytes, std::size_t size)
{
    const QString path = scratch_dir() + '/' + QString::fromUtf8(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("scratch file not writable");
    if (size > 0 && file.write(reinterpret_cast<const char *>(bytes), qint64(size)) != qint64(size))
        fail("scratch file not written");
    return path;
}

int memory_source::read_some(std::uint8_t *buffer, int length)
{
    if (m_pos >= m_size)
        return kClosed;
    const std::size_t n = std::min({static_cast<std::size_t>(length),
                                    static_cast<std::size_t>(m_chunk), m_size - m_pos});
    std::memcpy(buffer, m_data + m_pos, n);
    m_pos += n;
    return static_cast<int>(n);
}

stream_options stream_options::from(std::uint8_t selector)
{
    stream_options o{};
    o.chunk = (selector & 0x7F) == 0 ? INT_MAX : (selector & 0x7F);
    o.smallBuffer = (selector & 0x80) != 0;
    return o;
}

void split_stream(const std::uint8_t *data, std::size_t size, const frame_sink &deliver)
{
    if (size < 1)
        return;
    static const auto full = std::make_unique<std::uint8_t[]>(c_abs_socket_recv::kDefaultBufferSize);
    static const auto small = std::make_unique<std::uint8_t[]>(stream_options::kSmallBuffer);
    const stream_options options = stream_options::from(data[0]);
    std::uint8_t *const buffer = options.smallBuffer ? small.get() : full.get();
    const std::uint32_t capacity = options.smallBuffer ? stream_options::kSmallBuffer
                                                       : c_abs_socket_recv::kDefaultBufferSize;

    memory_source source(data + 1, size - 1, options.chunk);
    frame_reader reader(source, [] { return false; }, buffer, capacity);
    frame_header header;
    std::uint32_t length = 0;
    while (reader.next(header, length) == frame_reader::status::frame) {
        FUZZ_CHECK(length >= 1 && length <= capacity && length == header.wireLength);
        deliver(header, buffer, length);
    }
}

} // namespace fuzz
