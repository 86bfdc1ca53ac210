#include "alarm/ContactId.h"

#include <climits>
#include <cstring>

#include "alarm/AlarmLog.h"
#include "alarm/EventContent.h"
#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/TimeConvert.h"

namespace {

using vexa::MemberList;

// ---------------------------------------------------------------------------------------------
// Content and delivery (shared by both forms)

struct VideoClip {
    std::string url;
    std::string position;
};

struct VideoPart {
    std::string url;            // the report's video; empty: no video
    std::vector<VideoClip> clips;  // entries 0 and 1 of the report's list, as read
};

// Fits the members into the content limit without ever cutting inside the JSON.
bool buildContent(MemberList inner, const VideoPart* video, std::string& out) {
    std::string prefix, suffix;
    if (video) {
        prefix = "\"VideoReview\":{\"TarnCIDParams\":{";
        suffix = "},\"protocolType\":\"TarnCIDProtocol\"}";
        inner.emplace_back("videoURL", std::string(vexa::kCidVideoPrefix) + video->url);
        Json::Value list(Json::arrayValue);
        for (size_t i = 0; i < video->clips.size() && i < 2; ++i) {
            const VideoClip& c = video->clips[i];
            if (c.url.empty() || c.position.empty()) continue;
            Json::Value e(Json::objectValue);
            e["videoURL"] = std::string(vexa::kCidVideoPrefix) + c.url;
            e["cameraPosition"] = c.position;
            list.append(e);
        }
        inner.emplace_back("videoInfoList", list);
    } else {
        prefix = "\"CIDAlarm\":{";
        suffix = "}";
    }
    std::string body;
    if (!vexa::writeMemberList(inner, vexa::kCidContentLimit - prefix.size() - suffix.size(), body)) return false;
    out = prefix + body + suffix;
    return true;
}

// Builds one event. Video review only when the device has it enabled; otherwise a report with
// video still goes out as the plain event.
void buildEvent(const AlarmSource& source, const std::string& jsonTime, MemberList cid, const VideoPart& video,
                int32_t cidCode, const char* func, AlarmEvent& event) {
    const std::string& deviceId = source.deviceId;
    const bool review = !video.url.empty() && source.videoReview;
    std::string content;
    if (!buildContent(std::move(cid), review ? &video : nullptr, content)) {
        LOG_DEV_GATED(vexa::alarmGateKey(&source), 5, func, "[deviceID=%s]CID content does not fit, not sent.",
                      vexa::logText(deviceId).c_str());
        return;
    }
    AlarmEventInfo& info = event.info;
    memset(&info, 0, sizeof info);
    info.dwSize = sizeof(AlarmEventInfo);
    info.dwEventCode = review ? vexa::kCidEventVideoReview : vexa::kCidEventPlain;
    info.dwCategory = vexa::kCidCategory;
    info.dwActive = 1;
    vexa::copyTextField(info.szContent, sizeof info.szContent, content);
    vexa::copyTextField(info.szTime, 32, jsonTime);  // at most 31 characters
    vexa::copyTextField(info.szDeviceID, sizeof info.szDeviceID, deviceId);
    vexa::copyTextField(info.szSerialNo, sizeof info.szSerialNo, source.serialNo);
    event.ready = true;
    if (!review)
        event.setNote(func, "OnAlarmReq EVENT_TYPE_CID_COMMON, %s, cid = %d\n", vexa::logText(deviceId).c_str(), cidCode);
}

// ---------------------------------------------------------------------------------------------
// CIDREPORT

struct CidReport {
    std::string deviceId;
    int32_t cidCode = 0;
    std::string cidDescribe;
    int32_t cidType = 0;
    int32_t subSys = 0;
    int32_t timeZoneIdx = 0;
    std::string timeZoneText;
    std::string triggerTime, dstTriggerTime, uploadTime, cidParam, uuid, zoneName;
    int32_t deviceNo = 0;
    bool talk = false;
    bool hasTemperature = false, hasLongitude = false, hasLatitude = false;
    std::string temperature, longitude, latitude;
    VideoPart video;
};

std::string textOf(CXmlCursor& doc, const char* name) {
    return doc.findElementWrap(name) ? doc.elementText() : std::string();
}

bool optText(CXmlCursor& doc, const char* name, std::string& out) {
    if (!doc.findElementWrap(name)) return false;
    out = doc.elementText();
    return true;
}

int32_t intOf(CXmlCursor& doc, const char* name) { return vexa::decimalValue(textOf(doc, name)); }

// On the level of the cursor; a missing block leaves the values untouched.
bool readRecheck(CXmlCursor& doc, std::string& url) {
    if (!doc.findElementWrap("Recheck")) return false;
    doc.enterElement();
    url = textOf(doc, "VideoURL");
    doc.leaveElement();
    return true;
}

bool readVideoList(CXmlCursor& doc, std::vector<VideoClip>& clips) {
    if (!doc.findElementWrap("videoInfoList")) return false;
    doc.enterElement();
    // Only the first two entries count.
    while (clips.size() < 2 && doc.findElement("videoInfo")) {
        doc.enterElement();
        VideoClip c;
        c.url = textOf(doc, "videoURL");
        c.position = textOf(doc, "cameraPosition");
        doc.leaveElement();
        clips.push_back(c);
    }
    doc.leaveElement();
    return true;
}

// Reads the parameters below "ZORNAMessage"/"Params". The media blocks are looked for in "Params"
// first and, failing that, beside it.
bool readCidReport(CXmlCursor& doc, CidReport& r) {
    doc.resetPosition();
    if (!doc.findElementWrap("ZORNAMessage") || !doc.enterElement()) return false;
    if (!doc.findElementWrap("Params") || !doc.enterElement()) return false;
    r.deviceId = textOf(doc, "DeviceID");
    r.cidCode = intOf(doc, "CIDCode");
    r.cidDescribe = textOf(doc, "CIDDescribe");
    r.cidType = intOf(doc, "CIDType");
    r.subSys = intOf(doc, "SubSys");
    r.timeZoneText = textOf(doc, "TimeZoneIdx");
    r.timeZoneIdx = vexa::decimalValue(r.timeZoneText);
    r.triggerTime = textOf(doc, "TriggerTime");
    r.dstTriggerTime = textOf(doc, "DSTTriggerTime");
    r.uploadTime = textOf(doc, "UploadTime");
    r.cidParam = textOf(doc, "CIDParam");
    r.uuid = textOf(doc, "UUID");
    r.zoneName = textOf(doc, "zoneName");
    r.deviceNo = intOf(doc, "deviceNo");
    r.talk = textOf(doc, "intercomTriggerEnabled") == "true";
    r.hasTemperature = optText(doc, "temperatureValue", r.temperature);
    r.hasLongitude = optText(doc, "Longitude", r.longitude);
    r.hasLatitude = optText(doc, "Latitude", r.latitude);
    const bool recheck = readRecheck(doc, r.video.url);
    const bool videos = readVideoList(doc, r.video.clips);
    if (!recheck || !videos) {
        doc.leaveElement();
        if (!recheck) readRecheck(doc, r.video.url);
        if (!videos) readVideoList(doc, r.video.clips);
    }
    return true;
}

// Third comma-separated field, 0 when there are fewer than three.
int32_t zoneFromCidParam(const std::string& param) {
    const size_t a = param.find(',');
    if (a == std::string::npos) return 0;
    const size_t b = param.find(',', a + 1);
    if (b == std::string::npos) return 0;
    const size_t c = param.find(',', b + 1);
    return vexa::decimalValue(param.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1));
}

