#include "common/XmlCursor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr size_t npos = std::string::npos;

bool isWs(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Tag names may start with a digit: answers carry an element named "23" that the host reads back
// with the same rules.
bool nameStart(char c) {
    return isLetter(c) || isDigit(c) || c == '_' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}
bool nameChar(char c) { return nameStart(c) || c == '-' || c == '.'; }

bool validName(const std::string& name) {
    if (name.empty() || !nameStart(name[0])) return false;
    for (char c : name)
        if (!nameChar(c)) return false;
    return true;
}

// "&name;", "&#digits;" or "&#xhex;" at text[i].
bool entityRefAt(const std::string& text, size_t i) {
    const size_t n = text.size();
    size_t j = i + 1;
    if (j < n && text[j] == '#') {
        ++j;
        bool hex = false;
        if (j < n && text[j] == 'x') {
            hex = true;
            ++j;
        }
        const size_t digits = j;
        while (j < n && (hex ? isHex(text[j]) : isDigit(text[j]))) ++j;
        return j > digits && j < n && text[j] == ';';
    }
    if (j >= n || !(isLetter(text[j]) || text[j] == '_' || text[j] == ':')) return false;
    while (j < n && nameChar(text[j])) ++j;
    return j < n && text[j] == ';';
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Code point of "#123" / "#x7B"; false when malformed, 0 or not a scalar value.
bool charRef(std::string_view ref, uint32_t& cp) {
    if (ref.size() < 2 || ref[0] != '#') return false;
    const bool hex = ref[1] == 'x';
    const size_t first = hex ? 2 : 1;
    if (ref.size() <= first) return false;
    uint64_t v = 0;
    for (size_t k = first; k < ref.size(); ++k) {
        const char c = ref[k];
        if (hex ? !isHex(c) : !isDigit(c)) return false;
        const uint32_t d = isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
        v = v * (hex ? 16 : 10) + d;
        if (v > 0x10FFFF) return false;
    }
    if (v == 0 || (v >= 0xD800 && v <= 0xDFFF)) return false;
    cp = static_cast<uint32_t>(v);
    return true;
}

// Offset of pat inside [from, to) of s, or npos.
size_t findIn(const std::string& s, const char* pat, size_t from, size_t to) {
    if (from >= to) return npos;
    const size_t k = std::string_view(s.data() + from, to - from).find(pat);
    return k == npos ? npos : from + k;
}

bool startsAt(const std::string& s, size_t pos, const char* pat, size_t to) {
    const size_t len = strlen(pat);
    return pos + len <= to && s.compare(pos, len, pat) == 0;
}

}  // namespace

CXmlCursor::CXmlCursor() : m_elems(1) {}

CXmlCursor::CXmlCursor(const std::string& text) : CXmlCursor() { setDocument(text); }

bool CXmlCursor::setDocument(const std::string& text) {
    resetPosition();
    if (text.size() > kMaxDocument) {
        m_doc.clear();
        m_elems.assign(1, Element{});
        m_result = "Document too large";
        m_results = 1;
        m_hasRoot = false;
        return false;
    }
    m_doc = text;
    parse();
    return m_result.empty();
}

void CXmlCursor::addResult(const std::string& text) {
    if (!m_result.empty()) m_result += ", ";
    m_result += text;
    ++m_results;
}

void CXmlCursor::addIncorrect(const char* construct, size_t offset) {
    if (m_results >= kMaxResults) return;
    char buf[96];
    snprintf(buf, sizeof buf, "Incorrect %s at offset %d", construct, static_cast<int>(offset));
    addResult(buf);
}

int CXmlCursor::newElement(int parent, size_t start) {
    Element e;
    e.start = static_cast<uint32_t>(start);
    e.parent = parent;
    e.depth = static_cast<uint16_t>(m_elems[parent].depth + 1);
    m_elems.push_back(e);
    return static_cast<int>(m_elems.size() - 1);
}

void CXmlCursor::link(int parent, int after, int idx) {
    Element& p = m_elems[parent];
    Element& e = m_elems[idx];
    e.parent = parent;
    if (after == 0) after = p.lastChild;
    e.prev = after;
    e.next = after ? m_elems[after].next : p.firstChild;
    if (after)
        m_elems[after].next = idx;
    else
        p.firstChild = idx;
    if (e.next)
        m_elems[e.next].prev = idx;
    else
        p.lastChild = idx;
}

// One pass over the text with an explicit stack of open elements: no recursion, each byte is
// looked at a bounded number of times.
void CXmlCursor::parse() {
    m_elems.assign(1, Element{});
    m_result.clear();
    m_results = 0;
    m_hasRoot = false;
    const size_t n = m_doc.size();
    if (n == 0) {
        addResult("Empty document");
        return;
    }
    const std::string& s = m_doc;
    std::vector<int> open;
    open.reserve(kMaxDepth);
    bool sibling = false;
    size_t i = 0;
    while (i < n && m_results < kMaxResults) {
        const void* lt = memchr(s.data() + i, '<', n - i);
        if (!lt) break;
        const size_t p = static_cast<size_t>(static_cast<const char*>(lt) - s.data());
        if (p + 1 >= n) {
            addIncorrect("tag name character", p);
            break;
        }
        const char c = s[p + 1];
        if (c == '?') {
            const size_t e = findIn(s, "?>", p + 2, n);
            if (e == npos) {
                addIncorrect("Processing instruction", p);
                break;
            }
            i = e + 2;
            continue;
        }
        if (c == '!') {
            if (startsAt(s, p + 2, "--", n)) {
                const size_t e = findIn(s, "-->", p + 4, n);
                if (e == npos) {
                    addIncorrect("Comment", p);
                    break;
                }
                i = e + 3;
            } else if (startsAt(s, p + 2, "[CDATA[", n)) {
                const size_t e = findIn(s, "]]>", p + 9, n);
                if (e == npos) {
                    addIncorrect("CDATA Section", p);
                    break;
                }
                i = e + 3;
            } else if (startsAt(s, p + 2, "DOCTYPE", n)) {
                // Quoted literals and the internal subset may hold '>'.
                size_t j = p + 9;
                size_t end = npos;
                while (j < n) {
                    const char d = s[j];
                    if (d == '>') {
                        end = j;
                        break;
                    }
                    if (d == '"' || d == '\'' || d == '[') {
                        const void* close = memchr(s.data() + j + 1, d == '[' ? ']' : d, n - j - 1);
                        if (!close) break;
                        j = static_cast<size_t>(static_cast<const char*>(close) - s.data());
                    }
                    ++j;
                }
                if (end == npos) {
                    addIncorrect("Doctype", p);
                    break;
                }
                i = end + 1;
            } else if (p + 2 < n && s[p + 2] == '-') {
                addIncorrect("comment tag", p);
                i = p + 2;
            } else {
                addIncorrect("! tag", p);
                i = p + 2;
            }
            continue;
        }
        if (c == '/') {
            size_t j = p + 2;
            const size_t nameAt = j;
            while (j < n && nameChar(s[j])) ++j;
            const size_t nameLen = j - nameAt;
            while (j < n && isWs(s[j])) ++j;
            if (nameLen == 0 || j >= n || s[j] != '>') {
                addIncorrect("Element end tag", p);
                i = p + 2;
                continue;
            }
            const size_t q = j + 1;
            int k = static_cast<int>(open.size()) - 1;
            for (; k >= 0; --k) {
                const Element& e = m_elems[open[k]];
                if (e.nameLen == nameLen && s.compare(e.start + 1, nameLen, s, nameAt, nameLen) == 0) break;
            }
            if (k < 0 || k != static_cast<int>(open.size()) - 1) addIncorrect("Element end tag", p);
            if (k >= 0) {
                // Elements left open inside the one this tag ends stop where the tag begins.
                for (size_t u = open.size() - 1; u > static_cast<size_t>(k); --u) {
                    Element& e = m_elems[open[u]];
                    e.length = static_cast<uint32_t>(p - e.start);
                    e.endTagLen = 0;
                }
                Element& e = m_elems[open[k]];
                e.length = static_cast<uint32_t>(q - e.start);
                e.endTagLen = static_cast<uint32_t>(q - p);
                open.resize(static_cast<size_t>(k));
            }
            i = q;
            continue;
        }
        if (!nameStart(c)) {
            addIncorrect("tag name character", p);
            i = p + 1;
            continue;
        }
        size_t j = p + 1;
        while (j < n && nameChar(s[j])) ++j;
        const size_t nameLen = j - p - 1;
        bool ok = false, emptyTag = false;
        while (j < n) {
            const size_t blanks = j;
            while (j < n && isWs(s[j])) ++j;
            if (j >= n) break;
            if (s[j] == '>') {
                ok = true;
                ++j;
                break;
            }
            if (s[j] == '/') {
                if (j + 1 < n && s[j + 1] == '>') {
                    ok = emptyTag = true;
                    j += 2;
                }
                break;
            }
            if (j == blanks || !nameStart(s[j])) break;
            while (j < n && nameChar(s[j])) ++j;
            while (j < n && isWs(s[j])) ++j;
            if (j >= n || s[j] != '=') break;
            ++j;
            while (j < n && isWs(s[j])) ++j;
            if (j >= n || (s[j] != '"' && s[j] != '\'')) break;
            const char quote = s[j++];
            while (j < n && s[j] != quote && s[j] != '<') ++j;
            if (j >= n || s[j] != quote) break;
            ++j;
        }
        if (!ok) {
            addIncorrect("Element tag", p);
            if (j >= n) break;  // no further '<' past this point
            i = p + 1;
            continue;
        }
        if (open.size() >= static_cast<size_t>(kMaxDepth)) {
            char buf[96];
            snprintf(buf, sizeof buf, "Element nesting too deep at offset %d", static_cast<int>(p));
            addResult(buf);
            break;
        }
        const int parent = open.empty() ? 0 : open.back();
        if (parent == 0 && m_elems[0].firstChild != 0 && !sibling) {
            addResult("Root element has sibling");
            sibling = true;
        }
        const int idx = newElement(parent, p);
        link(parent, 0, idx);
        Element& e = m_elems[idx];
        e.tagLen = static_cast<uint32_t>(j - p);
        e.nameLen = static_cast<uint32_t>(nameLen);
        e.emptyTag = emptyTag;
        if (emptyTag)
            e.length = e.tagLen;
        else
            open.push_back(idx);
        i = j;
    }
    // Whatever is still open runs to the end of the text and is not properly ended.
    for (size_t u = open.size(); u-- > 0;) {
        Element& e = m_elems[open[u]];
        e.length = static_cast<uint32_t>(n - e.start);
        e.endTagLen = 0;
        addIncorrect("Element tag", e.start);
    }
    m_hasRoot = m_elems[0].firstChild != 0;
    if (!m_hasRoot) addResult("No root element");
}

void CXmlCursor::resetPosition() { m_parent = m_current = m_child = 0; }

bool CXmlCursor::matches(int idx, const std::string& name) const {
    if (name.empty()) return true;
    const Element& e = m_elems[idx];
    if (name.size() < e.nameLen || m_doc.compare(e.start + 1, e.nameLen, name, 0, e.nameLen) != 0) return false;
    return name.size() == e.nameLen || memchr(" =/[]", name[e.nameLen], 5) != nullptr;
}

bool CXmlCursor::findElement(const std::string& name) {
    if (!m_hasRoot) return false;
    for (int i = m_current ? m_elems[m_current].next : m_elems[m_parent].firstChild; i; i = m_elems[i].next) {
        if (matches(i, name)) {
            m_current = i;
            m_child = 0;
            return true;
        }
    }
    return false;
}

bool CXmlCursor::findChildElement(const std::string& name) {
    if (!m_hasRoot || !m_current) return false;
    for (int i = m_child ? m_elems[m_child].next : m_elems[m_current].firstChild; i; i = m_elems[i].next) {
        if (matches(i, name)) {
            m_child = i;
            return true;
        }
    }
    return false;
}

bool CXmlCursor::findElementWrap(const std::string& name) {
    if (findElement(name)) return true;
    m_current = 0;
    m_child = 0;
    return findElement(name);
}

bool CXmlCursor::enterElement() {
    if (!m_current) return false;
    m_parent = m_current;
    m_current = 0;
    m_child = 0;
    return true;
}

bool CXmlCursor::leaveElement() {
    if (!m_parent) return false;
    m_child = m_current;
    m_current = m_parent;
    m_parent = m_elems[m_parent].parent;
    return true;
}

std::string CXmlCursor::elementName() const {
    if (!live(m_current)) return std::string();
    const Element& e = m_elems[m_current];
    return m_doc.substr(e.start + 1, e.nameLen);
}

std::string CXmlCursor::elementText() const {
    if (!live(m_current)) return std::string();
    const Element& e = m_elems[m_current];
    std::string out;
    // Text runs between the children; inside a run only CDATA, comments and PIs can start with '<'.
    auto run = [&](size_t from, size_t to) {
        size_t i = from;
        while (i < to) {
            const void* lt = memchr(m_doc.data() + i, '<', to - i);
            const size_t stop = lt ? static_cast<size_t>(static_cast<const char*>(lt) - m_doc.data()) : to;
            out += unescape(m_doc.data() + i, stop - i);
            if (!lt) break;
            i = stop;
            if (startsAt(m_doc, i, "<![CDATA[", to)) {
                const size_t end = findIn(m_doc, "]]>", i + 9, to);
                out.append(m_doc, i + 9, (end == npos ? to : end) - (i + 9));
                if (end == npos) break;
                i = end + 3;
            } else if (startsAt(m_doc, i, "<!--", to)) {
                const size_t end = findIn(m_doc, "-->", i + 4, to);
                if (end == npos) break;
                i = end + 3;
            } else if (startsAt(m_doc, i, "<?", to)) {
                const size_t end = findIn(m_doc, "?>", i + 2, to);
                if (end == npos) break;
                i = end + 2;
            } else {
                out += '<';  // stray '<' of a malformed document
                ++i;
            }
        }
    };
    size_t pos = contentStart(e);
    for (int c = e.firstChild; c; c = m_elems[c].next) {
        run(pos, m_elems[c].start);
        pos = m_elems[c].start + m_elems[c].length;
    }
    run(pos, contentEnd(e));
    return out;
}

bool CXmlCursor::findAttribute(const Element& e, const std::string& name, size_t& valuePos,
                               size_t& valueLen) const {
    const std::string& s = m_doc;
    size_t j = e.start + 1 + e.nameLen;
    const size_t end = e.start + e.tagLen;
    while (j < end) {
        while (j < end && isWs(s[j])) ++j;
        if (j >= end || !nameStart(s[j])) return false;
        const size_t at = j;
        while (j < end && nameChar(s[j])) ++j;
        const size_t len = j - at;
        while (j < end && isWs(s[j])) ++j;
        if (j >= end || s[j] != '=') return false;
        ++j;
        while (j < end && isWs(s[j])) ++j;
        if (j >= end || (s[j] != '"' && s[j] != '\'')) return false;
        const char quote = s[j++];
        const size_t v = j;
        while (j < end && s[j] != quote) ++j;
        if (j >= end) return false;
        if (len == name.size() && s.compare(at, len, name) == 0) {
            valuePos = v;
            valueLen = j - v;
            return true;
        }
        ++j;
    }
    return false;
}

std::string CXmlCursor::attribute(const std::string& name) const {
    size_t pos = 0, len = 0;
    if (!live(m_current) || !findAttribute(m_elems[m_current], name, pos, len)) return std::string();
    return unescape(m_doc.data() + pos, len);
}

std::string CXmlCursor::elementContent(int position) const {
    if (!live(position)) return std::string();
    const Element& e = m_elems[position];
    const size_t from = contentStart(e), to = contentEnd(e);
    return to > from ? m_doc.substr(from, to - from) : std::string();
}

void CXmlCursor::edit(size_t pos, size_t oldLen, const std::string& repl, int owner) {
    m_doc.replace(pos, oldLen, repl);
    const int64_t delta = static_cast<int64_t>(repl.size()) - static_cast<int64_t>(oldLen);
    for (size_t i = 1; i < m_elems.size(); ++i) {
        Element& e = m_elems[i];
        if (!e.dead && e.start >= pos) e.start = static_cast<uint32_t>(e.start + delta);
    }
    for (int o = owner; o > 0; o = m_elems[o].parent)
        m_elems[o].length = static_cast<uint32_t>(m_elems[o].length + delta);
}

// "<a/>" becomes "<a></a>" so that content can go in.
void CXmlCursor::expandEmpty(int idx) {
    Element& e = m_elems[idx];
    const std::string close = "></" + m_doc.substr(e.start + 1, e.nameLen) + ">";
    edit(e.start + e.tagLen - 2, 2, close, idx);
    e.tagLen -= 1;
    e.endTagLen = e.nameLen + 3;
    e.emptyTag = false;
}

bool CXmlCursor::insertElement(bool asChild, const std::string& name, const std::string& data) {
    if (!validName(name)) return false;
    const int parent = asChild ? m_current : m_parent;
    const int after = asChild ? m_child : m_current;
    if (asChild && !live(parent)) return false;
    if (m_elems[parent].depth + 1 > kMaxDepth) return false;
    std::string text = "<" + name;
    if (data.empty()) {
        text += "/>";
    } else {
        text += ">";
        text += escape(data, false);
        text += "</" + name + ">";
    }
    const bool expand = parent && m_elems[parent].emptyTag;
    const size_t growth = text.size() + (expand ? m_elems[parent].nameLen + 2 : 0);
    if (m_doc.size() + growth > kMaxDocument) return false;
    if (expand) expandEmpty(parent);
    const size_t pos = after ? m_elems[after].start + m_elems[after].length
                             : (parent ? contentEnd(m_elems[parent]) : m_doc.size());
    edit(pos, 0, text, parent);
    const int idx = newElement(parent, pos);
    Element& e = m_elems[idx];
    e.nameLen = static_cast<uint32_t>(name.size());
    e.length = static_cast<uint32_t>(text.size());
    e.emptyTag = data.empty();
    e.tagLen = static_cast<uint32_t>(name.size() + (e.emptyTag ? 3 : 2));
    e.endTagLen = e.emptyTag ? 0 : static_cast<uint32_t>(name.size() + 3);
    link(parent, after, idx);
    if (parent == 0) {
        m_hasRoot = true;
        if (m_result == "No root element" || m_result == "Empty document") {
            m_result.clear();
            m_results = 0;
        }
    }
    if (asChild) {
        m_child = idx;
    } else {
        m_current = idx;
        m_child = 0;
    }
    return true;
}

bool CXmlCursor::addElement(const std::string& name, const std::string& data) {
    return insertElement(false, name, data);
}

bool CXmlCursor::addChildElement(const std::string& name, const std::string& data) {
    return insertElement(true, name, data);
}

int CXmlCursor::graft(int parent, int after, const CXmlCursor& frag) {
    int fragDepth = 0;
    for (size_t i = 1; i < frag.m_elems.size(); ++i) fragDepth = std::max<int>(fragDepth, frag.m_elems[i].depth);
    if (m_elems[parent].depth + fragDepth > kMaxDepth) return 0;
    const bool expand = parent && m_elems[parent].emptyTag;
    const size_t growth = frag.m_doc.size() + (expand ? m_elems[parent].nameLen + 2 : 0);
    if (m_doc.size() + growth > kMaxDocument) return 0;
    if (expand) expandEmpty(parent);
    const size_t pos = after ? m_elems[after].start + m_elems[after].length
                             : (parent ? contentEnd(m_elems[parent]) : m_doc.size());
    edit(pos, 0, frag.m_doc, parent);

    const int base = static_cast<int>(m_elems.size()) - 1;  // fragment index k lands at base + k
    const uint16_t depth = m_elems[parent].depth;
    auto map = [base](int k) { return k ? base + k : 0; };
    for (size_t k = 1; k < frag.m_elems.size(); ++k) {
        Element e = frag.m_elems[k];
        e.start = static_cast<uint32_t>(e.start + pos);
        e.depth = static_cast<uint16_t>(e.depth + depth);
        e.parent = e.parent ? map(e.parent) : parent;
        e.firstChild = map(e.firstChild);
        e.lastChild = map(e.lastChild);
        e.next = map(e.next);
        e.prev = map(e.prev);
        m_elems.push_back(e);
    }
    // Splice the fragment's top-level chain into the level.
    const int first = map(frag.m_elems[0].firstChild), last = map(frag.m_elems[0].lastChild);
    Element& p = m_elems[parent];
    const int before = after ? after : p.lastChild;
    const int following = before ? m_elems[before].next : p.firstChild;
    m_elems[first].prev = before;
    m_elems[last].next = following;
    if (before)
        m_elems[before].next = first;
    else
        p.firstChild = first;
    if (following)
        m_elems[following].prev = last;
    else
        p.lastChild = last;
    return last;
}

bool CXmlCursor::addMarkup(const std::string& text) {
    CXmlCursor frag(text);
    if (!frag.m_hasRoot || !(frag.m_result.empty() || frag.m_result == "Root element has sibling")) return false;
    const int idx = graft(m_parent, m_current, frag);
    if (!idx) return false;
    if (m_parent == 0) {
        m_hasRoot = true;
        if (m_result == "No root element" || m_result == "Empty document") {
            m_result.clear();
            m_results = 0;
        }
    }
    m_current = idx;
    m_child = 0;
    return true;
}

bool CXmlCursor::setElementText(const std::string& text) {
    if (!live(m_current)) return false;
    const int idx = m_current;
    const std::string escaped = escape(text, false);
    {
        const Element& e = m_elems[idx];
        if (e.emptyTag && text.empty()) return true;
        const size_t old = e.emptyTag ? 0 : contentEnd(e) - contentStart(e);
        const size_t growth = escaped.size() + (e.emptyTag ? e.nameLen + 2 : 0);
        if (m_doc.size() - old + growth > kMaxDocument) return false;
    }
    if (m_elems[idx].emptyTag) expandEmpty(idx);
    // The old content goes, children included: take them out of the index (depth first, without
    // recursion).
    for (int x = m_elems[idx].firstChild; x;) {
        m_elems[x].dead = true;
        if (m_elems[x].firstChild) {
            x = m_elems[x].firstChild;
            continue;
        }
        while (x != idx && !m_elems[x].next) x = m_elems[x].parent;
        x = (x == idx) ? 0 : m_elems[x].next;
    }
    m_elems[idx].firstChild = m_elems[idx].lastChild = 0;
    m_child = 0;
    const Element& e = m_elems[idx];
    const size_t from = contentStart(e);
    edit(from, contentEnd(e) - from, escaped, idx);
    return true;
}

bool CXmlCursor::setAttribute(const std::string& name, const std::string& value) {
    if (!live(m_current) || !validName(name)) return false;
    const int idx = m_current;
    const std::string escaped = escape(value, true);
    size_t pos = 0, len = 0;
    if (findAttribute(m_elems[idx], name, pos, len)) {
        if (m_doc.size() - len + escaped.size() > kMaxDocument) return false;
        edit(pos, len, escaped, idx);
        m_elems[idx].tagLen = static_cast<uint32_t>(m_elems[idx].tagLen + escaped.size() - len);
        return true;
    }
    const std::string text = " " + name + "=\"" + escaped + "\"";
    if (m_doc.size() + text.size() > kMaxDocument) return false;
    const Element& e = m_elems[idx];
    edit(e.start + e.tagLen - (e.emptyTag ? 2 : 1), 0, text, idx);
    m_elems[idx].tagLen = static_cast<uint32_t>(m_elems[idx].tagLen + text.size());
    return true;
}

std::string CXmlCursor::escape(const std::string& text, bool attributeValue) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += entityRefAt(text, i) ? "&" : "&amp;"; break;
            case '\'': out += attributeValue ? "&apos;" : "'"; break;
            case '"': out += attributeValue ? "&quot;" : "\""; break;
            default: out += c;
        }
    }
    return out;
}

