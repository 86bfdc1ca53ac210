// A bounded text queue with one worker thread: the shared machinery of the alarm worker and
// the operation-message worker.
#ifndef VEXA_MSG_WORKER_H
#define VEXA_MSG_WORKER_H

#include <atomic>
#include <cstdint>
#include <string>

#include "PAL.h"
#include "WorkQueue.h"

class CMsgWorker {
public:
    virtual ~CMsgWorker() = default;

    // Starts the worker; on failure logs failMsg (level 5, function text funcText) and returns
    // false. A second start while running does nothing.
    bool start(const char* funcText, const char* failMsg);
    // Sets the stop flag, joins the worker and discards what is still queued.
    void stop();
    bool running() const { return m_thread != PAL_INVALID_THREAD; }

    // Appends a copy of the text; empty texts are ignored. When the queue is full the oldest
    // entry is dropped and counted.
    void push(std::string text);
    // Head of the queue, or "" when it is empty. Never blocks beyond the lock.
    std::string pop() { return m_queue.pop(std::chrono::milliseconds(0)); }
    size_t queued() const { return m_queue.size(); }
    uint64_t dropped() const { return m_queue.dropped(); }
    void setBound(size_t bound) { m_queue.setBound(bound); }

protected:
    // Handles one text on the worker thread.
    virtual void process(const std::string& text) = 0;
    virtual const char* name() const = 0;

private:
    static uint32_t threadEntry(void* self);
    void run();

    std::atomic<uint32_t> m_stop{0};
    PAL_THREAD m_thread = PAL_INVALID_THREAD;
    WorkQueue m_queue;
    std::atomic<uint64_t> m_lastDropLogMs{0};
};

#endif
