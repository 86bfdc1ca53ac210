// URL helpers of the device-API gateway. All of them accept any text: nothing is scanned into a
// fixed buffer, and a malformed pattern or URI simply does not match.
#ifndef VEXA_URL_MATCH_H
#define VEXA_URL_MATCH_H

#include <string>

// True when uri (cut at its first '?') equals pattern with its "%d" conversions filled by the
// integers read out of uri. nArgs must equal the number of "%d" in pattern and be 0..4; any other
// '%' conversion in pattern never matches. The filled pattern is limited to 2047 characters.
bool matchUrl(const std::string& uri, const std::string& pattern, int nArgs);

// Segment-wise comparison at '/'; segments of pattern that equal "IGNORE" (at most four) match
// any segment of path. Both need the same number of segments.
bool matchUrlIgnore(const std::string& path, const std::string& pattern);

// True when uri contains "format=json" anywhere.
bool isJsonFormat(const std::string& uri);

// Removes the query parameter name (and its value) from uri. Only a real parameter counts:
// "?name=" or "&name=" after the first '?'. False (outUrl untouched) when there is none.
bool eraseUrlParam(const std::string& uri, std::string& outUrl, const std::string& name);

// "GET" 0, "PUT" 1, "POST" 2, "DELETE" 3, anything else -1.
int getHttpMethodType(const std::string& method);

// Value of the query parameter name (same matching rule as eraseUrlParam), up to the next '&',
// else the next '?', else the end, without leading and trailing spaces.
bool getUrlParam(std::string& value, const std::string& name, const std::string& uri);

// The part of uri before its first '?', "" when it holds none.
std::string urlPath(const std::string& uri);

#endif
