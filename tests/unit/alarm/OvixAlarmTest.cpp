// Device-API alarm documents (XML and JSON) into host event records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "AlarmTestGate.h"
#include "TestSupport.h"
#include "alarm/OvixAlarm.h"
#include "common/JsonUtil.h"

namespace {

using vtest::contentOf;

// Converts a document the way the worker does; false when it is no device-API alarm.
bool fromXml(const std::string& text, AlarmEventInfo& info, std::string* id = nullptr) {
    memset(&info, 0, sizeof info);
    CXmlBase xml;
    xml.load(text);
    return isAldon5OvixAlarmXml(xml, info, id) != 0;
}
bool fromJson(const std::string& text, AlarmEventInfo& info) {
    memset(&info, 0, sizeof info);
    Json::Value root;
    EXPECT_TRUE(vexa::parseJson(text, root)) << text;
    return isAldon5OvixAlarmJson(root, info) != 0;
}

using vtest::apiAlert;
std::string vmd(const std::string& body) { return apiAlert("<deviceID>cam1</deviceID><eventType>VMD</eventType>" + body); }

TEST(OvixAlarm, OnlyTableTypesAreSupportedExactly) {
    const struct { const char* type; const char* description; } cases[] = {
        {"VMD", "VMD alarm"}, {"TMPA", "Temperature Measurement Precautionary Alarm"}, {"PIR", "PIR Alarm"},
        {"vmd", nullptr}, {"TMPAs", nullptr}, {"", nullptr}, {"facedetection", nullptr},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        vtest::LogCapture log;
        EXPECT_EQ(fromXml(apiAlert("<deviceID>cam1</deviceID><eventType>" + std::string(c.type) + "</eventType>"), info),
                  c.description != nullptr) << c.type;
        EXPECT_EQ(fromJson(std::string("{\"eventType\":\"") + c.type + "\",\"deviceID\":\"cam1\"}", info),
                  c.description != nullptr) << c.type;
        if (c.description) {
            EXPECT_STREQ(info.szEventType, c.type);
            EXPECT_STREQ(info.szDescription, c.description);
        } else {
            EXPECT_EQ(log.count(std::string("Unsupported event type:") + c.type), 2u) << c.type;
        }
    }
}

// The look-up gets the full identifier; the record's field holds a cut copy.
TEST(OvixAlarm, CommonFieldsTakeOnlyTheirOwnTypes) {
    const std::string d40(40, 'd');
    const struct { const char* name; bool json; std::string doc; std::string fields; } cases[] = {
        {"XML fields in any order", false,
         "<dateTime>2024-05-06T07:08:09+08:00</dateTime><activePostCount>3</activePostCount><channelName>Lobby"
         "</channelName><eventState>active</eventState><channelID>12</channelID><eventType>IO</eventType>"
         "<deviceID>cam1</deviceID>",
         "code=0x0 cat=0 ch=12 post=3 active=1 dev=cam1 sn= name=Lobby time=2024-05-06T07:08:09+08:00"},
        {"XML channel beyond 32 bits saturates", false, "<deviceID>cam1</deviceID><channelID>99999999999</channelID>",
         "code=0x0 cat=0 ch=2147483647 post=0 active=0 dev=cam1 sn= name= time="},
        {"XML texts cut to their fields", false, "<deviceID>" + d40 + "</deviceID><channelName>" +
         std::string(80, 'n') + "</channelName><dateTime>" + d40 + "</dateTime>",
         "code=0x0 cat=0 ch=0 post=0 active=0 dev=" + d40.substr(9) + " sn= name=" + std::string(63, 'n') + " time=" +
         d40.substr(9)},
        {"XML deviceID only deeper down", false, "<x><deviceID>cam1</deviceID></x>", ""},
        {"JSON all fields", true, R"({"eventType":"VMD","deviceID":"cam1","channelID":2,"channelName":"Gate",)"
         R"("activePostCount":4,"eventState":"active","dateTime":"2024-01-01T00:00:00Z"})",
         "code=0x0 cat=0 ch=2 post=4 active=1 dev=cam1 sn= name=Gate time=2024-01-01T00:00:00Z"},
        {"JSON wrong types everywhere", true, R"({"eventType":"VMD","deviceID":5,"channelID":"2","channelName":{},)"
         R"("activePostCount":"4","eventState":1,"dateTime":null})", "code=0x0 cat=0 ch=0 post=0 active=0 dev= sn= name= time="},
        {"JSON channelID beyond 32 bits", true, R"({"eventType":"VMD","channelID":4294967296})",
         "code=0x0 cat=0 ch=0 post=0 active=0 dev= sn= name= time="},
        {"JSON without eventType", true, R"({"deviceID":"cam1","channelID":2})", ""},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        std::string id;
        ASSERT_EQ(c.json ? fromJson(c.doc, info) : fromXml(apiAlert(c.doc), info, &id), !c.fields.empty()) << c.name;
        if (c.fields.empty()) continue;
        EXPECT_EQ(info.dwSize, 8808u) << c.name;
        EXPECT_EQ(vtest::fieldsOf(info), c.fields) << c.name;
        EXPECT_EQ(id.substr(0, 31), c.json ? "" : info.szDeviceID) << c.name;
    }
}

// Member order and types of the payload, the region list's edge shapes, and illegal region
// lists (left out, logged, the event stands).
TEST(OvixAlarm, XmlPayloadMembers) {
    const char* const entry1 = "<DetectionRegionEntry><regionID>1</regionID>";
    const struct { const char* name; std::string body, content; bool illegal; } cases[] = {
        {"document order does not matter",
         "<dynInputIOPortID>5</dynInputIOPortID><URLCertificationType>digest</URLCertificationType>"
         "<thermalInfoURL>c</thermalInfoURL><thermalURL>b</thermalURL><visibleLightURL>a</visibleLightURL>"
         "<detectionPicturesNumber>2</detectionPicturesNumber><inputIOPortID>4</inputIOPortID>",
         R"("detectionPicturesNumber":2,"visibleLightURL":"a","thermalURL":"b","thermalInfoURL":"c",)"
         R"("URLCertificationType":"digest","inputIOPortID":4,"dynInputIOPortID":5)", false},
        {"a port that is not a number stays a text", "<inputIOPortID>A1</inputIOPortID>", R"("inputIOPortID":"A1")", false},
        {"an injected member stays inside the text", "<inputIOPortID>1,\"x\":2</inputIOPortID>",
         R"("inputIOPortID":"1,\"x\":2")", false},
        {"a fraction is a number", "<detectionPicturesNumber>2.5</detectionPicturesNumber>",
         R"("detectionPicturesNumber":2.5)", false},
        {"exponent forms stay texts", "<detectionPicturesNumber>1e3</detectionPicturesNumber>",
         R"("detectionPicturesNumber":"1e3")", false},
        {"empty region list", "<DetectionRegionList/>", R"("DetectionRegionList":[])", false},
        {"coordinates read like atoi, other children skipped",
         "<DetectionRegionList><note/>" + std::string(entry1) + "<RegionCoordinatesList><RegionCoordinates><positionX>"
         "12abc</positionX><positionY></positionY></RegionCoordinates></RegionCoordinatesList><TMPA/><TMA/>"
         "</DetectionRegionEntry></DetectionRegionList>",
         R"("DetectionRegionList":[{"RegionCoordinatesList":[{"positionX":12,"positionY":0}],"TMA":{},"TMPA":{},"regionID":"1"}])",
         false},
        {"second entry without regionID",
         "<DetectionRegionList>" + std::string(entry1) + "</DetectionRegionEntry><DetectionRegionEntry/>"
         "</DetectionRegionList><thermalURL>t</thermalURL>", R"("thermalURL":"t")", true},
        {"coordinate without positionY",
         "<DetectionRegionList>" + std::string(entry1) + "<RegionCoordinatesList><RegionCoordinates><positionX>1"
         "</positionX></RegionCoordinates></RegionCoordinatesList></DetectionRegionEntry></DetectionRegionList>", "", true},
        {"fire detection without any of its values",
         "<DetectionRegionList>" + std::string(entry1) + "<FireDetection><other>1</other></FireDetection>"
         "</DetectionRegionEntry></DetectionRegionList>", "", true},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        AlarmEventInfo info;
        ASSERT_TRUE(fromXml(vmd(c.body), info)) << c.name;
        EXPECT_EQ(std::string(info.szContent), c.content) << c.name;
        EXPECT_EQ(log.contains("xml param is illegal!"), c.illegal) << c.name;
        contentOf(info);
    }
}

// Numbers stay numbers (reals where the device may send fractions), groups stay objects, and the
// thermometry kinds take only their own members.
TEST(OvixAlarm, FireDetectionAndThermometryRegions) {
    AlarmEventInfo info;
    ASSERT_TRUE(fromXml(apiAlert(R"(<eventType>fireDetection</eventType><deviceID>cam1</deviceID><DetectionRegionList>
      <DetectionRegionEntry><regionID>1</regionID><FireDetection>
        <FireRegion><x>0.12</x><y>0.34</y><width>0.05</width><height>0.06</height></FireRegion>
        <fireMaxTemperature>412</fireMaxTemperature><lookDownUpAngle>-1</lookDownUpAngle>
        <PTZAbsoluteEx><elevation>-1.25</elevation><azimuth>270</azimuth></PTZAbsoluteEx>
      </FireDetection></DetectionRegionEntry><DetectionRegionEntry><regionID>2</regionID>
      <TMPA><ruleTemperature>60.5</ruleTemperature><alarmRuleTemperature>55</alarmRuleTemperature>
        <MaximumTemperaturePoint><positionX>12</positionX><positionY>34</positionY></MaximumTemperaturePoint>
        <sensorInfo><identificationCode>0042</identificationCode></sensorInfo></TMPA>
      <TMA><currTemperature>70</currTemperature><alarmRuleTemperature>1</alarmRuleTemperature></TMA>
    </DetectionRegionEntry></DetectionRegionList><visibleLightURL>http://h/v?id=17&amp;sig="x"</visibleLightURL>)"),
                        info));
    const Json::Value v = contentOf(info);
    EXPECT_EQ(std::string(info.szContent).rfind("\"DetectionRegionList\":[", 0), 0u) << info.szContent;
    const Json::Value& list = v["DetectionRegionList"];
    ASSERT_EQ(list.size(), 2u);
    const Json::Value& fire = list[0]["FireDetection"];
    EXPECT_DOUBLE_EQ(fire["FireRegion"]["width"].asDouble(), 0.05);
    EXPECT_EQ(fire["fireMaxTemperature"].asInt(), 412);
    EXPECT_TRUE(fire["lookDownUpAngle"].isDouble() && fire["PTZAbsoluteEx"]["azimuth"].isDouble());
    const Json::Value& tmpa = list[1]["TMPA"];
    EXPECT_DOUBLE_EQ(tmpa["ruleTemperature"].asDouble(), 60.5);
    EXPECT_EQ(tmpa["alarmRuleTemperature"].asInt(), 55);
    EXPECT_EQ(tmpa["MaximumTemperaturePoint"]["positionY"].asInt(), 34);
    EXPECT_EQ(tmpa["sensorInfo"]["identificationCode"].asString(), "0042");
    EXPECT_EQ(list[1]["TMA"]["currTemperature"].asInt(), 70);
    EXPECT_FALSE(list[1]["TMA"].isMember("alarmRuleTemperature"));
    EXPECT_EQ(v["visibleLightURL"].asString(), "http://h/v?id=17&sig=\"x\"");
}

TEST(OvixAlarm, OversizedContentStaysValidJsonWithinTheField) {
    std::string longTexts, manyNumbers, fractions;
    for (int i = 0; i < 60; ++i)
        longTexts += "<DetectionRegionEntry><regionID>" + std::string(400, 'r') + std::to_string(i) +
                     "</regionID></DetectionRegionEntry>";
    const std::string point = "<RegionCoordinates><positionX>-2000000000</positionX><positionY>-2000000000</positionY>"
                              "</RegionCoordinates>";
    for (int i = 0; i < 400; ++i)
        manyNumbers += "<DetectionRegionEntry><regionID>" + std::to_string(i) + "</regionID><RegionCoordinatesList>" +
                       point + point + point + point + "</RegionCoordinatesList></DetectionRegionEntry>";
    for (int i = 0; i < 900; ++i) fractions += std::string(i ? "," : "") + "0.1";
    const struct { const char* name; std::string list; bool json; size_t minEntries, maxEntries; } cases[] = {
        {"long region texts are shortened, every entry kept", longTexts, false, 60, 60},
        {"numbers alone too many: trailing entries go", manyNumbers, false, 1, 399},
        {"JSON list of many fractions", fractions, true, 1, 899},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        const std::string url(3000, 'v');
        ASSERT_TRUE(c.json ? fromJson(R"({"eventType":"VMD","visibleLightURL":")" + url +
                                          R"(","DetectionRegionList":[)" + c.list + "]}", info)
                           : fromXml(vmd("<DetectionRegionList>" + c.list + "</DetectionRegionList><visibleLightURL>" +
                                         url + "</visibleLightURL>"), info)) << c.name;
        EXPECT_GT(strlen(info.szContent), 4000u) << c.name;
        const Json::Value v = contentOf(info);
        EXPECT_GE(v["DetectionRegionList"].size(), c.minEntries) << c.name;
        EXPECT_LE(v["DetectionRegionList"].size(), c.maxEntries) << c.name;
        EXPECT_TRUE(v["visibleLightURL"].isString()) << c.name;
    }
}

