// Pending-request contexts and the library's asynchronous-answer callback.
#include "Context.h"
#include "Log.h"
#include "VexaDeviceMgr.h"

namespace {
constexpr uint32_t kListDataType = 7;
constexpr uint32_t kMaxListEntries = 65536;
}  // namespace

void CVexaDeviceMgr::addContext(uint32_t seq, const std::shared_ptr<CContext>& ctx) {
    std::shared_ptr<CContext> old;
    EarlyAnswer early;
    bool haveEarly = false;
    {
        std::lock_guard<std::mutex> lk(m_contextLock);
        if (m_contextsClosed) {
            early.errorNo = 0x20000009;
            haveEarly = true;
        }
        auto& slot = m_contexts[seq];
        if (slot) LOG_REG(5, "CVexaDeviceMgr::addContext", "The same aldon seq context!");
        old.swap(slot);
        slot = ctx;
        auto it = m_earlyAnswers.find(seq);
        if (!haveEarly && it != m_earlyAnswers.end()) {
            early = std::move(it->second);
            m_earlyAnswers.erase(it);
            haveEarly = true;
        }
    }
    // The older context is released outside the lock.
    old.reset();
    if (haveEarly) {
        if (early.isList)
            ctx->completeList(early.errorNo, std::move(early.list));
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
    }
}

std::shared_ptr<CContext> CVexaDeviceMgr::findContext(uint32_t seq) const {
    std::lock_guard<std::mutex> lk(m_contextLock);
    auto it = m_contexts.find(seq);
    return it == m_contexts.end() ? nullptr : it->second;
}

void CVexaDeviceMgr::closeContexts() {
    std::map<uint32_t, std::shared_ptr<CContext>> pending;
    {
        std::lock_guard<std::mutex> lk(m_contextLock);
        m_contextsClosed = true;
        pending = m_contexts;
        m_earlyAnswers.clear();
    }
    for (auto& kv : pending) kv.second->completeText(0x20000009, std::string());
}

size_t CVexaDeviceMgr::contextCount() const {
    std::lock_guard<std::mutex> lk(m_contextLock);
    return m_contexts.size();
}

void CVexaDeviceMgr::pfnDeviceAsyncCallback(const VEXA_CMS_ASYNC_ANSWER* answer, void* user) {
    if (!answer || !user) return;
    try {
        static_cast<CVexaDeviceMgr*>(user)->onAsyncAnswer(answer);
    } catch (const std::exception& e) {
        LOG_REG(5, "pfnDeviceAsyncCallback", "exception: %s", e.what());
    }
}

void CVexaDeviceMgr::onAsyncAnswer(const VEXA_CMS_ASYNC_ANSWER* answer) {
    static const char* F = "pfnDeviceAsyncCallback";
    const uint32_t seq = answer->dwAsyncHandle;
    std::shared_ptr<CContext> ctx = findContext(seq);
    const bool isList = answer->dwDataType == kListDataType;
    if (isList)
        LOG_REG(2, F, "[userID=%ld,AsynHandle=%ld,deType=%d,ErrorNo=%d]", static_cast<long>(answer->lUserHandle),
                static_cast<long>(seq), static_cast<int>(answer->dwDataType), static_cast<int>(answer->dwErrorNo));

    EarlyAnswer a;
    a.errorNo = answer->dwErrorNo;
    a.isList = isList;
    if (isList) {
        const auto* list = static_cast<const VEXA_CMS_LIST_ANSWER*>(answer->pData);
        // A list is taken only when the sender accepts one and the answer succeeded.
        const bool accept = !ctx || ctx->acceptsList();
        if (accept && answer->dwErrorNo == 0 && list && list->pEntries && list->dwCount <= kMaxListEntries) {
            a.list.reserve(list->dwCount);
            for (uint32_t i = 0; i < list->dwCount; ++i) {
                const VEXA_CMS_LIST_ENTRY& e = list->pEntries[i];
                a.list.emplace_back(e.pText ? std::string(e.pText, e.dwTextLen) : std::string());
            }
        }
    } else if (answer->pData) {
        a.text.assign(static_cast<const char*>(answer->pData), answer->dwDataLen);
    }

    if (ctx) {
        if (isList)
            ctx->completeList(a.errorNo, std::move(a.list));
        else
            ctx->completeText(a.errorNo, std::move(a.text));
        return;
    }
    LOG_REG(5, F, "[userID=%ld,AsynHandle=%ld]not find context.", static_cast<long>(answer->lUserHandle),
            static_cast<long>(seq));
    // Possibly an answer that overtook its sender's registration: keep it briefly.
    const uint64_t now = PAL_GetTimeTick64();
    a.atMs = now;
    std::lock_guard<std::mutex> lk(m_contextLock);
    for (auto it = m_earlyAnswers.begin(); it != m_earlyAnswers.end();) {
        if (now - it->second.atMs > kEarlyAnswerTtlMs)
            it = m_earlyAnswers.erase(it);
        else
            ++it;
    }
    if (m_earlyAnswers.size() >= kMaxEarlyAnswers) m_earlyAnswers.erase(m_earlyAnswers.begin());
    m_earlyAnswers[seq] = std::move(a);
}
