#include "common/Utf8.h"

namespace vexa {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// Length of the well-formed sequence at i, or 0; `bad` then tells how many bytes form the
// ill-formed prefix that one replacement character stands for.
size_t sequenceAt(const std::string& s, size_t i, size_t& bad) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    bad = 1;
    if (b < 0x80) return 1;
    size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b == 0xE0) {
        need = 2, lo = 0xA0;
    } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
        need = 2;
    } else if (b == 0xED) {
        need = 2, hi = 0x9F;  // no surrogates
    } else if (b == 0xF0) {
        need = 3, lo = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
        need = 3;
    } else if (b == 0xF4) {
        need = 3, hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    size_t j = i + 1;
    for (size_t k = 0; k < need; ++k, ++j) {
        if (j >= s.size()) break;
        const unsigned char c = static_cast<unsigned char>(s[j]);
        if (c < lo || c > hi) break;
        lo = 0x80, hi = 0xBF;
    }
    if (j - i == need + 1) return need + 1;
    bad = j - i;
    return 0;
}

}  // namespace

bool isValidUtf8(const std::string& text) {
    size_t bad = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t n = sequenceAt(text, i, bad);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string sanitizeUtf8(const std::string& text) {
    if (isValidUtf8(text)) return text;
    std::string out;
    out.reserve(text.size() + 16);
    size_t bad = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t n = sequenceAt(text, i, bad);
        if (n) {
            out.append(text, i, n);
            i += n;
        } else {
            out += kReplacement;
            i += bad;
        }
    }
    return out;
}

}  // namespace vexa
