#include "alarm/ZornaAlarm.h"

#include <cstdio>
#include <cstring>

#include "alarm/AlarmLog.h"
#include "alarm/EventContent.h"
#include "common/Log.h"
#include "common/TimeConvert.h"
#include "common/XmlBase.h"
#include "common/XmlCursor.h"

namespace {

const char* const F = "CAlarmMsgMgr::ProcFERROAlarmReq";

struct AlarmParams {
    std::string type;
    std::string action;
    std::string timeZoneIdx;
    std::string time;
    std::string videoChannel;
    std::string alarmInChannel;
    std::string diskNumber;
    std::string retransFlag;
};

std::string read(CXmlBase& xml, const char* name) {
    return xml.findSiblingElement(name) ? xml.elementText() : std::string();
}

// Fills the time block and the time text together: both, or (when either cannot be had)
// neither, so no event carries a time in one field and not the other.
void fillTimes(const AlarmSource& source, const AlarmParams& p, AlarmEventInfo& info) {
    const std::string& deviceId = source.deviceId;
    int idx = 0;
    if (!vexa::zornaTimeZoneIdx(p.timeZoneIdx, idx)) {
        LOG_DEV_GATED(vexa::alarmGateKey(&source), 4, F, "[deviceID=%s]TimeZoneIdx exception: %s!, alarm sent without time",
                      vexa::logText(deviceId).c_str(), vexa::logText(p.timeZoneIdx).c_str());
        return;
    }
    int32_t block[10] = {0};
    std::string jsonTime;
    if (ConvertAldonTimeToDevTime(p.time, idx ? std::to_string(idx) : std::string(), block) != 0 ||
        ConvertAldonTimeToJsonTime(p.time, idx, jsonTime) != 0)
        return;
    memcpy(info.struTime, block, sizeof info.struTime);
    vexa::copyTextField(info.szTime, 32, jsonTime);  // at most 31 characters
}

}  // namespace

int ProcFERROAlarmReq(const CZornaMessage& message, const std::string& xml, const AlarmSource* source,
                      AlarmEvent& event) {
    const std::string& deviceId = message.DeviceID;
    CXmlBase doc;
    if (!doc.load(xml) || !doc.findElement(doc.document().RootElement()->ValueStr()) || !doc.enterElement() ||
        !doc.findSiblingElement("Params")) {
        LOG_DEV_GATED(vexa::alarmGateKey(source), 5, F, "device is [%s],parse alarm data fail!",
                      vexa::logText(deviceId).c_str());
        return -1;
    }
    doc.enterElement();
    AlarmParams p;
    p.type = read(doc, "Type");
    p.action = read(doc, "Action");
    p.timeZoneIdx = read(doc, "TimeZoneIdx");
    p.time = read(doc, "Time");
    p.videoChannel = read(doc, "VideoChannel");
    p.alarmInChannel = read(doc, "AlarmInChannel");
    p.diskNumber = read(doc, "DiskNumber");
    p.retransFlag = read(doc, "RetransFlag");

    if (!source) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnknownDevice, 4, F, "GetDeviceImpl fail, DevID:%s", vexa::logText(deviceId).c_str());
        return -1;
    }

    AlarmEventInfo& info = event.info;
    memset(&info, 0, sizeof info);
    info.dwSize = sizeof info;
    info.dwCategory = 30;
    // A time that cannot be converted leaves its fields empty; the alarm itself still counts.
    fillTimes(*source, p, info);
    info.dwActive = p.action == "STOP" ? 0 : 1;
    vexa::copyTextField(info.szDeviceID, sizeof info.szDeviceID, deviceId);
    vexa::copyTextField(info.szSerialNo, sizeof info.szSerialNo, source->serialNo);
    info.iActivePostCount = 1;

    const int32_t type = vexa::decimalValue(p.type);
    const int32_t disk = vexa::decimalValue(p.diskNumber);
    const int32_t video = vexa::decimalValue(p.videoChannel);
    const int32_t input = vexa::decimalValue(p.alarmInChannel);
    switch (type) {
        case 0:
            info.dwEventCode = 0x10202;
            info.iChannel = 1;
            break;
        case 1:
            info.dwEventCode = 0x10206;
            info.iChannel = 1;
            break;
        case 5:
            info.dwEventCode = 0x20101;
            info.iChannel = video;
            break;
        case 6:
            info.dwEventCode = 0x90001;
            info.iChannel = 1;
            // A member fragment with its trailing comma: the host splices it into its own document.
            snprintf(info.szContent, sizeof info.szContent, "\"inputIOPortID\":%d,", input);
            break;
        case 7:
            info.dwEventCode = 0x20102;
            info.iChannel = video;
            break;
        case 8:
            info.dwEventCode = 0x20103;
            info.iChannel = video;
            break;
        default:
            return 0;
    }
    event.ready = true;
    const std::string idText = vexa::logText(deviceId);
    const char* id = idText.c_str();
    switch (type) {
        case 0:
            event.setNote(F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_DEV_HDD_FULL, %s, disk no is %d\n", id, disk);
            break;
        case 1:
            event.setNote(F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_DEV_HDD_ERROR, %s, %d\n", id, disk);
            break;
        case 5:
            event.setNote(F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_LOST, %s\n", id);
            break;
        case 6:
            event.setNote(F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_IO_IN, %s, %d\n", id, input);
            break;
        case 7:
            event.setNote(F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_BLOCK, %s, %d\n", id, video);
            break;
        default:
            event.setNote(F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_MOTION, %s, %d\n", id, video);
            break;
    }
    return 0;
}
