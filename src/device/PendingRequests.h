// Requests waiting for their device's answer, by sequence number. An answer that arrives before
// its context is added is kept for a few seconds (on the given clock) and completes the context
// when it is added; numbers recently finished drop their late answers at once.
#ifndef VEXA_PENDING_REQUESTS_H
#define VEXA_PENDING_REQUESTS_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/Clock.h"
#include "common/LogLimit.h"
#include "VexaCmsSdk.h"

class CContext;

class PendingRequests {
public:
    static constexpr size_t kMaxEarlyAnswers = 1024;
    static constexpr uint64_t kEarlyAnswerTtlMs = 5000;

    explicit PendingRequests(const vexa::Clock* clock = &vexa::steadyClock()) { setClock(clock); }

    void setClock(const vexa::Clock* clock);

    void add(uint32_t seq, const std::shared_ptr<CContext>& ctx);
    // Removes the entry only when it is ctx (never a newer context with the same number).
    void remove(uint32_t seq, const CContext* ctx);
    std::shared_ptr<CContext> find(uint32_t seq) const;
    size_t count() const;
    size_t earlyAnswerCount() const;
    // Completes every pending request as "device gone" and refuses new ones until open().
    void close();
    void open();
    // The library's asynchronous answer.
    void onAnswer(const VEXA_CMS_ASYNC_ANSWER* answer);
    // Test hook: runs after an answer found no context and was kept as an early answer.
    void setMissHook(std::function<void(uint32_t seq)> hook);

private:
    struct EarlyAnswer {
        uint32_t errorNo = 0;
        bool isList = false;
        int32_t userHandle = -1;
        std::string text;
        std::vector<std::string> list;
        uint64_t atMs = 0;
    };
    using Dropped = std::vector<std::pair<int32_t, uint32_t>>;  // (user handle, sequence)
    static constexpr size_t kMaxFinished = 4096;

    void purgeEarlyLocked(uint64_t now, Dropped& dropped);
    void reportDropped(const Dropped& dropped);
    static void complete(CContext& ctx, EarlyAnswer& a);
    uint64_t now() const { return m_clock.load()->nowMs(); }

    std::atomic<const vexa::Clock*> m_clock{nullptr};
    vexa::LogGate m_dropGate;  // per login
    mutable std::mutex m_lock;
    std::map<uint32_t, std::shared_ptr<CContext>> m_contexts;
    std::map<uint32_t, EarlyAnswer> m_early;
    // Recently removed sequence numbers (with a generation, so a reused number is not forgotten early).
    std::map<uint32_t, uint64_t> m_finished;
    std::deque<std::pair<uint32_t, uint64_t>> m_finishedOrder;
    uint64_t m_finishedGen = 0;
    std::function<void(uint32_t)> m_missHook;
    bool m_closed = false;
};

#endif
