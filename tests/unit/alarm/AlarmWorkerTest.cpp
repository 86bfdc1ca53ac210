// The alarm worker's classification: which converter a text reaches, what is logged and what the
// host receives, with real device objects in the registry.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "alarm/AlarmMsgMgr.h"
#include "common/JsonUtil.h"
#include "common/Utf8.h"
#include "EventSink.h"
#include "AlarmTestGate.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"

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

std::string modelCid(const std::string& device, const std::string& payload) {
    Json::Value v(Json::objectValue);
    v["deviceID"] = device;
    v["alarmType"] = 1;
    v["dataType"] = 1;
    v["domain"] = "CIDEventMgr";
    v["identifier"] = "CIDEvent";
    v["alarm"] = "{\"basic\":{},\"payload\":{" + payload + "}}";
    return vexa::writeJson(v);
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
         {"3 VEXA_DEV [CAlarmMsgMgr::isAldon5OvixAlarmXml(", "Unsupported event type:vmd",
          "Msg is not OVIXAlarm or ZORNAMessage."}, {}},
        {"unsupported JSON event type", R"({"eventType":"vmd","deviceID":"dev1"})", 0,
         {"3 VEXA_DEV [CAlarmMsgMgr::isAldon5OvixAlarmJson(", "Unsupported event type:vmd"}, {}},
        {"JSON payload of the wrong type", R"({"eventType":"VMD","deviceID":"dev1","thermalURL":1})", 1,
         {"[CAlarmMsgMgr::getDescribeFromJson(", "json param is illegal!"}, {}},
        {"region without an identifier", alert("dev1", "VMD", "<DetectionRegionList><DetectionRegionEntry/></DetectionRegionList>"),
         1, {"[CAlarmMsgMgr::covertDetectionRegionListFromXml(", "xml param is illegal!"}, {}},
        {"empty fire detection",
         alert("dev1", "VMD", "<DetectionRegionList><DetectionRegionEntry><regionID>1</regionID><FireDetection/>"
                              "</DetectionRegionEntry></DetectionRegionList>"),
         1, {"[CAlarmMsgMgr::covertFireDetectionXmlToJson(", "xml param is illegal!"}, {}},
        {"model-command Contact ID of an unknown device", modelCid("ghost", "\"code\":1"), 0,
         {"[CAlarmMsgMgr::procCidAlarmJson(", "[deviceID=ghost]device not exist."}, {}},
        {"model-command Contact ID with a subsystem list", modelCid("dev1", "\"code\":1,\"subs\":[2]"), 1,
         {"[CAlarmMsgMgr::procSubs(", "[Subs=[2],sysNoCount=1]procSubs succ."}, {}},
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
         0, {"[CAlarmMsgMgr::procFERROCidReportReq(", "procFERROCidReportReq fail."}, {"ProcFERROAlarmReq"}},
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

// Identifiers of 32 characters and more (UUIDs) do not fit the record's field; the look-up uses
// the whole identifier and the field holds a cut copy.
TEST_F(AlarmWorker, LongIdentifiersReachTheirDevice) {
    for (const std::string& id : {std::string("5b1c0e9a-77f1-4f5e-9b7e-2d5c6a1e0f11"), std::string(32, 'k')}) {
        add(id);
        add(id.substr(0, 31) + "x");  // shares the cut copy: must not get the event
        const struct { const char* name; std::string text; } cases[] = {
            {"device-API XML", alert(id, "VMD")},
            {"device-API JSON", R"({"eventType":"PIR","deviceID":")" + id + "\"}"},
            {"ZORNA ALARM", zorna("ALARM", "<DeviceID>" + id + "</DeviceID><Type>8</Type>")},
            {"CIDREPORT", zorna("CIDREPORT", "<DeviceID>" + id + "</DeviceID><CIDCode>1130</CIDCode>")},
            {"model-command Contact ID", modelCid(id, "\"code\":1130")},
        };
        for (const auto& c : cases) {
            sink.events.clear();
            run(c.text);
            ASSERT_EQ(sink.events.size(), 1u) << c.name << " " << id;
            EXPECT_EQ(std::string(sink.events[0].szDeviceID), id.substr(0, 31)) << c.name;
        }
        for (auto& d : devices) d->DisConnect();
        devices.clear();
    }
}

