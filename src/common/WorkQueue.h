// Bounded FIFO of texts shared by producers on any thread and one worker. Two ways in:
//  - push(): the producer cannot hold the text back, so when full the oldest entry is dropped
//    (and counted);
//  - tryPush(): the producer can keep the text and offer it again, so when full the text is
//    refused, and refusals go on until the queue has drained below its resume mark (half the
//    bound). The hysteresis keeps a full queue from flapping between one refusal and one accept.
// Every text is accounted for: accepted = delivered + dropped + discarded + still queued.
#ifndef VEXA_WORK_QUEUE_H
#define VEXA_WORK_QUEUE_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class WorkQueue {
public:
    struct Counters {
        uint64_t accepted = 0;   // texts put in (push or tryPush)
        uint64_t refused = 0;    // tryPush calls turned away
        uint64_t dropped = 0;    // oldest entries pushed out to make room
        uint64_t delivered = 0;  // texts taken out by pop
        uint64_t discarded = 0;  // texts thrown away by clear
    };

    explicit WorkQueue(size_t bound = 10000) { setBoundLocked(bound); }

    void setBound(size_t bound) {
        std::lock_guard<std::mutex> lk(m_mutex);
        setBoundLocked(bound);
        while (m_items.size() > m_bound) {
            m_items.pop_front();
            ++m_counters.dropped;
        }
    }

    // Returns false when an older entry had to be dropped to make room.
    bool push(std::string text) {
        bool dropped = false;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_items.size() >= m_bound) {
                m_items.pop_front();
                ++m_counters.dropped;
                dropped = true;
            }
            m_items.push_back(std::move(text));
            ++m_counters.accepted;
        }
        m_cv.notify_one();
        return !dropped;
    }

    // Appends the text unless the queue is full or still paused after being full; then the text
    // is left with the caller (moved from only when accepted).
    bool tryPush(std::string& text) {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            updatePauseLocked();
            if (!m_paused && m_items.size() >= m_bound) {
                m_paused = true;
                ++m_pauses;
            }
            if (m_paused) {
                ++m_counters.refused;
                return false;
            }
            m_items.push_back(std::move(text));
            ++m_counters.accepted;
        }
        m_cv.notify_one();
        return true;
    }

    // Empty string when nothing arrived within the wait (producers never queue empty texts).
    std::string pop(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lk(m_mutex);
        if (m_items.empty() && !m_wake) m_cv.wait_for(lk, wait, [this] { return !m_items.empty() || m_wake; });
        m_wake = false;
        if (m_items.empty()) return std::string();
        std::string s = std::move(m_items.front());
        m_items.pop_front();
        ++m_counters.delivered;
        updatePauseLocked();
        return s;
    }

    // Wakes a waiting pop (used at shutdown).
    void wake() {
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            m_wake = true;
        }
        m_cv.notify_all();
    }

    // Throws away what is queued; returns how many texts that was.
    size_t clear() {
        std::lock_guard<std::mutex> lk(m_mutex);
        const size_t n = m_items.size();
        m_items.clear();
        m_counters.discarded += n;
        m_wake = false;
        m_paused = false;
        return n;
    }

    size_t size() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_items.size();
    }

    size_t bound() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_bound;
    }

    // True while tryPush would accept.
    bool accepting() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_paused ? m_items.size() < m_resumeMark : m_items.size() < m_bound;
    }

    // How often tryPush found the queue full and began refusing.
    uint64_t pauses() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_pauses;
    }

    uint64_t dropped() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_counters.dropped;
    }

    Counters counters() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_counters;
    }

private:
    void setBoundLocked(size_t bound) {
        m_bound = bound ? bound : 1;
        // Below half the bound; a bound of 1 resumes once empty.
        m_resumeMark = (m_bound + 1) / 2;
    }

    void updatePauseLocked() {
        if (m_paused && m_items.size() < m_resumeMark) m_paused = false;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::string> m_items;
    size_t m_bound = 1;
    size_t m_resumeMark = 1;
    bool m_paused = false;
    uint64_t m_pauses = 0;
    Counters m_counters;
    bool m_wake = false;
};

#endif
