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

// Writes the members as "name":value pairs joined by commas, without braces, in at most `limit`
// bytes. When that does not fit, the longest text values (at any depth) are shortened, on UTF-8
// character boundaries, until it does; the result is always valid JSON when wrapped in braces.
// Returns false (and an empty text) only when even empty texts do not fit.
bool writeMemberList(const MemberList& members, size_t limit, std::string& out);

// Copies text into a fixed record field of `cap` bytes (NUL included), cut to fit without
// splitting a UTF-8 character.
void copyTextField(char* field, size_t cap, const std::string& text);

}  // namespace vexa

#endif
