#include "devsim/Simulator.h"

#include "FakeGateway.h"
#include "WireFrame.h"

#include <gtest/gtest.h>

#include <memory>

using namespace devsim;
using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 20s;  // only guards against hangs

DeviceConfig configFor(const fakegw::Gateway& gw, const std::string& id, Family fam = Family::Vexa) {
    DeviceConfig c;
    c.deviceId = id;
    c.key = "secret";
    c.family = fam;
    c.cmsPort = gw.cmsPort();
    c.amsPort = gw.amsPort();
    return c;
}

// Frames received from one connection, in order.
std::vector<Json::Value> framesOf(fakegw::Gateway& gw, int conn) {
    std::vector<Json::Value> out;
    for (const auto& e : gw.events())
        if (e.conn == conn) out.push_back(e.frame);
    return out;
}

uint32_t prefix(const std::string& raw) {
    if (raw.size() < 4) return 0xffffffffu;
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

bool isLowerHex(const std::string& s, size_t n) {
    if (s.size() != n) return false;
    for (char ch : s)
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct LoginCase {
    const char* name;
    Family family;
    int proto;
    bool wrongKey;
    bool das;
    State expect;
    const char* reason;
    int helloProto;
    bool sessionKey;
};

TEST(DevsimLogin, Handshake) {
    const LoginCase cases[] = {
        {"vexa", Family::Vexa, -1, false, false, State::LoggedIn, "", 2, false},
        {"aldonV5", Family::AldonV5, -1, false, false, State::LoggedIn, "", 4, true},
        {"chosenProtocol", Family::Vexa, 4, false, false, State::LoggedIn, "", 4, true},
        {"wrongKey", Family::Vexa, -1, true, false, State::Refused, "key", 2, false},
        {"wrongKeyV5", Family::AldonV5, -1, true, false, State::Refused, "key", 4, false},
        {"addressRequest", Family::AldonV5, -1, false, true, State::LoggedIn, "", 4, true},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        fakegw::Gateway gw;
        Simulator sim;
        DeviceConfig cfg = configFor(gw, std::string("dev-") + tc.name, tc.family);
        cfg.protocolVersion = tc.proto;
        cfg.wrongKey = tc.wrongKey;
        cfg.serial = "SER123";
        cfg.shortSerial = "S1";
        cfg.firmware = "V9";
        if (tc.das) {
            cfg.dasRequest = true;
            cfg.dasServerAddress = "192.0.2.7";
            cfg.dasServerPort = 7661;
        }
        auto dev = sim.addDevice(cfg);
        dev->start();
        ASSERT_TRUE(dev->waitFor(tc.expect, kWait));

        const Json::Value hello = gw.waitFrame("hello");
        ASSERT_TRUE(hello.isObject());
        EXPECT_EQ(hello["deviceId"].asString(), cfg.deviceId);
        EXPECT_EQ(hello["protocolVersion"].asInt(), tc.helloProto);
        EXPECT_EQ(hello["serial"].asString(), "SER123");
        EXPECT_EQ(hello["shortSerial"].asString(), "S1");
        EXPECT_EQ(hello["firmware"].asString(), "V9");

        const auto frames = framesOf(gw, hello["_conn"].asInt());
        std::vector<std::string> order;
        for (const auto& f : frames) order.push_back(f["type"].asString());
        std::vector<std::string> want;
        if (tc.das) want.push_back("dasRequest");
        want.insert(want.end(), {"hello", "auth"});
        ASSERT_GE(order.size(), want.size());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), order.begin()));
        if (tc.das) {
            EXPECT_EQ(frames[0]["deviceId"].asString(), cfg.deviceId);
            EXPECT_EQ(frames[0]["serverAddress"].asString(), "192.0.2.7");
            EXPECT_EQ(frames[0]["serverPort"].asInt(), 7661);
        }

        const DeviceStatus st = dev->status();
        EXPECT_EQ(st.state, tc.expect);
        EXPECT_EQ(st.refusal, tc.reason);
        if (tc.expect == State::LoggedIn) {
            EXPECT_EQ(st.userHandle, 0);
            EXPECT_EQ(st.loginAck["alarmServer"]["port"].asInt(), gw.amsPort());
            EXPECT_EQ(st.loginAck["keepAliveSec"].asInt(), 30);
            EXPECT_EQ(st.logins, 1u);
        }
        if (tc.sessionKey) {
            EXPECT_EQ(st.sessionKey, gw.issuedSessionKey(cfg.deviceId));
            EXPECT_TRUE(isLowerHex(st.sessionKey, 64));
            EXPECT_TRUE(isLowerHex(st.companion, 32));
        } else {
            EXPECT_TRUE(st.sessionKey.empty());
        }
        if (tc.das) {
            EXPECT_EQ(st.dasAnswer["address"].asString(), "10.1.2.3");
            EXPECT_EQ(st.dasAnswer["serverId"].asString(), "srv-1");
        } else {
            EXPECT_TRUE(st.dasAnswer.isNull());
        }
    }
}

