#include "media/c_u_media_session.h"

#include "logging/log.h"
#include "media/u_packets.h"
#include "protocol/frame.h"
#include "protocol/login_message.h"
#include "thread/c_read_disk_thread.h"
#include "tools/disk/rw_disk/c_read_write_disk_sector_win.h"
#include "tools/socket/SocketChannel.h"
#include "tools/socket/c_tcp_sock/c_tcp_sock.h"
#include "tools/socket/u/c_socket_recv_u.h"
#include "tools/socket/u/c_socket_send_u.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>

namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr std::uint8_t kUnit = 1;
constexpr std::uint8_t kOk = c_abs_net_handler::kHandled;
constexpr std::uint8_t kModeRead = 1;
constexpr std::uint8_t kModeWrite = 2;

using open_error = c_read_write_disk_sector_win::open_error;

map_error disk_map_error(open_error cause)
{
    switch (cause) {
    case open_error::not_found: return map_error::not_found;
    case open_error::not_a_disk: return map_error::not_a_disk;
    case open_error::permission: return map_error::permission;
    case open_error::busy: return map_error::busy;
    case open_error::not_authorized: return map_error::not_authorized;
    case open_error::too_large: return map_error::too_large;
    case open_error::none:
    case open_error::failed: break;
    }
    return map_error::failed;
}

} // namespace

c_u_media_session::c_u_media_session(settings config) : m_config(std::move(config)) {}

c_u_media_session::~c_u_media_session()
{
    shutdown();
}

std::int64_t c_u_media_session::now_ms() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               m_config.now().time_since_epoch())
        .count();
}

int c_u_media_session::seconds_since_map() const
{
    return static_cast<int>((now_ms() - m_mapClockMs.load()) / 1000);
}

std::shared_ptr<c_read_write_disk_sector_win> c_u_media_session::disk() const
{
    QMutexLocker lock(&m_stateLock);
    return m_disk;
}

bool c_u_media_session::open_channel(const std::string &ip, std::uint16_t port,
                                     std::uint32_t userID)
{
    m_socket = std::make_shared<c_tcp_sock>();
    m_socket->init();
    m_socket->set_remote_addr(ip.c_str(), port);
    const bool connected = m_socket->create_sock(nullptr, 0, kConnectTimeoutMs) == 1;
    if (!connected)
        TLOG_ERROR << "vm connect to " << ip << ':' << port << " failed";
    // Never connected is as away as dropped: a map would reach nobody (reopen_channel ends it).
    m_down = !connected;
    start_channel(userID);
    return connected;
}

void c_u_media_session::start_channel(std::uint32_t userID)
{
    m_channel = std::make_shared<SocketChannel>(SocketThreadFactory::kMedia, m_socket, &m_queue,
                                                m_waitObject, this);
    if (m_channel->valid()) {
        // Direct: the callback runs on the receive thread, which ends right after.
        auto *recv = dynamic_cast<c_socket_recv_u *>(m_channel->recv_thread().get());
        if (m_onClosed && recv)
            QObject::connect(recv, &c_socket_recv_u::signal_socket_u_close,
                             [callback = m_onClosed] { callback(); });
        m_channel->start(QThread::HighestPriority, QThread::HighestPriority);
    } else {
        TLOG_ERROR << "vm channel threads missing";
    }
    if (m_syncer)
        set_syncer(m_syncer);
    m_queue.append(make_login_message(userID));
    TLOG_INFO << "vm send userID";
}

void c_u_media_session::reopen_channel(std::shared_ptr<c_tcp_sock> socket, std::uint32_t userID)
{
    channel_lost();
    if (m_channel && !m_channel->stop())
        TLOG_ERROR << "vm channel of the dropped connection did not stop in time";
    m_channel.reset();
    m_down = false;
    m_socket = std::move(socket);
    start_channel(userID);
    const auto mapped = disk();
    if (!m_mapped || !mapped)
        return;
    start_reader(mapped);
    m_queue.append(make_u_map_pak(kUnit, 0x00, 0));
    QThread::msleep(static_cast<unsigned long>(m_config.mapPauseMs));
    m_queue.append(make_u_map_pak(
        kUnit, kUMapFlagMap | (m_announcedReadOnly ? kUMapFlagReadOnly : 0), mapped->sectorCount()));
    TLOG_INFO << "vm: the mapped disk mapped again" << (m_announcedReadOnly ? " read-only" : "");
    m_idle = false;
    enqueue_request_status();
}