// A text that begins with '{' is JSON, however much markup its strings hold.
TEST_F(AlarmWorker, JsonWithMarkupInsideStringsStaysJson) {
    add("dev1");
    Json::Value whole(Json::objectValue);
    whole["eventType"] = "VMD";
    whole["deviceID"] = "dev1";
    whole["channelName"] = alert("dev1", "PIR");
    const struct { const char* name; std::string text; const char* type; const char* name2; } cases[] = {
        {"markup in a channel name", R"({"eventType":"VMD","deviceID":"dev1","channelName":"<b>Gate</b>"})", "VMD",
         "<b>Gate</b>"},
        {"a whole alert in a string", vexa::writeJson(whole), "VMD", nullptr},
        {"blanks before the brace", " \r\n\t{\"channelName\":\"<x/>\",\"eventType\":\"TMA\",\"deviceID\":\"dev1\"}", "TMA",
         "<x/>"},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        sink.events.clear();
        run(c.text);
        ASSERT_EQ(sink.events.size(), 1u) << c.name;
        EXPECT_STREQ(sink.events[0].szEventType, c.type) << c.name;
        if (c.name2) {
            EXPECT_STREQ(sink.events[0].szName, c.name2) << c.name;
        }
        EXPECT_FALSE(log.contains("Msg is not")) << c.name;
    }
}

// Device text that is not UTF-8 reaches the host repaired, in the content and in the fields.
TEST_F(AlarmWorker, DeviceTextThatIsNotUtf8IsRepaired) {
    auto d = add("dev1");
    const std::string bad = "Caf\xe9 \xed\xa0\x80";
    const struct { const char* name; std::string text; } cases[] = {
        {"CIDREPORT zone name", zorna("CIDREPORT", "<DeviceID>dev1</DeviceID><zoneName>" + bad + "</zoneName>")},
        {"model-command Contact ID", modelCid("dev1", "\"code\":1130,\"zoneID\":3,\"moduleName\":\"" + bad +
                                                          "\",\"user\":\"" + bad + "\",\"value\":\"" + bad + "\"")},
        {"device-API XML", alert("dev1", "VMD", "<channelName>" + bad + "</channelName><thermalURL>" + bad +
                                                    "</thermalURL>")},
        {"device-API JSON", "{\"eventType\":\"VMD\",\"deviceID\":\"dev1\",\"channelName\":\"" + bad +
                                "\",\"visibleLightURL\":\"" + bad + "\"}"},
    };
    for (const auto& c : cases) {
        sink.events.clear();
        run(c.text);
        ASSERT_EQ(sink.events.size(), 1u) << c.name;
        const AlarmEventInfo& e = sink.events[0];
        for (const char* field : {e.szContent, e.szName}) {
            EXPECT_TRUE(vexa::isValidUtf8(field)) << c.name << ": " << field;
        }
        const std::string all = std::string(e.szContent) + e.szName;
        EXPECT_NE(all.find("Caf\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"), std::string::npos) << c.name;
    }
}

// Junk from anywhere writes a bounded amount of log: device text is cut and each source's lines
// pass a rate gate.
TEST_F(AlarmWorker, TwentyThousandJunkAlarmsWriteABoundedLog) {
    add("dev1");
    static vexa::ManualClock stopped;  // no time passes
    vexa::alarmLogGate().setClock(&stopped);
    const std::string pad(3800, 'j');
    const std::vector<std::function<std::string(int)>> junk = {
        [&](int) { return "junk " + pad; },
        [&](int) { return "<Other>" + pad + "</Other>"; },
        [&](int i) { return alert("ghost" + std::to_string(i), pad.substr(0, 3700)); },
        [&](int) { return alert("dev1", pad.substr(0, 3700)); },
        [&](int i) { return zorna("ALARM", "<DeviceID>g" + std::to_string(i) + pad.substr(0, 3700) + "</DeviceID>"); },
        [&](int) { return zorna("CIDREPORT", "<Remark>" + pad.substr(0, 3700) + "</Remark>"); },
        [&](int i) { return modelCid("g" + std::to_string(i), "\"x\":\"" + pad + "\""); },
        [&](int) { return modelCid("dev1", "\"x\":\"" + pad + "\"") + "x"; },
        [&](int) { return "{\"eventType\":\"VMD\",\"deviceID\":\"dev1\",\"visibleLightURL\":5,\"x\":\"" + pad + "\"}"; },
        [&](int) { return zorna("ALARM", "<DeviceID>dev1</DeviceID><Type>8</Type><TimeZoneIdx>+" + pad.substr(0, 99) +
                                             "</TimeZoneIdx>"); },
    };
    vtest::LogCapture log(3);
    for (int i = 0; i < 20000; ++i) run(junk[i % junk.size()](i));
    size_t bytes = 0;
    for (const auto& l : log.lines()) bytes += l.size();
    vtest::openAlarmLogGate();
    EXPECT_LT(bytes, 32u * 1024) << log.lines().size() << " lines";
    EXPECT_LE(log.count("parse xml failed"), 5u);
}

