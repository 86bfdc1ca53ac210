// Small helpers shared by the two access libraries.
#ifndef VEXASDK_SDKUTIL_H
#define VEXASDK_SDKUTIL_H

#include "WireFrame.h"
#include "runlog.h"

#include <openssl/rand.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>

namespace vexasdk {

// Text of a fixed record field: stops at the first NUL or at the end of the field.
inline std::string fieldText(const char* field, size_t cap) {
    return std::string(field, strnlen(field, cap));
}

// Copies into a fixed field, always NUL-terminated (longer texts are cut).
inline void setField(char* field, size_t cap, const std::string& s) {
    if (cap == 0) return;
    const size_t n = s.size() < cap - 1 ? s.size() : cap - 1;
    memcpy(field, s.data(), n);
    field[n] = '\0';
}

// Fills the whole field when the text is exactly as long (keys that are exactly the field size).
inline void setFieldFull(char* field, size_t cap, const std::string& s) {
    const size_t n = s.size() < cap ? s.size() : cap;
    memcpy(field, s.data(), n);
    if (n < cap) field[n] = '\0';
}

inline std::string randomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&raw[0]), static_cast<int>(bytes)) != 1) {
        // Not expected; still never hand out a constant nonce.
        std::random_device rd;
        for (auto& c : raw) c = static_cast<char>(rd());
    }
    return vexawire::toHex(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

inline bool constantTimeEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char d = 0;
    for (size_t i = 0; i < a.size(); ++i) d |= static_cast<unsigned char>(a[i] ^ b[i]);
    return d == 0;
}

// A u8 record field from a frame member; out-of-range values count as 0.
inline uint8_t getU8(const Json::Value& obj, const char* name) {
    const uint32_t v = vexawire::getU32(obj, name, 0);
    return v > 255 ? 0 : static_cast<uint8_t>(v);
}

// Pre-login time-out, settable for tests through VEXA_SDK_LOGIN_TIMEOUT_MS.
inline uint64_t loginTimeoutFromEnv() {
    const char* v = getenv("VEXA_SDK_LOGIN_TIMEOUT_MS");
    if (v && *v) {
        char* end = nullptr;
        const unsigned long long ms = strtoull(v, &end, 10);
        if (end && *end == '\0' && ms > 0) return ms;
    }
    return 10000;
}

inline uint64_t secondsProductMs(uint32_t sec, uint32_t count) {
    const uint64_t s = static_cast<uint64_t>(sec) * count;
    constexpr uint64_t cap = 1000ull * 3600 * 24 * 365 * 10;  // ten years: effectively never
    return s > cap / 1000 ? cap : s * 1000;
}

// Device text echoed in a log line is cut to this many bytes.
inline std::string logText(const std::string& s) {
    constexpr size_t kMax = 256;
    return s.size() <= kMax ? s : s.substr(0, kMax) + "...";
}

// Logs a line about one peer's bad input through a LogGate; the first line let through after a
// held-back run says how many were held back.
#define SDK_BAD_INPUT(gate, module, peer, fmt, ...)                                                  \
    do {                                                                                            \
        uint64_t held_ = 0;                                                                         \
        if ((gate).allow(peer, held_)) {                                                            \
            if (held_)                                                                              \
                RunLog_Write(4, module, "%s: %llu similar lines held back", (peer).c_str(),         \
                             static_cast<unsigned long long>(held_));                               \
            RunLog_Write(4, module, fmt, __VA_ARGS__);                                              \
        }                                                                                           \
    } while (0)

// Rate limit for lines about one source's bad input: at most kBurst lines per source in each
// period; the next line let through says how many were held back.
class LogGate {
public:
    bool allow(const std::string& source, uint64_t& suppressed) {
        const uint64_t now = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
        std::lock_guard<std::mutex> lk(m_mu);
        if (m_slots.size() >= kMaxSources && m_slots.find(source) == m_slots.end()) m_slots.clear();
        Slot& s = m_slots[source];
        if (s.used == 0 || now - s.start >= kPeriodMs) {
            s.start = now;
            s.used = 0;
        }
        if (s.used >= kBurst) {
            ++s.held;
            return false;
        }
        ++s.used;
        suppressed = s.held;
        s.held = 0;
        return true;
    }

private:
    static constexpr uint32_t kBurst = 5;
    static constexpr uint64_t kPeriodMs = 10000;
    static constexpr size_t kMaxSources = 4096;
    struct Slot {
        uint64_t start = 0;
        uint32_t used = 0;
        uint64_t held = 0;
    };
    std::mutex m_mu;
    std::unordered_map<std::string, Slot> m_slots;
};

// Connections accepted and not yet past login (or alarmHello), capped per library.
struct PendingLogins {
    static constexpr uint32_t kDefaultMax = 1024;
    std::atomic<uint32_t> count{0};
    std::atomic<uint32_t> max{kDefaultMax};
    std::atomic<uint64_t> refused{0};

    // False (and counted) when the cap is reached: the caller closes the connection at once.
    bool tryEnter() {
        uint32_t c = count.load();
        do {
            if (c >= max.load()) {
                refused.fetch_add(1);
                return false;
            }
        } while (!count.compare_exchange_weak(c, c + 1));
        return true;
    }
    void leave() { count.fetch_sub(1); }

    // tryEnter, with a rate-limited line about the connection closed at the cap.
    template <class Gate>
    bool admit(Gate& gate, const char* module, const char* waiting, const std::string& peer, uint16_t port) {
        if (tryEnter()) return true;
        uint64_t held = 0;
        if (gate.allow("pending-login cap", held))
            RunLog_Write(4, module, "%u connections %s, closing %s:%u (%llu refused so far)", max.load(), waiting,
                         peer.c_str(), port, static_cast<unsigned long long>(refused.load()));
        return false;
    }
};

}  // namespace vexasdk

#endif
