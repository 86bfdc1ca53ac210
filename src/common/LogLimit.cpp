#include "common/LogLimit.h"

namespace vexa {

std::string logText(const char* text, size_t len) {
    if (!text) return std::string();
    if (len <= kMaxLoggedDeviceText) return std::string(text, len);
    std::string s(text, kMaxLoggedDeviceText);
    s += "...";
    return s;
}

std::string logText(const std::string& text) { return logText(text.data(), text.size()); }

LogGate::LogGate(uint32_t burst, uint64_t periodMs, size_t maxSources)
    : m_burst(burst ? burst : 1), m_periodMs(periodMs ? periodMs : 1), m_maxSources(maxSources ? maxSources : 1) {}

void LogGate::setClock(const Clock* clock) {
    std::lock_guard<std::mutex> lk(m_lock);
    m_clock = clock ? clock : &steadyClock();
}

uint64_t LogGate::now() const { return m_clock->nowMs(); }

bool LogGate::allow(const std::string& source, uint64_t& suppressed) {
    std::lock_guard<std::mutex> lk(m_lock);
    suppressed = 0;
    const uint64_t t = now();
    auto it = m_slots.find(source);
    if (it == m_slots.end()) {
        // Many distinct sources (random identifiers, addresses) must not grow the table: start
        // over, which at worst lets one more burst per source through.
        if (m_slots.size() >= m_maxSources) m_slots.clear();
        it = m_slots.emplace(source, Slot{t, 0, 0}).first;
    }
    Slot& s = it->second;
    if (t - s.windowStart >= m_periodMs) {
        s.windowStart = t;
        s.used = 0;
    }
    if (s.used >= m_burst) {
        ++s.held;
        return false;
    }
    ++s.used;
    suppressed = s.held;
    s.held = 0;
    return true;
}

}  // namespace vexa
