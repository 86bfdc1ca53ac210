#include "EventContent.h"

#include <cstring>

#include "JsonUtil.h"

namespace vexa {

namespace {

std::string render(const MemberList& members) {
    std::string out;
    for (const auto& m : members) {
        if (!out.empty()) out += ',';
        out += writeJson(Json::Value(m.first));
        out += ':';
        out += writeJson(m.second);
    }
    return out;
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

bool writeMemberList(const MemberList& members, size_t limit, std::string& out) {
    out = render(members);
    if (out.size() <= limit) return true;
    MemberList work = members;
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
        out = render(work);
    }
    if (out.size() <= limit) return true;
    out.clear();
    return false;
}

void copyTextField(char* field, size_t cap, const std::string& text) {
    if (!field || cap == 0) return;
    const size_t n = utf8Prefix(text, cap - 1);
    memcpy(field, text.data(), n);
    field[n] = '\0';
}

}  // namespace vexa
