// Host status callbacks run here, off the library's I/O threads: a few threads take turns over
// per-device strands, so each device hears of its changes in order and a host callback that
// blocks delays only its own device.
#ifndef VEXA_NOTIFY_POOL_H
#define VEXA_NOTIFY_POOL_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class NotifyPool {
public:
    static constexpr size_t kThreads = 4;
    // Pending notifications per device; beyond this the oldest is dropped (and logged).
    static constexpr size_t kMaxPerStrand = 256;

    // One device's ordered queue of notifications.
    class Strand {
    public:
        // Drops what has not started yet; returns how many.
        size_t cancel();
        // Waits until no job of this strand runs, unless the caller is that job's thread.
        void waitIdle();
        // Nothing queued and nothing running.
        bool drained();

    private:
        friend class NotifyPool;
        std::mutex m_lock;
        std::condition_variable m_idle;
        std::deque<std::function<void()>> m_jobs;
        bool m_scheduled = false;  // in the pool's ready list or being run by a pool thread
        bool m_busy = false;
        std::thread::id m_runner;
    };

    static NotifyPool& instance();
    ~NotifyPool() { stop(); }

    void start();
    // Joins the threads; notifications not yet started are dropped and counted in the log.
    void stop();
    bool running() const;

    // Queues job behind the strand's earlier ones. Cheap and non-blocking, so it may be called
    // under the caller's own state lock to fix the order. When the pool does not run, the job
    // waits for flush().
    void post(const std::shared_ptr<Strand>& s, std::function<void()> job);
    // Runs the strand's queued jobs on the calling thread when the pool does not run (before
    // start-up and after shutdown nobody else would). Call it without holding state locks.
    void flush(const std::shared_ptr<Strand>& s);

private:
    void run();
    void schedule(const std::shared_ptr<Strand>& s);  // pool lock taken inside

    mutable std::mutex m_lock;
    std::condition_variable m_cv;
    std::deque<std::shared_ptr<Strand>> m_ready;
    std::vector<std::thread> m_threads;
    bool m_running = false;
};

#endif
