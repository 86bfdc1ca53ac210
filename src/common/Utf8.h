// Text from devices may hold any bytes; documents handed to the host must be valid UTF-8.
#ifndef VEXA_UTF8_H
#define VEXA_UTF8_H

#include <string>

namespace vexa {

// True when the whole text is well-formed UTF-8 (no overlong forms, surrogates or code points
// above U+10FFFF).
bool isValidUtf8(const std::string& text);

// The text with each ill-formed sequence (maximal subpart) replaced by U+FFFD; valid text comes
// back unchanged.
std::string sanitizeUtf8(const std::string& text);

}  // namespace vexa

#endif
