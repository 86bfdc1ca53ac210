#include <gtest/gtest.h>

#include "FakeChannel.h"
#include "TestSupport.h"
#include "common/JsonUtil.h"
#include "common/StatusList.h"
#include "gateway/VexaDeviceGateway.h"
#include "gateway/ZonesOutputs.h"

namespace {

using vexa::status::kBadParameters;
using vexa::status::kInvalidContent;

// Every command a handler sent: "identifier subId scope kind body" per line.
std::string sentCommands(const FakeChannel& ch) {
    std::string out;
    for (const ModelCommand& c : ch.sent)
        out += c.identifier + " " + c.subId + " " + c.scope + " " + std::to_string(c.kind) + " " + c.body + "\n";
    return out;
}

TEST(ZonesOutputs, ExtensionDeviceStatusOfEveryKind) {
    FakeChannel ch;
    // Output modules: every member, wrong types left out, the walk stops at a non-object.
    ch.script(0, R"({"numOfMatches":2,"totalMatches":2,"matchResults":[)"
                 R"({"childDevID":"1","onlineStatus":"online","heartbeatStatus":"abnormal","antiDismantle":"normal",)"
                 R"("batteryStatus":"low","batteryValue":20,"signalIntensityValue":80,"temperatureValue":-5,)"
                 R"("isViaRepeater":true,"repeaterName":"R1","voltValue":12,"currentValue":3,"loadPower":36,)"
                 R"("loadPowerConsumption":1000,"openStatus":"open"},)"
                 R"({"childDevID":2,"onlineStatus":"offline","antiDismantle":"odd","batteryValue":2.5,)"
                 R"("voltValue":4294967296,"isViaRepeater":"yes"},7,{"childDevID":"9"}]})");
    // Relays over two pages: open status only.
    ch.script(0, R"({"numOfMatches":1,"totalMatches":2,"matchResults":[{"childDevID":"1","openStatus":"open",)"
                 R"("onlineStatus":"online","heartbeatStatus":"abnormal","antiDismantle":"abnormal"}]})");
    ch.script(0, R"({"numOfMatches":1,"totalMatches":2,"matchResults":[{"childDevID":"2)" "\xff" R"("}]})");
    ch.script(vexa::status::kNotSupport, R"({"status":404})");                 // sirens fail: skipped
    ch.script(0, "not json");                                                  // repeaters: skipped
    ch.script(0, R"({"numOfMatches":1,"totalMatches":1,"matchResults":[{"childDevID":"3",)"
                 R"("onlineStatus":"online","heartbeatStatus":"abnormal","openStatus":"closed"}]})");  // card reader
    ch.script(0, R"({"numOfMatches":1,"totalMatches":1,"matchResults":[{"childDevID":"4","batteryStatus":"x",)"
                 R"("antiDismantle":"abnormal","voltValue":1}]})");  // extension module: no battery, no power
    ch.script(0, R"({"numOfMatches":0,"totalMatches":0,"matchResults":[]})");  // keypads: none
    ch.script(0, R"({"numOfMatches":1,"totalMatches":1,"matchResults":[{"childDevID":"5","signalIntensityValue":3,)"
                 R"("batteryStatus":"ok","batteryValue":90,"temperatureValue":1}]})");  // remote: battery only
    ch.script(0, R"({"numOfMatches":1,"totalMatches":1,"matchResults":{"childDevID":"6"}})");  // not an array
    std::string rsp;
    ASSERT_EQ(getExDevStatus(ch, rsp), 0u);
    EXPECT_EQ(rsp,
              R"({"ExDevStatus":{"CardReaderList":[{"CardReader":{"seq":"3","status":"heartbeatAbnormal"}}],)"
              R"("ExtensionList":[{"ExtensionModule":{"seq":"4","status":"notRelated","tamperEvident":true}}],)"
              R"("OutputList":[{"Output":{"seq":"1","status":"open"}},{"Output":{"seq":"2)" "\xEF\xBF\xBD" R"(","status":"notRelated"}}],)"
              R"("OutputModList":[{"OutputMod":{"charge":"low","chargeValue":20,"currentValue":3,)"
              R"("energySumVaule":1000,"isViaRepeater":true,"powerLoad":36,"repeaterName":"R1","seq":"1","signal":80,)"
              R"("status":"heartbeatAbnormal","tamperEvident":false,"temperature":-5,"voltValue":12}},)"
              R"({"OutputMod":{"status":"offline"}}],)"
              R"("RemoteList":[{"Remote":{"charge":"ok","chargeValue":90,"seq":"5","status":"notRelated"}}]}})");
    ASSERT_EQ(ch.sent.size(), 10u);  // relays took two pages
    EXPECT_EQ(ch.sent[2].body, R"({"maxResults":96,"searchID":"c69915d579ff4d8ca7b55ffa22a91521","searchResultPosition":2})");
    // No kind answers with a match: "notSupport", nothing for the host but the status.
    for (const FakeChannel::Answer& a : {FakeChannel::Answer{0, R"({"numOfMatches":0})"}, {258, "late"}, {0, R"({"status":"200"})"}}) {
        FakeChannel none;
        none.fallback = a;
        EXPECT_EQ(getExDevStatus(none, rsp), vexa::status::kNotSupport) << a.text;
        EXPECT_TRUE(rsp.empty() && none.sent.size() == 9u);
    }
}

TEST(ZonesOutputs, RelayControlBodies) {
    const struct { const char* body; uint32_t rc; const char* sent; uint32_t deviceRc = 0; } cases[] = {
        {R"({"OutputsCtrl":{"switch":"open"}})", 0, R"({"switch":"open"})"},
        {R"({"OutputsCtrl":{"switch":"open"}})", 0x30000001, R"({"switch":"open"})", 0x30000001},
        {R"({"OutputsCtrl":{"switch":"close","List":[]}})", 0, R"({"switch":"close"})"},
        {R"({"OutputsCtrl":{"switch":"open","List":[{"seq":"1"},{"seq":2},"3",{"seq":"4\"}"}]}})", 0,
         R"({"childDevIDs":["1","4\"}"],"switch":"open"})"},
        {R"({"OutputsCtrl":{"List":[{"seq":"1"}]}})", kBadParameters, nullptr},
        {R"({"OutputsCtrl":{"switch":1}})", kBadParameters, nullptr},
        {R"({"OutputsCtrl":"open"})", kBadParameters, nullptr}, {"[]", kBadParameters, nullptr},
        {"{", kInvalidContent, nullptr}, {"", kInvalidContent, nullptr},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(c.deviceRc, R"({"raw":1})");
        std::string rsp = "stale";
        EXPECT_EQ(ctrlOutputs(ch, rsp, c.body), c.rc) << c.body;
        EXPECT_EQ(rsp + sentCommands(ch), c.sent ? std::string("CtrlRelayList 0 global 3 ") + c.sent + "\n" : "") << c.body;
    }
}

