#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "FakeGateway.h"
#include "devsim/Equipment.h"

using namespace devsim;
using namespace std::chrono_literals;

namespace {

Json::Value parse(const std::string& text, bool* ok = nullptr) {
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    Json::Value v;
    const bool good = r->parse(text.data(), text.data() + text.size(), &v, nullptr);
    if (ok) *ok = good;
    return v;
}

// The model answer carried in a configAnswer's "data" text.
Json::Value modelDoc(const Answer& a) {
    EXPECT_TRUE(a.send);
    EXPECT_TRUE(a.members["data"].isString()) << a.members.toStyledString();
    bool ok = false;
    Json::Value v = parse(a.members["data"].asString(), &ok);
    EXPECT_TRUE(ok) << a.members["data"].asString();
    return v;
}

// Kind 3 model command of the security-control domain, as the gateway sends it.
Json::Value ctrl(const std::string& identifier, const std::string& body) {
    return configRequest("AlarmSubSystemMgr", identifier, 2, body);
}

std::string xmlRoot(const std::string& x) {
    size_t p = 0;
    while ((p = x.find('<', p)) != std::string::npos && p + 1 < x.size() && (x[p + 1] == '?' || x[p + 1] == '!')) ++p;
    if (p == std::string::npos) return "";
    size_t e = p + 1;
    while (e < x.size() && x[e] != ' ' && x[e] != '>' && x[e] != '/') ++e;
    return x.substr(p + 1, e - p - 1);
}

std::string xmlField(const std::string& x, const std::string& name) {
    const size_t a = x.find("<" + name + ">");
    if (a == std::string::npos) return "<absent>";
    const size_t b = x.find("</" + name + ">", a);
    return b == std::string::npos ? "<open>" : x.substr(a + name.size() + 2, b - a - name.size() - 2);
}

size_t countOf(const std::string& x, const std::string& what) {
    size_t n = 0;
    for (size_t p = x.find(what); p != std::string::npos; p = x.find(what, p + 1)) ++n;
    return n;
}

std::string ovixBody(Equipment& e, const std::string& method, const std::string& url, const std::string& body = "") {
    const Answer a = e.handle(ovixRequest(method, url, body));
    EXPECT_TRUE(a.send);
    return a.members["body"].asString();
}

std::vector<std::string> armStates(const PanelModel& p) {
    std::vector<std::string> v;
    for (const auto& s : p.subsystems()) v.push_back(s.arm);
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Panel: arming, disarming, fault arming

struct ControlStep {
    const char* identifier;
    std::string body;
    int status;
    const char* code;  // "" = no "code" member
};

struct ControlCase {
    const char* name;
    PanelOptions opt;
    std::function<void(PanelModel&)> setup;
    std::vector<ControlStep> steps;
    std::vector<std::string> arms;  // final arming of subsystems 1..n
};

PanelOptions withRearm(bool on) {
    PanelOptions o;
    o.rearmIsError = on;
    return o;
}

TEST(EquipmentPanel, ControlCommands) {
    const char* kArm = "CtrlSubSystemArmList";
    const char* kDisarm = "CtrlSubSystemDisarmList";
    const char* kConfirm = "SetSubSystemFaultArmConfirm";
    const std::string arm1Away = R"({"armType":"away","operationMode":"assigned","subSystemIDList":[1]})";
    const ControlCase cases[] = {
        {"secondArmIsSystemIsArmed",
         {},
         nullptr,
         {{kArm, arm1Away, 200, ""}, {kArm, arm1Away, 400, "0x01400015"}},
         {"away", "disarm", "disarm", "disarm"}},
        {"rearmAllowedWhenSwitchedOff",
         withRearm(false),
         nullptr,
         {{kArm, arm1Away, 200, ""},
          {kArm, R"({"armType":"stay","operationMode":"assigned","subSystemIDList":[1]})", 200, ""}},
         {"stay", "disarm", "disarm", "disarm"}},
        {"unknownSubsystem",
         {},
         nullptr,
         {{kArm, R"({"armType":"away","operationMode":"assigned","subSystemIDList":[5]})", 400, "0x0140001a"},
          {kDisarm, R"({"operationMode":"assigned","subSystemIDList":[0]})", 400, "0x0140001a"}},
         {"disarm", "disarm", "disarm", "disarm"}},
        {"oneBadIdArmsNothing",
         {},
         nullptr,
         {{kArm, R"({"armType":"away","operationMode":"assigned","subSystemIDList":[2,9]})", 400, "0x0140001a"}},
         {"disarm", "disarm", "disarm", "disarm"}},
        {"oneArmedIdArmsNothing",
         {},
         [](PanelModel& p) { p.setArm(3, "stay"); },
         {{kArm, R"({"armType":"away","operationMode":"assigned","subSystemIDList":[2,3]})", 400, "0x01400015"}},
         {"disarm", "disarm", "stay", "disarm"}},
        {"disabledSubsystem",
         {},
         [](PanelModel& p) { p.setSubsystemEnabled(2, false); },
         {{kArm, R"({"armType":"away","operationMode":"assigned","subSystemIDList":[2]})", 400, "0x0140001a"},
          {kArm, R"({"armType":"stay","operationMode":"all"})", 200, ""}},
         {"stay", "disarm", "stay", "stay"}},
        {"faultBlocksUntilConfirmed",
         {},
         [](PanelModel& p) { p.setZoneFault(1, true); },
         {{kArm, R"({"armType":"stay","operationMode":"assigned","subSystemIDList":[1]})", 400, "0x01400019"},
          {kConfirm, R"([{"SubSys":{"id":1}}])", 200, ""},
          {kArm, arm1Away, 400, "0x01400015"}},
         {"stay", "disarm", "disarm", "disarm"}},
        {"confirmWithoutAttemptArmsAway",
         {},
         nullptr,
         {{kConfirm, R"([{"SubSys":{"id":2}},{"SubSys":{"id":4}}])", 200, ""}},
         {"disarm", "away", "disarm", "away"}},
        {"confirmUnknownSubsystem",
         {},
         nullptr,
         {{kConfirm, R"([{"SubSys":{"id":7}}])", 400, "0x0140001a"}},
         {"disarm", "disarm", "disarm", "disarm"}},
        {"faultOnOtherSubsystemDoesNotBlock",
         {},
         [](PanelModel& p) { p.setZoneFault(2, true); },
         {{kArm, arm1Away, 200, ""}},
         {"away", "disarm", "disarm", "disarm"}},
        {"bypassedFaultDoesNotBlock",
         {},
         [](PanelModel& p) {
             p.setZoneFault(5, true);  // zone 5 is in subsystem 1
             p.setZoneBypass(5, true);
         },
         {{kArm, arm1Away, 200, ""}},
         {"away", "disarm", "disarm", "disarm"}},
        {"armAllSkipsArmedThenRefuses",
         {},
         [](PanelModel& p) { p.setArm(2, "stay"); },
         {{kArm, R"({"armType":"away","operationMode":"all"})", 200, ""},
          {kArm, R"({"armType":"away","operationMode":"all"})", 400, "0x01400015"}},
         {"away", "stay", "away", "away"}},
        {"armAllWithFaultRefusesAll",
         {},
         [](PanelModel& p) { p.setZoneFault(3, true); },
         {{kArm, R"({"armType":"away","operationMode":"all"})", 400, "0x01400019"}},
         {"disarm", "disarm", "disarm", "disarm"}},
        {"emptyArmTypeMeansAway",
         {},
         nullptr,
         {{kArm, R"({"armType":"","operationMode":"assigned","subSystemIDList":[4]})", 200, ""}},
         {"disarm", "disarm", "disarm", "away"}},
        {"disarmThenArmAgain",
         {},
         nullptr,
         {{kArm, arm1Away, 200, ""},
          {kDisarm, R"({"operationMode":"assigned","subSystemIDList":[1]})", 200, ""},
          {kDisarm, R"({"operationMode":"assigned","subSystemIDList":[1]})", 200, ""},
          {kArm, arm1Away, 200, ""}},
         {"away", "disarm", "disarm", "disarm"}},
        {"disarmAll",
         {},
         [](PanelModel& p) {
             p.setArm(1, "away");
             p.setArm(4, "stay");
         },
         {{kDisarm, R"({"operationMode":"all"})", 200, ""}},
         {"disarm", "disarm", "disarm", "disarm"}},
        {"malformedBodies",
         {},
         nullptr,
         {{kArm, R"({"armType":"away","operationMode":"some"})", 400, ""},
          {kArm, R"({"armType":"away","operationMode":"assigned"})", 400, ""},
          {kArm, R"({"armType":"away","operationMode":"assigned","subSystemIDList":["1"]})", 400, ""},
          {kArm, R"({"armType":7,"operationMode":"assigned","subSystemIDList":[1]})", 400, ""},
          {kArm, R"(["operationMode"])", 400, ""},
          {kArm, "{not json", 400, ""},
          {kConfirm, R"({"SubSysList":[]})", 400, ""}},
         {"disarm", "disarm", "disarm", "disarm"}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto p = makePanel(tc.opt);
        if (tc.setup) tc.setup(*p);
        for (size_t i = 0; i < tc.steps.size(); ++i) {
            const auto& st = tc.steps[i];
            SCOPED_TRACE("step " + std::to_string(i));
            const Json::Value doc = modelDoc(p->handle(ctrl(st.identifier, st.body)));
            EXPECT_EQ(doc["status"].asInt(), st.status);
            if (*st.code) {
                EXPECT_EQ(doc["code"].asString(), st.code);
            } else {
                EXPECT_FALSE(doc.isMember("code")) << doc.toStyledString();
            }
            if (st.status == 200) {
                EXPECT_TRUE(doc["data"].isObject());
            }
        }
        EXPECT_EQ(armStates(*p), tc.arms);
    }
}

TEST(EquipmentPanel, ArmModeProcessSwitch) {
    auto p = makePanel();
    const std::string body = R"({"armType":"away","operationMode":"assigned","subSystemIDList":[1]})";
    EXPECT_FALSE(modelDoc(p->handle(ctrl("CtrlSubSystemArmList", body)))["data"].isMember("armMode"));
    p->setArmModeProcess(true);
    const Json::Value doc = modelDoc(p->handle(ctrl("CtrlSubSystemDisarmList", body)));
    EXPECT_EQ(doc["data"]["armMode"].asString(), "process");
}

TEST(EquipmentPanel, ZoneAlarmAndClear) {
    auto p = makePanel();  // 4 subsystems, zones 1..8: zone 3 and 7 in subsystem 3
    p->triggerZone(7);
    EXPECT_TRUE(p->subsystem(3).alarm);
    EXPECT_FALSE(p->subsystem(1).alarm);
    EXPECT_TRUE(p->zone(7).alarm);

    // Clearing another subsystem leaves it.
    modelDoc(p->handle(ctrl("CtrlSubSystemClearAlarmList", R"({"operationMode":"assigned","subSystemIDList":[1]})")));
    EXPECT_TRUE(p->subsystem(3).alarm);
    const Json::Value doc = modelDoc(
        p->handle(ctrl("CtrlSubSystemClearAlarmList", R"({"operationMode":"assigned","subSystemIDList":[3]})")));
    EXPECT_EQ(doc["status"].asInt(), 200);
    EXPECT_FALSE(p->subsystem(3).alarm);
    EXPECT_FALSE(p->zone(7).alarm);

    EXPECT_THROW(p->triggerZone(9), std::out_of_range);
    EXPECT_THROW(p->setArm(5, "away"), std::out_of_range);
}

// ---------------------------------------------------------------------------------------------
// Panel: paged searches

TEST(EquipmentPanel, SubsystemStatusPages) {
    struct Case {
        const char* name;
        int subsystems;
        int pageLimit;
        int position;
        int maxResults;
        int num;
        int firstId;
        const char* status;
    } cases[] = {
        {"firstPage", 10, 0, 1, 8, 8, 1, "MORE"}, {"lastPage", 10, 0, 9, 8, 2, 9, "OK"},
        {"exactEnd", 8, 0, 1, 8, 8, 1, "OK"},     {"pastEnd", 10, 0, 11, 8, 0, 0, "NO MATCH"},
        {"middle", 10, 0, 4, 3, 3, 4, "MORE"},    {"limitedByPanel", 10, 4, 1, 8, 4, 1, "MORE"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        PanelOptions o;
        o.subsystems = tc.subsystems;
        o.pageLimit = tc.pageLimit;
        auto p = makePanel(o);
        Json::Value cond(Json::objectValue);
        cond["searchID"] = "c69915d579ff4d8ca7b55ffa22a91521";
        cond["maxResults"] = tc.maxResults;
        cond["searchResultPosition"] = tc.position;
        Json::StreamWriterBuilder wb;
        wb["indentation"] = "";
        const Json::Value doc = modelDoc(p->handle(ctrl("SearchSubSystemStatus", Json::writeString(wb, cond))));
        ASSERT_EQ(doc["status"].asInt(), 200);
        const Json::Value& d = doc["data"];
        EXPECT_EQ(d["searchID"].asString(), "c69915d579ff4d8ca7b55ffa22a91521");
        EXPECT_EQ(d["numOfMatches"].asInt(), tc.num);
        EXPECT_EQ(d["totalMatches"].asInt(), tc.subsystems);
        EXPECT_EQ(d["responseStatusStrg"].asString(), tc.status);
        ASSERT_TRUE(d["matchResults"].isArray());
        ASSERT_EQ(static_cast<int>(d["matchResults"].size()), tc.num);
        for (int i = 0; i < tc.num; ++i) EXPECT_EQ(d["matchResults"][i]["subSystemID"].asInt(), tc.firstId + i);
    }
}

// Walks the pages the way the gateway does and checks what the entries say.
TEST(EquipmentPanel, SubsystemStatusWalkReflectsState) {
    PanelOptions o;
    o.subsystems = 10;
    o.zones = 20;
    auto p = makePanel(o);
    p->setArm(3, "stay");
    p->setSubsystemEnabled(10, false);
    p->triggerZone(15);  // subsystem 5

    std::vector<int> positions;
    std::vector<Json::Value> entries;
    int count = 0, total = 0;
    do {
        positions.push_back(count + 1);
        const std::string cond =
            R"({"maxResults":8,"searchID":"x","searchResultPosition":)" + std::to_string(count + 1) + "}";
        const Json::Value d = modelDoc(p->handle(ctrl("SearchSubSystemStatus", cond)))["data"];
        if (d["numOfMatches"].asInt() == 0) break;
        count += d["numOfMatches"].asInt();
        total = d["totalMatches"].asInt();
        for (const auto& e : d["matchResults"]) entries.push_back(e);
    } while (count < total);
    EXPECT_EQ(positions, (std::vector<int>{1, 9}));
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries[2]["subSystemArmStatus"].asString(), "stay");
    EXPECT_EQ(entries[0]["subSystemArmStatus"].asString(), "disarm");
    EXPECT_EQ(entries[4]["alarmStatus"].asString(), "alarm");
    EXPECT_EQ(entries[3]["alarmStatus"].asString(), "normal");
    EXPECT_FALSE(entries[9]["enabled"].asBool());
    EXPECT_TRUE(entries[8]["enabled"].asBool());
}

TEST(EquipmentPanel, SearchConditionErrors) {
    auto p = makePanel();
    for (const char* cond :
         {R"({"maxResults":0,"searchID":"x","searchResultPosition":1})",
          R"({"maxResults":8,"searchID":"x","searchResultPosition":0})", R"({"maxResults":8,"searchID":"x"})",
          R"({"maxResults":"8","searchResultPosition":1})", R"([1])"}) {
        SCOPED_TRACE(cond);
        const Json::Value doc = modelDoc(p->handle(ctrl("SearchSubSystemStatus", cond)));
        EXPECT_EQ(doc["status"].asInt(), 400);
        EXPECT_FALSE(doc.isMember("code"));
    }
}

TEST(EquipmentPanel, ZoneSearches) {
    auto p = makePanel();  // zone n in subsystem ((n - 1) % 4) + 1
    p->setZoneFault(2, true);
    p->setZoneTamper(3, true);
    p->triggerZone(4);
    p->setArm(1, "away");
    const Json::Value doc = modelDoc(p->handle(configRequest(
        "ZoneMgr", "SearchZoneStatus", 2, R"({"maxResults":5,"searchID":"z","searchResultPosition":1})")));
    ASSERT_EQ(doc["status"].asInt(), 200);
    const Json::Value& d = doc["data"];
    EXPECT_EQ(d["totalMatches"].asInt(), 8);
    ASSERT_EQ(d["matchResults"].size(), 5u);
    const Json::Value& m = d["matchResults"];
    EXPECT_EQ(m[0]["armStatus"].asString(), "armed");
    EXPECT_EQ(m[1]["armStatus"].asString(), "disarmed");
    EXPECT_EQ(m[1]["faultStatus"].asString(), "fault");
    EXPECT_EQ(m[0]["faultStatus"].asString(), "normal");
    EXPECT_EQ(m[2]["antiDismantle"].asString(), "abnormal");
    EXPECT_EQ(m[3]["alarmStatus"].asString(), "alarm");
    EXPECT_EQ(m[3]["trigger"].asString(), "triggered");
    EXPECT_EQ(m[4]["zoneID"].asInt(), 5);

    // Deactivating a zone bypasses it; the basic-info search shows the mode.
    const Json::Value w = modelDoc(
        p->handle(configRequest("ZoneMgr", "SingleZoneBasicInfo", 1, R"({"deactivationMode":"entirely"})", 1, "6")));
    EXPECT_EQ(w["status"].asInt(), 200);
    EXPECT_TRUE(p->zone(6).bypassed);
    const Json::Value b = modelDoc(p->handle(configRequest(
        "ZoneMgr", "SearchZoneBasicInfo", 2,
        R"({"maxResults":256,"searchByZoneIDs":[6,2],"searchID":"z","searchResultPosition":1})")))["data"];
    ASSERT_EQ(b["matchResults"].size(), 2u);
    EXPECT_EQ(b["matchResults"][0]["zoneID"].asInt(), 2);
    EXPECT_EQ(b["matchResults"][1]["deactivationMode"].asString(), "entirely");
    EXPECT_EQ(b["matchResults"][1]["linkageSubSystems"][0]["subSystemNo"].asInt(), 2);
    const Json::Value bad = modelDoc(
        p->handle(configRequest("ZoneMgr", "SingleZoneBasicInfo", 1, R"({"deactivationMode":"off"})", 1, "9")));
    EXPECT_EQ(bad["status"].asInt(), 400);
}

// ---------------------------------------------------------------------------------------------
// Panel: the other model commands

TEST(EquipmentPanel, OtherCommands) {
    struct Case {
        const char* domain;
        const char* identifier;
        int configType;
        const char* body;
        int status;
        std::function<void(const Json::Value& data)> check;
    } cases[] = {
        {"InfoMgr", "DeviceDescription", 0, "", 200,
         [](const Json::Value& d) {
             EXPECT_EQ(d["deviceType"].asString(), "SecurityCP");
             EXPECT_EQ(d["model"].asString(), "VX-AP6400");
             EXPECT_EQ(d["subSystemNum"].asInt(), 4);
         }},
        {"InfoMgr", "DeviceVersion", 0, "", 200,
         [](const Json::Value& d) { EXPECT_EQ(d["firmwareVersion"].asString(), "V1.2.3"); }},
        {"TimeMgr", "LocalDateTime", 0, "", 200,
         [](const Json::Value& d) {
             EXPECT_TRUE(std::regex_match(d["localDateTime"].asString(),
                                          std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+08:00)")))
                 << d["localDateTime"];
         }},
        {"EventSubscription", "AddEventSubscribeCfg", 2, R"({"eventMode":"all"})", 200, nullptr},
        {"AlarmSystemMgr", "HostIntercomParam", 0, "", 200,
         [](const Json::Value& d) {
             EXPECT_TRUE(d["enabled"].isBool());
             EXPECT_TRUE(d["linkageSirens"].isArray());
             EXPECT_TRUE(d["supportLinkageSirens"].isArray());
             EXPECT_TRUE(d["SIPCfg"].isObject());
         }},
        {"DynamicCapability", "GetFunctions", 2, R"({"identifier":"AlarmSystemMgr"})", 200,
         [](const Json::Value& d) {
             EXPECT_TRUE(d["isSptTwoWayAudioParamCfg"].asBool());
             EXPECT_TRUE(d["isSptTwoWayAudioModeControl"].asBool());
         }},
        {"DynamicCapability", "GetFunctions", 2, R"({"identifier":"VoiceTalk"})", 200,
         [](const Json::Value& d) {
             const Json::Value& a = d["actions"][0];
             EXPECT_EQ(a["identifier"].asString(), "StartVoiceTalk");
             EXPECT_EQ(a["input"]["schema"]["properties"]["AudioCodeInfo"]["properties"]["type"]["default"].asInt(), 1);
         }},
        {"AlarmSystemMgr", "CtrlHostIntercomMode", 2, R"({"alarmTime":45,"callerType":"host","mode":"talk"})", 200,
         [](const Json::Value& d) {
             EXPECT_EQ(d["intercomMode"].asString(), "talk");
             EXPECT_EQ(d["audioTimeLeft"].asInt(), 45);
             EXPECT_TRUE(d["commandStatus"].isString());
         }},
        {"AlarmSystemMgr", "CtrlHostIntercomMode", 2, R"({"callerType":"host"})", 400, nullptr},
        {"SirenMgr", "SirenIntercomParam", 0, "", 200,
         [](const Json::Value& d) {
             EXPECT_TRUE(d["intercomEnabled"].isBool());
             EXPECT_TRUE(d["intercomDuration"].isInt());
             EXPECT_TRUE(d["intercomMode"].isString());
         }},
        {"EventMessageMgr", "EventMessageSupportInfo", 0, "", 200,
         [](const Json::Value& d) { EXPECT_FALSE(d["EventMessageList"].empty()); }},
        {"SystemMaintenance", "SystemReboot", 2, "", 200, nullptr},
        {"AlarmSubSystemMgr", "SearchSubSystemArmStatus", 2, R"({"searchID":"x"})", 200,
         [](const Json::Value& d) { EXPECT_EQ(d["SubSysArmStatusList"].size(), 4u); }},
        {"InfoMgr", "NoSuchThing", 0, "", 404, nullptr},
        {"NoSuchMgr", "DeviceDescription", 0, "", 404, nullptr},
    };
    auto p = makePanel();
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::string(tc.domain) + "/" + tc.identifier + " " + tc.body);
        const Json::Value doc = modelDoc(p->handle(configRequest(tc.domain, tc.identifier, tc.configType, tc.body)));
        EXPECT_EQ(doc["status"].asInt(), tc.status);
        if (tc.status != 200) {
            EXPECT_FALSE(doc.isMember("data"));
        }
        if (tc.check) tc.check(doc["data"]);
    }
    EXPECT_EQ(p->eventSubscription()["eventMode"].asString(), "all");
    EXPECT_EQ(p->reboots(), 1);
}

TEST(EquipmentPanel, ClockWritesAndFixedText) {
    auto p = makePanel();
    const Json::Value w = modelDoc(
        p->handle(configRequest("TimeMgr", "LocalDateTime", 1, R"({"localDateTime":"2021-02-03T04:05:06+08:00"})")));
    EXPECT_EQ(w["status"].asInt(), 200);
    EXPECT_EQ(modelDoc(p->handle(configRequest("TimeMgr", "LocalDateTime", 0, "")))["data"]["localDateTime"].asString(),
              "2021-02-03T04:05:06+08:00");
    const Json::Value bad =
        modelDoc(p->handle(configRequest("TimeMgr", "LocalDateTime", 1, R"({"localDateTime":"yesterday"})")));
    EXPECT_EQ(bad["status"].asInt(), 400);
}

// ---------------------------------------------------------------------------------------------
// Camera and recorder

TEST(EquipmentCamera, Documents) {
    struct Case {
        const char* name;
        bool recorder;
        const char* method;
        const char* url;
        const char* body;
        const char* root;
        std::vector<std::pair<const char*, const char*>> fields;
        std::vector<std::pair<const char*, size_t>> counts;
    } cases[] = {
        {"deviceInfo",
         false,
         "GET",
         "/OVIX/System/deviceInfo",
         "",
         "DeviceInfo",
         {{"deviceID", "88"}, {"model", "VX-IPC2040"}, {"deviceType", "IPCamera"}, {"macAddress", "02:5e:00:20:30:01"}},
         {}},
        {"deviceInfoWithQuery",
         true,
         "GET",
         "/OVIX/System/deviceInfo?format=json&devIndex=4",
         "",
         "DeviceInfo",
         {{"deviceType", "NVR"}, {"serialNumber", "VXNVR7608-20240101AA0001"}},
         {}},
        {"time", false, "GET", "/OVIX/System/time", "", "Time", {{"timeZone", "CST-8:00:00"}, {"timeMode", "NTP"}}, {}},
        {"storageCamera",
         false,
         "GET",
         "/OVIX/ContentMgmt/Storage",
         "",
         "storage",
         {{"status", "ok"}, {"capacity", "61440"}, {"freeSpace", "30720"}},
         {{"<hdd>", 1}}},
        {"storageRecorder", true, "GET", "/OVIX/ContentMgmt/Storage", "", "storage", {{"id", "1"}}, {{"<hdd>", 2}}},
        {"loopCamera",
         false,
         "GET",
         "/OVIX/ContentMgmt/Storage/extension",
         "",
         "storageExtension",
         {{"LoopEnable", "true"}},
         {}},
        {"loopRecorder",
         true,
         "GET",
         "/OVIX/ContentMgmt/Storage/extension",
         "",
         "storageExtension",
         {{"LoopEnable", "false"}},
         {}},
        {"inputsRecorder", true, "GET", "/OVIX/System/IO/inputs", "", "IOInputPortList", {}, {{"<IOInputPort>", 8}}},
        {"audioRecorder",
         true,
         "GET",
         "/OVIX/System/Audio/channels",
         "",
         "AudioChannelList",
         {},
         {{"<AudioChannel>", 4}}},
        {"videoCamera",
         false,
         "GET",
         "/OVIX/System/Video/inputs/channels",
         "",
         "VideoInputChannelList",
         {{"id", "1"}},
         {{"<VideoInputChannel>", 1}}},
        {"proxyRecorder",
         true,
         "GET",
         "/OVIX/ContentMgmt/InputProxy/channels",
         "",
         "InputProxyChannelList",
         {{"id", "5"}},
         {{"<InputProxyChannel>", 4}}},
        {"proxyCamera",
         false,
         "GET",
         "/OVIX/ContentMgmt/InputProxy/channels",
         "",
         "ResponseStatus",
         {{"statusCode", "4"}, {"subStatusCode", "notSupport"}},
         {}},
        {"talkChannel",
         false,
         "GET",
         "/OVIX/System/TwoWayAudio/channels/1",
         "",
         "TwoWayAudioChannel",
         {{"audioCompressionType", "G.711ulaw"}},
         {}},
        {"unknownPath",
         false,
         "GET",
         "/OVIX/System/nothingHere?format=json",
         "",
         "ResponseStatus",
         {{"statusCode", "4"}, {"subStatusCode", "notSupport"}, {"requestURL", "/OVIX/System/nothingHere?format=json"}},
         {}},
        {"wrongMethod",
         false,
         "DELETE",
         "/OVIX/System/time",
         "",
         "ResponseStatus",
         {{"statusCode", "4"}, {"subStatusCode", "methodNotAllowed"}},
         {}},
        {"unknownMethod", false, "FETCH", "/OVIX/System/time", "", "ResponseStatus", {{"statusCode", "6"}}, {}},
        {"noUrl", false, "GET", "", "", "ResponseStatus", {{"statusCode", "6"}}, {}},
        {"putTimeNotXml",
         false,
         "PUT",
         "/OVIX/System/time",
         "{\"Time\":{}}",
         "ResponseStatus",
         {{"statusCode", "6"}, {"subStatusCode", "badParameters"}},
         {}},
        {"putTimeBadLocal",
         false,
         "PUT",
         "/OVIX/System/time",
         "<Time><timeMode>manual</timeMode><localTime>soon</localTime></Time>",
         "ResponseStatus",
         {{"statusCode", "6"}},
         {}},
        {"putTimeUnclosed",
         false,
         "PUT",
         "/OVIX/System/time",
         "<Time><timeMode>manual</timeMode><localTime>2024-01-01T00:00:00</localTime>",
         "ResponseStatus",
         {{"statusCode", "6"}},
         {}},
        {"putHttpHostsWrongRoot",
         false,
         "PUT",
         "/OVIX/Event/notification/httpHosts/1",
         "<Other/>",
         "ResponseStatus",
         {{"statusCode", "6"}},
         {}},
        {"putDeviceInfoEmptyName",
         false,
         "PUT",
         "/OVIX/System/deviceInfo",
         "<DeviceInfo><deviceName></deviceName></DeviceInfo>",
         "ResponseStatus",
         {{"statusCode", "6"}},
         {}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto cam = makeCamera(tc.recorder ? recorderDefaults() : cameraDefaults());
        const std::string x = ovixBody(*cam, tc.method, tc.url, tc.body);
        EXPECT_EQ(x.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << x;
        EXPECT_EQ(xmlRoot(x), tc.root) << x;
        EXPECT_NE(x.find("</" + std::string(tc.root) + ">"), std::string::npos) << x;
        for (const auto& f : tc.fields) EXPECT_EQ(xmlField(x, f.first), f.second) << f.first;
        for (const auto& c : tc.counts) EXPECT_EQ(countOf(x, c.first), c.second) << c.first;
    }
}

TEST(EquipmentCamera, WritesAreKeptAndRead) {
    auto cam = makeCamera();
    const auto status = [](const std::string& x) { return xmlField(x, "statusCode"); };

    EXPECT_EQ(
        status(ovixBody(*cam, "PUT", "/OVIX/System/deviceInfo",
                        "<?xml version=\"1.0\"?><DeviceInfo><deviceName>Gate &amp; Yard</deviceName></DeviceInfo>")),
        "1");
    EXPECT_EQ(cam->deviceName(), "Gate & Yard");
    EXPECT_EQ(xmlField(ovixBody(*cam, "GET", "/OVIX/System/deviceInfo"), "deviceName"), "Gate &amp; Yard");

    const std::string put =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><Time version=\"2.0\" xmlns=\"urn:x\"><timeMode>manual</timeMode>"
        "<localTime>2023-05-06T07:08:09</localTime><timeZone>CST-9:00:00</timeZone></Time>";
    EXPECT_EQ(status(ovixBody(*cam, "PUT", "/OVIX/System/time", put)), "1");
    const std::string t = ovixBody(*cam, "GET", "/OVIX/System/time");
    EXPECT_EQ(xmlField(t, "timeMode"), "manual");
    EXPECT_EQ(xmlField(t, "localTime").substr(0, 14), "2023-05-06T07:");
    EXPECT_EQ(xmlField(t, "localTime").substr(19), "+09:00");
    EXPECT_EQ(ovixBody(*cam, "GET", "/OVIX/System/time/timeZone"), "CST-9:00:00");
    EXPECT_EQ(status(ovixBody(*cam, "PUT", "/OVIX/System/time/timeZone", "CST-5:30:00")), "1");
    EXPECT_EQ(cam->timeZone(), "CST-5:30:00");
    EXPECT_EQ(status(ovixBody(*cam, "PUT", "/OVIX/System/time/timeZone", "Mars")), "6");

    const std::string host =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<HttpHostNotification version=\"2.0\" xmlns=\"urn:x\">"
        "<id>1</id><url></url><protocolType>Aldon</protocolType><parameterFormatType>XML</parameterFormatType>"
        "<addressingFormatType>ipaddress</addressingFormatType><ipAddress>10.0.0.5</ipAddress><portNo>7662</portNo>"
        "<userName></userName><httpAuthenticationMethod>none</httpAuthenticationMethod></HttpHostNotification>";
    EXPECT_EQ(status(ovixBody(*cam, "PUT", "/OVIX/Event/notification/httpHosts/1", host)), "1");
    EXPECT_EQ(cam->httpHostDocument(), host);
    EXPECT_EQ(ovixBody(*cam, "GET", "/OVIX/Event/notification/httpHosts/1"), host);

    const std::string pic =
        R"({"PictureServerInformation":{"addressingFormatType":"ipaddress","ipv4Address":"10.0.0.6","portNo":6011,)"
        R"("pictureServerType":"cloudStorage","cloudStorage":{"cloudPoolId":1}}})";
    const Json::Value ps = parse(ovixBody(*cam, "PUT", "/OVIX/System/PictureServer?format=json", pic));
    EXPECT_EQ(ps["statusCode"].asInt(), 1);
    EXPECT_EQ(cam->pictureServer()["PictureServerInformation"]["portNo"].asInt(), 6011);
    EXPECT_EQ(parse(ovixBody(*cam, "PUT", "/OVIX/System/PictureServer?format=json", "<x/>"))["statusCode"].asInt(), 6);
    EXPECT_EQ(cam->pictureServer()["PictureServerInformation"]["portNo"].asInt(), 6011);

    EXPECT_EQ(status(ovixBody(*cam, "PUT", "/OVIX/ContentMgmt/Storage/extension",
                              "<storageExtension><LoopEnable>false</LoopEnable></storageExtension>")),
              "1");
    EXPECT_FALSE(cam->loopEnable());

    // Every request is kept with its query and body.
    const auto seen = cam->requestsFor("/OVIX/System/PictureServer");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "PUT");
    EXPECT_EQ(seen[0].url, "/OVIX/System/PictureServer?format=json");
    EXPECT_EQ(seen[0].body, pic);
    EXPECT_EQ(cam->requestsFor("/OVIX/System/time").size(), 5u);  // time and time/timeZone
}

TEST(EquipmentCamera, DiskStates) {
    struct Case {
        const char* name;
        std::function<void(CameraModel&)> act;
        std::vector<std::string> statuses;
        std::vector<std::string> free;
    } cases[] = {
        {"asBuilt", nullptr, {"ok", "ok"}, {"1048576", "2097152"}},
        {"oneError", [](CameraModel& c) { c.setDiskStatus(2, "error"); }, {"ok", "error"}, {"1048576", "2097152"}},
        {"full", [](CameraModel& c) { c.setAllDisksFull(); }, {"ok", "ok"}, {"0", "0"}},
        {"oneFree", [](CameraModel& c) { c.setDiskFree(1, 12); }, {"ok", "ok"}, {"12", "2097152"}},
        {"replaced",
         [](CameraModel& c) {
             c.setDisks({DiskState{3, "unformatted", 100, 0}});
         },
         {"unformatted"},
         {"0"}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto cam = makeCamera(recorderDefaults());
        if (tc.act) tc.act(*cam);
        std::string x = ovixBody(*cam, "GET", "/OVIX/ContentMgmt/Storage");
        std::vector<std::string> st, fr;
        for (size_t p = x.find("<hdd>"); p != std::string::npos; p = x.find("<hdd>", p + 1)) {
            const std::string one = x.substr(p, x.find("</hdd>", p) - p);
            st.push_back(xmlField(one, "status"));
            fr.push_back(xmlField(one, "freeSpace"));
        }
        EXPECT_EQ(st, tc.statuses);
        EXPECT_EQ(fr, tc.free);
    }
    auto cam = makeCamera();
    EXPECT_THROW(cam->setDiskStatus(9, "error"), std::out_of_range);
}

// ---------------------------------------------------------------------------------------------
// Fault switches

TEST(EquipmentFaults, KeyMatching) {
    struct Case {
        const char* entry;
        const char* key;
        bool match;
    } cases[] = {
        {"InfoMgr", "InfoMgr/DeviceDescription", true},
        {"InfoMgr/DeviceDescription", "InfoMgr/DeviceDescription", true},
        {"InfoMgr/Device", "InfoMgr/DeviceDescription", false},
        {"Info", "InfoMgr/DeviceDescription", false},
        {"/OVIX/System/time", "/OVIX/System/time", true},
        {"/OVIX/System/time", "/OVIX/System/time/timeZone", true},
        {"/OVIX/System/time", "/OVIX/System/timeX", false},
        {"/OVIX/", "/OVIX/System/time", true},
        {"media", "media", true},
        {"/OVIX/System/time/timeZone", "/OVIX/System/time", false},
    };
    for (const auto& tc : cases)
        EXPECT_EQ(Equipment::keyMatches(tc.entry, tc.key), tc.match) << tc.entry << " " << tc.key;
}

TEST(EquipmentFaults, PanelAnswers) {
    const Json::Value info = configRequest("InfoMgr", "DeviceDescription", 0, "");
    const Json::Value arm =
        ctrl("CtrlSubSystemArmList", R"({"armType":"away","operationMode":"assigned","subSystemIDList":[1]})");
    Fault silent;
    silent.action = FaultAction::Silent;
    Fault late;
    late.delay = 1500ms;
    Fault transport;
    transport.action = FaultAction::TransportError;
    transport.transportError = 17;
    Fault devErr;
    devErr.action = FaultAction::DeviceError;
    devErr.code = "0x00200005";
    Fault junk;
    junk.action = FaultAction::Garbage;
    Fault onlyInfo = silent;
    onlyInfo.match = {"InfoMgr"};
    Fault once = silent;
    once.times = 1;

    enum class Out { None, Normal, Error17, Device, NotJson };
    struct Case {
        const char* name;
        std::vector<Fault> faults;
        std::vector<std::string> answerOnly;
        std::vector<Out> infoOuts;  // for successive requests
        Out armOut;
        std::chrono::milliseconds delay;
        const char* arm1;  // subsystem 1 after the arm request
    } cases[] = {
        {"none", {}, {}, {Out::Normal}, Out::Normal, 0ms, "away"},
        {"silent", {silent}, {}, {Out::None, Out::None}, Out::None, 0ms, "disarm"},
        {"late", {late}, {}, {Out::Normal}, Out::Normal, 1500ms, "away"},
        {"transport", {transport}, {}, {Out::Error17}, Out::Error17, 0ms, "disarm"},
        {"deviceError", {devErr}, {}, {Out::Device}, Out::Device, 0ms, "disarm"},
        {"garbage", {junk}, {}, {Out::NotJson}, Out::NotJson, 0ms, "disarm"},
        {"onlyOneDomain", {onlyInfo}, {}, {Out::None}, Out::Normal, 0ms, "away"},
        {"onceOnly", {once}, {}, {Out::None, Out::Normal}, Out::Normal, 0ms, "away"},
        {"firstFaultWins", {transport, silent}, {}, {Out::Error17}, Out::Error17, 0ms, "disarm"},
        {"answerOnlyControl", {}, {"AlarmSubSystemMgr"}, {Out::None}, Out::Normal, 0ms, "away"},
        {"answerOnlyInfo", {}, {"InfoMgr/DeviceDescription"}, {Out::Normal}, Out::None, 0ms, "disarm"},
    };
    const auto check = [](const Answer& a, Out o, std::chrono::milliseconds delay) {
        if (o == Out::None) {
            EXPECT_FALSE(a.send);
            return;
        }
        ASSERT_TRUE(a.send);
        EXPECT_EQ(a.delay, delay);
        if (o == Out::Error17) {
            EXPECT_EQ(a.members["error"].asInt(), 17);
            EXPECT_FALSE(a.members.isMember("data"));
            return;
        }
        EXPECT_FALSE(a.members.isMember("error"));
        bool ok = false;
        const Json::Value d = parse(a.members["data"].asString(), &ok);
        if (o == Out::NotJson) {
            EXPECT_FALSE(ok && d.isObject()) << a.members["data"];
            return;
        }
        ASSERT_TRUE(ok);
        if (o == Out::Device) {
            EXPECT_EQ(d["status"].asInt(), 400);
            EXPECT_EQ(d["code"].asString(), "0x00200005");
        } else {
            EXPECT_EQ(d["status"].asInt(), 200);
        }
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto p = makePanel();
        for (const auto& f : tc.faults) p->addFault(f);
        p->answerOnly(tc.answerOnly);
        for (Out o : tc.infoOuts) check(p->handle(info), o, tc.delay);
        check(p->handle(arm), tc.armOut, tc.delay);
        EXPECT_EQ(p->subsystem(1).arm, tc.arm1);
        // Every request is recorded, answered or not.
        EXPECT_EQ(p->requests().size(), tc.infoOuts.size() + 1);
        p->clearFaults();
        p->answerOnly({});
        check(p->handle(info), Out::Normal, 0ms);
    }
}

TEST(EquipmentFaults, CameraAnswers) {
    enum class Out { None, Normal, Error, Device, NotXml };
    Fault silent;
    silent.action = FaultAction::Silent;
    Fault transport;
    transport.action = FaultAction::TransportError;
    Fault devErr;
    devErr.action = FaultAction::DeviceError;
    devErr.statusCode = 2;
    devErr.subStatusCode = "deviceBusy";
    Fault junk;
    junk.action = FaultAction::Garbage;
    Fault storageOnly = junk;
    storageOnly.match = {"/OVIX/ContentMgmt/Storage"};
    struct Case {
        const char* name;
        std::vector<Fault> faults;
        std::vector<std::string> answerOnly;
        Out timeOut;     // GET /OVIX/System/time
        Out storageOut;  // GET /OVIX/ContentMgmt/Storage/extension
    } cases[] = {
        {"none", {}, {}, Out::Normal, Out::Normal},
        {"silent", {silent}, {}, Out::None, Out::None},
        {"transport", {transport}, {}, Out::Error, Out::Error},
        {"deviceError", {devErr}, {}, Out::Device, Out::Device},
        {"garbage", {junk}, {}, Out::NotXml, Out::NotXml},
        {"storageSubtree", {storageOnly}, {}, Out::Normal, Out::NotXml},
        {"answerOnlyTime", {}, {"/OVIX/System/time"}, Out::Normal, Out::None},
    };
    const auto check = [](const Answer& a, Out o, const char* root) {
        if (o == Out::None) {
            EXPECT_FALSE(a.send);
            return;
        }
        ASSERT_TRUE(a.send);
        const std::string x = a.members["body"].asString();
        switch (o) {
            case Out::Error:
                EXPECT_EQ(a.members["error"].asInt(), 0x30000001);
                EXPECT_TRUE(x.empty());
                break;
            case Out::Device:
                EXPECT_EQ(xmlRoot(x), "ResponseStatus");
                EXPECT_EQ(xmlField(x, "statusCode"), "2");
                EXPECT_EQ(xmlField(x, "subStatusCode"), "deviceBusy");
                break;
            case Out::NotXml:
                EXPECT_EQ(x.find('<'), std::string::npos) << x;
                break;
            default:
                EXPECT_EQ(xmlRoot(x), root);
        }
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto cam = makeCamera();
        for (const auto& f : tc.faults) cam->addFault(f);
        cam->answerOnly(tc.answerOnly);
        check(cam->handle(ovixRequest("GET", "/OVIX/System/time")), tc.timeOut, "Time");
        check(cam->handle(ovixRequest("GET", "/OVIX/ContentMgmt/Storage/extension")), tc.storageOut,
              "storageExtension");
    }
}

// Handlers run on I/O threads while tests look from others.
TEST(EquipmentPanel, ConcurrentUse) {
    PanelOptions o;
    o.subsystems = 4;
    auto p = makePanel(o);
    auto h = p->handler();
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const std::string ids = std::to_string(t + 1);
            for (int i = 0; i < 200; ++i) {
                const char* id = i % 2 ? "CtrlSubSystemDisarmList" : "CtrlSubSystemArmList";
                const Json::Value doc = parse(
                    h(ctrl(id, R"({"armType":"stay","operationMode":"assigned","subSystemIDList":[)" + ids + "]}"))
                        .members["data"]
                        .asString());
                if (doc["status"].asInt() != 200) ++failures[static_cast<size_t>(t)];
            }
        });
    for (int i = 0; i < 200; ++i) {
        (void)p->subsystems();
        (void)p->requests();
        p->triggerZone(1 + i % 8);
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    EXPECT_EQ(armStates(*p), std::vector<std::string>(4, "disarm"));
    EXPECT_EQ(p->requests().size(), 800u);
}

// ---------------------------------------------------------------------------------------------
// Over the wire: a simulated device with the model behind it

TEST(EquipmentWire, PanelAndCameraBehindDevices) {
    fakegw::Gateway gw;
    Simulator sim;
    struct Case {
        const char* name;
        Family family;
        std::shared_ptr<Equipment> model;
        std::vector<Json::Value> requests;
        std::function<void(const std::vector<Json::Value>& answers)> check;
    } cases[] = {
        {"panel",
         Family::Vexa,
         makePanel(),
         {ctrl("CtrlSubSystemArmList", R"({"armType":"away","operationMode":"all"})"),
          ctrl("CtrlSubSystemArmList", R"({"armType":"away","operationMode":"all"})")},
         [](const std::vector<Json::Value>& a) {
             ASSERT_EQ(a.size(), 2u);
             EXPECT_EQ(a[0]["type"].asString(), "configAnswer");
             EXPECT_EQ(a[0]["error"].asInt(), 0);
             EXPECT_EQ(parse(a[0]["data"].asString())["status"].asInt(), 200);
             EXPECT_EQ(parse(a[1]["data"].asString())["code"].asString(), "0x01400015");
         }},
        {"camera",
         Family::AldonV5,
         makeCamera(),
         {ovixRequest("GET", "/OVIX/System/deviceInfo"), ovixRequest("GET", "/OVIX/Nope")},
         [](const std::vector<Json::Value>& a) {
             ASSERT_EQ(a.size(), 2u);
             EXPECT_EQ(a[0]["type"].asString(), "ovixAnswer");
             EXPECT_EQ(xmlRoot(a[0]["body"].asString()), "DeviceInfo");
             EXPECT_EQ(xmlField(a[1]["body"].asString(), "statusCode"), "4");
         }},
    };
    int n = 0;
    for (auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        DeviceConfig c;
        c.deviceId = std::string("eq") + tc.name;
        c.key = "secret";
        c.family = tc.family;
        c.cmsPort = gw.cmsPort();
        c.amsPort = gw.amsPort();
        c.handler = tc.model->handler();
        auto dev = sim.addDevice(c);
        dev->start();
        ASSERT_TRUE(dev->waitFor(State::LoggedIn, 20s));
        const int conn = gw.waitFrame("hello", static_cast<size_t>(++n))["_conn"].asInt();
        const std::string answerType = tc.family == Family::Vexa ? "configAnswer" : "ovixAnswer";
        std::vector<Json::Value> answers;
        uint32_t seq = 100;
        for (auto r : tc.requests) {
            r["seq"] = ++seq;
            gw.send(conn, r);
            const Json::Value a = gw.waitFrame(answerType, answers.size() + 1);
            EXPECT_EQ(a["seq"].asUInt(), seq);
            answers.push_back(a);
        }
        tc.check(answers);
        EXPECT_EQ(tc.model->requests().size(), tc.requests.size());
    }
}

// The program's --equipment option: which model answers the gateway's requests.
TEST(EquipmentWire, ProgramOption) {
    const Json::Value arm = ctrl("CtrlSubSystemArmList", R"({"armType":"away","operationMode":"all"})");
    const Json::Value search =
        ctrl("SearchSubSystemStatus", R"({"maxResults":8,"searchID":"s","searchResultPosition":1})");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<Json::Value> requests;
        std::function<void(const std::vector<Json::Value>& answers)> check;
    } cases[] = {
        {"vexaDefaultIsPanel",
         {},
         {arm, arm},
         [](const std::vector<Json::Value>& a) {
             EXPECT_EQ(parse(a[0]["data"].asString())["status"].asInt(), 200);
             EXPECT_EQ(parse(a[1]["data"].asString())["code"].asString(), "0x01400015");
         }},
        {"plainAnswers",
         {"--equipment", "none"},
         {arm, arm},
         [](const std::vector<Json::Value>& a) { EXPECT_EQ(parse(a[1]["data"].asString())["status"].asInt(), 200); }},
        {"panelSize",
         {"--subsystems", "10", "--zones", "20"},
         {search},
         [](const std::vector<Json::Value>& a) {
             const Json::Value d = parse(a[0]["data"].asString())["data"];
             EXPECT_EQ(d["totalMatches"].asInt(), 10);
             EXPECT_EQ(d["numOfMatches"].asInt(), 8);
         }},
        {"aldonDefaultIsCamera",
         {"--family", "aldonv5"},
         {ovixRequest("GET", "/OVIX/System/deviceInfo")},
         [](const std::vector<Json::Value>& a) {
             EXPECT_EQ(xmlField(a[0]["body"].asString(), "deviceID"), "dev1");
             EXPECT_EQ(xmlField(a[0]["body"].asString(), "deviceType"), "IPCamera");
         }},
        {"recorder",
         {"--family", "aldonv5", "--equipment", "recorder"},
         {ovixRequest("GET", "/OVIX/ContentMgmt/Storage")},
         [](const std::vector<Json::Value>& a) { EXPECT_EQ(countOf(a[0]["body"].asString(), "<hdd>"), 2u); }},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        fakegw::Options go;
        go.keepAliveSec = 1;  // the first heartbeat shows the login is through
        fakegw::Gateway gw(go);
        std::vector<std::string> args = {
            DEVSIM_BIN, "--cms-port", std::to_string(gw.cmsPort()), "--ams-port", std::to_string(gw.amsPort()),
            "--key",    "secret"};
        args.insert(args.end(), tc.args.begin(), tc.args.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, DEVSIM_BIN, &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        const Json::Value hb = gw.waitFrame("heartbeat");
        EXPECT_TRUE(hb.isObject());
        std::vector<Json::Value> answers;
        if (hb.isObject()) {
            const int conn = hb["_conn"].asInt();
            uint32_t seq = 0;
            for (auto r : tc.requests) {
                r["seq"] = ++seq;
                gw.send(conn, r);
                const std::string t = r["type"].asString() == "config" ? "configAnswer" : "ovixAnswer";
                const Json::Value a = gw.waitFrame(t, answers.size() + 1);
                if (!a.isObject()) break;
                answers.push_back(a);
            }
        }
        ::kill(pid, SIGTERM);
        int st = 0;
        ::waitpid(pid, &st, 0);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
        ASSERT_EQ(answers.size(), tc.requests.size());
        tc.check(answers);
    }
    for (const char* bad : {"--equipment toaster", "--subsystems 0", "--zones x"}) {
        const std::string cmd = std::string(DEVSIM_BIN) + " --cms-port 1 " + bad + " >/dev/null 2>&1";
        const int st = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 2) << bad;
    }
}
