// Realistic alarm documents of every form a device sends, for tests and the simulator's alarm
// rate mode. Every builder is a pure function of its parameters; texts carry device-supplied
// values escaped for their format. With the default sizes every text stays under 4096 bytes
// (the gateway's limit for one alarm).
#ifndef DEVSIM_ALARM_TEXTS_H
#define DEVSIM_ALARM_TEXTS_H

#include <cstdint>
#include <string>
#include <vector>

namespace devsim {

constexpr size_t kMaxAlarmText = 4096;

enum class AlarmForm {
    ApiXml,          // device-API "EventNotificationAlert" XML
    ApiJson,         // device-API JSON event
    ZornaAlarm,      // ZORNA ALARM request
    ZornaCidReport,  // ZORNA CIDREPORT request
    ModelCid,        // model-command Contact ID alarm
};
const char* formName(AlarmForm f);

// How a text reaches the gateway.
struct AlarmRoute {
    // false: a plain "alarm" frame on the alarm port with alarmType/dataType;
    // true: a "message" frame on the command connection with every member below.
    bool commandMessage = false;
    int alarmType = 2;
    int dataType = 1;
    int messageType = 0;
    std::string domain;
    std::string identifier;
};

struct AlarmText {
    AlarmForm form = AlarmForm::ApiXml;
    AlarmRoute route;
    std::string text;
};

// ---- time texts (computed from a UTC instant, never from the machine's zone) ----

// "YYYY-MM-DDThh:mm:ss+hh:mm": the instant as wall clock in a zone `offsetMinutes` east of UTC.
std::string apiTime(int64_t utcSeconds, int offsetMinutes = 480);
// "YYYY-MM-DD hh:mm:ss": the same wall clock without the zone.
std::string zornaTime(int64_t utcSeconds, int offsetMinutes = 480);
// 2024-05-06 07:08:09 +08:00, the default instant.
constexpr int64_t kDefaultAlarmTime = 1714950489;
// Zone index of +08:00 in the gateway's zone table.
constexpr int kZoneIdxPlus8 = 28;

// ---- device-API alarms ----

// Event types with a device-API payload of their own; any other type gets only the common fields.
//   IO: inputIOPortID            VMD: detectionPicturesNumber
//   linedetection, fielddetection, regionEntrance, regionExiting: DetectionRegionList with the
//     region's coordinates and a visibleLightURL picture
//   fireDetection: DetectionRegionList with FireDetection, visibleLightURL, thermalURL
//   TMPA, TMA: DetectionRegionList with the thermometry rule, visibleLightURL, thermalURL
const std::vector<std::string>& apiEventTypes();

struct ApiAlarm {
    std::string deviceId = "dev1";
    int channel = 1;
    std::string channelName;  // empty: "Camera 01" style from the channel
    std::string eventType = "VMD";
    std::string state = "active";  // "active" or "inactive"
    std::string dateTime;          // empty: apiTime(time)
    int64_t time = kDefaultAlarmTime;
    int activePostCount = 1;
    std::string description;  // empty: a description of the type
    int inputPort = 1;        // IO
    int regionId = 1;         // region-based types
    std::string pictureUrl;   // empty: a generated picture URL
};
std::string apiAlarmXml(const ApiAlarm& a);
std::string apiAlarmJson(const ApiAlarm& a);

// ---- ZORNA ALARM ----

// Types the gateway converts: 0 disk full, 1 disk error, 5 video lost, 6 alarm input, 7 video
// blocked; 2, 3 and 4 exist but produce no event.
struct ZornaAlarm {
    std::string deviceId = "dev1";
    int sequence = 1;
    int type = 6;
    std::string action = "START";  // "STOP" ends the alarm
    int timeZoneIdx = kZoneIdxPlus8;
    std::string time;  // empty: zornaTime(utcTime)
    int64_t utcTime = kDefaultAlarmTime;
    int videoChannel = 1;
    int alarmInChannel = 1;
    int diskNumber = 1;
    int retransFlag = 0;
};
std::string zornaAlarm(const ZornaAlarm& a);

// ---- Contact ID ----

struct CidClip {
    std::string url;
    std::string cameraPosition;  // "left" / "right"
};

struct CidReport {
    std::string deviceId = "dev1";
    int sequence = 1;
    int cidCode = 1130;  // qualifier 1, event 130 (burglary)
    int cidType = 1;
    std::string describe;  // empty: a description of the code
    int subSys = 1;
    int zone = 3;
    std::string zoneName = "Front door";
    int timeZoneIdx = kZoneIdxPlus8;
    int64_t utcTime = kDefaultAlarmTime;
    std::string uuid;  // empty: derived from device, sequence and time
    int deviceNo = 1;
    bool intercom = false;
    std::string videoUrl;  // the "Recheck" video; empty: none
    std::vector<CidClip> clips;
    std::vector<CidClip> pictures;
    // Optional members, written only when not empty.
    std::string temperature, longitude, latitude;
};
// ZORNA CIDREPORT request.
std::string zornaCidReport(const CidReport& r);

struct ModelCidAlarm {
    std::string deviceId = "dev1";
    int code = 1130;
    int zone = 3;
    int subSys = 1;
    std::string moduleName = "Front door";
    std::string user = "admin";
    int userId = 1;
    int deviceNo = 1;
    int keypad = 0;
    int64_t utcTime = kDefaultAlarmTime;
    int offsetMinutes = 480;
    std::string uuid;  // empty: derived
    std::vector<CidClip> pictures;
    std::vector<CidClip> videos;
    std::string temperature;  // "value" member when not empty
    bool eventMessageMgr = false;  // domain "EventMessageMgr"/"CIDEvent" instead of "CIDEventMgr"
};
// The "alarm" JSON text ("basic" and "payload").
std::string modelCidAlarmText(const ModelCidAlarm& a);
// The text with its message-frame route (messageType 2, alarmType 1, dataType 1).
AlarmText modelCidAlarm(const ModelCidAlarm& a);

// ---- mixed load ----

// Alarm number i of a repeating cycle over every form, event type, state and route, for device
// `deviceId`; times advance one second per alarm from kDefaultAlarmTime.
AlarmText mixedAlarm(uint64_t i, const std::string& deviceId = "dev1");
// Length of that cycle: mixedAlarm(i) and mixedAlarm(i + mixedCycle()) differ only in time and
// sequence.
uint64_t mixedCycle();

// Text escaped for XML element content.
std::string xmlEscape(const std::string& s);

}  // namespace devsim

#endif
