#include "ZornaAlarm.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "EventContent.h"
#include "Log.h"
#include "TimeConvert.h"
#include "VexaDevice.h"
#include "VexaDeviceMgr.h"
#include "XmlBase.h"
#include "XmlCursor.h"

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

}  // namespace

int ProcFERROAlarmReq(const CZornaMessage& message, const std::string& xml) {
    const std::string& deviceId = message.DeviceID;
    CXmlBase doc;
    if (!doc.load(xml) || !doc.findElement(doc.document().RootElement()->ValueStr()) || !doc.enterElement() ||
        !doc.findSiblingElement("Params")) {
        LOG_DEV(5, F, "device is [%s],parse alarm data fail!", deviceId.c_str());
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

    const std::shared_ptr<CVexaDevice> dev = CVexaDeviceMgr::instance()->findDevice(deviceId);
    if (!dev) {
        LOG_DEV(4, F, "GetDeviceImpl fail, DevID:%s", deviceId.c_str());
        return -1;
    }

    AlarmEventInfo info;
    memset(&info, 0, sizeof info);
    info.dwSize = sizeof info;
    info.dwCategory = 30;
    // A time that cannot be converted leaves its fields empty; the alarm itself still counts.
    ConvertAldonTimeToDevTime(p.time, p.timeZoneIdx, info.struTime);
    std::string jsonTime;
    if (ConvertAldonTimeToJsonTime(p.time, vexa::decimalValue(p.timeZoneIdx), jsonTime) == 0)
        vexa::copyTextField(info.szTime, 32, jsonTime);
    info.dwActive = p.action == "STOP" ? 0 : 1;
    vexa::copyTextField(info.szDeviceID, sizeof info.szDeviceID, deviceId);
    vexa::copyTextField(info.szSerialNo, sizeof info.szSerialNo, dev->serialNo());
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
    dev->sendEventMsg(info.dwEventCode, 0, 0, &info);
    const char* id = deviceId.c_str();
    switch (type) {
        case 0:
            LOG_DEV(2, F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_DEV_HDD_FULL, %s, disk no is %d\n", id, disk);
            break;
        case 1:
            LOG_DEV(2, F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_DEV_HDD_ERROR, %s, %d\n", id, disk);
            break;
        case 5:
            LOG_DEV(2, F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_LOST, %s\n", id);
            break;
        case 6:
            LOG_DEV(2, F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_IO_IN, %s, %d\n", id, input);
            break;
        case 7:
            LOG_DEV(2, F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_BLOCK, %s, %d\n", id, video);
            break;
        default:
            LOG_DEV(2, F, "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_MOTION, %s, %d\n", id, video);
            break;
    }
    return 0;
}
