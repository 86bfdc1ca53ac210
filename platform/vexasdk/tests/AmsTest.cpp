// VEXAAMS over loopback: links bound to command sessions, alarm records, acknowledgement after the
// plug-in took the alarm, connection limits, shutdown.
#include "VexaAmsSdk.h"
#include "VexaCmsSdk.h"

#include "TestClient.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct AlarmSeen {
    int32_t listen;
    uint8_t alarmType, dataType;
    std::string deviceId;
    std::string payload;  // plain forms
    int32_t kind = 0;
    std::string text, descriptor;
    uint32_t descriptorCount = 0;
    bool header = false;
};

struct AmsRecorder {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<AlarmSeen> alarms;
    bool gateClosed = false;  // holds the callback until opened
    int notTaken = 0;         // the next offers answered FALSE (alarm queue full)
    std::vector<std::string> offers;  // payload of every offer, "!" prefixed when not taken

    template <class P>
    bool waitFor(P pred) {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::seconds(5), pred);
    }
};
AmsRecorder* g_ams = nullptr;

VEXA_BOOL alarmCb(int32_t listen, VEXA_ALARM_MSG* m, void*) {
    AlarmSeen s;
    s.listen = listen;
    s.alarmType = m->byAlarmType;
    s.dataType = m->byDataType;
    s.deviceId = std::string(m->szDeviceID, strnlen(m->szDeviceID, sizeof m->szDeviceID));
    const bool structured = m->byAlarmType == 3 || (m->byAlarmType == 2 && m->byDataType == 3);
    if (structured) {
        // Read by byte offset, as the consumer does.
        const auto* b = static_cast<const unsigned char*>(m->pXmlBuf);
        int32_t kind;
        memcpy(&kind, b, 4);
        s.kind = kind;
        const VEXA_ALARM_TEXT* d;
        memcpy(&d, b + 8, sizeof d);
        memcpy(&s.descriptorCount, b + 16, 4);
        const char* t;
        uint32_t tl;
        memcpy(&t, b + 24, sizeof t);
        memcpy(&tl, b + 32, 4);
        s.text.assign(t, tl);
        if (d && s.descriptorCount) s.descriptor.assign(d->pText, d->dwLen);
        const void* hp;
        uint32_t hv;
        memcpy(&hp, b + 48, sizeof hp);
        memcpy(&hv, b + 56, 4);
        s.header = hp != nullptr && hv == 1;
    } else if (m->pXmlBuf) {
        s.payload.assign(static_cast<const char*>(m->pXmlBuf), m->dwXmlBufLen);
    }
    std::unique_lock<std::mutex> lk(g_ams->mu);
    g_ams->cv.wait(lk, [] { return !g_ams->gateClosed; });
    const bool taken = g_ams->notTaken == 0;
    if (!taken) --g_ams->notTaken;
    g_ams->offers.push_back((taken ? "" : "!") + s.payload);
    if (taken) g_ams->alarms.push_back(s);
    g_ams->cv.notify_all();
    return taken;
}

// Command side as the plug-in drives it: every device knows key "k"; a session key is installed
// on the alarm side as soon as the command library hands it out.
VEXA_BOOL cmsCb(int32_t, uint32_t type, void* out, uint32_t, void* in, uint32_t inLen, void*) {
    const auto* info = static_cast<const VEXA_CMS_DEV_REG_INFO*>(out);
    if (type == VEXA_CMS_DEV_AUTH) strncpy(static_cast<char*>(in), "k", inLen - 1);
    if (type == VEXA_CMS_DEV_SESSIONKEY) {
        VEXA_DEV_SESSION_KEY k{};
        memcpy(k.szDeviceID, info->szDeviceID, sizeof k.szDeviceID);
        memcpy(k.szSessionKey, info->szSessionKey, sizeof k.szSessionKey);
        k.byProtocolVersion = 4;
        VEXA_AMS_SetDeviceSessionKey(&k);
    }
    return 1;
}

class AmsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("VEXA_SDK_LOGIN_TIMEOUT_MS", "1500", 1);
        g_ams = &m_rec;
        ASSERT_TRUE(VEXA_CMS_Init());
        // Callbacks another suite of this binary may have left behind.
        VEXA_CMS_EXCEPTION_PARAM ep{};
        VEXA_CMS_MSG_CB_PARAM mp{};
        ASSERT_TRUE(VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_EXCEPTION_CALLBACK, &ep));
        ASSERT_TRUE(VEXA_CMS_SubscribeMsg(0, &mp));
        ASSERT_TRUE(VEXA_CMS_SetInterfaceAsync(0, nullptr, nullptr));
        VEXA_CMS_LISTEN_PARAM cp{};
        strcpy(cp.szIP, "127.0.0.1");
        cp.fnCB = cmsCb;
        ASSERT_GE(m_cmsListen = VEXA_CMS_StartListen(&cp), 0);
        m_cmsPort = VEXA_CMS_GetListenPort(m_cmsListen);
        ASSERT_TRUE(VEXA_AMS_Init());
        listen(1);
    }
    void listen(uint32_t keepAliveSec) {
        if (m_listen >= 0) VEXA_AMS_StopListen(m_listen);
        VEXA_AMS_LISTEN_PARAM lp{};
        strcpy(lp.szIP, "127.0.0.1");
        lp.fnCB = alarmCb;
        lp.dwKeepAliveTimeout = keepAliveSec;
        m_listen = VEXA_AMS_StartListen(&lp);
        ASSERT_GE(m_listen, 0);
        m_port = VEXA_AMS_GetListenPort(m_listen);
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.gateClosed = false;
            m_rec.notTaken = 0;
        }
        m_rec.cv.notify_all();
        if (m_listen >= 0) VEXA_AMS_StopListen(m_listen);
        VEXA_AMS_Fini();
        VEXA_CMS_Fini();
        uint32_t dflt = 0;
        VEXA_CMS_SetSDKLocalCfg(VEXA_SDK_MAX_PENDING_LOGINS, &dflt);
        VEXA_AMS_SetSDKLocalCfg(VEXA_SDK_MAX_PENDING_LOGINS, &dflt);
        g_ams = nullptr;
    }

    void setKey(const char* id, const char* key) {
        VEXA_DEV_SESSION_KEY k{};
        strcpy(k.szDeviceID, id);
        // A 64-digit key fills its field without a NUL.
        memcpy(k.szSessionKey, key, strnlen(key, sizeof k.szSessionKey));
        k.byProtocolVersion = 4;
        ASSERT_TRUE(VEXA_AMS_SetDeviceSessionKey(&k));
    }

    // Logs id in on the command port; returns the session key (protocol 4) or "" ("-" on failure).
    std::string cmsLogin(TestClient& c, const std::string& id, int proto = 2, const char* from = nullptr) {
        if (!c.connect(m_cmsPort, from)) return "-";
        Json::Value h = frame("hello");
        h["deviceId"] = id;
        h["protocolVersion"] = proto;
        c.send(h);
        Json::Value a = frame("auth");
        a["proof"] = vexawire::hmacSha256Hex("k", c.expect("challenge")["nonce"].asString());
        c.send(a);
        const std::string key = proto == 4 ? c.expect("sessionKey")["key"].asString() : "";
        return c.expect("loginAck").isNull() ? "-" : key;
    }

    // alarmHello; returns the answer type ("alarmHelloAck" or "refused:<reason>").
    std::string hello(TestClient& c, const std::string& id, int proto, const std::string& key,
                      const char* from = nullptr) {
        EXPECT_TRUE(c.connect(m_port, from));
        Json::Value h = frame("alarmHello");
        h["deviceId"] = id;
        h["protocolVersion"] = proto;
        if (!key.empty()) h["sessionKey"] = key;
        c.send(h);
        Json::Value a;
        if (!c.recv(a)) return "none";
        std::string t = a["type"].asString();
        if (t == "refused") t += ":" + a["reason"].asString();
        return t;
    }

    // A logged-in VEXA device `id` with its alarm link open on `alarm`.
    void bound(TestClient& cmd, TestClient& alarm, const std::string& id) {
        ASSERT_EQ(cmsLogin(cmd, id), "");
        ASSERT_EQ(hello(alarm, id, 2, ""), "alarmHelloAck");
    }

    static Json::Value alarm(uint32_t seq, const std::string& payload) {
        Json::Value a = frame("alarm");
        a["seq"] = seq;
        a["alarmType"] = 2;
        a["dataType"] = 1;
        a["payload"] = payload;
        return a;
    }

    AmsRecorder m_rec;
    int32_t m_listen = -1, m_cmsListen = -1;
    uint16_t m_port = 0, m_cmsPort = 0;
};

