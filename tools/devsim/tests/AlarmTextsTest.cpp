#include <gtest/gtest.h>
#include <json/json.h>
#include <tinyxml.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "devsim/AlarmTexts.h"

using namespace devsim;

namespace {

bool parseJson(const std::string& text, Json::Value& v) {
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    return r->parse(text.data(), text.data() + text.size(), &v, nullptr);
}

// Text of root/a/b/... ("" for an element without text); null when a step is missing.
const char* xmlText(const TiXmlDocument& doc, const std::string& path) {
    const TiXmlElement* e = doc.RootElement();
    size_t pos = 0;
    while (e && pos < path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        e = e->FirstChildElement(path.substr(pos, slash - pos).c_str());
        pos = slash + 1;
    }
    if (!e) return nullptr;
    return e->GetText() ? e->GetText() : "";
}

void expectXml(const std::string& text, const char* root, const std::map<std::string, std::string>& fields,
               const std::string& name) {
    TiXmlDocument doc;
    doc.Parse(text.c_str());
    ASSERT_FALSE(doc.Error()) << name << ": " << doc.ErrorDesc() << "\n" << text;
    ASSERT_NE(doc.RootElement(), nullptr) << name;
    EXPECT_STREQ(doc.RootElement()->Value(), root) << name;
    for (const auto& f : fields) {
        const char* got = xmlText(doc, f.first);
        ASSERT_NE(got, nullptr) << name << ": no " << f.first << "\n" << text;
        if (f.second != "*") {
            EXPECT_EQ(got, f.second) << name << ": " << f.first;
        }
    }
}

TEST(AlarmTexts, TimeTexts) {
    struct Case {
        int64_t t;
        int offset;
        const char* api;
        const char* zorna;
    } cases[] = {
        {kDefaultAlarmTime, 480, "2024-05-06T07:08:09+08:00", "2024-05-06 07:08:09"},
        {0, 0, "1970-01-01T00:00:00+00:00", "1970-01-01 00:00:00"},
        {951782400, -330, "2000-02-28T18:30:00-05:30", "2000-02-28 18:30:00"},
        {1709251199, 0, "2024-02-29T23:59:59+00:00", "2024-02-29 23:59:59"},
        {4102444799, 840, "2100-01-01T13:59:59+14:00", "2100-01-01 13:59:59"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(apiTime(c.t, c.offset), c.api);
        EXPECT_EQ(zornaTime(c.t, c.offset), c.zorna);
    }
}

TEST(AlarmTexts, DeviceApiXmlOfEveryType) {
    // Payload element each type must carry ("" when only the common fields).
    const std::map<std::string, std::string> payload = {
        {"IO", "inputIOPortID"},
        {"VMD", "detectionPicturesNumber"},
        {"linedetection", "DetectionRegionList/DetectionRegionEntry/RegionCoordinatesList/RegionCoordinates/positionX"},
        {"fielddetection", "DetectionRegionList/DetectionRegionEntry/regionID"},
        {"regionEntrance", "visibleLightURL"},
        {"fireDetection", "DetectionRegionList/DetectionRegionEntry/FireDetection/FireRegion/width"},
        {"TMPA", "DetectionRegionList/DetectionRegionEntry/TMPA/alarmRuleTemperature"},
        {"TMA", "DetectionRegionList/DetectionRegionEntry/TMA/currTemperature"},
        {"videoloss", ""},
    };
    for (const std::string& type : apiEventTypes()) {
        ApiAlarm a;
        a.deviceId = "cam<7>&\"x\"";
        a.channel = 3;
        a.eventType = type;
        a.state = "inactive";
        a.activePostCount = 4;
        a.time = 951782400;
        const std::string xml = apiAlarmXml(a);
        EXPECT_LT(xml.size(), kMaxAlarmText) << type;
        std::map<std::string, std::string> f = {{"deviceID", "cam<7>&\"x\""},
                                                {"channelID", "3"},
                                                {"eventType", type},
                                                {"eventState", "inactive"},
                                                {"activePostCount", "4"},
                                                {"dateTime", "2000-02-29T08:00:00+08:00"},
                                                {"channelName", "Camera 03"},
                                                {"eventDescription", "*"}};
        auto p = payload.find(type);
        if (p != payload.end() && !p->second.empty()) f[p->second] = "*";
        expectXml(xml, "EventNotificationAlert", f, type);
    }
    ApiAlarm io;
    io.eventType = "IO";
    io.inputPort = 5;
    expectXml(apiAlarmXml(io), "EventNotificationAlert", {{"inputIOPortID", "5"}}, "io port");
}

TEST(AlarmTexts, DeviceApiJsonOfEveryType) {
    for (const std::string& type : apiEventTypes()) {
        ApiAlarm a;
        a.deviceId = "cam\"1\\";
        a.channel = 2;
        a.eventType = type;
        a.dateTime = "2024-01-02T03:04:05+08:00";
        const std::string text = apiAlarmJson(a);
        EXPECT_LT(text.size(), kMaxAlarmText) << type;
        Json::Value v;
        ASSERT_TRUE(parseJson(text, v)) << text;
        EXPECT_EQ(v["deviceID"], "cam\"1\\") << type;
        EXPECT_TRUE(v["channelID"].isInt()) << type;
        EXPECT_EQ(v["channelID"].asInt(), 2);
        EXPECT_TRUE(v["activePostCount"].isInt()) << type;
        EXPECT_EQ(v["eventType"], type);
        EXPECT_EQ(v["eventState"], "active");
        EXPECT_EQ(v["dateTime"], "2024-01-02T03:04:05+08:00");
        EXPECT_TRUE(v["channelName"].isString());
        if (type == "linedetection" || type == "fireDetection" || type == "TMPA") {
            ASSERT_TRUE(v["DetectionRegionList"].isArray()) << type;
            EXPECT_TRUE(v["DetectionRegionList"][0]["regionID"].isString()) << type;
            EXPECT_TRUE(v["visibleLightURL"].isString()) << type;
        }
        if (type == "IO") {
            EXPECT_TRUE(v["inputIOPortID"].isInt());
        }
    }
}

TEST(AlarmTexts, ZornaAlarm) {
    ZornaAlarm a;
    a.deviceId = "nvr-9";
    a.sequence = 77;
    a.type = 5;
    a.action = "STOP";
    a.videoChannel = 4;
    a.retransFlag = 1;
    expectXml(zornaAlarm(a), "ZORNAMessage",
              {{"Version", "3.0"},
               {"Sequence", "77"},
               {"CommandType", "REQUEST"},
               {"Command", "ALARM"},
               {"Params/DeviceID", "nvr-9"},
               {"Params/Type", "5"},
               {"Params/Action", "STOP"},
               {"Params/TimeZoneIdx", "28"},
               {"Params/Time", "2024-05-06 07:08:09"},
               {"Params/VideoChannel", "4"},
               {"Params/AlarmInChannel", "1"},
               {"Params/DiskNumber", "1"},
               {"Params/RetransFlag", "1"}},
              "zorna alarm");
}

TEST(AlarmTexts, ZornaCidReport) {
    CidReport r;
    r.deviceId = "panel-1";
    r.sequence = 5;
    r.zone = 37;
    r.subSys = 2;
    r.zoneName = "Garage \"B\" & <yard>";
    r.videoUrl = "/rec/main.mp4";
    r.clips = {{"/rec/l.mp4", "left"}, {"/rec/r.mp4", "right"}};
    r.pictures = {{"/rec/l.jpg", "left"}};
    r.temperature = "41.5";
    const std::string xml = zornaCidReport(r);
    EXPECT_LT(xml.size(), kMaxAlarmText);
    expectXml(xml, "ZORNAMessage",
              {{"Version", "3.0"},
               {"Sequence", "5"},
               {"Command", "CIDREPORT"},
               {"Params/DeviceID", "panel-1"},
               {"Params/CIDCode", "1130"},
               {"Params/CIDDescribe", "Burglary alarm"},
               {"Params/SubSys", "2"},
               {"Params/TriggerTime", "2024-05-06 07:08:09"},
               {"Params/CIDParam", "1,2,37,1"},
               {"Params/zoneName", "Garage \"B\" & <yard>"},
               {"Params/UUID", "*"},
               {"Params/intercomTriggerEnabled", "false"},
               {"Params/temperatureValue", "41.5"},
               {"Params/Recheck/VideoURL", "/rec/main.mp4"},
               {"Params/videoInfoList/videoInfo/cameraPosition", "left"},
               {"Params/PictureInfoList/PictureInfo/pictureURL", "/rec/l.jpg"}},
              "cid report");
    // Optional parts stay out when not asked for.
    TiXmlDocument plain;
    plain.Parse(zornaCidReport(CidReport()).c_str());
    ASSERT_FALSE(plain.Error());
    EXPECT_EQ(xmlText(plain, "Params/Recheck"), nullptr);
    EXPECT_EQ(xmlText(plain, "Params/Longitude"), nullptr);
    EXPECT_EQ(xmlText(plain, "Params/videoInfoList"), nullptr);
}

TEST(AlarmTexts, ModelCidAlarm) {
    struct Case {
        bool eventMessageMgr;
        const char* domain;
        const char* identifier;  // nullptr: any
    } cases[] = {{false, "CIDEventMgr", nullptr}, {true, "EventMessageMgr", "CIDEvent"}};
    for (const Case& c : cases) {
        ModelCidAlarm m;
        m.deviceId = "panel-2";
        m.code = 3401;
        m.zone = 0;
        m.user = "o\"k";
        m.eventMessageMgr = c.eventMessageMgr;
        m.videos = {{"/v/1.mp4", "left"}};
        const AlarmText t = modelCidAlarm(m);
        EXPECT_EQ(t.form, AlarmForm::ModelCid);
        EXPECT_TRUE(t.route.commandMessage);
        EXPECT_EQ(t.route.messageType, 2);
        EXPECT_EQ(t.route.alarmType, 1);
        EXPECT_EQ(t.route.dataType, 1);
        EXPECT_EQ(t.route.domain, c.domain);
        if (c.identifier) {
            EXPECT_EQ(t.route.identifier, c.identifier);
        }
        Json::Value v;
        ASSERT_TRUE(parseJson(t.text, v)) << t.text;
        EXPECT_EQ(v["basic"]["dateTime"], "2024-05-06T07:08:09+08:00");
        EXPECT_TRUE(v["basic"]["UUID"].isString());
        EXPECT_EQ(v["payload"]["code"], 3401);
        EXPECT_EQ(v["payload"]["zoneID"], 0);
        EXPECT_EQ(v["payload"]["user"], "o\"k");
        EXPECT_EQ(v["payload"]["media"]["videoInfoList"][0]["filePath"], "/v/1.mp4");
        EXPECT_TRUE(v["payload"]["media"]["pictureInfoList"].isArray());
    }
}

TEST(AlarmTexts, MixedAlarmsCoverEveryFormAndParse) {
    std::set<AlarmForm> forms;
    std::set<std::string> apiTypes, domains;
    for (uint64_t i = 0; i < 2 * mixedCycle(); ++i) {
        const AlarmText t = mixedAlarm(i, "load-17");
        SCOPED_TRACE(std::string(formName(t.form)) + " #" + std::to_string(i));
        forms.insert(t.form);
        ASSERT_FALSE(t.text.empty());
        EXPECT_LT(t.text.size(), kMaxAlarmText);
        // A model-command alarm names its device through the connection, not in the text.
        if (t.form != AlarmForm::ModelCid) {
            EXPECT_NE(t.text.find("load-17"), std::string::npos);
        }
        switch (t.form) {
            case AlarmForm::ApiXml:
            case AlarmForm::ZornaAlarm:
            case AlarmForm::ZornaCidReport: {
                EXPECT_FALSE(t.route.commandMessage);
                EXPECT_EQ(t.route.alarmType, 2);
                EXPECT_EQ(t.route.dataType, 1);
                TiXmlDocument doc;
                doc.Parse(t.text.c_str());
                ASSERT_FALSE(doc.Error()) << t.text;
                if (t.form == AlarmForm::ApiXml) apiTypes.insert(xmlText(doc, "eventType"));
                break;
            }
            case AlarmForm::ApiJson: {
                EXPECT_FALSE(t.route.commandMessage);
                EXPECT_EQ(t.route.alarmType, 2);
                EXPECT_EQ(t.route.dataType, 2);
                Json::Value v;
                ASSERT_TRUE(parseJson(t.text, v)) << t.text;
                EXPECT_TRUE(v["eventType"].isString());
                break;
            }
            case AlarmForm::ModelCid: {
                EXPECT_TRUE(t.route.commandMessage);
                domains.insert(t.route.domain);
                Json::Value v;
                ASSERT_TRUE(parseJson(t.text, v)) << t.text;
                EXPECT_TRUE(v["payload"]["code"].isInt());
                break;
            }
        }
    }
    EXPECT_EQ(forms.size(), 5u);
    EXPECT_EQ(apiTypes.size(), apiEventTypes().size());
    EXPECT_EQ(domains, (std::set<std::string>{"CIDEventMgr", "EventMessageMgr"}));
    // One cycle later only time and sequence move on.
    const AlarmText a = mixedAlarm(3), b = mixedAlarm(3 + mixedCycle());
    EXPECT_EQ(a.form, b.form);
    EXPECT_NE(a.text, b.text);
}

}  // namespace
