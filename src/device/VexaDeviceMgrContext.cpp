// Pending-request contexts and the library's asynchronous-answer callback.
#include "device/Context.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "device/VexaDeviceMgr.h"

namespace {
constexpr uint32_t kListDataType = 7;
constexpr uint32_t kMaxListEntries = 65536;
const char* const kAnswerFunc = "CVexaDeviceMgr::pfnDeviceAsyncCallback";

// Answers nobody will take: late ones, duplicates, unclaimed early ones. Rate-limited per login.
void reportDroppedAnswers(const std::vector<std::pair<int32_t, uint32_t>>& dropped) {
    static vexa::LogGate gate;
    for (const auto& d : dropped)
        if (gate.allow(std::to_string(d.first)))
            LOG_REG(5, kAnswerFunc, "[userID=%ld,AsynHandle=%ld]not find context.", static_cast<long>(d.first),
                    static_cast<long>(d.second));
}
}  // namespace

void CVexaDeviceMgr::purgeEarlyAnswersLocked(uint64_t now, std::vector<std::pair<int32_t, uint32_t>>& dropped) {
    for (auto it = m_earlyAnswers.begin(); it != m_earlyAnswers.end();) {
        if (now - it->second.atMs > kEarlyAnswerTtlMs && now >= it->second.atMs) {
            dropped.emplace_back(it->second.userHandle, it->first);
            it = m_earlyAnswers.erase(it);
        } else {
            ++it;
        }
    }
}

void CVexaDeviceMgr::addContext(uint32_t seq, const std::shared_ptr<CContext>& ctx) {
    const uint64_t now = tick();
    std::shared_ptr<CContext> old;
    EarlyAnswer early;
    bool haveEarly = false, closed = false;
    std::vector<std::pair<int32_t, uint32_t>> dropped;
    {
        std::lock_guard<std::mutex> lk(m_contextLock);
        purgeEarlyAnswersLocked(now, dropped);
        closed = m_contextsClosed;
        auto& slot = m_contexts[seq];
        if (slot) LOG_REG(5, "CVexaDeviceMgr::addContext", "The same aldon seq context!");
        old.swap(slot);
        slot = ctx;
        m_finished.erase(seq);  // a number the library hands out again is live again
        auto it = m_earlyAnswers.find(seq);
        if (!closed && it != m_earlyAnswers.end()) {
            early = std::move(it->second);
            m_earlyAnswers.erase(it);
            haveEarly = true;
        }
    }
    // The older context is released outside the lock.
    old.reset();
    reportDroppedAnswers(dropped);
    if (closed) {
        ctx->completeText(0x20000009, std::string());
    } else if (haveEarly) {
        if (early.isList)
            ctx->completeList(early.errorNo, ctx->acceptsList() ? std::move(early.list) : std::vector<std::string>());
        else
            ctx->completeText(early.errorNo, std::move(early.text));
    }
}

void CVexaDeviceMgr::removeContext(uint32_t seq, const CContext* ctx) {
    std::shared_ptr<CContext> old;
    std::lock_guard<std::mutex> lk(m_contextLock);
    auto it = m_contexts.find(seq);
    if (it != m_contexts.end() && it->second.get() == ctx) {
        old.swap(it->second);
        m_contexts.erase(it);
        // Remembered so that its late answer is dropped at once instead of waiting as an early one.
        m_finished[seq] = ++m_finishedGen;
        m_finishedOrder.emplace_back(seq, m_finishedGen);
        while (m_finishedOrder.size() > kMaxFinished) {
            auto f = m_finished.find(m_finishedOrder.front().first);
            if (f != m_finished.end() && f->second == m_finishedOrder.front().second) m_finished.erase(f);
            m_finishedOrder.pop_front();
        }
    }
}

std::shared_ptr<CContext> CVexaDeviceMgr::findContext(uint32_t seq) const {
    std::lock_guard<std::mutex> lk(m_contextLock);
    auto it = m_contexts.find(seq);
    return it == m_contexts.end() ? nullptr : it->second;
}

void CVexaDeviceMgr::closeContexts() {
    std::map<uint32_t, std::shared_ptr<CContext>> pending;
    std::vector<std::pair<int32_t, uint32_t>> dropped;
    {
        std::lock_guard<std::mutex> lk(m_contextLock);
        m_contextsClosed = true;
        pending = m_contexts;
        for (const auto& kv : m_earlyAnswers) dropped.emplace_back(kv.second.userHandle, kv.first);
        m_earlyAnswers.clear();
    }
    reportDroppedAnswers(dropped);
    for (auto& kv : pending) kv.second->completeText(0x20000009, std::string());
}

