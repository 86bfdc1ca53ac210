#include "common/JsonUtil.h"

#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>

namespace vexa {

namespace {

Json::CharReader* reader() {
    // One reader per thread: CharReader keeps parse state.
    thread_local std::unique_ptr<Json::CharReader> r = [] {
        Json::CharReaderBuilder b;
        b["stackLimit"] = 64;
        b["collectComments"] = false;
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

// Appends what the writer streams straight to a caller's string.
class AppendBuf : public std::streambuf {
public:
    std::string* out = nullptr;

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) out->push_back(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        out->append(s, static_cast<size_t>(n));
        return n;
    }
};

// One stream per thread: making a stream costs more than writing a small value.
struct AppendStream {
    AppendBuf buf;
    std::ostream os{&buf};
};

}  // namespace

bool parseJson(const char* data, size_t len, Json::Value& out) {
    out = Json::Value();
    if (!data || len > kMaxJsonText) return false;
    try {
        std::string errs;
        return reader()->parse(data, data + len, &out, &errs);
    } catch (const std::exception&) {
        out = Json::Value();
        return false;
    }
}

bool parseJson(const std::string& text, Json::Value& out) { return parseJson(text.data(), text.size(), out); }

// The library's writer, for what the direct one below leaves to it.
void libraryJson(const Json::Value& v, std::string& out) {
    thread_local AppendStream s;
    s.buf.out = &out;
    s.os.clear();
    writer()->write(v, &s.os);
    s.buf.out = nullptr;
}

namespace {

// A text the writer puts between quotes unchanged (it escapes only these bytes).
bool plainText(const char* b, const char* e) {
    for (const char* c = b; c != e; ++c)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == '"' || *c == '\\') return false;
    return true;
}

bool hasComment(const Json::Value& v) {
    if (v.hasComment(Json::commentBefore) || v.hasComment(Json::commentAfterOnSameLine) ||
        v.hasComment(Json::commentAfter))
        return true;
    // A member's comment is written by its container.
    if (v.isArray() || v.isObject())
        for (const Json::Value& c : v)
            if (c.hasComment(Json::commentBefore) || c.hasComment(Json::commentAfterOnSameLine) ||
                c.hasComment(Json::commentAfter))
                return true;
    return false;
}

// The compact form written directly for the common cases, byte for byte as the library's writer
// (configured above) writes it; numbers with a fraction, texts that need escapes and comments
// go to that writer.
void directJson(const Json::Value& v, std::string& out) {
    if (hasComment(v)) return libraryJson(v, out);
    switch (v.type()) {
        case Json::nullValue:
            out += "null";
            return;
        case Json::booleanValue:
            out += v.asBool() ? "true" : "false";
            return;
        case Json::intValue:
            out += std::to_string(v.asLargestInt());
            return;
        case Json::uintValue:
            out += std::to_string(v.asLargestUInt());
            return;
        case Json::stringValue: {
            const char* b = nullptr;
            const char* e = nullptr;
            if (!v.getString(&b, &e) || !plainText(b, e)) return libraryJson(v, out);
            out += '"';
            out.append(b, static_cast<size_t>(e - b));
            out += '"';
            return;
        }
        case Json::arrayValue: {
            out += '[';
            for (Json::ArrayIndex i = 0; i < v.size(); ++i) {
                if (i) out += ',';
                directJson(v[i], out);
            }
            out += ']';
            return;
        }
        case Json::objectValue: {
            out += '{';
            bool first = true;
            for (auto it = v.begin(); it != v.end(); ++it) {
                if (!first) out += ',';
                first = false;
                const std::string name = it.name();
                if (plainText(name.data(), name.data() + name.size())) {
                    out += '"';
                    out += name;
                    out += '"';
                } else {
                    libraryJson(Json::Value(name), out);
                }
                out += ':';
                directJson(*it, out);
            }
            out += '}';
            return;
        }
        default:
            return libraryJson(v, out);
    }
}

}  // namespace

void appendJson(const Json::Value& v, std::string& out) { directJson(v, out); }

std::string writeJson(const Json::Value& v) {
    std::string out;
    appendJson(v, out);
    return out;
}

const Json::Value* jsonMember(const Json::Value& obj, const char* name) {
    if (!obj.isObject()) return nullptr;
    return obj.find(name, name + strlen(name));
}

bool jsonString(const Json::Value& obj, const char* name, std::string& out) {
    const Json::Value* v = jsonMember(obj, name);
    if (!v || !v->isString()) return false;
    out = v->asString();
    return true;
}

bool jsonInt32(const Json::Value& obj, const char* name, int32_t& out) {
    const Json::Value* v = jsonMember(obj, name);
    if (!v || !v->isInt()) return false;
    out = v->asInt();
    return true;
}

}  // namespace vexa
