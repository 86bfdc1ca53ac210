// VEXACMS over loopback: registration, supervision, bad input, requests.
#include "VexaCmsSdk.h"

#include "TestClient.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct RegEvent {
    int32_t handle;
    uint32_t dataType;
    std::string deviceId, deviceIp, serverAddress;
    uint16_t serverPort;
    std::string sessionKey, companion;
    uint8_t protocol;
    std::string shortSerial;
};

struct AsyncEvent {
    int32_t handle;
    uint32_t seq, dataType, error;
    std::string text;
    std::vector<std::string> list;  // "<null>" for an entry without text
};

// What the callbacks saw, and how they answer.
struct Recorder {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<RegEvent> reg;
    std::vector<VEXA_CMS_EXCEPTION> exc;
    std::vector<AsyncEvent> async;
    std::vector<std::string> msgs;  // "type|domain|identifier|alarmType|dataType|device|text"
    std::map<std::string, std::string> keys;
    bool refuseLogin = false;
    uint32_t keepAlive = 30, count = 3;
    bool blockingCallInHeartbeat = false;
    uint32_t heartbeatCallError = 0;

    template <class P>
    bool waitFor(P pred, int ms = 5000) {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::milliseconds(ms), pred);
    }
    size_t countType(uint32_t t, int32_t handle = -2) {
        size_t n = 0;
        for (auto& e : reg)
            if (e.dataType == t && (handle == -2 || e.handle == handle)) ++n;
        return n;
    }
};
Recorder* g_rec = nullptr;

std::string field(const char* p, size_t cap) { return std::string(p, strnlen(p, cap)); }

VEXA_BOOL regCb(int32_t handle, uint32_t type, void* out, uint32_t outLen, void* in, uint32_t inLen, void*) {
    Recorder& r = *g_rec;
    RegEvent e{handle, type, {}, {}, {}, 0, {}, {}, 0, {}};
    if (out && outLen == sizeof(VEXA_CMS_DEV_REG_INFO)) {
        auto* i = static_cast<VEXA_CMS_DEV_REG_INFO*>(out);
        e.deviceId = field(i->szDeviceID, sizeof i->szDeviceID);
        e.deviceIp = field(i->szDeviceIP, sizeof i->szDeviceIP);
        e.serverAddress = field(i->szServerAddress, sizeof i->szServerAddress);
        e.serverPort = i->wServerPort;
        e.sessionKey = field(i->szSessionKey, sizeof i->szSessionKey);
        e.companion = field(i->szCompanion, sizeof i->szCompanion);
        e.protocol = i->byDevProtocolVersion;
        e.shortSerial = field(i->szShortSerial, sizeof i->szShortSerial);
    }
    VEXA_BOOL result = 1;
    bool blocking = false;
    {
        std::lock_guard<std::mutex> lk(r.mu);
        switch (type) {
        case VEXA_CMS_DAS_REQ: {
            auto* a = static_cast<VEXA_CMS_DAS_ANSWER*>(in);
            EXPECT_EQ(inLen, 512u);
            strcpy(a->szAddress, "10.1.2.3");
            a->wPort = 7661;
            strcpy(a->szDomain, "vexa.example");
            strcpy(a->szServerID, "das_1");
            break;
        }
        case VEXA_CMS_DEV_AUTH: {
            auto it = r.keys.find(e.deviceId);
            if (it == r.keys.end()) {
                result = 0;
            } else {
                EXPECT_EQ(inLen, 256u);
                strncpy(static_cast<char*>(in), it->second.c_str(), inLen - 1);
            }
            break;
        }
        case VEXA_CMS_DEV_ON: {
            auto* a = static_cast<VEXA_CMS_LOGIN_ANSWER*>(in);
            EXPECT_EQ(a->dwKeepAliveSec, 30u);  // library defaults
            EXPECT_EQ(a->dwAlarmTimeOutCount, 3u);
            a->dwKeepAliveSec = r.keepAlive;
            a->dwTimeOutCount = r.count;
            a->dwAlarmKeepAliveSec = 20;
            a->dwAlarmTimeOutCount = 4;
            a->pAlarmServer->dwEnable = 1;
            a->pAlarmServer->dwAlarmType = 1;
            strcpy(a->pAlarmServer->szAddress, "192.0.2.7");
            a->pAlarmServer->wPort = 7332;
            a->pStorageServer->dwEnable = 1;
            strcpy(a->pStorageServer->szAccessKey, "ak");
            strcpy(a->pStorageServer->szSecretKey, "sk");
            result = r.refuseLogin ? 0 : 1;
            break;
        }
        case VEXA_CMS_DEV_DAS_PINGREO:
            blocking = r.blockingCallInHeartbeat;
            break;
        default:
            break;
        }
    }
    if (blocking) {
        // A synchronous call from a library thread must refuse instead of deadlocking.
        char out2[16];
        VEXA_CMS_PASSTHROUGH p{};
        p.pUrl = "GET /x";
        p.dwUrlLen = 6;
        p.pOutput = out2;
        p.dwOutputSize = sizeof out2;
        const VEXA_BOOL ok = VEXA_CMS_OVIXPassThrough(handle, &p);
        std::lock_guard<std::mutex> lk(r.mu);
        r.heartbeatCallError = ok ? 0 : VEXA_CMS_GetLastError();
    }
    std::lock_guard<std::mutex> lk(r.mu);
    r.reg.push_back(e);
    r.cv.notify_all();
    return result;
}

