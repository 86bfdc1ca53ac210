// Whether a lone request waiter should spin before it sleeps. Spinning pays while answers come
// back within the spin window: the answering thread then finds the waiter awake. On a busy
// machine answers come later, and a spinning waiter only takes a core from the threads that
// produce them, so the gauge follows how many recent waits ended within the window and stops
// the spinning when fewer than three in four did.
#ifndef VEXA_SPIN_GAUGE_H
#define VEXA_SPIN_GAUGE_H

#include <atomic>
#include <cstdint>

class SpinGauge {
public:
    static constexpr uint32_t kWindowUs = 60;

    bool worthIt() const { return m_score.load(std::memory_order_relaxed) >= kFull / 4 * 3; }

    // One lone wait's time to its answer; the score is a running share of waits within the
    // window over about the last sixteen.
    void record(uint64_t us) {
        const uint32_t s = m_score.load(std::memory_order_relaxed);
        m_score.store(s - s / 16 + (us <= kWindowUs ? kFull / 16 : 0), std::memory_order_relaxed);  // racing updates only blur it
    }

private:
    static constexpr uint32_t kFull = 1024;
    std::atomic<uint32_t> m_score{kFull};
};

#endif