// An alarm link is taken only from a device with a live command session: protocol 4 by its
// session key, the others from the command session's address.
TEST_F(AmsTest, AlarmHelloNeedsLiveSession) {
    TestClient v1, a1, a2;
    ASSERT_EQ(cmsLogin(v1, "vexa-1"), "");
    const std::string k1 = cmsLogin(a1, "aldon-1", 4), k2 = cmsLogin(a2, "aldon-2", 4);
    ASSERT_EQ(k1.size(), 64u);
    ASSERT_EQ(k2.size(), 64u);
    setKey("aldon-2", "");  // cleared by the plug-in
    struct Case {
        const char* id;
        int proto;
        std::string key;
        const char* from;
        const char* expect;
    };
    const Case cases[] = {
        {"vexa-1", 2, "", nullptr, "alarmHelloAck"},
        {"vexa-1", 2, "", "127.0.0.2", "refused:auth"},
        {"ghost", 2, "", nullptr, "refused:auth"},
        {"aldon-1", 4, k1, "127.0.0.2", "alarmHelloAck"},
        {"aldon-1", 4, k1.substr(0, 63), nullptr, "refused:key"},
        {"aldon-1", 4, "", nullptr, "refused:key"},
        {"aldon-2", 4, k2, nullptr, "refused:key"},
        {"ghost", 4, k1, nullptr, "refused:auth"},
        {"vexa-1", 4, "", nullptr, "refused:key"},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(std::string(tc.id) + "/" + std::to_string(tc.proto) + "/" + (tc.from ? tc.from : "-"));
        TestClient c;
        EXPECT_EQ(hello(c, tc.id, tc.proto, tc.key, tc.from), tc.expect);
        if (std::string(tc.expect) != "alarmHelloAck") {
            EXPECT_TRUE(c.waitClosed());
        }
    }
}

TEST_F(AmsTest, SessionEndClosesAlarmLinks) {
    listen(0);  // no keep-alive: only the session's end may close the links
    for (const char* how : {"logout", "connection lost", "logged in again"}) {
        SCOPED_TRACE(how);
        const std::string id = std::string("dev-") + how;
        TestClient cmd, link, again;
        bound(cmd, link, id);
        if (std::string(how) == "logout") cmd.send(frame("logout"));
        if (std::string(how) == "connection lost") cmd.close();
        if (std::string(how) == "logged in again") {
            ASSERT_EQ(cmsLogin(again, id), "");
        }
        EXPECT_TRUE(link.waitClosed());
        TestClient next;
        EXPECT_EQ(hello(next, id, 2, ""), std::string(how) == "logged in again" ? "alarmHelloAck" : "refused:auth");
    }
}

// FALSE from the callback keeps the alarm and pauses the link; it is offered again until taken,
// acknowledged only then, and nothing behind it overtakes it.
TEST_F(AmsTest, AlarmNotTakenIsOfferedAgainInOrder) {
    TestClient cmd, link;
    bound(cmd, link, "dev-full-queue");
    {
        std::lock_guard<std::mutex> lk(m_rec.mu);
        m_rec.notTaken = 3;
    }
    link.sendRaw(vexawire::encodeFrame(alarm(1, "a1")) + vexawire::encodeFrame(alarm(2, "a2")));
    EXPECT_EQ(link.expect("alarmAck")["seq"].asUInt(), 1u);
    EXPECT_EQ(link.expect("alarmAck")["seq"].asUInt(), 2u);
    {
        std::lock_guard<std::mutex> lk(m_rec.mu);
        EXPECT_EQ(m_rec.offers, (std::vector<std::string>{"!a1", "!a1", "!a1", "a1", "a2"}));
        m_rec.notTaken = 1000000;
    }
    // A held alarm goes with its link when the library closes it: never delivered later.
    link.send(alarm(3, "a3"));
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.offers.size() > 5; }));
    cmd.send(frame("logout"));
    EXPECT_TRUE(link.waitClosed());
    {
        std::lock_guard<std::mutex> lk(m_rec.mu);
        m_rec.notTaken = 0;
    }
    TestClient cmd2, link2;
    bound(cmd2, link2, "dev-next");
    link2.send(alarm(4, "a4"));
    EXPECT_EQ(link2.expect("alarmAck")["seq"].asUInt(), 4u);
    std::lock_guard<std::mutex> lk(m_rec.mu);
    ASSERT_EQ(m_rec.alarms.size(), 3u);
    EXPECT_EQ(m_rec.alarms.back().payload, "a4");
}