void excCb(const VEXA_CMS_EXCEPTION* e, void*) {
    std::lock_guard<std::mutex> lk(g_rec->mu);
    g_rec->exc.push_back(*e);
    g_rec->cv.notify_all();
}

void asyncCb(const VEXA_CMS_ASYNC_ANSWER* a, void*) {
    AsyncEvent e{a->lUserHandle, a->dwAsyncHandle, a->dwDataType, a->dwErrorNo, {}, {}};
    if (a->dwDataType == 7 && a->pData) {
        auto* l = static_cast<const VEXA_CMS_LIST_ANSWER*>(a->pData);
        for (uint32_t i = 0; i < l->dwCount; ++i)
            e.list.push_back(l->pEntries[i].pText ? std::string(l->pEntries[i].pText, l->pEntries[i].dwTextLen)
                                                  : "<null>");
    } else if (a->pData) {
        e.text.assign(static_cast<const char*>(a->pData), a->dwDataLen);
    }
    std::lock_guard<std::mutex> lk(g_rec->mu);
    g_rec->async.push_back(e);
    g_rec->cv.notify_all();
}

VEXA_BOOL msgCb(int32_t, uint32_t, VEXA_CMS_MSG* m, void*) {
    std::string s = std::to_string(m->dwMsgType) + "|" + field(m->szDomain, 64) + "|" + field(m->szIdentifier, 64);
    if (m->dwMsgType == 2 && m->pData) {
        EXPECT_EQ(m->dwDataLen, sizeof(VEXA_ALARM_MSG));
        auto* a = static_cast<VEXA_ALARM_MSG*>(m->pData);
        s += "|" + std::to_string(a->byAlarmType) + "|" + std::to_string(a->byDataType) + "|" +
             field(a->szDeviceID, 256) + "|" + std::string(static_cast<char*>(a->pXmlBuf), a->dwXmlBufLen);
    }
    std::lock_guard<std::mutex> lk(g_rec->mu);
    g_rec->msgs.push_back(s);
    g_rec->cv.notify_all();
    return 1;
}

class CmsTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("VEXA_SDK_LOGIN_TIMEOUT_MS", "1500", 1);
        g_rec = &m_rec;
        ASSERT_TRUE(VEXA_CMS_Init());
        ASSERT_TRUE(VEXA_CMS_Init());  // a second Init is harmless
        uint32_t on = 1;
        ASSERT_TRUE(VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK, &on));
        VEXA_CMS_EXCEPTION_PARAM ep{};
        ep.fnCB = excCb;
        ASSERT_TRUE(VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_EXCEPTION_CALLBACK, &ep));
        ASSERT_TRUE(VEXA_CMS_SetInterfaceAsync(0, asyncCb, nullptr));
        VEXA_CMS_MSG_CB_PARAM mp{};
        mp.fnCB = msgCb;
        ASSERT_TRUE(VEXA_CMS_SubscribeMsg(0, &mp));
        VEXA_CMS_LISTEN_PARAM lp{};
        strcpy(lp.szIP, "127.0.0.1");
        lp.fnCB = regCb;
        m_listen = VEXA_CMS_StartListen(&lp);
        ASSERT_GE(m_listen, 0);
        m_port = VEXA_CMS_GetListenPort(m_listen);
        ASSERT_NE(m_port, 0);
    }
    void TearDown() override {
        if (m_listen >= 0) VEXA_CMS_StopListen(m_listen);
        VEXA_CMS_Fini();
        g_rec = nullptr;
    }

    void addKey(const std::string& id, const std::string& key) {
        std::lock_guard<std::mutex> lk(m_rec.mu);
        m_rec.keys[id] = key;
    }

    // hello/challenge/auth; returns the challenge nonce.
    std::string hello(TestClient& c, const std::string& id, int proto) {
        EXPECT_TRUE(c.connect(m_port));
        Json::Value h = frame("hello");
        h["deviceId"] = id;
        h["protocolVersion"] = proto;
        h["serial"] = "SER-" + id;
        h["shortSerial"] = "AB1234567890";
        h["firmware"] = "V1.0";
        c.send(h);
        Json::Value ch = c.expect("challenge");
        return ch["nonce"].asString();
    }

    // Full login; returns the user handle or -1.
    int32_t login(TestClient& c, const std::string& id, const std::string& key = "k3y", int proto = 2) {
        addKey(id, key);
        const std::string nonce = hello(c, id, proto);
        Json::Value a = frame("auth");
        a["proof"] = vexawire::hmacSha256Hex(key, nonce);
        c.send(a);
        Json::Value ack = c.expect("loginAck");
        return ack.isMember("userHandle") ? ack["userHandle"].asInt() : -1;
    }

    bool heartbeatWorks(TestClient& c) {
        c.send(frame("heartbeat"));
        return !c.expect("heartbeatAck").isNull();
    }

    Recorder m_rec;
    int32_t m_listen = -1;
    uint16_t m_port = 0;
};

TEST_F(CmsTest, FullRegistrationFlow) {
    const std::string id = "dev-full";
    addKey(id, "secret");
    TestClient c;
    ASSERT_TRUE(c.connect(m_port));
    Json::Value das = frame("dasRequest");
    das["deviceId"] = id;
    das["serverAddress"] = "198.51.100.1";
    das["serverPort"] = 7660;
    c.send(das);
    Json::Value da = c.expect("dasAnswer");
    EXPECT_EQ(da["address"].asString(), "10.1.2.3");
    EXPECT_EQ(da["port"].asInt(), 7661);
    EXPECT_EQ(da["domain"].asString(), "vexa.example");
    EXPECT_EQ(da["serverId"].asString(), "das_1");
    c.close();

    TestClient d;
    const std::string nonce = hello(d, id, 4);
    ASSERT_EQ(nonce.size(), 32u);
    Json::Value a = frame("auth");
    a["proof"] = vexawire::hmacSha256Hex("secret", nonce);
    d.send(a);
    Json::Value sk = d.expect("sessionKey");
    ASSERT_EQ(sk["key"].asString().size(), 64u);
    ASSERT_EQ(sk["companion"].asString().size(), 32u);
    Json::Value ack = d.expect("loginAck");
    ASSERT_FALSE(ack.isNull());
    const int32_t h = ack["userHandle"].asInt();
    EXPECT_GE(h, 0);
    EXPECT_EQ(ack["keepAliveSec"].asUInt(), 30u);
    EXPECT_EQ(ack["alarmKeepAliveSec"].asUInt(), 20u);
    EXPECT_EQ(ack["alarmTimeoutCount"].asUInt(), 4u);
    EXPECT_EQ(ack["alarmServer"]["address"].asString(), "192.0.2.7");
    EXPECT_EQ(ack["alarmServer"]["port"].asUInt(), 7332u);
    EXPECT_EQ(ack["alarmServer"]["alarmType"].asUInt(), 1u);
    EXPECT_EQ(ack["storageServer"]["accessKey"].asString(), "ak");
    EXPECT_EQ(ack["storageServer"]["secretKey"].asString(), "sk");

    ASSERT_TRUE(heartbeatWorks(d));
    d.send(frame("logout"));
    EXPECT_TRUE(d.waitClosed());
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.countType(VEXA_CMS_DEV_OFF, h) == 1; }));

    std::lock_guard<std::mutex> lk(m_rec.mu);
    std::vector<uint32_t> order;
    for (auto& e : m_rec.reg) order.push_back(e.dataType);
    EXPECT_EQ(order, (std::vector<uint32_t>{13, 3, 4, 0, 8, 1}));
    const RegEvent& dasEv = m_rec.reg[0];
    EXPECT_EQ(dasEv.deviceId, id);
    EXPECT_EQ(dasEv.serverAddress, "198.51.100.1");
    EXPECT_EQ(dasEv.serverPort, 7660);
    const RegEvent& keyEv = m_rec.reg[2];
    EXPECT_EQ(keyEv.sessionKey, sk["key"].asString());
    EXPECT_EQ(keyEv.companion, sk["companion"].asString());
    const RegEvent& on = m_rec.reg[3];
    EXPECT_EQ(on.handle, h);
    EXPECT_EQ(on.deviceIp, "127.0.0.1");
    EXPECT_EQ(on.protocol, 4);
    EXPECT_EQ(on.shortSerial, "AB1234567890");
    EXPECT_TRUE(m_rec.exc.empty());  // a logout is no exception
}

