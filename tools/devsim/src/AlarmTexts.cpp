#include "devsim/AlarmTexts.h"

#include <json/json.h>

#include <cstdio>
#include <memory>
#include <sstream>

namespace devsim {

namespace {

std::string writeCompact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    std::unique_ptr<Json::StreamWriter> w(b.newStreamWriter());
    std::ostringstream os;
    w->write(v, &os);
    return os.str();
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

std::string wallClock(int64_t utcSeconds, int offsetMinutes, char sep) {
    const int64_t t = utcSeconds + static_cast<int64_t>(offsetMinutes) * 60;
    int64_t days = t / 86400;
    int64_t secs = t % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    int y, mo, d;
    civilFromDays(days, y, mo, d);
    char buf[40];
    snprintf(buf, sizeof buf, "%04d-%02d-%02d%c%02d:%02d:%02d", y, mo, d, sep, static_cast<int>(secs / 3600),
             static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
    return buf;
}

std::string el(const std::string& name, const std::string& text) {
    return "<" + name + ">" + xmlEscape(text) + "</" + name + ">";
}
std::string el(const std::string& name, int64_t n) { return el(name, std::to_string(n)); }

struct EventKind {
    const char* type;
    const char* description;
    enum Payload { None, Io, Vmd, Region, Fire, Thermo } payload;
};

const EventKind kEvents[] = {
    {"IO", "IO alarm", EventKind::Io},
    {"VMD", "Motion detection alarm", EventKind::Vmd},
    {"linedetection", "Line crossing alarm", EventKind::Region},
    {"fielddetection", "Intrusion detection alarm", EventKind::Region},
    {"regionEntrance", "Region entrance alarm", EventKind::Region},
    {"regionExiting", "Region exiting alarm", EventKind::Region},
    {"fireDetection", "Fire detection alarm", EventKind::Fire},
    {"TMPA", "Temperature measurement pre-alarm", EventKind::Thermo},
    {"TMA", "Temperature measurement alarm", EventKind::Thermo},
    {"videoloss", "Video loss alarm", EventKind::None},
    {"shelteralarm", "Video tampering alarm", EventKind::None},
    {"PIR", "PIR alarm", EventKind::None},
    {"rapidMove", "Rapid moving alarm", EventKind::Region},
    {"recordException", "Recording exception", EventKind::None},
    {"diskfull", "diskfull alarm", EventKind::None},
};

const EventKind* kindOf(const std::string& type) {
    for (const EventKind& k : kEvents)
        if (type == k.type) return &k;
    return nullptr;
}

std::string channelNameOf(const ApiAlarm& a) {
    if (!a.channelName.empty()) return a.channelName;
    char buf[32];
    snprintf(buf, sizeof buf, "Camera %02d", a.channel);
    return buf;
}

std::string pictureOf(const ApiAlarm& a, const char* kind) {
    if (!a.pictureUrl.empty() && std::string(kind) == "visible") return a.pictureUrl;
    return "http://10.20.1.15:80/picture/ch" + std::to_string(a.channel) + "/" + kind + "/" + std::to_string(a.time) +
           "_" + std::to_string(a.activePostCount) + ".jpg";
}

// A square region near the middle, shifted by the region number.
struct Point {
    int x, y;
};
std::vector<Point> regionOf(const ApiAlarm& a) {
    const int o = (a.regionId % 8) * 20;
    return {{200 + o, 200 + o}, {600 + o, 200 + o}, {600 + o, 600 + o}, {200 + o, 600 + o}};
}

std::string regionXml(const ApiAlarm& a, const EventKind& k) {
    std::string x = "<DetectionRegionList><DetectionRegionEntry>" + el("regionID", a.regionId);
    if (k.payload != EventKind::Fire) {
        x += "<RegionCoordinatesList>";
        for (const Point& p : regionOf(a))
            x += "<RegionCoordinates>" + el("positionX", p.x) + el("positionY", p.y) + "</RegionCoordinates>";
        x += "</RegionCoordinatesList>";
    }
    if (k.payload == EventKind::Fire) {
        x += "<FireDetection><FireRegion>" + el("x", 312) + el("y", 208) + el("width", 64) + el("height", 48) +
             "</FireRegion><HighestPoint>" + el("x", 340) + el("y", 230) + "</HighestPoint>" +
             el("temperatureUnit", "celsius") + el("fireMaxTemperature", 412) + el("targetDistance", 35) +
             "<AbsoluteHigh>" + el("elevation", 12) + el("azimuth", 1180) + el("absoluteZoom", 10) +
             "</AbsoluteHigh></FireDetection>";
    } else if (k.payload == EventKind::Thermo) {
        const std::string tag = k.type;
        x += "<" + tag + ">" + el("thermometryUnit", "celsius") + el("ruleTemperature", "60.0") +
             el("currTemperature", "63.4") + el("ruleCalibType", "area") + el("ruleType", "highestGreater");
        if (tag == "TMPA") x += el("alarmRuleTemperature", "55.0");
        x += "<MaximumTemperaturePoint>" + el("positionX", 410) + el("positionY", 377) +
             "</MaximumTemperaturePoint><RegionCoordinates>" + el("positionX", 410) + el("positionY", 377) +
             "</RegionCoordinates>" + el("presetNo", 1) + "</" + tag + ">";
    }
    return x + "</DetectionRegionEntry></DetectionRegionList>";
}

Json::Value regionJson(const ApiAlarm& a, const EventKind& k) {
    Json::Value entry(Json::objectValue);
    entry["regionID"] = std::to_string(a.regionId);
    if (k.payload == EventKind::Fire) {
        Json::Value f(Json::objectValue);
        f["FireRegion"]["x"] = 312;
        f["FireRegion"]["y"] = 208;
        f["FireRegion"]["width"] = 64;
        f["FireRegion"]["height"] = 48;
        f["HighestPoint"]["x"] = 340;
        f["HighestPoint"]["y"] = 230;
        f["temperatureUnit"] = "celsius";
        f["fireMaxTemperature"] = 412;
        f["targetDistance"] = 35;
        entry["FireDetection"] = f;
    } else {
        Json::Value list(Json::arrayValue);
        for (const Point& p : regionOf(a)) {
            Json::Value c(Json::objectValue);
            c["positionX"] = p.x;
            c["positionY"] = p.y;
            list.append(c);
        }
        entry["RegionCoordinatesList"] = list;
        if (k.payload == EventKind::Thermo) {
            Json::Value t(Json::objectValue);
            t["thermometryUnit"] = "celsius";
            t["ruleTemperature"] = 60.0;
            t["currTemperature"] = 63.4;
            t["ruleType"] = "highestGreater";
            if (std::string(k.type) == "TMPA") t["alarmRuleTemperature"] = 55.0;
            entry[k.type] = t;
        }
    }
    Json::Value list(Json::arrayValue);
    list.append(entry);
    return list;
}

std::string uuidOf(const std::string& deviceId, int sequence, int64_t t) {
    // Stable per alarm, looks like a version-4 identifier.
    uint64_t h = 1469598103934665603ull;
    for (char c : deviceId) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    h ^= static_cast<uint64_t>(sequence) * 0x9e3779b97f4a7c15ull;
    h ^= static_cast<uint64_t>(t) << 17;
    char buf[40];
    snprintf(buf, sizeof buf, "%08x-%04x-4%03x-a%03x-%012llx", static_cast<unsigned>(h >> 32),
             static_cast<unsigned>(h >> 16) & 0xffff, static_cast<unsigned>(h >> 4) & 0xfff,
             static_cast<unsigned>(h) & 0xfff, static_cast<unsigned long long>(h * 2654435761ull) & 0xffffffffffffull);
    return buf;
}

std::string cidDescription(int code) {
    static const struct {
        int event;
        const char* text;
    } kTexts[] = {{110, "Fire alarm"}, {130, "Burglary alarm"}, {301, "AC power loss"},
                  {401, "Arm/disarm by user"}, {570, "Zone bypass"}, {602, "Periodic test report"}};
    const int event = code % 1000;
    const bool restore = code / 1000 == 3;
    for (const auto& t : kTexts)
        if (t.event == event) return std::string(t.text) + (restore ? " restore" : "");
    return "Contact ID event " + std::to_string(code);
}

const char* const kZornaDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

std::string zornaHead(int sequence, const char* command) {
    return std::string(kZornaDecl) + "<ZORNAMessage>" + el("Version", "3.0") + el("Sequence", sequence) +
           el("CommandType", "REQUEST") + el("Command", command);
}

}  // namespace

const char* formName(AlarmForm f) {
    switch (f) {
        case AlarmForm::ApiXml: return "apiXml";
        case AlarmForm::ApiJson: return "apiJson";
        case AlarmForm::ZornaAlarm: return "zornaAlarm";
        case AlarmForm::ZornaCidReport: return "zornaCidReport";
        case AlarmForm::ModelCid: return "modelCid";
    }
    return "?";
}

std::string apiTime(int64_t utcSeconds, int offsetMinutes) {
    const int a = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char zone[8];
    snprintf(zone, sizeof zone, "%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', a / 60 % 100, a % 60);
    return wallClock(utcSeconds, offsetMinutes, 'T') + zone;
}

std::string zornaTime(int64_t utcSeconds, int offsetMinutes) { return wallClock(utcSeconds, offsetMinutes, ' '); }

std::string xmlEscape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

const std::vector<std::string>& apiEventTypes() {
    static const std::vector<std::string> types = [] {
        std::vector<std::string> v;
        for (const EventKind& k : kEvents) v.push_back(k.type);
        return v;
    }();
    return types;
}

std::string apiAlarmXml(const ApiAlarm& a) {
    const EventKind* k = kindOf(a.eventType);
    const std::string desc = !a.description.empty() ? a.description : k ? k->description : a.eventType + " alarm";
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<EventNotificationAlert version=\"2.0\">";
    x += el("ipAddress", "10.20.1.15") + el("portNo", 80) + el("protocol", "HTTP") +
         el("macAddress", "02:00:5e:10:01:9c") + el("channelID", a.channel) +
         el("dateTime", a.dateTime.empty() ? apiTime(a.time) : a.dateTime) +
         el("activePostCount", a.activePostCount) + el("eventType", a.eventType) + el("eventState", a.state) +
         el("eventDescription", desc) + el("deviceID", a.deviceId) + el("channelName", channelNameOf(a));
    if (k) {
        switch (k->payload) {
            case EventKind::Io: x += el("inputIOPortID", a.inputPort); break;
            case EventKind::Vmd: x += el("detectionPicturesNumber", 1); break;
            case EventKind::Region:
                x += regionXml(a, *k) + el("detectionPicturesNumber", 1) + el("visibleLightURL", pictureOf(a, "visible"));
                break;
            case EventKind::Fire:
            case EventKind::Thermo:
                x += regionXml(a, *k) + el("detectionPicturesNumber", 2) +
                     el("visibleLightURL", pictureOf(a, "visible")) + el("thermalURL", pictureOf(a, "thermal")) +
                     el("URLCertificationType", "digest");
                break;
            case EventKind::None: break;
        }
    }
    return x + "</EventNotificationAlert>";
}

std::string apiAlarmJson(const ApiAlarm& a) {
    const EventKind* k = kindOf(a.eventType);
    Json::Value v(Json::objectValue);
    v["ipAddress"] = "10.20.1.15";
    v["portNo"] = 80;
    v["protocol"] = "HTTP";
    v["macAddress"] = "02:00:5e:10:01:9c";
    v["channelID"] = a.channel;
    v["dateTime"] = a.dateTime.empty() ? apiTime(a.time) : a.dateTime;
    v["activePostCount"] = a.activePostCount;
    v["eventType"] = a.eventType;
    v["eventState"] = a.state;
    v["eventDescription"] = !a.description.empty() ? a.description : k ? k->description : a.eventType + " alarm";
    v["deviceID"] = a.deviceId;
    v["channelName"] = channelNameOf(a);
    if (k) {
        switch (k->payload) {
            case EventKind::Io: v["inputIOPortID"] = a.inputPort; break;
            case EventKind::Vmd: v["detectionPicturesNumber"] = 1; break;
            case EventKind::Region:
                v["DetectionRegionList"] = regionJson(a, *k);
                v["detectionPicturesNumber"] = 1;
                v["visibleLightURL"] = pictureOf(a, "visible");
                break;
            case EventKind::Fire:
            case EventKind::Thermo:
                v["DetectionRegionList"] = regionJson(a, *k);
                v["detectionPicturesNumber"] = 2;
                v["visibleLightURL"] = pictureOf(a, "visible");
                v["thermalURL"] = pictureOf(a, "thermal");
                v["URLCertificationType"] = "digest";
                break;
            case EventKind::None: break;
        }
    }
    return writeCompact(v);
}

std::string zornaAlarm(const ZornaAlarm& a) {
    return zornaHead(a.sequence, "ALARM") + "<Params>" + el("DeviceID", a.deviceId) + el("Type", a.type) +
           el("Action", a.action) + el("TimeZoneIdx", a.timeZoneIdx) +
           el("Time", a.time.empty() ? zornaTime(a.utcTime) : a.time) + el("VideoChannel", a.videoChannel) +
           el("AlarmInChannel", a.alarmInChannel) + el("DiskNumber", a.diskNumber) +
           el("RetransFlag", a.retransFlag) + el("PassNumber", 0) + el("Remark", "") + "</Params></ZORNAMessage>";
}

std::string zornaCidReport(const CidReport& r) {
    const std::string when = zornaTime(r.utcTime);
    std::string x = zornaHead(r.sequence, "CIDREPORT") + "<Params>" + el("DeviceID", r.deviceId) +
                    el("CIDCode", r.cidCode) + el("CIDDescribe", r.describe.empty() ? cidDescription(r.cidCode) : r.describe) + el("CIDType", r.cidType) +
                    el("SubSys", r.subSys) + el("TimeZoneIdx", r.timeZoneIdx) + el("TriggerTime", when) +
                    el("DSTTriggerTime", when) + el("UploadTime", zornaTime(r.utcTime + 1)) +
                    el("CIDParam", "1," + std::to_string(r.subSys) + "," + std::to_string(r.zone) + "," +
                                       std::to_string(r.deviceNo)) +
                    el("UUID", r.uuid.empty() ? uuidOf(r.deviceId, r.sequence, r.utcTime) : r.uuid) +
                    el("zoneName", r.zoneName) + el("deviceNo", r.deviceNo) +
                    el("intercomTriggerEnabled", r.intercom ? "true" : "false");
    if (!r.temperature.empty()) x += el("temperatureValue", r.temperature);
    if (!r.longitude.empty()) x += el("Longitude", r.longitude);
    if (!r.latitude.empty()) x += el("Latitude", r.latitude);
    if (!r.pictures.empty()) {
        x += "<PictureInfoList>";
        for (const CidClip& p : r.pictures)
            x += "<PictureInfo>" + el("pictureURL", p.url) + el("cameraPosition", p.cameraPosition) + "</PictureInfo>";
        x += "</PictureInfoList>";
    }
    if (!r.clips.empty()) {
        x += "<videoInfoList>";
        for (const CidClip& c : r.clips)
            x += "<videoInfo>" + el("videoURL", c.url) + el("cameraPosition", c.cameraPosition) + "</videoInfo>";
        x += "</videoInfoList>";
    }
    if (!r.videoUrl.empty()) x += "<Recheck>" + el("VideoURL", r.videoUrl) + "</Recheck>";
    return x + "</Params></ZORNAMessage>";
}

std::string modelCidAlarmText(const ModelCidAlarm& a) {
    Json::Value root(Json::objectValue);
    root["basic"]["dateTime"] = apiTime(a.utcTime, a.offsetMinutes);
    root["basic"]["UUID"] = a.uuid.empty() ? uuidOf(a.deviceId, a.code, a.utcTime) : a.uuid;
    Json::Value& p = root["payload"];
    p["code"] = a.code;
    p["zoneID"] = a.zone;
    p["subSystemID"] = a.subSys;
    p["subs"] = Json::Value(Json::arrayValue);
    p["subs"].append(a.subSys);
    p["moduleType"] = "wiredZone";
    p["moduleName"] = a.moduleName;
    p["deviceNo"] = a.deviceNo;
    p["keypad"] = a.keypad;
    p["deviceIDPriority"] = 0;
    p["userID"] = a.userId;
    p["user"] = a.user;
    p["videoID"] = a.videos.empty() ? 0 : 1;
    p["deviceType"] = "alarmHost";
    p["detector"] = "PIR";
    p["device"] = "zone";
    p["isTalk"] = false;
    if (!a.temperature.empty()) p["value"] = a.temperature;
    p["isVideo"] = !a.videos.empty();
    Json::Value& media = p["media"];
    media["pictureInfoList"] = Json::Value(Json::arrayValue);
    for (const CidClip& c : a.pictures) {
        Json::Value e(Json::objectValue);
        e["filePathType"] = 1;
        e["filePath"] = c.url;
        e["cameraPosition"] = c.cameraPosition;
        media["pictureInfoList"].append(e);
    }
    media["videoInfoList"] = Json::Value(Json::arrayValue);
    for (const CidClip& c : a.videos) {
        Json::Value e(Json::objectValue);
        e["filePathType"] = 1;
        e["filePath"] = c.url;
        e["cameraPosition"] = c.cameraPosition;
        media["videoInfoList"].append(e);
    }
    return writeCompact(root);
}

AlarmText modelCidAlarm(const ModelCidAlarm& a) {
    AlarmText t;
    t.form = AlarmForm::ModelCid;
    t.route.commandMessage = true;
    t.route.messageType = 2;
    t.route.alarmType = 1;
    t.route.dataType = 1;
    t.route.domain = a.eventMessageMgr ? "EventMessageMgr" : "CIDEventMgr";
    t.route.identifier = a.eventMessageMgr ? "CIDEvent" : "CIDEventReport";
    t.text = modelCidAlarmText(a);
    return t;
}

namespace {

constexpr int kForms = 5;
// Every type here yields an event (types 2 to 4 would not), so a load can count them.
const int kZornaTypes[] = {6, 5, 7, 0, 1, 8};
const int kCidCodes[] = {1130, 3130, 1401, 3401, 1110, 1301, 1570, 1602};
const char* const kZoneNames[] = {"Front door", "Living room PIR", "Kitchen smoke", "Garage \"B\" & yard"};

uint64_t rounds() { return sizeof kEvents / sizeof kEvents[0]; }

}  // namespace

uint64_t mixedCycle() { return kForms * rounds(); }

AlarmText mixedAlarm(uint64_t i, const std::string& deviceId) {
    const uint64_t r = (i / kForms) % rounds();
    const int64_t when = kDefaultAlarmTime + static_cast<int64_t>(i % (1ull << 31));
    const int seq = static_cast<int>(i % 2147483647ull) + 1;
    const std::string clipBase = "/record/" + deviceId + "/" + std::to_string(when);
    AlarmText t;
    switch (static_cast<int>(i % kForms)) {
        case 0:
        case 1: {
            ApiAlarm a;
            a.deviceId = deviceId;
            a.time = when;
            const bool json = i % kForms == 1;
            a.eventType = kEvents[(r + (json ? 1 : 0)) % rounds()].type;
            a.channel = 1 + static_cast<int>(r % 4);
            a.state = (r % 3 == 2) != json ? "inactive" : "active";
            a.activePostCount = 1 + static_cast<int>(i / mixedCycle() % 5);
            a.inputPort = 1 + static_cast<int>(r % 8);
            a.regionId = 1 + static_cast<int>(r % 4);
            t.form = json ? AlarmForm::ApiJson : AlarmForm::ApiXml;
            t.route.alarmType = 2;
            t.route.dataType = json ? 2 : 1;
            t.text = json ? apiAlarmJson(a) : apiAlarmXml(a);
            break;
        }
        case 2: {
            ZornaAlarm a;
            a.deviceId = deviceId;
            a.sequence = seq;
            a.utcTime = when;
            a.type = kZornaTypes[r % (sizeof kZornaTypes / sizeof kZornaTypes[0])];
            a.action = r % 2 ? "STOP" : "START";
            a.videoChannel = 1 + static_cast<int>(r % 4);
            a.alarmInChannel = 1 + static_cast<int>(r % 8);
            a.retransFlag = r % 7 == 6 ? 1 : 0;
            t.form = AlarmForm::ZornaAlarm;
            t.text = zornaAlarm(a);
            break;
        }
        case 3: {
            CidReport c;
            c.deviceId = deviceId;
            c.sequence = seq;
            c.utcTime = when;
            c.cidCode = kCidCodes[r % (sizeof kCidCodes / sizeof kCidCodes[0])];
            c.zone = 1 + static_cast<int>(r % 16);
            c.zoneName = kZoneNames[r % 4];
            c.subSys = 1 + static_cast<int>(r % 2);
            c.intercom = r % 5 == 0;
            if (r % 3 == 0) {
                c.videoUrl = clipBase + "/main.mp4";
                c.clips = {{clipBase + "/left.mp4", "left"}, {clipBase + "/right.mp4", "right"}};
                c.pictures = {{clipBase + "/left.jpg", "left"}};
            }
            if (r % 4 == 1) c.temperature = "58.5";
            if (r % 4 == 2) {
                c.longitude = "113.9412";
                c.latitude = "22.5405";
            }
            t.form = AlarmForm::ZornaCidReport;
            t.text = zornaCidReport(c);
            break;
        }
        default: {
            ModelCidAlarm m;
            m.deviceId = deviceId;
            m.utcTime = when;
            m.code = kCidCodes[(r + 3) % (sizeof kCidCodes / sizeof kCidCodes[0])];
            m.zone = static_cast<int>(r % 9);  // zone 0: a panel-level event
            m.moduleName = kZoneNames[(r + 1) % 4];
            m.subSys = 1 + static_cast<int>(r % 2);
            m.eventMessageMgr = r % 2 == 1;
            if (r % 3 == 0) m.pictures = {{clipBase + "/p1.jpg", "left"}, {clipBase + "/p2.jpg", "right"}};
            if (r % 4 == 0) m.videos = {{clipBase + "/v1.mp4", "left"}};
            return modelCidAlarm(m);
        }
    }
    return t;
}

}  // namespace devsim
