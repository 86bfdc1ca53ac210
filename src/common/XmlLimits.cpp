#include "common/XmlLimits.h"

#include <cstring>

namespace vexa {

namespace {
// How far TinyXML steps over a byte it reads as UTF-8: a lead byte claims its whole sequence,
// without looking for the end of the text on the way.
size_t tinyStep(unsigned char c) {
    if (c >= 0xF0) return 4;  // counted generously: a wider guess only refuses more
    if (c >= 0xE0) return 3;
    if (c >= 0xC0) return 2;
    return 1;
}
}  // namespace

bool xmlSafeToParse(const std::string& text) {
    if (text.size() > kMaxXmlText) return false;
    if (memchr(text.data(), '\0', text.size())) return false;
    // A sequence cut off by the end of the text would make TinyXML step past the terminator and
    // read beyond the buffer.
    for (size_t i = text.size() > 3 ? text.size() - 3 : 0; i < text.size(); ++i)
        if (i + tinyStep(static_cast<unsigned char>(text[i])) > text.size()) return false;
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
