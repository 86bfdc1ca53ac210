#include "device/SetupPool.h"

#include <chrono>

#include "common/Log.h"

void SetupPool::start() {
    std::lock_guard<std::mutex> lk(m_lock);
    if (m_running) return;
    m_running = true;
    for (size_t i = 0; i < kCoreThreads; ++i) {
        const uint64_t key = ++m_nextKey;
        m_threads.emplace(key, std::thread([this, key] { run(key); }));
    }
}

void SetupPool::stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_running = false;
        m_jobs.clear();
        m_queue.clear();
        for (auto& kv : m_threads) threads.push_back(std::move(kv.second));
        m_threads.clear();
        m_exited.clear();
    }
    // One wake-up per thread (job number 0 is never used): each takes one, sees the pool stopped
    // and ends.
    for (size_t i = 0; i < threads.size(); ++i) m_queue.push("0");
    for (auto& t : threads) t.join();
    m_queue.clear();
}

void SetupPool::reapLocked(std::vector<std::thread>& out) {
    for (uint64_t key : m_exited) {
        auto it = m_threads.find(key);
        if (it == m_threads.end()) continue;
        out.push_back(std::move(it->second));
        m_threads.erase(it);
    }
    m_exited.clear();
}

bool SetupPool::post(const std::string& deviceId, std::function<void()> job) {
    static const char* F = "SetupPool::post";
    std::vector<std::thread> ended;
    const char* refused = nullptr;
    uint64_t number = 0;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        reapLocked(ended);
        if (!m_running) {
            refused = "not running";
        } else if (m_jobs.size() >= kMaxQueued) {
            refused = "queue full";
        } else {
            number = ++m_nextJob;
            m_jobs.emplace(number, std::move(job));
            // Every waiting set-up gets a thread of its own while the cap allows.
            if (m_jobs.size() > m_idle && m_threads.size() < kMaxThreads) {
                const uint64_t key = ++m_nextKey;
                try {
                    m_threads.emplace(key, std::thread([this, key] { run(key); }));
                } catch (const std::exception& e) {
                    // The set-up stays queued for a running thread.
                    LOG_DEV(4, F, "[deviceID=%s]set-up thread not created: %s", deviceId.c_str(), e.what());
                }
            }
        }
    }
    for (auto& t : ended) t.join();
    if (refused) {
        LOG_DEV(5, F, "[deviceID=%s,reason=%s]set-up not queued.", deviceId.c_str(), refused);
        return false;
    }
    m_queue.push(std::to_string(number));
    return true;
}

size_t SetupPool::threadCount() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_threads.size() - m_exited.size();
}

void SetupPool::run(uint64_t key) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lk(m_lock);
            ++m_idle;
        }
        const std::string number = m_queue.pop(std::chrono::milliseconds(kIdleExitMs));
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> lk(m_lock);
            --m_idle;
            if (!m_running) return;
            auto it = number.empty() ? m_jobs.end() : m_jobs.find(std::stoull(number));
            if (it == m_jobs.end()) {
                // Idle: threads beyond the core ones end and are joined by the next post or stop.
                if (number.empty() && m_threads.size() - m_exited.size() > kCoreThreads) {
                    m_exited.push_back(key);
                    return;
                }
                continue;
            }
            job = std::move(it->second);
            m_jobs.erase(it);
        }
        try {
            job();
        } catch (const std::exception& e) {
            LOG_DEV(5, "SetupPool::run", "exception in a set-up: %s", e.what());
        }
    }
}
