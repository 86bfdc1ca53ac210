// The registry of connected devices by identifier, with an index by login handle.
#ifndef VEXA_DEVICE_REGISTRY_H
#define VEXA_DEVICE_REGISTRY_H

#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

class CVexaDevice;

// Every look-up is a hash probe under a shared lock: the library threads ask on every login,
// exception and answer, and must not wait behind one another or grow with the fleet.
class DeviceRegistry {
public:
    // Replaces whatever the identifier held.
    void add(const std::string& id, const std::shared_ptr<CVexaDevice>& dev);
    // Removes the entry (and its handle) only when it points to dev.
    bool removeIfSame(const std::string& id, const CVexaDevice* dev);
    std::shared_ptr<CVexaDevice> find(const std::string& id) const;
    // A handle found only while the device still holds it.
    std::shared_ptr<CVexaDevice> findByHandle(int32_t userHandle) const;
    // The device now logs in under handle; an older handle of the same device is dropped. Only a
    // device registered under id is indexed.
    void bindHandle(const std::string& id, int32_t handle, int32_t oldHandle, const std::shared_ptr<CVexaDevice>& dev);
    // Forgets handle when it still points to dev.
    void unbindHandle(int32_t handle, const CVexaDevice* dev);
    // In identifier order.
    std::vector<std::string> ids() const;
    size_t count() const;
    // Empties the registry; the devices are released by the caller, outside the lock.
    std::map<std::string, std::shared_ptr<CVexaDevice>> takeAll();

private:
    void unbindLocked(int32_t handle, const CVexaDevice* dev);

    mutable std::shared_mutex m_lock;
    std::unordered_map<std::string, std::shared_ptr<CVexaDevice>> m_map;
    // Weak: a device left in the index by a lost unbind never outlives its registry entry.
    std::unordered_map<int32_t, std::weak_ptr<CVexaDevice>> m_byHandle;
};

#endif