void c_u_media_session::channel_lost()
{
    m_down = true;
    stop_reader();
    {
        QMutexLocker state(&m_stateLock);
        if (m_batch.mode != 0)
            TLOG_WARN << "media " << (m_batch.mode == kModeWrite ? "write" : "read") << " of "
                      << m_batch.count << " sectors from " << m_batch.start
                      << " cut by the drop, abandoned";
        m_batch = {};
        std::lock_guard lock(m_waitObject->mutex);
        m_queue.clear();
    }
    m_unsolicitedNoted = false;
}

void c_u_media_session::start_reader(const std::shared_ptr<c_read_write_disk_sector_win> &disk)
{
    auto reader = make_thread<c_read_disk_thread>(&m_queue, disk);
    reader->start(QThread::InheritPriority);
    QMutexLocker lock(&m_stateLock);
    m_reader = reader;
}

void c_u_media_session::set_syncer(c_net_syncer *syncer)
{
    m_syncer = syncer;
    if (!m_channel)
        return;
    if (auto sender = std::dynamic_pointer_cast<c_socket_send_u>(m_channel->send_thread()))
        sender->set_syncer(syncer);
}

bool c_u_media_session::refuse_map(map_error why)
{
    m_mapError = why;
    return false;
}

bool c_u_media_session::map(const QString &source, bool readOnly)
{
    m_mapError = map_error::none;
    if (source.isEmpty()) {
        TLOG_ERROR << "c_ui_u_setting_dlg::c_ui_u_setting_dlg curLogicPath.empty()";
        return refuse_map(map_error::nothing_chosen);
    }
    if (m_mapped) {
        TLOG_WARN << "map while mapped ignored: " << source;
        return refuse_map(map_error::already_mapped);
    }
    // Without a connection nothing would carry the map: the remote computer would never see
    // the disk while it stays claimed here.
    if (m_down) {
        TLOG_WARN << "map while the device is away refused: " << source;
        return refuse_map(map_error::not_connected);
    }
    auto disk = std::make_shared<c_read_write_disk_sector_win>();
    disk->setInteractiveAuth(m_config.interactiveAuth);
    {
        QMutexLocker lock(&m_stateLock);
        m_batch = {};
    }
    m_unsolicitedNoted = false;
    if (!disk->openDisk(source, readOnly) || !disk->isOpen()) {
        TLOG_ERROR << "err onMap_openLocalDisk " << source;
        return refuse_map(disk_map_error(disk->lastOpenError()));
    }
    // Published only once open: the receive thread takes a published disk as mapped.
    {
        QMutexLocker lock(&m_stateLock);
        m_disk = disk;
    }
    start_reader(disk);
    m_queue.append(make_u_map_pak(kUnit, 0x00, 0));
    QThread::msleep(static_cast<unsigned long>(m_config.mapPauseMs));
    // A source that cannot be written is announced read-only: writes to it would be lost.
    const bool announceReadOnly = readOnly || disk->isReadOnly();
    m_announcedReadOnly = announceReadOnly;
    m_queue.append(make_u_map_pak(
        kUnit, kUMapFlagMap | (announceReadOnly ? kUMapFlagReadOnly : 0), disk->sectorCount()));

    m_progressDone = false;
    m_progressShownDone = false;
    m_readSectors = 0;
    m_progress = 0;
    m_idle = false;
    m_mapClockMs = now_ms();
    m_readClockMs = now_ms();
    m_mapped = true;
    enqueue_request_status();
    return true;
}

void c_u_media_session::stop_reader()
{
    std::shared_ptr<c_read_disk_thread> reader;
    {
        QMutexLocker lock(&m_stateLock);
        reader = std::move(m_reader);
        m_reader.reset();
    }
    if (!reader)
        return;
    reader->stop();
    // Bounded: a reader stuck in a slow read adds nothing once it returns (it checks its
    // flag before every message) and is deleted when it ends.
    if (!reader->wait_ended(m_config.readerStopWaitMs))
        TLOG_WARN << "disk reader still reading after " << m_config.readerStopWaitMs << " ms";
}

