#include <gtest/gtest.h>

#include "FakeChannel.h"
#include "common/JsonUtil.h"
#include "common/StatusList.h"
#include "gateway/IntercomCapability.h"
#include "gateway/SecurityControl.h"
#include "TestSupport.h"

namespace {

using vexa::status::kInvalidContent;
constexpr uint32_t kBad = vexa::status::kBadParameters;
const std::string kCtl = "/OVIX/SecurityCP/control/";

// The one model command a handler sent, "" when it sent none.
std::string sentCommand(const FakeChannel& ch) {
    EXPECT_LE(ch.sent.size(), 1u);
    return ch.sent.empty() ? "" : ch.sent[0].identifier + " " + ch.sent[0].body;
}

TEST(SecurityControl, SubSystemFromUri) {
    const std::string kArm = "CtrlSubSystemArmList ", kDisarm = "CtrlSubSystemDisarmList ";
    const std::string kDisarm2 = kDisarm + R"({"operationMode":"assigned","subSystemIDList":[2]})";
    const struct { const char* uri; uint32_t rc; std::string sent; } cases[] = {
        {"disarm/2?format=json", 0, kDisarm2},
        {"arm/1?format=json&always=1", 0, kArm + R"({"armType":"","operationMode":"assigned","subSystemIDList":[1]})"},
        {"arm/4?ways= away &format=json", 0,
         kArm + R"({"armType":"away","operationMode":"assigned","subSystemIDList":[4]})"},
        // The query cannot redirect the command to all subsystems or to another control.
        {"disarm/2?format=json&x=/0xffffffff", 0, kDisarm2},
        {"disarm/2?format=json&x=/OVIX/SecurityCP/control/arm/5", 0, kDisarm2},
        // Not a decimal subsystem number: nothing is sent.
        {"arm/abc?format=json", kBad, ""}, {"arm/?format=json", kBad, ""}, {"arm/1x?format=json", kBad, ""},
        {"arm/-1?format=json", kBad, ""}, {"arm/99999999999?format=json", kBad, ""},
        {"arm/0XFFFFFFFF?format=json", kBad, ""}, {"arm/0xffffffff0?format=json", kBad, ""},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        std::string rsp;
        EXPECT_EQ(setSubSystem(ch, rsp, kCtl + c.uri), c.rc) << c.uri;
        EXPECT_EQ(sentCommand(ch), c.sent) << c.uri;
        if (!ch.sent.empty()) { EXPECT_TRUE(ch.sent[0].kind == 3u && ch.sent[0].domain == "AlarmSubSystemMgr"); }
    }
}

TEST(SecurityControl, ControlAnswerReachesHostOnlyWhileArming) {
    const struct { uint32_t rc; const char *answer, *response; } cases[] = {
        {0, R"({"armMode":"process","left":30})", R"({"armMode":"process","left":30})"},
        {0, R"({"armMode":"done"})", ""}, {0, R"({"armMode":1})", ""}, {0, "not json", ""}, {0, "[]", ""},
        {vexa::status::kSystemIsArmed, R"({"status":400,"code":"0x01400015"})", ""},  // failure: never the raw answer
    };
    for (const auto& c : cases) {
        for (bool list : {false, true}) {
            FakeChannel ch;
            ch.script(c.rc, c.answer);
            std::string rsp = "stale";
            EXPECT_EQ(list ? setSubSystemList(ch, rsp, kCtl + "arm?format=json", R"({"SubSysList":[{"SubSys":{"id":1}}]})")
                           : setSubSystem(ch, rsp, kCtl + "arm/1?format=json"),
                      c.rc);
            EXPECT_EQ(rsp, c.response) << c.answer << list;
        }
    }
}

TEST(SecurityControl, SubSystemListAndFaultArmBodies) {
    const char* three = R"({"SubSysList":[{"SubSys":{"id":1}},{"SubSys":{"id":2,"armType":"stay"}},)"
                        R"({"SubSys":{"id":3,"armType":"away"}}]})";
    const struct { const char *uri, *body; uint32_t rc; const char* sent; } cases[] = {
        {"arm", three, 0, R"(CtrlSubSystemArmList {"armType":"stay","operationMode":"assigned","subSystemIDList":[1,2,3]})"},
        {"clearAlarm", R"({"SubSysList":[]})", 0, R"(CtrlSubSystemClearAlarmList {"operationMode":"assigned"})"},
        {"arm", R"({"SubSysList":[1,"x",{"SubSys":"x"},{"SubSys":{"id":"3","armType":5}},{"SubSys":{"id":4.5}},{"SubSys":{"id":4}}]})",
         0, R"(CtrlSubSystemArmList {"operationMode":"assigned","subSystemIDList":[4]})"},
        {"arm", "not json", kInvalidContent, ""}, {"arm", "[]", kBad, ""},
        {"arm", R"({"SubSysList":{}})", kBad, ""}, {"arm", R"({"subSysList":[]})", kBad, ""},
        // Fault-arm confirmation sends the array only.
        {nullptr, R"({"SubSysList":[{"SubSys":{"id":1}}]})", 0, R"(SetSubSystemFaultArmConfirm [{"SubSys":{"id":1}}])"},
        {nullptr, "{", kInvalidContent, ""}, {nullptr, R"({"SubSysList":"x"})", kBad, ""},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(0, R"({"raw":"answer"})");
        std::string rsp;
        EXPECT_EQ(c.uri ? setSubSystemList(ch, rsp, kCtl + c.uri + "?format=json", c.body)
                        : setFaultArmConfirm(ch, rsp, c.body), c.rc) << c.body;
        EXPECT_EQ(sentCommand(ch), c.sent) << c.body;
        if (!c.uri) { EXPECT_EQ(rsp, ""); }
    }
    FakeChannel fails;
    fails.script(vexa::status::kArmingFailed, "{}");
    std::string rsp;
    EXPECT_EQ(setFaultArmConfirm(fails, rsp, R"({"SubSysList":[]})"), vexa::status::kArmingFailed);
}

// A status page of `num` entries; width > 0: each a text of that width, else numbered ids.
std::string page(int num, int total, size_t width = 0) {
    Json::Value root(Json::objectValue);
    root["numOfMatches"] = num;
    root["totalMatches"] = total;
    Json::Value& list = root["matchResults"] = Json::Value(Json::arrayValue);
    for (int i = 0; i < num; ++i) {
        if (width) {
            list[i]["subSystemArmStatus"] = std::string(width, 'a');
        } else {
            list[i]["subSystemID"] = i + 1;
        }
    }
    return vexa::writeJson(root);
}

size_t entries(const std::string& rsp) {
    Json::Value out;
    EXPECT_TRUE(vexa::parseJson(rsp, out)) << rsp.substr(0, 80);
    return out["SubSysList"].size();
}

TEST(SecurityControl, StatusSearchEndsWithoutProgress) {
    std::string rsp;
    // A page without new matches ends the search; so does the page limit.
    FakeChannel stalls;
    stalls.script(0, page(8, 20));
    stalls.script(0, R"({"totalMatches":20,"numOfMatches":0})");
    EXPECT_EQ(getSubSystemStatus(stalls, rsp), 0u);
    EXPECT_EQ(stalls.sent.size(), 2u);
    EXPECT_EQ(entries(rsp), 8u);
    FakeChannel endless;
    endless.fallback = {0, R"({"numOfMatches":1,"totalMatches":2147483647})"};
    EXPECT_EQ(getSubSystemStatus(endless, rsp), 0u);
    EXPECT_EQ(endless.sent.size(), static_cast<size_t>(kSubSystemMaxPages));
    FakeChannel huge;  // counts near the integer limits must not wrap into a new round
    for (int i = 0; i < 2; ++i) huge.script(0, R"({"numOfMatches":9223372036854775807,"totalMatches":9223372036854775807})");
    huge.fallback = {0, R"({"numOfMatches":0})"};
    EXPECT_EQ(getSubSystemStatus(huge, rsp), 0u);
    EXPECT_LE(huge.sent.size(), 3u);
}

TEST(SecurityControl, StatusSearchFailuresAndBounds) {
    const struct { uint32_t rc2; const char* answer2; uint32_t rc; } cases[] = {
        {vexa::status::kWaitTimeout, "", vexa::status::kWaitTimeout},
        {vexa::status::kAreaDisabled, R"({"status":500})", vexa::status::kAreaDisabled},
        {0, "garbage", kBad}, {0, "[1]", kBad}};
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(0, page(8, 10));
        ch.script(c.rc2, c.answer2);
        std::string rsp = "stale";
        EXPECT_EQ(getSubSystemStatus(ch, rsp), c.rc);
        EXPECT_EQ(rsp, "");  // neither the previous page nor the raw answer
    }
    // Pages that keep claiming more: many small entries, then few wide ones.
    const struct { std::string page; size_t minEntries, maxEntries; } bounds[] = {
        {page(6000, 15000, 1), kSubSystemMaxEntries, kSubSystemMaxEntries}, {page(50, 2000, 1000), 900, 1100}};
    for (const auto& c : bounds) {
        FakeChannel ch;
        ch.fallback = {0, c.page};
        vtest::LogCapture log(4);
        std::string rsp;
        ASSERT_EQ(getSubSystemStatus(ch, rsp), 0u);
        EXPECT_GE(entries(rsp), c.minEntries);
        EXPECT_LE(entries(rsp), c.maxEntries);
        EXPECT_LE(rsp.size(), kSubSystemMaxText + 64);
        EXPECT_TRUE(log.contains("search stops gathering"));
    }
}