TEST_F(CmsTest, HandlesAreNotReusedAcrossLogins) {
    std::vector<int32_t> seen;
    for (int i = 0; i < 3; ++i) {
        TestClient c;
        const int32_t h = login(c, "dev-h");
        ASSERT_GE(h, 0);
        for (int32_t s : seen) EXPECT_NE(s, h);
        seen.push_back(h);
        c.send(frame("logout"));
        ASSERT_TRUE(c.waitClosed());
    }
}

TEST_F(CmsTest, LoginRefusals) {
    struct Case {
        const char* name;
        bool knownDevice;
        bool rightProof;
        bool refuseLogin;
        const char* reason;
        int extraType;  // callback that must follow the auth request, -1 none
    };
    const Case cases[] = {
        {"wrong proof", true, false, false, "key", VEXA_CMS_DEV_SESSIONKEY_ERROR},
        {"auth refused", false, true, false, "auth", -1},
        {"login refused", true, true, true, "login", VEXA_CMS_DEV_ON},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        const std::string id = std::string("dev-") + tc.reason;
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.reg.clear();
            m_rec.refuseLogin = tc.refuseLogin;
            if (tc.knownDevice) m_rec.keys[id] = "good";
        }
        TestClient c;
        const std::string nonce = hello(c, id, 2);
        Json::Value a = frame("auth");
        a["proof"] = vexawire::hmacSha256Hex(tc.rightProof ? "good" : "bad", nonce);
        c.send(a);
        Json::Value r = c.expect("refused");
        EXPECT_EQ(r["reason"].asString(), tc.reason);
        EXPECT_TRUE(c.waitClosed());
        std::lock_guard<std::mutex> lk(m_rec.mu);
        ASSERT_GE(m_rec.reg.size(), 1u);
        EXPECT_EQ(m_rec.reg[0].dataType, (uint32_t)VEXA_CMS_DEV_AUTH);
        if (tc.extraType >= 0) {
            ASSERT_EQ(m_rec.reg.size(), 2u);
            EXPECT_EQ(m_rec.reg[1].dataType, uint32_t(tc.extraType));
        } else {
            EXPECT_EQ(m_rec.reg.size(), 1u);
        }
        EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF), 0u);
    }
}

TEST_F(CmsTest, SessionEndsRaiseOffAndException) {
    struct Case {
        const char* name;
        bool silent;  // else: abrupt close
        uint32_t excType;
    };
    for (const Case& tc : {Case{"heartbeat time-out", true, 1}, Case{"connection lost", false, 2}}) {
        SCOPED_TRACE(tc.name);
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.keepAlive = 1;
            m_rec.count = 1;
            m_rec.exc.clear();
        }
        TestClient c;
        const int32_t h = login(c, std::string("dev-end-") + std::to_string(tc.excType));
        ASSERT_GE(h, 0);
        if (tc.silent) {
            EXPECT_TRUE(c.waitClosed());
        } else {
            c.close();
        }
        ASSERT_TRUE(m_rec.waitFor([&] { return !m_rec.exc.empty(); }, 10000));
        std::lock_guard<std::mutex> lk(m_rec.mu);
        EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF, h), 1u);
        EXPECT_EQ(m_rec.exc[0].dwType, tc.excType);
        EXPECT_EQ(m_rec.exc[0].lUserHandle, h);
    }
}

