#include <gtest/gtest.h>

#include "FakeChannel.h"
#include "gateway/IntercomCapability.h"
#include "common/JsonUtil.h"
#include "gateway/SecurityControl.h"
#include "TestSupport.h"

namespace {

constexpr uint32_t kBad = 0x60000001, kInvalidContent = 0x4000000a;

const std::string kCtl = "/OVIX/SecurityCP/control/";

TEST(SecurityControl, SubSystemFromUri) {
    const char *kArm = "CtrlSubSystemArmList", *kDisarm = "CtrlSubSystemDisarmList";
    const struct { const char* uri; uint32_t rc; const char* identifier; const char* body; } cases[] = {  // "": none sent
        {"arm/0xffffffff?format=json&ways=stay", 0, kArm, R"({"armType":"stay","operationMode":"all"})"},
        {"disarm/2?format=json", 0, kDisarm, R"({"operationMode":"assigned","subSystemIDList":[2]})"},
        {"clearAlarm/7?format=json&ways=x", 0, "CtrlSubSystemClearAlarmList", R"({"operationMode":"assigned","subSystemIDList":[7]})"},
        {"arm/1?format=json&always=1", 0, kArm, R"({"armType":"","operationMode":"assigned","subSystemIDList":[1]})"},
        {"arm/4?ways= away &format=json", 0, kArm, R"({"armType":"away","operationMode":"assigned","subSystemIDList":[4]})"},
        // The query cannot redirect the command to all subsystems or to another control.
        {"disarm/2?format=json&x=/0xffffffff", 0, kDisarm, R"({"operationMode":"assigned","subSystemIDList":[2]})"},
        {"disarm/2?format=json&x=/OVIX/SecurityCP/control/arm/5", 0, kDisarm, R"({"operationMode":"assigned","subSystemIDList":[2]})"},
        // Not a decimal subsystem number: nothing is sent.
        {"arm/abc?format=json", kBad, "", ""}, {"arm/?format=json", kBad, "", ""}, {"arm/1x?format=json", kBad, "", ""},
        {"arm/-1?format=json", kBad, "", ""}, {"arm/99999999999?format=json", kBad, "", ""},
        {"arm/0XFFFFFFFF?format=json", kBad, "", ""}, {"arm/0xffffffff0?format=json", kBad, "", ""},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        std::string rsp;
        EXPECT_EQ(setSubSystem(ch, rsp, kCtl + c.uri), c.rc) << c.uri;
        ASSERT_EQ(ch.sent.size(), *c.identifier ? 1u : 0u) << c.uri;
        if (ch.sent.empty()) continue;
        EXPECT_EQ(ch.sent[0].kind, 3u);
        EXPECT_EQ(ch.sent[0].domain, "AlarmSubSystemMgr");
        EXPECT_EQ(ch.sent[0].identifier, c.identifier) << c.uri;
        EXPECT_EQ(ch.sent[0].body, c.body) << c.uri;
    }
}

TEST(SecurityControl, ControlAnswerReachesHostOnlyWhileArming) {
    const struct { uint32_t rc; const char *answer, *response; } cases[] = {
        {0, R"({"armMode":"process","left":30})", R"({"armMode":"process","left":30})"},
        {0, R"({"armMode":"done"})", ""}, {0, R"({"armMode":1})", ""}, {0, "not json", ""}, {0, "[]", ""},
        {0x4000a2fa, R"({"status":400,"code":"0x01400015"})", ""},  // failure: never the raw answer
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

TEST(SecurityControl, SubSystemListBody) {
    const char* twoWithLaterType = R"({"SubSysList":[{"SubSys":{"id":1}},{"SubSys":{"id":2,"armType":"stay"}},)"
                                   R"({"SubSys":{"id":3,"armType":"away"}}]})";
    const struct { const char *uri, *body; uint32_t rc; const char *identifier, *sent; } cases[] = {
        {"arm", twoWithLaterType, 0, "CtrlSubSystemArmList", R"({"armType":"stay","operationMode":"assigned","subSystemIDList":[1,2,3]})"},
        {"disarm", twoWithLaterType, 0, "CtrlSubSystemDisarmList", R"({"operationMode":"assigned","subSystemIDList":[1,2,3]})"},
        {"clearAlarm", R"({"SubSysList":[]})", 0, "CtrlSubSystemClearAlarmList", R"({"operationMode":"assigned"})"},
        {"arm", R"({"SubSysList":[1,"x",{"SubSys":"x"},{"SubSys":{"id":"3","armType":5}},{"SubSys":{"id":4.5}},{"SubSys":{"id":4}}]})",
         0, "CtrlSubSystemArmList", R"({"operationMode":"assigned","subSystemIDList":[4]})"},
        {"arm", "not json", kInvalidContent, "", ""}, {"arm", "[]", kBad, "", ""},
        {"arm", R"({"SubSysList":{}})", kBad, "", ""}, {"arm", R"({"subSysList":[]})", kBad, "", ""},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        std::string rsp;
        EXPECT_EQ(setSubSystemList(ch, rsp, kCtl + c.uri + "?format=json", c.body), c.rc) << c.body;
        ASSERT_EQ(ch.sent.size(), *c.identifier ? 1u : 0u) << c.body;
        if (ch.sent.empty()) continue;
        EXPECT_EQ(ch.sent[0].identifier, c.identifier);
        EXPECT_EQ(ch.sent[0].body, c.sent);
    }
}

TEST(SecurityControl, FaultArmConfirmSendsTheArrayOnly) {
    const struct { const char* body; uint32_t deviceRc, rc; const char* sent; } cases[] = {
        {R"({"SubSysList":[{"SubSys":{"id":1}}]})", 0, 0, R"([{"SubSys":{"id":1}}])"},
        {R"({"SubSysList":[{"SubSys":{"id":1}}]})", 0x40008000, 0x40008000, R"([{"SubSys":{"id":1}}])"},
        {"{", 0, kInvalidContent, nullptr},
        {R"({"SubSysList":"x"})", 0, kBad, nullptr},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(c.deviceRc, R"({"raw":"answer"})");
        std::string rsp;
        EXPECT_EQ(setFaultArmConfirm(ch, rsp, c.body), c.rc) << c.body;
        EXPECT_EQ(rsp, "");
        ASSERT_EQ(ch.sent.size(), c.sent ? 1u : 0u);
        if (c.sent) {
            EXPECT_EQ(ch.sent[0].identifier, "SetSubSystemFaultArmConfirm");
            EXPECT_EQ(ch.sent[0].body, c.sent);
        }
    }
}

std::string page(int num, int total, int firstId) {
    Json::Value root(Json::objectValue);
    root["numOfMatches"] = num;
    root["totalMatches"] = total;
    Json::Value& list = root["matchResults"] = Json::Value(Json::arrayValue);
    for (int i = 0; i < num; ++i) list[i]["subSystemID"] = firstId + i;
    return vexa::writeJson(root);
}

int position(const ModelCommand& m) {
    Json::Value v;
    EXPECT_TRUE(vexa::parseJson(m.body, v));
    EXPECT_EQ(v["searchID"].asString(), "c69915d579ff4d8ca7b55ffa22a91521");
    EXPECT_EQ(v["maxResults"].asInt(), 8);
    return v["searchResultPosition"].asInt();
}

TEST(SecurityControl, StatusSearchPages) {
    FakeChannel ch;
    ch.script(0, page(8, 10, 1));
    ch.script(0, page(2, 10, 9));
    std::string rsp;
    ASSERT_EQ(getSubSystemStatus(ch, rsp), 0u);
    ASSERT_EQ(ch.sent.size(), 2u);
    EXPECT_EQ(ch.sent[0].identifier, "SearchSubSystemStatus");
    EXPECT_EQ(position(ch.sent[0]), 1);
    EXPECT_EQ(position(ch.sent[1]), 9);
    Json::Value out;
    ASSERT_TRUE(vexa::parseJson(rsp, out));
    ASSERT_EQ(out["SubSysList"].size(), 10u);
    EXPECT_EQ(out["SubSysList"][9]["SubSys"]["id"].asInt(), 10);
}

TEST(SecurityControl, StatusSearchEndsWithoutProgress) {
    // A page without new matches ends the search; so does the page limit.
    FakeChannel stalls;
    stalls.script(0, page(8, 20, 1));
    stalls.script(0, R"({"totalMatches":20,"numOfMatches":0})");
    std::string rsp;
    EXPECT_EQ(getSubSystemStatus(stalls, rsp), 0u);
    EXPECT_EQ(stalls.sent.size(), 2u);
    Json::Value out;
    ASSERT_TRUE(vexa::parseJson(rsp, out));
    EXPECT_EQ(out["SubSysList"].size(), 8u);

    FakeChannel endless;
    endless.fallback = {0, R"({"numOfMatches":1,"totalMatches":2147483647})"};
    EXPECT_EQ(getSubSystemStatus(endless, rsp), 0u);
    EXPECT_EQ(endless.sent.size(), static_cast<size_t>(kSubSystemMaxPages));

    FakeChannel huge;  // counts near the integer limits must not wrap into a new round
    huge.script(0, R"({"numOfMatches":9223372036854775807,"totalMatches":9223372036854775807})");
    huge.script(0, R"({"numOfMatches":9223372036854775807,"totalMatches":9223372036854775807})");
    huge.fallback = {0, R"({"numOfMatches":0})"};
    EXPECT_EQ(getSubSystemStatus(huge, rsp), 0u);
    EXPECT_LE(huge.sent.size(), 3u);
}

TEST(SecurityControl, StatusSearchFailures) {
    const struct { uint32_t rc2; const char* answer2; uint32_t rc; } cases[] = {{258, "", 258}, {0x4000a2ff, R"({"status":500})", 0x4000a2ff}, {0, "garbage", kBad}, {0, "[1]", kBad}};
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(0, page(8, 10, 1));
        ch.script(c.rc2, c.answer2);
        std::string rsp = "stale";
        EXPECT_EQ(getSubSystemStatus(ch, rsp), c.rc);
        EXPECT_EQ(rsp, "");  // neither the previous page nor the raw answer
    }
}

TEST(SecurityControl, StatusSearchGatheringIsBounded) {
    // Pages that keep claiming more: many small entries, then few wide ones.
    const auto pageOf = [](int n, int total, size_t width) {
        Json::Value root(Json::objectValue);
        root["numOfMatches"] = n;
        root["totalMatches"] = total;
        Json::Value& list = root["matchResults"] = Json::Value(Json::arrayValue);
        for (int i = 0; i < n; ++i) list[i]["subSystemArmStatus"] = std::string(width, 'a');
        return vexa::writeJson(root);
    };
    const struct { std::string page; size_t minEntries, maxEntries; } cases[] = {
        {pageOf(6000, 15000, 1), kSubSystemMaxEntries, kSubSystemMaxEntries},
        {pageOf(50, 2000, 1000), 900, 1100},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.fallback = {0, c.page};
        vtest::LogCapture log(4);
        std::string rsp;
        ASSERT_EQ(getSubSystemStatus(ch, rsp), 0u);
        Json::Value out;
        ASSERT_TRUE(vexa::parseJson(rsp, out));
        EXPECT_GE(out["SubSysList"].size(), c.minEntries);
        EXPECT_LE(out["SubSysList"].size(), c.maxEntries);
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
    EXPECT_EQ(ch.sent[0].identifier, "SearchSubSystemArmStatus");
    EXPECT_EQ(ch.sent[0].body, R"({"subSystemIDList":[1]})");
    EXPECT_EQ(rsp, R"({"OutputList":"{\"list\":[1]}"})");

    FakeChannel fails;
    fails.script(0x40000002, R"({"status":403})");
    EXPECT_EQ(searchSubSystemArmStatus(fails, rsp, "{}"), 0x40000002u);
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
        ASSERT_EQ(ch.sent.size(), 1u);
        EXPECT_EQ(ch.sent[0].kind, c.kind);
        EXPECT_EQ(ch.sent[0].domain, c.domain);
        EXPECT_EQ(ch.sent[0].identifier, c.identifier);
        EXPECT_EQ(ch.sent[0].body, c.sent);
        EXPECT_EQ(rsp, c.response);
        for (const char* bad : {"not json", "[]", R"({"status":"500"})"}) {  // and a failure leaves nothing behind
            FakeChannel b;
            b.script(0, bad);
            EXPECT_EQ(c.call(b, rsp), kInvalidContent) << c.identifier;
            FakeChannel f;
            f.script(0x30000001, "raw");
            EXPECT_EQ(c.call(f, rsp), 0x30000001u);
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
    EXPECT_EQ(ch.sent[0].subId, "S1");
    EXPECT_EQ(ch.sent[1].subId, "12");
    EXPECT_EQ(ch.sent[1].domain, "SirenMgr");
    EXPECT_EQ(rsp, R"({"SirenIntercomParam":{"linkageSirens":[{"childDevID":"S1","intercomDuration":30,)"
                   R"("intercomEnabled":true},{"childDevID":12,"intercomMode":"auto"}]}})");
    for (const char* body : {R"({"linkageSirens":[{"childDevID":""}]})", R"({"linkageSirens":[{"childDevID":"a b"}]})",
                             R"({"linkageSirens":[{"childDevID":1.5}]})", R"({"linkageSirens":[{}]})",
                             R"({"linkageSirens":{}})", "[]"}) {
        FakeChannel none;
        EXPECT_EQ(searchSirenIntercomParam(none, rsp, body), kBad) << body;
        EXPECT_TRUE(none.sent.empty());
    }
    std::string many = R"({"linkageSirens":[)";
    for (size_t i = 0; i <= kMaxSirensPerSearch; ++i) many += std::string(i ? "," : "") + R"({"childDevID":1})";
    FakeChannel none;
    EXPECT_EQ(searchSirenIntercomParam(none, rsp, many + "]}"), kBad);
    EXPECT_TRUE(none.sent.empty());
}

}  // namespace
