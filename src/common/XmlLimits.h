// Guards for handing untrusted text to TinyXML, which has no depth limit and stops at NUL.
#ifndef VEXA_XML_LIMITS_H
#define VEXA_XML_LIMITS_H

#include <cstddef>
#include <string>

namespace vexa {

constexpr size_t kMaxXmlText = 1024 * 1024;
constexpr int kMaxXmlDepth = 64;

// True when the text is small enough, has no NUL byte and never nests elements deeper than
// kMaxXmlDepth (a conservative scan: every '<' not followed by '/', '?' or '!' opens a level
// until "/>" or a closing tag).
bool xmlSafeToParse(const std::string& text);

}  // namespace vexa

#endif
