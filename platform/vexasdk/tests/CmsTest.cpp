// VEXACMS over loopback: registration, supervision, bad input, requests.
#include "VexaCmsSdk.h"

#include "TestClient.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace {

std::string field(const char* p, size_t cap) { return std::string(p, strnlen(p, cap)); }

Json::Value msg(const char* type, std::initializer_list<std::pair<const char*, Json::Value>> members) {
    Json::Value m = frame(type);
    for (const auto& kv : members) m[kv.first] = kv.second;
    return m;
}

struct RegEvent {
    int32_t handle;
    uint32_t dataType;
    std::string deviceId, deviceIp, serverAddress, sessionKey, companion, shortSerial;
    uint16_t serverPort;
    uint8_t protocol;
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
    bool refuseLogin = false, blockingCallInHeartbeat = false;
    uint32_t keepAlive = 30, count = 3, heartbeatCallError = 0;

    template <class P>
    bool waitFor(P pred, int ms = 5000) {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::milliseconds(ms), pred);
    }
    template <class T>
    void push(std::vector<T>& v, T e) {
        std::lock_guard<std::mutex> lk(mu);
        v.push_back(std::move(e));
        cv.notify_all();
    }
    size_t countType(uint32_t t, int32_t handle = -2) {
        size_t n = 0;
        for (auto& e : reg) n += e.dataType == t && (handle == -2 || e.handle == handle);
        return n;
    }
    // Waits until `n` registration callbacks of type `t` (for `handle`) were seen.
    bool waitType(uint32_t t, int32_t handle = -2, size_t n = 1) {
        return waitFor([&] { return countType(t, handle) == n; });
    }
    // Callbacks that a deliberate or library-side close must not raise.
    void expectNoOffNoException() {
        std::lock_guard<std::mutex> lk(mu);
        EXPECT_EQ(countType(VEXA_CMS_DEV_OFF), 0u);
        EXPECT_TRUE(exc.empty());
    }
};
Recorder* g_rec = nullptr;

VEXA_CMS_PASSTHROUGH passThrough(const char* url, const char* body, char* out, uint32_t outSize) {
    VEXA_CMS_PASSTHROUGH p{};
    p.pUrl = url, p.dwUrlLen = uint32_t(strlen(url));
    p.pBody = body, p.dwBodyLen = body ? uint32_t(strlen(body)) : 0;
    p.pOutput = out, p.dwOutputSize = outSize;
    return p;
}

