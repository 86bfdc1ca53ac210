// JSON helpers for untrusted text: size and depth caps, no exceptions, one compact form.
#ifndef VEXA_JSON_UTIL_H
#define VEXA_JSON_UTIL_H

#include <json/json.h>

#include <cstdint>
#include <string>

namespace vexa {

// Texts above this size are not parsed at all.
constexpr size_t kMaxJsonText = 4 * 1024 * 1024;

// Lenient parse (the reader's defaults, nesting capped at 64). False on any failure.
bool parseJson(const std::string& text, Json::Value& out);
bool parseJson(const char* data, size_t len, Json::Value& out);

// Compact single-line form, members in name order, no trailing line break.
std::string writeJson(const Json::Value& v);
// The same form appended to out (no stream object made per call).
void appendJson(const Json::Value& v, std::string& out);

// Type-checked reads: absent or wrongly typed members give false / the fallback.
bool jsonString(const Json::Value& obj, const char* name, std::string& out);
bool jsonInt32(const Json::Value& obj, const char* name, int32_t& out);
const Json::Value* jsonMember(const Json::Value& obj, const char* name);

}  // namespace vexa

#endif
