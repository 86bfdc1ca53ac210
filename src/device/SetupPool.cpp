#include "SetupPool.h"

#include "Log.h"

void SetupPool::start() {
    std::lock_guard<std::mutex> lk(m_lock);
    if (m_running) return;
    m_running = true;
    for (size_t i = 0; i < kThreads; ++i) m_threads.emplace_back([this] { run(); });
}

void SetupPool::stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_running = false;
        m_jobs.clear();
        threads.swap(m_threads);
    }
    m_cv.notify_all();
    for (auto& t : threads) t.join();
}

bool SetupPool::post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lk(m_lock);
        if (!m_running || m_jobs.size() >= kMaxQueued) return false;
        m_jobs.push_back(std::move(job));
    }
    m_cv.notify_one();
    return true;
}

void SetupPool::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lk(m_lock);
            m_cv.wait(lk, [this] { return !m_running || !m_jobs.empty(); });
            if (!m_running) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        try {
            job();
        } catch (const std::exception& e) {
            RunLog_Write(5, "VEXA_DEV", "[SetupPool(%d)] exception in a set-up: %s", __LINE__, e.what());
        }
    }
}
