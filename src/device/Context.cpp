#include "device/Context.h"

#include <chrono>
#include <thread>

#include "common/Log.h"
#include "device/SpinGauge.h"

namespace {

std::atomic<int> g_waiters{0};
SpinGauge g_spin;

bool spinCores() {
    static const bool cores = std::thread::hardware_concurrency() > 1;
    return cores;
}

// A device on a local network answers within tens of microseconds: a waiter that spins that long
// before sleeping is found by the answering thread without a wake-up through the scheduler,
// which costs as much as the exchange itself. Only a lone waiter spins (with other requests in
// flight the cores are better left to the threads that answer them), and only while answers
// keep coming within the window. Returns whether the wait is timed for the gauge.
bool spinUntil(const std::atomic<bool>& ready, std::chrono::steady_clock::time_point start) {
    const bool alone = g_waiters.fetch_add(1, std::memory_order_relaxed) == 0;
    if (!alone || !spinCores()) return false;
    if (g_spin.worthIt()) {
        const auto end = start + std::chrono::microseconds(SpinGauge::kWindowUs);
        for (unsigned i = 1; !ready.load(std::memory_order_acquire); ++i) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
            if (i % 32 == 0 && std::chrono::steady_clock::now() >= end) break;
        }
    }
    return true;
}

}  // namespace

uint32_t CContext::Wait(uint32_t ms) {
    const auto start = std::chrono::steady_clock::now();
    struct Leave {
        bool timed;
        std::chrono::steady_clock::time_point start;
        ~Leave() {
            if (timed)
                g_spin.record(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                        std::chrono::steady_clock::now() - start).count()));
            g_waiters.fetch_sub(1, std::memory_order_relaxed);
        }
    } leave{spinUntil(m_ready, start), start};
    std::unique_lock<std::mutex> lk(m_lock);
    if (!m_clock.waitUntil(m_cv, lk, m_clock.nowMs() + ms, [this] { return m_done; })) {
        lk.unlock();
        LOG_REG(5, "CContext::Wait", "Wait timeout, AldonSeq:%d, nMills:%d", static_cast<int>(m_seq),
                static_cast<int>(ms));
        return vexa::status::kWaitTimeout;
    }
    return m_result;
}

void CContext::completeText(uint32_t errorNo, std::string text) {
    {
        std::lock_guard<std::mutex> lk(m_lock);
        if (m_done) return;
        m_response = std::move(text);
        m_result = errorNo;
        m_done = true;
        m_ready.store(true, std::memory_order_release);
    }
    m_cv.notify_all();
}

void CContext::completeList(uint32_t errorNo, std::vector<std::string> list) {
    {
        std::lock_guard<std::mutex> lk(m_lock);
        if (m_done) return;
        m_responseList = std::move(list);
        m_result = errorNo;
        m_done = true;
        m_ready.store(true, std::memory_order_release);
    }
    m_cv.notify_all();
}

std::string CContext::response() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_response;
}

std::vector<std::string> CContext::responseList() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_responseList;
}