void c_u_media_session::unmap()
{
    stop_reader();
    {
        // Under the state lock, so that no window of the batch is topped up after the clear;
        // under the wait object's mutex, so that the send thread never takes the unmap
        // queued below for the frame whose answer it was waiting for.
        QMutexLocker state(&m_stateLock);
        m_batch = {};
        std::lock_guard lock(m_waitObject->mutex);
        m_queue.clear();
    }
    m_unmappedNoted = false;
    std::shared_ptr<c_read_write_disk_sector_win> mapped;
    {
        QMutexLocker state(&m_stateLock);
        mapped = std::move(m_disk);
        m_disk.reset();
    }
    if (!m_down)
        m_queue.append(make_u_map_pak(kUnit, 0x00, mapped ? mapped->sectorCount() : 0));
    if (mapped)
        mapped->closeDisk();
    m_progressDone = false;
    m_progressShownDone = false;
    m_idle = false;
    m_mapped = false;
}

void c_u_media_session::wait_until_sent(int timeoutMs)
{
    if (!m_socket || !m_socket->has_socket())
        return; // nothing would answer
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_queue.isEmpty() && !deadline.hasExpired())
        QThread::msleep(10);
}

void c_u_media_session::shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    if (m_channel) {
        // A device that went away gets no final unmap: nothing could carry it.
        if (!m_down) {
            m_queue.append(make_u_map_pak(kUnit, 0x00, 0));
            wait_until_sent(m_config.closeWaitMs);
        }
        m_channel->stop();
    }
    m_queue.clear();
    m_channel.reset();
    m_socket.reset();
    stop_reader();
    if (const auto mapped = disk())
        mapped->closeDisk();
    m_mapped = false;
}

void c_u_media_session::ask_tick()
{
    if (!m_idle)
        return;
    if (++m_idleTicks > kIdleTicks) {
        // Cleared before the ask is queued: its "nothing to do" answer can come back on the
        // receive thread before enqueue returns, and clearing afterwards would wipe that
        // answer's mark and stop the polling for good.
        m_idle = false;
        enqueue_request_status();
    }
}

bool c_u_media_session::progress_tick()
{
    if (m_progressShownDone)
        return false;
    if (!m_progressDone && now_ms() - m_readClockMs.load() > kProgressIdle.count()) {
        m_progress = 100;
        m_progressDone = true;
    }
    // A read instruction may have completed the progress since the last tick: that
    // completion is still shown once, then the figures stay as they are.
    if (m_progressDone)
        m_progressShownDone = true;
    return true;
}

const drive_list &c_u_media_session::refresh_drives(QStringList *missing)
{
    m_drives = list_removable_drives(m_images);
    // Checked once: an image that goes away later just leaves the list, like a drive.
    if (m_imagesChecked)
        return m_drives;
    m_imagesChecked = true;
    for (const QString &path : images_from_environment()) {
        if (QFileInfo(path).isFile())
            continue;
        TLOG_WARN << "TESSARACT_IMAGES names " << path << ", which is no file: not offered";
        if (missing)
            *missing << path;
    }
    return m_drives;
}

void c_u_media_session::add_image(const QString &path)
{
    if (!path.isEmpty() && !m_images.contains(path))
        m_images << path;
}

void c_u_media_session::enqueue_request_status()
{
    if (m_down)
        return;
    m_queue.append(make_u_ask_pak(kUnit, 0));
    m_idleTicks = 0;
    TLOG_INFO << "enqueue request status package";
}

void c_u_media_session::request_read(std::uint32_t start, std::uint16_t count)
{
    {
        QMutexLocker lock(&m_stateLock);
        if (m_reader)
            m_reader->addReadRequest(start, count);
    }
    if (m_progressDone)
        return;
    const int total = m_readSectors.fetch_add(count) + count;
    m_readClockMs = now_ms();
    int progress = static_cast<int>(total / static_cast<double>(kProgressSectors) * 100.0);
    if (progress >= 99)
        progress = 100;
    if (total >= kProgressSectors) {
        progress = 100;
        m_progressDone = true;
    }
    m_progress = progress;
}

std::uint8_t c_u_media_session::HandleMsg(c_socket_thread * /*sender*/, const std::uint8_t *body,
                                          std::uint32_t /*lengthField*/,
                                          std::uint32_t bodyLength)
{
    const std::uint8_t result = dispatch(body, bodyLength);
    // After every message, not only after the batch's own answers: a frame that answers
    // something else still makes the send thread drop the head, and the batch must not run
    // dry because of it.
    refill_window();
    return result;
}

