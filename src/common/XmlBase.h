// A TinyXML document with a cursor on one element, for device-API documents (alarm documents and
// storage answers). The cursor stands on an element of a level; entering an element makes its
// children the level, even when it has none, so lookups never escape to an outer level.
#ifndef VEXA_XML_BASE_H
#define VEXA_XML_BASE_H

#include <tinyxml.h>

#include <string>

class CXmlBase {
public:
    CXmlBase() = default;
    CXmlBase(const CXmlBase&) = delete;
    CXmlBase& operator=(const CXmlBase&) = delete;

    // Parses the text. False (and an empty document) when the text is refused by the size, NUL
    // and depth guard, does not parse, or has no root element.
    bool load(const std::string& text);
    bool loaded() const { return m_loaded; }

    // From the cursor element (with none, the first element of the level: at the top, the root)
    // through its following siblings; the first element named `name` becomes the cursor. No match
    // leaves the cursor where it was.
    bool findElement(const std::string& name);
    // The same from the first element of the level, so the order of siblings does not matter.
    bool findSiblingElement(const std::string& name);
    // The next sibling after the cursor named `name`: steps through repeated elements.
    bool nextElement(const std::string& name);
    // Into the cursor element: the cursor moves to its first child element (none when it has no
    // children). False when there is no cursor element.
    bool enterElement();
    // Back to the parent element. False at the top level.
    bool leaveElement();
    void resetPosition();

    // Text of the cursor element's first child when that child is text, else "".
    std::string elementText() const;
    std::string elementName() const;
    // Value of an attribute of the cursor element, "" when absent.
    std::string attribute(const std::string& name) const;
    // An element named `name` on the cursor's level (the cursor does not move).
    bool hasElement(const std::string& name) const;
    // Text of the cursor element's first child element named `name`; false when there is none.
    bool childText(const std::string& name, std::string& text) const;

    const TiXmlElement* current() const { return m_cur; }
    const TiXmlDocument& document() const { return m_doc; }

private:
    const TiXmlElement* firstOfLevel() const;
    static const TiXmlElement* named(const TiXmlElement* from, const std::string& name);

    TiXmlDocument m_doc;
    const TiXmlElement* m_parent = nullptr;  // its children form the level; null: the top level
    const TiXmlElement* m_cur = nullptr;
    bool m_loaded = false;
};

#endif
