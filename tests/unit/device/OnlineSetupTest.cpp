// On-line set-up and request channel against simulated devices over loopback: set-up steps and their
// failures, set-ups that must not wait for each other, picture-server reset, pass-through, FERRO.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>

#include "../../integration/GatewayFixture.h"
#include "device/SetupPool.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "devsim/Equipment.h"

namespace {

using devsim::Family;
using devsim::FaultAction;
using std::chrono::seconds;
const char* const kSubscription = "EventSubscription/AddEventSubscribeCfg";

const char* const kPicture = "/OVIX/System/PictureServer";

devsim::Fault fault(FaultAction action, std::vector<std::string> match, int times = -1, int statusCode = 3) {
    devsim::Fault f;
    f.action = action;
    f.match = std::move(match);
    f.times = times;
    f.statusCode = statusCode;
    if (statusCode == 4) f.subStatusCode = "notSupport";
    return f;
}

class OnlineSetup : public vtest::GatewayFixture {
protected:
    std::string configXml() const override {
        return "<config><req_timeout>1</req_timeout><sendTimeOut>2</sendTimeOut><HeartbeatEnable>1</HeartbeatEnable>"
               "<hb_time>30</hb_time><hb_fail>3</hb_fail></config>";
    }
    // Host device plus simulated twin, on line.
    std::shared_ptr<CVexaDevice> online(const std::string& id, const std::shared_ptr<devsim::Equipment>& eq,
                                        Family family = Family::Vexa, const std::string& type = "SecurityCP") {
        auto host = addHost(id, family, type);
        startDevice(id, family, eq->handler());
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return CVexaDeviceMgr::instance()->findDevice(id);
    }
    static bool seen(const std::shared_ptr<devsim::Equipment>& eq, const std::string& key, size_t n = 1) {
        return vtest::waitUntil([&] { return eq->requestsFor(key).size() >= n; }, seconds(10));
    }
};

TEST_F(OnlineSetup, FailedSubscriptionIsLogged) {
    vtest::LogCapture log(4);
    auto panel = devsim::makePanel();
    panel->addFault(fault(FaultAction::DeviceError, {kSubscription}));
    online("sub-refused", panel);
    EXPECT_TRUE(vtest::waitUntil([&] {
        return log.contains("[deviceID=sub-refused,userHandle=") && log.contains("reason=0x40008000");
    }));
    EXPECT_TRUE(log.contains("event subscription failed."));
}

TEST_F(OnlineSetup, EndsAndAbandonedSetups) {
    auto panel = devsim::makePanel();
    auto dev = online("panel-x", panel);
    ASSERT_TRUE(dev);
    ASSERT_TRUE(seen(panel, kSubscription));
    const int32_t h = dev->userHandle();
    // The handle the device object holds, the one the set-up was started for, the subscriptions seen after.
    struct Case { const char* what; int32_t loginHandle, setupHandle; const char* protocol; int result; size_t subscriptions; };
    const Case cases[] = {
        {"no such session", h + 1000, h + 1000, "VEXA", -1, 1},
        {"neither family", h, h, "other", -1, 1},
        {"session changed meanwhile", h + 1, h, "VEXA", 0, 1},
        {"same session", h, h, "VEXA", 0, 2},
    };
    vtest::LogCapture log(4);
    for (const Case& c : cases) {
        auto x = std::make_shared<CVexaDevice>();
        x->setLogin({c.loginHandle, "127.0.0.1", 1, c.protocol, "SN"});
        EXPECT_EQ(x->proDeviceOn(c.setupHandle), c.result) << c.what;
        EXPECT_EQ(panel->requestsFor(kSubscription).size(), c.subscriptions) << c.what;
    }
    EXPECT_TRUE(log.contains("VEXA_CMS_SetKeepAliveTime failed."));
}

TEST_F(OnlineSetup, ResetPictureServerReportsTheDevicesStatus) {
    vtest::LogCapture log(3);
    auto cam = devsim::makeCamera();
    auto dev = online("cp-reset", cam, Family::AldonV5, "SecurityCP");
    ASSERT_TRUE(dev);
    // On line a panel of this family is given its picture server; the JSON status answer is success.
    ASSERT_TRUE(seen(cam, kPicture));
    EXPECT_TRUE(vtest::waitUntil([&] { return log.contains("picture server ok."); }));
    struct Case { const char* what; std::string body; bool refuse; uint32_t result; size_t sentInAll; };
    const Case cases[] = {
        {"accepted", "{\"AK\":\"ak1\",\"SK\":\"sk1\"}", false, 0, 2},
        {"refused", "{}", true, 0x40000001, 3},  // statusCode 4 from the device
        {"document over 1023 characters", "{\"AK\":\"" + std::string(1100, 'a') + "\"}", false, 0x60000001, 3},
    };
    for (const Case& c : cases) {
        cam->clearFaults();
        if (c.refuse) cam->addFault(fault(FaultAction::DeviceError, {kPicture}, -1, 4));
        log.clear();
        EXPECT_EQ(dev->resetPictureServer(c.body), c.result) << c.what;
        EXPECT_EQ(cam->requestsFor(kPicture).size(), c.sentInAll) << c.what;
        EXPECT_EQ(log.contains("config PictureServer failed."), c.result != 0) << c.what;
    }
    EXPECT_NE(cam->requestsFor(kPicture)[1].body.find("\"clouldAccessKey\":\"ak1\""), std::string::npos);
}

TEST_F(OnlineSetup, PassThroughRequestLine) {
    vtest::LogCapture log(3);
    auto cam = devsim::makeCamera();
    auto dev = online("cam-line", cam, Family::AldonV5, "IPCamera");
    ASSERT_TRUE(dev);
    // A camera gets its alarm host but no picture server.
    ASSERT_TRUE(vtest::waitUntil([&] { return log.contains("[deviceId=cam-line,addr="); }));
    EXPECT_TRUE(cam->requestsFor(kPicture).empty());
    const std::string prefix = "/OVIX/Long/";
    for (size_t lineLen : {255, 256}) {  // "GET " + URL
        const bool sent = lineLen == 255;
        const std::string url = prefix + std::string(lineLen - 4 - prefix.size(), sent ? 'y' : 'n');
        std::string rsp;
        EXPECT_EQ(dev->ovixConfig(rsp, url, "", 0), sent ? 0u : 0x60000001u) << lineLen;
        EXPECT_EQ(cam->requestsFor(url).size(), sent ? 1u : 0u) << lineLen;  // the call is synchronous
    }
    // A failed pass-through names the request URL, not the request line.
    cam->addFault(fault(FaultAction::TransportError, {"/OVIX/System/deviceInfo"}));
    std::string rsp;
    EXPECT_EQ(dev->ovixConfig(rsp, "/OVIX/System/deviceInfo", "", 0), 0xFFFFFFFFu);
    EXPECT_TRUE(log.contains("url=/OVIX/System/deviceInfo,req=]VEXA_CMS_OVIXPassThrough fail"));
}

TEST_F(OnlineSetup, FerroCommands) {
    auto panel = devsim::makePanel();
    auto dev = online("panel-ferro", panel);
    ASSERT_TRUE(dev);
    struct Case { bool silent; uint32_t result; const char* line; };
    const Case cases[] = {{false, 0, "VEXA_CMS_ConfigDev."}, {true, 258, "strCmd=SYNC]wait timeout."}};
    vtest::LogCapture log(2);
    for (const Case& c : cases) {
        if (c.silent) panel->addFault(fault(FaultAction::Silent, {"ferro"}, 1));
        std::string rsp;
        EXPECT_EQ(dev->ferroConfig(rsp, "SYNC", "{\"a\":1}"), c.result);
        EXPECT_TRUE(c.silent || rsp.find("\"status\":200") != std::string::npos) << rsp;
        EXPECT_TRUE(log.contains(c.line)) << c.line;
    }
    EXPECT_EQ(panel->requestsFor("ferro").size(), 2u);
}

TEST(SetupThreads, EachSetupRunsAtOnce) {
    SetupPool pool;
    vtest::LogCapture log(5);
    EXPECT_FALSE(pool.post("dev-early", [] {}));
    EXPECT_TRUE(log.contains("[deviceID=dev-early,reason=not running]set-up not queued."));
    pool.start();
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::atomic<int> blocked{0}, ran{0};
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(pool.post("slow", [&] {
            blocked++;
            std::unique_lock<std::mutex> lk(m);
            cv.wait(lk, [&] { return release; });
        }));
    ASSERT_TRUE(pool.post("quick", [&] { ran++; }));
    EXPECT_TRUE(vtest::waitUntil([&] { return ran.load() == 1 && blocked.load() == 40; }));
    {
        std::lock_guard<std::mutex> lk(m);
        release = true;
    }
    cv.notify_all();
    pool.stop();
    EXPECT_FALSE(pool.post("dev-late", [] {}));
}

}  // namespace
