// The alarm worker's classification: which converter a text reaches, what is logged and what the
// host receives, with real device objects in the registry.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AlarmMsgMgr.h"
#include "JsonUtil.h"
#include "EventSink.h"
#include "TestSupport.h"
#include "VexaDevice.h"
#include "VexaDeviceMgr.h"

namespace {

using vtest::onEvent;
using vtest::Sink;

class AlarmWorker : public ::testing::Test {
protected:
    std::shared_ptr<CVexaDevice> add(const std::string& id, const char* active = "active") {
        auto d = std::make_shared<CVexaDevice>();
        d->SetEventCallBack(&onEvent, &sink);
        d->Connect_V2(("DeviceId=" + id + ";AlarmActiveStatus=" + active + ";").c_str());
        devices.push_back(d);
        return d;
    }
    void TearDown() override {
        for (auto& d : devices) d->DisConnect();
    }
    void run(const std::string& text) { CAlarmMsgMgr::instance()->processAlarm(text); }

    Sink sink;
    std::vector<std::shared_ptr<CVexaDevice>> devices;
};

std::string alert(const std::string& device, const std::string& type, const std::string& extra = "") {
    return "<EventNotificationAlert version=\"2.0\"><deviceID>" + device + "</deviceID><eventType>" + type +
           "</eventType><eventState>active</eventState>" + extra + "</EventNotificationAlert>";
}

std::string zorna(const std::string& command, const std::string& params) {
    return "<?xml version=\"1.0\" encoding=\"GB2312\"?><ZORNAMessage><Version>3.0</Version><Sequence>7</Sequence>"
           "<CommandType>REQUEST</CommandType><Command>" +
           command + "</Command><Params>" + params + "</Params></ZORNAMessage>";
}

TEST_F(AlarmWorker, ClassifiesEveryKindOfText) {
    add("dev1");
    std::string nested;
    for (int i = 0; i < 70; ++i) nested += "<a>";
    for (int i = 0; i < 70; ++i) nested += "</a>";
    const struct { const char* name; std::string text; size_t events; std::vector<std::string> logged; std::vector<std::string> notLogged; } cases[] = {
        {"device-API XML alarm", alert("dev1", "VMD"), 1, {}, {"Msg is not", "parse xml failed"}},
        {"device-API JSON alarm", R"({"eventType":"PIR","deviceID":"dev1"})", 1, {}, {"parse xml failed"}},
        {"ZORNA ALARM", zorna("ALARM", "<DeviceID>dev1</DeviceID><Type>8</Type><VideoChannel>4</VideoChannel>"), 1,
         {"EVENT_TYPE_VIDEO_MOTION, dev1, 4"}, {"ProcFERROAlarmReq fail"}},
        {"other root", "<Other><deviceID>dev1</deviceID></Other>", 0,
         {"5 VEXA_DEV [CAlarmMsgMgr::processAlarmTaskThread(", "Msg is not OVIXAlarm or ZORNAMessage.[<Other>"}, {}},
        {"unsupported event type", alert("dev1", "vmd"), 0,
         {"3 VEXA_DEV", "Unsupported event type:vmd", "Msg is not OVIXAlarm or ZORNAMessage."}, {}},
        {"alert without deviceID", "<EventNotificationAlert><eventType>VMD</eventType></EventNotificationAlert>", 0,
         {"cannot find deviceID element", "Msg is not OVIXAlarm or ZORNAMessage."}, {}},
        {"ZORNA other command", zorna("HEARTBEAT", "<DeviceID>dev1</DeviceID>"), 0, {},
         {"Msg is not", "fail.", "parse xml failed"}},
        {"ZORNA command in lower case", zorna("alarm", "<DeviceID>dev1</DeviceID><Type>8</Type>"), 0, {},
         {"Msg is not", "fail.", "EVENT_TYPE"}},
        {"ZORNA ALARM of an unknown device", zorna("ALARM", "<DeviceID>ghost</DeviceID><Type>8</Type>"), 0,
         {"GetDeviceImpl fail, DevID:ghost", "ProcFERROAlarmReq fail."}, {}},
        {"ZORNA ALARM without Params",
         "<ZORNAMessage><CommandType>REQUEST</CommandType><Command>ALARM</Command></ZORNAMessage>", 0,
         {"parse alarm data fail!", "ProcFERROAlarmReq fail."}, {}},
        {"ZORNA CIDREPORT of an unknown device", zorna("CIDREPORT", "<DeviceID>ghost</DeviceID><CIDParam>1,2,3,4</CIDParam>"),
         0, {"procFERROCidReportReq fail."}, {"ProcFERROAlarmReq"}},
        {"device-API XML alarm of an unknown device", alert("ghost", "VMD"), 0, {},
         {"Get Sub Device fail", "ProcAldon5OVIXAlarm fail", "Msg is not"}},
        {"device-API JSON alarm of an unknown device", R"({"eventType":"VMD","deviceID":"ghost"})", 0, {},
         {"Get Sub Device fail", "ProcAldon5OVIXAlarm fail", "parse xml failed"}},
        {"JSON alarm without deviceID", R"({"eventType":"VMD"})", 0, {}, {"Get Sub Device fail"}},
        {"neither XML nor JSON", "hello", 0, {"parse xml failed,[hello]"}, {}},
        {"empty text", "", 0, {"parse xml failed,[]"}, {}},
        {"JSON array", "[1,2,3]", 0, {}, {"parse xml failed", "procCidAlarmJson"}},
        {"JSON number", "42", 0, {}, {"parse xml failed", "procCidAlarmJson"}},
        {"JSON eventType not a text", R"({"eventType":7,"deviceID":"dev1"})", 0, {}, {"Unsupported"}},
        // Malformed markup of every kind the markup parse records falls through to the JSON branch.
        {"root has sibling", alert("dev1", "VMD") + "<b/>", 0, {"parse xml failed"}, {}},
        {"never ended", "<EventNotificationAlert><deviceID>dev1</deviceID>", 0, {"parse xml failed"}, {}},
        {"wrong end tag", "<a><b></a>", 0, {"parse xml failed"}, {}},
        {"stray end tag", "<a></a></b>", 0, {"parse xml failed"}, {}},
        {"bad tag name character", "<a><%b/></a>", 0, {"parse xml failed"}, {}},
        // The markup test lets this through; the device-API parse does not, so it is no alarm.
        {"tag name starting with a digit", "<1a/>", 0, {"Msg is not OVIXAlarm or ZORNAMessage.[<1a/>]"}, {}},
        {"unended processing instruction", "<?xml version=\"1.0\"<a/>", 0, {"parse xml failed"}, {}},
        {"unended comment", "<a><!-- x</a>", 0, {"parse xml failed"}, {}},
        {"unended CDATA", "<a><![CDATA[x</a>", 0, {"parse xml failed"}, {}},
        {"bad doctype", "<!DOCTYPE <a/>", 0, {"parse xml failed"}, {}},
        {"bad comment tag", "<a><!- x --></a>", 0, {"parse xml failed"}, {}},
        {"bad ! tag", "<a><!x></a>", 0, {"parse xml failed"}, {}},
        {"unended start tag", "<a x=\"1\"", 0, {"parse xml failed"}, {}},
        {"no root element", "just text <", 0, {"parse xml failed"}, {}},
        {"nesting too deep", nested, 0, {"parse xml failed"}, {}},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        sink.events.clear();
        run(c.text);
        EXPECT_EQ(sink.events.size(), c.events) << c.name;
        for (const auto& l : c.logged) EXPECT_TRUE(log.contains(l)) << c.name << ": " << l;
        for (const auto& l : c.notLogged) EXPECT_FALSE(log.contains(l)) << c.name << ": " << l;
    }
}

TEST_F(AlarmWorker, ModelCommandAlarmsReachTheContactIdConverterOnlyWhenEveryTestHolds) {
    add("dev1");
    const std::string alarm = R"({\"basic\":{},\"payload\":{\"code\":1130}})";
    auto doc = [&](const std::string& alarmType, const std::string& domain, const std::string& identifier) {
        std::string s = "{\"deviceID\":\"dev1\",\"alarmType\":" + alarmType + ",\"dataType\":1,";
        if (!domain.empty()) s += "\"domain\":" + domain + ",";
        if (!identifier.empty()) s += "\"identifier\":" + identifier + ",";
        return s + "\"alarm\":\"" + alarm + "\"}";
    };
    const struct { const char* name; std::string text; bool reached; } cases[] = {
        {"CIDEventMgr, any identifier", doc("1", "\"CIDEventMgr\"", "\"whatever\""), true},
        {"EventMessageMgr with CIDEvent", doc("1", "\"EventMessageMgr\"", "\"CIDEvent\""), true},
        {"EventMessageMgr with another identifier", doc("1", "\"EventMessageMgr\"", "\"Other\""), false},
        {"other domain", doc("1", "\"ZoneMgr\"", "\"CIDEvent\""), false},
        {"domain missing", doc("1", "", "\"CIDEvent\""), false},
        {"domain not a text", doc("1", "5", "\"CIDEvent\""), false},
        {"alarmType as a text", doc("\"1\"", "\"CIDEventMgr\"", "\"x\""), false},
        {"alarmType 2", doc("2", "\"CIDEventMgr\"", "\"x\""), false},
        {"alarmType above 32 bits", doc("4294967297", "\"CIDEventMgr\"", "\"x\""), false},
        {"alarmType a fraction", doc("1.5", "\"CIDEventMgr\"", "\"x\""), false},
        {"identifier missing", doc("1", "\"CIDEventMgr\"", ""), false},
        {"identifier not a text", doc("1", "\"CIDEventMgr\"", "3"), false},
        {"dataType 2", R"({"deviceID":"dev1","alarmType":1,"dataType":2,"domain":"CIDEventMgr","identifier":"x","alarm":"{}"})",
         false},
        {"deviceID not a text", R"({"deviceID":1,"alarmType":1,"dataType":1,"domain":"CIDEventMgr","identifier":"x","alarm":"{}"})",
         false},
        {"alarm not a text", R"({"deviceID":"dev1","alarmType":1,"dataType":1,"domain":"CIDEventMgr","identifier":"x","alarm":{}})",
         false},
    };
    for (const auto& c : cases) {
        Json::Value check;
        ASSERT_TRUE(vexa::parseJson(c.text, check)) << c.name;
        vtest::LogCapture log;
        run(c.text);
        EXPECT_EQ(log.contains("]procCidAlarmJson."), c.reached) << c.name;
        if (c.reached) {
            EXPECT_TRUE(log.contains("[deviceID=dev1,alarm={\"basic\":{},\"payload\":{\"code\":1130}}]procCidAlarmJson."))
                << c.name;
        }
        EXPECT_FALSE(log.contains("parse xml failed")) << c.name;
    }
}

TEST_F(AlarmWorker, EntitiesAndCdataAreDecodedAndStillGiveValidContent) {
    add("dev1");
    run(alert("dev1", "VMD",
              "<channelName>Gate &amp; &quot;Yard&quot;</channelName>"
              "<visibleLightURL><![CDATA[http://h/p?a=\"1\"&b=\\2]]></visibleLightURL>"));
    ASSERT_EQ(sink.events.size(), 1u);
    const AlarmEventInfo& e = sink.events[0];
    EXPECT_STREQ(e.szName, "Gate & \"Yard\"");
    Json::Value v;
    ASSERT_TRUE(vexa::parseJson(std::string("{") + e.szContent + "}", v)) << e.szContent;
    EXPECT_EQ(v["visibleLightURL"].asString(), "http://h/p?a=\"1\"&b=\\2");
}

TEST_F(AlarmWorker, TextNearTheIntakeLimitIsConverted) {
    add("dev1");
    const std::string frame = alert("dev1", "VMD", "<thermalURL></thermalURL>");
    const std::string url(CAlarmMsgMgr::kMaxAlarmText - frame.size(), 'u');
    const std::string text = alert("dev1", "VMD", "<thermalURL>" + url + "</thermalURL>");
    ASSERT_EQ(text.size(), CAlarmMsgMgr::kMaxAlarmText);
    run(text);
    ASSERT_EQ(sink.events.size(), 1u);
    Json::Value v;
    ASSERT_TRUE(vexa::parseJson(std::string("{") + sink.events[0].szContent + "}", v));
    EXPECT_EQ(v["thermalURL"].asString(), url);
}

TEST_F(AlarmWorker, InactiveDeviceGetsNoEventAndTheFailureIsLogged) {
    add("dev1", "inactive");
    for (const std::string& text :
         {alert("dev1", "VMD"), std::string(R"({"eventType":"VMD","deviceID":"dev1"})"),
          zorna("ALARM", "<DeviceID>dev1</DeviceID><Type>5</Type>")}) {
        vtest::LogCapture log;
        run(text);
        EXPECT_TRUE(log.contains("[deviceID=dev1,pactiveStatus=0]send failed.")) << text;
        EXPECT_FALSE(log.contains("ProcAldon5OVIXAlarm fail")) << text;
    }
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(AlarmWorker, DeviceRemovedFromTheRegistryGetsNothingMore) {
    auto d = add("dev1");
    run(alert("dev1", "VMD"));
    d->DisConnect();
    run(alert("dev1", "VMD"));
    EXPECT_EQ(sink.events.size(), 1u);
}

TEST_F(AlarmWorker, StopDiscardsWhatIsStillQueued) {
    CAlarmMsgMgr* mgr = CAlarmMsgMgr::instance();
    add("dev1");
    mgr->push(alert("dev1", "VMD"));
    mgr->push(alert("dev1", "PIR"));
    mgr->stop();
    EXPECT_EQ(mgr->queued(), 0u);
    EXPECT_TRUE(sink.events.empty());
}

}  // namespace