VEXA_BOOL regCb(int32_t handle, uint32_t type, void* out, uint32_t outLen, void* in, uint32_t inLen, void*) {
    Recorder& r = *g_rec;
    RegEvent e{handle, type, {}, {}, {}, {}, {}, {}, 0, 0};
    if (out && outLen == sizeof(VEXA_CMS_DEV_REG_INFO)) {
        auto* i = static_cast<VEXA_CMS_DEV_REG_INFO*>(out);
        e = {handle, type, field(i->szDeviceID, sizeof i->szDeviceID), field(i->szDeviceIP, sizeof i->szDeviceIP),
             field(i->szServerAddress, sizeof i->szServerAddress), field(i->szSessionKey, sizeof i->szSessionKey),
             field(i->szCompanion, sizeof i->szCompanion), field(i->szShortSerial, sizeof i->szShortSerial),
             i->wServerPort, i->byDevProtocolVersion};
    }
    VEXA_BOOL result = 1;
    bool blocking = false;
    {
        std::lock_guard<std::mutex> lk(r.mu);
        if (type == VEXA_CMS_DAS_REQ) {
            auto* a = static_cast<VEXA_CMS_DAS_ANSWER*>(in);
            EXPECT_EQ(inLen, 512u);
            strcpy(a->szAddress, "10.1.2.3"), strcpy(a->szDomain, "vexa.example"), strcpy(a->szServerID, "das_1");
            a->wPort = 7661;
        } else if (type == VEXA_CMS_DEV_AUTH) {
            auto it = r.keys.find(e.deviceId);
            result = it != r.keys.end();
            if (result) {
                EXPECT_EQ(inLen, 256u);
                strncpy(static_cast<char*>(in), it->second.c_str(), inLen - 1);
            }
        } else if (type == VEXA_CMS_DEV_ON) {
            auto* a = static_cast<VEXA_CMS_LOGIN_ANSWER*>(in);
            EXPECT_EQ(a->dwKeepAliveSec, 30u);  // library defaults
            EXPECT_EQ(a->dwAlarmTimeOutCount, 3u);
            a->dwKeepAliveSec = r.keepAlive, a->dwTimeOutCount = r.count;
            a->dwAlarmKeepAliveSec = 20, a->dwAlarmTimeOutCount = 4;
            a->pAlarmServer->dwEnable = a->pAlarmServer->dwAlarmType = a->pStorageServer->dwEnable = 1;
            strcpy(a->pAlarmServer->szAddress, "192.0.2.7");
            a->pAlarmServer->wPort = 7332;
            strcpy(a->pStorageServer->szAccessKey, "ak"), strcpy(a->pStorageServer->szSecretKey, "sk");
            result = !r.refuseLogin;
        } else if (type == VEXA_CMS_DEV_DAS_PINGREO) {
            blocking = r.blockingCallInHeartbeat;
        }
    }
    if (blocking) {
        // A synchronous call from a library thread must refuse instead of deadlocking.
        char out2[16];
        VEXA_CMS_PASSTHROUGH p = passThrough("GET /x", nullptr, out2, sizeof out2);
        const VEXA_BOOL ok = VEXA_CMS_OVIXPassThrough(handle, &p);
        std::lock_guard<std::mutex> lk(r.mu);
        r.heartbeatCallError = ok ? 0 : VEXA_CMS_GetLastError();
    }
    r.push(r.reg, e);
    return result;
}

void excCb(const VEXA_CMS_EXCEPTION* e, void*) { g_rec->push(g_rec->exc, *e); }

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
    g_rec->push(g_rec->async, e);
}

