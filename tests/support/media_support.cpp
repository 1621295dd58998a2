#include "media_support.h"

#include <QFile>

#include <gtest/gtest.h>

#include <random>

namespace media_test {

bytes random_bytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    bytes out(n);
    for (auto &byte : out)
        byte = static_cast<std::uint8_t>(gen());
    return out;
}

test_image::test_image(std::uint32_t sectors, unsigned seed, const QString &name)
    : m_path(m_dir.path() + u'/' + name), m_model(random_bytes(std::size_t{sectors} * 512, seed))
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char *>(m_model.data()), qint64(m_model.size())) != qint64(m_model.size()))
        ADD_FAILURE() << "cannot write " << m_path.toStdString();
}

bool test_image::file_equals_model() const
{
    QFile file(m_path);
    const QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return bytes(data.begin(), data.end()) == m_model;
}

} // namespace media_test
