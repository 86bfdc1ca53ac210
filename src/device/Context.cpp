#include "device/Context.h"

#include "common/Log.h"

uint32_t CContext::Wait(uint32_t ms) {
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
