// VEXAAMS over loopback: session-key check, alarm records, acknowledgement order, shutdown.
#include "VexaAmsSdk.h"

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
    g_ams->alarms.push_back(s);
    g_ams->cv.notify_all();
    return 1;
}

class AmsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("VEXA_SDK_LOGIN_TIMEOUT_MS", "1500", 1);
        g_ams = &m_rec;
        ASSERT_TRUE(VEXA_AMS_Init());
        VEXA_AMS_LISTEN_PARAM lp{};
        strcpy(lp.szIP, "127.0.0.1");
        lp.fnCB = alarmCb;
        lp.dwKeepAliveTimeout = 1;
        m_listen = VEXA_AMS_StartListen(&lp);
        ASSERT_GE(m_listen, 0);
        m_port = VEXA_AMS_GetListenPort(m_listen);
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.gateClosed = false;
        }
        m_rec.cv.notify_all();
        if (m_listen >= 0) VEXA_AMS_StopListen(m_listen);
        VEXA_AMS_Fini();
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

    // alarmHello; returns the answer type ("alarmHelloAck" or "refused:<reason>").
    std::string hello(TestClient& c, const char* id, int proto, const std::string& key) {
        EXPECT_TRUE(c.connect(m_port));
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

    AmsRecorder m_rec;
    int32_t m_listen = -1;
    uint16_t m_port = 0;
};

TEST_F(AmsTest, SessionKeyCheck) {
    const std::string key64(64, 'a');
    setKey("cam-1", key64.c_str());
    setKey("cam-2", "abc");
    setKey("cam-2", "");  // cleared
    struct Case {
        const char* id;
        int proto;
        std::string key;
        const char* expect;
    };
    const Case cases[] = {
        {"cam-1", 4, key64, "alarmHelloAck"},
        {"cam-1", 4, std::string(63, 'a'), "refused:key"},
        {"cam-1", 4, "", "refused:key"},
        {"cam-2", 4, "abc", "refused:key"},
        {"cam-3", 4, "", "refused:key"},
        {"cam-3", 2, "", "alarmHelloAck"},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(std::string(tc.id) + "/" + tc.key);
        TestClient c;
        EXPECT_EQ(hello(c, tc.id, tc.proto, tc.key), tc.expect);
        if (std::string(tc.expect) != "alarmHelloAck") {
            EXPECT_TRUE(c.waitClosed());
        }
    }
}

TEST_F(AmsTest, AlarmRecords) {
    TestClient c;
    ASSERT_EQ(hello(c, "panel-9", 2, ""), "alarmHelloAck");
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
        TestClient c;
        if (tc.helloFirst) {
            ASSERT_EQ(hello(c, "cam-x", 2, ""), "alarmHelloAck");
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
    TestClient c;
    ASSERT_EQ(hello(c, "cam-s", 2, ""), "alarmHelloAck");
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
