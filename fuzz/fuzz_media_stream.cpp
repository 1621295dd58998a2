// The virtual media channel as the device sends it: the byte stream is cut into frames and
// every message goes to the media session's handler, with a small disk image mapped. After
// each message the image is compared with its state before: a message may change at most
// the one sector its write data names, only while a write request is at the head of the
// queue, and only to the data it carries.
#include "fuzz_support.h"

#include "media/c_u_media_session.h"
#include "media/u_packets.h"
#include "protocol/frame.h"
#include "tools/socket/u/c_socket_recv_u.h"

#include <QFile>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kSectors = 16;
constexpr std::size_t kImageBytes = std::size_t{kSectors} * kUSectorSize;

using bytes = std::vector<std::uint8_t>;

// The mapped image as the file holds it now.
bytes read_image(int fd)
{
    bytes out(kImageBytes + 1);
    const ssize_t got = pread(fd, out.data(), out.size(), 0);
    FUZZ_CHECK(got == static_cast<ssize_t>(kImageBytes)); // nothing written past the end
    out.resize(kImageBytes);
    return out;
}

class media_receiver : public c_socket_recv_u {
public:
    using c_socket_recv_u::c_socket_recv_u;
    void feed(const frame_header &header, std::uint8_t *body, std::uint32_t length)
    {
        handle_frame(header, body, length);
    }
};

// Stands between the receive thread and the session and checks every message's effect on
// the image.
class checking_handler : public c_abs_net_handler {
public:
    checking_handler(c_u_media_session &session, int imageFd)
        : m_session(session), m_fd(imageFd)
    {
    }

    std::uint8_t HandleMsg(c_socket_thread *sender, const std::uint8_t *body,
                           std::uint32_t lengthField, std::uint32_t bodyLength) override
    {
        CQUEUE_MESSAGE head;
        const bool answersPak10 =
            m_session.queue().copyFirst(head) && u_frame_type(head) == kUTypePak10;
        const bytes before = read_image(m_fd);
        const std::uint8_t result = m_session.HandleMsg(sender, body, lengthField, bodyLength);
        FUZZ_CHECK(result == kHandled || result == kResend);
        const bytes after = read_image(m_fd);
        if (after != before)
            check_write(body, bodyLength, answersPak10, before, after);
        return result;
    }

private:
    static void check_write(const std::uint8_t *body, std::uint32_t length, bool answersPak10,
                            const bytes &before, const bytes &after)
    {
        FUZZ_CHECK(answersPak10);
        FUZZ_CHECK(body[0] == kUTypePak10 && length >= 8 + kUSectorSize);
        const std::uint64_t sector = std::uint64_t{read_be32(body + 2)} + read_be16(body + 6);
        FUZZ_CHECK(read_be32(body + 2) != 0xFFFFFFFFu);
        FUZZ_CHECK(sector < kSectors);
        const std::size_t first = static_cast<std::size_t>(sector) * kUSectorSize;
        FUZZ_CHECK(std::memcmp(before.data(), after.data(), first) == 0);
        FUZZ_CHECK(std::memcmp(before.data() + first + kUSectorSize,
                               after.data() + first + kUSectorSize,
                               kImageBytes - first - kUSectorSize) == 0);
        FUZZ_CHECK(std::memcmp(after.data() + first, body + 8, kUSectorSize) == 0);
    }

    c_u_media_session &m_session;
    int m_fd;
};

struct media_channel {
    media_channel()
    {
        for (std::size_t i = 0; i < baseline.size(); ++i)
            baseline[i] = static_cast<std::uint8_t>(i * 7 + i / kUSectorSize);
        path = fuzz::write_scratch_file("disk.img", baseline.data(), baseline.size());
        fd = open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
        FUZZ_CHECK(fd >= 0);
        u_media_settings settings;
        settings.mapPauseMs = 0;
        settings.closeWaitMs = 0;
        settings.interactiveAuth = false;
        session = std::make_unique<c_u_media_session>(settings);
        FUZZ_CHECK(session->map(path, false));
        handler = std::make_shared<checking_handler>(*session, fd);
        receiver = std::make_unique<media_receiver>(nullptr, handler.get(), nullptr);
    }

    // Each input starts from the same image, a fresh mapping (no instruction in progress)
    // and an empty queue.
    void reset()
    {
        session->unmap();
        FUZZ_CHECK(session->map(path, false));
        session->queue().clear();
        if (read_image(fd) != baseline)
            FUZZ_CHECK(pwrite(fd, baseline.data(), baseline.size(), 0) ==
                       static_cast<ssize_t>(baseline.size()));
    }

    bytes baseline = bytes(kImageBytes);
    QString path;
    int fd = -1;
    std::unique_ptr<c_u_media_session> session;
    std::shared_ptr<checking_handler> handler;
    std::unique_ptr<media_receiver> receiver;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ensure_application();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static media_channel *channel = new media_channel; // lives as long as the process
    channel->reset();
    fuzz::split_stream(data, size, [](const frame_header &header, std::uint8_t *body,
                                      std::uint32_t length) {
        channel->receiver->feed(header, body, length);
    });
    return 0;
}
