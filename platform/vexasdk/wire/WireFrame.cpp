#include "WireFrame.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string_view>

namespace vexawire {

namespace {

// Frames come from untrusted peers: keep JsonCpp's recursion well inside a small stack.
constexpr int kJsonDepth = 64;
// Buffer a fully consumed decoder keeps for the next bytes.
constexpr size_t kKeepCapacity = 16384;

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

// Appends what the writer emits straight to the frame, behind its length prefix.
class AppendBuf final : public std::streambuf {
public:
    std::string* out = nullptr;

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) out->push_back(static_cast<char>(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* p, std::streamsize n) override {
        out->append(p, static_cast<size_t>(n));
        return n;
    }
};

// How the compact writer treats each byte inside a string: 0 as it is, 1 a named escape, 2 a
// control byte it writes as \u00XX.
constexpr std::array<uint8_t, 256> kQuoteClass = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = 2;
    for (unsigned char c : {'"', '\\', '\b', '\f', '\n', '\r', '\t'}) t[c] = 1;
    return t;
}();

// A JSON string as the compact writer quotes it; false for control bytes other than the named
// escapes (rare: those go through the writer itself).
bool appendQuoted(std::string& out, const char* p, const char* e) {
    out.push_back('"');
    while (p != e) {
        const char* run = p;
        while (p != e && kQuoteClass[static_cast<unsigned char>(*p)] == 0) ++p;
        out.append(run, static_cast<size_t>(p - run));
        if (p == e) break;
        const char c = *p++;
        if (kQuoteClass[static_cast<unsigned char>(c)] == 2) return false;
        char esc[2] = {'\\', c};
        switch (c) {
            case '\b': esc[1] = 'b'; break;
            case '\f': esc[1] = 'f'; break;
            case '\n': esc[1] = 'n'; break;
            case '\r': esc[1] = 'r'; break;
            case '\t': esc[1] = 't'; break;
            default: break;  // quote and backslash stand for themselves
        }
        out.append(esc, 2);
    }
    out.push_back('"');
    return true;
}

bool hasComments(const Json::Value& v) {
    return v.hasComment(Json::commentBefore) || v.hasComment(Json::commentAfterOnSameLine) ||
           v.hasComment(Json::commentAfter);
}

// The common frame, one flat object of texts, integers and booleans, written directly with the
// same bytes as the writer; false for anything else (nesting, floats, comments), which the
// writer then handles.
bool appendFlat(std::string& out, const Json::Value& msg) {
    if (!msg.isObject() || hasComments(msg)) return false;
    out.push_back('{');
    bool first = true;
    for (auto it = msg.begin(); it != msg.end(); ++it) {
        const Json::Value& v = *it;
        if (hasComments(v)) return false;
        if (!first) out.push_back(',');
        first = false;
        const char* nameEnd = nullptr;
        const char* name = it.memberName(&nameEnd);
        if (!name || !appendQuoted(out, name, nameEnd)) return false;
        out.push_back(':');
        switch (v.type()) {
            case Json::nullValue: out += "null"; break;
            case Json::intValue: out += std::to_string(v.asLargestInt()); break;
            case Json::uintValue: out += std::to_string(v.asLargestUInt()); break;
            case Json::booleanValue: out += v.asBool() ? "true" : "false"; break;
            case Json::stringValue: {
                const char* b = nullptr;
                const char* e = nullptr;
                if (!v.getString(&b, &e) || !appendQuoted(out, b, e)) return false;
                break;
            }
            default: return false;
        }
    }
    out.push_back('}');
    return true;
}

bool jsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The common frame, one flat object of texts, integers, booleans and nulls, read straight into
// the value the reader builds for it; false for anything else (nesting, fractions, \u escapes,
// raw control bytes, comments, trailing commas, a leading zero), left to the reader and its checks.
class FlatReader {
public:
    FlatReader(const char* p, const char* e) : m_p(p), m_e(e) {}

    bool read(Json::Value& out) {
        skip();
        if (!eat('{')) return false;
        out = Json::Value(Json::objectValue);
        skip();
        if (eat('}')) return end();
        for (;;) {
            skip();
            if (!text(m_key)) return false;
            skip();
            if (!eat(':')) return false;
            skip();
            if (!value(out[m_key])) return false;
            skip();
            if (eat('}')) return end();
            if (!eat(',')) return false;
        }
    }

private:
    void skip() {
        while (m_p != m_e && jsonSpace(*m_p)) ++m_p;
    }
    bool eat(char c) {
        if (m_p == m_e || *m_p != c) return false;
        ++m_p;
        return true;
    }
    bool end() {
        skip();
        return m_p == m_e;
    }
    // A value ends where a member does.
    bool delimited() const { return m_p != m_e && (jsonSpace(*m_p) || *m_p == ',' || *m_p == '}'); }
    bool literal(const char* word, size_t n) {
        if (static_cast<size_t>(m_e - m_p) < n || memcmp(m_p, word, n) != 0) return false;
        m_p += n;
        return delimited();
    }

