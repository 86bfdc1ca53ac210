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
        for (auto& kv : m_threads) threads.push_back(std::move(kv.second));
        m_threads.clear();
        m_exited.clear();
    }
    m_cv.notify_all();
    for (auto& t : threads) t.join();
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
    {
        std::lock_guard<std::mutex> lk(m_lock);
        reapLocked(ended);
        if (!m_running) {
            refused = "not running";
        } else if (m_jobs.size() >= kMaxQueued) {
            refused = "queue full";
        } else {
            m_jobs.push_back(std::move(job));
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
    m_cv.notify_one();
    return true;
}

size_t SetupPool::threadCount() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_threads.size() - m_exited.size();
}

void SetupPool::run(uint64_t key) {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lk(m_lock);
            ++m_idle;
            const bool woke = m_cv.wait_for(lk, std::chrono::milliseconds(kIdleExitMs),
                                            [this] { return !m_running || !m_jobs.empty(); });
            --m_idle;
            if (!m_running) return;
            if (!woke) {
                // Idle: threads beyond the core ones end and are joined by the next post or stop.
                if (m_threads.size() - m_exited.size() > kCoreThreads) {
                    m_exited.push_back(key);
                    return;
                }
                continue;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        try {
            job();
        } catch (const std::exception& e) {
            LOG_DEV(5, "SetupPool::run", "exception in a set-up: %s", e.what());
        }
    }
}
