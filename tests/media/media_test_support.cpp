#include "media_test_support.h"

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

namespace media_test {

test_image::test_image(std::uint32_t sectors, unsigned seed, const QString &name)
    : m_path(m_dir.path() + u'/' + name), m_model(random_bytes(std::size_t{sectors} * 512, seed))
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char *>(m_model.data()),
                   static_cast<qint64>(m_model.size())) != static_cast<qint64>(m_model.size()))
        ADD_FAILURE() << "cannot write " << m_path.toStdString();
}

bytes test_image::sector(std::uint32_t n) const
{
    return bytes(m_model.begin() + n * 512, m_model.begin() + (n + 1) * 512);
}

void test_image::write_model(std::uint32_t sector, const bytes &data)
{
    std::copy(data.begin(), data.end(), m_model.begin() + sector * 512);
}

QByteArray test_image::file_hash() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
}

QByteArray test_image::model_hash() const
{
    return QCryptographicHash::hash(
               QByteArrayView(reinterpret_cast<const char *>(m_model.data()),
                              static_cast<qsizetype>(m_model.size())),
               QCryptographicHash::Sha256)
        .toHex();
}

} // namespace media_test