// Both libraries: at most N connections wait to log in (option 20); a frame over 16 KiB before
// login is a bad frame.
TEST_F(AmsTest, PreLoginLimits) {
    struct Lib {
        const char* name;
        uint16_t port;
        VEXA_BOOL (*setCfg)(uint32_t, const void*);
        VEXA_BOOL (*stats)(VEXA_SDK_STATS*);
    };
    for (const Lib& l : {Lib{"cms", m_cmsPort, VEXA_CMS_SetSDKLocalCfg, VEXA_CMS_GetSDKStats},
                         Lib{"ams", m_port, VEXA_AMS_SetSDKLocalCfg, VEXA_AMS_GetSDKStats}}) {
        SCOPED_TRACE(l.name);
        VEXA_SDK_STATS st{};
        auto pending = [&] { return l.stats(&st) ? st.dwPendingLogins : 99u; };
        ASSERT_TRUE(l.stats(&st));
        const uint64_t refusedBefore = st.qwRefusedConnections;
        const uint32_t two = 2;
        ASSERT_TRUE(l.setCfg(VEXA_SDK_MAX_PENDING_LOGINS, &two));
        TestClient w1, w2, over, later;
        ASSERT_TRUE(w1.connect(l.port));
        ASSERT_TRUE(w2.connect(l.port));
        for (int i = 0; i < 500 && pending() != 2; ++i) usleep(10000);
        ASSERT_EQ(pending(), 2u);
        ASSERT_TRUE(over.connect(l.port));
        EXPECT_TRUE(over.waitClosed());
        ASSERT_TRUE(l.stats(&st));
        EXPECT_EQ(st.qwRefusedConnections, refusedBefore + 1);
        EXPECT_EQ(st.dwMaxPendingLogins, 2u);
        // Over 16 KiB before login: closed (and no longer waiting).
        Json::Value big = frame("hello");
        big["pad"] = std::string(vexawire::kMaxPreLoginFrameLen, 'p');
        w1.send(big);
        EXPECT_EQ(w1.expect("refused")["reason"].asString(), "frame");
        EXPECT_TRUE(w1.waitClosed());
        for (int i = 0; i < 500 && pending() != 1; ++i) usleep(10000);
        // A place is free again: a device logs in and may then send large frames.
        TestClient cmd;
        Json::Value large = alarm(7, std::string(100000, 'x'));
        if (std::string(l.name) == "cms") {
            ASSERT_EQ(cmsLogin(later, "dev-cap"), "");
            large["type"] = "noSuchFrame";
            later.send(large);
            later.send(frame("heartbeat"));
            EXPECT_FALSE(later.expect("heartbeatAck").isNull());
        } else {
            ASSERT_EQ(cmsLogin(cmd, "dev-cap2"), "");
            ASSERT_EQ(hello(later, "dev-cap2", 2, ""), "alarmHelloAck");
            later.send(large);
            EXPECT_EQ(later.expect("alarmAck")["seq"].asUInt(), 7u);
        }
        const uint32_t zero = 0;
        ASSERT_TRUE(l.setCfg(VEXA_SDK_MAX_PENDING_LOGINS, &zero));
        ASSERT_TRUE(l.stats(&st));
        EXPECT_EQ(st.dwMaxPendingLogins, VEXA_SDK_DEFAULT_MAX_PENDING_LOGINS);
    }
}