TEST(ZonesOutputs, ZoneDeactivation) {
    const std::string one = "SingleZoneBasicInfo ";
    const struct { const char* body; uint32_t rc; std::string sent; } cases[] = {
        {R"({"List":[{"id":0},{"id":4}],"deactivationMode":"entirely","oneTimeDeactivationMode":"lidOnly"})", 0,
         one + "1 Zone 2 " + R"({"deactivationMode":"entirely","oneTimeDeactivationMode":"lidOnly"})" + "\n" + one +
             "5 Zone 2 " + R"({"deactivationMode":"entirely","oneTimeDeactivationMode":"lidOnly"})" + "\n"},
        {R"({"List":[{"id":2147483647},{"id":"3"},{"id":1.5},3,{"id":3.0}],"deactivationMode":1})", 0,
         one + "2147483648 Zone 2 {}\n" + one + "4 Zone 2 {}\n"},
        {R"({"List":[]})", 0, ""}, {R"({"List":[{"id":"1"}]})", 0, ""},
        {R"({"List":[{"id":1},{"id":-1}]})", kBadParameters, ""},
        {R"({"List":{"id":1}})", kBadParameters, ""}, {"[]", kBadParameters, ""}, {"nope", kInvalidContent, ""},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        std::string rsp = "stale";
        EXPECT_EQ(setZoneDeactivation(ch, rsp, c.body), c.rc) << c.body;
        EXPECT_EQ(rsp + sentCommands(ch), c.sent) << c.body;
    }
    // The first failure ends the loop and is the answer.
    FakeChannel ch;
    ch.script(0, "{}");
    ch.script(vexa::status::kDetectorInFault, R"({"status":400,"code":"0x01400019"})");
    std::string rsp;
    EXPECT_EQ(setZoneDeactivation(ch, rsp, R"({"List":[{"id":0},{"id":1},{"id":2}]})"), vexa::status::kDetectorInFault);
    EXPECT_TRUE(ch.sent.size() == 2u && rsp.empty());
}

