#include "MsgWorker.h"

#include "Log.h"

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
    m_queue.clear();
}

void CMsgWorker::push(std::string text) {
    if (text.empty()) return;
    if (m_queue.push(std::move(text))) return;
    // Full: the oldest entry went. Say so at most once a second.
    const uint64_t now = PAL_GetTimeTick64();
    uint64_t last = m_lastDropLogMs.load(std::memory_order_relaxed);
    if (now - last >= 1000 && m_lastDropLogMs.compare_exchange_strong(last, now))
        RunLog_Write(4, "VEXA_DEV", "[%s(%d)] %s queue full, oldest entries dropped: %llu so far", name(), __LINE__,
                     name(), static_cast<unsigned long long>(m_queue.dropped()));
}

uint32_t CMsgWorker::threadEntry(void* self) {
    if (self) static_cast<CMsgWorker*>(self)->run();
    return 0;
}

void CMsgWorker::run() {
    while (m_stop.load() == 0) {
        // Waits on the queue's condition (10 ms at most) rather than sleeping blindly.
        std::string text = m_queue.pop(std::chrono::milliseconds(10));
        if (text.empty()) continue;
        try {
            process(text);
        } catch (const std::exception& e) {
            RunLog_Write(5, "VEXA_DEV", "[%s(%d)] exception while handling a message: %s", name(), __LINE__, e.what());
        } catch (...) {
            RunLog_Write(5, "VEXA_DEV", "[%s(%d)] unknown exception while handling a message", name(), __LINE__);
        }
    }
}
