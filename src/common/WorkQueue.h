// Bounded FIFO of texts shared by producers on any thread and one worker. When full the oldest
// entry is dropped and counted, so memory stays bounded whatever devices send.
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
    explicit WorkQueue(size_t bound = 10000) : m_bound(bound ? bound : 1) {}

    void setBound(size_t bound) {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_bound = bound ? bound : 1;
        while (m_items.size() > m_bound) {
            m_items.pop_front();
            ++m_dropped;
        }
    }

    // Returns false when an older entry had to be dropped to make room.
    bool push(std::string text) {
        bool dropped = false;
        {
            std::lock_guard<std::mutex> lk(m_mutex);
            if (m_items.size() >= m_bound) {
                m_items.pop_front();
                ++m_dropped;
                dropped = true;
            }
            m_items.push_back(std::move(text));
        }
        m_cv.notify_one();
        return !dropped;
    }

    // Empty string when nothing arrived within the wait (producers never queue empty texts).
    std::string pop(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lk(m_mutex);
        if (m_items.empty() && !m_wake) m_cv.wait_for(lk, wait, [this] { return !m_items.empty() || m_wake; });
        m_wake = false;
        if (m_items.empty()) return std::string();
        std::string s = std::move(m_items.front());
        m_items.pop_front();
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

    void clear() {
        std::lock_guard<std::mutex> lk(m_mutex);
        m_items.clear();
        m_wake = false;
    }

    size_t size() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_items.size();
    }

    uint64_t dropped() const {
        std::lock_guard<std::mutex> lk(m_mutex);
        return m_dropped;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::string> m_items;
    size_t m_bound;
    uint64_t m_dropped = 0;
    bool m_wake = false;
};

#endif