TEST_F(CmsTest, ForceLogoutClosesWithoutCallback) {
    TestClient c;
    const int32_t h = login(c, "dev-force");
    ASSERT_GE(h, 0);
    ASSERT_TRUE(VEXA_CMS_ForceLogout(h));
    EXPECT_FALSE(c.expect("forcedLogout").isNull());
    EXPECT_TRUE(c.waitClosed());
    EXPECT_FALSE(VEXA_CMS_ForceLogout(h));
    EXPECT_EQ(VEXA_CMS_GetLastError(), VEXA_SDK_ERR_NO_SESSION);
    EXPECT_FALSE(VEXA_CMS_SetKeepAliveTime(h, 10, 3));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF), 0u);
    EXPECT_TRUE(m_rec.exc.empty());
}

TEST_F(CmsTest, DuplicateLoginDropsOldConnectionSilently) {
    TestClient first, second;
    const int32_t h1 = login(first, "dev-dup");
    ASSERT_GE(h1, 0);
    const int32_t h2 = login(second, "dev-dup");
    ASSERT_GE(h2, 0);
    EXPECT_NE(h1, h2);
    EXPECT_TRUE(first.waitClosed());
    EXPECT_TRUE(heartbeatWorks(second));
    EXPECT_FALSE(VEXA_CMS_ForceLogout(h1));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF), 0u);
    EXPECT_TRUE(m_rec.exc.empty());
}

std::string lengthPrefix(uint32_t n) { return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)}; }

TEST_F(CmsTest, MalformedFramesCloseOnlyThatConnection) {
    TestClient good;
    const int32_t hGood = login(good, "dev-good");
    ASSERT_GE(hGood, 0);
    struct Case {
        const char* name;
        std::string bytes;
        bool afterLogin;
    };
    auto body = [](const std::string& b) { return lengthPrefix(uint32_t(b.size())) + b; };
    const Case cases[] = {
        {"length 0", lengthPrefix(0), false},
        {"length above 1 MiB", lengthPrefix(1048577) + "{}", false},
        {"not JSON", body("{type: hello"), false},
        {"JSON array", body("[\"hello\"]"), false},
        {"no type", body("{\"deviceId\":\"x\"}"), false},
        {"type not a string", body("{\"type\":7}"), false},
        {"deep nesting", body(std::string(5000, '[') + std::string(5000, ']')), false},
        {"bad frame after login", body("{\"type\":"), true},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        TestClient bad;
        if (tc.afterLogin) {
            ASSERT_GE(login(bad, "dev-bad"), 0);
        } else {
            ASSERT_TRUE(bad.connect(m_port));
        }
        bad.sendRaw(tc.bytes);
        EXPECT_TRUE(bad.waitClosed());
        EXPECT_TRUE(heartbeatWorks(good));
    }
    // Only the session that broke mid-stream went off line.
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.exc.size() == 1; }));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF), 1u);
    EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF, hGood), 0u);
    EXPECT_EQ(m_rec.exc[0].dwType, 2u);
}

TEST_F(CmsTest, ProtocolViolationsAreRefused) {
    struct Case {
        const char* name;
        Json::Value first;
    };
    Json::Value noId = frame("hello");
    noId["protocolVersion"] = 2;
    Json::Value badVer = frame("hello");
    badVer["deviceId"] = "x";
    badVer["protocolVersion"] = "2";
    Json::Value longId = frame("hello");
    longId["deviceId"] = std::string(300, 'a');
    longId["protocolVersion"] = 2;
    const Case cases[] = {
        {"hello without deviceId", noId},
        {"protocolVersion as text", badVer},
        {"deviceId too long", longId},
        {"heartbeat before login", frame("heartbeat")},
        {"auth before hello", frame("auth")},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        TestClient c;
        ASSERT_TRUE(c.connect(m_port));
        c.send(frame("noSuchFrame"));  // unknown types are ignored
        c.send(tc.first);
        EXPECT_EQ(c.expect("refused")["reason"].asString(), "protocol");
        EXPECT_TRUE(c.waitClosed());
    }
}

