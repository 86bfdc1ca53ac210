#include "XmlLimits.h"

#include <cstring>

namespace vexa {

bool xmlSafeToParse(const std::string& text) {
    if (text.size() > kMaxXmlText) return false;
    if (memchr(text.data(), '\0', text.size())) return false;
    int depth = 0;
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        if (text[i] != '<') continue;
        if (i + 1 >= n) break;
        const char c = text[i + 1];
        if (c == '/') {
            if (depth > 0) --depth;
            continue;
        }
        if (c == '?' || c == '!') continue;
        // Find the end of this tag; a self-closing tag opens no level.
        const size_t end = text.find('>', i + 1);
        if (end == std::string::npos) break;
        if (text[end - 1] != '/' && ++depth > kMaxXmlDepth) return false;
        i = end;
    }
    return true;
}

}  // namespace vexa