TEST(OvixAlarm, JsonPayloadMembersAndTheirTypes) {
    const struct { const char* name; const char* text; std::string content; bool illegal; } cases[] = {
        {"all members in their order",
         R"({"eventType":"VMD","URLCertificationType":"basic","thermalURL":"t","visibleLightURL":"v","detectionPicturesNumber":3,"DetectionRegionList":[{"regionID":"1","x":[1,2]}],"inputIOPortID":5})",
         R"("DetectionRegionList":[{"regionID":"1","x":[1,2]}],"detectionPicturesNumber":3,"visibleLightURL":"v",)"
         R"("thermalURL":"t","URLCertificationType":"basic")", false},
        {"picture count given as a numeric text", R"({"eventType":"VMD","detectionPicturesNumber":"4"})",
         R"("detectionPicturesNumber":4)", false},
        {"URL of the wrong type", R"({"eventType":"VMD","thermalURL":5,"visibleLightURL":"v"})", "", true},
        {"region list of the wrong type", R"({"eventType":"VMD","DetectionRegionList":"x"})", "", true},
        {"picture count of the wrong type", R"({"eventType":"VMD","detectionPicturesNumber":true})", "", true},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        AlarmEventInfo info;
        ASSERT_TRUE(fromJson(c.text, info)) << c.name;
        EXPECT_EQ(std::string(info.szContent), c.content) << c.name;
        EXPECT_EQ(log.contains("json param is illegal!"), c.illegal) << c.name;
    }
}

}  // namespace
