// VEXAAMS: alarm-side device-access library. An alarm connection is accepted only for a device
// with a live VEXACMS session in the same process (protocol 4: by its session key; others: from
// that session's address) and is closed when that session ends. At most 1024 connections (option
// 20) may wait for their alarmHello; frames before it are limited to 16384 bytes.
#ifndef VEXA_AMS_SDK_H
#define VEXA_AMS_SDK_H

#include "VexaSdkCommon.h"

#ifdef __cplusplus
extern "C" {
#endif

// Called on a library thread for every alarm frame; the record and its payload are valid
// only during the call. TRUE = taken: the alarm is acknowledged to the device. FALSE = not now:
// the library keeps the alarm, stops reading that connection and offers the same alarm again
// after a short back-off; later alarms of the connection wait behind it.
typedef VEXA_BOOL(VEXA_SDK_CALL* VEXA_AMS_ALARM_CB)(int32_t listenHandle, VEXA_ALARM_MSG* msg, void* user);

// Alarm listen record, 288 bytes.
typedef struct VEXA_AMS_LISTEN_PARAM {
    char szIP[128];
    uint16_t wPort;
    uint8_t byRes1[6];
    VEXA_AMS_ALARM_CB fnCB;
    void* pUserData;
    uint32_t dwKeepAliveTimeout;   // seconds without a frame before an alarm connection is dropped
                                   // (not counted while the connection is paused by the callback)
    uint8_t byRes2[132];
} VEXA_AMS_LISTEN_PARAM;

VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetSDKInitCfg(uint32_t type, const char* value);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_Init(void);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_Fini(void);
// Local configuration: options 20, 22 and 23 (VexaSdkCommon.h); the session cap (21) is the
// command library's.
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetSDKLocalCfg(uint32_t option, const void* value);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_GetSDKStats(VEXA_SDK_STATS* stats);
VEXA_SDK_API int32_t VEXA_SDK_CALL VEXA_AMS_StartListen(const VEXA_AMS_LISTEN_PARAM* param);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_StopListen(int32_t handle);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetLogToFile(uint32_t level, const char* dir, VEXA_BOOL autoDel);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetDeviceSessionKey(const VEXA_DEV_SESSION_KEY* key);
VEXA_SDK_API uint32_t VEXA_SDK_CALL VEXA_AMS_GetLastError(void);
// Port actually bound by a listen handle (useful when port 0 was given); 0 when unknown.
VEXA_SDK_API uint16_t VEXA_SDK_CALL VEXA_AMS_GetListenPort(int32_t handle);

#ifdef __cplusplus
}
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_AMS_LISTEN_PARAM) == 288, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_AMS_LISTEN_PARAM, wPort) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_AMS_LISTEN_PARAM, fnCB) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_AMS_LISTEN_PARAM, pUserData) == 144, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_AMS_LISTEN_PARAM, dwKeepAliveTimeout) == 152, "");
#endif

#endif