TEST(SecurityControl, StatusEntryConversion) {
    FakeChannel ch;
    ch.script(0, R"({"numOfMatches":3,"totalMatches":3,"matchResults":[)"
                 R"({"subSystemID":3,"enabled":true,"subSystemArmStatus":"away","alarmStatus":"alarm"},)"
                 R"({"subSystemID":"4","enabled":1,"subSystemArmStatus":2,"alarmStatus":"normal"},7]})");
    std::string rsp;
    ASSERT_EQ(getSubSystemStatus(ch, rsp), 0u);
    EXPECT_EQ(rsp, R"({"SubSysList":[{"SubSys":{"alarm":true,"arming":"away","enabled":true,"id":3}},)"
                   R"({"SubSys":{"alarm":false}},{"SubSys":{}}]})");
}

TEST(SecurityControl, ArmStatusSearch) {
    FakeChannel ch;
    ch.script(0, R"({"list":[1]})");
    std::string rsp;
    ASSERT_EQ(searchSubSystemArmStatus(ch, rsp, R"({"subSystemIDList":[1]})"), 0u);
    EXPECT_EQ(sentCommand(ch), R"(SearchSubSystemArmStatus {"subSystemIDList":[1]})");
    EXPECT_EQ(rsp, R"({"OutputList":"{\"list\":[1]}"})");
    FakeChannel fails;
    fails.script(vexa::status::kLowPrivilege, R"({"status":403})");
    EXPECT_EQ(searchSubSystemArmStatus(fails, rsp, "{}"), vexa::status::kLowPrivilege);
    EXPECT_EQ(rsp, "");
    // Host text that is not one JSON document never reaches the device's frame.
    FakeChannel tail;
    EXPECT_EQ(searchSubSystemArmStatus(tail, rsp, R"({"a":1}}, "data": {"b":2})"), 0u);
    EXPECT_EQ(tail.sent[0].body, R"({"a":1})");
    for (const char* body : {"", "not json", R"(1}, "x": {)", "[1]"}) {
        FakeChannel none;
        EXPECT_NE(searchSubSystemArmStatus(none, rsp, body), 0u) << body;
        EXPECT_TRUE(none.sent.empty());
    }
}

