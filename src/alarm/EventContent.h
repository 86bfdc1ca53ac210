// The JSON content of a host event: a comma-separated member list ("name":value,...) that must
// fit a fixed record field and must never be cut in the middle.
#ifndef VEXA_EVENT_CONTENT_H
#define VEXA_EVENT_CONTENT_H

#include <json/json.h>

#include <string>
#include <utility>
#include <vector>

namespace vexa {

// Members in the order they are written (a JSON object would sort them by name).
using MemberList = std::vector<std::pair<std::string, Json::Value>>;

// A copy of the value whose texts and member names are valid UTF-8 (see sanitizeUtf8).
Json::Value sanitizeJson(const Json::Value& v);

// Writes the members as "name":value pairs joined by commas, without braces, in at most `limit`
// bytes. When that does not fit, the longest text values (at any depth) are shortened, on UTF-8
// character boundaries, until it does; device texts that are not valid UTF-8 are repaired first; the result is always valid JSON when wrapped in braces.
// Returns false (and an empty text) only when even empty texts do not fit.
bool writeMemberList(const MemberList& members, size_t limit, std::string& out);

// Members by reference, in the order they are written.
using MemberRefs = std::vector<std::pair<const char*, const Json::Value*>>;

// writeMemberList for members whose texts are valid UTF-8 and that fit in `limit` as they are,
// without copying them; false (out unspecified) for any others, which need writeMemberList.
bool writeMembersAsIs(const MemberRefs& members, size_t limit, std::string& out);

// Copies text into a fixed record field of `cap` bytes (NUL included), repaired to valid UTF-8 and
// cut to fit without splitting a character.
void copyTextField(char* field, size_t cap, const std::string& text);

}  // namespace vexa

#endif