std::uint8_t c_u_media_session::dispatch(const std::uint8_t *body, std::uint32_t bodyLength)
{
    if (body == nullptr || bodyLength == 0) {
        TLOG_ERROR << "short media message, length=" << bodyLength;
        return kHandled;
    }
    const std::uint8_t type = body[0];
    // A device body shorter than its type's fields is answered without reading past it.
    auto too_short = [&](std::uint32_t needed) {
        if (bodyLength >= needed)
            return false;
        TLOG_ERROR << "short media message, type=" << type << ",length=" << bodyLength;
        return true;
    };
    switch (type) {
    case kUTypeUserId:
        if (!too_short(2))
            TLOG_INFO << "vm,, recv userID ack,value=" << body[1];
        if (m_onLogin)
            m_onLogin(bodyLength >= 2 && body[1] == 0);
        return kHandled;
    case kUTypeMap:
        if (too_short(3))
            return kHandled;
        if (body[2] != 0)
            check_map_answer();
        else
            TLOG_INFO << "==========mapOrUnmap ack_ok";
        return kHandled;
    case kUTypeAsk:
        return too_short(8) ? kOk : handle_instruction(body);
    case kUTypeReadData:
        return too_short(3) ? kOk : handle_read_answer(body);
    case kUTypePak10:
        return too_short(8) ? kOk : handle_write_data(body, bodyLength);
    default:
        return kHandled;
    }
}

void c_u_media_session::check_map_answer()
{
    TLOG_ERROR << "err map ack_err";
    // The head is still the frame this answers: only a refused map (not an unmap) means the
    // remote computer will not see the disk.
    CQUEUE_MESSAGE head;
    if (m_queue.copyFirst(head) && u_frame_type(head) == kUTypeMap && head.length > 13 &&
        (head.buffer[13] & kUMapFlagMap) != 0 && m_onMapRefused)
        m_onMapRefused();
}

c_u_media_session::verdict c_u_media_session::admit(std::uint8_t mode, std::uint32_t start,
                                                    std::uint32_t count)
{
    const bool transfer = mode == kModeRead || mode == kModeWrite;
    QMutexLocker lock(&m_stateLock);
    if (!m_mapped || !m_disk) {
        if (transfer && !m_unmappedNoted.exchange(true))
            TLOG_WARN << "media instructions ignored while no disk is mapped";
        return verdict::ignore;
    }
    if (m_batch.mode != 0 || m_idle) {
        if (!m_unsolicitedNoted.exchange(true))
            TLOG_WARN << "unsolicited media instruction ignored (mode " << mode << ", start "
                      << start << ", count " << count << "): it answers no pak_ask";
        return verdict::ignore;
    }
    if (!transfer) {
        TLOG_INFO << "ask ack= I want nothing";
        return verdict::nothing;
    }
    const std::uint64_t sectors = m_disk->sectorCount();
    if (count == 0 || std::uint64_t{start} + count > sectors) {
        TLOG_ERROR << "media instruction refused (mode " << mode << ", start " << start
                   << ", count " << count << "): the disk has " << sectors << " sectors";
        return verdict::nothing;
    }
    m_batch = {mode, start, count, 0};
    m_unsolicitedNoted = false;
    return verdict::serve;
}

std::uint8_t c_u_media_session::handle_instruction(const std::uint8_t *body)
{
    const std::uint8_t mode = body[1];
    const std::uint32_t start = read_be32(body + 2);
    const std::uint16_t count = read_be16(body + 6);
    switch (admit(mode, start, count)) {
    case verdict::ignore:
        return kHandled;
    case verdict::nothing:
        m_unsolicitedNoted = false;
        m_idle = true;
        return kHandled;
    case verdict::serve:
        break;
    }
    if (mode == kModeRead) {
        TLOG_INFO << "ask ack= I want to read:" << count << " from " << start;
        request_read(start, count);
    } else {
        // The pak10 requests follow from refill_window, a window at a time.
        TLOG_INFO << "xxx ask ack write,start=" << start << ",count=" << count;
    }
    return kHandled;
}

void c_u_media_session::end_batch()
{
    {
        QMutexLocker lock(&m_stateLock);
        m_batch = {};
    }
    m_unsolicitedNoted = false;
    enqueue_request_status();
}

