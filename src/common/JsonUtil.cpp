#include "common/JsonUtil.h"

#include <cstring>
#include <memory>
#include <sstream>

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

std::string writeJson(const Json::Value& v) {
    std::ostringstream os;
    writer()->write(v, &os);
    return os.str();
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
