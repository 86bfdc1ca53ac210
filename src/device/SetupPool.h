// Threads that run devices' on-line set-ups. A set-up waits for its device's answers, so each
// queued set-up gets a thread of its own while the pool is under its cap: a silent device never
// delays another device's set-up, nor anyone's log-out. Threads beyond the core ones end when idle.
#ifndef VEXA_SETUP_POOL_H
#define VEXA_SETUP_POOL_H

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/WorkQueue.h"

class SetupPool {
public:
    static constexpr size_t kCoreThreads = 2;
    static constexpr size_t kMaxThreads = 256;
    static constexpr size_t kMaxQueued = 100000;
    static constexpr uint64_t kIdleExitMs = 30000;

    ~SetupPool() { stop(); }
    void start();
    // Joins the threads after their running set-ups end; set-ups not yet started are dropped.
    void stop();
    // False (and logged with the device) when the pool is not running or the queue is full.
    bool post(const std::string& deviceId, std::function<void()> job);
    bool post(std::function<void()> job) { return post(std::string(), std::move(job)); }

    size_t threadCount() const;

private:
    void run(uint64_t key);
    void reapLocked(std::vector<std::thread>& out);

    // The queue carries job numbers in order; the jobs wait here under m_lock until taken.
    WorkQueue m_queue{kMaxQueued};
    mutable std::mutex m_lock;
    std::map<uint64_t, std::function<void()>> m_jobs;
    uint64_t m_nextJob = 0;
    std::map<uint64_t, std::thread> m_threads;
    std::vector<uint64_t> m_exited;  // idle threads that ended and wait to be joined
    uint64_t m_nextKey = 0;
    size_t m_idle = 0;
    bool m_running = false;
};

#endif
