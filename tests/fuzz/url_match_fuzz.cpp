// URL helpers on arbitrary text. Input: one byte for the "%d" count, then uri, pattern and
// parameter name separated by line breaks.
#include <cstdint>
#include <string>

#include "gateway/UrlMatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int nArgs = data[0] % 6;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t a = text.find('\n');
    const std::string uri = text.substr(0, a);
    const size_t b = a == std::string::npos ? a : text.find('\n', a + 1);
    const std::string pattern = a == std::string::npos ? uri : text.substr(a + 1, b - (a + 1));
    const std::string name = b == std::string::npos ? "devIndex" : text.substr(b + 1);

    const bool m = matchUrl(uri, pattern, nArgs);
    // Without conversions the pattern must equal the path exactly.
    if (nArgs == 0 && pattern.find('%') == std::string::npos && pattern.size() <= 2047 &&
        m != (uri.substr(0, uri.find('?')) == pattern))
        __builtin_trap();
    if (m && nArgs > 4) __builtin_trap();
    matchUrlIgnore(urlPath(uri), pattern);

    std::string out, value;
    const bool erased = eraseUrlParam(uri, out, name);
    const bool found = getUrlParam(value, name, uri);
    if (erased != found) __builtin_trap();  // both see the same parameters
    if (erased && out.size() >= uri.size()) __builtin_trap();
    if (found && value.size() >= uri.size()) __builtin_trap();
    getHttpMethodType(name);
    return 0;
}
