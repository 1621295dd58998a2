#pragma once

#include "tools/socket/Win32Event.h"

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

// A locked FIFO of outgoing messages, plus the answer flag and event of the stop-and-wait
// media transport. Copies of a queue share its mutex. No bound, no blocking on empty.
template <typename T>
class mt_queue {
public:
    mt_queue() : m_mutex(std::make_shared<QMutex>()), m_answer(std::make_shared<AnswerState>()) {}
    virtual ~mt_queue() = default;

    virtual int size() const
    {
        QMutexLocker lock(m_mutex.get());
        return static_cast<int>(m_items->size());
    }

    void append(T item)
    {
        {
            QMutexLocker lock(m_mutex.get());
            m_items->push_back(std::move(item));
        }
        if (m_onAppend)
            m_onAppend();
    }

    // The oldest message; the queue must not be empty.
    T &first()
    {
        QMutexLocker lock(m_mutex.get());
        return m_items->front();
    }

    T takeFirst()
    {
        QMutexLocker lock(m_mutex.get());
        T item = std::move(m_items->front());
        m_items->pop_front();
        return item;
    }

    // True when nothing is queued.
    bool isEmpty() const
    {
        QMutexLocker lock(m_mutex.get());
        return m_items->empty();
    }

    // Removes every message; their buffers are released with them.
    void clear()
    {
        QMutexLocker lock(m_mutex.get());
        m_items->clear();
    }

    void post_answer(bool ok)
    {
        m_answer->flag = ok;
        m_answer->event.set();
    }

    // True only when an answer came within timeoutMs with the flag set; the flag is cleared.
    bool wait_answer(int timeoutMs)
    {
        if (!m_answer->event.wait(timeoutMs))
            return false;
        return m_answer->flag.exchange(false);
    }

    // Called after every append, outside the lock: lets a send thread wake at once instead
    // of polling. Set it before producers start.
    void set_on_append(std::function<void()> callback) { m_onAppend = std::move(callback); }

private:
    struct AnswerState {
        std::atomic<bool> flag{false};
        Win32Event event;
    };
    std::shared_ptr<QMutex> m_mutex;
    std::shared_ptr<std::deque<T>> m_items = std::make_shared<std::deque<T>>();
    std::shared_ptr<AnswerState> m_answer;
    std::function<void()> m_onAppend;
};