VEXA_BOOL msgCb(int32_t, uint32_t, VEXA_CMS_MSG* m, void*) {
    std::string s = std::to_string(m->dwMsgType) + "|" + field(m->szDomain, 64) + "|" + field(m->szIdentifier, 64);
    if (m->dwMsgType == 2 && m->pData) {
        EXPECT_EQ(m->dwDataLen, sizeof(VEXA_ALARM_MSG));
        auto* a = static_cast<VEXA_ALARM_MSG*>(m->pData);
        s += "|" + std::to_string(a->byAlarmType) + "|" + std::to_string(a->byDataType) + "|" +
             field(a->szDeviceID, 256) + "|" + std::string(static_cast<char*>(a->pXmlBuf), a->dwXmlBufLen);
    }
    g_rec->push(g_rec->msgs, s);
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
        VEXA_CMS_EXCEPTION_PARAM ep{};
        VEXA_CMS_MSG_CB_PARAM mp{};
        VEXA_CMS_LISTEN_PARAM lp{};
        ep.fnCB = excCb, mp.fnCB = msgCb, lp.fnCB = regCb;
        strcpy(lp.szIP, "127.0.0.1");
        ASSERT_TRUE(VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK, &on));
        ASSERT_TRUE(VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_EXCEPTION_CALLBACK, &ep));
        ASSERT_TRUE(VEXA_CMS_SetInterfaceAsync(0, asyncCb, nullptr));
        ASSERT_TRUE(VEXA_CMS_SubscribeMsg(0, &mp));
        ASSERT_GE(m_listen = VEXA_CMS_StartListen(&lp), 0);
        ASSERT_NE(m_port = VEXA_CMS_GetListenPort(m_listen), 0);
    }
    void TearDown() override {
        if (m_listen >= 0) VEXA_CMS_StopListen(m_listen);
        VEXA_CMS_Fini();
        g_rec = nullptr;
    }

    // connect, hello, challenge, auth with a proof made from `proofKey`; returns the nonce.
    std::string handshake(TestClient& c, const std::string& id, const std::string& proofKey, int proto = 2) {
        EXPECT_TRUE(c.connect(m_port));
        c.send(msg("hello", {{"deviceId", id}, {"protocolVersion", proto}, {"serial", "SER-" + id},
                             {"shortSerial", "AB1234567890"}, {"firmware", "V1.0"}}));
        const std::string nonce = c.expect("challenge")["nonce"].asString();
        c.send(msg("auth", {{"proof", vexawire::hmacSha256Hex(proofKey, nonce)}}));
        return nonce;
    }

    // Full login with a known key; returns the user handle or -1.
    int32_t login(TestClient& c, const std::string& id) {
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.keys[id] = "k3y";
        }
        handshake(c, id, "k3y");
        Json::Value ack = c.expect("loginAck");
        return ack.isMember("userHandle") ? ack["userHandle"].asInt() : -1;
    }

    static void setTimeOut(uint32_t kind, uint32_t ms) {
        VEXA_CMS_SEND_RECV_PARAM_T t{};
        t.dwTimeOut = ms;
        t.dwKind = kind;
        ASSERT_TRUE(VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_SEND_RECV_PARAM, &t));
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
    m_rec.keys[id] = "secret";
    TestClient c;
    ASSERT_TRUE(c.connect(m_port));
    c.send(msg("dasRequest", {{"deviceId", id}, {"serverAddress", "198.51.100.1"}, {"serverPort", 7660}}));
    Json::Value da = c.expect("dasAnswer");
    EXPECT_EQ(da["address"].asString() + " " + da["domain"].asString() + " " + da["serverId"].asString(),
              "10.1.2.3 vexa.example das_1");
    EXPECT_EQ(da["port"].asInt(), 7661);
    c.close();

    TestClient d;
    ASSERT_EQ(handshake(d, id, "secret", 4).size(), 32u);
    Json::Value sk = d.expect("sessionKey");
    ASSERT_EQ(sk["key"].asString().size(), 64u);
    ASSERT_EQ(sk["companion"].asString().size(), 32u);
    Json::Value ack = d.expect("loginAck");
    ASSERT_FALSE(ack.isNull());
    const int32_t h = ack["userHandle"].asInt();
    EXPECT_GE(h, 0);
    const std::vector<uint32_t> nums = {ack["keepAliveSec"].asUInt(), ack["alarmKeepAliveSec"].asUInt(),
                                        ack["alarmTimeoutCount"].asUInt(), ack["alarmServer"]["port"].asUInt(),
                                        ack["alarmServer"]["alarmType"].asUInt()};
    EXPECT_EQ(nums, (std::vector<uint32_t>{30, 20, 4, 7332, 1}));
    EXPECT_EQ(ack["alarmServer"]["address"].asString(), "192.0.2.7");
    EXPECT_EQ(ack["storageServer"]["accessKey"].asString(), "ak");
    EXPECT_EQ(ack["storageServer"]["secretKey"].asString(), "sk");

    ASSERT_TRUE(heartbeatWorks(d));
    d.send(frame("logout"));
    EXPECT_TRUE(d.waitClosed());
    ASSERT_TRUE(m_rec.waitType(VEXA_CMS_DEV_OFF, h));

    std::lock_guard<std::mutex> lk(m_rec.mu);
    std::vector<uint32_t> order;
    for (auto& e : m_rec.reg) order.push_back(e.dataType);
    ASSERT_EQ(order, (std::vector<uint32_t>{13, 3, 4, 0, 8, 1}));
    const RegEvent &das = m_rec.reg[0], &key = m_rec.reg[2], &on = m_rec.reg[3];
    EXPECT_EQ(das.deviceId + "|" + das.serverAddress + "|" + std::to_string(das.serverPort), id + "|198.51.100.1|7660");
    EXPECT_EQ(key.sessionKey + "|" + key.companion, sk["key"].asString() + "|" + sk["companion"].asString());
    EXPECT_EQ(on.handle, h);
    EXPECT_EQ(on.deviceIp + "|" + std::to_string(on.protocol) + "|" + on.shortSerial, "127.0.0.1|4|AB1234567890");
    EXPECT_TRUE(m_rec.exc.empty());  // a logout is no exception
}