MemberList cidMembers(const CidReport& r, const std::string& jsonTime) {
    MemberList m = {
        {"subSys", r.subSys},
        {"ZoneNo", zoneFromCidParam(r.cidParam)},
        {"zoneName", r.zoneName},
        {"CIDCode", std::to_string(r.cidCode)},
        {"CIDType", r.cidType},
        {"CIDDescribe", r.cidDescribe},
        {"timeZoneIdx", r.timeZoneIdx},
        {"triggerTime", jsonTime},
        {"DSTTriggerTime", r.dstTriggerTime},
        {"uploadTime", r.uploadTime},
        {"CIDParam", r.cidParam},
        {"UUID", r.uuid},
        {"deviceNo", r.deviceNo},
        {"isTalk", r.talk ? 1 : 0},
    };
    if (r.hasTemperature) m.emplace_back("temperatureValue", r.temperature);
    if (r.hasLongitude) m.emplace_back("Longitude", r.longitude);
    if (r.hasLatitude) m.emplace_back("Latitude", r.latitude);
    return m;
}

// ---------------------------------------------------------------------------------------------
// Model-command JSON alarm

// Whole decimal text (optional '-') within 32 bits.
bool strictDecimal(const std::string& s, int32_t& out) {
    size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
    if (i >= s.size() || s.size() - i > 10) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    if (s[0] == '-') v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

// A number member: a JSON integer in range or a whole decimal text; anything else is not a number.
bool numberOf(const Json::Value& v, int32_t& out) {
    if (v.isInt()) {
        out = v.asInt();
        return true;
    }
    return v.isString() && strictDecimal(v.asString(), out);
}

int32_t memberNumber(const Json::Value& obj, const char* name) {
    const Json::Value* v = vexa::jsonMember(obj, name);
    int32_t n = 0;
    return v && numberOf(*v, n) ? n : 0;
}

// A text member given as text or as a number (written as text either way).
bool memberText(const Json::Value& obj, const char* name, std::string& out) {
    const Json::Value* v = vexa::jsonMember(obj, name);
    if (!v) return false;
    if (v->isString()) {
        out = v->asString();
        return true;
    }
    if (v->isNumeric()) {
        out = vexa::writeJson(*v);
        return true;
    }
    return false;
}

const Json::Value& memberArray(const Json::Value& obj, const char* name) {
    static const Json::Value kEmpty(Json::arrayValue);
    const Json::Value* v = vexa::jsonMember(obj, name);
    return v && v->isArray() ? *v : kEmpty;
}

// A media entry's path: "filePath", or "videoURL" / "pictureURL" as the XML form names it.
std::string mediaPath(const Json::Value& e, const char* alt) {
    std::string p;
    if (!vexa::jsonString(e, "filePath", p) || p.empty()) vexa::jsonString(e, alt, p);
    return p;
}

}  // namespace

