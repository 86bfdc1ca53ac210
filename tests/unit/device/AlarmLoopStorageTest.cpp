// The storage pass of the alarm loop, run by the real alarm-loop thread on an injected clock
// against simulated devices: which devices are asked, a device that left meanwhile, the push.
#include <atomic>
#include <set>

#include "alarm/AlarmMsgMgr.h"
#include "../../integration/GatewayFixture.h"
#include "TestSupport.h"
#include "device/VexaDeviceMgr.h"

namespace {

using devsim::Family;
using devsim::State;
using std::chrono::seconds;

std::atomic<uint64_t> g_now{1};

class AlarmLoopStorage : public vtest::GatewayFixture {
protected:
    void SetUp() override {
        g_now = 1;
        CVexaDeviceMgr::instance()->setTickSource([] { return g_now.load(); });
        GatewayFixture::SetUp();
    }
    void TearDown() override {
        GatewayFixture::TearDown();
        CVexaDeviceMgr::instance()->setTickSource(nullptr);
    }
    // A logged-in simulated device whose storage answer reports a failed disk.
    devsim::DevicePtr online(const std::string& id, Family family, vtest::HostDevice& host) {
        auto cfg = deviceConfig(id, "k", family);
        cfg.handler = [this, id](const Json::Value& req) {
            const std::string line = req.get("request", "").asString();
            if (line.find("/OVIX/ContentMgmt/Storage") != std::string::npos) {
                std::lock_guard<std::mutex> lk(m_lock);
                asked.insert(id);
                if (onAsked) onAsked(id);
                Json::Value m(Json::objectValue);
                m["body"] = "<storage><hddList><hdd><id>1</id><status>smartFailed</status>"
                            "<freeSpace>1</freeSpace></hdd></hddList></storage>";
                return devsim::Answer::with(m);
            }
            return devsim::defaultAnswer(req);
        };
        devices.push_back(sim->addDevice(cfg));
        devices.back()->start();
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return devices.back();
    }
    std::mutex m_lock;
    std::set<std::string> asked;
    std::function<void(const std::string&)> onAsked;
    std::vector<devsim::DevicePtr> devices;
};

TEST_F(AlarmLoopStorage, OnlyLoggedInVideoDevicesAreAskedAndTheirAlarmsQueued) {
    const char* v5 = ";DeviceKey=k;DevProtocol=aldonV5;AllowDirectConn=1;AlarmActiveStatus=active;";
    auto camA = addHostDevice(std::string("DeviceId=cam-a;DevType=encodingDev") + v5);
    auto camB = addHostDevice(std::string("DeviceId=cam-b;DevType=encodingDev") + v5);
    addHostDevice(std::string("DeviceId=cam-c;DevType=encodingDev") + v5);  // never logs in
    auto panel = addHostDevice("DeviceId=panel;DevType=SecurityCP;DeviceKey=k;AllowDirectConn=1;");
    online("cam-a", Family::AldonV5, camA);
    online("cam-b", Family::AldonV5, camB);
    online("panel", Family::Vexa, panel);
    // While cam-a is asked, the host disconnects cam-b: the pass finds it gone.
    onAsked = [&](const std::string& id) {
        if (id == "cam-a") camB.conn->DisConnectImpl_V2(camB.handle);
    };
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    const uint64_t before = CAlarmMsgMgr::instance()->counters().accepted;
    const uint64_t passes = mgr->alarmLoopPasses();
    vtest::LogCapture log(2);
    g_now = CVexaDeviceMgr::kAlarmLoopPeriodMs + 1;
    mgr->wakeAlarmLoop();
    ASSERT_TRUE(vtest::waitUntil([&] { return mgr->alarmLoopPasses() == passes + 1; }));
    {
        std::lock_guard<std::mutex> lk(m_lock);
        EXPECT_EQ(asked, (std::set<std::string>{"cam-a"}));
    }
    EXPECT_TRUE(log.contains("[deviceID=cam-b]Device not exist."));
    EXPECT_EQ(log.count("CVexaDeviceMgr::procAlarmLoop>,ProcessMsg ["), 1u);
    EXPECT_TRUE(log.contains("diskerror"));
    EXPECT_EQ(CAlarmMsgMgr::instance()->counters().accepted, before + 1);
}

}  // namespace