TEST_F(CmsTest, HandlesAreNotReusedAcrossLogins) {
    std::vector<int32_t> seen;
    for (int i = 0; i < 3; ++i) {
        TestClient c;
        const int32_t h = login(c, "dev-h");
        ASSERT_GE(h, 0);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), h), 0);
        seen.push_back(h);
        c.send(frame("logout"));
        ASSERT_TRUE(c.waitClosed());
    }
}

TEST_F(CmsTest, LoginRefusals) {
    // extraType: callback that must follow the auth request, -1 none.
    struct Case { bool knownDevice, rightProof, refuseLogin; const char* reason; int extraType; };
    for (const Case& tc : {Case{true, false, false, "key", VEXA_CMS_DEV_SESSIONKEY_ERROR},
                           Case{false, true, false, "auth", -1}, Case{true, true, true, "login", VEXA_CMS_DEV_ON}}) {
        SCOPED_TRACE(tc.reason);
        const std::string id = std::string("dev-") + tc.reason;
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.reg.clear();
            m_rec.refuseLogin = tc.refuseLogin;
            if (tc.knownDevice) m_rec.keys[id] = "good";
        }
        TestClient c;
        handshake(c, id, tc.rightProof ? "good" : "bad");
        EXPECT_EQ(c.expect("refused")["reason"].asString(), tc.reason);
        EXPECT_TRUE(c.waitClosed());
        std::lock_guard<std::mutex> lk(m_rec.mu);
        std::vector<uint32_t> types;
        for (auto& e : m_rec.reg) types.push_back(e.dataType);
        std::vector<uint32_t> want{VEXA_CMS_DEV_AUTH};
        if (tc.extraType >= 0) want.push_back(uint32_t(tc.extraType));
        EXPECT_EQ(types, want);
    }
}

TEST_F(CmsTest, SessionEndsRaiseOffAndException) {
    for (const uint32_t excType : {1u /* heartbeat time-out */, 2u /* connection lost */}) {
        SCOPED_TRACE(excType);
        {
            std::lock_guard<std::mutex> lk(m_rec.mu);
            m_rec.keepAlive = m_rec.count = 1;
            m_rec.exc.clear();
        }
        TestClient c;
        const int32_t h = login(c, "dev-end-" + std::to_string(excType));
        ASSERT_GE(h, 0);
        if (excType == 1) {
            EXPECT_TRUE(c.waitClosed());  // silent device
        } else {
            c.close();
        }
        ASSERT_TRUE(m_rec.waitFor([&] { return !m_rec.exc.empty(); }, 10000));
        std::lock_guard<std::mutex> lk(m_rec.mu);
        EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF, h), 1u);
        EXPECT_EQ(m_rec.exc[0].dwType, excType);
        EXPECT_EQ(m_rec.exc[0].lUserHandle, h);
    }
}

