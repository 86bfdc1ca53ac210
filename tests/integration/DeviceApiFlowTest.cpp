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
using devsim::State;
using std::chrono::seconds;

class DeviceApi : public vtest::GatewayFixture {
protected:
    std::string configXml() const override {
        return "<config><req_timeout>2</req_timeout><sendTimeOut>2</sendTimeOut><HeartbeatEnable>1</HeartbeatEnable>"
               "<hb_time>30</hb_time><hb_fail>3</hb_fail></config>";
    }
    // A host device plus its simulated twin, on line.
    vtest::HostDevice online(const std::string& id, Family family, devsim::RequestHandler handler,
                             const std::string& type = "SecurityCP") {
        const char* pto = family == Family::Vexa ? "VEXA" : "aldonV5";
        auto host = addHostDevice("DeviceId=" + id + ";DeviceKey=k;DevType=" + type + ";DevProtocol=" + pto +
                                  ";AllowDirectConn=1;AlarmActiveStatus=active;");
        auto cfg = deviceConfig(id, "k", family);
        cfg.handler = std::move(handler);
        sims.push_back(sim->addDevice(cfg));
        sims.back()->start();
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return host;
    }
    static std::string call(const vtest::HostDevice& d, const std::string& method, const std::string& uri,
                            const std::string& body = "", uint32_t size = 65536) {
        Json::Value env;
        env["method"] = method;
        env["uri"] = uri;
        env["body"] = body;
        std::vector<char> rsp(size ? size : 1, '\x7f');
        EXPECT_EQ(d.ovix->OVIX_GetwayImpl(d.handle, vexa::writeJson(env).c_str(), rsp.data(), size, nullptr), 0u);
        return size ? std::string(rsp.data()) : std::string();
    }
    static std::string subKey(const std::string& answer) {
        Json::Value v;
        if (!vexa::parseJson(answer, v) || !v.isObject()) return "<not json: " + answer + ">";
        return v["subStatusCode"].isString() ? v["subStatusCode"].asString() : "<document>";
    }
    std::vector<devsim::DevicePtr> sims;
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
    };
    for (const Step& s : steps) EXPECT_EQ(subKey(call(host, s.method, s.uri, s.body)), s.expect) << s.what;
    EXPECT_EQ(panel->subsystem(1).arm, "disarm");
    EXPECT_EQ(panel->subsystem(2).arm, "away");
    EXPECT_EQ(panel->subsystem(3).arm, "disarm");
    EXPECT_EQ(panel->subsystem(4).arm, "away");
}

TEST_F(DeviceApi, FaultArmingNeedsConfirmation) {
    auto panel = devsim::makePanel();
    auto host = online("panel-f", Family::Vexa, panel->handler());
    panel->setZoneFault(1, true);  // zone 1 is in subsystem 1
    EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/SecurityCP/control/arm/1?format=json&ways=away")),
              "theDetectorIsInFaultStatus");
    EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/SecurityCP/control/faultArmConfirm?format=json",
                          "{\"SubSysList\":[{\"SubSys\":{\"id\":1}}]}")),
              "ok");
    EXPECT_EQ(panel->subsystem(1).arm, "away");
}

TEST_F(DeviceApi, PagedSubsystemStatus) {
    devsim::PanelOptions o;
    o.subsystems = 10;
    auto panel = devsim::makePanel(o);
    auto host = online("panel-10", Family::Vexa, panel->handler());
    panel->setArm(9, "stay");
    const std::string answer = call(host, "GET", "/OVIX/SecurityCP/status/subSystems?format=json");
    Json::Value doc;
    ASSERT_TRUE(vexa::parseJson(answer, doc)) << answer;
    ASSERT_EQ(doc["SubSysList"].size(), 10u) << answer;
    EXPECT_EQ(doc["SubSysList"][8]["SubSys"]["id"].asInt(), 9);
    EXPECT_EQ(doc["SubSysList"][8]["SubSys"]["arming"].asString(), "stay");
    // Two pages were asked for: positions 1 and 9.
    auto pages = panel->requestsFor("AlarmSubSystemMgr/SearchSubSystemStatus");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_NE(pages[0].body.find("\"searchResultPosition\":1"), std::string::npos);
    EXPECT_NE(pages[1].body.find("\"searchResultPosition\":9"), std::string::npos);
}

