#pragma once

#include "fake_u_device.h"

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>

namespace media_test {

// A disk image in a temporary folder, filled with reproducible random bytes, and a model
// of what it should hold that the test updates as it expects the viewer to write.
class test_image {
public:
    explicit test_image(std::uint32_t sectors, unsigned seed = 1, const QString &name = "disk.img");
    const QString &path() const { return m_path; }
    const bytes &model() const { return m_model; }
    bytes sector(std::uint32_t n) const;
    void write_model(std::uint32_t sector, const bytes &data);
    // SHA-256 of the file as it is now, and of the model.
    QByteArray file_hash() const;
    QByteArray model_hash() const;
    QString dir() const { return m_dir.path(); }

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
