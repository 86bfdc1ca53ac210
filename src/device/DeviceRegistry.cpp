#include "device/DeviceRegistry.h"

#include <algorithm>
#include <mutex>

#include "device/VexaDevice.h"

using WriteLock = std::unique_lock<std::shared_mutex>;
using ReadLock = std::shared_lock<std::shared_mutex>;

void DeviceRegistry::add(const std::string& id, const std::shared_ptr<CVexaDevice>& dev) {
    std::shared_ptr<CVexaDevice> old;  // released outside the lock
    WriteLock lk(m_lock);
    auto& slot = m_map[id];
    old.swap(slot);
    slot = dev;
    if (old && old != dev) unbindLocked(old->userHandle(), old.get());
    if (dev && dev->userHandle() >= 0) m_byHandle[dev->userHandle()] = dev;
}

bool DeviceRegistry::removeIfSame(const std::string& id, const CVexaDevice* dev) {
    std::shared_ptr<CVexaDevice> old;
    WriteLock lk(m_lock);
    auto it = m_map.find(id);
    if (it == m_map.end() || it->second.get() != dev) return false;
    old.swap(it->second);
    m_map.erase(it);
    unbindLocked(dev->userHandle(), dev);
    return true;
}

std::shared_ptr<CVexaDevice> DeviceRegistry::find(const std::string& id) const {
    ReadLock lk(m_lock);
    auto it = m_map.find(id);
    return it == m_map.end() ? nullptr : it->second;
}

std::shared_ptr<CVexaDevice> DeviceRegistry::findByHandle(int32_t userHandle) const {
    if (userHandle < 0) return nullptr;
    std::shared_ptr<CVexaDevice> dev;
    {
        ReadLock lk(m_lock);
        auto it = m_byHandle.find(userHandle);
        if (it == m_byHandle.end()) return nullptr;
        dev = it->second.lock();
    }
    // The device may have given the handle up since it was indexed.
    return dev && dev->userHandle() == userHandle ? dev : nullptr;
}

void DeviceRegistry::bindHandle(const std::string& id, int32_t handle, int32_t oldHandle,
                                const std::shared_ptr<CVexaDevice>& dev) {
    WriteLock lk(m_lock);
    if (oldHandle != handle) unbindLocked(oldHandle, dev.get());
    auto it = m_map.find(id);
    if (handle >= 0 && it != m_map.end() && it->second == dev) m_byHandle[handle] = dev;
}

void DeviceRegistry::unbindHandle(int32_t handle, const CVexaDevice* dev) {
    WriteLock lk(m_lock);
    unbindLocked(handle, dev);
}

void DeviceRegistry::unbindLocked(int32_t handle, const CVexaDevice* dev) {
    if (handle < 0) return;
    auto it = m_byHandle.find(handle);
    if (it == m_byHandle.end()) return;
    auto held = it->second.lock();
    if (!held || held.get() == dev) m_byHandle.erase(it);
}

std::vector<std::string> DeviceRegistry::ids() const {
    std::vector<std::string> out;
    {
        ReadLock lk(m_lock);
        out.reserve(m_map.size());
        for (const auto& kv : m_map) out.push_back(kv.first);
    }
    std::sort(out.begin(), out.end());
    return out;
}

size_t DeviceRegistry::count() const {
    ReadLock lk(m_lock);
    return m_map.size();
}

std::map<std::string, std::shared_ptr<CVexaDevice>> DeviceRegistry::takeAll() {
    std::unordered_map<std::string, std::shared_ptr<CVexaDevice>> taken;
    {
        WriteLock lk(m_lock);
        taken.swap(m_map);
        m_byHandle.clear();
    }
    return std::map<std::string, std::shared_ptr<CVexaDevice>>(taken.begin(), taken.end());
}