// Force-logout, a duplicate login and StopListen end sessions without an off-line callback or exception.
TEST_F(CmsTest, DeliberateEndsRaiseNoCallbacks) {
    TestClient forced, first, second, stopped, late;
    const int32_t h = login(forced, "dev-force");
    ASSERT_GE(h, 0);
    ASSERT_TRUE(VEXA_CMS_ForceLogout(h));
    EXPECT_FALSE(forced.expect("forcedLogout").isNull());
    EXPECT_TRUE(forced.waitClosed());
    EXPECT_FALSE(VEXA_CMS_ForceLogout(h));
    EXPECT_EQ(VEXA_CMS_GetLastError(), VEXA_SDK_ERR_NO_SESSION);
    EXPECT_FALSE(VEXA_CMS_SetKeepAliveTime(h, 10, 3));
    m_rec.expectNoOffNoException();

    const int32_t h1 = login(first, "dev-dup"), h2 = login(second, "dev-dup");
    ASSERT_GE(h1, 0);
    ASSERT_GE(h2, 0);
    EXPECT_NE(h1, h2);
    EXPECT_TRUE(first.waitClosed());
    EXPECT_TRUE(heartbeatWorks(second));
    EXPECT_FALSE(VEXA_CMS_ForceLogout(h1));
    m_rec.expectNoOffNoException();

    const int32_t hs = login(stopped, "dev-stop");
    ASSERT_GE(hs, 0);
    ASSERT_TRUE(VEXA_CMS_StopListen(m_listen));
    EXPECT_TRUE(stopped.waitClosed());
    EXPECT_TRUE(second.waitClosed());
    EXPECT_FALSE(VEXA_CMS_StopListen(m_listen));
    m_listen = -1;
    EXPECT_FALSE(VEXA_CMS_ForceLogout(hs));
    EXPECT_FALSE(late.connect(m_port));
    m_rec.expectNoOffNoException();
}

std::string lengthPrefix(uint32_t n) { return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)}; }
std::string body(const std::string& b) { return lengthPrefix(uint32_t(b.size())) + b; }

// Bad input closes only the connection it came on; frames that break the protocol are refused first.
TEST_F(CmsTest, BadInputClosesOnlyThatConnection) {
    TestClient good;
    const int32_t hGood = login(good, "dev-good");
    ASSERT_GE(hGood, 0);
    const struct { const char* name; std::string bytes; bool afterLogin, refused; } cases[] = {
        {"length 0", lengthPrefix(0), false, false},
        {"length above 1 MiB", lengthPrefix(1048577) + "{}", false, false},
        {"not JSON", body("{type: hello"), false, false},
        {"JSON array", body("[\"hello\"]"), false, false},
        {"no type", body("{\"deviceId\":\"x\"}"), false, false},
        {"type not a string", body("{\"type\":7}"), false, false},
        {"deep nesting", body(std::string(5000, '[') + std::string(5000, ']')), false, false},
        {"bad frame after login", body("{\"type\":"), true, false},
        {"hello without deviceId", vexawire::encodeFrame(msg("hello", {{"protocolVersion", 2}})), false, true},
        {"protocolVersion as text",
         vexawire::encodeFrame(msg("hello", {{"deviceId", "x"}, {"protocolVersion", "2"}})), false, true},
        {"deviceId too long",
         vexawire::encodeFrame(msg("hello", {{"deviceId", std::string(300, 'a')}, {"protocolVersion", 2}})), false, true},
        {"heartbeat before login", vexawire::encodeFrame(frame("heartbeat")), false, true},
        {"auth before hello", vexawire::encodeFrame(frame("auth")), false, true},
        {"NUL after the object", body(std::string("{\"type\":\"hello\"}\0", 17)), false, false},
        {"NUL inside a text", body(std::string("{\"type\":\"he\0llo\"}", 18)), false, false},
        {"comment after the object", body("{\"type\":\"hello\"}/**/"), false, false},
        {"comment inside", body("{/**/\"type\":\"hello\"}"), false, false},
        {"second value", body("{\"type\":\"hello\"}{}"), false, false},
        {"NUL after login", body(std::string("{\"type\":\"heartbeat\"}\0", 21)), true, false},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        TestClient bad;
        if (tc.afterLogin) {
            ASSERT_GE(login(bad, "dev-bad"), 0);
        } else {
            ASSERT_TRUE(bad.connect(m_port));
        }
        if (tc.refused) bad.send(frame("noSuchFrame"));  // unknown types are ignored
        bad.sendRaw(tc.bytes);
        if (tc.refused) {
            EXPECT_EQ(bad.expect("refused")["reason"].asString(), "protocol");
        }
        EXPECT_TRUE(bad.waitClosed());
        EXPECT_TRUE(heartbeatWorks(good));
    }
    // Only the sessions that broke mid-stream went off line.
    size_t broken = 0;
    for (const auto& tc : cases) broken += tc.afterLogin;
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.exc.size() == broken; }));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF), broken);
    EXPECT_EQ(m_rec.countType(VEXA_CMS_DEV_OFF, hGood), 0u);
    EXPECT_EQ(m_rec.exc[0].dwType, 2u);
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
    auto r1 = configReq("{\"a\":1}"), r2 = configReq(nullptr);
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
    EXPECT_EQ(q1["configType"].asUInt(), 1u);
    EXPECT_EQ(q1["body"].asString() + "|" + q1["domain"].asString() + "|" + q1["target"].asString(),
              "{\"a\":1}|sec|t1");
    EXPECT_EQ(q2["body"].asString(), "");
    EXPECT_EQ(q3["command"].asString(), "GETSTATE");

    // Answers out of order, one unknown seq, one list with a null entry.
    auto answer = [&](const char* type, const Json::Value& seq, int error, const char* key, const Json::Value& v) {
        c.send(msg(type, {{"seq", seq}, {"error", error}, {key, v}}));
    };
    Json::Value list(Json::arrayValue);
    list.append("x"), list.append(Json::Value()), list.append("z");
    answer("configAnswer", 999999, 0, "data", "stray");
    answer("ferroAnswer", q3["seq"], 0, "data", "STATE=1");
    answer("configAnswer", q2["seq"], 0, "list", list);
    answer("configAnswer", q1["seq"], 5, "data", "denied");
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.async.size() == 3; }));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    const auto& a = m_rec.async;
    EXPECT_EQ(a[0].seq, q3["seq"].asUInt());
    EXPECT_EQ(a[0].text, "STATE=1");
    EXPECT_EQ(std::make_pair(a[1].seq, a[1].dataType), std::make_pair(r2.dwAsyncHandle, 7u));
    EXPECT_EQ(a[1].list, (std::vector<std::string>{"x", "<null>", "z"}));
    EXPECT_EQ(std::make_tuple(a[2].seq, a[2].dataType, a[2].error, a[2].text),
              std::make_tuple(r1.dwAsyncHandle, 0u, VEXA_SDK_ERR_DEVICE, std::string("denied")));
    for (auto& e : a) EXPECT_EQ(e.handle, h);
}