// ---------------------------------------------------------------------------------------------

TEST(DevsimHeartbeat, CadenceFromOverrideOrLoginAck) {
    struct Case {
        const char* name;
        std::chrono::milliseconds override;
        int keepAliveSec;
        uint64_t beats;
    } cases[] = {
        {"override", 30ms, 30, 4},
        {"fromLoginAck", 0ms, 1, 2},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        fakegw::Options o;
        o.keepAliveSec = tc.keepAliveSec;
        fakegw::Gateway gw(o);
        Simulator sim;
        DeviceConfig cfg = configFor(gw, "hb");
        cfg.heartbeatInterval = tc.override;
        auto dev = sim.addDevice(cfg);
        dev->start();
        ASSERT_TRUE(dev->waitUntil([&](const DeviceStatus& st) { return st.heartbeatsAcked >= tc.beats; }, kWait));
        EXPECT_GE(gw.count("heartbeat"), tc.beats);
        EXPECT_EQ(dev->state(), State::LoggedIn);
    }
}

TEST(DevsimHeartbeat, NoHeartbeatSwitchSendsNone) {
    fakegw::Gateway gw;
    Simulator sim;
    DeviceConfig beating = configFor(gw, "beating");
    beating.heartbeatInterval = 20ms;
    DeviceConfig quiet = configFor(gw, "quiet");
    quiet.heartbeatInterval = 20ms;
    quiet.noHeartbeat = true;
    auto q = sim.addDevice(quiet);
    q->start();
    ASSERT_TRUE(q->waitFor(State::LoggedIn, kWait));
    auto b = sim.addDevice(beating);
    b->start();
    // By the time the other device beat five times, the quiet one had many chances.
    ASSERT_TRUE(b->waitUntil([](const DeviceStatus& st) { return st.heartbeatsAcked >= 5; }, kWait));
    EXPECT_EQ(q->status().heartbeatsSent, 0u);
    const int qConn = gw.waitFrame("hello", 1)["_conn"].asInt();
    for (const auto& f : framesOf(gw, qConn)) EXPECT_NE(f["type"].asString(), "heartbeat");
}

// ---------------------------------------------------------------------------------------------

enum class Ending { Logout, Vanish, ForcedLogout, RefuseLogin, LogoutAfter, VanishAfterLogin, GatewayCloses };

