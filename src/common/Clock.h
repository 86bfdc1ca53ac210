// The one clock every time rule reads (time-outs, ages, purges, rate limits), so tests move time
// instead of sleeping. Milliseconds on a monotonic scale.
#ifndef VEXA_CLOCK_H
#define VEXA_CLOCK_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vexa {

class Clock {
public:
    virtual ~Clock() = default;
    virtual uint64_t nowMs() const = 0;

    // Waits on cv (lk held) until pred() holds or the clock reaches deadlineMs; returns pred().
    template <class Pred>
    bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lk, uint64_t deadlineMs, Pred pred) const {
        while (!pred()) {
            const uint64_t now = nowMs();
            if (now >= deadlineMs) return false;
            cv.wait_for(lk, std::chrono::milliseconds(std::min(deadlineMs - now, realSliceMs())));
        }
        return true;
    }

protected:
    // Longest real wait before the clock is read again.
    virtual uint64_t realSliceMs() const = 0;
};

// Real time: std::chrono::steady_clock.
class SteadyClock final : public Clock {
public:
    uint64_t nowMs() const override {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    }

protected:
    uint64_t realSliceMs() const override { return 3600000; }
};

// The process's real clock.
inline Clock& steadyClock() {
    static SteadyClock clock;
    return clock;
}

// Time that moves only when a test says so. Waiters re-read it every millisecond of real time.
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint64_t startMs = 1000000) : m_now(startMs) {}
    uint64_t nowMs() const override { return m_now.load(); }
    void advance(uint64_t ms) { m_now.fetch_add(ms); }
    void set(uint64_t ms) { m_now.store(ms); }

protected:
    uint64_t realSliceMs() const override { return 1; }

private:
    std::atomic<uint64_t> m_now;
};

}  // namespace vexa

#endif