// Runs a synchronous call on another thread: its result and the last error seen there.
template <class F>
std::future<std::pair<VEXA_BOOL, uint32_t>> callAsync(F f) {
    return std::async(std::launch::async, [f] {
        const VEXA_BOOL r = f();
        return std::make_pair(r, uint32_t(VEXA_CMS_GetLastError()));
    });
}

TEST_F(CmsTest, SessionEndCompletesPendingRequests) {
    TestClient c;
    const int32_t h = login(c, "dev-gone");
    ASSERT_GE(h, 0);
    auto r1 = configReq("x");
    ASSERT_TRUE(VEXA_CMS_ConfigDev(h, VEXA_CMS_CONFIG_DATA, &r1, VEXA_CMS_RECORD_MODEL));
    ASSERT_FALSE(c.expect("config").isNull());
    VEXA_CMS_TALK_PARAM t{};
    auto sync = callAsync([&] { return VEXA_CMS_GetDevConfig(h, 1, &t, sizeof t); });
    ASSERT_FALSE(c.expect("getConfig").isNull());
    c.close();
    EXPECT_EQ(sync.get(), std::make_pair(VEXA_BOOL(0), uint32_t(VEXA_SDK_ERR_GONE)));
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
    setTimeOut(VEXA_CMS_TIMEOUT_RECV, 1000);
    const struct { const char* name; bool answer; uint32_t error; std::string body; uint32_t outSize; bool ok;
                   uint32_t lastError; } cases[] = {
        {"success", true, 0, "<ok/>", 64, true, VEXA_SDK_ERR_NONE},
        {"exact fit", true, 0, "12345678", 8, true, VEXA_SDK_ERR_NONE},
        {"device error", true, 3, "<bad/>", 64, false, VEXA_SDK_ERR_DEVICE},
        {"buffer too small", true, 0, "0123456789", 4, false, VEXA_SDK_ERR_BUFFER},
        {"no answer", false, 0, "", 64, false, VEXA_SDK_ERR_TIMEOUT},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        std::vector<char> out(tc.outSize + 1, '#');
        VEXA_CMS_PASSTHROUGH p = passThrough("PUT /OVIX/System/time", "<Time/>", out.data(), tc.outSize);
        p.dwSendTimeOut = 1;  // not the wait: that is the receive time-out
        auto fut = callAsync([&] { return VEXA_CMS_OVIXPassThrough(h, &p); });
        Json::Value q = c.expect("ovix");
        EXPECT_EQ(q["request"].asString(), "PUT /OVIX/System/time");
        EXPECT_EQ(q["body"].asString(), "<Time/>");
        if (tc.answer) {
            c.send(msg("ovixAnswer", {{"seq", q["seq"]}, {"error", tc.error}, {"body", tc.body}}));
        }
        const auto res = fut.get();
        EXPECT_EQ(res.first != 0, tc.ok);
        EXPECT_EQ(res.second, tc.lastError);
        if (tc.ok) {
            EXPECT_EQ(std::string(out.data(), p.dwOutputSize), tc.body);
        }
        EXPECT_EQ(out[tc.outSize], '#');  // nothing written past the buffer
    }
    // A late answer for the timed-out request is dropped and the session stays usable.
    EXPECT_TRUE(heartbeatWorks(c));
}

