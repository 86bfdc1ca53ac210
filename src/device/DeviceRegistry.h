// The registry of connected devices by identifier.
#ifndef VEXA_DEVICE_REGISTRY_H
#define VEXA_DEVICE_REGISTRY_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CVexaDevice;

class DeviceRegistry {
public:
    // Replaces whatever the identifier held.
    void add(const std::string& id, const std::shared_ptr<CVexaDevice>& dev);
    // Removes the entry only when it points to dev.
    bool removeIfSame(const std::string& id, const CVexaDevice* dev);
    std::shared_ptr<CVexaDevice> find(const std::string& id) const;
    std::shared_ptr<CVexaDevice> findByHandle(int32_t userHandle) const;
    std::vector<std::string> ids() const;
    size_t count() const;
    // Empties the registry; the devices are released by the caller, outside the lock.
    std::map<std::string, std::shared_ptr<CVexaDevice>> takeAll();

private:
    mutable std::mutex m_lock;
    std::map<std::string, std::shared_ptr<CVexaDevice>> m_map;
};

#endif
