#include "alarm/AlarmMsgMgr.h"

#include <cstring>
#include <exception>
#include <memory>

#include "alarm/AlarmLog.h"
#include "common/ConfigCenter.h"
#include "alarm/ContactId.h"
#include "common/JsonUtil.h"
#include "common/Log.h"
#include "alarm/OvixAlarm.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "common/XmlBase.h"
#include "common/XmlCursor.h"
#include "alarm/ZornaAlarm.h"
#include "alarm/ZornaMessage.h"

namespace {

const char* const F = "CAlarmMsgMgr::processAlarmTaskThread";

// Looks the device up by the identifier the document carries, in full (the record's field may
// hold only a cut copy), and delivers; an unknown device drops the alarm silently. The registry
// hands out a copied shared reference, so a device removed meanwhile lives until delivery.
void deliverOvix(AlarmEventInfo& info, const std::string& deviceId) {
    const std::shared_ptr<CVexaDevice> dev = CVexaDeviceMgr::instance()->findDevice(deviceId);
    if (!dev) return;
    if (ProcOVIXAlarmReq(info, deviceId) != 0) LOG_DEV(4, F, "ProcAldon5OVIXAlarm fail.");
}

void processXml(const std::string& text, CXmlCursor& cursor) {
    auto info = std::make_unique<AlarmEventInfo>();  // value-initialised: zero-filled
    {
        CXmlBase xml;
        xml.load(text);
        std::string deviceId;
        if (isAldon5OvixAlarmXml(xml, *info, &deviceId)) {
            deliverOvix(*info, deviceId);
            return;
        }
    }
    CZornaMessage message;
    if (!message.parseAlarm(cursor)) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnclassified, 5, F, "Msg is not OVIXAlarm or ZORNAMessage.[%s]",
                      vexa::logText(text).c_str());
        return;
    }
    if (message.Command == "CIDREPORT") {
        if (procFERROCidReportReq(message, text) != 0)
            LOG_DEV_GATED(vexa::alarmGateKey(message.DeviceID), 5, F, "procFERROCidReportReq fail.");
    } else if (message.Command == "ALARM") {
        if (ProcFERROAlarmReq(message, text) != 0)
            LOG_DEV_GATED(vexa::alarmGateKey(message.DeviceID), 5, F, "ProcFERROAlarmReq fail.");
    }
}

// A text that begins with '{' is a JSON document whatever markup its strings hold.
bool looksLikeJson(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == '{';
}

bool isInt32(const Json::Value& obj, const char* name) {
    const Json::Value* v = vexa::jsonMember(obj, name);
    return v && v->isInt();
}

void processJson(const std::string& text) {
    Json::Value root;
    if (!vexa::parseJson(text, root)) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnclassified, 5, F, "parse xml failed,[%s]", vexa::logText(text).c_str());
        return;
    }
    auto info = std::make_unique<AlarmEventInfo>();  // value-initialised: zero-filled
    std::string ovixDeviceId;
    if (isAldon5OvixAlarmJson(root, *info, &ovixDeviceId)) {
        deliverOvix(*info, ovixDeviceId);
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
        LOG_DEV(2, F, "[deviceID=%s,alarm=%s]procCidAlarmJson.", vexa::logText(deviceID).c_str(),
                vexa::logText(alarm).c_str());
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
        if (looksLikeJson(text)) {
            processJson(text);
            return;
        }
        CXmlCursor cursor;
        if (cursor.setDocument(text) && cursor.parseResult().empty() && cursor.hasRoot())
            processXml(text, cursor);
        else
            processJson(text);
    } catch (const std::exception& e) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnclassified, 5, F, "conversion failed, alarm not sent: %s",
                      vexa::logText(e.what()).c_str());
    } catch (...) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnclassified, 5, F, "conversion failed, alarm not sent");
    }
}