TEST_F(CmsTest, SilentConnectionIsClosed) {
    TestClient c;
    ASSERT_TRUE(c.connect(m_port));
    EXPECT_TRUE(c.waitClosed(20000));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_TRUE(m_rec.reg.empty());
}

VEXA_CMS_CONFIG_REQ configReq(const char* body) {
    VEXA_CMS_CONFIG_REQ r{};
    strcpy(r.szDomain, "sec");
    strcpy(r.szIdentifier, "zone");
    strcpy(r.szTarget, "t1");
    r.pBody = const_cast<char*>(body);
    r.dwBodyLen = body ? uint32_t(strlen(body)) : 0;
    return r;
}

TEST_F(CmsTest, AsyncAnswersAreRoutedBySeq) {
    TestClient c;
    const int32_t h = login(c, "dev-cfg");
    ASSERT_GE(h, 0);
    auto r1 = configReq("{\"a\":1}");
    auto r2 = configReq(nullptr);
    ASSERT_TRUE(VEXA_CMS_ConfigDev(h, VEXA_CMS_CONFIG_VALUE, &r1, VEXA_CMS_RECORD_MODEL));
    ASSERT_TRUE(VEXA_CMS_ConfigDev(h, VEXA_CMS_CONFIG_READ, &r2, VEXA_CMS_RECORD_MODEL));
    VEXA_CMS_FERRO_REQ f{};
    f.pCommand = "GETSTATE";
    f.dwCommandLen = 8;
    ASSERT_TRUE(VEXA_CMS_ConfigDev(h, 0, &f, VEXA_CMS_RECORD_FERRO));
    EXPECT_NE(r1.dwAsyncHandle, 0u);
    EXPECT_NE(r1.dwAsyncHandle, r2.dwAsyncHandle);

    Json::Value q1 = c.expect("config"), q2 = c.expect("config"), q3 = c.expect("ferro");
    EXPECT_EQ(q1["seq"].asUInt(), r1.dwAsyncHandle);
    EXPECT_EQ(q1["body"].asString(), "{\"a\":1}");
    EXPECT_EQ(q1["configType"].asUInt(), 1u);
    EXPECT_EQ(q1["domain"].asString(), "sec");
    EXPECT_EQ(q1["target"].asString(), "t1");
    EXPECT_EQ(q2["body"].asString(), "");
    EXPECT_EQ(q3["command"].asString(), "GETSTATE");

    // Answers out of order, one unknown seq, one list with a null entry.
    auto answer = [&](const char* type, const Json::Value& seq, int error, const char* key, const Json::Value& v) {
        Json::Value a = frame(type);
        a["seq"] = seq;
        a["error"] = error;
        a[key] = v;
        c.send(a);
    };
    Json::Value list(Json::arrayValue);
    list.append("x"), list.append(Json::Value()), list.append("z");
    answer("configAnswer", 999999, 0, "data", "stray");
    answer("ferroAnswer", q3["seq"], 0, "data", "STATE=1");
    answer("configAnswer", q2["seq"], 0, "list", list);
    answer("configAnswer", q1["seq"], 5, "data", "denied");
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.async.size() == 3; }));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.async[0].seq, q3["seq"].asUInt());
    EXPECT_EQ(m_rec.async[0].text, "STATE=1");
    EXPECT_EQ(m_rec.async[1].seq, r2.dwAsyncHandle);
    EXPECT_EQ(m_rec.async[1].dataType, 7u);
    EXPECT_EQ(m_rec.async[1].list, (std::vector<std::string>{"x", "<null>", "z"}));
    EXPECT_EQ(m_rec.async[2].seq, r1.dwAsyncHandle);
    EXPECT_EQ(m_rec.async[2].dataType, 0u);
    EXPECT_EQ(m_rec.async[2].error, 5u);
    EXPECT_EQ(m_rec.async[2].text, "denied");
    for (auto& e : m_rec.async) EXPECT_EQ(e.handle, h);
}

