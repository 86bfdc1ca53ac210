// Host function tables of the four device interfaces, and the device module's hooks.
#include <new>

#include "common/Log.h"
#include "plugin/DeviceSide.h"
#include "plugin/PluginFrame.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"

namespace {

constexpr uint32_t kBad = VEXA_ERR_BAD_HANDLE;

// Resolves the handle to a live device and its interface sub-object; logs and fails otherwise.
template <typename If, typename Fn>
uint32_t call(void* handle, const char* ifName, const char* entry, int line, Fn fn) {
    try {
        std::shared_ptr<CDevBase> dev = pluginLiveDevice(handle);
        If* obj = dev ? static_cast<If*>(dev->interfaceObject(ifName)) : nullptr;
        if (!obj) {
            RunLog_Write(5, "PLUGIN", "[%s(%d)] [0x%08x]", entry, line, kBad);
            return kBad;
        }
        return fn(obj);
    } catch (const std::exception& e) {
        RunLog_Write(5, "PLUGIN", "[%s(%d)] exception: %s", entry, line, e.what());
    } catch (...) {
        RunLog_Write(5, "PLUGIN", "[%s(%d)] unknown exception", entry, line);
    }
    return kBad;
}

#define ENTRY(If, name, fn) call<If>(device, name, __func__, __LINE__, fn)

// Device.IOrderTrans
uint32_t VEXA_CALL TransOrderImpl(void* device, const char* order, char* rsp, uint32_t size) {
    return ENTRY(CDevOrderTrans, VEXA_IF_ORDER_TRANS, [&](CDevOrderTrans* o) { return o->TransOrder(order, rsp, size); });
}

// Device.IEvent
uint32_t VEXA_CALL SetEventCallBackImpl(void* device, VexaEventCallback cb, void* user) {
    return ENTRY(CDevEvent, VEXA_IF_EVENT, [&](CDevEvent* o) { return o->SetEventCallBack(cb, user); });
}
uint32_t VEXA_CALL GetArmingScheduleImpl(void* device, void* a, void* b, void* c) {
    return ENTRY(CDevEvent, VEXA_IF_EVENT, [&](CDevEvent* o) { return o->GetArmingSchedule(a, b, c); });
}
uint32_t VEXA_CALL SetArmingScheduleImpl(void* device, void* a, void* b, void* c) {
    return ENTRY(CDevEvent, VEXA_IF_EVENT, [&](CDevEvent* o) { return o->SetArmingSchedule(a, b, c); });
}

// Device.IConnect_V2
uint32_t VEXA_CALL SetConnStatusCallBackImpl_V2(void* device, VexaConnStatusCallback cb, void* user) {
    return ENTRY(CDevConnect_V2, VEXA_IF_CONNECT_V2, [&](CDevConnect_V2* o) { return o->SetConnStatusCallBack(cb, user); });
}
uint32_t VEXA_CALL ConnectImpl_V1(void* device, void* a) {
    return ENTRY(CDevConnect_V2, VEXA_IF_CONNECT_V2, [&](CDevConnect_V2* o) { return o->Connect(a); });
}
uint32_t VEXA_CALL DisConnectImpl_V2(void* device) {
    return ENTRY(CDevConnect_V2, VEXA_IF_CONNECT_V2, [&](CDevConnect_V2* o) { return o->DisConnect(); });
}
uint32_t VEXA_CALL GetConnectStatusImpl_V2(void* device, uint32_t* status, void*) {
    return ENTRY(CDevConnect_V2, VEXA_IF_CONNECT_V2, [&](CDevConnect_V2* o) { return o->GetConnectStatus(status); });
}
uint32_t VEXA_CALL SetDevRegisterCallBackImpl_V2(void* device, void* a, void* b, void* c) {
    return ENTRY(CDevConnect_V2, VEXA_IF_CONNECT_V2, [&](CDevConnect_V2* o) { return o->SetDevRegisterCallBack(a, b, c); });
}
uint32_t VEXA_CALL SetLoginResultCallBackImpl_V2(void* device, void* a, void* b) {
    return ENTRY(CDevConnect_V2, VEXA_IF_CONNECT_V2, [&](CDevConnect_V2* o) { return o->SetLoginResultCallBack(a, b); });
}
uint32_t VEXA_CALL ConnectImpl_V2(void* device, const char* params, void*, void*) {
    return ENTRY(CDevConnect_V2, VEXA_IF_CONNECT_V2, [&](CDevConnect_V2* o) { return o->Connect_V2(params); });
}
uint32_t VEXA_CALL SetConnectParamsImpl_V2(void* device, const char* params) {
    return ENTRY(CDevConnect_V2, VEXA_IF_CONNECT_V2, [&](CDevConnect_V2* o) { return o->SetConnectParams(params); });
}

// Device.IOVIX
uint32_t VEXA_CALL OVIX_GetwayImpl(void* device, const char* request, char* rsp, uint32_t size, void*) {
    return ENTRY(CDevOVIX, VEXA_IF_OVIX, [&](CDevOVIX* o) { return o->OVIX_Getway(request, rsp, size); });
}
uint32_t VEXA_CALL DeviceLoopImpl(void* device, char* buf, uint32_t size) {
    return ENTRY(CDevOVIX, VEXA_IF_OVIX, [&](CDevOVIX* o) { return o->DeviceLoop(buf, size); });
}
uint32_t VEXA_CALL ActiveDeviceImpl(void* device, void* a, void* b, void* c) {
    return ENTRY(CDevOVIX, VEXA_IF_OVIX, [&](CDevOVIX* o) { return o->ActiveDevice(a, b, c); });
}
uint32_t VEXA_CALL DeviceSubscribeImpl(void* device, void* a, void* b) {
    return ENTRY(CDevOVIX, VEXA_IF_OVIX, [&](CDevOVIX* o) { return o->DeviceSubscribe(a, b); });
}
uint32_t VEXA_CALL DeviceFERROStateChangeImpl(void* device, void* a, void* b) {
    return ENTRY(CDevOVIX, VEXA_IF_OVIX, [&](CDevOVIX* o) { return o->DeviceFERROStateChange(a, b); });
}

// Module hooks.
uint32_t hookInit() { return static_cast<uint32_t>(startDeviceSide()); }
uint32_t hookFini() { return static_cast<uint32_t>(stopDeviceSide()); }
uint32_t hookCreate(std::shared_ptr<CDevBase>& out) {
    CVexaDevice* raw = new (std::nothrow) CVexaDevice;
    if (!raw) return VEXA_ERR_STATE;
    try {
        out = std::shared_ptr<CVexaDevice>(raw);
    } catch (...) {
        return VEXA_ERR_STATE;  // the shared_ptr constructor deletes raw when it throws
    }
    return 0;
}
uint32_t hookDestroy(const std::shared_ptr<CDevBase>& dev) {
    if (auto* d = dynamic_cast<CVexaDevice*>(dev.get())) d->onHostDestroy();
    return 0;
}
const char* const* hookNames() {
    static const char* const names[] = {VEXA_IF_CONNECT_V2, VEXA_IF_EVENT, VEXA_IF_OVIX, nullptr};
    return names;
}
const char* hookVersion() { return VEXA_PLUGIN_VERSION; }

}  // namespace

const VexaIOrderTrans g_orderTransTable = {TransOrderImpl};
const VexaIEvent g_eventTable = {SetEventCallBackImpl, GetArmingScheduleImpl, SetArmingScheduleImpl};
const VexaIConnectV2 g_connectTable = {SetConnStatusCallBackImpl_V2,  ConnectImpl_V1,
                                       DisConnectImpl_V2,             GetConnectStatusImpl_V2,
                                       SetDevRegisterCallBackImpl_V2, SetLoginResultCallBackImpl_V2,
                                       ConnectImpl_V2,                SetConnectParamsImpl_V2};
const VexaIOVIX g_ovixTable = {OVIX_GetwayImpl, DeviceLoopImpl, ActiveDeviceImpl, DeviceSubscribeImpl,
                               DeviceFERROStateChangeImpl};

const PluginHooks& vexaDeviceHooks() {
    static const PluginHooks hooks = {hookInit, hookFini, hookCreate, hookDestroy, hookNames, hookVersion};
    return hooks;
}