TEST(DevsimSession, Endings) {
    struct Case {
        const char* name;
        Ending how;
        State expect;
        bool gatewaySeesLogout;
        const char* why;
    } cases[] = {
        {"logout", Ending::Logout, State::LoggedOut, true, "logout"},
        {"logoutAfter", Ending::LogoutAfter, State::LoggedOut, true, "logout"},
        {"vanish", Ending::Vanish, State::Closed, false, "vanished"},
        {"vanishAfterLogin", Ending::VanishAfterLogin, State::Closed, false, "vanished"},
        {"forcedLogout", Ending::ForcedLogout, State::ForcedOut, false, "forced"},
        {"refusedLogin", Ending::RefuseLogin, State::Refused, false, "refused login"},
        {"gatewayCloses", Ending::GatewayCloses, State::Closed, false, "peer closed"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        fakegw::Options o;
        if (tc.how == Ending::RefuseLogin) o.refuseLogin = "login";
        fakegw::Gateway gw(o);
        Simulator sim;
        DeviceConfig cfg = configFor(gw, "end");
        if (tc.how == Ending::LogoutAfter) cfg.logoutAfter = 20ms;
        if (tc.how == Ending::VanishAfterLogin) cfg.vanishAfterLogin = true;
        auto dev = sim.addDevice(cfg);
        dev->start();
        const int conn = gw.waitFrame("hello")["_conn"].asInt();
        if (tc.how != Ending::RefuseLogin) {
            ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
        }
        if (tc.how == Ending::Logout) dev->logout();
        if (tc.how == Ending::Vanish) dev->vanish();
        if (tc.how == Ending::ForcedLogout) {
            Json::Value f;
            f["type"] = "forcedLogout";
            gw.send(conn, f);
            gw.closeConn(conn);
        }
        if (tc.how == Ending::GatewayCloses) gw.closeConn(conn);
        ASSERT_TRUE(dev->waitFor(tc.expect, kWait));
        // The gateway sees the connection end in every case.
        ASSERT_TRUE(gw.waitUntil([&](const std::vector<fakegw::Event>& ev) {
            for (const auto& e : ev)
                if (e.conn == conn && e.frame["type"].asString() == "_closed") return true;
            return false;
        }));
        bool sawLogout = false;
        for (const auto& f : framesOf(gw, conn)) sawLogout |= f["type"].asString() == "logout";
        EXPECT_EQ(sawLogout, tc.gatewaySeesLogout);
        const DeviceStatus st = dev->status();
        EXPECT_EQ(st.state, tc.expect);
        EXPECT_NE(st.closeWhy.find(tc.why), std::string::npos) << st.closeWhy;
        EXPECT_EQ(st.sessions, 1u);  // no reconnect unless asked
    }
}

TEST(DevsimSession, AutoReconnectAfterConnectionLoss) {
    fakegw::Gateway gw;
    Simulator sim;
    DeviceConfig cfg = configFor(gw, "again");
    cfg.autoReconnect = true;
    cfg.reconnectDelay = 10ms;
    auto dev = sim.addDevice(cfg);
    dev->start();
    ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
    gw.closeConn(gw.waitFrame("hello")["_conn"].asInt());
    ASSERT_TRUE(dev->waitUntil([](const DeviceStatus& st) { return st.logins >= 2; }, kWait));
    EXPECT_EQ(gw.waitFrame("hello", 2)["deviceId"].asString(), "again");
    EXPECT_EQ(dev->status().userHandle, 1);
}

// ---------------------------------------------------------------------------------------------

TEST(DevsimMalformed, EachKindGoesOnTheWireAsSpecified) {
    struct Case {
        Malformed kind;
        uint32_t length;  // prefix expected on the wire
        std::function<void(const std::string& body)> checkBody;
    } cases[] = {
        {Malformed::ZeroLength, 0, nullptr},
        {Malformed::OverLength, 1048577, nullptr},
        {Malformed::NotJson, 0, [](const std::string& b) {
             Json::Value v;
             Json::CharReaderBuilder rb;
             std::unique_ptr<Json::CharReader> r(rb.newCharReader());
             EXPECT_FALSE(r->parse(b.data(), b.data() + b.size(), &v, nullptr));
         }},
        {Malformed::JsonArray, 0, [](const std::string& b) {
             Json::Value v;
             Json::CharReaderBuilder rb;
             std::unique_ptr<Json::CharReader> r(rb.newCharReader());
             ASSERT_TRUE(r->parse(b.data(), b.data() + b.size(), &v, nullptr));
             EXPECT_TRUE(v.isArray());
         }},
        {Malformed::NoType, 0, [](const std::string& b) {
             Json::Value v;
             Json::CharReaderBuilder rb;
             std::unique_ptr<Json::CharReader> r(rb.newCharReader());
             ASSERT_TRUE(r->parse(b.data(), b.data() + b.size(), &v, nullptr));
             ASSERT_TRUE(v.isObject());
             EXPECT_FALSE(v.isMember("type"));
         }},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(malformedName(tc.kind));
        fakegw::Gateway gw;
        Simulator sim;
        DeviceConfig cfg = configFor(gw, "bad");
        cfg.malformed = tc.kind;
        auto dev = sim.addDevice(cfg);
        dev->start();
        const Json::Value bad = gw.waitFrame("_badFrame");
        ASSERT_TRUE(bad.isObject());
        const std::string raw = gw.rawBytes(bad["_conn"].asInt());
        if (tc.checkBody) {
            ASSERT_GE(raw.size(), 5u);
            EXPECT_EQ(prefix(raw), raw.size() - 4);  // a whole frame, nothing else before it
            tc.checkBody(raw.substr(4));
        } else {
            EXPECT_EQ(prefix(raw), tc.length);
        }
        EXPECT_EQ(gw.count("hello"), 0u);
        // The gateway drops the connection; the device notices.
        ASSERT_TRUE(dev->waitFor(State::Closed, kWait));
    }
}

TEST(DevsimMalformed, SlowWriterStillLogsIn) {
    fakegw::Gateway gw;
    Simulator sim;
    DeviceConfig cfg = configFor(gw, "slow-writer");
    cfg.slowWriter = true;
    auto dev = sim.addDevice(cfg);
    dev->start();
    ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
    const int conn = gw.waitFrame("hello")["_conn"].asInt();
    // Hello and auth are well over 100 bytes, each written on its own.
    EXPECT_GT(gw.readCalls(conn), 20u);
}

TEST(DevsimMalformed, BadFramesFromTheGatewayCloseOnlyThatConnection) {
    struct Case {
        const char* name;
        std::string bytes;
        bool staysLoggedIn;
    } cases[] = {
        {"unknownType", vexawire::encodeFrame([] {
             Json::Value v;
             v["type"] = "somethingNew";
             return v;
         }()),
         true},
        {"zeroLength", malformedBytes(Malformed::ZeroLength), false},
        {"overLength", malformedBytes(Malformed::OverLength), false},
        {"array", malformedBytes(Malformed::JsonArray), false},
        {"typeNotString", vexawire::encodeFrame([] {
             Json::Value v;
             v["type"] = 5;
             return v;
         }()),
         false},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        fakegw::Gateway gw;
        Simulator sim;
        auto dev = sim.addDevice(configFor(gw, "victim"));
        auto other = sim.addDevice(configFor(gw, "bystander"));
        dev->start();
        ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
        other->start();
        ASSERT_TRUE(other->waitFor(State::LoggedIn, kWait));
        const int conn = gw.waitFrame("hello", 1)["_conn"].asInt();
        gw.sendRaw(conn, tc.bytes);
        if (tc.staysLoggedIn) {
            // A request after the unknown frame is still answered.
            Json::Value r;
            r["type"] = "getConfig";
            r["seq"] = 77;
            r["command"] = 1;
            gw.send(conn, r);
            EXPECT_EQ(gw.waitFrame("getConfigAnswer")["seq"].asUInt(), 77u);
            EXPECT_EQ(dev->state(), State::LoggedIn);
        } else {
            ASSERT_TRUE(dev->waitFor(State::Closed, kWait));
            EXPECT_NE(dev->status().closeWhy.find("bad frame"), std::string::npos);
            EXPECT_EQ(other->state(), State::LoggedIn);
        }
    }
}

// ---------------------------------------------------------------------------------------------

TEST(DevsimRequests, DefaultAnswersRepeatSeq) {
    fakegw::Gateway gw;
    Simulator sim;
    auto dev = sim.addDevice(configFor(gw, "answers"));
    dev->start();
    ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
    const int conn = gw.waitFrame("hello")["_conn"].asInt();

    struct Case {
        const char* type;
        uint32_t seq;
        const char* answer;
        std::function<void(const Json::Value&)> check;
    } cases[] = {
        {"config", 4000000001u, "configAnswer", [](const Json::Value& a) {
             Json::Value doc;
             std::string why;
             Json::CharReaderBuilder rb;
             std::unique_ptr<Json::CharReader> r(rb.newCharReader());
             const std::string d = a["data"].asString();
             ASSERT_TRUE(r->parse(d.data(), d.data() + d.size(), &doc, &why));
             EXPECT_EQ(doc["status"].asInt(), 200);
         }},
        {"ovix", 8, "ovixAnswer", [](const Json::Value& a) {
             EXPECT_NE(a["body"].asString().find("<statusCode>1</statusCode>"), std::string::npos);
         }},
        {"getConfig", 9, "getConfigAnswer", [](const Json::Value& a) { EXPECT_EQ(a["audioCodec"].asInt(), 1); }},
        {"media", 10, "mediaAnswer", nullptr},
        {"ferro", 11, "ferroAnswer", [](const Json::Value& a) { EXPECT_TRUE(a["data"].isString()); }},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.type);
        Json::Value r;
        r["type"] = tc.type;
        r["seq"] = tc.seq;
        r["body"] = "{}";
        r["request"] = "GET /OVIX/System/status";
        r["op"] = "stopLive";
        gw.send(conn, r);
        const Json::Value a = gw.waitFrame(tc.answer);
        ASSERT_TRUE(a.isObject());
        EXPECT_EQ(a["seq"].asUInt(), tc.seq);
        EXPECT_EQ(a["error"].asInt(), 0);
        if (tc.check) tc.check(a);
    }
    EXPECT_EQ(dev->status().requests, 5u);
}

