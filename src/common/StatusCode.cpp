#include "common/StatusCode.h"

#include <map>

#include "common/JsonUtil.h"

namespace {

struct StatusClass {
    const char* text;
    uint32_t http;
};

// Indexed by class number; 0 is not a class.
const StatusClass kClasses[8] = {
    {nullptr, 0},
    {"OK", 200},
    {"Device Busy", 503},
    {"Device Error", 500},
    {"Invalid Operation", 403},
    {"Invalid Format", 400},
    {"Content Error", 400},
    {"Reboot Required", 200},
};

struct StatusEntry {
    uint32_t code;
    const char* key;
    const char* msg;  // null: the key itself
};

// Only codes that are actually known; keys without a known code have no entry.
const StatusEntry kEntries[] = {
    {0x00000001, "ok", "ok"},
    {0x10000002, "riskPassword", "Risky password."},
    {0x20000001, "noMemory", "Insufficient memory."},
    {0x20000002, "serviceUnavailable", "service unavailable."},
    {0x20000003, "upgrading", "Upgrading."},
    {0x20000004, "deviceBusy", "Device busy or no response."},
    {0x20000005, "reConnectIpc", "Reconnect the video server."},
    {0x20000006, "transferUpgradePackageFailed", "Transferring upgrade package failed."},
    {0x20000007, "startUpgradeFailed", "Starting upgrade failed."},
    {0x20000008, "getUpgradeProcessfailed", "Getting upgrade process failed."},
    {0x20000009, "networkError", "Network error."},
    {0x2000000a, "configOperating", "config Operating."},
    {0x2000000b, "certificateExist", "certificate Exist."},
    {0x30000001, "deviceError", "Device hardware error."},
    {0x40000001, "notSupport", "Not supported."},
    {0x40000002, "lowPrivilege", "No permission."},
    {0x40000006, "invalidOperation", "Invalid operation."},
    {0x4000000a, "invalidContent", "Invalid message content."},
    {0x4000111d, "unKnownErrorCode", "Unknown error code."},
    {0x40001176, "gettingResourceNodeInformationFailed", "Getting resource node information failed."},
    {0x40008000, "armingFailed", "Arming failed."},
    {0x40008001, "disarmingFailed", "Disarming failed."},
    {0x40008052, "findMeProcess", "Detecting findme..."},
    {0x4000a2fa, "systemIsArmed", "System is armed."},
    {0x4000a2fd, "silencingAlarmFailed", "Silencing alarm failed."},
    {0x4000a2fe, "theDetectorIsInFaultStatus", "The detector is in fault status."},
    {0x4000a2ff, "theAreaIsDisabled", "The area is disabled."},
    {0x4000a301, "theDetectorIsInTheTestMode", "The detector is in the test mode."},
    {0x4000a303, "theDeviceIsAlarming", "The device is alarming."},
    {0x4000a306, "theDetectorNameAlreadyExists", "The detector name already exists."},
    {0x4000a307, "theAreaNameAlreadyExists", "The area name already exists."},
    {0x4000a308, "thePeripheralNameAlreadyExists", "The peripheral name already exists."},
    {0x4000a36f, "noOperationAllowedDuringArming", "No operation allowed during arming."},
    {0x50000001, "badXmlFormat", "Wrong XML format."},
    {0x50000002, "badJsonFormat", "Invalid JSON format."},
    {0x50000003, "badURLFormat", "Invalid URL format."},
    {0x60000001, "badParameters", "Incorrect parameter."},
    {0x6000003f, "requestMemoryNULL", "No memory is requested."},
    {0x70000001, "rebootRequired", "Reboot device to take effect."},
    {0x70000002, "autoReboot", nullptr},
};

struct StatusTable {
    // One ordered map per class; a later entry with the same code replaces an earlier one.
    std::map<uint32_t, const StatusEntry*> byClass[8];

    StatusTable() {
        for (const StatusEntry& e : kEntries) byClass[classOf(e.code)][e.code] = &e;
    }

    static uint32_t classOf(uint32_t code) { return code <= 1 ? 1 : code >> 28; }

    const StatusEntry* find(uint32_t code, uint32_t& cls) const {
        cls = classOf(code);
        if (cls < 1 || cls > 7) return nullptr;
        auto it = byClass[cls].find(code);
        return it == byClass[cls].end() ? nullptr : it->second;
    }
};

// Built once on first use; the runtime serialises concurrent first calls.
const StatusTable& table() {
    static const StatusTable t;
    return t;
}

}  // namespace

bool buildStatusDocument(uint32_t errorCode, Json::Value& doc, uint32_t& httpStatus) {
    uint32_t cls = 0;
    const StatusEntry* e = table().find(errorCode, cls);
    if (!e) return false;
    if (!doc.isObject()) doc = Json::Value(Json::objectValue);
    doc["statusCode"] = Json::UInt(cls);
    doc["statusString"] = kClasses[cls].text;
    doc["subStatusCode"] = e->key;
    doc["errorCode"] = Json::UInt(errorCode);
    doc["errorMsg"] = e->msg ? e->msg : e->key;
    httpStatus = kClasses[cls].http;
    return true;
}

std::string statusDocumentText(uint32_t errorCode) {
    Json::Value doc(Json::objectValue);
    uint32_t http = 0;
    return buildStatusDocument(errorCode, doc, http) ? vexa::writeJson(doc) : std::string();
}

const char* statusSubKey(uint32_t errorCode) {
    uint32_t cls = 0;
    const StatusEntry* e = table().find(errorCode, cls);
    return e ? e->key : nullptr;
}
