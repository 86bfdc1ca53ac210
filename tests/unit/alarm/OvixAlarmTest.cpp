// Device-API alarm documents (XML and JSON) into host event records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "alarm/AlarmMsgMgr.h"
#include "common/JsonUtil.h"
#include "alarm/OvixAlarm.h"
#include "EventSink.h"
#include "AlarmTestGate.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"

namespace {

using vtest::onEvent;
using vtest::Sink;

class OvixAlarm : public ::testing::Test {
protected:
    void SetUp() override {
        dev = std::make_shared<CVexaDevice>();
        dev->SetEventCallBack(&onEvent, &sink);
        dev->Connect_V2("DeviceId=cam1;AlarmActiveStatus=active;");
        dev->setLogin({-1, "10.0.0.9", 8000, "v5", "SN-CAM-0001"});
    }
    void TearDown() override { dev->DisConnect(); }

    // Converts an XML document the way the worker does; false when it is no device-API alarm.
    static bool fromXml(const std::string& text, AlarmEventInfo& info) {
        memset(&info, 0, sizeof info);
        CXmlBase xml;
        xml.load(text);
        return isAldon5OvixAlarmXml(xml, info) != 0;
    }
    static bool fromJson(const std::string& text, AlarmEventInfo& info) {
        memset(&info, 0, sizeof info);
        Json::Value root;
        EXPECT_TRUE(vexa::parseJson(text, root)) << text;
        return isAldon5OvixAlarmJson(root, info) != 0;
    }
    static Json::Value content(const AlarmEventInfo& info) {
        const size_t len = strnlen(info.szContent, sizeof info.szContent);
        EXPECT_LT(len, sizeof info.szContent);
        Json::Value v;
        EXPECT_TRUE(vexa::parseJson("{" + std::string(info.szContent, len) + "}", v)) << info.szContent;
        return v;
    }