// A worker of the shared queue machinery whose handling can be held up, with a clock of its own.
class HeldWorker : public CMsgWorker {
public:
    bool offer(std::string t) { return offerText(t); }
    void hold(bool on) {
        std::lock_guard<std::mutex> lk(m);
        held = on;
        cv.notify_all();
    }
    std::atomic<uint64_t> clock{0};
    std::atomic<int> handled{0};

protected:
    void process(const std::string&) override {
        std::unique_lock<std::mutex> lk(m);
        cv.wait(lk, [this] { return !held; });
        ++handled;
    }
    const char* name() const override { return "CAlarmMsgMgr"; }
    const char* items() const override { return "alarms"; }

private:
    std::mutex m;
    std::condition_variable cv;
    bool held = false;
};

// Every drop is counted and logged: at once, then at most once a second while the queue stays
// full, once more when the burst is over, and in the totals at stop with what was discarded.
TEST(AlarmQueue, DropsAndRefusalsAreCountedAndAlwaysLogged) {
    HeldWorker w;
    w.setClock([&w] { return w.clock.load(); });
    w.setBound(3);
    vtest::LogCapture log(3);
    const struct { const char* step; std::function<void()> act; const char* line; } steps[] = {
        {"fill", [&] { for (int i = 0; i < 3; ++i) w.push("a"); }, nullptr},
        {"first drop", [&] { w.push("b"); }, "[CAlarmMsgMgr::push("},
        {"drops within the second", [&] { w.push("c"); w.push("d"); }, nullptr},
        {"a second later", [&] { w.clock = 1000; w.push("e"); }, "queue full: 4 alarms dropped so far (oldest first), 4 of them in this burst"},
        {"burst not yet over", [&] { w.clock = 1999; w.reportDropBurst(false); }, nullptr},
        {"quiet second ends the burst", [&] { w.clock = 2000; w.reportDropBurst(false); }, "burst over: 4 alarms dropped in it, 4 dropped in total"},
        {"offer refused", [&] { EXPECT_FALSE(w.offer("f")); }, "[CAlarmMsgMgr::offer("},
        {"refusals within the second", [&] { EXPECT_FALSE(w.offer("f")); }, nullptr},
        {"stop", [&] { w.stop(); }, "[CAlarmMsgMgr::stop("},
    };
    for (const auto& s : steps) {
        log.clear();
        s.act();
        if (s.line) {
            EXPECT_TRUE(log.contains(s.line)) << s.step;
            EXPECT_EQ(log.lines().size(), 1u) << s.step;
        } else {
            EXPECT_TRUE(log.lines().empty()) << s.step << ": " << log.lines()[0];
        }
    }
    EXPECT_TRUE(log.contains("stop: 3 queued alarms discarded, 4 dropped in total (accepted 7, refused 2, delivered 0)"));
    const CMsgWorker::Counters c = w.counters();
    EXPECT_EQ(c.accepted, c.delivered + c.dropped + c.discarded);
}

TEST(AlarmQueue, TheWorkerReportsTheBurstOnceTheQueueHasDrained) {
    HeldWorker w;
    w.setBound(2);
    w.hold(true);
    ASSERT_TRUE(w.start("CAlarmMsgMgr::init", "start failed"));
    vtest::LogCapture log(3);
    w.push("first");  // taken by the worker, which then waits
    ASSERT_TRUE(vtest::waitUntil([&] { return w.queued() == 0; }));
    for (int i = 0; i < 5; ++i) w.push("x");  // 3 dropped while the worker is held
    EXPECT_FALSE(log.contains("burst over"));
    w.hold(false);
    ASSERT_TRUE(vtest::waitUntil([&] { return log.contains("burst over: 3 alarms dropped in it"); }));
    w.stop();
    EXPECT_EQ(w.handled.load(), 3);
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
