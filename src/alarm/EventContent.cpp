#include "alarm/EventContent.h"

#include <cstring>

#include "common/JsonUtil.h"
#include "common/Utf8.h"

namespace vexa {

namespace {

// Valid UTF-8; plain ASCII, the usual case, is settled without a copy.
bool validText(const char* b, const char* e) {
    for (const char* c = b; c != e; ++c)
        if (static_cast<unsigned char>(*c) >= 0x80) return isValidUtf8(std::string(b, e));
    return true;
}

bool validText(const std::string& s) { return validText(s.data(), s.data() + s.size()); }

// A name that needs no escape in any JSON writer.
bool plainName(const std::string& name) {
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F || c == '"' || c == '\\')
            return false;
    return true;
}

void appendName(const std::string& name, std::string& out) {
    if (plainName(name)) {
        out += '"';
        out += name;
        out += '"';
    } else {
        appendJson(Json::Value(name), out);
    }
}

void render(const MemberList& members, std::string& out) {
    out.clear();
    for (const auto& m : members) {
        if (!out.empty()) out += ',';
        appendName(m.first, out);
        out += ':';
        appendJson(m.second, out);
    }
}

// True when sanitizeJson would return the value unchanged.
bool cleanJson(const Json::Value& v) {
    if (v.isString()) {
        const char* b = nullptr;
        const char* e = nullptr;
        v.getString(&b, &e);
        return validText(b, e);
    }
    if (v.isArray()) {
        for (const Json::Value& e : v)
            if (!cleanJson(e)) return false;
    } else if (v.isObject()) {
        for (auto it = v.begin(); it != v.end(); ++it)
            if (!validText(it.name()) || !cleanJson(*it)) return false;
    }
    return true;
}

void collectStrings(Json::Value& v, std::vector<Json::Value*>& out) {
    if (v.isString()) {
        out.push_back(&v);
    } else if (v.isArray()) {
        for (Json::Value& e : v) collectStrings(e, out);
    } else if (v.isObject()) {
        for (const auto& name : v.getMemberNames()) collectStrings(v[name], out);
    }
}

// Longest prefix of s of at most n bytes that does not end inside a UTF-8 sequence.
size_t utf8Prefix(const std::string& s, size_t n) {
    if (n >= s.size()) return s.size();
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return n;
}

}  // namespace

Json::Value sanitizeJson(const Json::Value& v) {
    if (v.isString()) {
        const char* b = nullptr;
        const char* e = nullptr;
        v.getString(&b, &e);
        const std::string s(b, e);
        return isValidUtf8(s) ? v : Json::Value(sanitizeUtf8(s));
    }
    if (v.isArray()) {
        Json::Value out(Json::arrayValue);
        for (const Json::Value& e : v) out.append(sanitizeJson(e));
        return out;
    }
    if (v.isObject()) {
        Json::Value out(Json::objectValue);
        // Two names that differ only in their bad bytes become one member; the later one wins.
        for (auto it = v.begin(); it != v.end(); ++it) out[sanitizeUtf8(it.name())] = sanitizeJson(*it);
        return out;
    }
    return v;
}

bool writeMembersAsIs(const MemberRefs& members, size_t limit, std::string& out) {
    out.clear();
    for (const auto& m : members) {
        const std::string name = m.first;
        if (!validText(name) || !cleanJson(*m.second)) return false;
        if (!out.empty()) out += ',';
        appendName(name, out);
        out += ':';
        appendJson(*m.second, out);
        if (out.size() > limit) return false;
    }
    return true;
}

bool writeMemberList(const MemberList& members, size_t limit, std::string& out) {
    // Valid text that fits is written as it is, without a sanitised copy.
    bool clean = true;
    for (const auto& m : members) clean = clean && validText(m.first) && cleanJson(m.second);
    if (clean) {
        render(members, out);
        if (out.size() <= limit) return true;
    }
    MemberList work;
    work.reserve(members.size());
    for (const auto& m : members) work.emplace_back(sanitizeUtf8(m.first), sanitizeJson(m.second));
    render(work, out);
    if (out.size() <= limit) return true;
    std::vector<Json::Value*> strings;
    for (auto& m : work) collectStrings(m.second, strings);
    for (int round = 0; round < 256 && out.size() > limit; ++round) {
        Json::Value* longest = nullptr;
        size_t longestLen = 0;
        for (Json::Value* s : strings) {
            const char* b = nullptr;
            const char* e = nullptr;
            s->getString(&b, &e);
            const size_t len = static_cast<size_t>(e - b);
            if (len > longestLen) {
                longest = s;
                longestLen = len;
            }
        }
        if (!longest) break;
        const size_t excess = out.size() - limit;
        // Cut what is too much; when escapes made a byte cost more than one, the cut frees
        // more than needed, and when it is not enough the next round cuts again.
        const size_t cut = excess > 0 ? excess : 1;
        const std::string text = longest->asString();
        const size_t keep = cut >= text.size() ? 0 : utf8Prefix(text, text.size() - cut);
        *longest = Json::Value(text.substr(0, keep));
        render(work, out);
    }
    if (out.size() <= limit) return true;
    out.clear();
    return false;
}

void copyTextField(char* field, size_t cap, const std::string& text) {
    if (!field || cap == 0) return;
    if (validText(text)) {
        const size_t n = utf8Prefix(text, cap - 1);
        memcpy(field, text.data(), n);
        field[n] = '\0';
        return;
    }
    const std::string clean = sanitizeUtf8(text);
    const size_t n = utf8Prefix(clean, cap - 1);
    memcpy(field, clean.data(), n);
    field[n] = '\0';
}

}  // namespace vexa
