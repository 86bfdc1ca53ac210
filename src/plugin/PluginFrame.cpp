#include "plugin/PluginFrame.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "common/Log.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

struct Frame {
    std::atomic<bool> initialised{false};
    std::mutex stateLock;  // Init / Fini
    std::mutex liveLock;
    std::unordered_map<void*, std::shared_ptr<CDevBase>> live;
    const PluginHooks* hooks = nullptr;
};

Frame& frame() {
    static Frame* f = new Frame;  // lives until unload; host threads may still call in
    return *f;
}

void* handleOf(const std::shared_ptr<CDevBase>& dev) { return static_cast<void*>(dev.get()); }

uint32_t VEXA_CALL Plugin_Init() {
    try {
        Frame& f = frame();
        std::lock_guard<std::mutex> lk(f.stateLock);
        if (f.initialised) return VEXA_ERR_STATE;
        if (!f.hooks || !f.hooks->init) {
            f.initialised = true;
            return 0;
        }
        const uint32_t rc = f.hooks->init();
        if (rc == 0) f.initialised = true;
        return rc;
    } catch (...) {
        return VEXA_ERR_STATE;
    }
}

uint32_t VEXA_CALL Plugin_Fini() {
    try {
        Frame& f = frame();
        std::lock_guard<std::mutex> lk(f.stateLock);
        if (!f.initialised) return VEXA_ERR_STATE;
        {
            std::lock_guard<std::mutex> live(f.liveLock);
            if (!f.live.empty()) return VEXA_ERR_STATE;
        }
        if (!f.hooks || !f.hooks->fini) {
            f.initialised = false;
            return 0;
        }
        const uint32_t rc = f.hooks->fini();
        if (rc == 0) f.initialised = false;
        return rc;
    } catch (...) {
        return VEXA_ERR_STATE;
    }
}

uint32_t VEXA_CALL Plugin_CreateDevice(void** device) {
    try {
        Frame& f = frame();
        if (!f.hooks || !f.hooks->createDevice || !f.initialised || !device) return VEXA_ERR_STATE;
        std::shared_ptr<CDevBase> dev;
        const uint32_t rc = f.hooks->createDevice(dev);
        *device = handleOf(dev);
        if (rc != 0) return rc;
        if (!dev) return VEXA_ERR_STATE;
        std::lock_guard<std::mutex> lk(f.liveLock);
        f.live[handleOf(dev)] = dev;
        return 0;
    } catch (...) {
        if (device) *device = nullptr;
        return VEXA_ERR_STATE;
    }
}

uint32_t VEXA_CALL Plugin_DestroyDevice(void* device) {
    try {
        Frame& f = frame();
        if (!f.initialised) return VEXA_ERR_STATE;
        if (!device) return 0;
        std::shared_ptr<CDevBase> dev;
        {
            std::lock_guard<std::mutex> lk(f.liveLock);
            auto it = f.live.find(device);
            if (it == f.live.end()) return 0;
            dev = it->second;
        }
        if (f.hooks && f.hooks->destroyDevice) {
            const uint32_t rc = f.hooks->destroyDevice(dev);
            if (rc != 0) return rc;
        }
        {
            std::lock_guard<std::mutex> lk(f.liveLock);
            f.live.erase(device);
        }
        dev.reset();  // freed here unless another owner (a running call) still holds it
        return 0;
    } catch (...) {
        return VEXA_ERR_STATE;
    }
}

uint32_t VEXA_CALL Plugin_QueryInterface(void* device, const char* name, void** table) {
    try {
        Frame& f = frame();
        if (!f.initialised) return VEXA_ERR_STATE;
        if (!device) return 0;
        std::shared_ptr<CDevBase> dev = pluginLiveDevice(device);
        if (!dev) return VEXA_ERR_STATE;  // not a handle this plug-in gave out
        const void* t = dev->QueryInterface(name);
        if (table) *table = const_cast<void*>(t);
        return t ? 0 : VEXA_ERR_NO_INTERFACE;
    } catch (...) {
        return VEXA_ERR_STATE;
    }
}

const char* const* VEXA_CALL Plugin_GetInterfaceNames() {
    Frame& f = frame();
    return (f.hooks && f.hooks->interfaceNames) ? f.hooks->interfaceNames() : nullptr;
}

const char* VEXA_CALL Plugin_GetVersion() {
    Frame& f = frame();
    return (f.hooks && f.hooks->version) ? f.hooks->version() : nullptr;
}

const GWPluginInterface g_hostTable = {Plugin_Init,           Plugin_Fini,           Plugin_CreateDevice,
                                       Plugin_DestroyDevice,  Plugin_QueryInterface, Plugin_GetInterfaceNames,
                                       Plugin_GetVersion};

}  // namespace

std::shared_ptr<CDevBase> pluginLiveDevice(void* handle) {
    if (!handle) return nullptr;
    Frame& f = frame();
    std::lock_guard<std::mutex> lk(f.liveLock);
    auto it = f.live.find(handle);
    return it == f.live.end() ? nullptr : it->second;
}

bool pluginInitialised() { return frame().initialised; }

bool pluginRunSerialised(bool needInit, const std::function<void()>& fn) {
    Frame& f = frame();
    std::lock_guard<std::mutex> lk(f.stateLock);
    if (needInit && !f.initialised) return false;
    fn();
    return true;
}

extern "C" VEXA_EXPORT const GWPluginInterface* VEXA_CALL GWPLUGIN_GetPluginInterface(void) {
    // The first call fills the hooks; a function-local static makes concurrent first calls safe.
    static const bool filled = [] {
        frame().hooks = &vexaDeviceHooks();
        return true;
    }();
    return filled ? &g_hostTable : nullptr;
}
