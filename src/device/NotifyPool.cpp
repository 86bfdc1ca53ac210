#include "device/NotifyPool.h"

#include "common/Log.h"

NotifyPool& NotifyPool::instance() {
    static NotifyPool pool;
    return pool;
}

size_t NotifyPool::Strand::cancel() {
    std::lock_guard<std::mutex> lk(m_lock);
    const size_t n = m_jobs.size();
    m_jobs.clear();
    return n;
}

void NotifyPool::Strand::waitIdle() {
    std::unique_lock<std::mutex> lk(m_lock);
    if (m_busy && m_runner == std::this_thread::get_id()) return;  // called from its own callback
    m_idle.wait(lk, [this] { return !m_busy; });
}

bool NotifyPool::Strand::drained() {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_jobs.empty() && !m_busy;
}

void NotifyPool::start() {
    std::lock_guard<std::mutex> lk(m_lock);
    if (m_running) return;
    m_running = true;
    for (size_t i = 0; i < kThreads; ++i) m_threads.emplace_back([this] { run(); });
}

void NotifyPool::stop() {
    std::vector<std::thread> threads;
    std::deque<std::shared_ptr<Strand>> ready;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_running = false;
        threads.swap(m_threads);
        ready.swap(m_ready);
    }
    m_cv.notify_all();
    // A pool thread may call stop() from inside a host callback; it cannot join itself.
    for (auto& t : threads) {
        if (t.get_id() == std::this_thread::get_id())
            t.detach();
        else
            t.join();
    }
    size_t dropped = 0;
    for (auto& s : ready) {
        std::lock_guard<std::mutex> lk(s->m_lock);
        dropped += s->m_jobs.size();
        s->m_jobs.clear();
        s->m_scheduled = false;
    }
    if (dropped) LOG_DEV(3, "NotifyPool::stop", "%zu pending status notifications dropped at shutdown", dropped);
}

bool NotifyPool::running() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_running;
}

void NotifyPool::schedule(const std::shared_ptr<Strand>& s) {
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_ready.push_back(s);
    }
    m_cv.notify_one();
}

void NotifyPool::post(const std::shared_ptr<Strand>& s, std::function<void()> job) {
    if (!s) return;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lk(s->m_lock);
        if (s->m_jobs.size() >= kMaxPerStrand) {
            s->m_jobs.pop_front();
            LOG_DEV(4, "NotifyPool::post", "host is not taking status notifications; oldest pending one dropped");
        }
        s->m_jobs.push_back(std::move(job));
        if (!s->m_scheduled && running()) {
            s->m_scheduled = true;
            wake = true;
        }
    }
    if (wake) schedule(s);
}

void NotifyPool::flush(const std::shared_ptr<Strand>& s) {
    if (!s || running()) return;
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> lk(s->m_lock);
            // A strand a pool thread still owns, or one drained by another caller, is left alone.
            if (s->m_scheduled || s->m_busy || s->m_jobs.empty()) return;
            job = std::move(s->m_jobs.front());
            s->m_jobs.pop_front();
            s->m_busy = true;
            s->m_runner = std::this_thread::get_id();
        }
        try {
            job();
        } catch (...) {
        }
        {
            std::lock_guard<std::mutex> lk(s->m_lock);
            s->m_busy = false;
            s->m_runner = std::thread::id();
        }
        s->m_idle.notify_all();
    }
}

void NotifyPool::run() {
    for (;;) {
        std::shared_ptr<Strand> s;
        {
            std::unique_lock<std::mutex> lk(m_lock);
            m_cv.wait(lk, [this] { return !m_running || !m_ready.empty(); });
            if (!m_running) return;
            s = std::move(m_ready.front());
            m_ready.pop_front();
        }
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> lk(s->m_lock);
            if (!s->m_jobs.empty()) {
                job = std::move(s->m_jobs.front());
                s->m_jobs.pop_front();
                s->m_busy = true;
                s->m_runner = std::this_thread::get_id();
            }
        }
        if (job) {
            try {
                job();
            } catch (const std::exception& e) {
                LOG_DEV(5, "NotifyPool::run", "exception in a status callback: %s", e.what());
            } catch (...) {
                LOG_DEV(5, "NotifyPool::run", "exception in a status callback");
            }
        }
        bool again = false;
        {
            std::lock_guard<std::mutex> lk(s->m_lock);
            s->m_busy = false;
            s->m_runner = std::thread::id();
            // One job per turn: a device with a backlog does not starve the others.
            again = !s->m_jobs.empty() && running();
            if (!again) {
                s->m_scheduled = false;
                if (!running()) s->m_jobs.clear();
            }
        }
        s->m_idle.notify_all();
        if (again) schedule(s);
    }
}
