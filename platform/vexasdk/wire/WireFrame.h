// Frame codec of the stand-in device protocol: 4-byte big-endian length, then one JSON object
// with a string member "type". Shared by the access-library stand-ins and the device simulator.
#ifndef VEXA_WIRE_FRAME_H
#define VEXA_WIRE_FRAME_H

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexawire {

constexpr uint32_t kMaxFrameLen = 1048576;
// Before login (command connection) and before alarmHello (alarm connection).
constexpr uint32_t kMaxPreLoginFrameLen = 16384;

// Compact JSON body with its length prefix.
std::string encodeFrame(const Json::Value& msg);

// A flat frame written member by member, for paths that send one per request: the bytes
// encodeFrame writes for the same members, which go in the order it writes them (by name,
// byte-wise; names are kept by pointer until finish()). finish() is empty when a name came out
// of order or a text holds a control byte the escapes do not name: encodeMembers then builds a
// Json::Value instead.
class FlatFrame {
public:
    FlatFrame();
    FlatFrame& text(const char* name, const char* data, size_t len);
    FlatFrame& text(const char* name, const std::string& s) { return text(name, s.data(), s.size()); }
    FlatFrame& number(const char* name, uint64_t v);
    std::string finish();

private:
    bool member(const char* name);
    std::string m_out;
    const char* m_last = nullptr;  // the previous name (the caller's, alive until finish)
    size_t m_lastLen = 0;
    bool m_ok = true;
};

// The same members into a Json::Value.
struct ValueMembers {
    Json::Value value{Json::objectValue};
    ValueMembers& text(const char* name, const std::string& s) { return value[name] = s, *this; }
    ValueMembers& number(const char* name, uint64_t v) { return value[name] = static_cast<Json::UInt64>(v), *this; }
};

// The frame of the members `put(sink)` hands to a sink (FlatFrame or ValueMembers, in the
// writer's order): written directly, or through a Json::Value when the direct writer gives way.
template <class Put>
std::string encodeMembers(const Put& put) {
    FlatFrame f;
    put(f);
    std::string out = f.finish();
    if (!out.empty()) return out;
    ValueMembers v;
    put(v);
    return encodeFrame(v.value);
}

// Parses one frame body. Fails (with a reason) unless the body is exactly one JSON object
// holding a string "type": no NUL byte, comment or other text around it. Never throws.
bool decodeBody(const char* data, size_t len, Json::Value& out, std::string& why);

// Incremental decoder for a byte stream.
class FrameDecoder {
public:
    enum class Result { NeedMore, Frame, Error };

    void feed(const char* data, size_t len) { m_buf.append(data, len); }
    // Takes the next complete frame out of the buffer. After Error the stream is unusable.
    Result next(Json::Value& out, std::string& why);
    size_t buffered() const { return m_buf.size() - m_pos; }
    // Largest body accepted from now on (at most kMaxFrameLen).
    void setMaxLen(uint32_t n) { m_maxLen = n < kMaxFrameLen ? n : kMaxFrameLen; }
    uint32_t maxLen() const { return m_maxLen; }

private:
    std::string m_buf;
    size_t m_pos = 0;
    bool m_failed = false;
    uint32_t m_maxLen = kMaxFrameLen;
};

// Type-checked member access: a missing member or one of the wrong type gives the fallback.
std::string getString(const Json::Value& obj, const char* name, const std::string& fallback = std::string());
int64_t getInt(const Json::Value& obj, const char* name, int64_t fallback = 0);
uint32_t getU32(const Json::Value& obj, const char* name, uint32_t fallback = 0);
bool getBool(const Json::Value& obj, const char* name, bool fallback = false);

std::string toHex(const unsigned char* data, size_t len);
// HMAC-SHA256(key, message) as 64 lower-case hex digits.
std::string hmacSha256Hex(const std::string& key, const std::string& message);

}  // namespace vexawire

#endif
