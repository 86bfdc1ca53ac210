// Host-facing ABI of the VexaDev device-access plug-in.
// Everything a host needs to load the plug-in and drive its devices.
#ifndef VEXADEV_PLUGIN_H
#define VEXADEV_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define VEXA_CALL __stdcall
#define VEXA_EXPORT __declspec(dllexport)
#else
#define VEXA_CALL
#define VEXA_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#include <string>
extern "C" {
#endif

// Frame and interface result codes.
#define VEXA_OK 0u
#define VEXA_ERR_STATE 0xFFFFFFFFu          // wrong state / unknown command
#define VEXA_ERR_NO_INTERFACE 0xFFFFFFFEu   // interface name not registered
#define VEXA_ERR_BAD_HANDLE 0x82000005u     // null handle or missing interface
#define VEXA_ERR_NOT_SUPPORTED 0x40000001u

#define VEXA_PLUGIN_VERSION "V1.0.0.0"
#define VEXA_IF_ORDER_TRANS "Device.IOrderTrans"
#define VEXA_IF_EVENT "Device.IEvent"
#define VEXA_IF_CONNECT_V2 "Device.IConnect_V2"
#define VEXA_IF_OVIX "Device.IOVIX"

// Connection statuses delivered to the connection-status callback.
#define VEXA_CONN_OFFLINE 0xFFFFFFFFu
#define VEXA_CONN_ONLINE 0u
#define VEXA_CONN_KEY_ERROR 8u
#define VEXA_CONN_LOGGED_OUT 10u
#define VEXA_CONN_PROTOCOL_MISMATCH 11u

typedef void(VEXA_CALL* VexaEventCallback)(void* device, const void* block, const void* event, uint32_t zero,
                                           void* user);
typedef void(VEXA_CALL* VexaConnStatusCallback)(void* device, uint32_t status, const char* text, void* user);

// Seven-entry host table returned by GWPLUGIN_GetPluginInterface.
typedef struct GWPluginInterface {
    uint32_t(VEXA_CALL* Plugin_Init)(void);
    uint32_t(VEXA_CALL* Plugin_Fini)(void);
    uint32_t(VEXA_CALL* Plugin_CreateDevice)(void** device);
    uint32_t(VEXA_CALL* Plugin_DestroyDevice)(void* device);
    uint32_t(VEXA_CALL* Plugin_QueryInterface)(void* device, const char* name, void** table);
    const char* const*(VEXA_CALL* Plugin_GetInterfaceNames)(void);
    const char*(VEXA_CALL* Plugin_GetVersion)(void);
} GWPluginInterface;

// "Device.IOrderTrans"
typedef struct VexaIOrderTrans {
    uint32_t(VEXA_CALL* TransOrderImpl)(void* device, const char* order, char* rsp, uint32_t rspSize);
} VexaIOrderTrans;

// "Device.IEvent"
typedef struct VexaIEvent {
    uint32_t(VEXA_CALL* SetEventCallBackImpl)(void* device, VexaEventCallback cb, void* user);
    uint32_t(VEXA_CALL* GetArmingScheduleImpl)(void* device, void* a, void* b, void* c);
    uint32_t(VEXA_CALL* SetArmingScheduleImpl)(void* device, void* a, void* b, void* c);
} VexaIEvent;

// "Device.IConnect_V2"
typedef struct VexaIConnectV2 {
    uint32_t(VEXA_CALL* SetConnStatusCallBackImpl_V2)(void* device, VexaConnStatusCallback cb, void* user);
    uint32_t(VEXA_CALL* ConnectImpl_V1)(void* device, void* a);
    uint32_t(VEXA_CALL* DisConnectImpl_V2)(void* device);
    uint32_t(VEXA_CALL* GetConnectStatusImpl_V2)(void* device, uint32_t* status, void* a);
    uint32_t(VEXA_CALL* SetDevRegisterCallBackImpl_V2)(void* device, void* a, void* b, void* c);
    uint32_t(VEXA_CALL* SetLoginResultCallBackImpl_V2)(void* device, void* a, void* b);
    uint32_t(VEXA_CALL* ConnectImpl_V2)(void* device, const char* params, void* a, void* b);
    uint32_t(VEXA_CALL* SetConnectParamsImpl_V2)(void* device, const char* params);
} VexaIConnectV2;

// "Device.IOVIX"
typedef struct VexaIOVIX {
    uint32_t(VEXA_CALL* OVIX_GetwayImpl)(void* device, const char* request, char* rsp, uint32_t rspSize, void* a);
    uint32_t(VEXA_CALL* DeviceLoopImpl)(void* device, char* buf, uint32_t size);
    uint32_t(VEXA_CALL* ActiveDeviceImpl)(void* device, void* a, void* b, void* c);
    uint32_t(VEXA_CALL* DeviceSubscribeImpl)(void* device, void* a, void* b);
    uint32_t(VEXA_CALL* DeviceFERROStateChangeImpl)(void* device, void* a, void* b);
} VexaIOVIX;

// Event record handed to the event callback; 8808 bytes, offsets fixed.
typedef struct AlarmEventInfo {
    uint32_t dwSize;            // 8808
    uint32_t dwEventCode;
    char szContent[8192];       // JSON member list / document
    int32_t struTime[10];       // [1]s [2]min [3]h [4]day [5]month [6]year [9]UTC offset (s)
    uint32_t dwReserved2;
    uint32_t dwCategory;
    int32_t iChannel;
    int32_t iActivePostCount;
    uint32_t dwActive;
    char szName[64];
    char szTime[64];
    char szEventType[64];
    char szDescription[256];
    uint8_t byReserved[36];
    char szDeviceID[32];
    char szSerialNo[32];
} AlarmEventInfo;

typedef const GWPluginInterface*(VEXA_CALL* PFN_GWPLUGIN_GetPluginInterface)(void);
typedef uint32_t(VEXA_CALL* PFN_Plugin_SetConfig)(const char* head, const char* message);

VEXA_EXPORT const GWPluginInterface* VEXA_CALL GWPLUGIN_GetPluginInterface(void);
VEXA_EXPORT uint32_t VEXA_CALL Plugin_SetConfig(const char* head, const char* message);

#ifdef __cplusplus
}  // extern "C"

