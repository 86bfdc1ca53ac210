// A few threads that run devices' on-line set-ups. Set-ups wait for device answers, so they run
// apart from the operation worker: a silent device never holds up anyone's log-out.
#ifndef VEXA_SETUP_POOL_H
#define VEXA_SETUP_POOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class SetupPool {
public:
    static constexpr size_t kThreads = 8;
    static constexpr size_t kMaxQueued = 100000;

    ~SetupPool() { stop(); }
    void start();
    // Joins the threads; jobs not yet started are dropped.
    void stop();
    // False when the pool is not running or the queue is full.
    bool post(std::function<void()> job);

private:
    void run();
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    bool m_running = false;
};

#endif