TEST(DevsimRequests, HandlerChoosesErrorSilenceOrLateAnswer) {
    fakegw::Gateway gw;
    Simulator sim;
    DeviceConfig cfg = configFor(gw, "handled");
    std::atomic<int> seen{0};
    cfg.handler = [&](const Json::Value& req) -> Answer {
        ++seen;
        switch (vexawire::getU32(req, "seq")) {
            case 1: {
                Json::Value m;
                m["body"] = "late";
                return Answer::with(m, 150ms);
            }
            case 2: return Answer::none();
            case 3: {
                Json::Value m;
                m["error"] = 23;
                return Answer::with(m);
            }
            default: throw std::runtime_error("handler fault");
        }
    };
    auto dev = sim.addDevice(cfg);
    dev->start();
    ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
    const int conn = gw.waitFrame("hello")["_conn"].asInt();
    for (uint32_t seq : {1u, 2u, 4u, 3u}) {
        Json::Value r;
        r["type"] = "ovix";
        r["seq"] = seq;
        r["request"] = "GET /x";
        r["body"] = "";
        gw.send(conn, r);
    }
    const Json::Value first = gw.waitFrame("ovixAnswer", 1);
    const Json::Value second = gw.waitFrame("ovixAnswer", 2);
    // Requests are taken in order, so the silent and throwing ones would have answered before 3.
    EXPECT_EQ(first["seq"].asUInt(), 3u);
    EXPECT_EQ(first["error"].asInt(), 23);
    EXPECT_EQ(second["seq"].asUInt(), 1u);
    EXPECT_EQ(second["error"].asInt(), 0);
    EXPECT_EQ(second["body"].asString(), "late");
    EXPECT_EQ(gw.count("ovixAnswer"), 2u);
    EXPECT_EQ(seen.load(), 4);
    EXPECT_EQ(dev->state(), State::LoggedIn);
}

