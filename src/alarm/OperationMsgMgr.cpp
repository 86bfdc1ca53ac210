#include "OperationMsgMgr.h"

#include "ConfigCenter.h"
#include "JsonUtil.h"
#include "VexaDeviceMgr.h"

void COperationMsgMgr::init() {
    const int32_t bound = CConfigCenter::instance()->getInt("OperationQueueSize");
    setBound(bound > 0 ? static_cast<size_t>(bound) : kDefaultBound);
    start("COperationMsgMgr::init", "reg process thread create failed");
}

std::string COperationMsgMgr::makeLogout(const std::string& deviceId, int32_t offlineHint, int32_t userHandle) {
    Json::Value v(Json::objectValue);
    v["dataType"] = "LOGOUT";
    v["deviceId"] = deviceId;
    v["offlineHint"] = offlineHint;
    v["userHandle"] = userHandle;
    return vexa::writeJson(v);
}

std::string COperationMsgMgr::makeRegister(int32_t userHandle) {
    Json::Value v(Json::objectValue);
    v["dataType"] = "REGISTER";
    v["userId"] = userHandle;
    return vexa::writeJson(v);
}

void COperationMsgMgr::handle(const std::string& text) {
    Json::Value root;
    if (!vexa::parseJson(text, root) || !root.isObject()) return;
    std::string dataType;
    vexa::jsonString(root, "dataType", dataType);
    if (dataType == "REGISTER") {
        int32_t userId = 0;
        if (vexa::jsonInt32(root, "userId", userId)) CVexaDeviceMgr::instance()->deviceOn(userId);
    } else if (dataType == "LOGOUT") {
        std::string deviceId;
        int32_t hint = 0;
        if (!vexa::jsonString(root, "deviceId", deviceId) || !vexa::jsonInt32(root, "offlineHint", hint)) return;
        // The session the message is about; absent means no session (a refusal before login).
        int32_t userHandle = -1;
        vexa::jsonInt32(root, "userHandle", userHandle);
        CVexaDeviceMgr::instance()->procDeviceOff(deviceId, hint, userHandle);
    }
}
