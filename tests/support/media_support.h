#pragma once

#include "loopback.h"

#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace media_test {

using socket_test::bytes;
using namespace std::chrono_literals;

bytes random_bytes(std::size_t n, unsigned seed);

// Every item of a queue, which is left as it was.
template <typename Queue>
auto queued(Queue &queue)
{
    std::vector<decltype(queue.takeFirst())> all;
    while (!queue.isEmpty())
        all.push_back(queue.takeFirst());
    for (const auto &item : all)
        queue.append(item);
    return all;
}

// A disk image in a temporary folder, filled with reproducible random bytes, and a model
// of what it should hold that the test updates as it expects the viewer to write.
class test_image {
public:
    explicit test_image(std::uint32_t sectors, unsigned seed = 1, const QString &name = "disk.img");
    const QString &path() const { return m_path; }
    QString dir() const { return m_dir.path(); }
    bytes sector(std::uint32_t n) const { return bytes(m_model.begin() + n * 512, m_model.begin() + (n + 1) * 512); }
    void write_model(std::uint32_t sector, const bytes &data) { std::copy(data.begin(), data.end(), m_model.begin() + sector * 512); }
    bool file_equals_model() const;

private:
    QTemporaryDir m_dir;
    QString m_path;
    bytes m_model;
};

// A clock the test moves by hand.
struct manual_clock {
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    void advance(std::chrono::milliseconds by) { now += by; }
};

} // namespace media_test
