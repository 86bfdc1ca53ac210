// Zone, relay and extension-device routes end to end through a simulated panel: the model
// commands the panel received and the answers the host received, byte for byte.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "GatewayFixture.h"
#include "common/JsonUtil.h"
#include "devsim/Equipment.h"

namespace {

using devsim::Family;
using devsim::Peripheral;
using devsim::PeripheralKind;

const std::string kOk = R"({"errorCode":1,"errorMsg":"ok","statusCode":1,"statusString":"OK","subStatusCode":"ok"})";

class PanelRoutes : public vtest::GatewayFixture {
protected:
    std::string configXml() const override { return "<config><req_timeout>2</req_timeout></config>"; }
    vtest::HostDevice online(const std::string& id, const std::shared_ptr<devsim::PanelModel>& panel) {
        auto host = addHost(id, Family::Vexa, "SecurityCP");
        startDevice(id, Family::Vexa, panel->handler());
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return host;
    }
    // The zone, relay and peripheral commands the panel received (not those of the on-line
    // set-up, which may still run): "Domain/Identifier subId scope configType body".
    static std::string received(const devsim::PanelModel& panel) {
        static const std::string kOurs = "ZoneMgr RelayMgr OutputModulesMgr SirenMgr RepeaterMgr CardReaderMgr "
                                         "ExtensionModule KeypadMgr RemoteMgr TransmitterMgr ";
        std::string out;
        for (const auto& r : panel.requests())
            if (kOurs.find(r.key.substr(0, r.key.find('/')) + " ") != std::string::npos)
                out += command(r.key, r.frame["configType"].asInt(), r.body, r.frame["subId"].asString(),
                               r.frame["scope"].asString(), false);
        return out;
    }
    static std::string command(const std::string& key, int type, const std::string& body, const std::string& subId = "0",
                               const std::string& scope = "global", bool wrap = true) {
        return key + " " + subId + " " + scope + " " + std::to_string(type) + " " +
               (wrap ? devsim::wrapModelBody(type, body) : body) + "\n";
    }
};

TEST_F(PanelRoutes, RelaysAndExtensionDevices) {
    auto panel = devsim::makePanel();
    Peripheral module, relay, siren;
    module.kind = PeripheralKind::OutputModule, module.id = "om1", module.current = 100, module.load = 12;
    module.energy = 1000, module.repeater = "rp1";
    relay.id = "1";
    siren.kind = PeripheralKind::Siren, siren.id = "sr1", siren.heartbeatAbnormal = true, siren.tamper = true;
    panel->setPeripherals({module, relay, siren});
    auto host = online("panel-r", panel);

    const std::string switchOn = R"({"OutputsCtrl":{"switch":"open","List":[{"seq":"1"}]}})";
    EXPECT_EQ(call(host, "POST", "/OVIX/SecurityCP/control/outputs?format=json", switchOn), kOk);
    EXPECT_TRUE(panel->peripheral(PeripheralKind::Relay, "1").open);
    EXPECT_EQ(subKey(call(host, "POST", "/OVIX/SecurityCP/control/outputs?format=json", R"({"OutputsCtrl":{}})")),
              "badParameters");  // no "switch": nothing is sent
    EXPECT_EQ(subKey(call(host, "POST", "/OVIX/SecurityCP/control/outputs?format=json",
                          R"({"OutputsCtrl":{"switch":"close","List":[{"seq":"9"}]}})")),
              "badParameters");  // the panel has no relay 9
    EXPECT_EQ(received(*panel), command("RelayMgr/CtrlRelayList", 2, R"({"childDevIDs":["1"],"switch":"open"})") +
                                    command("RelayMgr/CtrlRelayList", 2, R"({"childDevIDs":["9"],"switch":"close"})"));

    panel->clearRequests();
    EXPECT_EQ(call(host, "GET", "/OVIX/SecurityCP/status/exDevStatus?format=json"),
              R"({"ExDevStatus":{"OutputList":[{"Output":{"seq":"1","status":"open"}}],)"
              R"("OutputModList":[{"OutputMod":{"charge":"normal","chargeValue":100,"currentValue":100,)"
              R"("energySumVaule":1000,"isViaRepeater":true,"powerLoad":12,"repeaterName":"rp1","seq":"om1",)"
              R"("signal":90,"status":"online","tamperEvident":false,"temperature":25,"voltValue":12}}],)"
              R"("SirenList":[{"Siren":{"charge":"normal","chargeValue":100,"seq":"sr1","signal":90,)"
              R"("status":"heartbeatAbnormal","tamperEvident":true,"temperature":25}}]}})");
    std::string keys;  // every kind in its order, each asked once with the same condition
    for (const auto& r : panel->requests()) {
        if (r.key.find("/Search") == std::string::npos) continue;  // the on-line set-up's
        keys += r.key.substr(r.key.find('/') + 1) + " ";
        EXPECT_EQ(r.body, devsim::wrapModelBody(2, R"({"maxResults":96,"searchID":"c69915d579ff4d8ca7b55ffa22a91521",)"
                                                   R"("searchResultPosition":1})"));
    }
    EXPECT_EQ(keys, "SearchOutputModuleStatus SearchRelayStatus SearchSirenStatus SearchRepeaterStatus "
                    "SearchCardReaderStatus SearchExtensionModuleStatus SearchKeypadStatus SearchRemoteStatus "
                    "SearchTransmitterStatus ");
    panel->setPeripherals({});
    EXPECT_EQ(subKey(call(host, "GET", "/OVIX/SecurityCP/status/exDevStatus?format=json")), "notSupport");
    // Every kind of the default set reaches the host.
    panel->setPeripherals(devsim::defaultPeripherals());
    Json::Value all;
    ASSERT_TRUE(vexa::parseJson(call(host, "GET", "/OVIX/SecurityCP/status/exDevStatus?format=json"), all));
    EXPECT_EQ(all["ExDevStatus"].size() * 10 + all["ExDevStatus"]["OutputList"].size(), 94u);  // 9 lists, 4 relays
}

// One zone as the host receives it from the simulated panel (default detector values).
std::string zone(int id, const char* status, bool alarm, bool bypassed, bool tamper, const char* mode, int sub) {
    const auto b = [](bool v) { return v ? "true" : "false"; };
    const std::string n = std::to_string(id + 1), s = std::to_string(sub);
    return std::string(R"({"Zone":{"alarm":)") + b(alarm) + R"(,"bypassed":)" + b(bypassed) +
           R"(,"charge":"normal","chargeValue":100,"deactivationMode":")" + mode +
           R"(","detectorType":"passiveInfraredDetector","deviceNo":)" + n + R"(,"id":)" + std::to_string(id) +
           R"(,"isArming":false,"linkageSubSystem":[)" + s + R"(],"name":"Zone )" + n +
           R"(","oneTimeDeactivationMode":"off","shielded":false,"signal":90,"status":")" + status +
           R"(","subSystemNo":)" + s + R"(,"tamperEvident":)" + b(tamper) + R"(,"temperature":24}})";
}

