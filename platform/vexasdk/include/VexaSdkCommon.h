// Shared definitions of the VEXACMS / VEXAAMS device-access libraries.
#ifndef VEXA_SDK_COMMON_H
#define VEXA_SDK_COMMON_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define VEXA_SDK_CALL __stdcall
#define VEXA_SDK_API __declspec(dllimport)
#else
#define VEXA_SDK_CALL
#define VEXA_SDK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define VEXA_SDK_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define VEXA_SDK_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

typedef int32_t VEXA_BOOL;

// Error codes reported by GetLastError.
#define VEXA_SDK_ERR_NONE 0u
#define VEXA_SDK_ERR_NOT_INIT 1u
#define VEXA_SDK_ERR_PARAM 2u
#define VEXA_SDK_ERR_LISTEN 3u
#define VEXA_SDK_ERR_NO_SESSION 4u
#define VEXA_SDK_ERR_SEND 5u
#define VEXA_SDK_ERR_TIMEOUT 6u
#define VEXA_SDK_ERR_DEVICE 7u         // device answered with a non-zero error
#define VEXA_SDK_ERR_BUFFER 8u         // answer larger than the caller's buffer
#define VEXA_SDK_ERR_WOULD_BLOCK 9u    // synchronous call made on a library thread
#define VEXA_SDK_ERR_GONE 10u          // session ended while waiting
#define VEXA_SDK_ERR_MALFORMED 11u     // answer without an integer "error" (or one the library cannot take)

// Counters of one library (VEXA_CMS_GetSDKStats / VEXA_AMS_GetSDKStats), 64 bytes.
typedef struct VEXA_SDK_STATS {
    uint32_t dwPendingLogins;       // connections accepted, not yet logged in / past alarmHello
    uint32_t dwMaxPendingLogins;    // the cap in force (option 20)
    uint64_t qwRefusedConnections;  // connections closed at once because the cap was reached
    uint32_t dwSessions;            // connections being served (logged in or waiting to)
    uint32_t dwMaxSessions;         // the session cap in force (option 21, 0: none)
    uint64_t qwRefusedFull;         // connections closed at once: session cap or descriptors running out
    uint8_t byRes[32];
} VEXA_SDK_STATS;

// Option 20 of VEXA_CMS_SetSDKLocalCfg / VEXA_AMS_SetSDKLocalCfg: the value points to a uint32_t,
// the most connections that may wait to log in at once (0: the default, 1024). A connection
// accepted beyond it is closed at once and counted.
#define VEXA_SDK_MAX_PENDING_LOGINS 20u
#define VEXA_SDK_DEFAULT_MAX_PENDING_LOGINS 1024u

// Option 21 (command library only): the value points to a uint32_t, the most sessions (logged in
// plus waiting to log in) served at once; 0, the default, caps only by the descriptor limit.
#define VEXA_SDK_INIT_MAX_SESSIONS 21u
// Option 22: the value points to a uint32_t, the library's I/O threads (0: one per core). Before Init.
#define VEXA_SDK_INIT_IO_THREADS 22u
// Option 23: the value points to a uint32_t, descriptors the library leaves free for the rest of
// the process; a connection that would eat into them is closed at once and counted.
#define VEXA_SDK_INIT_FD_RESERVE 23u
#define VEXA_SDK_DEFAULT_FD_RESERVE 64u

// Session-key record (VEXA_CMS_SetDeviceSessionKey / VEXA_AMS_SetDeviceSessionKey), 480 bytes.
typedef struct VEXA_DEV_SESSION_KEY {
    char szDeviceID[256];
    char szSessionKey[64];
    char szCompanion[32];
    uint8_t byProtocolVersion;
    uint8_t byRes[127];
} VEXA_DEV_SESSION_KEY;

// Alarm record: the AMS alarm callback argument and the alarm data of a model-command message.
typedef struct VEXA_ALARM_MSG {
    uint8_t byAlarmType;
    uint8_t byDataType;
    uint8_t byRes1[2];
    char szDeviceID[256];
    uint8_t byRes2[512];
    uint32_t dwXmlBufLen;      // payload length
    void* pXmlBuf;             // payload: text, or VEXA_ALARM_STRUCT for the structured forms
} VEXA_ALARM_MSG;

typedef struct VEXA_ALARM_TEXT {
    const char* pText;
    uint32_t dwLen;
    uint32_t dwRes;
} VEXA_ALARM_TEXT;

// Structured alarm payload (alarm type 3, or alarm type 2 with data type 3).
typedef struct VEXA_ALARM_STRUCT {
    int32_t iKind;                    // 1, 5, 13
    uint32_t dwRes1;
    const VEXA_ALARM_TEXT* pDescriptor;
    uint32_t dwDescriptorCount;
    uint32_t dwRes2;
    const char* pText;
    uint32_t dwTextLen;
    uint32_t dwRes3[3];
    const void* pHeader;              // set: the text carries a header (kind counts as 13)
    uint32_t dwHeader;                // non-zero with pHeader: the header ends at the first blank line
    uint32_t dwRes4;
} VEXA_ALARM_STRUCT;

#ifdef __cplusplus
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_SDK_STATS) == 64, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_SDK_STATS, qwRefusedConnections) == 8, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_SDK_STATS, dwSessions) == 16, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_SDK_STATS, qwRefusedFull) == 24, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_DEV_SESSION_KEY) == 480, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_DEV_SESSION_KEY, szSessionKey) == 256, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_DEV_SESSION_KEY, szCompanion) == 320, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_DEV_SESSION_KEY, byProtocolVersion) == 352, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_MSG, szDeviceID) == 4, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_MSG, dwXmlBufLen) == 772, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_MSG, pXmlBuf) == 776, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_ALARM_MSG) == 784, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_STRUCT, pDescriptor) == 8, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_STRUCT, dwDescriptorCount) == 16, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_STRUCT, pText) == 24, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_STRUCT, dwTextLen) == 32, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_STRUCT, pHeader) == 48, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_ALARM_STRUCT, dwHeader) == 56, "");
#endif

#endif