int procSubs(const Json::Value& subs, std::vector<int32_t>& sysNos) {
    sysNos.clear();
    auto take = [&](int32_t n) {
        if (n > 0 && sysNos.size() < vexa::kMaxSubs) sysNos.push_back(n);
    };
    if (subs.isArray()) {
        for (const Json::Value& e : subs) {
            if (sysNos.size() >= vexa::kMaxSubs) break;
            int32_t n = 0;
            if (numberOf(e, n)) {
                take(n);
            } else if (e.isObject()) {
                const Json::Value* id = vexa::jsonMember(e, "subSystemID");
                if (!id) id = vexa::jsonMember(e, "id");
                if (id && numberOf(*id, n)) take(n);
            }
        }
    } else if (subs.isString()) {
        const std::string s = subs.asString();
        size_t pos = 0;
        while (pos <= s.size() && sysNos.size() < vexa::kMaxSubs) {
            size_t comma = s.find(',', pos);
            if (comma == std::string::npos) comma = s.size();
            int32_t n = 0;
            if (strictDecimal(s.substr(pos, comma - pos), n)) take(n);
            pos = comma + 1;
        }
    } else {
        int32_t n = 0;
        if (numberOf(subs, n)) take(n);
    }
    if (RunLog_Enabled(2))
        LOG_DEV(2, "CAlarmMsgMgr::procSubs", "[Subs=%s,sysNoCount=%d]procSubs succ.",
                vexa::logText(vexa::writeJson(subs)).c_str(), static_cast<int>(sysNos.size()));
    return static_cast<int>(sysNos.size());
}