TEST_F(CmsTest, SyncCallsAnswerButRefuseOnLibraryThread) {
    TestClient c;
    const int32_t h = login(c, "dev-sync");
    ASSERT_GE(h, 0);
    VEXA_CMS_TALK_PARAM t{};
    auto fut = callAsync([&] { return VEXA_CMS_GetDevConfig(h, 1, &t, sizeof t); });
    Json::Value q = c.expect("getConfig");
    EXPECT_EQ(q["command"].asInt(), 1);
    c.send(msg("getConfigAnswer", {{"seq", q["seq"]}, {"error", 0}, {"audioCodec", 2}}));
    EXPECT_TRUE(fut.get().first);
    EXPECT_EQ(t.dwAudioCodec, 2u);

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
    // The identifier is cut to the field.
    c.send(msg("message", {{"messageType", 2}, {"domain", "alarm"}, {"identifier", std::string(100, 'i')},
                           {"alarmType", 2}, {"dataType", 1}, {"alarm", "{\"event\":\"zone\"}"}}));
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.msgs.size() == 1; }));
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_EQ(m_rec.msgs[0], "2|alarm|" + std::string(63, 'i') + "|2|1|dev-msg|{\"event\":\"zone\"}");
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

// Only an integer "error" of 0 is success; a device's number never becomes the library's result.
TEST_F(CmsTest, AnswerErrorSemantics) {
    TestClient c;
    const int32_t h = login(c, "dev-err");
    ASSERT_GE(h, 0);
    setTimeOut(VEXA_CMS_TIMEOUT_RECV, 5000);
    const Json::Value absent = Json::Value("<absent>");
    const struct { const char* name; Json::Value error; uint32_t expect; } errors[] = {
        {"zero", 0, VEXA_SDK_ERR_NONE},
        {"one", 1, VEXA_SDK_ERR_DEVICE},
        {"five", 5, VEXA_SDK_ERR_DEVICE},
        {"negative", -1, VEXA_SDK_ERR_DEVICE},
        {"2^32", Json::UInt64(1) << 32, VEXA_SDK_ERR_DEVICE},
        {"missing", absent, VEXA_SDK_ERR_MALFORMED},
        {"text zero", "0", VEXA_SDK_ERR_MALFORMED},
        {"real zero", 0.0, VEXA_SDK_ERR_MALFORMED},
        {"null", Json::Value(), VEXA_SDK_ERR_MALFORMED},
        {"bool", false, VEXA_SDK_ERR_MALFORMED},
    };
    // Sends one request of `kind`, answers it with `error` and returns the library's verdict.
    auto exchange = [&](const std::string& kind, const Json::Value& error) -> uint32_t {
        Json::Value ans = frame((kind + "Answer").c_str());
        if (!(error == absent)) ans["error"] = error;
        if (kind == "config" || kind == "ferro") {
            auto r = configReq("x");
            VEXA_CMS_FERRO_REQ f{};
            f.pCommand = "CMD", f.dwCommandLen = 3;
            const bool model = kind == "config";
            EXPECT_TRUE(VEXA_CMS_ConfigDev(h, 0, model ? static_cast<void*>(&r) : &f, model ? 0 : 1));
            ans["seq"] = c.expect(kind)["seq"];
            ans["data"] = "d";
            c.send(ans);
            EXPECT_TRUE(m_rec.waitFor([&] { return !m_rec.async.empty(); }));
            std::lock_guard<std::mutex> lk(m_rec.mu);
            const uint32_t e = m_rec.async.empty() ? 99 : m_rec.async[0].error;
            m_rec.async.clear();
            return e;
        }
        char out[64];
        VEXA_CMS_PASSTHROUGH p = passThrough("GET /x", nullptr, out, sizeof out);
        VEXA_CMS_TALK_PARAM t{};
        auto fut = callAsync([&] {
            return kind == "ovix" ? VEXA_CMS_OVIXPassThrough(h, &p) : VEXA_CMS_GetDevConfig(h, 1, &t, sizeof t);
        });
        ans["seq"] = c.expect(kind)["seq"];
        c.send(ans);
        const auto res = fut.get();
        EXPECT_EQ(res.first != 0, res.second == VEXA_SDK_ERR_NONE);
        return res.second;
    };
    for (const auto& e : errors)
        for (const char* kind : {"config", "ferro", "ovix", "getConfig"}) {
            SCOPED_TRACE(std::string(kind) + " / " + e.name);
            EXPECT_EQ(exchange(kind, e.error), e.expect);
        }
}