TEST(DevsimRequests, DeviceMessageCarriesEveryMember) {
    fakegw::Gateway gw;
    Simulator sim;
    auto dev = sim.addDevice(configFor(gw, "msg"));
    dev->start();
    ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
    dev->sendMessage(2, "CIDEventMgr", "CIDEvent", 1, 1, "{\"code\":\"1130\"}");
    const Json::Value m = gw.waitFrame("message");
    EXPECT_EQ(m["messageType"].asInt(), 2);
    EXPECT_EQ(m["domain"].asString(), "CIDEventMgr");
    EXPECT_EQ(m["identifier"].asString(), "CIDEvent");
    EXPECT_EQ(m["alarmType"].asInt(), 1);
    EXPECT_EQ(m["dataType"].asInt(), 1);
    EXPECT_EQ(m["alarm"].asString(), "{\"code\":\"1130\"}");
}

// ---------------------------------------------------------------------------------------------

TEST(DevsimAlarm, HelloCarriesSessionKeyForProtocol4) {
    struct Case {
        const char* name;
        Family family;
        const char* overrideKey;  // null: the received one
        AlarmState expect;
        bool keyMember;
        bool portFromLoginAck;
    } cases[] = {
        {"aldonV5", Family::AldonV5, nullptr, AlarmState::Ready, true, false},
        {"aldonV5WrongKey", Family::AldonV5, "00", AlarmState::Refused, true, false},
        {"vexa", Family::Vexa, nullptr, AlarmState::Ready, false, false},
        {"portFromLoginAck", Family::AldonV5, nullptr, AlarmState::Ready, true, true},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        fakegw::Gateway gw;
        Simulator sim;
        DeviceConfig cfg = configFor(gw, "alarmer", tc.family);
        if (tc.portFromLoginAck) cfg.amsPort = 0;
        auto dev = sim.addDevice(cfg);
        if (tc.overrideKey) dev->overrideAlarmSessionKey(tc.overrideKey);
        dev->start();
        ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
        dev->connectAlarm();
        ASSERT_TRUE(dev->waitAlarm(tc.expect, kWait));
        const Json::Value h = gw.waitFrame("alarmHello");
        EXPECT_EQ(h["deviceId"].asString(), "alarmer");
        EXPECT_EQ(h["protocolVersion"].asInt(), tc.family == Family::AldonV5 ? 4 : 2);
        EXPECT_EQ(h.isMember("sessionKey"), tc.keyMember);
        if (tc.keyMember && !tc.overrideKey) {
            EXPECT_EQ(h["sessionKey"].asString(), gw.issuedSessionKey("alarmer"));
        }
        if (tc.expect == AlarmState::Refused) {
            EXPECT_EQ(dev->status().alarmRefusal, "key");
        }
    }
}