TEST(IntercomCapability, CommandsAndDocuments) {
    using Fn = uint32_t (*)(FakeChannel&, std::string&);
    const struct { Fn call; const char* answer; uint32_t kind; const char *domain, *identifier, *sent, *response; } cases[] = {
        {[](FakeChannel& c, std::string& r) { return getHostIntercomParam(c, r); },
         R"({"enabled":true,"callerType":"host","linkageSirens":[1],"SIPCfg":"x","extra":1})", 1, "AlarmSystemMgr",
         "HostIntercomParam", "", R"({"HostIntercomParam":{"callerType":"host","enabled":true,"linkageSirens":[1]}})"},
        {[](FakeChannel& c, std::string& r) { return getConfigurationCap(c, r); },
         R"({"isSptTwoWayAudioParamCfg":true,"isSptTwoWayAudioModeControl":"yes"})", 3, "DynamicCapability",
         "GetFunctions", R"({"identifier":"AlarmSystemMgr"})", R"({"HostConfigCap":{"isSptTwoWayAudioParamCfg":true}})"},
        {[](FakeChannel& c, std::string& r) {
             return ctrlHostIntercomMode(c, r, R"({"CtrlHostIntercomMode":{"mode":"talk","alarmTime":"5","x":1}})");
         },
         R"({"commandStatus":"ok","audioTimeLeft":20,"intercomMode":7})", 3, "AlarmSystemMgr", "CtrlHostIntercomMode",
         R"({"mode":"talk"})", R"({"CtrlHostIntercomMode":{"audioTimeLeft":20,"commandStatus":"ok"}})"},
        {[](FakeChannel& c, std::string& r) { return getEventMessageSupportInfo(c, r); }, R"({"types":["a"]})", 1,
         "EventMessageMgr", "EventMessageSupportInfo", "", R"({"EventMessageSupportInfo":{"types":["a"]}})"},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(0, c.answer);
        std::string rsp;
        ASSERT_EQ(c.call(ch, rsp), 0u) << c.identifier;
        EXPECT_EQ(sentCommand(ch), std::string(c.identifier) + " " + c.sent);
        EXPECT_TRUE(ch.sent[0].kind == c.kind && ch.sent[0].domain == c.domain) << c.identifier;
        EXPECT_EQ(rsp, c.response);
        for (const char* bad : {"not json", "[]", R"({"status":"500"})"}) {  // and a failure leaves nothing behind
            FakeChannel b, f;
            b.script(0, bad);
            EXPECT_EQ(c.call(b, rsp), kInvalidContent) << c.identifier;
            f.script(vexa::status::kDeviceError, "raw");
            EXPECT_EQ(c.call(f, rsp), vexa::status::kDeviceError);
            EXPECT_EQ(rsp, "");
        }
    }
}