TEST_F(CmsTest, SessionEndCompletesPendingRequests) {
    TestClient c;
    const int32_t h = login(c, "dev-gone");
    ASSERT_GE(h, 0);
    auto r1 = configReq("x");
    ASSERT_TRUE(VEXA_CMS_ConfigDev(h, VEXA_CMS_CONFIG_DATA, &r1, VEXA_CMS_RECORD_MODEL));
    ASSERT_FALSE(c.expect("config").isNull());
    c.close();
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.async.size() == 1; }));
    {
        std::lock_guard<std::mutex> lk(m_rec.mu);
        EXPECT_EQ(m_rec.async[0].seq, r1.dwAsyncHandle);
        EXPECT_EQ(m_rec.async[0].error, VEXA_SDK_ERR_GONE);
    }
    EXPECT_FALSE(VEXA_CMS_ConfigDev(h, 0, &r1, VEXA_CMS_RECORD_MODEL));
    EXPECT_EQ(VEXA_CMS_GetLastError(), VEXA_SDK_ERR_NO_SESSION);
}

TEST_F(CmsTest, PassThroughOutcomes) {
    TestClient c;
    const int32_t h = login(c, "dev-ovix");
    ASSERT_GE(h, 0);
    struct Case {
        const char* name;
        bool answer;
        uint32_t error;
        std::string body;
        uint32_t outSize;
        bool ok;
        uint32_t lastError;
    };
    const Case cases[] = {
        {"success", true, 0, "<ok/>", 64, true, VEXA_SDK_ERR_NONE},
        {"exact fit", true, 0, "12345678", 8, true, VEXA_SDK_ERR_NONE},
        {"device error", true, 3, "<bad/>", 64, false, VEXA_SDK_ERR_DEVICE},
        {"buffer too small", true, 0, "0123456789", 4, false, VEXA_SDK_ERR_BUFFER},
        {"no answer", false, 0, "", 64, false, VEXA_SDK_ERR_TIMEOUT},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        std::vector<char> out(tc.outSize + 1, '#');
        VEXA_CMS_PASSTHROUGH p{};
        p.pUrl = "PUT /OVIX/System/time";
        p.dwUrlLen = uint32_t(strlen(p.pUrl));
        p.pBody = "<Time/>";
        p.dwBodyLen = 7;
        p.pOutput = out.data();
        p.dwOutputSize = tc.outSize;
        p.dwSendTimeOut = tc.answer ? 20000 : 300;
        auto fut = std::async(std::launch::async, [&] {
            const VEXA_BOOL r = VEXA_CMS_OVIXPassThrough(h, &p);
            return std::make_pair(r, VEXA_CMS_GetLastError());
        });
        Json::Value q = c.expect("ovix");
        EXPECT_EQ(q["request"].asString(), "PUT /OVIX/System/time");
        EXPECT_EQ(q["body"].asString(), "<Time/>");
        if (tc.answer) {
            Json::Value a = frame("ovixAnswer");
            a["seq"] = q["seq"];
            a["error"] = tc.error;
            a["body"] = tc.body;
            c.send(a);
        }
        const auto res = fut.get();
        EXPECT_EQ(res.first != 0, tc.ok);
        EXPECT_EQ(res.second, tc.lastError);
        if (tc.ok) {
            EXPECT_EQ(p.dwOutputSize, tc.body.size());
            EXPECT_EQ(std::string(out.data(), p.dwOutputSize), tc.body);
        }
        EXPECT_EQ(out[tc.outSize], '#');  // nothing written past the buffer
    }
    // A late answer for the timed-out request is dropped and the session stays usable.
    EXPECT_TRUE(heartbeatWorks(c));
}

