#pragma once

#include <QMutex>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

// One queued outgoing frame. The producer allocates the frame; the record owns it, and
// copies of the record share it, so whoever drops the last copy (the send thread after
// sending, or the queue's owner at teardown) releases it.
struct CQUEUE_MESSAGE {
    CQUEUE_MESSAGE() = default;
    CQUEUE_MESSAGE(std::uint32_t length_, std::shared_ptr<std::uint8_t[]> buffer_,
                   std::uint32_t extra_, std::uint8_t flag_, QString tag_)
        : length(length_), buffer(std::move(buffer_)), flag(flag_), tag(std::move(tag_)),
          extra(extra_) {}

    std::uint32_t length = 0;
    std::shared_ptr<std::uint8_t[]> buffer; // the complete frame
    std::uint8_t flag = 0;                  // last message of a media read or write batch
    QString tag;                            // producer label, diagnostics only
    std::int32_t index = -1;
    std::uint8_t mark = 0;
    std::uint32_t extra = 0;
};

// A locked FIFO of outgoing messages. Copies of a queue share everything (messages, mutex
// and the append callback), so a send thread may keep a copy that stays valid however long it
// runs. No bound, no blocking on empty. Every operation is safe from any thread and holds
// the mutex for its own duration only.
template <typename T>
class mt_queue {
public:
    mt_queue() : m_state(std::make_shared<State>()) {}
    virtual ~mt_queue() = default;
    mt_queue(const mt_queue &) = default;
    mt_queue &operator=(const mt_queue &) = default;

    virtual int size() const
    {
        QMutexLocker lock(&m_state->mutex);
        return static_cast<int>(m_state->items.size());
    }

    void append(T item)
    {
        std::shared_ptr<const std::function<void()>> onAppend;
        {
            QMutexLocker lock(&m_state->mutex);
            m_state->items.push_back(std::move(item));
            onAppend = m_state->onAppend;
        }
        if (onAppend && *onAppend)
            (*onAppend)();
    }

    // The oldest message; the queue must not be empty. The reference stays valid until
    // that message is taken or the queue cleared; only its consumer should use it.
    T &first()
    {
        QMutexLocker lock(&m_state->mutex);
        return m_state->items.front();
    }

    // Copies the oldest message into `out`; false when the queue is empty.
    bool copyFirst(T &out) const
    {
        QMutexLocker lock(&m_state->mutex);
        if (m_state->items.empty())
            return false;
        out = m_state->items.front();
        return true;
    }

    // Removes the oldest message and returns it; a default value when the queue is empty.
    T takeFirst()
    {
        QMutexLocker lock(&m_state->mutex);
        if (m_state->items.empty())
            return T{};
        T item = std::move(m_state->items.front());
        m_state->items.pop_front();
        return item;
    }

    // True when nothing is queued.
    bool isEmpty() const
    {
        QMutexLocker lock(&m_state->mutex);
        return m_state->items.empty();
    }

    // Removes every message; their buffers are released with them (outside the lock).
    void clear()
    {
        std::deque<T> dropped;
        {
            QMutexLocker lock(&m_state->mutex);
            dropped.swap(m_state->items);
        }
    }

    // Called after every append, outside the lock, on the appending thread: lets a send
    // thread wake at once instead of polling. Replaces any earlier callback; an empty
    // function removes it.
    void set_on_append(std::function<void()> callback)
    {
        auto shared = std::make_shared<const std::function<void()>>(std::move(callback));
        QMutexLocker lock(&m_state->mutex);
        m_state->onAppend = std::move(shared);
    }

private:
    struct State {
        mutable QMutex mutex;
        std::deque<T> items;
        std::shared_ptr<const std::function<void()>> onAppend;
    };
    std::shared_ptr<State> m_state;
};
