// A bounded text queue with one worker thread: the shared machinery of the alarm worker and
// the operation-message worker.
#ifndef VEXA_MSG_WORKER_H
#define VEXA_MSG_WORKER_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "PAL.h"
#include "common/Clock.h"
#include "common/WorkQueue.h"

class CMsgWorker {
public:
    using Counters = WorkQueue::Counters;

    virtual ~CMsgWorker() = default;

    // Starts the worker; on failure logs failMsg (level 5, function text funcText) and returns
    // false. A second start while running does nothing.
    bool start(const char* funcText, const char* failMsg);
    // Sets the stop flag, joins the worker and discards what is still queued (logged with the
    // queue's totals).
    void stop();
    bool running() const { return m_thread != PAL_INVALID_THREAD; }

    // Appends a copy of the text; empty texts are ignored. When the queue is full the oldest
    // entry is dropped; every drop is counted and logged (rate-limited while the queue stays
    // full, and once more when that burst is over).
    void push(std::string text);
    // Head of the queue, or "" when it is empty. Never blocks beyond the lock.
    std::string pop() { return m_queue.pop(std::chrono::milliseconds(0)); }
    size_t queued() const { return m_queue.size(); }
    uint64_t dropped() const { return m_queue.dropped(); }
    Counters counters() const { return m_queue.counters(); }
    void setBound(size_t bound) { m_queue.setBound(bound); }

    // Reports a burst of drops that is over: the queue has drained, or nothing was dropped for a
    // second. The worker calls it between messages; exposed for tests.
    void reportDropBurst(bool queueEmpty);
    // The clock of the drop and refusal reports (null: the process's steady clock).
    void setClock(const vexa::Clock* clock);

protected:
    // Handles one text on the worker thread.
    virtual void process(const std::string& text) = 0;
    // Class name, the start of every function text.
    virtual const char* name() const = 0;
    // What one text is, in log lines ("alarms").
    virtual const char* items() const = 0;

    // Offer for producers that can keep the text: false when the queue is full or has not yet
    // drained below half its bound since. Refusals are counted and logged (rate-limited).
    bool offerText(std::string& text);

private:
    static uint32_t threadEntry(void* self);
    void run();
    uint64_t now() const;
    std::string func(const char* method) const { return std::string(name()) + "::" + method; }

    std::atomic<uint32_t> m_stop{0};
    PAL_THREAD m_thread = PAL_INVALID_THREAD;
    WorkQueue m_queue;

    // Drop and refusal reporting; touched only when the queue is full and between messages.
    mutable std::mutex m_reportLock;
    const vexa::Clock* m_clock = &vexa::steadyClock();
    std::atomic<bool> m_burstOpen{false};
    uint64_t m_burstDrops = 0;
    uint64_t m_lastDropMs = 0;
    uint64_t m_lastDropLogMs = 0;
    bool m_dropLogged = false;
    uint64_t m_lastRefuseLogMs = 0;
    bool m_refuseLogged = false;
};

#endif
