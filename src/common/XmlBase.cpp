#include "common/XmlBase.h"

#include "common/XmlLimits.h"

bool CXmlBase::load(const std::string& text) {
    m_doc.Clear();
    m_doc.ClearError();
    m_parent = m_cur = nullptr;
    m_loaded = false;
    // TinyXML has no depth limit and stops at an embedded NUL: refuse such texts unread.
    if (!vexa::xmlSafeToParse(text)) return false;
    m_doc.Parse(text.c_str());
    if (m_doc.Error() || !m_doc.RootElement()) {
        m_doc.Clear();
        m_doc.ClearError();
        return false;
    }
    m_loaded = true;
    return true;
}

const TiXmlElement* CXmlBase::firstOfLevel() const {
    if (!m_loaded) return nullptr;
    return m_parent ? m_parent->FirstChildElement() : m_doc.RootElement();
}

const TiXmlElement* CXmlBase::named(const TiXmlElement* from, const std::string& name) {
    for (const TiXmlElement* e = from; e; e = e->NextSiblingElement())
        if (e->ValueStr() == name) return e;
    return nullptr;
}

bool CXmlBase::findElement(const std::string& name) {
    const TiXmlElement* e = named(m_cur ? m_cur : firstOfLevel(), name);
    if (e) m_cur = e;
    return e != nullptr;
}

bool CXmlBase::findSiblingElement(const std::string& name) {
    const TiXmlElement* e = named(firstOfLevel(), name);
    if (e) m_cur = e;
    return e != nullptr;
}

bool CXmlBase::nextElement(const std::string& name) {
    const TiXmlElement* e = named(m_cur ? m_cur->NextSiblingElement() : firstOfLevel(), name);
    if (e) m_cur = e;
    return e != nullptr;
}

bool CXmlBase::enterElement() {
    if (!m_cur) return false;
    m_parent = m_cur;
    m_cur = m_cur->FirstChildElement();
    return true;
}

bool CXmlBase::leaveElement() {
    if (!m_parent) return false;
    m_cur = m_parent;
    const TiXmlNode* up = m_parent->Parent();
    m_parent = up ? up->ToElement() : nullptr;
    return true;
}

void CXmlBase::resetPosition() { m_parent = m_cur = nullptr; }

std::string CXmlBase::elementText() const {
    if (!m_cur) return std::string();
    const TiXmlNode* first = m_cur->FirstChild();
    const TiXmlText* text = first ? first->ToText() : nullptr;
    return text ? text->ValueStr() : std::string();
}

std::string CXmlBase::elementName() const { return m_cur ? m_cur->ValueStr() : std::string(); }

std::string CXmlBase::attribute(const std::string& name) const {
    const char* v = m_cur ? m_cur->Attribute(name.c_str()) : nullptr;
    return v ? std::string(v) : std::string();
}

bool CXmlBase::hasElement(const std::string& name) const { return named(firstOfLevel(), name) != nullptr; }

bool CXmlBase::childText(const std::string& name, std::string& text) const {
    const TiXmlElement* e = m_cur ? named(m_cur->FirstChildElement(), name) : nullptr;
    if (!e) return false;
    const TiXmlNode* first = e->FirstChild();
    const TiXmlText* t = first ? first->ToText() : nullptr;
    text = t ? t->ValueStr() : std::string();
    return true;
}
