// Small helpers shared by the two access libraries.
#ifndef VEXASDK_SDKUTIL_H
#define VEXASDK_SDKUTIL_H

#include "WireFrame.h"

#include <openssl/rand.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

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

}  // namespace vexasdk

#endif
