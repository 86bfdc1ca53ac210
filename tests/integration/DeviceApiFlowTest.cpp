// Device-API requests end to end: host call -> plug-in -> command library -> loopback ->
// simulated panel or camera -> back to the host's buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "GatewayFixture.h"
#include "common/JsonUtil.h"
#include "TestSupport.h"
#include "devsim/Equipment.h"

namespace {

using devsim::Family;

class DeviceApi : public vtest::GatewayFixture {
protected:
    std::string configXml() const override {
        return "<config><req_timeout>2</req_timeout><sendTimeOut>2</sendTimeOut><HeartbeatEnable>1</HeartbeatEnable>"
               "<hb_time>30</hb_time><hb_fail>3</hb_fail></config>";
    }
    // A host device plus its simulated twin, on line as the host sees it.
    vtest::HostDevice online(const std::string& id, Family family, devsim::RequestHandler handler,
                             const std::string& type = "SecurityCP") {
        auto host = addHost(id, family, type);
        startDevice(id, family, std::move(handler));
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return host;
    }
};

TEST_F(DeviceApi, PanelControlSequence) {
    auto panel = devsim::makePanel();
    auto host = online("panel-a", Family::Vexa, panel->handler());
    struct Step {
        const char* what;
        const char* method;
        const char* uri;
        std::string body;
        const char* expect;
        bool faultZone1 = false;  // zone 1 (of subsystem 1) in fault from this step on
    } steps[] = {
        {"arm 1", "PUT", "/OVIX/SecurityCP/control/arm/1?format=json&ways=stay", "", "ok"},
        {"arm 1 again", "PUT", "/OVIX/SecurityCP/control/arm/1?format=json", "", "systemIsArmed"},
        {"arm all", "PUT", "/OVIX/SecurityCP/control/arm/0xffffffff?format=json&ways=away", "", "ok"},
        {"disarm list", "PUT", "/OVIX/SecurityCP/control/disarm?format=json",
         "{\"SubSysList\":[{\"SubSys\":{\"id\":1}},{\"SubSys\":{\"id\":3}}]}", "ok"},
        {"clear alarm 2", "PUT", "/OVIX/SecurityCP/control/clearAlarm/2?format=json", "", "ok"},
        {"unknown route", "GET", "/OVIX/SecurityCP/nothing?format=json", "", "notSupport"},
        {"no query at all", "POST", "/OVIX/SecurityCP/control/outputs", "", "invalidOperation"},
        {"empty uri", "PUT", "", "", "invalidOperation"},
        {"arm 1 with a faulty zone", "PUT", "/OVIX/SecurityCP/control/arm/1?format=json&ways=away", "",
         "theDetectorIsInFaultStatus", true},
        {"fault arm confirmed", "PUT", "/OVIX/SecurityCP/control/faultArmConfirm?format=json",
         "{\"SubSysList\":[{\"SubSys\":{\"id\":1}}]}", "ok"},
    };
    for (const Step& s : steps) {
        if (s.faultZone1) panel->setZoneFault(1, true);
        EXPECT_EQ(subKey(call(host, s.method, s.uri, s.body)), s.expect) << s.what;
    }
    EXPECT_EQ(panel->subsystem(1).arm, "away");
    EXPECT_EQ(panel->subsystem(2).arm, "away");
    EXPECT_EQ(panel->subsystem(3).arm, "disarm");
    EXPECT_EQ(panel->subsystem(4).arm, "away");
}

TEST_F(DeviceApi, SilentAndBrokenDevices) {
    auto panel = devsim::makePanel();
    auto host = online("panel-s", Family::Vexa, panel->handler());
    // No answer: the wait ends after req_timeout with 258, which the host sees as invalidOperation.
    for (const auto& f : {std::make_pair(devsim::FaultAction::Silent, "invalidOperation"),
                          std::make_pair(devsim::FaultAction::Garbage, "invalidContent")}) {
        devsim::Fault fault;
        fault.action = f.first;
        panel->addFault(fault);
        EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/SecurityCP/control/arm/1?format=json")), f.second);
        panel->clearFaults();
    }
}

TEST_F(DeviceApi, AldonPassThroughDropsDevIndex) {
    auto camera = devsim::makeCamera();
    auto host = online("cam-1", Family::AldonV5, camera->handler(), "encodingDev");
    const std::string answer = call(host, "GET", "/OVIX/System/IO/inputs?devIndex=2&format=json&x=1");
    EXPECT_NE(answer.find("<?xml"), std::string::npos) << answer;
    for (const char* uri : {"/OVIX/Some/where?format=json&devIndex=2", "/OVIX/Some/where?devIndex=2&format=json"}) {
        camera->clearRequests();
        call(host, "GET", uri);
        auto seen = camera->requestsFor("/OVIX/Some/where");
        ASSERT_FALSE(seen.empty()) << uri;
        EXPECT_EQ(seen.back().url, "/OVIX/Some/where?format=json");
    }
    camera->clearRequests();
    EXPECT_EQ(subKey(call(host, "GET", "/OVIX/Some/where?format=json")), "badParameters");
    // The device information comes back as the host's JSON document.
    Json::Value info;
    ASSERT_TRUE(vexa::parseJson(call(host, "GET", "/OVIX/System/deviceInfo?format=json"), info));
    EXPECT_EQ(info["DeviceInfo"]["deviceID"].asString(), "88");  // the simulated camera's own
    EXPECT_TRUE(camera->requestsFor("/OVIX/Some/where").empty());
}

// On line, each device is told where to send its alarms and describes itself to the host.
TEST_F(DeviceApi, OnLineSetUpAndBaseInformation) {
    auto panel = devsim::makePanel();
    auto camera = devsim::makeCamera();
    auto p = online("panel-o", Family::Vexa, panel->handler());
    auto c = online("cam-o", Family::AldonV5, camera->handler(), "encodingDev");
    ASSERT_TRUE(vtest::waitUntil([&] { return !panel->requestsFor("EventSubscription/AddEventSubscribeCfg").empty(); }));
    ASSERT_TRUE(vtest::waitUntil([&] { return !camera->requestsFor("/OVIX/Event/notification/httpHosts/1").empty(); }));
    const auto hosts = camera->requestsFor("/OVIX/Event/notification/httpHosts/1");
    EXPECT_EQ(hosts[0].method, "PUT");
    EXPECT_NE(hosts[0].body.find("<portNo>" + std::to_string(alarmPort) + "</portNo>"), std::string::npos)
        << hosts[0].body;
    EXPECT_NE(hosts[0].body.find("<ipAddress>127.0.0.1</ipAddress>"), std::string::npos) << hosts[0].body;
    char buf[4096];
    Json::Value v;
    EXPECT_EQ(p.ovix->DeviceLoopImpl(p.handle, buf, sizeof buf), 0u);
    ASSERT_TRUE(vexa::parseJson(buf, v)) << buf;
    EXPECT_EQ(v["protocolType"].asString(), "VEXA");
    EXPECT_TRUE(v["active"].asBool());
    EXPECT_EQ(c.ovix->DeviceLoopImpl(c.handle, buf, sizeof buf), 0u);
    ASSERT_TRUE(vexa::parseJson(buf, v)) << buf;
    EXPECT_EQ(v["protocolType"].asString(), "aldonV5");
    EXPECT_TRUE(v["onlineStatus"].asBool());
    EXPECT_EQ(p.ovix->DeviceLoopImpl(p.handle, buf, 1), 0u);
    EXPECT_STREQ(buf, "");
}

// Many host threads, many devices (some answering in two pages), answers late and out of
// order: every caller gets its own.
TEST_F(DeviceApi, ConcurrentCallersGetTheirOwnAnswers) {
    constexpr int kDevices = 50, kThreads = 16, kCalls = 20;
    std::vector<vtest::HostDevice> hosts;
    for (int i = 0; i < kDevices; ++i) {
        devsim::PanelOptions o;
        o.subsystems = 1 + i % 10;  // the answer tells which panel replied
        auto panel = devsim::makePanel(o);
        devsim::Fault late;
        late.action = devsim::FaultAction::Answer;
        late.delay = std::chrono::milliseconds((i * 7) % 40);
        panel->addFault(late);
        hosts.push_back(online("many-" + std::to_string(i), Family::Vexa, panel->handler()));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 rng(t);
            for (int k = 0; k < kCalls; ++k) {
                const int i = static_cast<int>(rng() % kDevices);
                Json::Value doc;
                if (!vexa::parseJson(call(hosts[i], "GET", "/OVIX/SecurityCP/status/subSystems?format=json"), doc) ||
                    doc["SubSysList"].size() != static_cast<Json::ArrayIndex>(1 + i % 10))
                    wrong++;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