size_t CVexaDeviceMgr::contextCount() const {
    std::lock_guard<std::mutex> lk(m_contextLock);
    return m_contexts.size();
}

size_t CVexaDeviceMgr::earlyAnswerCount() const {
    std::lock_guard<std::mutex> lk(m_contextLock);
    return m_earlyAnswers.size();
}

void CVexaDeviceMgr::setAnswerMissHook(std::function<void(uint32_t)> hook) {
    std::lock_guard<std::mutex> lk(m_contextLock);
    m_answerMissHook = std::move(hook);
}

void CVexaDeviceMgr::pfnDeviceAsyncCallback(const VEXA_CMS_ASYNC_ANSWER* answer, void* user) {
    if (!answer || !user) return;
    try {
        static_cast<CVexaDeviceMgr*>(user)->onAsyncAnswer(answer);
    } catch (const std::exception& e) {
        LOG_REG(5, kAnswerFunc, "exception: %s", e.what());
    }
}

void CVexaDeviceMgr::onAsyncAnswer(const VEXA_CMS_ASYNC_ANSWER* answer) {
    const uint32_t seq = answer->dwAsyncHandle;
    const bool isList = answer->dwDataType == kListDataType;
    if (isList)
        LOG_REG(2, kAnswerFunc, "[userID=%ld,AsynHandle=%ld,deType=%d,ErrorNo=%d]",
                static_cast<long>(answer->lUserHandle), static_cast<long>(seq), static_cast<int>(answer->dwDataType),
                static_cast<int>(answer->dwErrorNo));

    EarlyAnswer a;
    a.errorNo = answer->dwErrorNo;
    a.isList = isList;
    a.userHandle = answer->lUserHandle;
    a.atMs = tick();
    if (isList) {
        const auto* list = static_cast<const VEXA_CMS_LIST_ANSWER*>(answer->pData);
        // A list is taken only when the answer succeeded (and, below, the sender accepts one).
        if (answer->dwErrorNo == 0 && list && list->pEntries && list->dwCount <= kMaxListEntries) {
            a.list.reserve(list->dwCount);
            for (uint32_t i = 0; i < list->dwCount; ++i) {
                const VEXA_CMS_LIST_ENTRY& e = list->pEntries[i];
                a.list.emplace_back(e.pText ? std::string(e.pText, e.dwTextLen) : std::string());
            }
        }
    } else if (answer->pData) {
        a.text.assign(static_cast<const char*>(answer->pData), answer->dwDataLen);
    }

    // Look-up and early store are one critical section: a context registered at the same time
    // either is found here or finds the stored answer when it is added.
    std::shared_ptr<CContext> ctx;
    std::vector<std::pair<int32_t, uint32_t>> dropped;
    std::function<void(uint32_t)> hook;
    {
        std::lock_guard<std::mutex> lk(m_contextLock);
        auto it = m_contexts.find(seq);
        if (it != m_contexts.end()) {
            ctx = it->second;
        } else if (m_contextsClosed || m_finished.count(seq)) {
            dropped.emplace_back(a.userHandle, seq);  // shutting down, or a late answer
        } else {
            purgeEarlyAnswersLocked(a.atMs, dropped);
            if (m_earlyAnswers.size() >= kMaxEarlyAnswers) {
                auto oldest = m_earlyAnswers.begin();
                for (auto e = m_earlyAnswers.begin(); e != m_earlyAnswers.end(); ++e)
                    if (e->second.atMs < oldest->second.atMs) oldest = e;
                dropped.emplace_back(oldest->second.userHandle, oldest->first);
                m_earlyAnswers.erase(oldest);
            }
            const int32_t userHandle = a.userHandle;
            if (m_earlyAnswers.try_emplace(seq, std::move(a)).second)
                hook = m_answerMissHook;
            else
                dropped.emplace_back(userHandle, seq);  // only the first answer counts
        }
    }
    if (ctx) {
        if (isList)
            ctx->completeList(a.errorNo, ctx->acceptsList() ? std::move(a.list) : std::vector<std::string>());
        else
            ctx->completeText(a.errorNo, std::move(a.text));
    }
    reportDroppedAnswers(dropped);
    if (hook) hook(seq);
}
