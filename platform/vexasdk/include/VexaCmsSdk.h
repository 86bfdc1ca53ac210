// VEXACMS: command-side device-access library (registration, keep-alive, commands, media).
// Before login a frame is limited to 16384 bytes and at most 1024 connections (option 20) may
// wait to log in; the live sessions it records let VEXAAMS bind alarm connections to them.
#ifndef VEXA_CMS_SDK_H
#define VEXA_CMS_SDK_H

#include "VexaSdkCommon.h"

#ifdef __cplusplus
extern "C" {
#endif

// Data types of the registration callback.
enum {
    VEXA_CMS_DEV_ON = 0,          // login
    VEXA_CMS_DEV_OFF = 1,         // logout / connection lost / heartbeat time-out
    VEXA_CMS_DEV_ADDRESS_CHANGED = 2,
    VEXA_CMS_DEV_AUTH = 3,        // asks for the device key
    VEXA_CMS_DEV_SESSIONKEY = 4,
    VEXA_CMS_DEV_DAS_REREGISTER = 7,
    VEXA_CMS_DEV_DAS_PINGREO = 8, // heartbeat
    VEXA_CMS_DEV_SESSIONKEY_ERROR = 9,
    VEXA_CMS_DAS_REQ = 13,        // address request
};

// Local configuration options (VEXA_CMS_SetSDKLocalCfg).
enum {
    VEXA_CMS_SEND_RECV_PARAM = 1,
    VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK = 3,
    VEXA_CMS_EXCEPTION_CALLBACK = 9,
    VEXA_CMS_MAX_PENDING_LOGINS = VEXA_SDK_MAX_PENDING_LOGINS,  // 20: see VexaSdkCommon.h
};

// Configuration types of VEXA_CMS_ConfigDev.
enum { VEXA_CMS_CONFIG_READ = 0, VEXA_CMS_CONFIG_VALUE = 1, VEXA_CMS_CONFIG_DATA = 2 };
// Record kinds of VEXA_CMS_ConfigDev (fourth argument).
enum { VEXA_CMS_RECORD_MODEL = 0, VEXA_CMS_RECORD_FERRO = 1 };

typedef VEXA_BOOL(VEXA_SDK_CALL* VEXA_CMS_REGISTER_CB)(int32_t userHandle, uint32_t dataType, void* outBuf,
                                                       uint32_t outLen, void* inBuf, uint32_t inLen, void* user);

// Command listen record, 280 bytes.
typedef struct VEXA_CMS_LISTEN_PARAM {
    char szIP[128];
    uint16_t wPort;
    uint8_t byRes1[6];
    VEXA_CMS_REGISTER_CB fnCB;
    void* pUserData;
    uint8_t byRes2[128];
} VEXA_CMS_LISTEN_PARAM;

// Device information / session-key / address-request record (output of the registration callback).
typedef struct VEXA_CMS_DEV_REG_INFO {
    char szDeviceIP[128];
    uint16_t wDevicePort;
    uint8_t byRes1[6];
    char szDeviceID[256];
    uint8_t byRes2[128];
    char szDevSerial[256];
    char szShortSerial[256];
    char szFirmwareVersion[72];
    char szSessionKey[64];
    char szCompanion[32];
    char szServerAddress[128];     // address request: the server the device asks for
    uint16_t wServerPort;
    uint8_t byRes3[46];
    uint8_t byDevProtocolVersion;  // 4: aldonV5
    uint8_t bySessionProtocolVersion;
    uint8_t byRes4[6];
} VEXA_CMS_DEV_REG_INFO;

typedef struct VEXA_CMS_ALARM_SERVER {
    uint32_t dwEnable;
    uint32_t dwAlarmType;
    char szAddress[128];
    uint16_t wPort;
    uint8_t byRes1[6];
    uint32_t dwSubscribeMode;
    uint8_t byRes2[4];
} VEXA_CMS_ALARM_SERVER;

typedef struct VEXA_CMS_STORAGE_SERVER {
    uint32_t dwEnable;
    uint8_t byRes1[4];
    char szAddress[128];
    uint16_t wPort;
    uint8_t byRes2[6];
    char szAccessKey[64];
    char szSecretKey[64];
    uint32_t dwEnable2;
    uint8_t byRes3[4];
} VEXA_CMS_STORAGE_SERVER;

// Login answer (input record of data types 0, 2, 7).
typedef struct VEXA_CMS_LOGIN_ANSWER {
    uint32_t dwKeepAliveSec;
    uint32_t dwTimeOutCount;
    uint32_t dwAlarmKeepAliveSec;
    uint32_t dwAlarmTimeOutCount;
    VEXA_CMS_STORAGE_SERVER* pStorageServer;
    VEXA_CMS_ALARM_SERVER* pAlarmServer;
} VEXA_CMS_LOGIN_ANSWER;

// Address answer (input record of data type 13), 512 bytes.
typedef struct VEXA_CMS_DAS_ANSWER {
    char szAddress[128];
    uint16_t wPort;
    uint8_t byRes1[6];
    char szDomain[64];
    char szServerID[64];
    uint8_t byRes2[248];
} VEXA_CMS_DAS_ANSWER;

// Subscription message record.
typedef struct VEXA_CMS_MSG {
    uint32_t dwMsgType;             // 2: model-command alarm
    uint8_t byRes1[164];
    char szDomain[64];
    char szIdentifier[64];
    void* pData;                    // message type 2: VEXA_ALARM_MSG
    uint32_t dwDataLen;
    uint32_t dwRes;
} VEXA_CMS_MSG;

typedef VEXA_BOOL(VEXA_SDK_CALL* VEXA_CMS_MSG_CB)(int32_t userHandle, uint32_t reserved, VEXA_CMS_MSG* msg,
                                                  void* user);

// VEXA_CMS_SubscribeMsg(0, ...): callback record, 272 bytes.
typedef struct VEXA_CMS_MSG_CB_PARAM {
    VEXA_CMS_MSG_CB fnCB;
    void* pUserData;
    uint8_t byRes[256];
} VEXA_CMS_MSG_CB_PARAM;

// VEXA_CMS_SubscribeMsg(1, ...): topic record, 136 bytes.
typedef struct VEXA_CMS_TOPIC_PARAM {
    const char* pTopic;
    uint32_t dwTopicLen;
    uint8_t byRes[124];
} VEXA_CMS_TOPIC_PARAM;

typedef struct VEXA_CMS_EXCEPTION {
    uint32_t dwType;                // 1 heartbeat time-out, 2 connection lost
    int32_t lUserHandle;
    uint32_t dwErrorCode;
} VEXA_CMS_EXCEPTION;

typedef void(VEXA_SDK_CALL* VEXA_CMS_EXCEPTION_CB)(const VEXA_CMS_EXCEPTION* exc, void* user);

// Option 9: exception callback record, 144 bytes.
typedef struct VEXA_CMS_EXCEPTION_PARAM {
    VEXA_CMS_EXCEPTION_CB fnCB;
    void* pUserData;
    uint8_t byRes[128];
} VEXA_CMS_EXCEPTION_PARAM;

// Option 1: one of the two time-outs, 128 bytes. The receive time-out is how long a synchronous
// call (pass-through, GetDevConfig) waits for its answer; the send time-out is kept apart and
// never lengthens or shortens that wait. dwKind 1 sets the receive time-out, 2 the send one;
// with dwKind 0 the first option-1 call after Init sets the receive time-out and later calls the
// send time-out (the order in which start-up sets them). dwTimeOut 0 means 30000 ms.
enum { VEXA_CMS_TIMEOUT_BY_ORDER = 0, VEXA_CMS_TIMEOUT_RECV = 1, VEXA_CMS_TIMEOUT_SEND = 2 };
typedef struct VEXA_CMS_SEND_RECV_PARAM_T {
    uint32_t dwTimeOut;             // ms
    uint32_t dwKind;
    uint8_t byRes[120];
} VEXA_CMS_SEND_RECV_PARAM_T;

// Asynchronous answer (argument of the asynchronous-answer callback). dwErrorNo is 0 only when
// the device answered "error": 0; otherwise a library code: VEXA_SDK_ERR_DEVICE (the device
// reported an error), VEXA_SDK_ERR_MALFORMED (no integer "error"), VEXA_SDK_ERR_GONE.
typedef struct VEXA_CMS_ASYNC_ANSWER {
    int32_t lUserHandle;
    uint32_t dwAsyncHandle;
    uint32_t dwDataType;            // 7: list answer
    uint32_t dwErrorNo;
    const void* pData;              // text, or VEXA_CMS_LIST_ANSWER for data type 7
    uint32_t dwDataLen;
    uint32_t dwRes;
} VEXA_CMS_ASYNC_ANSWER;

typedef struct VEXA_CMS_LIST_ENTRY {
    uint8_t byRes1[232];
    const char* pText;
    uint8_t byRes2[4];
    uint32_t dwTextLen;
    uint8_t byRes3[128];
} VEXA_CMS_LIST_ENTRY;

typedef struct VEXA_CMS_LIST_ANSWER {
    uint8_t byRes1[128];
    const VEXA_CMS_LIST_ENTRY* pEntries;
    uint32_t dwCount;
    uint8_t byRes2[4];
} VEXA_CMS_LIST_ANSWER;

typedef void(VEXA_SDK_CALL* VEXA_CMS_ASYNC_CB)(const VEXA_CMS_ASYNC_ANSWER* answer, void* user);

// Model-command request record for VEXA_CMS_ConfigDev, 536 bytes.
typedef struct VEXA_CMS_CONFIG_REQ {
    char szTarget[32];
    char szSubID[32];
    char szScope[64];
    char szDomain[64];
    char szIdentifier[64];
    char* pBody;
    char* pAnswer;
    uint32_t dwBodyLen;
    uint32_t dwAnswerSize;
    uint32_t dwAsyncHandle;         // written by the library
    uint8_t byRes[252];
} VEXA_CMS_CONFIG_REQ;

// FERRO command record for VEXA_CMS_ConfigDev, 536 bytes.
typedef struct VEXA_CMS_FERRO_REQ {
    const char* pCommand;
    uint32_t dwCommandLen;
    uint8_t byRes1[4];
    char* pBody;
    uint32_t dwBodyLen;
    uint8_t byRes2[4];
    char* pOutput;
    uint32_t dwOutputSize;
    uint32_t dwSendTimeOut;
    uint32_t dwRecvTimeOut;
    uint32_t dwAsyncHandle;         // written by the library
    uint8_t byRes3[480];
} VEXA_CMS_FERRO_REQ;

// Pass-through record for VEXA_CMS_OVIXPassThrough, 96 bytes.
typedef struct VEXA_CMS_PASSTHROUGH {
    const char* pUrl;               // "METHOD URL"
    uint32_t dwUrlLen;
    uint8_t byRes1[20];
    const char* pBody;
    uint32_t dwBodyLen;
    uint8_t byRes2[4];
    char* pOutput;
    uint32_t dwOutputSize;          // in: capacity; out: answer length
    uint8_t byRes3[4];
    uint32_t dwSendTimeOut;         // ms; the answer is awaited for the receive time-out (option 1)
    uint8_t byRes4[28];
} VEXA_CMS_PASSTHROUGH;

// VEXA_CMS_GetDevConfig(handle, 1, record, 88): device information. The 88-byte query record
// points to a caller-owned output block whose first u32 holds its size (512).
#define VEXA_CMS_GET_DEVICE_INFO 1u
typedef struct VEXA_CMS_DEV_CONFIG_QUERY {
    uint8_t byRes1[32];
    void* lpOutBuffer;              // 32: VEXA_CMS_DEVICE_INFO_BLOCK
    uint32_t dwOutBufferSize;       // 40: 512
    uint8_t byRes2[44];
} VEXA_CMS_DEV_CONFIG_QUERY;
typedef struct VEXA_CMS_DEVICE_INFO_BLOCK {
    uint32_t dwSize;                // 512
    uint8_t byRes1[172];
    uint32_t dwAudioCodec;          // 176: talk codec index
    uint8_t byRes2[332];
} VEXA_CMS_DEVICE_INFO_BLOCK;

// Media streams. Session texts are the decimal server session IDs of VEXA_CMS_GetSevrSessionId.
// Live view (VEXA_CMS_StartLiveStreaming), 664 bytes.
typedef struct VEXA_CMS_LIVE_PARAM {
    char szSessionID[128];          // 0
    uint32_t dwChannel;             // 128
    uint32_t dwStreamType;          // 132: 1 main, 2 sub, 3 third
    char szMediaIP[128];            // 136
    uint8_t byRes1[128];
    uint16_t wTcpPort;              // 392: set for a TCP link
    uint16_t wUdpPort;              // 394: set for a UDP link
    uint8_t byRes2[3];
    uint8_t byNative;               // 399: 1 for protocol-4 devices
    uint8_t byRes3[264];
} VEXA_CMS_LIVE_PARAM;

// Device-local time of a record stream, 8 bytes.
typedef struct VEXA_CMS_STREAM_TIME {
    uint16_t wYear;
    uint8_t byMonth, byDay, byHour, byMinute, bySecond;
    uint8_t byRes;
} VEXA_CMS_STREAM_TIME;

// Playback or download (VEXA_CMS_StartRecordStreaming), 1320 bytes.
typedef struct VEXA_CMS_RECORD_PARAM {
    char szSessionID[128];          // 0
    uint8_t byRes1[4];              // 128
    uint32_t dwChannel;             // 132
    char szMediaIP[128];            // 136
    uint8_t byRes2[128];
    uint16_t wMediaPort;            // 392
    uint8_t byRes3[4];
    uint8_t byNative;               // 398
    uint8_t byRes4;
    uint32_t dwStreamType;          // 400: 1 or 2
    uint32_t dwByTime;              // 404: 1
    VEXA_CMS_STREAM_TIME struStart; // 408
    uint8_t byRes5[8];
    VEXA_CMS_STREAM_TIME struStop;  // 424
    uint8_t byRes6[888];
} VEXA_CMS_RECORD_PARAM;

// Voice talk (VEXA_CMS_StartVoice), 648 bytes.
typedef struct VEXA_CMS_VOICE_PARAM {
    char szSessionID[128];          // 0
    char szMediaIP[128];            // 128
    uint8_t byRes1[140];
    uint32_t dwChannel;             // 396
    uint16_t wMediaPort;            // 400
    uint8_t byRes2[5];
    uint8_t byEnable;               // 407: 1
    uint8_t byRes3[16];
    uint32_t dwAudioCode;           // 424
    uint8_t byRes4[220];
} VEXA_CMS_VOICE_PARAM;

// Stop of a live or record stream, 200 bytes; stop of a voice talk, 224 bytes; pause or resume
// of a record stream, 192 bytes. Each starts with the session text.
typedef struct VEXA_CMS_STOP_PARAM {
    char szSessionID[64];
    uint8_t byRes[136];
} VEXA_CMS_STOP_PARAM;
typedef struct VEXA_CMS_VOICE_STOP_PARAM {
    char szSessionID[64];
    uint8_t byRes[160];
} VEXA_CMS_VOICE_STOP_PARAM;
typedef struct VEXA_CMS_OPERATE_PARAM {
    char szSessionID[64];
    uint8_t byRes[128];
} VEXA_CMS_OPERATE_PARAM;
enum { VEXA_CMS_RECORD_PAUSE = 0, VEXA_CMS_RECORD_RESUME = 1 };

// Output of the start calls, 192 bytes (nothing the caller needs to read).
typedef struct VEXA_CMS_START_RESULT {
    uint8_t byRes[192];
} VEXA_CMS_START_RESULT;

VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetSDKInitCfg(uint32_t type, const char* value);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_Init(void);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_Fini(void);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetSDKLocalCfg(uint32_t option, const void* value);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetInterfaceAsync(uint32_t type, VEXA_CMS_ASYNC_CB cb, void* user);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SubscribeMsg(uint32_t type, const void* param);
VEXA_SDK_API int32_t VEXA_SDK_CALL VEXA_CMS_StartListen(const VEXA_CMS_LISTEN_PARAM* param);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StopListen(int32_t handle);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetLogToFile(uint32_t level, const char* dir, VEXA_BOOL autoDel);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetDeviceSessionKey(const VEXA_DEV_SESSION_KEY* key);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetKeepAliveTime(int32_t userHandle, uint32_t keepAliveSec,
                                                              uint32_t timeOutCount);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_ForceLogout(int32_t userHandle);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_ConfigDev(int32_t userHandle, uint32_t configType, void* record,
                                                       uint32_t recordKind);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_OVIXPassThrough(int32_t userHandle, VEXA_CMS_PASSTHROUGH* record);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_GetDevConfig(int32_t userHandle, uint32_t command, void* record,
                                                          uint32_t recordLen);
// A fresh server session ID as decimal text (1 .. 2^31-1, unique in this library instance).
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_GetSevrSessionId(char* buffer, uint32_t size);
// Media calls wait for the device's answer (receive time-out); the second argument of the live
// and record calls is reserved (0).
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StartLiveStreaming(int32_t userHandle, uint32_t reserved,
                                                                const VEXA_CMS_LIVE_PARAM* param,
                                                                VEXA_CMS_START_RESULT* result);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StopLiveStreaming(int32_t userHandle, uint32_t reserved,
                                                               const VEXA_CMS_STOP_PARAM* param);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StartRecordStreaming(int32_t userHandle, uint32_t reserved,
                                                                  const VEXA_CMS_RECORD_PARAM* param,
                                                                  VEXA_CMS_START_RESULT* result);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StopRecordStreaming(int32_t userHandle, uint32_t reserved,
                                                                 const VEXA_CMS_STOP_PARAM* param);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_OperateRecordStreaming(int32_t userHandle, uint32_t reserved,
                                                                    uint32_t operation,
                                                                    const VEXA_CMS_OPERATE_PARAM* param);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StartVoice(int32_t userHandle, const VEXA_CMS_VOICE_PARAM* param,
                                                        VEXA_CMS_START_RESULT* result);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StopVoice(int32_t userHandle, const VEXA_CMS_VOICE_STOP_PARAM* param);
// Last error of this thread. A device's non-zero "error" gives VEXA_SDK_ERR_DEVICE, an answer
// without an integer "error" VEXA_SDK_ERR_MALFORMED.
VEXA_SDK_API uint32_t VEXA_SDK_CALL VEXA_CMS_GetLastError(void);
VEXA_SDK_API VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_GetSDKStats(VEXA_SDK_STATS* stats);
// Port actually bound by a listen handle (useful when port 0 was given); 0 when unknown.
VEXA_SDK_API uint16_t VEXA_SDK_CALL VEXA_CMS_GetListenPort(int32_t handle);

#ifdef __cplusplus
}
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_LISTEN_PARAM) == 280, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LISTEN_PARAM, wPort) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LISTEN_PARAM, fnCB) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LISTEN_PARAM, pUserData) == 144, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, wDevicePort) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, szDeviceID) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, szDevSerial) == 520, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, szShortSerial) == 776, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, szFirmwareVersion) == 1032, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, szSessionKey) == 1104, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, szCompanion) == 1168, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, szServerAddress) == 1200, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, wServerPort) == 1328, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, byDevProtocolVersion) == 1376, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_REG_INFO, bySessionProtocolVersion) == 1377, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_ALARM_SERVER, szAddress) == 8, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_ALARM_SERVER, wPort) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_ALARM_SERVER, dwSubscribeMode) == 144, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_STORAGE_SERVER, szAddress) == 8, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_STORAGE_SERVER, wPort) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_STORAGE_SERVER, szAccessKey) == 144, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_STORAGE_SERVER, szSecretKey) == 208, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_STORAGE_SERVER, dwEnable2) == 272, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LOGIN_ANSWER, pStorageServer) == 16, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LOGIN_ANSWER, pAlarmServer) == 24, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_DAS_ANSWER) == 512, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DAS_ANSWER, wPort) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DAS_ANSWER, szDomain) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DAS_ANSWER, szServerID) == 200, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_MSG, szDomain) == 168, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_MSG, szIdentifier) == 232, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_MSG, pData) == 296, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_MSG, dwDataLen) == 304, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_MSG_CB_PARAM) == 272, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_TOPIC_PARAM) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_TOPIC_PARAM, dwTopicLen) == 8, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_EXCEPTION) == 12, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_EXCEPTION_PARAM) == 144, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_SEND_RECV_PARAM_T) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_SEND_RECV_PARAM_T, dwKind) == 4, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_ASYNC_ANSWER, pData) == 16, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_ASYNC_ANSWER, dwDataLen) == 24, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_LIST_ENTRY) == 376, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIST_ENTRY, pText) == 232, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIST_ENTRY, dwTextLen) == 244, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIST_ANSWER, pEntries) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIST_ANSWER, dwCount) == 136, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_CONFIG_REQ) == 536, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, szSubID) == 32, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, szScope) == 64, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, szDomain) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, szIdentifier) == 192, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, pBody) == 256, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, pAnswer) == 264, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, dwBodyLen) == 272, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, dwAnswerSize) == 276, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_CONFIG_REQ, dwAsyncHandle) == 280, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_FERRO_REQ) == 536, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_PASSTHROUGH) == 96, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_PASSTHROUGH, dwUrlLen) == 8, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_PASSTHROUGH, pBody) == 32, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_PASSTHROUGH, dwBodyLen) == 40, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_PASSTHROUGH, pOutput) == 48, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_PASSTHROUGH, dwOutputSize) == 56, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_PASSTHROUGH, dwSendTimeOut) == 64, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_DEV_CONFIG_QUERY) == 88, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_CONFIG_QUERY, lpOutBuffer) == 32, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEV_CONFIG_QUERY, dwOutBufferSize) == 40, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_DEVICE_INFO_BLOCK) == 512, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_DEVICE_INFO_BLOCK, dwAudioCodec) == 176, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_LIVE_PARAM) == 664, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIVE_PARAM, dwChannel) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIVE_PARAM, dwStreamType) == 132, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIVE_PARAM, szMediaIP) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIVE_PARAM, wTcpPort) == 392, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIVE_PARAM, wUdpPort) == 394, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_LIVE_PARAM, byNative) == 399, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_STREAM_TIME) == 8, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_RECORD_PARAM) == 1320, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, byRes1) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, dwChannel) == 132, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, szMediaIP) == 136, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, wMediaPort) == 392, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, byNative) == 398, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, dwStreamType) == 400, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, dwByTime) == 404, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, struStart) == 408, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_RECORD_PARAM, struStop) == 424, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_VOICE_PARAM) == 648, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_VOICE_PARAM, szMediaIP) == 128, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_VOICE_PARAM, dwChannel) == 396, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_VOICE_PARAM, wMediaPort) == 400, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_VOICE_PARAM, byEnable) == 407, "");
VEXA_SDK_STATIC_ASSERT(offsetof(VEXA_CMS_VOICE_PARAM, dwAudioCode) == 424, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_STOP_PARAM) == 200, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_VOICE_STOP_PARAM) == 224, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_OPERATE_PARAM) == 192, "");
VEXA_SDK_STATIC_ASSERT(sizeof(VEXA_CMS_START_RESULT) == 192, "");
#endif

#endif