TEST_F(CmsTest, SyncCallsFailWhenSessionEndsOrOnLibraryThread) {
    TestClient c;
    const int32_t h = login(c, "dev-sync");
    ASSERT_GE(h, 0);
    VEXA_CMS_TALK_PARAM t{};
    auto fut = std::async(std::launch::async, [&] {
        const VEXA_BOOL r = VEXA_CMS_GetDevConfig(h, 1, &t, sizeof t);
        return std::make_pair(r, VEXA_CMS_GetLastError());
    });
    Json::Value q = c.expect("getConfig");
    EXPECT_EQ(q["command"].asInt(), 1);
    Json::Value a = frame("getConfigAnswer");
    a["seq"] = q["seq"];
    a["error"] = 0;
    a["audioCodec"] = 2;
    c.send(a);
    auto res = fut.get();
    EXPECT_TRUE(res.first);
    EXPECT_EQ(t.dwAudioCodec, 2u);

    auto gone = std::async(std::launch::async, [&] {
        const VEXA_BOOL r = VEXA_CMS_GetDevConfig(h, 1, &t, sizeof t);
        return std::make_pair(r, VEXA_CMS_GetLastError());
    });
    ASSERT_FALSE(c.expect("getConfig").isNull());
    c.close();
    res = gone.get();
    EXPECT_FALSE(res.first);
    EXPECT_EQ(res.second, VEXA_SDK_ERR_GONE);

    {
        std::lock_guard<std::mutex> lk(m_rec.mu);
        m_rec.blockingCallInHeartbeat = true;
    }
    TestClient d;
    ASSERT_GE(login(d, "dev-sync2"), 0);
    EXPECT_TRUE(heartbeatWorks(d));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.heartbeatCallError, VEXA_SDK_ERR_WOULD_BLOCK);
}

TEST_F(CmsTest, ModelAlarmMessageReachesSubscription) {
    TestClient c;
    ASSERT_GE(login(c, "dev-msg"), 0);
    Json::Value m = frame("message");
    m["messageType"] = 2;
    m["domain"] = "alarm";
    m["identifier"] = std::string(100, 'i');  // cut to the field
    m["alarmType"] = 2;
    m["dataType"] = 1;
    m["alarm"] = "{\"event\":\"zone\"}";
    c.send(m);
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.msgs.size() == 1; }));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.msgs[0], "2|alarm|" + std::string(63, 'i') + "|2|1|dev-msg|{\"event\":\"zone\"}");
}

TEST_F(CmsTest, StopListenEndsSessionsWithoutCallbacks) {
    TestClient c;
    const int32_t h = login(c, "dev-stop");
    ASSERT_GE(h, 0);
    ASSERT_TRUE(VEXA_CMS_StopListen(m_listen));
    EXPECT_TRUE(c.waitClosed());
    EXPECT_FALSE(VEXA_CMS_StopListen(m_listen));
    m_listen = -1;
    EXPECT_FALSE(VEXA_CMS_ForceLogout(h));
    TestClient late;
    EXPECT_FALSE(late.connect(m_port));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF), 0u);
    EXPECT_TRUE(m_rec.exc.empty());
}

TEST(CmsApi, ParameterAndLifecycleErrors) {
    EXPECT_TRUE(VEXA_CMS_Fini());  // without Init
    VEXA_CMS_LISTEN_PARAM lp{};
    lp.fnCB = regCb;
    EXPECT_EQ(VEXA_CMS_StartListen(&lp), -1);
    EXPECT_EQ(VEXA_CMS_GetLastError(), VEXA_SDK_ERR_NOT_INIT);
    ASSERT_TRUE(VEXA_CMS_Init());
    EXPECT_EQ(VEXA_CMS_StartListen(nullptr), -1);
    strcpy(lp.szIP, "not-an-address");
    EXPECT_EQ(VEXA_CMS_StartListen(&lp), -1);
    EXPECT_FALSE(VEXA_CMS_SetSDKLocalCfg(5, &lp));
    EXPECT_EQ(VEXA_CMS_GetLastError(), VEXA_SDK_ERR_PARAM);
    EXPECT_FALSE(VEXA_CMS_SetSDKLocalCfg(1, nullptr));
    char buf[128];
    ASSERT_TRUE(VEXA_CMS_GetSevrSessionId(buf, sizeof buf));
    std::string first = buf;
    ASSERT_TRUE(VEXA_CMS_GetSevrSessionId(buf, sizeof buf));
    EXPECT_NE(first, buf);
    EXPECT_EQ(first.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_FALSE(VEXA_CMS_GetSevrSessionId(buf, 3));
    VEXA_CMS_CONFIG_REQ r{};
    EXPECT_FALSE(VEXA_CMS_ConfigDev(12345, 0, &r, VEXA_CMS_RECORD_MODEL));
    EXPECT_EQ(VEXA_CMS_GetLastError(), VEXA_SDK_ERR_NO_SESSION);
    EXPECT_TRUE(VEXA_CMS_Fini());
    EXPECT_TRUE(VEXA_CMS_Fini());
}

}  // namespace