const char* kZoneCond = R"({"ZoneCond":{"searchID":"s1","searchResultPosition":0,"maxResults":3}})";

TEST(ZonesOutputs, ZoneSearchWholeDocument) {
    FakeChannel ch;
    ch.script(0, R"({"responseStatus":"MORE","numOfMatches":2,"totalMatches":5,"matchResults":[)"
                 R"({"zoneID":3,"onlineStatus":"online","heartbeatStatus":"abnormal","trigger":"triggered",)"
                 R"("faultStatus":"fault","antiDismantle":"normal","shieldedStatus":"shielded","bypassStatus":"bypassed",)"
                 R"("deactivationMode":"off","armStatus":"arming","alarmStatus":"alarm","powerSupplySource":"mains",)"
                 R"("batteryType":"li","batteryStatus":"ok","batteryValue":99,"signalIntensityValue":7,)"
                 R"("temperatureValue":21,"humidityValue":40,"healthStatus":"good",)"
                 R"("waterLeakDetector":{"waterDetectedAlarm":"wet"},"smokeDetector":{"smokeDetectedAlarm":"no"},)"
                 R"("temperatureDetector":{"temperatureDetectedAlarm":"hot"},)"
                 R"("magnetShockDetector":{"magnetOpenStatus":"yes","magnetShockStatus":"no","magnetTiltStatus":1},)"
                 R"("tripleTechnologyPirDetector":{"pircamConnected":"connected"}},)"
                 R"({"zoneID":-2147483648,"onlineStatus":"offline","antiDismantle":"odd","armStatus":"armFailed",)"
                 R"("bypassStatus":"no","deactivationMode":"entirely","batteryValue":"9"},5]})");
    ch.script(0, R"({"matchResults":[{"zoneID":3,"zoneName":"Hall \"1\"","deviceNo":7,"deactivationMode":"off",)"
                 R"("oneTimeDeactivationMode":"lidOnly","detectorType":"pir","linkageSubSystems":[{"subSystemNo":2},3,"x"]},)"
                 R"({"zoneID":"3","zoneName":"wrong"},{"zoneID":9,"zoneName":"not asked"}]})");
    ch.script(0, R"({"responseStatus":"OK","numOfMatches":1,"totalMatches":5,"matchResults":[{"zoneID":1}]})");
    ch.script(vexa::status::kWaitTimeout, "");  // basic information of page 2 fails: zone stays bare
    std::string rsp;
    ASSERT_EQ(searchZoneStatus(ch, rsp, kZoneCond), 0u);
    EXPECT_EQ(rsp,
              R"({"ZoneSearch":{"ZoneList":[{"Zone":{"alarm":true,"batteryType":"li","bypassed":false,"charge":"ok","chargeValue":99,)"
              R"("deactivationMode":"off","detectorType":"pir","deviceNo":7,"healthStatus":"good","humidity":40,)"
              R"("id":2,"isArming":true,"linkageSubSystem":[2,3],"magnetOpenStatus":true,"magnetShockStatus":false,)"
              R"("name":"Hall \"1\"","oneTimeDeactivationMode":"lidOnly","pirCamConnected":true,)"
              R"("powerSupplySource":"mains","shielded":true,"signal":7,)"
              R"("smokeDetectedExceed":"no","status":"breakDown","subSystemNo":2,"tamperEvident":false,)"
              R"("temperature":21,"temperatureExceed":"hot","waterDetectorAlarm":"wet"}},)"
              R"({"Zone":{"armed":false,"bypassed":true,"id":-2147483649,"status":"offline","tamperEvident":false}},)"
              R"({"Zone":{"id":0,"status":"notRelated"}}],"numOfMatches":3,"responseStatusStrg":"OK",)"
              R"("searchID":"s1","totalMatches":5}})");
    EXPECT_EQ(ch.sent[1].body, R"({"maxResults":256,"searchByZoneIDs":[3,-2147483648],"searchID":"s1","searchResultPosition":1})");
    EXPECT_EQ(ch.sent[2].body, R"({"maxResults":3,"searchID":"s1","searchResultPosition":3})");
}

