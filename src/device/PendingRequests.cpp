#include "device/PendingRequests.h"

#include "common/Log.h"
#include "device/Context.h"
#include "device/VexaDevice.h"

namespace {
constexpr uint32_t kListDataType = 7;
constexpr uint32_t kMaxListEntries = 65536;
const char* const kAnswerFunc = "CVexaDeviceMgr::pfnDeviceAsyncCallback";
}  // namespace

void PendingRequests::setClock(const vexa::Clock* clock) {
    m_clock = clock ? clock : &vexa::steadyClock();
    m_dropGate.setClock(m_clock.load());
}

// Answers nobody will take: late ones, duplicates, unclaimed early ones. Rate-limited per login.
void PendingRequests::reportDropped(const Dropped& dropped) {
    for (const auto& d : dropped)
        if (m_dropGate.allow(std::to_string(d.first)))
            LOG_REG(5, kAnswerFunc, "[userID=%ld,AsynHandle=%ld]not find context.", static_cast<long>(d.first),
                    static_cast<long>(d.second));
}

void PendingRequests::complete(CContext& ctx, EarlyAnswer& a) {
    if (a.isList)
        ctx.completeList(a.errorNo, ctx.acceptsList() ? std::move(a.list) : std::vector<std::string>());
    else
        ctx.completeText(a.errorNo, std::move(a.text));
}

void PendingRequests::purgeEarlyLocked(uint64_t now, Dropped& dropped) {
    for (auto it = m_early.begin(); it != m_early.end();) {
        if (now - it->second.atMs > kEarlyAnswerTtlMs && now >= it->second.atMs) {
            dropped.emplace_back(it->second.userHandle, it->first);
            it = m_early.erase(it);
        } else {
            ++it;
        }
    }
}

void PendingRequests::add(uint32_t seq, const std::shared_ptr<CContext>& ctx) {
    const uint64_t t = now();
    std::shared_ptr<CContext> old;
    EarlyAnswer early;
    bool haveEarly = false, closed = false;
    Dropped dropped;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        purgeEarlyLocked(t, dropped);
        closed = m_closed;
        auto& slot = m_contexts[seq];
        if (slot) LOG_REG(5, "CVexaDeviceMgr::addContext", "The same aldon seq context!");
        old.swap(slot);
        slot = ctx;
        m_finished.erase(seq);  // a number the library hands out again is live again
        auto it = m_early.find(seq);
        if (!closed && it != m_early.end()) {
            early = std::move(it->second);
            m_early.erase(it);
            haveEarly = true;
        }
    }
    // The older context is released outside the lock.
    old.reset();
    reportDropped(dropped);
    if (closed)
        ctx->completeText(VEXA_RC_DEVICE_GONE, std::string());
    else if (haveEarly)
        complete(*ctx, early);
}

void PendingRequests::remove(uint32_t seq, const CContext* ctx) {
    std::shared_ptr<CContext> old;
    std::lock_guard<std::mutex> lk(m_lock);
    auto it = m_contexts.find(seq);
    if (it == m_contexts.end() || it->second.get() != ctx) return;
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

std::shared_ptr<CContext> PendingRequests::find(uint32_t seq) const {
    std::lock_guard<std::mutex> lk(m_lock);
    auto it = m_contexts.find(seq);
    return it == m_contexts.end() ? nullptr : it->second;
}

size_t PendingRequests::count() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_contexts.size();
}

size_t PendingRequests::earlyAnswerCount() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_early.size();
}

void PendingRequests::open() {
    std::lock_guard<std::mutex> lk(m_lock);
    m_closed = false;
}

void PendingRequests::close() {
    std::map<uint32_t, std::shared_ptr<CContext>> pending;
    Dropped dropped;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_closed = true;
        pending = m_contexts;
        for (const auto& kv : m_early) dropped.emplace_back(kv.second.userHandle, kv.first);
        m_early.clear();
    }
    reportDropped(dropped);
    for (auto& kv : pending) kv.second->completeText(VEXA_RC_DEVICE_GONE, std::string());
}

void PendingRequests::setMissHook(std::function<void(uint32_t)> hook) {
    std::lock_guard<std::mutex> lk(m_lock);
    m_missHook = std::move(hook);
}

void PendingRequests::onAnswer(const VEXA_CMS_ASYNC_ANSWER* answer) {
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
    a.atMs = now();
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
    Dropped dropped;
    std::function<void(uint32_t)> hook;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        auto it = m_contexts.find(seq);
        if (it != m_contexts.end()) {
            ctx = it->second;
        } else if (m_closed || m_finished.count(seq)) {
            dropped.emplace_back(a.userHandle, seq);  // shutting down, or a late answer
        } else {
            purgeEarlyLocked(a.atMs, dropped);
            if (m_early.size() >= kMaxEarlyAnswers) {
                auto oldest = m_early.begin();
                for (auto e = m_early.begin(); e != m_early.end(); ++e)
                    if (e->second.atMs < oldest->second.atMs) oldest = e;
                dropped.emplace_back(oldest->second.userHandle, oldest->first);
                m_early.erase(oldest);
            }
            const int32_t userHandle = a.userHandle;
            if (m_early.try_emplace(seq, std::move(a)).second)
                hook = m_missHook;
            else
                dropped.emplace_back(userHandle, seq);  // only the first answer counts
        }
    }
    if (ctx) complete(*ctx, a);
    reportDropped(dropped);
    if (hook) hook(seq);
}
