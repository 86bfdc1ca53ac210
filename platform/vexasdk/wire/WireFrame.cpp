#include "WireFrame.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <memory>
#include <sstream>

namespace vexawire {

namespace {

// Frames come from untrusted peers: keep JsonCpp's recursion well inside a small stack.
constexpr int kJsonDepth = 64;

Json::CharReader* reader() {
    thread_local std::unique_ptr<Json::CharReader> r = [] {
        Json::CharReaderBuilder b;
        b["stackLimit"] = kJsonDepth;
        b["collectComments"] = false;
        // A frame body is exactly one JSON object: no trailing text, no comments.
        b["allowComments"] = false;
        b["failIfExtra"] = true;
        return std::unique_ptr<Json::CharReader>(b.newCharReader());
    }();
    return r.get();
}

Json::StreamWriter* writer() {
    thread_local std::unique_ptr<Json::StreamWriter> w = [] {
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        b["emitUTF8"] = true;
        return std::unique_ptr<Json::StreamWriter>(b.newStreamWriter());
    }();
    return w.get();
}

}  // namespace

std::string encodeFrame(const Json::Value& msg) {
    std::ostringstream os;
    writer()->write(msg, &os);
    std::string body = os.str();
    std::string out;
    out.reserve(body.size() + 4);
    const uint32_t n = static_cast<uint32_t>(body.size());
    out.push_back(static_cast<char>((n >> 24) & 0xff));
    out.push_back(static_cast<char>((n >> 16) & 0xff));
    out.push_back(static_cast<char>((n >> 8) & 0xff));
    out.push_back(static_cast<char>(n & 0xff));
    out += body;
    return out;
}

bool decodeBody(const char* data, size_t len, Json::Value& out, std::string& why) {
    out = Json::Value();
    // The reader takes a NUL as the end of its input, so text after one would go unseen.
    if (memchr(data, '\0', len) != nullptr) {
        why = "body holds a NUL byte";
        return false;
    }
    try {
        std::string errs;
        if (!reader()->parse(data, data + len, &out, &errs)) {
            why = "body is not JSON";
            return false;
        }
    } catch (const std::exception&) {
        why = "body nests too deep";
        return false;
    }
    if (!out.isObject()) {
        why = "body is not a JSON object";
        return false;
    }
    const Json::Value& t = out["type"];
    if (!t.isString()) {
        why = "frame has no string \"type\"";
        return false;
    }
    return true;
}

FrameDecoder::Result FrameDecoder::next(Json::Value& out, std::string& why) {
    if (m_failed) {
        why = "stream already failed";
        return Result::Error;
    }
    const size_t avail = m_buf.size() - m_pos;
    if (avail < 4) return Result::NeedMore;
    const auto* p = reinterpret_cast<const unsigned char*>(m_buf.data() + m_pos);
    const uint32_t n = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
    if (n < 1 || n > m_maxLen) {
        m_failed = true;
        why = "frame length " + std::to_string(n) + " out of range";
        return Result::Error;
    }
    if (avail - 4 < n) return Result::NeedMore;
    const bool ok = decodeBody(m_buf.data() + m_pos + 4, n, out, why);
    m_pos += 4 + n;
    // Compact lazily so a burst of small frames does not move memory each time.
    if (m_pos == m_buf.size()) {
        m_buf.clear();
        m_pos = 0;
    } else if (m_pos > 65536 && m_pos * 2 > m_buf.size()) {
        m_buf.erase(0, m_pos);
        m_pos = 0;
    }
    if (!ok) {
        m_failed = true;
        return Result::Error;
    }
    return Result::Frame;
}

std::string getString(const Json::Value& obj, const char* name, const std::string& fallback) {
    if (!obj.isObject()) return fallback;
    const Json::Value* v = obj.find(name, name + strlen(name));
    return (v && v->isString()) ? v->asString() : fallback;
}

int64_t getInt(const Json::Value& obj, const char* name, int64_t fallback) {
    if (!obj.isObject()) return fallback;
    const Json::Value* v = obj.find(name, name + strlen(name));
    return (v && v->isInt64()) ? v->asInt64() : fallback;
}

uint32_t getU32(const Json::Value& obj, const char* name, uint32_t fallback) {
    if (!obj.isObject()) return fallback;
    const Json::Value* v = obj.find(name, name + strlen(name));
    return (v && v->isUInt()) ? v->asUInt() : fallback;
}

bool getBool(const Json::Value& obj, const char* name, bool fallback) {
    if (!obj.isObject()) return fallback;
    const Json::Value* v = obj.find(name, name + strlen(name));
    return (v && v->isBool()) ? v->asBool() : fallback;
}

std::string toHex(const unsigned char* data, size_t len) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    s.reserve(len * 2);
    for (size_t i = 0; i < len; ++i) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 15]);
    }
    return s;
}

std::string hmacSha256Hex(const std::string& key, const std::string& message) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(message.data()), message.size(), md, &mdLen))
        return std::string();
    return toHex(md, mdLen);
}

}  // namespace vexawire
