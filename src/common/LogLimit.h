// Keeps device-supplied text from flooding the run log: a cap on how much of it one line may
// copy, and a per-source gate for lines about bad input.
#ifndef VEXA_LOG_LIMIT_H
#define VEXA_LOG_LIMIT_H

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "common/Clock.h"

namespace vexa {

// Device text in a log line never copies more than this many bytes.
constexpr size_t kMaxLoggedDeviceText = 256;

// The text cut to kMaxLoggedDeviceText bytes (with "..." appended when cut), for "%s".
std::string logText(const std::string& text);
std::string logText(const char* text, size_t len);

// Rate limit for lines about one source's bad input: at most `burst` lines per source per
// `periodMs`; the first line let through after a quiet spell reports how many were held back.
class LogGate {
public:
    LogGate(uint32_t burst = 5, uint64_t periodMs = 10000, size_t maxSources = 4096);

    // True when a line about source may be written now; suppressed receives the number of
    // lines held back for that source since the last one written.
    bool allow(const std::string& source, uint64_t& suppressed);
    bool allow(const std::string& source) {
        uint64_t s;
        return allow(source, s);
    }

    // The clock the windows are measured on (the process's steady clock until set).
    void setClock(const Clock* clock);

private:
    struct Slot {
        uint64_t windowStart = 0;
        uint32_t used = 0;
        uint64_t held = 0;
    };
    uint64_t now() const;

    const uint32_t m_burst;
    const uint64_t m_periodMs;
    const size_t m_maxSources;
    mutable std::mutex m_lock;
    std::unordered_map<std::string, Slot> m_slots;
    const Clock* m_clock = &steadyClock();
};

}  // namespace vexa

#endif