TEST(DevsimAlarm, PlainAndStructuredAlarmsAreAcked) {
    fakegw::Gateway gw;
    Simulator sim;
    auto dev = sim.addDevice(configFor(gw, "pusher", Family::AldonV5));
    dev->start();
    ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
    dev->connectAlarm();
    // Pushed before the hello is answered: still sent after it, in order.
    const uint32_t s1 = dev->pushAlarm(1, 1, "{\"a\":1}");
    ASSERT_TRUE(dev->waitAlarm(AlarmState::Ready, kWait));
    const std::string desc = "door opened";
    const uint32_t s2 = dev->pushStructuredAlarm(3, 0, 13, "HEAD\r\n\r\nbody", &desc, true);
    const uint32_t s3 = dev->pushStructuredAlarm(2, 3, 1, "plain text");
    ASSERT_TRUE(dev->waitAlarmAcks(3, kWait));
    EXPECT_EQ(dev->status().lastAlarmAckSeq, s3);
    EXPECT_LT(s1, s2);
    EXPECT_LT(s2, s3);

    const Json::Value a1 = gw.waitFrame("alarm", 1);
    const Json::Value a2 = gw.waitFrame("alarm", 2);
    const Json::Value a3 = gw.waitFrame("alarm", 3);
    EXPECT_EQ(a1["seq"].asUInt(), s1);
    EXPECT_EQ(a1["payload"].asString(), "{\"a\":1}");
    EXPECT_FALSE(a1.isMember("kind"));
    EXPECT_EQ(a2["seq"].asUInt(), s2);
    EXPECT_EQ(a2["alarmType"].asInt(), 3);
    EXPECT_EQ(a2["kind"].asInt(), 13);
    EXPECT_EQ(a2["text"].asString(), "HEAD\r\n\r\nbody");
    EXPECT_EQ(a2["descriptor"].asString(), desc);
    EXPECT_TRUE(a2["header"].asBool());
    EXPECT_EQ(a3["dataType"].asInt(), 3);
    EXPECT_FALSE(a3.isMember("descriptor"));
    EXPECT_FALSE(a3.isMember("header"));
    EXPECT_FALSE(a3.isMember("payload"));
}

TEST(DevsimAlarm, RateModeSendsExactlyRateTimesDuration) {
    fakegw::Gateway gw;
    Simulator sim;
    auto dev = sim.addDevice(configFor(gw, "rate"));
    dev->start();
    ASSERT_TRUE(dev->waitFor(State::LoggedIn, kWait));
    dev->connectAlarm();
    ASSERT_TRUE(dev->waitAlarm(AlarmState::Ready, kWait));
    dev->startAlarmRate(200, 250ms);
    ASSERT_TRUE(dev->waitAlarmAcks(50, kWait));
    // One more alarm after the run; its ack being last shows the run had ended at 50.
    const uint32_t marker = dev->pushAlarm(9, 9, "end");
    ASSERT_TRUE(dev->waitAlarmAcks(51, kWait));
    EXPECT_EQ(dev->status().lastAlarmAckSeq, marker);
    EXPECT_EQ(dev->status().alarmsSent, 51u);
}

// ---------------------------------------------------------------------------------------------

TEST(DevsimBulk, ManyDevicesLogInWithRunningNumbers) {
    raiseFileLimit();
    fakegw::Gateway gw;
    Simulator sim;
    DeviceConfig base = configFor(gw, "");
    base.heartbeatInterval = 200ms;
    auto devs = sim.addDevices(base, "bulk-", 5, 1000);
    ASSERT_EQ(devs.size(), 1000u);
    EXPECT_EQ(devs.front()->id(), "bulk-5");
    EXPECT_EQ(devs.back()->id(), "bulk-1004");
    sim.startAll();
    ASSERT_TRUE(sim.waitReached(State::LoggedIn, 1000, 60s));
    EXPECT_EQ(sim.countIn(State::LoggedIn), 1000u);
    EXPECT_EQ(gw.count("hello"), 1000u);
    for (auto& d : devs) d->logout();
    ASSERT_TRUE(sim.waitIn(State::LoggedOut, 1000, 60s));
    EXPECT_EQ(sim.countIn(State::LoggedIn), 0u);
}