TEST(ZonesOutputs, ZoneSearchFailures) {
    const char* page = R"({"numOfMatches":1,"totalMatches":3,"matchResults":[{"zoneID":1}]})";
    const struct { const char* body; const char* answer; uint32_t rc; size_t sent; } cases[] = {
        {"x", page, kInvalidContent, 0},
        {R"({"ZoneCond":{"searchID":"s","searchResultPosition":0}})", page, kBadParameters, 0},
        {R"({"ZoneCond":{"searchID":"s","searchResultPosition":1.5,"maxResults":3}})", page, kBadParameters, 0},
        {R"({"ZoneCond":{"searchID":"s","searchResultPosition":-1,"maxResults":3}})", page, kBadParameters, 0},
        {R"({"ZoneCond":{"searchID":"s","searchResultPosition":0,"maxResults":0}})", page, kBadParameters, 0},
        {kZoneCond, "not json", kInvalidContent, 1}, {kZoneCond, "[1]", kBadParameters, 1},
        {kZoneCond, R"({"status":403})", vexa::status::kLowPrivilege, 1},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.fallback = {0, c.answer};
        std::string rsp = "stale";
        EXPECT_EQ(searchZoneStatus(ch, rsp, c.body), c.rc) << c.body << c.answer;
        EXPECT_TRUE(rsp.empty() && ch.sent.size() == c.sent) << c.body;
    }
}

// A page of `n` elements `{"<idName>":1}` claiming `num` new matches of `total`.
std::string pageOf(const char* idName, int n, int64_t num, int64_t total) {
    std::string s = "{\"numOfMatches\":" + std::to_string(num) + ",\"totalMatches\":" + std::to_string(total) +
                    ",\"matchResults\":[";
    for (int i = 0; i < n; ++i) s += std::string(i ? "," : "") + "{\"" + idName + "\":1}";
    return s + "]}";
}

// Pages that never end: no progress, the page limit, and the gathering bounds.
TEST(ZonesOutputs, PagedSearchesEnd) {
    const char* body = R"({"ZoneCond":{"searchID":"s","searchResultPosition":2147483647,"maxResults":2147483647}})";
    const struct { const char* what; int n; int64_t num, total; size_t zonePages, exDevPages; const char* log; } cases[] = {
        {"stalls", 1, 0, 9, 1, 9, "search ends early"},
        {"endless", 0, 1, 2147483647, kPanelSearchMaxPages, 9 * kPanelSearchMaxPages, nullptr},
        {"many", 3000, 1, 2147483647, 4, 4, "search stops gathering"},
    };
    for (const auto& c : cases) {
        FakeChannel zones, devs;
        zones.fallback = {0, pageOf("zoneID", c.n, c.num, c.total)};
        devs.fallback = {0, pageOf("childDevID", c.n, c.num, c.total)};
        vtest::LogCapture log(4);
        std::string rsp;
        ASSERT_EQ(searchZoneStatus(zones, rsp, body), 0u) << c.what;
        size_t pages = 0;
        for (const ModelCommand& m : zones.sent) pages += m.identifier == "SearchZoneStatus";
        EXPECT_EQ(pages, c.zonePages) << c.what;
        EXPECT_LE(rsp.size(), kPanelSearchMaxText + 256) << c.what;
        getExDevStatus(devs, rsp);
        EXPECT_EQ(devs.sent.size(), c.exDevPages) << c.what;
        EXPECT_LE(rsp.size(), kPanelSearchMaxText + 256) << c.what;
        if (c.log) { EXPECT_TRUE(log.contains(c.log)) << c.what; }
    }
}

}  // namespace