    bool text(std::string& s) {
        if (!eat('"')) return false;
        s.clear();
        const char* run = m_p;
        while (m_p != m_e) {
            const unsigned char c = static_cast<unsigned char>(*m_p);
            if (c == '"') {
                s.append(run, static_cast<size_t>(m_p - run));
                ++m_p;
                return true;
            }
            if (c < 0x20) return false;
            if (c != '\\') {
                ++m_p;
                continue;
            }
            s.append(run, static_cast<size_t>(m_p - run));
            if (++m_p == m_e) return false;
            switch (*m_p) {
                case '"': s.push_back('"'); break;
                case '\\': s.push_back('\\'); break;
                case '/': s.push_back('/'); break;
                case 'b': s.push_back('\b'); break;
                case 'f': s.push_back('\f'); break;
                case 'n': s.push_back('\n'); break;
                case 'r': s.push_back('\r'); break;
                case 't': s.push_back('\t'); break;
                default: return false;
            }
            run = ++m_p;
        }
        return false;
    }

    bool value(Json::Value& v) {
        if (m_p == m_e) return false;
        switch (*m_p) {
            case '"': {
                std::string s;
                if (!text(s)) return false;
                v = Json::Value(std::move(s));
                return true;
            }
            case 't': return literal("true", 4) && (v = true, true);
            case 'f': return literal("false", 5) && (v = false, true);
            case 'n': return literal("null", 4) && (v = Json::Value(), true);
            default: return integer(v);
        }
    }

    // As the reader decodes integers: within int64 signed, above it unsigned, beyond either a
    // double (not taken here).
    bool integer(Json::Value& v) {
        const bool neg = eat('-');
        const char* digits = m_p;
        uint64_t n = 0;
        while (m_p != m_e && *m_p >= '0' && *m_p <= '9') {
            const unsigned d = static_cast<unsigned>(*m_p - '0');
            if (n > (UINT64_MAX - d) / 10) return false;
            n = n * 10 + d;
            ++m_p;
        }
        const size_t len = static_cast<size_t>(m_p - digits);
        if (len == 0 || (len > 1 && *digits == '0') || !delimited()) return false;
        constexpr uint64_t kMaxSigned = static_cast<uint64_t>(INT64_MAX);
        if (!neg) {
            v = n <= kMaxSigned ? Json::Value(static_cast<Json::LargestInt>(n)) : Json::Value(static_cast<Json::LargestUInt>(n));
        } else if (n <= kMaxSigned) {
            v = Json::Value(-static_cast<Json::LargestInt>(n));
        } else if (n == kMaxSigned + 1) {
            v = Json::Value(Json::Value::minLargestInt);
        } else {
            return false;
        }
        return true;
    }

    const char* m_p;
    const char* m_e;
    std::string m_key;
};

}  // namespace

std::string encodeFrame(const Json::Value& msg) {
    // One sink and stream per thread: building a stream per frame costs more than the frame.
    // The body is built in a per-thread scratch that keeps its capacity, then copied once into a
    // frame of the exact size.
    thread_local AppendBuf buf;
    thread_local std::ostream os(&buf);
    thread_local std::string body;
    body.clear();
    if (!appendFlat(body, msg)) {
        body.clear();
        buf.out = &body;
        os.clear();
        writer()->write(msg, &os);
        buf.out = nullptr;
    }
    const uint32_t n = static_cast<uint32_t>(body.size());
    const char prefix[4] = {static_cast<char>((n >> 24) & 0xff), static_cast<char>((n >> 16) & 0xff),
                            static_cast<char>((n >> 8) & 0xff), static_cast<char>(n & 0xff)};
    std::string out;
    out.reserve(body.size() + 4);
    out.append(prefix, 4);
    out.append(body);
    // A rare huge frame does not pin its memory to the thread.
    if (body.capacity() > 65536) std::string().swap(body);
    return out;
}

FlatFrame::FlatFrame() {
    m_out.reserve(512);
    m_out.append(4, '\0');  // the length, once known
    m_out.push_back('{');
}

bool FlatFrame::member(const char* name) {
    if (!m_ok) return false;
    const size_t n = strlen(name);
    // The writer's order: byte-wise, a prefix first.
    if (m_last && std::string_view(m_last, m_lastLen) >= std::string_view(name, n)) return m_ok = false;
    m_last = name;
    m_lastLen = n;
    if (m_out.size() > 5) m_out.push_back(',');
    if (!appendQuoted(m_out, name, name + n)) return m_ok = false;
    m_out.push_back(':');
    return true;
}

FlatFrame& FlatFrame::text(const char* name, const char* data, size_t len) {
    if (member(name) && !appendQuoted(m_out, data, data + len)) m_ok = false;
    return *this;
}

FlatFrame& FlatFrame::number(const char* name, uint64_t v) {
    if (member(name)) m_out += std::to_string(v);
    return *this;
}

std::string FlatFrame::finish() {
    if (!m_ok) return std::string();
    m_out.push_back('}');
    const size_t n = m_out.size() - 4;
    for (int i = 0; i < 4; ++i) m_out[i] = static_cast<char>((n >> (24 - 8 * i)) & 0xff);
    return std::move(m_out);
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
        if (!FlatReader(data, data + len).read(out) && (out = Json::Value(), !reader()->parse(data, data + len, &out, &errs))) {
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
        // An idle stream keeps no large buffer: many connections may each have had one burst.
        if (m_buf.capacity() > kKeepCapacity)
            std::string().swap(m_buf);
        else
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
