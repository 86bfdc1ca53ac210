// Whether a lone request waiter should spin before it sleeps. Spinning pays while answers come
// back within the spin window: the answering thread then finds the waiter awake. On a busy
// machine answers come later, and a spinning waiter only takes a core from the threads that
// produce them, so the gauge follows how long recent answers took and stops the spinning.
#ifndef VEXA_SPIN_GAUGE_H
#define VEXA_SPIN_GAUGE_H

#include <atomic>
#include <cstdint>

class SpinGauge {
public:
    static constexpr uint32_t kWindowUs = 60;

    bool worthIt() const { return m_avgUs.load(std::memory_order_relaxed) <= kWindowUs; }

    // One lone wait's time to its answer. A running average over about the last eight; a slow
    // answer (a device that took seconds) counts as two windows, so one alone changes nothing.
    void record(uint64_t us) {
        const uint32_t sample = static_cast<uint32_t>(us < 2 * kWindowUs ? us : 2 * kWindowUs);
        const uint32_t avg = m_avgUs.load(std::memory_order_relaxed);
        m_avgUs.store(avg - avg / 8 + sample / 8, std::memory_order_relaxed);  // racing updates only blur it
    }

private:
    std::atomic<uint32_t> m_avgUs{0};
};

#endif
