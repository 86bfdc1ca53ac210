// Every 32-bit result code of the plug-in, listed once. Use sites take the names from here
// (vexa::status::kBadParameters); StatusCode.cpp builds the status documents from the same list.
#ifndef VEXA_STATUS_LIST_H
#define VEXA_STATUS_LIST_H

#include <cstdint>

// Codes with a status document: XX(name, code, subStatusCode key, errorMsg). The top four bits are
// the class (1..7; code 1 counts as class 1).
#define VEXA_STATUS_MAP(XX)                                                                                  \
    XX(kOk, 0x00000001, "ok", "ok")                                                                          \
    XX(kRiskPassword, 0x10000002, "riskPassword", "Risky password.")                                        \
    XX(kNoMemory, 0x20000001, "noMemory", "Insufficient memory.")                                           \
    XX(kServiceUnavailable, 0x20000002, "serviceUnavailable", "service unavailable.")                       \
    XX(kUpgrading, 0x20000003, "upgrading", "Upgrading.")                                                   \
    XX(kDeviceBusy, 0x20000004, "deviceBusy", "Device busy or no response.")                                \
    XX(kReConnectIpc, 0x20000005, "reConnectIpc", "Reconnect the video server.")                            \
    XX(kTransferUpgradePackageFailed, 0x20000006, "transferUpgradePackageFailed",                            \
       "Transferring upgrade package failed.")                                                               \
    XX(kStartUpgradeFailed, 0x20000007, "startUpgradeFailed", "Starting upgrade failed.")                   \
    XX(kGetUpgradeProcessFailed, 0x20000008, "getUpgradeProcessfailed", "Getting upgrade process failed.")  \
    XX(kNetworkError, 0x20000009, "networkError", "Network error.")                                         \
    XX(kConfigOperating, 0x2000000a, "configOperating", "config Operating.")                                \
    XX(kCertificateExist, 0x2000000b, "certificateExist", "certificate Exist.")                             \
    XX(kDeviceError, 0x30000001, "deviceError", "Device hardware error.")                                   \
    XX(kNotSupport, 0x40000001, "notSupport", "Not supported.")                                             \
    XX(kLowPrivilege, 0x40000002, "lowPrivilege", "No permission.")                                         \
    XX(kInvalidOperation, 0x40000006, "invalidOperation", "Invalid operation.")                             \
    XX(kInvalidContent, 0x4000000a, "invalidContent", "Invalid message content.")                           \
    XX(kUnknownErrorCode, 0x4000111d, "unKnownErrorCode", "Unknown error code.")                            \
    XX(kResourceNodeInfoFailed, 0x40001176, "gettingResourceNodeInformationFailed",                          \
       "Getting resource node information failed.")                                                         \
    XX(kArmingFailed, 0x40008000, "armingFailed", "Arming failed.")                                         \
    XX(kDisarmingFailed, 0x40008001, "disarmingFailed", "Disarming failed.")                                \
    XX(kFindMeProcess, 0x40008052, "findMeProcess", "Detecting findme...")                                  \
    XX(kSystemIsArmed, 0x4000a2fa, "systemIsArmed", "System is armed.")                                     \
    XX(kSilencingAlarmFailed, 0x4000a2fd, "silencingAlarmFailed", "Silencing alarm failed.")                \
    XX(kDetectorInFault, 0x4000a2fe, "theDetectorIsInFaultStatus", "The detector is in fault status.")      \
    XX(kAreaDisabled, 0x4000a2ff, "theAreaIsDisabled", "The area is disabled.")                             \
    XX(kDetectorInTestMode, 0x4000a301, "theDetectorIsInTheTestMode", "The detector is in the test mode.")  \
    XX(kDeviceAlarming, 0x4000a303, "theDeviceIsAlarming", "The device is alarming.")                       \
    XX(kDetectorNameExists, 0x4000a306, "theDetectorNameAlreadyExists", "The detector name already exists.") \
    XX(kAreaNameExists, 0x4000a307, "theAreaNameAlreadyExists", "The area name already exists.")            \
    XX(kPeripheralNameExists, 0x4000a308, "thePeripheralNameAlreadyExists",                                  \
       "The peripheral name already exists.")                                                                \
    XX(kNoOperationWhileArming, 0x4000a36f, "noOperationAllowedDuringArming",                                \
       "No operation allowed during arming.")                                                                \
    XX(kBadXmlFormat, 0x50000001, "badXmlFormat", "Wrong XML format.")                                      \
    XX(kBadJsonFormat, 0x50000002, "badJsonFormat", "Invalid JSON format.")                                 \
    XX(kBadUrlFormat, 0x50000003, "badURLFormat", "Invalid URL format.")                                    \
    XX(kBadParameters, 0x60000001, "badParameters", "Incorrect parameter.")                                 \
    XX(kRequestMemoryNull, 0x6000003f, "requestMemoryNULL", "No memory is requested.")                      \
    XX(kRebootRequired, 0x70000001, "rebootRequired", "Reboot device to take effect.")                      \
    XX(kAutoReboot, 0x70000002, "autoReboot", "autoReboot")

// Results without a status document: XX(name, code). A host asking the device API gets
// "invalidOperation" for them.
#define VEXA_RESULT_MAP(XX)                                                   \
    XX(kSuccess, 0x00000000)     /* plug-in frame and interface entries */    \
    XX(kWaitTimeout, 258)        /* no answer came in time */                 \
    XX(kBadHandle, 0x82000005)   /* null handle or missing interface */       \
    XX(kNoInterface, 0xFFFFFFFE) /* interface name not registered */          \
    XX(kFailed, 0xFFFFFFFF)      /* wrong state, or a request that failed */

namespace vexa {
namespace status {
#define VEXA_STATUS_CONSTANT(name, code, ...) inline constexpr uint32_t name = code;
VEXA_STATUS_MAP(VEXA_STATUS_CONSTANT)
VEXA_RESULT_MAP(VEXA_STATUS_CONSTANT)
#undef VEXA_STATUS_CONSTANT
}  // namespace status
}  // namespace vexa

#endif