// Port status document; out is the host's string object.
typedef uint32_t(VEXA_CALL* PFN_Plugin_GetPortStatus)(std::string* out);
extern "C" VEXA_EXPORT uint32_t VEXA_CALL Plugin_GetPortStatus(std::string* out);

static_assert(sizeof(AlarmEventInfo) == 8808, "AlarmEventInfo size");
static_assert(offsetof(AlarmEventInfo, dwEventCode) == 4, "");
static_assert(offsetof(AlarmEventInfo, szContent) == 8, "");
static_assert(offsetof(AlarmEventInfo, struTime) == 8200, "");
static_assert(offsetof(AlarmEventInfo, dwReserved2) == 8240, "");
static_assert(offsetof(AlarmEventInfo, dwCategory) == 8244, "");
static_assert(offsetof(AlarmEventInfo, iChannel) == 8248, "");
static_assert(offsetof(AlarmEventInfo, iActivePostCount) == 8252, "");
static_assert(offsetof(AlarmEventInfo, dwActive) == 8256, "");
static_assert(offsetof(AlarmEventInfo, szName) == 8260, "");
static_assert(offsetof(AlarmEventInfo, szTime) == 8324, "");
static_assert(offsetof(AlarmEventInfo, szEventType) == 8388, "");
static_assert(offsetof(AlarmEventInfo, szDescription) == 8452, "");
static_assert(offsetof(AlarmEventInfo, byReserved) == 8708, "");
static_assert(offsetof(AlarmEventInfo, szDeviceID) == 8744, "");
static_assert(offsetof(AlarmEventInfo, szSerialNo) == 8776, "");
#endif

#endif
