// Device object side of the host interfaces: the base that maps interface names to host
// function tables, and the four abstract interface classes.
#ifndef VEXA_DEV_BASE_H
#define VEXA_DEV_BASE_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "vexadev/VexaDevPlugin.h"

class CDevBase;

class CDevConnect_V2 {
public:
    virtual ~CDevConnect_V2() = default;
    virtual uint32_t SetConnStatusCallBack(VexaConnStatusCallback cb, void* user) = 0;
    virtual uint32_t Connect(void*) { return VEXA_ERR_NOT_SUPPORTED; }
    virtual uint32_t DisConnect() = 0;
    virtual uint32_t GetConnectStatus(uint32_t* status) = 0;
    virtual uint32_t SetDevRegisterCallBack(void*, void*, void*) { return VEXA_ERR_NOT_SUPPORTED; }
    virtual uint32_t SetLoginResultCallBack(void*, void*) { return VEXA_ERR_NOT_SUPPORTED; }
    virtual uint32_t Connect_V2(const char* params) = 0;
    virtual uint32_t SetConnectParams(const char* params) = 0;
    CDevBase* m_owner = nullptr;
};

class CDevEvent {
public:
    virtual ~CDevEvent() = default;
    virtual uint32_t SetEventCallBack(VexaEventCallback cb, void* user) = 0;
    virtual uint32_t GetArmingSchedule(void*, void*, void*) { return VEXA_ERR_NOT_SUPPORTED; }
    virtual uint32_t SetArmingSchedule(void*, void*, void*) { return VEXA_ERR_NOT_SUPPORTED; }
    CDevBase* m_owner = nullptr;
};

class CDevOVIX {
public:
    virtual ~CDevOVIX() = default;
    virtual uint32_t OVIX_Getway(const char* request, char* rsp, uint32_t rspSize) = 0;
    virtual uint32_t DeviceLoop(char* buf, uint32_t size) = 0;
    virtual uint32_t ActiveDevice(void*, void*, void*) { return VEXA_ERR_NOT_SUPPORTED; }
    virtual uint32_t DeviceSubscribe(void*, void*) { return VEXA_ERR_NOT_SUPPORTED; }
    virtual uint32_t DeviceFERROStateChange(void*, void*) { return VEXA_ERR_NOT_SUPPORTED; }
    CDevBase* m_owner = nullptr;
};

class CDevOrderTrans {
public:
    virtual ~CDevOrderTrans() = default;
    virtual uint32_t TransOrder(const char* order, char* rsp, uint32_t rspSize) = 0;
    CDevBase* m_owner = nullptr;
};

class CDevBase {
public:
    virtual ~CDevBase() = default;
    // Host function table for the interface name, or null when it is not registered.
    virtual const void* QueryInterface(const char* name) const;

    // Interface sub-object for the name (used by the host-table entries), or null.
    void* interfaceObject(const char* name) const;

protected:
    void registerInterface(const char* name, void* object, const void* table);

private:
    // Written only by the constructor of the device, read afterwards without a lock.
    std::map<std::string, std::pair<void*, const void*>> m_interfaces;
};

// Host function tables (defined with the plug-in frame).
extern const VexaIOrderTrans g_orderTransTable;
extern const VexaIEvent g_eventTable;
extern const VexaIConnectV2 g_connectTable;
extern const VexaIOVIX g_ovixTable;

#endif
