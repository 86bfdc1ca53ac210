// Generic plug-in frame: the seven-entry host table, the initialised flag and the set of live
// device handles, bound to the device module through six hooks.
#ifndef VEXA_PLUGIN_FRAME_H
#define VEXA_PLUGIN_FRAME_H

#include <cstdint>
#include <functional>
#include <memory>

#include "device/DevBase.h"

struct PluginHooks {
    uint32_t (*init)();
    uint32_t (*fini)();
    // Creates a device; the frame keeps the owner for as long as the host holds the handle.
    uint32_t (*createDevice)(std::shared_ptr<CDevBase>& out);
    uint32_t (*destroyDevice)(const std::shared_ptr<CDevBase>& dev);
    const char* const* (*interfaceNames)();
    const char* (*version)();
};

// The device module's hooks (defined beside the module).
const PluginHooks& vexaDeviceHooks();

// Live device for a host handle (null when the handle is not live). The returned owner keeps
// the object alive for the duration of the call that asked.
std::shared_ptr<CDevBase> pluginLiveDevice(void* handle);
bool pluginInitialised();
// Runs fn with Plugin_Init and Plugin_Fini held off, so what fn starts cannot outlive a Fini that
// runs at the same time. With needInit, fn runs only while the plug-in is initialised; false when
// it was refused.
bool pluginRunSerialised(bool needInit, const std::function<void()>& fn);

#endif
