#include "alarm/AlarmMsgMgr.h"

#include <cstring>
#include <exception>
#include <memory>

#include "alarm/AlarmEvent.h"
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
#include "common/ZornaMessage.h"

namespace {

const char* const F = "CAlarmMsgMgr::processAlarmTaskThread";

// The one place that looks devices up for the alarm side. The registry hands out a copied shared
// reference, so a device removed meanwhile lives until delivery.
std::shared_ptr<CVexaDevice> registered(const std::string& deviceId) {
    return CVexaDeviceMgr::instance()->findDevice(deviceId);
}

// The device an alarm names, looked up by its full identifier, with the facts converters read.
struct Sender {
    std::shared_ptr<CVexaDevice> dev;
    AlarmSource facts;

    explicit Sender(const std::string& deviceId) : dev(registered(deviceId)) {
        if (!dev) return;
        facts.deviceId = deviceId;
        facts.serialNo = dev->serialNo();
        facts.videoReview = dev->videoReviewEnabled();
    }
    const AlarmSource* source() const { return dev ? &facts : nullptr; }

    // The one place events reach the host; the converter's note follows the hand-over.
    void deliver(AlarmEvent& event) const {
        if (!dev || !event.ready) return;
        dev->sendEventMsg(event.info.dwEventCode, 0, 0, &event.info);
        if (!event.note.empty()) LOG_DEV(2, event.noteFunc, "%s", event.note.c_str());
    }
};

// An unknown device drops a device-API alarm silently.
void deliverOvix(AlarmEvent& event, const std::string& deviceId) {
    const Sender sender(deviceId);
    if (!sender.dev) return;
    if (ProcOVIXAlarmReq(event.info, deviceId, sender.source()) != 0) {
        LOG_DEV(4, F, "ProcAldon5OVIXAlarm fail.");
        return;
    }
    event.ready = true;
    sender.deliver(event);
}

// The worker's one event record, reset per alarm: a fresh record of this size per alarm costs
// more than the conversion of a small one.
AlarmEvent& freshEvent() {
    thread_local AlarmEvent event;
    event.reset();
    return event;
}

// A device-API XML alarm names its root element; a text without that name cannot be one, and
// is not parsed a second time to find that out.
bool mayBeOvixXml(const std::string& text) {
    static const char kRoot[] = "EventNotificationAlert";
    return text.find(kRoot, 0, sizeof kRoot - 1) != std::string::npos;
}

void processXml(const std::string& text, CXmlCursor& cursor) {
    AlarmEvent& event = freshEvent();
    if (mayBeOvixXml(text)) {
        CXmlBase xml;
        xml.load(text);
        std::string deviceId;
        if (isAldon5OvixAlarmXml(xml, event.info, &deviceId)) {
            deliverOvix(event, deviceId);
            return;
        }
    }
    CZornaMessage message;
    if (!message.parseAlarm(cursor)) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnclassified, 5, F, "Msg is not OVIXAlarm or ZORNAMessage.[%s]",
                      vexa::logText(text).c_str());
        return;
    }
    const bool cid = message.Command == "CIDREPORT";
    if (!cid && message.Command != "ALARM") return;
    const Sender sender(message.DeviceID);
    const int result = cid ? procFERROCidReportReq(message, cursor, sender.source(), event)
                           : ProcFERROAlarmReq(message, text, sender.source(), event);
    if (result != 0) {
        LOG_DEV_GATED(vexa::alarmGateKey(sender.source()), 5, F, "%s fail.",
                      cid ? "procFERROCidReportReq" : "ProcFERROAlarmReq");
        return;
    }
    sender.deliver(event);
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
    AlarmEvent& event = freshEvent();
    std::string ovixDeviceId;
    if (isAldon5OvixAlarmJson(root, event.info, &ovixDeviceId)) {
        deliverOvix(event, ovixDeviceId);
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
        if (RunLog_Enabled(2))
            LOG_DEV(2, F, "[deviceID=%s,alarm=%s]procCidAlarmJson.", vexa::logText(deviceID).c_str(),
                    vexa::logText(alarm).c_str());
        const Sender sender(deviceID);
        procCidAlarmJson(alarm, deviceID, sender.source(), event);
        sender.deliver(event);
    }
}

}  // namespace

std::string vexa::alarmGateKey(const std::string& deviceId) {
    return !deviceId.empty() && registered(deviceId) ? "alarm:" + deviceId : kAlarmKeyUnknownDevice;
}

void CAlarmMsgMgr::setClock(const vexa::Clock* clock) {
    CMsgWorker::setClock(clock);
    vexa::alarmLogGate().setClock(clock);
}

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