std::string CXmlCursor::unescape(const char* text, size_t len) {
    std::string out;
    out.reserve(len);
    size_t i = 0;
    while (i < len) {
        const void* amp = memchr(text + i, '&', len - i);
        const size_t stop = amp ? static_cast<size_t>(static_cast<const char*>(amp) - text) : len;
        out.append(text + i, stop - i);
        if (!amp) break;
        i = stop;
        // The longest reference we decode is "&#x10FFFF;" or "&#1114111;".
        const size_t limit = std::min(len, i + 12);
        const void* semi = memchr(text + i + 1, ';', limit - i - 1);
        if (!semi) {
            out += '&';
            ++i;
            continue;
        }
        const size_t end = static_cast<size_t>(static_cast<const char*>(semi) - text);
        const std::string_view ref(text + i + 1, end - i - 1);
        uint32_t cp = 0;
        if (ref == "lt")
            out += '<';
        else if (ref == "gt")
            out += '>';
        else if (ref == "amp")
            out += '&';
        else if (ref == "apos")
            out += '\'';
        else if (ref == "quot")
            out += '"';
        else if (charRef(ref, cp))
            appendUtf8(out, cp);
        else {
            out += '&';  // unknown: kept as written
            ++i;
            continue;
        }
        i = end + 1;
    }
    return out;
}

namespace vexa {

int32_t decimalValue(const std::string& text) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    for (; i < n && isDigit(text[i]); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > INT64_C(2147483648)) v = INT64_C(2147483648);
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    return static_cast<int32_t>(v);
}

}  // namespace vexa
