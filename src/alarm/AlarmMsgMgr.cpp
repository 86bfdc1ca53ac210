#include "AlarmMsgMgr.h"

#include <cstring>
#include <exception>
#include <memory>

#include "ConfigCenter.h"
#include "ContactId.h"
#include "JsonUtil.h"
#include "Log.h"
#include "OvixAlarm.h"
#include "VexaDevice.h"
#include "VexaDeviceMgr.h"
#include "XmlBase.h"
#include "XmlCursor.h"
#include "ZornaAlarm.h"
#include "ZornaMessage.h"

namespace {

const char* const F = "CAlarmMsgMgr::processAlarmTaskThread";

// Looks the device up (the registry hands out a copied shared reference, so a device removed
// meanwhile lives until delivery) and delivers; an unknown device drops the alarm silently.
void deliverOvix(AlarmEventInfo& info) {
    const std::string id(info.szDeviceID, strnlen(info.szDeviceID, sizeof info.szDeviceID));
    const std::shared_ptr<CVexaDevice> dev = CVexaDeviceMgr::instance()->findDevice(id);
    if (!dev) return;
    if (ProcOVIXAlarmReq(info) != 0) LOG_DEV(4, F, "ProcAldon5OVIXAlarm fail.");
}

void processXml(const std::string& text, CXmlCursor& cursor) {
    auto info = std::make_unique<AlarmEventInfo>();  // value-initialised: zero-filled
    {
        CXmlBase xml;
        xml.load(text);
        if (isAldon5OvixAlarmXml(xml, *info)) {
            deliverOvix(*info);
            return;
        }
    }
    CZornaMessage message;
    if (!message.parseAlarm(cursor)) {
        LOG_DEV(5, F, "Msg is not OVIXAlarm or ZORNAMessage.[%s]", text.c_str());
        return;
    }
    if (message.Command == "CIDREPORT") {
        if (procFERROCidReportReq(message, text) != 0) LOG_DEV(5, F, "procFERROCidReportReq fail.");
    } else if (message.Command == "ALARM") {
        if (ProcFERROAlarmReq(message, text) != 0) LOG_DEV(5, F, "ProcFERROAlarmReq fail.");
    }
}

bool isInt32(const Json::Value& obj, const char* name) {
    const Json::Value* v = vexa::jsonMember(obj, name);
    return v && v->isInt();
}

void processJson(const std::string& text) {
    Json::Value root;
    if (!vexa::parseJson(text, root)) {
        LOG_DEV(5, F, "parse xml failed,[%s]", text.c_str());
        return;
    }
    auto info = std::make_unique<AlarmEventInfo>();  // value-initialised: zero-filled
    if (isAldon5OvixAlarmJson(root, *info)) {
        deliverOvix(*info);
        return;
    }
    std::string deviceID, identifier, alarm, domain;
    if (!vexa::jsonString(root, "deviceID", deviceID) || !isInt32(root, "alarmType") ||
        !isInt32(root, "dataType") || !vexa::jsonString(root, "identifier", identifier) ||
        !vexa::jsonString(root, "alarm", alarm))
        return;
    const int alarmType = root["alarmType"].asInt();
    const int dataType = root["dataType"].asInt();
    vexa::jsonString(root, "domain", domain);
    if (alarmType != 1 || dataType != 1) return;
    if ((domain == "EventMessageMgr" && identifier == "CIDEvent") || domain == "CIDEventMgr") {
        LOG_DEV(2, F, "[deviceID=%s,alarm=%s]procCidAlarmJson.", deviceID.c_str(), alarm.c_str());
        procCidAlarmJson(alarm, deviceID);
    }
}

}  // namespace

void CAlarmMsgMgr::init() {
    const int32_t bound = CConfigCenter::instance()->getInt("AlarmQueueSize");
    setBound(bound > 0 ? static_cast<size_t>(bound) : kDefaultBound);
    start("CAlarmMsgMgr::init", "alarm process thread create failed");
}

void CAlarmMsgMgr::processAlarm(const std::string& text) {
    // Nothing thrown while converting one message may end the worker.
    try {
        CXmlCursor cursor;
        if (cursor.setDocument(text) && cursor.parseResult().empty() && cursor.hasRoot())
            processXml(text, cursor);
        else
            processJson(text);
    } catch (const std::exception& e) {
        LOG_DEV(5, F, "alarm dropped, conversion failed: %s", e.what());
    } catch (...) {
        LOG_DEV(5, F, "alarm dropped, conversion failed");
    }
}