TEST(IntercomCapability, SirenSearchPerChild) {
    FakeChannel ch;
    ch.script(0, R"({"intercomEnabled":true,"intercomDuration":30})");
    ch.script(0, R"({"intercomMode":"auto"})");
    std::string rsp;
    ASSERT_EQ(searchSirenIntercomParam(ch, rsp, R"({"linkageSirens":[{"childDevID":"S1"},{"childDevID":12}]})"), 0u);
    ASSERT_EQ(ch.sent.size(), 2u);
    EXPECT_TRUE(ch.sent[0].subId == "S1" && ch.sent[1].subId == "12" && ch.sent[1].domain == "SirenMgr");
    EXPECT_EQ(rsp, R"({"SirenIntercomParam":{"linkageSirens":[{"childDevID":"S1","intercomDuration":30,)"
                   R"("intercomEnabled":true},{"childDevID":12,"intercomMode":"auto"}]}})");
    std::string many = R"({"linkageSirens":[)";
    for (size_t i = 0; i <= kMaxSirensPerSearch; ++i) many += std::string(i ? "," : "") + R"({"childDevID":1})";
    for (const std::string& body : {std::string(R"({"linkageSirens":[{"childDevID":""}]})"),
                                    std::string(R"({"linkageSirens":[{"childDevID":"a b"}]})"),
                                    std::string(R"({"linkageSirens":[{"childDevID":1.5}]})"),
                                    std::string(R"({"linkageSirens":[{}]})"), std::string(R"({"linkageSirens":{}})"),
                                    std::string("[]"), many + "]}"}) {
        FakeChannel none;
        EXPECT_EQ(searchSirenIntercomParam(none, rsp, body), kBad) << body.substr(0, 60);
        EXPECT_TRUE(none.sent.empty());
    }
}

}  // namespace
