#include "alarm/OperationMsgMgr.h"

#include "common/ConfigCenter.h"
#include "common/JsonUtil.h"
#include "device/VexaDeviceMgr.h"

void COperationMsgMgr::init() {
    const int32_t bound = CConfigCenter::instance()->getInt("OperationQueueSize");
    setBound(bound > 0 ? static_cast<size_t>(bound) : kDefaultBound);
    start("COperationMsgMgr::init", "reg process thread create failed");
}

COperationMsgMgr::Operation COperationMsgMgr::parse(const std::string& text) {
    Operation op;
    Json::Value root;
    if (!vexa::parseJson(text, root) || !root.isObject()) return op;
    std::string dataType;
    vexa::jsonString(root, "dataType", dataType);
    if (dataType == "REGISTER") {
        if (vexa::jsonInt32(root, "userId", op.userId)) op.kind = Operation::kRegister;
    } else if (dataType == "LOGOUT") {
        if (!vexa::jsonString(root, "deviceId", op.deviceId) || !vexa::jsonInt32(root, "offlineHint", op.offlineHint))
            return Operation();
        // Absent means no session (a refusal before login).
        if (!vexa::jsonInt32(root, "userHandle", op.userHandle)) op.userHandle = -1;
        op.kind = Operation::kLogout;
    }
    return op;
}

void COperationMsgMgr::handle(const std::string& text) {
    const Operation op = parse(text);
    if (op.kind == Operation::kRegister)
        CVexaDeviceMgr::instance()->deviceOn(op.userId);
    else if (op.kind == Operation::kLogout)
        CVexaDeviceMgr::instance()->procDeviceOff(op.deviceId, op.offlineHint, op.userHandle);
}