void c_u_media_session::refill_window()
{
    QMutexLocker lock(&m_stateLock);
    if (m_batch.mode == kModeRead && m_reader)
        m_reader->queue_shrunk();
    if (m_batch.mode != kModeWrite || m_batch.queued >= m_batch.count)
        return;
    const int held = m_queue.size();
    if (held > kPak10LowWater)
        return;
    const std::uint32_t from = m_batch.queued;
    const std::uint32_t n =
        std::min(m_batch.count - from, static_cast<std::uint32_t>(kPak10Window - held));
    for (std::uint32_t i = from; i < from + n; ++i)
        m_queue.append(make_u_pak10(kUnit, static_cast<std::uint16_t>(i), i + 1 == m_batch.count));
    m_batch.queued += n;
    TLOG_INFO << "xxx enque pak10,offset=" << from << ".." << from + n - 1 << ",count="
              << m_batch.count;
}

std::uint8_t c_u_media_session::handle_read_answer(const std::uint8_t *body)
{
    if (body[2] == 0 && body[1] != 0) {
        // The head is still the pak_readData this answers (the send thread drops it later).
        CQUEUE_MESSAGE head;
        if (m_queue.copyFirst(head) && head.flag != 0)
            end_batch();
        TLOG_INFO << "readDisk_ack_ok";
        return kHandled;
    }
    TLOG_ERROR << "err readDisk_ack_err, pack type: " << body[1] << ",pack result: " << body[2];
    return kResend;
}

std::uint8_t c_u_media_session::handle_write_data(const std::uint8_t *body,
                                                  std::uint32_t bodyLength)
{
    const std::uint32_t start = read_be32(body + 2);
    const std::uint16_t index = read_be16(body + 6);
    if (start == 0xFFFFFFFFu) {
        TLOG_INFO << "got 0xffffffff start index";
        return kResend;
    }
    if (bodyLength < 8 + kUSectorSize) {
        TLOG_ERROR << "short media message, type=" << body[0] << ",length=" << bodyLength;
        return kHandled;
    }
    TLOG_INFO << "xxx pak10 ack ok,get buf,start:" << start << ", offset" << index;
    CQUEUE_MESSAGE head;
    const bool hasHead = m_queue.copyFirst(head);
    write_sector(start, index, body + 8, hasHead && u_frame_type(head) == kUTypePak10);
    if (!hasHead || head.flag == 0)
        return kHandled;
    TLOG_INFO << "is last pak will resend";
    end_batch();
    return kHandled;
}

void c_u_media_session::write_sector(std::uint32_t start, std::uint16_t index,
                                     const std::uint8_t *data, bool headIsPak10)
{
    std::shared_ptr<c_read_write_disk_sector_win> target;
    bool inBatch = false;
    // start + index must not wrap round to the first sectors of the disk.
    const std::uint64_t sector = std::uint64_t{start} + index;
    {
        QMutexLocker lock(&m_stateLock);
        target = m_disk;
        inBatch = m_batch.mode == kModeWrite && sector >= m_batch.start &&
                  sector < std::uint64_t{m_batch.start} + m_batch.count;
    }
    if (!target) {
        TLOG_ERROR << "pak10 ack with no disk mapped, sector " << sector << " refused";
        return;
    }
    if (sector > std::numeric_limits<std::uint32_t>::max() ||
        !target->setPoint(static_cast<std::uint32_t>(sector))) {
        TLOG_ERROR << "pak10 ack,writeDisk_setPoint err";
        return;
    }
    // Data that answers no pak10 of this mapping (the queue was emptied by an unmap, and
    // perhaps refilled by the next map), or that names a sector outside the write it
    // answers, must not reach the disk.
    if (!headIsPak10 || !inBatch) {
        TLOG_ERROR << "pak10 ack without a pending pak10 request, sector " << sector
                   << " not written";
        return;
    }
    std::uint32_t written = 0;
    // At its own sector: the reader may be positioning the disk for a read meanwhile.
    if (!target->writeDiskAt(static_cast<std::uint32_t>(sector), data, kUSectorSize, written)) {
        TLOG_ERROR << "pak10 ack,writeDisk_writeDisk err, error code is " << errno;
        return;
    }
    if (written == kUSectorSize)
        TLOG_INFO << "xxx1207 pak10 ack,writeDisk_OK";
    else
        TLOG_ERROR << "pak10 ack,writeDisk_writeDisk err,re_len!=512";
}
