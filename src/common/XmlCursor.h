// Position-indexed markup document: the XML text is kept as one string and navigated through an
// index of element positions instead of a node tree. Used for media orders and the ZORNA envelope.
//
// Navigation state: a current parent (whose children form the current level), a current element
// on that level and a current child below the current element. Element indexes are positions;
// 0 means "none" (and, as a parent, the top level of the document).
#ifndef VEXA_XML_CURSOR_H
#define VEXA_XML_CURSOR_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CXmlCursor {
public:
    // Limits for untrusted text; documents we build are held to the same limits so that whatever
    // we write can be read back.
    static constexpr size_t kMaxDocument = 1024 * 1024;
    static constexpr int kMaxDepth = 64;
    // After this many "Incorrect ..." results the parse stops (keeps the result text short).
    static constexpr int kMaxResults = 8;

    CXmlCursor();
    explicit CXmlCursor(const std::string& text);

    // Replaces the document and parses it; the position goes back before the root element.
    // True when the parse recorded no result (exactly one root, everything ended properly).
    bool setDocument(const std::string& text);
    const std::string& document() const { return m_doc; }
    // "" for a well-formed document, else the recorded results joined with ", ".
    const std::string& parseResult() const { return m_result; }
    bool hasRoot() const { return m_hasRoot; }

    // Next sibling after the current element (or the first of the level) whose tag name matches;
    // an empty name takes the next element. The match becomes current, the current child is cleared.
    bool findElement(const std::string& name = std::string());
    // The same among the children of the current element, after the current child.
    bool findChildElement(const std::string& name = std::string());
    // findElement, and on a miss once more from the first element of the level: finds fields in
    // any order and steps through repeated elements, starting again at the first.
    bool findElementWrap(const std::string& name);
    bool enterElement();
    bool leaveElement();
    void resetPosition();

    // Index of the current parent / element / child (0 = none).
    int parentPosition() const { return m_parent; }
    int currentPosition() const { return m_current; }
    int childPosition() const { return m_child; }

    std::string elementName() const;
    // Character content of the current element: entities decoded, CDATA taken as is, child
    // elements skipped.
    std::string elementText() const;
    std::string attribute(const std::string& name) const;
    // Inner markup of the element at the given position, unchanged; "" for position 0.
    std::string elementContent(int position) const;
    std::string elementContent() const { return elementContent(m_current); }

    // Insert after the current element (at the end of the level when there is none) and make it
    // current. Empty data writes an empty-element tag. False for a name that is not a valid tag
    // name or when the document would exceed its limits.
    bool addElement(const std::string& name, const std::string& data = std::string());
    // The same among the children of the current element; the new element becomes the current child.
    bool addChildElement(const std::string& name, const std::string& data = std::string());
    bool setElementText(const std::string& text);
    bool setAttribute(const std::string& name, const std::string& value);
    // Parses text (one element, or several siblings) and inserts it as addElement does; the last
    // inserted top-level element becomes current. False when the text is not well-formed markup.
    bool addMarkup(const std::string& text);

    // Escaping on write: text escapes < & >, attribute values also ' and ". An ampersand that
    // already begins an entity reference is kept.
    static std::string escape(const std::string& text, bool attributeValue);
    // The five entities and numeric character references (written as UTF-8).
    static std::string unescape(const char* text, size_t len);

private:
    struct Element {
        uint32_t start = 0;      // offset of '<'
        uint32_t tagLen = 0;     // start tag
        uint32_t length = 0;     // whole element
        uint32_t endTagLen = 0;  // 0 for an empty-element tag or an element never ended
        uint32_t nameLen = 0;
        int parent = 0;
        int firstChild = 0;
        int lastChild = 0;
        int next = 0;
        int prev = 0;
        uint16_t depth = 0;       // 1 on the top level
        bool emptyTag = false;    // written as <name/>
        bool dead = false;        // content replaced; unlinked
    };

    void parse();
    void addResult(const std::string& text);
    void addIncorrect(const char* construct, size_t offset);
    int newElement(int parent, size_t start);
    void link(int parent, int after, int idx);
    bool matches(int idx, const std::string& name) const;
    size_t contentStart(const Element& e) const { return e.start + e.tagLen; }
    size_t contentEnd(const Element& e) const { return e.start + e.length - e.endTagLen; }
    // Replaces [pos, pos + oldLen) of the text; elements at or after pos shift, owner and its
    // ancestors grow or shrink. Elements starting inside the range must have been unlinked.
    void edit(size_t pos, size_t oldLen, const std::string& repl, int owner);
    void expandEmpty(int idx);
    bool insertElement(bool asChild, const std::string& name, const std::string& data);
    int graft(int parent, int after, const CXmlCursor& frag);
    bool findAttribute(const Element& e, const std::string& name, size_t& valuePos, size_t& valueLen) const;
    bool live(int idx) const { return idx > 0 && static_cast<size_t>(idx) < m_elems.size() && !m_elems[idx].dead; }

    std::string m_doc;
    std::vector<Element> m_elems;  // [0] stands for the document; its children are the top level
    std::string m_result;
    int m_results = 0;
    bool m_hasRoot = false;
    int m_parent = 0;
    int m_current = 0;
    int m_child = 0;
};

namespace vexa {

// Decimal value of an element text the way atoi reads it (leading blanks, sign, digits, anything
// after ignored; no digits reads 0), saturated to the 32-bit range instead of overflowing.
int32_t decimalValue(const std::string& text);

}  // namespace vexa

#endif
