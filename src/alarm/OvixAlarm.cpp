#include "alarm/OvixAlarm.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "alarm/AlarmLog.h"
#include "alarm/EventContent.h"
#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/XmlCursor.h"

namespace vexa {

namespace {

struct EventTypeRow {
    const char* type;
    const char* description;
};

const EventTypeRow kEventTypes[] = {
    {"IO", "IO alarm"},
    {"VMD", "VMD alarm"},
    {"diskerror", "diskerror alarm"},
    {"diskfull", "diskfull alarm"},
    {"diskrecover", "diskrecover alarm"},
    {"fielddetection", "fielddetection alarm"},
    {"linedetection", "linedetection alarm"},
    {"rapidMove", "rapidMove alarm"},
    {"recordException", "recordException alarm"},
    {"regionEntrance", "regionEntrance alarm"},
    {"regionExiting", "regionExiting alarm"},
    {"shelteralarm", "shelteralarm alarm"},
    {"videoloss", "videoloss alarm"},
    {"fireDetection", "fireDetection alarm"},
    {"TMPA", "Temperature Measurement Precautionary Alarm"},
    {"TMA", "Temperature Measurement Alarm"},
    {"TDA", "Temperature Diff Alarm"},
    {"PIR", "PIR Alarm"},
};

bool allDigits(const std::string& s, size_t from, size_t to) {
    if (from >= to) return false;
    for (size_t i = from; i < to; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

}  // namespace

const char* ovixEventDescription(const std::string& eventType) {
    for (const auto& row : kEventTypes)
        if (eventType == row.type) return row.description;
    return nullptr;
}

Json::Value numberOrText(const std::string& text) {
    const size_t start = (!text.empty() && text[0] == '-') ? 1 : 0;
    const size_t dot = text.find('.');
    if (dot == std::string::npos) {
        // 18 digits always fit 64 bits.
        if (allDigits(text, start, text.size()) && text.size() - start <= 18)
            return Json::Value(static_cast<Json::Int64>(strtoll(text.c_str(), nullptr, 10)));
    } else if (allDigits(text, start, dot) && allDigits(text, dot + 1, text.size()) && text.size() - start <= 17) {
        return Json::Value(strtod(text.c_str(), nullptr));
    }
    return Json::Value(text);
}

}  // namespace vexa

namespace {

const char* const kConvFunc = "CAlarmMsgMgr::covertOvixAlarmXmlToJson";
const char* const kRegionFunc = "CAlarmMsgMgr::covertDetectionRegionListFromXml";
const char* const kFireFunc = "CAlarmMsgMgr::covertFireDetectionXmlToJson";
// The event time keeps at most 31 characters although its field is larger.
const size_t kTimeCap = 32;

// The cursor goes into the element for the lifetime of the guard and comes back out after.
class Inside {
public:
    explicit Inside(CXmlBase& xml) : m_xml(xml), m_in(xml.enterElement()) {}
    ~Inside() {
        if (m_in) m_xml.leaveElement();
    }
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;

private:
    CXmlBase& m_xml;
    bool m_in;
};

std::string textOf(const TiXmlElement* e) {
    const TiXmlNode* first = e ? e->FirstChild() : nullptr;
    const TiXmlText* t = first ? first->ToText() : nullptr;
    return t ? t->ValueStr() : std::string();
}

enum class Kind { Number, Real, Text };

Json::Value valueOf(const std::string& text, Kind kind) {
    if (kind == Kind::Text) return Json::Value(text);
    Json::Value v = vexa::numberOrText(text);
    if (kind == Kind::Real && v.isIntegral()) return Json::Value(v.asDouble());
    return v;
}

// Copies the named children of e that are present into obj; true when any was.
bool copyChildren(const TiXmlElement* e, std::initializer_list<const char*> names, Kind kind, Json::Value& obj) {
    bool any = false;
    for (const char* name : names) {
        const TiXmlElement* c = e ? e->FirstChildElement(name) : nullptr;
        if (!c) continue;
        obj[name] = valueOf(textOf(c), kind);
        any = true;
    }
    return any;
}

// A named child that holds a group of values, written as an object of those present.
bool copyGroup(const TiXmlElement* e, const char* name, std::initializer_list<const char*> names, Kind kind,
               Json::Value& obj) {
    const TiXmlElement* g = e ? e->FirstChildElement(name) : nullptr;
    if (!g) return false;
    Json::Value v(Json::objectValue);
    copyChildren(g, names, kind, v);
    obj[name] = v;
    return true;
}

// A point given either as a plain value or as child values (first of each name).
void copyPoint(const TiXmlElement* e, const char* name, Json::Value& obj) {
    const TiXmlElement* p = e ? e->FirstChildElement(name) : nullptr;
    if (!p) return;
    if (!p->FirstChildElement()) {
        obj[name] = vexa::numberOrText(textOf(p));
        return;
    }
    Json::Value v(Json::objectValue);
    for (const TiXmlElement* c = p->FirstChildElement(); c; c = c->NextSiblingElement())
        if (!v.isMember(c->ValueStr())) v[c->ValueStr()] = vexa::numberOrText(textOf(c));
    obj[name] = v;
}

int thermometry(CXmlBase& xml, Json::Value& out, bool precautionary) {
    const TiXmlElement* e = xml.current();
    out = Json::Value(Json::objectValue);
    if (!e) return 0;
    copyChildren(e, {"thermometryUnit"}, Kind::Text, out);
    copyChildren(e, {"ruleTemperature", "currTemperature", "ruleCalibType", "ruleType"}, Kind::Number, out);
    if (precautionary) copyChildren(e, {"alarmRuleTemperature"}, Kind::Number, out);
    copyPoint(e, "MaximumTemperaturePoint", out);
    copyGroup(e, "RegionCoordinates", {"positionX", "positionY"}, Kind::Number, out);
    copyGroup(e, "AbsoluteHigh", {"elevation", "azimuth", "absoluteZoom"}, Kind::Number, out);
    copyChildren(e,
                 {"presetNo", "temperatureSuddenChangeCycle", "temperatureSuddenChangeValue", "alarmFilteringTime"},
                 Kind::Number, out);
    copyGroup(e, "sensorInfo", {"sensorName", "sensorType", "identificationCode"}, Kind::Text, out);
    return 1;
}

bool regionEntry(CXmlBase& xml, Json::Value& entry) {
    Inside in(xml);
    if (!xml.findSiblingElement("regionID")) {
        LOG_DEV_GATED(vexa::kAlarmKeyPayload, 5, kRegionFunc, "xml param is illegal!");
        return false;
    }
    entry["regionID"] = xml.elementText();
    Json::Value coords(Json::arrayValue);
    if (xml.findSiblingElement("RegionCoordinatesList")) {
        Inside list(xml);
        for (bool more = xml.findSiblingElement("RegionCoordinates"); more;
             more = xml.nextElement("RegionCoordinates")) {
            std::string x, y;
            if (!xml.childText("positionX", x) || !xml.childText("positionY", y)) {
                LOG_DEV_GATED(vexa::kAlarmKeyPayload, 5, kRegionFunc, "xml param is illegal!");
                return false;
            }
            Json::Value point(Json::objectValue);
            point["positionX"] = vexa::decimalValue(x);
            point["positionY"] = vexa::decimalValue(y);
            coords.append(point);
        }
    }
    entry["RegionCoordinatesList"] = coords;
    Json::Value sub;
    if (xml.findSiblingElement("FireDetection")) {
        if (!covertFireDetectionXmlToJson(xml, sub)) return false;
        entry["FireDetection"] = sub;
    }
    if (xml.findSiblingElement("TMPA") && covertTMPAXmlToJson(xml, sub)) entry["TMPA"] = sub;
    if (xml.findSiblingElement("TMA") && covertTMAXmlToJson(xml, sub)) entry["TMA"] = sub;
    return true;
}

// Members that cannot be shortened (numbers, structure) may alone exceed the field: then trailing
// array entries go first, then whole structured members, until the texts can be shortened to fit.
bool fitContent(vexa::MemberList members, std::string& out) {
    // Whatever fits once its texts are shortened has a skeleton that fits: nothing to leave out.
    if (vexa::writeMemberList(members, vexa::kEventContentLimit, out)) return true;
    auto skeletonSize = [](const vexa::MemberList& m) {
        vexa::MemberList bare = m;
        std::string text;
        for (auto& member : bare) {
            std::vector<Json::Value*> stack{&member.second};
            while (!stack.empty()) {
                Json::Value* v = stack.back();
                stack.pop_back();
                if (v->isString()) {
                    *v = "";
                } else if (v->isArray()) {
                    for (Json::Value& e : *v) stack.push_back(&e);
                } else if (v->isObject()) {
                    for (const auto& n : v->getMemberNames()) stack.push_back(&(*v)[n]);
                }
            }
        }
        vexa::writeMemberList(bare, static_cast<size_t>(-1), text);
        return text.size();
    };
    unsigned dropped = 0;
    while (skeletonSize(members) > vexa::kEventContentLimit) {
        Json::Value* largest = nullptr;
        for (auto& m : members)
            if (m.second.isArray() && m.second.size() > 0 && (!largest || m.second.size() > largest->size()))
                largest = &m.second;
        if (largest) {
            const Json::ArrayIndex n = largest->size();
            largest->resize(n - (n + 3) / 4);
            dropped += (n + 3) / 4;
            continue;
        }
        bool removed = false;
        for (auto it = members.begin(); it != members.end(); ++it) {
            if (it->second.isArray() || it->second.isObject()) {
                members.erase(it);
                removed = true;
                ++dropped;
                break;
            }
        }
        if (!removed) break;
    }
    if (dropped)
        LOG_DEV_GATED(vexa::kAlarmKeyPayload, 4, kConvFunc, "event content too long, %u entries left out", dropped);
    return vexa::writeMemberList(members, vexa::kEventContentLimit, out);
}

}  // namespace

int covertFireDetectionXmlToJson(CXmlBase& xml, Json::Value& out) {
    const TiXmlElement* e = xml.current();
    out = Json::Value(Json::objectValue);
    bool any = copyGroup(e, "FireRegion", {"x", "y", "width", "height"}, Kind::Number, out);
    any = copyGroup(e, "HighestPoint", {"x", "y"}, Kind::Number, out) || any;
    any = copyChildren(e, {"temperatureUnit"}, Kind::Text, out) || any;
    any = copyChildren(e, {"fireMaxTemperature", "targetDistance"}, Kind::Number, out) || any;
    any = copyGroup(e, "AbsoluteHigh", {"elevation", "azimuth", "absoluteZoom"}, Kind::Number, out) || any;
    any = copyChildren(e, {"lookDownUpAngle"}, Kind::Real, out) || any;
    any = copyGroup(e, "PTZAbsoluteEx", {"elevation", "azimuth", "absoluteZoom"}, Kind::Real, out) || any;
    if (!any) {
        LOG_DEV_GATED(vexa::kAlarmKeyPayload, 5, kFireFunc, "xml param is illegal!");
        out = Json::Value(Json::objectValue);
        return 0;
    }
    return 1;
}

int covertTMPAXmlToJson(CXmlBase& xml, Json::Value& out) { return thermometry(xml, out, true); }

int covertTMAXmlToJson(CXmlBase& xml, Json::Value& out) { return thermometry(xml, out, false); }

int covertDetectionRegionListFromXml(CXmlBase& xml, Json::Value& out) {
    out = Json::Value(Json::arrayValue);
    if (!xml.current()) return 0;
    bool ok = true;
    {
        Inside in(xml);
        for (bool more = xml.findSiblingElement("DetectionRegionEntry"); more && ok;
             more = xml.nextElement("DetectionRegionEntry")) {
            Json::Value entry(Json::objectValue);
            ok = regionEntry(xml, entry);
            if (ok) out.append(entry);
        }
    }
    if (!ok) out = Json::Value(Json::arrayValue);
    return ok ? 1 : 0;
}

int covertOvixAlarmXmlToJson(CXmlBase& xml, std::string& out) {
    vexa::MemberList members;
    if (xml.findSiblingElement("DetectionRegionList")) {
        Json::Value list;
        if (covertDetectionRegionListFromXml(xml, list)) members.emplace_back("DetectionRegionList", list);
    }
    if (xml.findSiblingElement("detectionPicturesNumber"))
        members.emplace_back("detectionPicturesNumber", vexa::numberOrText(xml.elementText()));
    for (const char* name : {"visibleLightURL", "thermalURL", "thermalInfoURL", "URLCertificationType"})
        if (xml.findSiblingElement(name)) members.emplace_back(name, Json::Value(xml.elementText()));
    for (const char* name : {"inputIOPortID", "dynInputIOPortID"})
        if (xml.findSiblingElement(name)) members.emplace_back(name, vexa::numberOrText(xml.elementText()));
    if (!fitContent(std::move(members), out)) out.clear();
    return 1;
}

int getDescribeFromJson(const Json::Value& root, std::string& out) {
    static const char* F = "CAlarmMsgMgr::getDescribeFromJson";
    out.clear();
    // The members stay in the document; they are copied only when they have to be shortened.
    vexa::MemberRefs members;
    Json::Value pictures;
    if (const Json::Value* v = vexa::jsonMember(root, "DetectionRegionList")) {
        if (!v->isArray()) {
            LOG_DEV_GATED(vexa::kAlarmKeyPayload, 5, F, "json param is illegal!");
            return 0;
        }
        members.emplace_back("DetectionRegionList", v);
    }
    if (const Json::Value* v = vexa::jsonMember(root, "detectionPicturesNumber")) {
        if (v->isString()) {
            pictures = vexa::numberOrText(v->asString());
            members.emplace_back("detectionPicturesNumber", &pictures);
        } else if (v->isNumeric()) {
            members.emplace_back("detectionPicturesNumber", v);
        } else {
            LOG_DEV_GATED(vexa::kAlarmKeyPayload, 5, F, "json param is illegal!");
            return 0;
        }
    }
    for (const char* name : {"visibleLightURL", "thermalURL", "thermalInfoURL", "URLCertificationType"}) {
        const Json::Value* v = vexa::jsonMember(root, name);
        if (!v) continue;
        if (!v->isString()) {
            LOG_DEV_GATED(vexa::kAlarmKeyPayload, 5, F, "json param is illegal!");
            return 0;
        }
        members.emplace_back(name, v);
    }
    if (vexa::writeMembersAsIs(members, vexa::kEventContentLimit, out)) return 1;
    vexa::MemberList copies;
    for (const auto& m : members) copies.emplace_back(m.first, *m.second);
    return fitContent(std::move(copies), out) ? 1 : 0;
}

int isAldon5OvixAlarmXml(CXmlBase& xml, AlarmEventInfo& info, std::string* deviceId) {
    static const char* F = "CAlarmMsgMgr::isAldon5OvixAlarmXml";
    xml.resetPosition();
    if (!xml.findElement("EventNotificationAlert")) return 0;
    info.dwSize = sizeof(AlarmEventInfo);
    xml.enterElement();
    if (!xml.findSiblingElement("deviceID")) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnknownDevice, 5, F, "cannot find deviceID element");
        return 0;
    }
    const std::string id = xml.elementText();
    vexa::copyTextField(info.szDeviceID, sizeof info.szDeviceID, id);
    if (xml.findSiblingElement("eventType")) {
        const std::string type = xml.elementText();
        const char* description = vexa::ovixEventDescription(type);
        if (!description) {
            LOG_DEV_GATED(vexa::alarmGateKey(id), 3, F, "Unsupported event type:%s", vexa::logText(type).c_str());
            return 0;
        }
        vexa::copyTextField(info.szEventType, sizeof info.szEventType, type);
        vexa::copyTextField(info.szDescription, sizeof info.szDescription, description);
    }
    if (xml.findSiblingElement("channelID")) info.iChannel = vexa::decimalValue(xml.elementText());
    if (xml.findSiblingElement("channelName"))
        vexa::copyTextField(info.szName, sizeof info.szName, xml.elementText());
    if (xml.findSiblingElement("activePostCount")) info.iActivePostCount = vexa::decimalValue(xml.elementText());
    if (xml.findSiblingElement("eventState")) info.dwActive = xml.elementText() == "active" ? 1 : 0;
    if (xml.findSiblingElement("dateTime")) vexa::copyTextField(info.szTime, kTimeCap, xml.elementText());
    std::string content;
    if (covertOvixAlarmXmlToJson(xml, content) && !content.empty())
        vexa::copyTextField(info.szContent, sizeof info.szContent, content);
    if (deviceId) *deviceId = id;
    return 1;
}