namespace {
const char* const kCidReportFunc = "CAlarmMsgMgr::procFERROCidReportReq";
}  // namespace

int procFERROCidReportReq(const CZornaMessage& message, const std::string& xml, const AlarmSource* source,
                          AlarmEvent& event) {
    CXmlCursor doc;
    if (!doc.setDocument(xml)) {
        LOG_DEV_GATED(vexa::alarmGateKey(source), 5, kCidReportFunc, "device is [%s],parse alarm data fail!",
                      vexa::logText(message.DeviceID).c_str());
        return -1;
    }
    return procFERROCidReportReq(message, doc, source, event);
}

int procFERROCidReportReq(const CZornaMessage& message, CXmlCursor& doc, const AlarmSource* source,
                          AlarmEvent& event) {
    const char* const F = kCidReportFunc;
    const std::string& deviceId = message.DeviceID;
    CZornaCidReportReq req;
    CidReport r;
    if (!req.parse(doc) || !readCidReport(doc, r)) {
        LOG_DEV_GATED(vexa::alarmGateKey(source), 5, F, "device is [%s],parse alarm data fail!",
                      vexa::logText(deviceId).c_str());
        return -1;
    }
    if (!source) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnknownDevice, 4, F, "GetDeviceImpl fail, DevID:%s", vexa::logText(deviceId).c_str());
        return -1;
    }
    // A time that cannot be converted leaves the field empty; the event still goes out. The zone
    // index is read by the same rule as for ZORNA alarms.
    std::string jsonTime;
    int zone = 0;
    if (r.triggerTime.empty() || !vexa::zornaTimeZoneIdx(r.timeZoneText, zone) ||
        ConvertAldonTimeToJsonTime(r.triggerTime, zone, jsonTime) != 0)
        jsonTime.clear();
    buildEvent(*source, jsonTime, cidMembers(r, jsonTime), r.video, r.cidCode, F, event);
    return 0;
}

