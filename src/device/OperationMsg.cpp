#include "device/OperationMsg.h"

#include "common/JsonUtil.h"

namespace vexa {

std::string makeLogoutMsg(const std::string& deviceId, int32_t offlineHint, int32_t userHandle) {
    Json::Value v(Json::objectValue);
    v["dataType"] = "LOGOUT";
    v["deviceId"] = deviceId;
    v["offlineHint"] = offlineHint;
    v["userHandle"] = userHandle;
    return writeJson(v);
}

std::string makeRegisterMsg(int32_t userHandle) {
    Json::Value v(Json::objectValue);
    v["dataType"] = "REGISTER";
    v["userId"] = userHandle;
    return writeJson(v);
}

}  // namespace vexa