TEST_F(PanelRoutes, ZoneDeactivationAndStatusSearch) {
    devsim::PanelOptions o;
    o.pageLimit = 2;  // the host's four zones come in two pages
    auto panel = devsim::makePanel(o);
    auto host = online("panel-z", panel);
    const std::string deact = R"({"List":[{"id":0},{"id":"x"},{"id":2}],"deactivationMode":"entirely"})";
    EXPECT_EQ(call(host, "PUT", "/OVIX/SecurityCP/control/deactivation?format=json", deact), kOk);
    EXPECT_EQ(received(*panel), command("ZoneMgr/SingleZoneBasicInfo", 1, R"({"deactivationMode":"entirely"})", "1", "Zone") +
                                    command("ZoneMgr/SingleZoneBasicInfo", 1, R"({"deactivationMode":"entirely"})", "3", "Zone"));
    EXPECT_TRUE(panel->zone(1).bypassed && panel->zone(3).bypassed && !panel->zone(2).bypassed);
    EXPECT_EQ(call(host, "PUT", "/OVIX/SecurityCP/control/deactivation?format=json", R"({"List":[]})"), kOk);
    EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/SecurityCP/control/deactivation?format=json", R"({"List":[{"id":99}]})")),
              "badParameters");  // the panel has no zone 100

    panel->triggerZone(2);
    panel->setZoneTamper(4, true);
    panel->setZoneFault(4, true);
    panel->clearRequests();
    const std::string cond = R"({"ZoneCond":{"searchID":"host-1","searchResultPosition":0,"maxResults":4}})";
    EXPECT_EQ(call(host, "POST", "/OVIX/SecurityCP/status/zones?format=json", cond),
              R"({"ZoneSearch":{"ZoneList":[)" + zone(0, "online", false, true, false, "entirely", 1) + "," +
                  zone(1, "trigger", true, false, false, "off", 2) + "," +
                  zone(2, "online", false, true, false, "entirely", 3) + "," +
                  zone(3, "breakDown", false, false, true, "off", 4) +
                  R"(],"numOfMatches":4,"responseStatusStrg":"MORE","searchID":"host-1","totalMatches":8}})");
    const auto page = [](int pos) {
        return R"({"maxResults":4,"searchID":"host-1","searchResultPosition":)" + std::to_string(pos) + "}";
    };
    const auto basic = [](const char* ids) {
        return std::string(R"({"maxResults":256,"searchByZoneIDs":[)") + ids +
               R"(],"searchID":"host-1","searchResultPosition":1})";
    };
    EXPECT_EQ(received(*panel), command("ZoneMgr/SearchZoneStatus", 2, page(1)) +
                                    command("ZoneMgr/SearchZoneBasicInfo", 2, basic("1,2")) +
                                    command("ZoneMgr/SearchZoneStatus", 2, page(3)) +
                                    command("ZoneMgr/SearchZoneBasicInfo", 2, basic("3,4")));

    devsim::Fault f;
    f.action = devsim::FaultAction::DeviceError, f.code = "0x01400019", f.match = {"ZoneMgr/SearchZoneStatus"};
    panel->addFault(f);
    EXPECT_EQ(subKey(call(host, "POST", "/OVIX/SecurityCP/status/zones?format=json", cond)), "theDetectorIsInFaultStatus");
    EXPECT_EQ(subKey(call(host, "POST", "/OVIX/SecurityCP/status/zones?format=json", "{")), "invalidContent");
}

// Host threads asking at once each get the whole answer to their own request.
TEST_F(PanelRoutes, ConcurrentHostsGetTheirOwnAnswers) {
    auto panel = devsim::makePanel();
    auto host = online("panel-c", panel);
    const std::string calls[2][3] = {
        {"POST", "/OVIX/SecurityCP/status/zones?format=json", R"({"ZoneCond":{"searchID":"c","searchResultPosition":0,"maxResults":8}})"},
        {"GET", "/OVIX/SecurityCP/status/exDevStatus?format=json", ""}};
    const std::string first[2] = {call(host, calls[0][0], calls[0][1], calls[0][2]), call(host, calls[1][0], calls[1][1], "")};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 6; ++i) wrong += call(host, calls[(t + i) % 2][0], calls[(t + i) % 2][1], calls[(t + i) % 2][2]) != first[(t + i) % 2];
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_NE(first[0].find(R"("numOfMatches":8)"), std::string::npos);
}

}  // namespace