// Payload mapping onto the CIDAlarm members:
//   subSys  <- subSystemID, else the first number of "subs" (procSubs)
//   ZoneNo  <- zoneID; zoneName <- moduleName (only for a zone above 0)
//   CIDCode <- code
//   CIDParam <- code,subSys,zoneID,deviceNo,keypad,userID,deviceIDPriority,user
//   temperatureValue <- value; Longitude <- long; Latitude <- lat
//   pictureUrlList <- media.pictureInfoList[].filePath (with its cameraPosition when given)
//   video   <- media.videoInfoList: the first entry with a path is the report's video; entries 0
//              and 1 form the clip list. The time is basic.dateTime when it is a valid device-API
//              time, else empty.
void procCidAlarmJson(const std::string& alarm, const std::string& deviceID, const AlarmSource* source,
                      AlarmEvent& event) {
    static const char* F = "CAlarmMsgMgr::procCidAlarmJson";
    if (!source) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnknownDevice, 5, F, "[deviceID=%s]device not exist.", vexa::logText(deviceID).c_str());
        return;
    }
    Json::Value root;
    const Json::Value* payload = nullptr;
    if (vexa::parseJson(alarm, root)) payload = vexa::jsonMember(root, "payload");
    if (!payload || !payload->isObject()) {
        LOG_DEV_GATED(vexa::alarmGateKey(source), 5, F, "[deviceID=%s,alarm=%s]procAlarmJson fail.",
                      vexa::logText(deviceID).c_str(), vexa::logText(alarm).c_str());
        return;
    }
    static const Json::Value kNoObject(Json::objectValue);
    const Json::Value* basicPtr = vexa::jsonMember(root, "basic");
    const Json::Value& basic = basicPtr && basicPtr->isObject() ? *basicPtr : kNoObject;
    const Json::Value& p = *payload;

    int32_t subSys = 0;
    const Json::Value* subSysMember = vexa::jsonMember(p, "subSystemID");
    if (!subSysMember || !numberOf(*subSysMember, subSys)) {
        subSys = 0;
        if (const Json::Value* subs = vexa::jsonMember(p, "subs")) {
            std::vector<int32_t> nos;
            if (procSubs(*subs, nos) > 0) subSys = nos[0];
        }
    }
    const int32_t zone = memberNumber(p, "zoneID");
    const int32_t code = memberNumber(p, "code");
    std::string zoneName, user, text;
    memberText(p, "user", user);

    MemberList m = {{"subSys", subSys}, {"ZoneNo", zone}};
    if (zone > 0 && memberText(p, "moduleName", zoneName) && !zoneName.empty()) m.emplace_back("zoneName", zoneName);
    m.emplace_back("CIDCode", std::to_string(code));
    m.emplace_back("timeZoneIdx", "");
    m.emplace_back("triggerTime", "");
    const std::string param = std::to_string(code) + "," + std::to_string(subSys) + "," + std::to_string(zone) +
                              "," + std::to_string(memberNumber(p, "deviceNo")) + "," +
                              std::to_string(memberNumber(p, "keypad")) + "," +
                              std::to_string(memberNumber(p, "userID")) + "," +
                              std::to_string(memberNumber(p, "deviceIDPriority")) + "," + user;
    m.emplace_back("CIDParam", param);
    if (memberText(p, "value", text)) m.emplace_back("temperatureValue", text);
    if (memberText(p, "long", text)) m.emplace_back("Longitude", text);
    if (memberText(p, "lat", text)) m.emplace_back("Latitude", text);

    const Json::Value* mediaPtr = vexa::jsonMember(p, "media");
    const Json::Value& media = mediaPtr && mediaPtr->isObject() ? *mediaPtr : kNoObject;
    Json::Value pictures(Json::arrayValue);
    for (const Json::Value& e : memberArray(media, "pictureInfoList")) {
        const std::string path = mediaPath(e, "pictureURL");
        if (path.empty()) continue;
        if (pictures.size() >= vexa::kMaxCidPictures) {
            LOG_DEV_GATED(vexa::alarmGateKey(source), 3, F, "[deviceID=%s]more than %d pictures, the rest left out.",
                          vexa::logText(deviceID).c_str(), static_cast<int>(vexa::kMaxCidPictures));
            break;
        }
        Json::Value pic(Json::objectValue);
        pic["pictureUrl"] = path;
        std::string pos;
        if (vexa::jsonString(e, "cameraPosition", pos) && !pos.empty()) pic["cameraPosition"] = pos;
        pictures.append(pic);
    }
    if (!pictures.empty()) m.emplace_back("pictureUrlList", pictures);

    VideoPart video;
    const Json::Value& videos = memberArray(media, "videoInfoList");
    for (Json::ArrayIndex i = 0; i < videos.size(); ++i) {
        const std::string path = mediaPath(videos[i], "videoURL");
        if (i < 2) {
            VideoClip c;
            c.url = path;
            vexa::jsonString(videos[i], "cameraPosition", c.position);
            video.clips.push_back(c);
        }
        if (video.url.empty()) video.url = path;
        if (i >= 1 && !video.url.empty()) break;
    }

    std::string jsonTime;
    if (!vexa::jsonString(basic, "dateTime", jsonTime) || !isValidJsonTime(jsonTime)) jsonTime.clear();
    buildEvent(*source, jsonTime, std::move(m), video, code, F, event);
}
