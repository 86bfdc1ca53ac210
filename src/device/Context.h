// A pending request: the sending thread waits on it, the library's answer callback completes it.
#ifndef VEXA_CONTEXT_H
#define VEXA_CONTEXT_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/StatusList.h"

class CContext {
public:
    // Waits are measured on clock (the device manager's in the request channel).
    CContext(uint32_t seq, bool acceptList, const vexa::Clock& clock = vexa::steadyClock())
        : m_seq(seq), m_listFlag(acceptList ? 1u : 0u), m_clock(clock) {}

    uint32_t seq() const { return m_seq; }

    // Waits for the answer; an answer that came before the wait began completes it at once.
    // Returns the answer's error number, or kWaitTimeout when none came in time.
    uint32_t Wait(uint32_t ms);

    // Stores an answer and wakes the waiter. Only the first answer counts.
    void completeText(uint32_t errorNo, std::string text);
    void completeList(uint32_t errorNo, std::vector<std::string> list);

    std::string response() const;
    std::vector<std::string> responseList() const;
    bool acceptsList() const { return m_listFlag != 0; }

    // Buffer handed to the library with the request; lives as long as the context.
    std::vector<char>& answerBuffer() { return m_answerBuffer; }

private:
    const uint32_t m_seq;
    const uint32_t m_listFlag;
    const vexa::Clock& m_clock;
    mutable std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_done = false;
    std::atomic<bool> m_ready{false};  // m_done, readable without the lock
    uint32_t m_result = 0;
    std::string m_response;
    std::vector<std::string> m_responseList;
    std::vector<char> m_answerBuffer;
};

#endif