// Start-up sets option 1 twice: first the receive time-out, then the send one. Synchronous calls
// wait the receive time-out whatever the send time-out or the record's own send time-out say.
TEST_F(CmsTest, SyncCallsWaitTheReceiveTimeOut) {
    TestClient c;
    const int32_t h = login(c, "dev-slow");
    ASSERT_GE(h, 0);
    setTimeOut(VEXA_CMS_TIMEOUT_BY_ORDER, 20000);
    setTimeOut(VEXA_CMS_TIMEOUT_BY_ORDER, 1);
    for (const char* kind : {"ovix", "getConfig"}) {
        SCOPED_TRACE(kind);
        char out[64];
        VEXA_CMS_PASSTHROUGH p = passThrough("GET /x", nullptr, out, sizeof out);
        p.dwSendTimeOut = 1;
        VEXA_CMS_TALK_PARAM t{};
        auto fut = callAsync([&] {
            return std::string(kind) == "ovix" ? VEXA_CMS_OVIXPassThrough(h, &p) : VEXA_CMS_GetDevConfig(h, 1, &t, sizeof t);
        });
        Json::Value q = c.expect(kind);
        // Answer well after the send time-out, well within the receive time-out.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        c.send(msg((std::string(kind) + "Answer").c_str(), {{"seq", q["seq"]}, {"error", 0}, {"body", "b"}}));
        EXPECT_EQ(fut.get(), std::make_pair(VEXA_BOOL(1), uint32_t(VEXA_SDK_ERR_NONE)));
    }
}

}  // namespace