TEST_F(DeviceApi, SilentOfflineAndBrokenDevices) {
    auto panel = devsim::makePanel();
    auto host = online("panel-s", Family::Vexa, panel->handler());
    devsim::Fault silent;
    silent.action = devsim::FaultAction::Silent;
    panel->addFault(silent);
    // No answer: the wait ends after req_timeout with 258, which the host sees as invalidOperation.
    EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/SecurityCP/control/arm/1?format=json")), "invalidOperation");
    panel->clearFaults();
    devsim::Fault garbage;
    garbage.action = devsim::FaultAction::Garbage;
    panel->addFault(garbage);
    EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/SecurityCP/control/arm/1?format=json")), "invalidContent");
    panel->clearFaults();
    // A device that is not logged in.
    auto offline = addHostDevice("DeviceId=never-here;DeviceKey=k;DevProtocol=VEXA;");
    EXPECT_EQ(subKey(call(offline, "PUT", "/OVIX/SecurityCP/control/arm/1?format=json")), "networkError");
    // ... except for the alarm parameters, which need no device.
    EXPECT_EQ(subKey(call(offline, "PUT", "/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json",
                          "{\"accountID\":\"1234\",\"activeStatus\":\"active\"}")),
              "ok");
    // Host buffers of one byte and of zero bytes.
    EXPECT_EQ(call(host, "PUT", "/OVIX/SecurityCP/control/arm/2?format=json", "", 1), "");
    call(host, "PUT", "/OVIX/SecurityCP/control/arm/2?format=json", "", 0);
}

TEST_F(DeviceApi, AldonPassThroughDropsDevIndex) {
    auto camera = devsim::makeCamera();
    auto host = online("cam-1", Family::AldonV5, camera->handler(), "encodingDev");
    const std::string answer = call(host, "GET", "/OVIX/System/IO/inputs?devIndex=2&format=json&x=1");
    EXPECT_NE(answer.find("<?xml"), std::string::npos) << answer;
    struct Case {
        const char* uri;
        const char* sent;
    } cases[] = {
        {"/OVIX/Some/where?format=json&devIndex=2", "/OVIX/Some/where?format=json"},
        {"/OVIX/Some/where?devIndex=2&format=json", "/OVIX/Some/where?format=json"},
    };
    for (const Case& c : cases) {
        camera->clearRequests();
        call(host, "GET", c.uri);
        auto seen = camera->requestsFor("/OVIX/Some/where");
        ASSERT_FALSE(seen.empty()) << c.uri;
        EXPECT_EQ(seen.back().url, c.sent);
    }
    camera->clearRequests();
    EXPECT_EQ(subKey(call(host, "GET", "/OVIX/Some/where?format=json")), "badParameters");
    // The device information comes back as the host's JSON document.
    Json::Value info;
    ASSERT_TRUE(vexa::parseJson(call(host, "GET", "/OVIX/System/deviceInfo?format=json"), info));
    EXPECT_EQ(info["DeviceInfo"]["deviceID"].asString(), "88");  // the simulated camera's own
    EXPECT_TRUE(camera->requestsFor("/OVIX/Some/where").empty());
}

TEST_F(DeviceApi, OnLineSetUpReachesTheDevices) {
    auto panel = devsim::makePanel();
    auto camera = devsim::makeCamera();
    online("panel-o", Family::Vexa, panel->handler());
    online("cam-o", Family::AldonV5, camera->handler(), "encodingDev");
    ASSERT_TRUE(vtest::waitUntil([&] { return !panel->requestsFor("EventSubscription/AddEventSubscribeCfg").empty(); }));
    ASSERT_TRUE(vtest::waitUntil([&] { return !camera->requestsFor("/OVIX/Event/notification/httpHosts/1").empty(); }));
    const auto hosts = camera->requestsFor("/OVIX/Event/notification/httpHosts/1");
    EXPECT_EQ(hosts[0].method, "PUT");
    EXPECT_NE(hosts[0].body.find("<portNo>" + std::to_string(alarmPort) + "</portNo>"), std::string::npos)
        << hosts[0].body;
    EXPECT_NE(hosts[0].body.find("<ipAddress>127.0.0.1</ipAddress>"), std::string::npos) << hosts[0].body;
}

TEST_F(DeviceApi, DeviceBaseInformation) {
    auto panel = devsim::makePanel();
    auto camera = devsim::makeCamera();
    auto p = online("panel-i", Family::Vexa, panel->handler());
    auto c = online("cam-i", Family::AldonV5, camera->handler(), "encodingDev");
    char buf[4096];
    EXPECT_EQ(p.ovix->DeviceLoopImpl(p.handle, buf, sizeof buf), 0u);
    Json::Value v;
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

// Many host threads, many devices, answers late and out of order: every caller gets its own.
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
