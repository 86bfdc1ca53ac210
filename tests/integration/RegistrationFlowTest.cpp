// Real devices over loopback: devsim -> stand-in libraries -> plug-in -> host callbacks.
#include <gtest/gtest.h>

#include "GatewayFixture.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"

namespace {

using devsim::Family;
using devsim::State;
using std::chrono::seconds;

class Registration : public vtest::GatewayFixture {};

TEST_F(Registration, DevicesOfBothFamiliesComeOnLine) {
    struct Case {
        const char* id;
        Family family;
        bool das;
        bool slowWriter;  // writes its frames a few bytes at a time
        const char* expectText;
    } cases[] = {
        {"panel-1", Family::Vexa, false, false, "regIP=;regPort=0;serialNo=panel-1;devProtocol=VEXA"},
        {"panel-1234567", Family::Vexa, true, false, "regIP=127.0.0.1;regPort=7661;serialNo=nel-12345;devProtocol=VEXA"},
        {"camera-1", Family::AldonV5, false, false, "regIP=;regPort=0;serialNo=SN-camera-1;devProtocol=aldonV5"},
        {"slow", Family::Vexa, false, true, "regIP=;regPort=0;serialNo=slow;devProtocol=VEXA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const char* pto = c.family == Family::Vexa ? "VEXA" : "aldonV5";
        auto host = addHostDevice(std::string("DeviceId=") + c.id + ";DeviceKey=k-" + c.id + ";DevProtocol=" + pto +
                                  ";AllowDirectConn=1;AlarmActiveStatus=active;");
        auto cfg = deviceConfig(c.id, std::string("k-") + c.id, c.family);
        cfg.dasRequest = c.das;
        cfg.dasServerAddress = "127.0.0.1";
        cfg.dasServerPort = 7661;
        cfg.slowWriter = c.slowWriter;
        auto dev = sim->addDevice(cfg);
        dev->start();
        std::string text;
        ASSERT_TRUE(waitStatus(host, 0, &text, seconds(20)));
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

TEST_F(Registration, RefusalsReachTheHostAndLeaveOthersAlone) {
    auto knownHost = addHostDevice("DeviceId=known;DeviceKey=k;AllowDirectConn=1;");
    auto known = startDevice("known", Family::Vexa);
    ASSERT_TRUE(waitStatus(knownHost, 0));
    struct Case {
        const char* name;
        std::string hostParams;  // empty: the host does not know the device
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
        {"unknown device", "", false, Family::Vexa, 0xFFFFFFFF, "auth"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool hosted = !c.hostParams.empty();
        const auto host = hosted ? addHostDevice(c.hostParams) : vtest::HostDevice();
        const std::string id = hosted ? CVexaDevice::parseParams(c.hostParams.c_str())["DeviceId"] : "stranger";
        auto cfg = deviceConfig(id, c.wrongKey ? "wrong" : "k", c.family);
        if (c.wrongKey) cfg.key = "right", cfg.wrongKey = true;
        auto dev = sim->addDevice(cfg);
        dev->start();
        ASSERT_TRUE(dev->waitFor(State::Refused, seconds(10)));
        EXPECT_EQ(dev->status().refusal, c.refusal);
        if (c.hostStatus != 0xFFFFFFFF) {
            std::string text;
            ASSERT_TRUE(waitStatus(host, c.hostStatus, &text));
            EXPECT_EQ(text, "OfflineHint=" + std::to_string(c.hostStatus == 8 ? 1 : 3));
        }
        if (hosted) {
            EXPECT_NE(currentStatus(host), 0u);
        }
    }
    EXPECT_EQ(known->state(), State::LoggedIn);
    EXPECT_EQ(currentStatus(knownHost), 0u);
    EXPECT_EQ(CVexaDeviceMgr::instance()->deviceCount(), 4u);  // the stranger got no entry
}

TEST_F(Registration, SessionEndsReachTheHost) {
    enum How { Logout, Vanish, HostDisconnect, HostDestroy };
    const struct {
        const char* id;
        How how;
    } cases[] = {{"lo", Logout}, {"va", Vanish}, {"dc", HostDisconnect}, {"de", HostDestroy}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        auto host = addHostDevice(std::string("DeviceId=") + c.id + ";DeviceKey=k;AllowDirectConn=1;");
        auto dev = startDevice(c.id, Family::Vexa);
        ASSERT_TRUE(waitStatus(host, 0));
        const int64_t first = dev->status().userHandle;
        const vtest::HostDevice before = host;
        const size_t heard = statuses(host).size();
        std::string text;
        switch (c.how) {
            case Logout:
                dev->logout();
                ASSERT_TRUE(waitStatus(host, 10, &text));
                EXPECT_EQ(text, "OfflineHint=2");
                // It comes back with a new session, and that is the one the plug-in holds.
                dev->start();
                ASSERT_TRUE(dev->waitFor(State::LoggedIn, seconds(10)));
                ASSERT_TRUE(vtest::waitUntil([&] { return currentStatus(host) == 0; }));
                EXPECT_NE(dev->status().userHandle, first);
                EXPECT_EQ(CVexaDeviceMgr::instance()->findDevice(c.id)->userHandle(), dev->status().userHandle);
                break;
            case Vanish:
                dev->vanish();
                ASSERT_TRUE(waitStatus(host, 10));
                break;
            case HostDisconnect:  // forces the library session out
                EXPECT_EQ(host.conn->DisConnectImpl_V2(host.handle), 0u);
                ASSERT_TRUE(dev->waitFor(State::ForcedOut, seconds(10)));
                EXPECT_EQ(currentStatus(host), 0xFFFFFFFFu);
                break;
            case HostDestroy:
                destroyHostDevice(host);
                ASSERT_TRUE(dev->waitFor(State::ForcedOut, seconds(10)));
                EXPECT_EQ(CVexaDeviceMgr::instance()->findDevice(c.id), nullptr);
                EXPECT_EQ(statuses(before).size(), heard);  // nothing reached the host after the destroy
                break;
        }
    }
}

}  // namespace
