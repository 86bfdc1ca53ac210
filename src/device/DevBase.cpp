#include "device/DevBase.h"

const void* CDevBase::QueryInterface(const char* name) const {
    if (!name) return nullptr;
    auto it = m_interfaces.find(name);
    return it == m_interfaces.end() ? nullptr : it->second.second;
}

void* CDevBase::interfaceObject(const char* name) const {
    if (!name) return nullptr;
    auto it = m_interfaces.find(name);
    return it == m_interfaces.end() ? nullptr : it->second.first;
}

void CDevBase::registerInterface(const char* name, void* object, const void* table) {
    m_interfaces[name] = std::make_pair(object, table);
}
