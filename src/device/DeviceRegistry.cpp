#include "device/DeviceRegistry.h"

#include "device/VexaDevice.h"

void DeviceRegistry::add(const std::string& id, const std::shared_ptr<CVexaDevice>& dev) {
    std::shared_ptr<CVexaDevice> old;  // released outside the lock
    std::lock_guard<std::mutex> lk(m_lock);
    auto& slot = m_map[id];
    old.swap(slot);
    slot = dev;
}

bool DeviceRegistry::removeIfSame(const std::string& id, const CVexaDevice* dev) {
    std::shared_ptr<CVexaDevice> old;
    std::lock_guard<std::mutex> lk(m_lock);
    auto it = m_map.find(id);
    if (it == m_map.end() || it->second.get() != dev) return false;
    old.swap(it->second);
    m_map.erase(it);
    return true;
}

std::shared_ptr<CVexaDevice> DeviceRegistry::find(const std::string& id) const {
    std::lock_guard<std::mutex> lk(m_lock);
    auto it = m_map.find(id);
    return it == m_map.end() ? nullptr : it->second;
}

std::shared_ptr<CVexaDevice> DeviceRegistry::findByHandle(int32_t userHandle) const {
    if (userHandle < 0) return nullptr;
    std::lock_guard<std::mutex> lk(m_lock);
    for (const auto& kv : m_map)
        if (kv.second->userHandle() == userHandle) return kv.second;
    return nullptr;
}

std::vector<std::string> DeviceRegistry::ids() const {
    std::vector<std::string> out;
    std::lock_guard<std::mutex> lk(m_lock);
    out.reserve(m_map.size());
    for (const auto& kv : m_map) out.push_back(kv.first);
    return out;
}

size_t DeviceRegistry::count() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_map.size();
}

std::map<std::string, std::shared_ptr<CVexaDevice>> DeviceRegistry::takeAll() {
    std::map<std::string, std::shared_ptr<CVexaDevice>> out;
    std::lock_guard<std::mutex> lk(m_lock);
    out.swap(m_map);
    return out;
}
