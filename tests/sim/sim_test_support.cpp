#include "sim_test_support.h"

#include "encrypt/frame_cipher.h"
#include "protocol/km_frame.h"

#include <QGuiApplication>
#include <QHostAddress>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

const std::uint8_t kSendKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const std::uint8_t kReceiveKey[8] = {0x0E, 0x32, 0x92, 0x32, 0xEA, 0x6D, 0x0D, 0x73};

namespace {

// The device renders text into images: it needs an application object (offscreen).
class qt_environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_sim";
        static char *argv[] = {name, nullptr};
        m_app = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QGuiApplication> m_app;
};

[[maybe_unused]] auto *const g_environment =
    ::testing::AddGlobalTestEnvironment(new qt_environment);

using clock = std::chrono::steady_clock;

int remaining_ms(clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

c_sim_options test_sim_options()
{
    c_sim_options options = c_sim_options::in_process(640, 360, 15);
    std::memcpy(options.desEncode.data(), kSendKey, 8);
    std::memcpy(options.desDecode.data(), kReceiveKey, 8);
    return options;
}

std::vector<std::uint8_t> key_report(std::uint8_t modifiers, std::initializer_list<std::uint8_t> keys)
{
    std::vector<std::uint8_t> report(8, 0);
    report[0] = modifiers;
    std::size_t i = 2;
    for (std::uint8_t key : keys)
        report[i++] = key;
    return report;
}

sim_client::sim_client(channel kind, const std::uint8_t inboundKey[8])
    : m_kind(kind), m_socket(std::make_unique<QTcpSocket>())
{
    std::memcpy(m_key, inboundKey, 8);
}

bool sim_client::connect_to(std::uint16_t port, int timeoutMs)
{
    m_socket->connectToHost(QHostAddress::LocalHost, port);
    return m_socket->waitForConnected(timeoutMs);
}

void sim_client::send_raw(const std::vector<std::uint8_t> &bytes)
{
    m_socket->write(reinterpret_cast<const char *>(bytes.data()), static_cast<qint64>(bytes.size()));
    m_socket->waitForBytesWritten(2000);
}

void sim_client::send_body(const std::vector<std::uint8_t> &body)
{
    std::vector<std::uint8_t> frame(kFrameHeaderSize + body.size());
    std::uint32_t length = 0;
    build_frame({{static_cast<std::uint32_t>(body.size()), body.data()}}, frame.data(), length);
    send_raw(frame);
}

void sim_client::send_km(std::uint8_t type, const std::vector<std::uint8_t> &payload,
                         const std::uint8_t key[8])
{
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(build_km_frame(key, type, payload.data(), static_cast<std::uint32_t>(payload.size()), frame));
    send_raw(frame);
}

void sim_client::send_login(std::uint32_t userID)
{
    if (m_kind == channel::km) {
        send_raw(build_km_login_frame(userID));
        return;
    }
    std::vector<std::uint8_t> body = {50, 0, 0, 0, 0};
    write_be32(body.data() + 1, userID);
    send_body(body);
}

bool sim_client::read_exact(std::uint8_t *out, std::size_t count, int timeoutMs)
{
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t got = 0;
    while (got < count) {
        if (m_socket->bytesAvailable() == 0 &&
            !m_socket->waitForReadyRead(std::max(1, remaining_ms(deadline))))
            return false;
        const qint64 n = m_socket->read(reinterpret_cast<char *>(out + got),
                                        static_cast<qint64>(count - got));
        if (n < 0)
            return false;
        got += static_cast<std::size_t>(n);
        if (got < count && remaining_ms(deadline) == 0)
            return false;
    }
    return true;
}

bool sim_client::next(received_frame &out, int timeoutMs)
{
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        std::uint8_t header[kFrameHeaderSize] = {};
        do {
            if (!read_exact(header, 1, remaining_ms(deadline)))
                return false;
        } while (header[0] != kFrameMagic);
        if (!read_exact(header + 1, kFrameHeaderSize - 1, remaining_ms(deadline)))
            return false;
        out.header = parse_frame_header(header);
        if (out.header.wireLength > (1u << 22))
            return false;
        out.body.assign(out.header.wireLength, 0);
        if (!read_exact(out.body.data(), out.body.size(), std::max(remaining_ms(deadline), 1000)))
            return false;
        out.headCiphered = false;
        if (sum8(out.body.data(), out.body.size()) != out.header.checksum) {
            ++m_badChecksums;
            if (m_kind != channel::video)
                continue; // the keyboard/mouse receiver drops it; the media one too
        }
        if (out.body.empty() || !out.header.ciphered())
            return true;
        if (m_kind == channel::video) {
            // The viewer's video loop: decipher the 16-byte head, keep its first 12 bytes.
            if (out.body.size() < 16)
                return false;
            std::uint8_t head[16];
            std::uint32_t length = 16;
            des_decrypt_unpadded(m_key, out.body.data(), head, length);
            std::memcpy(out.body.data() + 4, head, 12);
            out.body.erase(out.body.begin(), out.body.begin() + 4);
            out.headCiphered = true;
            return true;
        }
        std::uint32_t length = static_cast<std::uint32_t>(out.body.size());
        if (des_decrypt_unpadded(m_key, out.body.data(), out.body.data(), length))
            out.body.resize(length);
        return true;
    }
}

bool sim_client::next_of_type(std::uint8_t type, received_frame &out, int timeoutMs)
{
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    while (next(out, remaining_ms(deadline))) {
        if (!out.body.empty() && out.body[0] == type)
            return true;
        if (remaining_ms(deadline) == 0)
            return false;
    }
    return false;
}

bool sim_client::quiet_of_type(std::uint8_t type, int timeoutMs)
{
    received_frame frame;
    return !next_of_type(type, frame, timeoutMs);
}

bool sim_client::closed_by_peer(int timeoutMs)
{
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_socket->state() == QAbstractSocket::ConnectedState) {
        if (remaining_ms(deadline) == 0)
            return false;
        m_socket->waitForReadyRead(std::max(1, remaining_ms(deadline)));
        m_socket->readAll();
    }
    return true;
}

void sim_client::close()
{
    m_socket->abort();
}