int isAldon5OvixAlarmJson(const Json::Value& root, AlarmEventInfo& info, std::string* deviceId) {
    static const char* F = "CAlarmMsgMgr::isAldon5OvixAlarmJson";
    std::string type;
    if (!vexa::jsonString(root, "eventType", type)) return 0;
    info.dwSize = sizeof(AlarmEventInfo);
    std::string id;
    vexa::jsonString(root, "deviceID", id);
    const char* description = vexa::ovixEventDescription(type);
    if (!description) {
        LOG_DEV_GATED(vexa::alarmGateKey(id), 3, F, "Unsupported event type:%s", vexa::logText(type).c_str());
        return 0;
    }
    vexa::copyTextField(info.szEventType, sizeof info.szEventType, type);
    vexa::copyTextField(info.szDescription, sizeof info.szDescription, description);
    std::string content;
    if (getDescribeFromJson(root, content) && !content.empty())
        vexa::copyTextField(info.szContent, sizeof info.szContent, content);
    std::string text;
    int32_t number = 0;
    vexa::copyTextField(info.szDeviceID, sizeof info.szDeviceID, id);
    if (vexa::jsonInt32(root, "channelID", number)) info.iChannel = number;
    if (vexa::jsonString(root, "channelName", text)) vexa::copyTextField(info.szName, sizeof info.szName, text);
    if (vexa::jsonInt32(root, "activePostCount", number)) info.iActivePostCount = number;
    if (vexa::jsonString(root, "eventState", text)) info.dwActive = text == "active" ? 1 : 0;
    if (vexa::jsonString(root, "dateTime", text)) vexa::copyTextField(info.szTime, kTimeCap, text);
    if (deviceId) *deviceId = id;
    return 1;
}

int ProcOVIXAlarmReq(AlarmEventInfo& info, const std::string& id, const AlarmSource* source) {
    static const char* F = "CAlarmMsgMgr::ProcOVIXAlarmReq";
    if (!source) {
        LOG_DEV_GATED(vexa::kAlarmKeyUnknownDevice, 4, F, "Get Sub Device fail, DevID:%s", vexa::logText(id).c_str());
        return -1;
    }
    vexa::copyTextField(info.szSerialNo, sizeof info.szSerialNo, source->serialNo);
    return 0;
}