TEST_F(AmsTest, AlarmRecords) {
    TestClient cmd, c;
    bound(cmd, c, "panel-9");
    struct Case {
        const char* name;
        int alarmType, dataType;
        Json::Value extra;
        AlarmSeen expect;
    };
    auto members = [](std::initializer_list<std::pair<const char*, Json::Value>> l) {
        Json::Value v(Json::objectValue);
        for (auto& p : l) v[p.first] = p.second;
        return v;
    };
    std::vector<Case> cases;
    {
        AlarmSeen e{};
        e.payload = "<EventNotificationAlert/>";
        cases.push_back({"plain xml", 2, 1, members({{"payload", "<EventNotificationAlert/>"}}), e});
    }
    {
        AlarmSeen e{};
        e.payload = std::string(5000, 'p');  // no size limit here
        cases.push_back({"plain long", 2, 2, members({{"payload", std::string(5000, 'p')}}), e});
    }
    {
        AlarmSeen e{};
        e.kind = 5;
        e.text = "{\"cid\":1}";
        cases.push_back({"structured text", 3, 0, members({{"kind", 5}, {"text", "{\"cid\":1}"}}), e});
    }
    {
        AlarmSeen e{};
        e.kind = 13;
        e.text = "H: 1\r\n\r\nbody";
        e.header = true;
        cases.push_back({"structured header", 2, 3,
                         members({{"kind", 13}, {"text", "H: 1\r\n\r\nbody"}, {"header", true}}), e});
    }
    {
        AlarmSeen e{};
        e.kind = 13;
        e.text = "";
        e.descriptor = "<desc/>";
        e.descriptorCount = 1;
        cases.push_back({"structured descriptor", 3, 1, members({{"kind", 13}, {"descriptor", "<desc/>"}}), e});
    }
    uint32_t seq = 100;
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Json::Value a = tc.extra;
        a["type"] = "alarm";
        a["seq"] = ++seq;
        a["alarmType"] = tc.alarmType;
        a["dataType"] = tc.dataType;
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.alarms.clear();
            m_rec.gateClosed = true;
        }
        c.send(a);
        Json::Value ack;
        // Held in the callback: no acknowledgement may come yet.
        EXPECT_FALSE(c.recv(ack, 300));
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.gateClosed = false;
        }
        m_rec.cv.notify_all();
        ack = c.expect("alarmAck");
        EXPECT_EQ(ack["seq"].asUInt(), seq);
        std::lock_guard<std::mutex> lk(m_rec.mu);
        ASSERT_EQ(m_rec.alarms.size(), 1u);
        const AlarmSeen& s = m_rec.alarms[0];
        EXPECT_EQ(s.listen, m_listen);
        EXPECT_EQ(s.alarmType, tc.alarmType);
        EXPECT_EQ(s.dataType, tc.dataType);
        EXPECT_EQ(s.deviceId, "panel-9");
        EXPECT_EQ(s.payload, tc.expect.payload);
        EXPECT_EQ(s.kind, tc.expect.kind);
        EXPECT_EQ(s.text, tc.expect.text);
        EXPECT_EQ(s.descriptor, tc.expect.descriptor);
        EXPECT_EQ(s.descriptorCount, tc.expect.descriptorCount);
        EXPECT_EQ(s.header, tc.expect.header);
    }
}

TEST_F(AmsTest, ConnectionsThatMisbehaveAreClosed) {
    struct Case {
        const char* name;
        bool helloFirst;
        bool sendAlarm;
    };
    for (const Case& tc : {Case{"alarm before hello", false, true}, Case{"silent after hello", true, false},
                           Case{"silent before hello", false, false}}) {
        SCOPED_TRACE(tc.name);
        TestClient cmd, c;
        if (tc.helloFirst) {
            bound(cmd, c, "cam-x");
        } else {
            ASSERT_TRUE(c.connect(m_port));
        }
        if (tc.sendAlarm) {
            Json::Value a = frame("alarm");
            a["alarmType"] = 2;
            c.send(a);
            EXPECT_EQ(c.expect("refused")["reason"].asString(), "frame");
        }
        EXPECT_TRUE(c.waitClosed(20000));
    }
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_TRUE(m_rec.alarms.empty());
}

TEST_F(AmsTest, StopListenAndFiniStopCallbacks) {
    TestClient cmd, c;
    bound(cmd, c, "cam-s");
    ASSERT_TRUE(VEXA_AMS_StopListen(m_listen));
    m_listen = -1;
    EXPECT_TRUE(c.waitClosed());
    Json::Value a = frame("alarm");
    a["alarmType"] = 2;
    a["dataType"] = 1;
    a["payload"] = "late";
    c.send(a);
    TestClient late;
    EXPECT_FALSE(late.connect(m_port));
    ASSERT_TRUE(VEXA_AMS_Fini());
    ASSERT_TRUE(VEXA_AMS_Fini());
    EXPECT_EQ(VEXA_AMS_StopListen(0), 0);
    EXPECT_EQ(VEXA_AMS_GetLastError(), VEXA_SDK_ERR_NOT_INIT);
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_TRUE(m_rec.alarms.empty());
}

}  // namespace
