#include "alarm/MsgWorker.h"

#include "common/Log.h"
#include "common/LogLimit.h"

namespace {

// While the queue stays full, at most one drop line and one refusal line a second.
constexpr uint64_t kReportPeriodMs = 1000;

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

bool CMsgWorker::start(const char* funcText, const char* failMsg) {
    if (m_thread != PAL_INVALID_THREAD) return true;
    m_stop = 0;  // a restart after stop must run again
    m_thread = PAL_Thread_Create(&CMsgWorker::threadEntry, this, 0, 0, 0, 0);
    if (m_thread == PAL_INVALID_THREAD) {
        RunLog_Write(5, "VEXA_DEV", "[%s(%d)] %s", funcText, __LINE__, failMsg);
        return false;
    }
    return true;
}

void CMsgWorker::stop() {
    m_stop = 1;
    m_queue.wake();
    if (m_thread != PAL_INVALID_THREAD) {
        PAL_Thread_Wait(m_thread);
        m_thread = PAL_INVALID_THREAD;
    }
    const size_t discarded = m_queue.clear();
    reportDropBurst(true);
    const Counters c = m_queue.counters();
    LOG_DEV(discarded || c.dropped ? 4 : 3, func("stop").c_str(),
            "stop: %zu queued %s discarded, %llu dropped in total (accepted %llu, refused %llu, delivered %llu)",
            discarded, items(), ull(c.dropped), ull(c.accepted), ull(c.refused), ull(c.delivered));
}

void CMsgWorker::push(std::string text) {
    if (text.empty()) return;
    if (m_queue.push(std::move(text))) return;
    std::lock_guard<std::mutex> lk(m_reportLock);
    const uint64_t t = now();
    ++m_burstDrops;
    m_lastDropMs = t;
    m_burstOpen = true;
    if (m_dropLogged && t - m_lastDropLogMs < kReportPeriodMs) return;
    m_dropLogged = true;
    m_lastDropLogMs = t;
    // The count comes before the word so that a reader of the line finds it next to it.
    LOG_DEV(4, func("push").c_str(), "queue full: %llu %s dropped so far (oldest first), %llu of them in this burst",
            ull(m_queue.dropped()), items(), ull(m_burstDrops));
}

bool CMsgWorker::offerText(std::string& text) {
    if (text.empty()) return true;
    if (m_queue.tryPush(text)) return true;
    std::lock_guard<std::mutex> lk(m_reportLock);
    const uint64_t t = now();
    if (m_refuseLogged && t - m_lastRefuseLogMs < kReportPeriodMs) return false;
    m_refuseLogged = true;
    m_lastRefuseLogMs = t;
    const Counters c = m_queue.counters();
    LOG_DEV(4, func("offer").c_str(), "queue full: new %s refused until it drains below half of %zu (%llu refusals so far)",
            items(), m_queue.bound(), ull(c.refused));
    return false;
}

void CMsgWorker::reportDropBurst(bool queueEmpty) {
    if (!m_burstOpen.load()) return;
    std::lock_guard<std::mutex> lk(m_reportLock);
    if (!m_burstOpen.load() || (!queueEmpty && now() - m_lastDropMs < kReportPeriodMs)) return;
    m_burstOpen = false;
    LOG_DEV(4, func("reportDropBurst").c_str(), "burst over: %llu %s dropped in it, %llu dropped in total",
            ull(m_burstDrops), items(), ull(m_queue.dropped()));
    m_burstDrops = 0;
}

void CMsgWorker::setClock(const vexa::Clock* clock) {
    std::lock_guard<std::mutex> lk(m_reportLock);
    m_clock = clock ? clock : &vexa::steadyClock();
}

// Read with m_reportLock held.
uint64_t CMsgWorker::now() const { return m_clock->nowMs(); }

uint32_t CMsgWorker::threadEntry(void* self) {
    if (self) static_cast<CMsgWorker*>(self)->run();
    return 0;
}

void CMsgWorker::run() {
    while (m_stop.load() == 0) {
        // Waits on the queue's condition (10 ms at most) rather than sleeping blindly.
        std::string text = m_queue.pop(std::chrono::milliseconds(10));
        if (text.empty()) {
            reportDropBurst(true);
            continue;
        }
        try {
            process(text);
        } catch (const std::exception& e) {
            LOG_DEV(5, func("process").c_str(), "exception while handling a message: %s",
                    vexa::logText(e.what()).c_str());
        } catch (...) {
            LOG_DEV(5, func("process").c_str(), "unknown exception while handling a message");
        }
        reportDropBurst(false);
    }
}
