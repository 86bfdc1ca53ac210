// Real devices over loopback: devsim -> stand-in libraries -> plug-in -> host callbacks.
#include <gtest/gtest.h>

#include <cstdlib>

#include "GatewayFixture.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"

namespace {

using devsim::Family;
using devsim::State;
using std::chrono::milliseconds;
using std::chrono::seconds;

class Registration : public vtest::GatewayFixture {};

TEST_F(Registration, DevicesOfBothFamiliesComeOnLine) {
    struct Case {
        const char* id;
        Family family;
        bool das;
        const char* expectText;
    } cases[] = {
        {"panel-1", Family::Vexa, false, "regIP=;regPort=0;serialNo=panel-1;devProtocol=VEXA"},
        {"panel-1234567", Family::Vexa, true, "regIP=127.0.0.1;regPort=7661;serialNo=nel-12345;devProtocol=VEXA"},
        {"camera-1", Family::AldonV5, false, "regIP=;regPort=0;serialNo=SN-camera-1;devProtocol=aldonV5"},
    };
    for (const Case& c : cases) {
        const char* pto = c.family == Family::Vexa ? "VEXA" : "aldonV5";
        auto host = addHostDevice(std::string("DeviceId=") + c.id + ";DeviceKey=k-" + c.id + ";DevProtocol=" + pto +
                                  ";AllowDirectConn=1;AlarmActiveStatus=active;");
        auto cfg = deviceConfig(c.id, std::string("k-") + c.id, c.family);
        cfg.dasRequest = c.das;
        cfg.dasServerAddress = "127.0.0.1";
        cfg.dasServerPort = 7661;
        auto dev = sim->addDevice(cfg);
        dev->start();
        std::string text;
        ASSERT_TRUE(waitStatus(host, 0, &text)) << c.id;
        EXPECT_EQ(text, c.expectText);
        EXPECT_EQ(currentStatus(host), 0u);
        ASSERT_TRUE(dev->waitFor(State::LoggedIn, seconds(10)));
        // The login answer carries the configured heartbeat values.
        const auto ack = dev->status().loginAck;
        EXPECT_EQ(ack["keepAliveSec"].asInt(), 30);
        EXPECT_EQ(ack["timeoutCount"].asInt(), 3);
        EXPECT_EQ(ack["alarmServer"]["enable"].asInt(), 1);
        if (c.family == Family::AldonV5) {
            EXPECT_EQ(ack["alarmServer"]["alarmType"].asInt(), 1);
            EXPECT_EQ(ack["alarmServer"]["port"].asInt(), alarmPort);
            EXPECT_EQ(dev->status().sessionKey.size(), 64u);
        }
    }
}

TEST_F(Registration, RefusalsReachTheHostAsStatuses) {
    struct Case {
        const char* name;
        std::string hostParams;
        bool wrongKey;
        Family family;
        uint32_t hostStatus;  // 0xFFFFFFFF: no status change
        const char* refusal;
    } cases[] = {
        {"wrong key", "DeviceId=wk;DeviceKey=right;AllowDirectConn=1;", true, Family::Vexa, 8, "key"},
        {"protocol mismatch", "DeviceId=pm;DeviceKey=k;DevProtocol=VEXA;AllowDirectConn=1;", false, Family::AldonV5,
         11, "auth"},
        {"direct connection not allowed", "DeviceId=nd;DeviceKey=k;AllowDirectConn=0;", false, Family::Vexa,
         0xFFFFFFFF, "auth"},
    };
    for (const Case& c : cases) {
        auto host = addHostDevice(c.hostParams);
        const std::string id = CVexaDevice::parseParams(c.hostParams.c_str())["DeviceId"];
        auto cfg = deviceConfig(id, c.wrongKey ? "wrong" : "k", c.family);
        if (c.wrongKey) cfg.key = "right", cfg.wrongKey = true;
        auto dev = sim->addDevice(cfg);
        dev->start();
        ASSERT_TRUE(dev->waitFor(State::Refused, seconds(10))) << c.name;
        EXPECT_EQ(dev->status().refusal, c.refusal) << c.name;
        if (c.hostStatus != 0xFFFFFFFF) {
            std::string text;
            ASSERT_TRUE(waitStatus(host, c.hostStatus, &text)) << c.name;
            EXPECT_EQ(text, "OfflineHint=" + std::to_string(c.hostStatus == 8 ? 1 : 3));
        }
        EXPECT_NE(currentStatus(host), 0u) << c.name;
    }
}

TEST_F(Registration, UnknownDeviceIsRefusedAndOthersUnaffected) {
    auto host = addHostDevice("DeviceId=known;DeviceKey=k;AllowDirectConn=1;");
    auto known = sim->addDevice(deviceConfig("known", "k"));
    known->start();
    ASSERT_TRUE(waitStatus(host, 0));
    auto stranger = sim->addDevice(deviceConfig("stranger", "k"));
    stranger->start();
    ASSERT_TRUE(stranger->waitFor(State::Refused, seconds(10)));
    EXPECT_EQ(stranger->status().refusal, "auth");
    EXPECT_EQ(known->state(), State::LoggedIn);
    EXPECT_EQ(CVexaDeviceMgr::instance()->deviceCount(), 1u);
}

TEST_F(Registration, SessionEndsReachTheHost) {
    struct Case {
        const char* id;
        int how;  // 0 logout, 1 vanish, 2 host disconnect
    } cases[] = {{"lo", 0}, {"va", 1}, {"dc", 2}};
    for (const Case& c : cases) {
        auto host = addHostDevice(std::string("DeviceId=") + c.id + ";DeviceKey=k;AllowDirectConn=1;");
        auto dev = sim->addDevice(deviceConfig(c.id, "k"));
        dev->start();
        ASSERT_TRUE(waitStatus(host, 0)) << c.id;
        if (c.how == 0) {
            dev->logout();
            std::string text;
            ASSERT_TRUE(waitStatus(host, 10, &text)) << c.id;
            EXPECT_EQ(text, "OfflineHint=2");
        } else if (c.how == 1) {
            dev->vanish();
            ASSERT_TRUE(waitStatus(host, 10)) << c.id;
        } else {
            // The host's disconnect forces the library session out.
            EXPECT_EQ(host.conn->DisConnectImpl_V2(host.handle), 0u);
            ASSERT_TRUE(dev->waitFor(State::ForcedOut, seconds(10))) << c.id;
            EXPECT_EQ(currentStatus(host), 0xFFFFFFFFu);
        }
    }
}

TEST_F(Registration, DeviceComesBackAfterLogout) {
    auto host = addHostDevice("DeviceId=again;DeviceKey=k;AllowDirectConn=1;");
    auto dev = sim->addDevice(deviceConfig("again", "k"));
    dev->start();
    ASSERT_TRUE(waitStatus(host, 0));
    const int64_t first = dev->status().userHandle;
    dev->logout();
    ASSERT_TRUE(waitStatus(host, 10));
    dev->start();
    ASSERT_TRUE(dev->waitFor(State::LoggedIn, seconds(10)));
    ASSERT_TRUE(vtest::waitUntil([&] { return currentStatus(host) == 0; }));
    EXPECT_NE(dev->status().userHandle, first);
    // The second session is the one the plug-in holds.
    EXPECT_EQ(CVexaDeviceMgr::instance()->findDevice("again")->userHandle(), dev->status().userHandle);
}

TEST_F(Registration, DestroyingAConnectedDeviceEndsItsSession) {
    auto host = addHostDevice("DeviceId=gone;DeviceKey=k;AllowDirectConn=1;");
    auto dev = sim->addDevice(deviceConfig("gone", "k"));
    dev->start();
    ASSERT_TRUE(waitStatus(host, 0));
    const size_t before = statuses(host).size();
    void* handle = host.handle;
    destroyHostDevice(host);
    ASSERT_TRUE(dev->waitFor(State::ForcedOut, seconds(10)));
    EXPECT_EQ(CVexaDeviceMgr::instance()->findDevice("gone"), nullptr);
    host.handle = handle;
    EXPECT_EQ(statuses(host).size(), before);  // nothing reached the host after the destroy
}

TEST_F(Registration, MisbehavingConnectionsAreClosedAlone) {
    auto host = addHostDevice("DeviceId=good;DeviceKey=k;AllowDirectConn=1;");
    auto good = sim->addDevice(deviceConfig("good", "k"));
    good->start();
    ASSERT_TRUE(waitStatus(host, 0));
    for (devsim::Malformed m : {devsim::Malformed::ZeroLength, devsim::Malformed::OverLength, devsim::Malformed::NotJson,
                                devsim::Malformed::JsonArray, devsim::Malformed::NoType}) {
        auto cfg = deviceConfig(std::string("bad-") + devsim::malformedName(m), "k");
        cfg.malformed = m;
        auto bad = sim->addDevice(cfg);
        bad->start();
        EXPECT_TRUE(bad->waitUntil([](const devsim::DeviceStatus& s) {
            return s.state == State::Closed || s.state == State::Refused;
        }, seconds(10))) << devsim::malformedName(m);
    }
    // A slow writer still gets through.
    addHostDevice("DeviceId=slow;DeviceKey=k;AllowDirectConn=1;");
    auto slowCfg = deviceConfig("slow", "k");
    slowCfg.slowWriter = true;
    auto slow = sim->addDevice(slowCfg);
    slow->start();
    EXPECT_TRUE(slow->waitFor(State::LoggedIn, seconds(20)));
    EXPECT_EQ(good->state(), State::LoggedIn);
    EXPECT_EQ(currentStatus(host), 0u);
}

class ShortTimeouts : public vtest::GatewayFixture {
protected:
    void SetUp() override {
        setenv("VEXA_SDK_LOGIN_TIMEOUT_MS", "300", 1);
        GatewayFixture::SetUp();
    }
    void TearDown() override {
        GatewayFixture::TearDown();
        unsetenv("VEXA_SDK_LOGIN_TIMEOUT_MS");
    }
    std::string configXml() const override {
        return "<config><HeartbeatEnable>1</HeartbeatEnable><hb_time>1</hb_time><hb_fail>3</hb_fail></config>";
    }
};

TEST_F(ShortTimeouts, SilentAndHeartbeatlessDevicesAreTimedOut) {
    auto host = addHostDevice("DeviceId=quiet;DeviceKey=k;AllowDirectConn=1;");
    auto cfg = deviceConfig("quiet", "k");
    cfg.noHeartbeat = true;
    auto dev = sim->addDevice(cfg);
    dev->start();
    ASSERT_TRUE(waitStatus(host, 0));
    ASSERT_TRUE(waitStatus(host, 10));  // no frame for 1 s x 3: session ended
    auto mute = deviceConfig("mute", "k");
    mute.silent = true;
    auto silent = sim->addDevice(mute);
    silent->start();
    EXPECT_TRUE(silent->waitFor(State::Closed, seconds(10)));
    // A device that heartbeats stays.
    auto host2 = addHostDevice("DeviceId=alive;DeviceKey=k;AllowDirectConn=1;");
    auto alive = sim->addDevice(deviceConfig("alive", "k"));
    alive->start();
    ASSERT_TRUE(waitStatus(host2, 0));
    ASSERT_TRUE(alive->waitUntil([](const devsim::DeviceStatus& s) { return s.heartbeatsAcked >= 3; }, seconds(15)));
    EXPECT_EQ(currentStatus(host2), 0u);
}

}  // namespace
