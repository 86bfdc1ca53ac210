// A host's view of the plug-in: loads the shared library with dlopen and wraps the host table,
// the configuration exports and the device interface tables.
#ifndef GWHOST_PLUGIN_HOST_H
#define GWHOST_PLUGIN_HOST_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "vexadev/VexaDevPlugin.h"

namespace gwhost {

// A created device: its handle and its four interface tables.
struct DeviceTables {
    void* handle = nullptr;
    const VexaIConnectV2* conn = nullptr;
    const VexaIEvent* event = nullptr;
    const VexaIOVIX* ovix = nullptr;
    const VexaIOrderTrans* order = nullptr;
};

// Creates a device through `table` and queries its four interfaces; the first failing code.
uint32_t createDevice(const GWPluginInterface* table, DeviceTables& dev);

// Sends one media order through the device's order interface. Returns the interface's code;
// `answer` gets the response text when the code is 0 (empty otherwise). The response buffer
// holds `capacity` bytes.
uint32_t transOrder(const DeviceTables& dev, const std::string& order, std::string& answer,
                    size_t capacity = 64 * 1024);

class PluginHost {
public:
    PluginHost() = default;
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Loads the library and resolves its three exports. False with a reason on failure.
    bool load(const std::string& path, std::string& why);
    void unload();
    bool loaded() const { return m_lib != nullptr; }

    const GWPluginInterface* table() const { return m_table; }
    uint32_t setConfig(const char* head, const char* message) const;
    uint32_t portStatus(std::string& out) const;

    // Creates a device and queries its four interfaces.
    uint32_t createDevice(DeviceTables& dev) const;

private:
    void* m_lib = nullptr;
    const GWPluginInterface* m_table = nullptr;
    PFN_Plugin_SetConfig m_setConfig = nullptr;
    PFN_Plugin_GetPortStatus m_getPortStatus = nullptr;
};

// A TCP port on 127.0.0.1 that was free a moment ago, below the ephemeral range.
uint16_t freeLoopbackPort();
// Path of libVexaDev.so next to the running program (../lib/libVexaDev.so).
std::string defaultPluginPath();

}  // namespace gwhost

#endif