    Sink sink;
    std::shared_ptr<CVexaDevice> dev;
};

std::string alert(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<EventNotificationAlert version=\"2.0\">" + body +
           "</EventNotificationAlert>";
}

TEST_F(OvixAlarm, EveryTableTypeIsSupportedAndNothingElse) {
    const struct { const char* type; const char* description; } cases[] = {
        {"IO", "IO alarm"}, {"VMD", "VMD alarm"}, {"diskerror", "diskerror alarm"}, {"diskfull", "diskfull alarm"},
        {"diskrecover", "diskrecover alarm"}, {"fielddetection", "fielddetection alarm"},
        {"linedetection", "linedetection alarm"}, {"rapidMove", "rapidMove alarm"},
        {"recordException", "recordException alarm"}, {"regionEntrance", "regionEntrance alarm"},
        {"regionExiting", "regionExiting alarm"}, {"shelteralarm", "shelteralarm alarm"},
        {"videoloss", "videoloss alarm"}, {"fireDetection", "fireDetection alarm"},
        {"TMPA", "Temperature Measurement Precautionary Alarm"}, {"TMA", "Temperature Measurement Alarm"},
        {"TDA", "Temperature Diff Alarm"}, {"PIR", "PIR Alarm"},
        {"vmd", nullptr}, {"Io", nullptr}, {"TMPAs", nullptr}, {"", nullptr}, {"facedetection", nullptr},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        vtest::LogCapture log;
        const bool ok = fromXml(alert("<deviceID>cam1</deviceID><eventType>" + std::string(c.type) + "</eventType>"), info);
        EXPECT_EQ(ok, c.description != nullptr) << c.type;
        const bool okJson = fromJson(std::string("{\"eventType\":\"") + c.type + "\",\"deviceID\":\"cam1\"}", info);
        EXPECT_EQ(okJson, c.description != nullptr) << c.type;
        if (c.description) {
            EXPECT_STREQ(info.szEventType, c.type);
            EXPECT_STREQ(info.szDescription, c.description);
        } else {
            EXPECT_EQ(log.count(std::string("Unsupported event type:") + c.type), 2u) << c.type;
        }
    }
}

TEST_F(OvixAlarm, CommonFieldsOfTheXmlForm) {
    const struct { const char* name; std::string body; bool ok; int channel, postCount; unsigned active; std::string device, type, channelName, time; } cases[] = {
        {"VMD, channel 2, not active",
         "<eventType>VMD</eventType><channelID>2</channelID><eventState>inactive</eventState><deviceID>cam1</deviceID>",
         true, 2, 0, 0, "cam1", "VMD", "", ""},
        {"fields in any order",
         "<dateTime>2024-05-06T07:08:09+08:00</dateTime><activePostCount>3</activePostCount>"
         "<channelName>Lobby</channelName><eventState>active</eventState><channelID>12</channelID>"
         "<eventType>IO</eventType><deviceID>cam1</deviceID>",
         true, 12, 3, 1, "cam1", "IO", "Lobby", "2024-05-06T07:08:09+08:00"},
        {"no eventType", "<deviceID>cam1</deviceID>", true, 0, 0, 0, "cam1", "", "", ""},
        {"state in another case", "<deviceID>cam1</deviceID><eventState>Active</eventState>", true, 0, 0, 0, "cam1", "",
         "", ""},
        {"channel text read like atoi", "<deviceID>cam1</deviceID><channelID> 7x</channelID>", true, 7, 0, 0, "cam1", "",
         "", ""},
        {"channel beyond 32 bits saturates", "<deviceID>cam1</deviceID><channelID>99999999999</channelID>", true,
         2147483647, 0, 0, "cam1", "", "", ""},
        {"texts cut to their fields",
         "<deviceID>" + std::string(40, 'd') + "</deviceID><channelName>" + std::string(80, 'n') +
             "</channelName><dateTime>" + std::string(40, 't') + "</dateTime>",
         true, 0, 0, 0, std::string(31, 'd'), "", std::string(63, 'n'), std::string(31, 't')},
        {"deviceID only deeper down", "<x><deviceID>cam1</deviceID></x>", false, 0, 0, 0, "", "", "", ""},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        ASSERT_EQ(fromXml(alert(c.body), info), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(info.dwSize, 8808u) << c.name;
        EXPECT_EQ(info.dwEventCode, 0u) << c.name;
        EXPECT_EQ(info.dwCategory, 0u) << c.name;
        EXPECT_EQ(info.iChannel, c.channel) << c.name;
        EXPECT_EQ(info.iActivePostCount, c.postCount) << c.name;
        EXPECT_EQ(info.dwActive, c.active) << c.name;
        EXPECT_EQ(std::string(info.szDeviceID), c.device) << c.name;
        EXPECT_EQ(std::string(info.szEventType), c.type) << c.name;
        EXPECT_EQ(std::string(info.szName), c.channelName) << c.name;
        EXPECT_EQ(std::string(info.szTime), c.time) << c.name;
    }
}

TEST_F(OvixAlarm, CommonFieldsOfTheJsonFormTakeOnlyTheirOwnTypes) {
    const struct { const char* name; const char* text; bool ok; int channel, postCount; unsigned active; const char *device, *channelName; } cases[] = {
        {"all fields", R"({"eventType":"VMD","deviceID":"cam1","channelID":2,"channelName":"Gate","activePostCount":4,"eventState":"active","dateTime":"2024-01-01T00:00:00Z"})",
         true, 2, 4, 1, "cam1", "Gate"},
        {"channelID as a text", R"({"eventType":"VMD","deviceID":"cam1","channelID":"2"})", true, 0, 0, 0, "cam1", ""},
        {"wrong types everywhere", R"({"eventType":"VMD","deviceID":5,"channelID":[2],"channelName":{},"activePostCount":"4","eventState":1,"dateTime":null})",
         true, 0, 0, 0, "", ""},
        {"channelID beyond 32 bits", R"({"eventType":"VMD","channelID":4294967296})", true, 0, 0, 0, "", ""},
        {"no eventType", R"({"deviceID":"cam1","channelID":2})", false, 0, 0, 0, "", ""},
        {"not an object", R"(["eventType","VMD"])", false, 0, 0, 0, "", ""},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        ASSERT_EQ(fromJson(c.text, info), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(info.dwSize, 8808u) << c.name;
        EXPECT_EQ(info.iChannel, c.channel) << c.name;
        EXPECT_EQ(info.iActivePostCount, c.postCount) << c.name;
        EXPECT_EQ(info.dwActive, c.active) << c.name;
        EXPECT_EQ(std::string(info.szDeviceID), c.device) << c.name;
        EXPECT_EQ(std::string(info.szName), c.channelName) << c.name;
    }
}

TEST_F(OvixAlarm, XmlPayloadMembersKeepTheirOrderAndTypes) {
    const struct { const char* name; std::string body; std::string content; } cases[] = {
        {"URL and port", "<visibleLightURL>http://h/1.jpg</visibleLightURL><inputIOPortID>3</inputIOPortID>",
         R"("visibleLightURL":"http://h/1.jpg","inputIOPortID":3)"},
        {"document order does not matter",
         "<dynInputIOPortID>5</dynInputIOPortID><URLCertificationType>digest</URLCertificationType>"
         "<thermalInfoURL>c</thermalInfoURL><thermalURL>b</thermalURL><visibleLightURL>a</visibleLightURL>"
         "<detectionPicturesNumber>2</detectionPicturesNumber><inputIOPortID>4</inputIOPortID>",
         R"("detectionPicturesNumber":2,"visibleLightURL":"a","thermalURL":"b","thermalInfoURL":"c",)"
         R"("URLCertificationType":"digest","inputIOPortID":4,"dynInputIOPortID":5)"},
        {"a port that is not a number stays a text", "<inputIOPortID>A1</inputIOPortID>", R"("inputIOPortID":"A1")"},
        {"an empty port is an empty text", "<inputIOPortID/>", R"("inputIOPortID":"")"},
        {"negative and leading zeros are numbers", "<inputIOPortID>-007</inputIOPortID>", R"("inputIOPortID":-7)"},
        {"an injected member stays inside the text", "<inputIOPortID>1,\"x\":2</inputIOPortID>",
         R"("inputIOPortID":"1,\"x\":2")"},
        {"a fraction is a number", "<detectionPicturesNumber>2.5</detectionPicturesNumber>",
         R"("detectionPicturesNumber":2.5)"},
        {"exponent forms stay texts", "<detectionPicturesNumber>1e3</detectionPicturesNumber>",
         R"("detectionPicturesNumber":"1e3")"},
        {"too many digits for a number", "<inputIOPortID>1234567890123456789012</inputIOPortID>",
         R"("inputIOPortID":"1234567890123456789012")"},
        {"no payload", "", ""},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        ASSERT_TRUE(fromXml(alert("<deviceID>cam1</deviceID><eventType>IO</eventType>" + c.body), info)) << c.name;
        EXPECT_EQ(std::string(info.szContent), c.content) << c.name;
        content(info);
    }
}

TEST_F(OvixAlarm, TextsWithQuotesBackslashesAndControlsStayValidJson) {
    const std::string nasty = "a\"b\\c\"}, {\"x\":1 &lt;end&gt;";
    AlarmEventInfo info;
    ASSERT_TRUE(fromXml(alert("<deviceID>cam1</deviceID><eventType>VMD</eventType><channelName>" + nasty +
                              "</channelName><thermalURL>" + nasty + "</thermalURL><URLCertificationType>&#x1;" +
                              "</URLCertificationType>"),
                        info));
    const Json::Value v = content(info);
    EXPECT_EQ(v["thermalURL"].asString(), "a\"b\\c\"}, {\"x\":1 <end>");
    EXPECT_EQ(v.size(), 2u);
    EXPECT_EQ(std::string(info.szName), "a\"b\\c\"}, {\"x\":1 <end>");

    ASSERT_TRUE(fromJson(R"({"eventType":"VMD","visibleLightURL":"q\"\\\u0002","thermalURL":"ok"})", info));
    const Json::Value j = content(info);
    EXPECT_EQ(j["visibleLightURL"].asString(), "q\"\\\x02");
}

const char* const kRealistic = R"(<?xml version="1.0" encoding="UTF-8"?>
<EventNotificationAlert version="2.0" xmlns="urn:example:event">
  <ipAddress>10.1.2.3</ipAddress>
  <portNo>80</portNo>
  <protocol>HTTP</protocol>
  <macAddress>44:19:b6:00:00:01</macAddress>
  <channelID>1</channelID>
  <dateTime>2024-07-01T12:30:45+08:00</dateTime>
  <activePostCount>1</activePostCount>
  <eventType>fireDetection</eventType>
  <eventState>active</eventState>
  <eventDescription>Fire Detection</eventDescription>
  <channelName>Thermal Ridge</channelName>
  <deviceID>cam1</deviceID>
  <DetectionRegionList>
    <DetectionRegionEntry>
      <regionID>1</regionID>
      <RegionCoordinatesList>
        <RegionCoordinates><positionX>100</positionX><positionY>200</positionY></RegionCoordinates>
        <RegionCoordinates><positionX>300</positionX><positionY>400</positionY></RegionCoordinates>
      </RegionCoordinatesList>
      <FireDetection>
        <FireRegion><x>0.12</x><y>0.34</y><width>0.05</width><height>0.06</height></FireRegion>
        <HighestPoint><x>0.13</x><y>0.35</y></HighestPoint>
        <temperatureUnit>celsius</temperatureUnit>
        <fireMaxTemperature>412</fireMaxTemperature>
        <targetDistance>1200</targetDistance>
        <AbsoluteHigh><elevation>-15</elevation><azimuth>2705</azimuth><absoluteZoom>10</absoluteZoom></AbsoluteHigh>
        <lookDownUpAngle>-1.5</lookDownUpAngle>
        <PTZAbsoluteEx><elevation>-1.25</elevation><azimuth>270</azimuth><absoluteZoom>1.5</absoluteZoom></PTZAbsoluteEx>
      </FireDetection>
    </DetectionRegionEntry>
    <DetectionRegionEntry>
      <regionID>2</regionID>
      <TMPA>
        <thermometryUnit>celsius</thermometryUnit>
        <ruleTemperature>60.5</ruleTemperature>
        <currTemperature>58</currTemperature>
        <alarmRuleTemperature>55</alarmRuleTemperature>
        <ruleCalibType>0</ruleCalibType>
        <ruleType>highestGreater</ruleType>
        <MaximumTemperaturePoint><positionX>12</positionX><positionY>34</positionY></MaximumTemperaturePoint>
        <RegionCoordinates><positionX>5</positionX><positionY>6</positionY></RegionCoordinates>
        <presetNo>3</presetNo>
        <sensorInfo><sensorName>T-1</sensorName><sensorType>thermal</sensorType><identificationCode>0042</identificationCode></sensorInfo>
      </TMPA>
      <TMA><currTemperature>70</currTemperature><alarmRuleTemperature>1</alarmRuleTemperature></TMA>
    </DetectionRegionEntry>
  </DetectionRegionList>
  <detectionPicturesNumber>2</detectionPicturesNumber>
  <visibleLightURL>http://10.1.2.3/pic/visible?id=17&amp;sig="x"</visibleLightURL>
  <thermalURL>http://10.1.2.3/pic/thermal?id=17</thermalURL>
  <URLCertificationType>digest</URLCertificationType>
</EventNotificationAlert>)";

TEST_F(OvixAlarm, RealisticFireDetectionAlarmReachesTheHostWhole) {
    CAlarmMsgMgr::instance()->processAlarm(kRealistic);
    ASSERT_EQ(sink.events.size(), 1u);
    const AlarmEventInfo& e = sink.events[0];
    EXPECT_STREQ(e.szDescription, "fireDetection alarm");
    EXPECT_STREQ(e.szSerialNo, "SN-CAM-0001");
    EXPECT_STREQ(e.szName, "Thermal Ridge");
    EXPECT_EQ(e.iChannel, 1);
    EXPECT_EQ(e.dwActive, 1u);
    const Json::Value v = content(e);
    EXPECT_EQ(std::string(e.szContent).rfind("\"DetectionRegionList\":[", 0), 0u) << e.szContent;
    const Json::Value& list = v["DetectionRegionList"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["regionID"].asString(), "1");
    ASSERT_EQ(list[0]["RegionCoordinatesList"].size(), 2u);
    EXPECT_EQ(list[0]["RegionCoordinatesList"][1]["positionY"].asInt(), 400);
    const Json::Value& fire = list[0]["FireDetection"];
    EXPECT_DOUBLE_EQ(fire["FireRegion"]["width"].asDouble(), 0.05);
    EXPECT_EQ(fire["HighestPoint"].size(), 2u);
    EXPECT_EQ(fire["temperatureUnit"].asString(), "celsius");
    EXPECT_EQ(fire["fireMaxTemperature"].asInt(), 412);
    EXPECT_EQ(fire["AbsoluteHigh"]["azimuth"].asInt(), 2705);
    EXPECT_TRUE(fire["lookDownUpAngle"].isDouble());
    EXPECT_TRUE(fire["PTZAbsoluteEx"]["azimuth"].isDouble());
    EXPECT_DOUBLE_EQ(fire["PTZAbsoluteEx"]["elevation"].asDouble(), -1.25);
    const Json::Value& tmpa = list[1]["TMPA"];
    EXPECT_DOUBLE_EQ(tmpa["ruleTemperature"].asDouble(), 60.5);
    EXPECT_EQ(tmpa["alarmRuleTemperature"].asInt(), 55);
    EXPECT_EQ(tmpa["ruleType"].asString(), "highestGreater");
    EXPECT_EQ(tmpa["MaximumTemperaturePoint"]["positionY"].asInt(), 34);
    EXPECT_EQ(tmpa["RegionCoordinates"]["positionX"].asInt(), 5);
    EXPECT_EQ(tmpa["sensorInfo"]["identificationCode"].asString(), "0042");
    EXPECT_EQ(list[1]["TMA"]["currTemperature"].asInt(), 70);
    EXPECT_FALSE(list[1]["TMA"].isMember("alarmRuleTemperature"));
    EXPECT_FALSE(list[1].isMember("FireDetection"));
    EXPECT_EQ(v["detectionPicturesNumber"].asInt(), 2);
    EXPECT_EQ(v["visibleLightURL"].asString(), "http://10.1.2.3/pic/visible?id=17&sig=\"x\"");
    EXPECT_EQ(v["URLCertificationType"].asString(), "digest");
}

TEST_F(OvixAlarm, IllegalRegionListsAreLeftOutButTheEventStands) {
    const struct { const char* name; std::string list; } cases[] = {
        {"entry without regionID", "<DetectionRegionEntry><RegionCoordinatesList/></DetectionRegionEntry>"},
        {"second entry without regionID",
         "<DetectionRegionEntry><regionID>1</regionID></DetectionRegionEntry><DetectionRegionEntry/>"},
        {"coordinate without positionY",
         "<DetectionRegionEntry><regionID>1</regionID><RegionCoordinatesList><RegionCoordinates>"
         "<positionX>1</positionX></RegionCoordinates></RegionCoordinatesList></DetectionRegionEntry>"},
        {"fire detection without any of its values",
         "<DetectionRegionEntry><regionID>1</regionID><FireDetection><other>1</other></FireDetection>"
         "</DetectionRegionEntry>"},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        sink.events.clear();
        CAlarmMsgMgr::instance()->processAlarm(
            alert("<deviceID>cam1</deviceID><eventType>VMD</eventType><DetectionRegionList>" + c.list +
                  "</DetectionRegionList><thermalURL>t</thermalURL>"));
        ASSERT_EQ(sink.events.size(), 1u) << c.name;
        EXPECT_EQ(std::string(sink.events[0].szContent), "\"thermalURL\":\"t\"") << c.name;
        EXPECT_TRUE(log.contains("xml param is illegal!")) << c.name;
    }
}

TEST_F(OvixAlarm, RegionListEdgeShapes) {
    const struct { const char* name; std::string list; std::string content; } cases[] = {
        {"empty list", "", R"("DetectionRegionList":[])"},
        {"entry without coordinates", "<DetectionRegionEntry><regionID>r</regionID></DetectionRegionEntry>",
         R"("DetectionRegionList":[{"RegionCoordinatesList":[],"regionID":"r"}])"},
        {"coordinates read like atoi",
         "<DetectionRegionEntry><regionID>1</regionID><RegionCoordinatesList><RegionCoordinates><positionX>12abc"
         "</positionX><positionY></positionY></RegionCoordinates></RegionCoordinatesList></DetectionRegionEntry>",
         R"("DetectionRegionList":[{"RegionCoordinatesList":[{"positionX":12,"positionY":0}],"regionID":"1"}])"},
        {"other children between entries",
         "<note/><DetectionRegionEntry><regionID>1</regionID></DetectionRegionEntry><note/>"
         "<DetectionRegionEntry><regionID>2</regionID></DetectionRegionEntry>",
         R"("DetectionRegionList":[{"RegionCoordinatesList":[],"regionID":"1"},{"RegionCoordinatesList":[],"regionID":"2"}])"},
        {"empty TMPA and TMA",
         "<DetectionRegionEntry><regionID>1</regionID><TMPA/><TMA/></DetectionRegionEntry>",
         R"("DetectionRegionList":[{"RegionCoordinatesList":[],"TMA":{},"TMPA":{},"regionID":"1"}])"},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        ASSERT_TRUE(fromXml(alert("<deviceID>cam1</deviceID><DetectionRegionList>" + c.list + "</DetectionRegionList>"),
                            info))
            << c.name;
        EXPECT_EQ(std::string(info.szContent), c.content) << c.name;
    }
}

TEST_F(OvixAlarm, OversizedContentStaysValidJsonWithinTheField) {
    std::string longTexts, manyNumbers;
    for (int i = 0; i < 60; ++i)
        longTexts += "<DetectionRegionEntry><regionID>" + std::string(400, 'r') + std::to_string(i) +
                     "</regionID></DetectionRegionEntry>";
    for (int i = 0; i < 400; ++i) {
        manyNumbers += "<DetectionRegionEntry><regionID>" + std::to_string(i) + "</regionID><RegionCoordinatesList>";
        for (int k = 0; k < 4; ++k)
            manyNumbers += "<RegionCoordinates><positionX>-2000000000</positionX><positionY>-2000000000</positionY>"
                           "</RegionCoordinates>";
        manyNumbers += "</RegionCoordinatesList></DetectionRegionEntry>";
    }
    const struct { const char* name; std::string list; size_t minEntries, maxEntries; } cases[] = {
        {"long region texts are shortened, every entry kept", longTexts, 60, 60},
        {"numbers alone too many: trailing entries go", manyNumbers, 1, 399},
    };
    for (const auto& c : cases) {
        AlarmEventInfo info;
        ASSERT_TRUE(fromXml(alert("<deviceID>cam1</deviceID><eventType>VMD</eventType><DetectionRegionList>" + c.list +
                                  "</DetectionRegionList><visibleLightURL>" + std::string(3000, 'v') +
                                  "</visibleLightURL>"),
                            info))
            << c.name;
        const size_t len = strnlen(info.szContent, sizeof info.szContent);
        EXPECT_GT(len, 4000u) << c.name;
        EXPECT_LE(len, 8191u) << c.name;
        const Json::Value v = content(info);
        EXPECT_GE(v["DetectionRegionList"].size(), c.minEntries) << c.name;
        EXPECT_LE(v["DetectionRegionList"].size(), c.maxEntries) << c.name;
        EXPECT_TRUE(v["visibleLightURL"].isString()) << c.name;
    }
}

TEST_F(OvixAlarm, JsonPayloadMembersAndTheirTypes) {
    const struct { const char* name; const char* text; std::string content; bool illegal; } cases[] = {
        {"all members in their order",
         R"({"eventType":"VMD","URLCertificationType":"basic","thermalURL":"t","visibleLightURL":"v","detectionPicturesNumber":3,"DetectionRegionList":[{"regionID":"1","x":[1,2]}],"inputIOPortID":5})",
         R"("DetectionRegionList":[{"regionID":"1","x":[1,2]}],"detectionPicturesNumber":3,"visibleLightURL":"v",)"
         R"("thermalURL":"t","URLCertificationType":"basic")",
         false},
        {"picture count given as a numeric text", R"({"eventType":"VMD","detectionPicturesNumber":"4"})",
         R"("detectionPicturesNumber":4)", false},
        {"URL of the wrong type", R"({"eventType":"VMD","thermalURL":5,"visibleLightURL":"v"})", "", true},
        {"region list of the wrong type", R"({"eventType":"VMD","DetectionRegionList":"x"})", "", true},
        {"picture count of the wrong type", R"({"eventType":"VMD","detectionPicturesNumber":true})", "", true},
        {"no payload", R"({"eventType":"VMD"})", "", false},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        AlarmEventInfo info;
        ASSERT_TRUE(fromJson(c.text, info)) << c.name;
        EXPECT_EQ(std::string(info.szContent), c.content) << c.name;
        EXPECT_EQ(log.contains("json param is illegal!"), c.illegal) << c.name;
    }
}

TEST_F(OvixAlarm, JsonRegionListOfManyFractionsIsCutToFit) {
    std::string list;
    for (int i = 0; i < 900; ++i) list += std::string(i ? "," : "") + "0.1";
    AlarmEventInfo info;
    ASSERT_TRUE(fromJson(R"({"eventType":"VMD","DetectionRegionList":[)" + list + "]}", info));
    const Json::Value v = content(info);
    EXPECT_GT(v["DetectionRegionList"].size(), 0u);
    EXPECT_LT(v["DetectionRegionList"].size(), 900u);
}

TEST_F(OvixAlarm, DeliveryNeedsARegisteredDevice) {
    const struct { const char* name; const char* device; int result; size_t events; } cases[] = {
        {"registered", "cam1", 0, 1}, {"not registered", "ghost", -1, 0}, {"empty identifier", "", -1, 0},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        sink.events.clear();
        AlarmEventInfo info;
        memset(&info, 0, sizeof info);
        strcpy(info.szDeviceID, c.device);
        strcpy(info.szContent, "\"a\":1");
        EXPECT_EQ(ProcOVIXAlarmReq(info), c.result) << c.name;
        ASSERT_EQ(sink.events.size(), c.events) << c.name;
        if (c.events) {
            EXPECT_STREQ(sink.events[0].szSerialNo, "SN-CAM-0001");
            EXPECT_STREQ(sink.events[0].szContent, "\"a\":1");
        } else {
            EXPECT_TRUE(log.contains(std::string("4 VEXA_DEV [CAlarmMsgMgr::ProcOVIXAlarmReq(")) &&
                        log.contains(std::string("Get Sub Device fail, DevID:") + c.device))
                << c.name;
        }
    }
}

}  // namespace
