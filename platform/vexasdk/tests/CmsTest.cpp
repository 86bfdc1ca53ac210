// VEXACMS over loopback: registration records and frames, session ends, requests, error numbers,
// options. Refusals, bad framing and floods are covered by the plug-in's integration suites.
#include "TestClient.h"

#include <atomic>
#include <functional>
#include <set>
#include <thread>

Recorder* g_rec = nullptr;

VEXA_CMS_PASSTHROUGH passThrough(const char* url, const char* body, char* out, uint32_t outSize) {
    VEXA_CMS_PASSTHROUGH p{};
    p.pUrl = url, p.dwUrlLen = uint32_t(strlen(url));
    p.pBody = body, p.dwBodyLen = body ? uint32_t(strlen(body)) : 0;
    p.pOutput = out, p.dwOutputSize = outSize;
    return p;
}

VEXA_BOOL regCb(int32_t handle, uint32_t type, void* out, uint32_t outLen, void* in, uint32_t inLen, void*) {
    Recorder& r = *g_rec;  // the registration callback: records every call, answers as the plug-in would
    const auto* i = static_cast<const VEXA_CMS_DEV_REG_INFO*>(out);
    EXPECT_EQ(outLen, sizeof *i);
    const std::string id = field(i->szDeviceID, sizeof i->szDeviceID);
    std::string e = std::to_string(type) + " " + std::to_string(handle) + " " + id + " " +
                    field(i->szDeviceIP, sizeof i->szDeviceIP) + " " + field(i->szServerAddress, 128) + ":" +
                    std::to_string(i->wServerPort) + " " + field(i->szSessionKey, 64) + " " + field(i->szCompanion, 32) +
                    " " + field(i->szShortSerial, sizeof i->szShortSerial) + " " + std::to_string(i->byDevProtocolVersion);
    VEXA_BOOL result = 1;
    std::lock_guard<std::mutex> lk(r.mu);
    if (type == VEXA_CMS_DAS_REQ) {
        auto* a = static_cast<VEXA_CMS_DAS_ANSWER*>(in);
        EXPECT_EQ(inLen, 512u);
        strcpy(a->szAddress, "10.1.2.3"), strcpy(a->szDomain, "vexa.example"), strcpy(a->szServerID, "das_1");
        a->wPort = 7661;
    } else if (type == VEXA_CMS_DEV_AUTH) {
        EXPECT_EQ(inLen, 256u);
        result = r.keys.count(id) != 0;
        if (result) strncpy(static_cast<char*>(in), r.keys[id].c_str(), inLen - 1);
    } else if (type == VEXA_CMS_DEV_SESSIONKEY) {
        VEXA_DEV_SESSION_KEY k{};  // the plug-in installs the key on the alarm side at once
        memcpy(k.szDeviceID, i->szDeviceID, sizeof k.szDeviceID);
        memcpy(k.szSessionKey, i->szSessionKey, sizeof k.szSessionKey);
        VEXA_AMS_SetDeviceSessionKey(&k);
    } else if (type == VEXA_CMS_DEV_ON) {
        auto* a = static_cast<VEXA_CMS_LOGIN_ANSWER*>(in);
        e += " defaults " + std::to_string(a->dwKeepAliveSec) + "," + std::to_string(a->dwTimeOutCount) + "," +
             std::to_string(a->dwAlarmKeepAliveSec) + "," + std::to_string(a->dwAlarmTimeOutCount);
        a->dwKeepAliveSec = r.keepAlive, a->dwTimeOutCount = 1;
        a->dwAlarmKeepAliveSec = 20, a->dwAlarmTimeOutCount = 4;
        a->pAlarmServer->dwEnable = a->pAlarmServer->dwAlarmType = a->pStorageServer->dwEnable = 1;
        strcpy(a->pAlarmServer->szAddress, "192.0.2.7");
        a->pAlarmServer->wPort = 7332;
        strcpy(a->pStorageServer->szAccessKey, "ak"), strcpy(a->pStorageServer->szSecretKey, "sk");
        result = id != "dev-refused";
    }
    r.reg.push_back(e);
    r.cv.notify_all();
    return result;
}

namespace {

void excCb(const VEXA_CMS_EXCEPTION* e, void*) {
    // A synchronous call from a library thread refuses instead of waiting for that thread.
    char out[8];
    VEXA_CMS_PASSTHROUGH p = passThrough("GET /x", nullptr, out, sizeof out);
    const bool refused = !VEXA_CMS_OVIXPassThrough(e->lUserHandle, &p) && VEXA_CMS_GetLastError() == VEXA_SDK_ERR_WOULD_BLOCK;
    g_rec->push(g_rec->exc, std::to_string(e->dwType) + " " + std::to_string(e->lUserHandle) + (refused ? "" : " not refused"));
}

void asyncCb(const VEXA_CMS_ASYNC_ANSWER* a, void*) {
    std::string e = std::to_string(a->lUserHandle) + " " + std::to_string(a->dwAsyncHandle) + " " +
                    std::to_string(a->dwDataType) + " " + std::to_string(a->dwErrorNo) + " ";
    const auto* l = static_cast<const VEXA_CMS_LIST_ANSWER*>(a->pData);
    for (uint32_t i = 0; a->dwDataType == 7 && l && i < l->dwCount; ++i)
        e += l->pEntries[i].pText ? "[" + std::string(l->pEntries[i].pText, l->pEntries[i].dwTextLen) + "]" : "[null]";
    if (a->dwDataType != 7 && a->pData) e.append(static_cast<const char*>(a->pData), a->dwDataLen);
    g_rec->push(g_rec->async, e);
}

VEXA_CMS_CONFIG_REQ configReq(const char* body) {
    VEXA_CMS_CONFIG_REQ r{};
    strcpy(r.szDomain, "sec"), strcpy(r.szIdentifier, "zone"), strcpy(r.szTarget, "t1");
    r.pBody = const_cast<char*>(body);
    r.dwBodyLen = body ? uint32_t(strlen(body)) : 0;
    return r;
}

}  // namespace

void SdkTest::SetUp() {
    setenv("VEXA_SDK_LOGIN_TIMEOUT_MS", "1500", 1);
    g_rec = &m_rec;
    ASSERT_TRUE(VEXA_CMS_Init() && VEXA_CMS_Init());  // a second Init is harmless
    uint32_t on = 1;
    VEXA_CMS_EXCEPTION_PARAM ep{excCb, nullptr, {}};
    VEXA_CMS_LISTEN_PARAM lp{};
    lp.fnCB = regCb;
    strcpy(lp.szIP, "127.0.0.1");
    ASSERT_TRUE(VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK, &on) &&
                VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_EXCEPTION_CALLBACK, &ep) && VEXA_CMS_SetInterfaceAsync(0, asyncCb, nullptr));
    ASSERT_GE(m_listen = VEXA_CMS_StartListen(&lp), 0);
    ASSERT_NE(m_port = VEXA_CMS_GetListenPort(m_listen), 0);
    ASSERT_TRUE(VEXA_AMS_Init());
    amsListen(1);
}

void SdkTest::TearDown() {
    m_rec.locked([&] { m_rec.alarmGateClosed = false; });
    VEXA_AMS_Fini();
    VEXA_CMS_Fini();
}

namespace {

using CmsTest = SdkTest;

// Every frame and record of a registration; the proof (HMAC of the nonce with the key the
// plug-in gave) and the session key checked against each other; a login the plug-in refuses.
TEST_F(CmsTest, RegistrationFramesAndRecords) {
    const std::string id = "dev-full";
    m_rec.keys[id] = m_rec.keys["dev-refused"] = "secret";
    WirePeer c, d;
    ASSERT_TRUE(c.connect(m_port));
    c.send(frame("dasRequest", {{"deviceId", id}, {"serverAddress", "198.51.100.1"}, {"serverPort", 7660}}));
    EXPECT_EQ(vexawire::encodeFrame(c.expect("dasAnswer")).substr(4),
              R"({"address":"10.1.2.3","domain":"vexa.example","port":7661,"serverId":"das_1","type":"dasAnswer"})");
    const std::string nonce = handshake(d, id, "secret", 4);
    Json::Value sk = d.expect("sessionKey"), ack = d.expect("loginAck");
    EXPECT_EQ((std::vector<size_t>{nonce.size(), sk["key"].asString().size(), sk["companion"].asString().size()}),
              (std::vector<size_t>{32, 64, 32}));
    const std::string h = ack["userHandle"].asString();
    EXPECT_EQ(vexawire::encodeFrame(ack).substr(4),
              R"({"alarmKeepAliveSec":20,"alarmServer":{"address":"192.0.2.7","alarmType":1,"enable":1,"port":7332,)"
              R"("subscribeMode":0},"alarmTimeoutCount":4,"keepAliveSec":30,"storageServer":{"accessKey":"ak",)"
              R"("address":"","enable":1,"port":0,"secretKey":"sk"},"timeoutCount":1,"type":"loginAck","userHandle":)" +
                  h + "}");
    ASSERT_TRUE(d.heartbeat() && d.send(frame("logout")) && d.waitClosed());
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.reg.size() == 6; }));
    const std::string who = " dev-full 127.0.0.1 :0", tail = " " + sk["key"].asString() + " " + sk["companion"].asString() + " AB1234567890 4";
    EXPECT_EQ(m_rec.reg, (std::vector<std::string>{"13 -1 dev-full 127.0.0.1 198.51.100.1:7660    0",
                                                   "3 -1" + who + "   AB1234567890 4", "4 -1" + who + tail,
                                                   "0 " + h + who + tail + " defaults 30,3,30,3", "8 " + h + who + tail,
                                                   "1 " + h + who + tail}));
    EXPECT_TRUE(m_rec.exc.empty());  // a logout is no exception
    WirePeer refused;  // the plug-in refuses the login itself
    handshake(refused, "dev-refused", "secret");
    EXPECT_EQ(refused.expect("refused")["reason"].asString(), "login");
}

// A heartbeat time-out and a lost connection raise off-line and their exception; force-logout,
// a newer login of the device and StopListen end sessions without either. Alarm links close
// with their command session, and with their own listener.
TEST_F(CmsTest, SessionEnds) {
    amsListen(0);  // no keep-alive: only the session's end may close the links
    WirePeer silent, lost, lostLink, forced, first, firstLink, second, secondLink, newLink, stopped;
    m_rec.keepAlive = 1;
    const int32_t hs = login(silent, "dev-silent");
    m_rec.locked([&] { m_rec.keepAlive = 30; });
    const int32_t hl = login(lost, "dev-lost");
    ASSERT_EQ(alarmHello(lostLink, "dev-lost", 2), "alarmHelloAck");
    lost.close();
    EXPECT_TRUE(silent.waitClosed() && lostLink.waitClosed());
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.exc.size() == 2; }));
    EXPECT_EQ(m_rec.exc, (std::vector<std::string>{"2 " + std::to_string(hl), "1 " + std::to_string(hs)}));
    EXPECT_EQ(alarmHello(newLink, "dev-lost", 2), "refused:auth");
    const int32_t h = login(forced, "dev-force");
    ASSERT_TRUE(VEXA_CMS_ForceLogout(h));
    EXPECT_TRUE(!forced.expect("forcedLogout").isNull() && forced.waitClosed());
    EXPECT_FALSE(VEXA_CMS_ForceLogout(h) || VEXA_CMS_SetKeepAliveTime(h, 10, 3));
    EXPECT_EQ(VEXA_CMS_GetLastError(), VEXA_SDK_ERR_NO_SESSION);
    ASSERT_TRUE(bound(first, firstLink, "dev-dup"));
    const int32_t h2 = login(second, "dev-dup");
    EXPECT_EQ(first.expect("refused")["reason"].asString(), "duplicate");
    EXPECT_TRUE(firstLink.waitClosed() && second.heartbeat());
    EXPECT_EQ(alarmHello(secondLink, "dev-dup", 2), "alarmHelloAck");
    ASSERT_TRUE(VEXA_AMS_StopListen(m_amsListen));
    EXPECT_TRUE(secondLink.waitClosed() && second.heartbeat());
    EXPECT_FALSE(WirePeer().connect(m_amsPort));
    ASSERT_GE(login(stopped, "dev-stop"), 0);
    ASSERT_TRUE(VEXA_CMS_StopListen(m_listen));
    EXPECT_TRUE(stopped.waitClosed() && second.waitClosed());
    EXPECT_FALSE(VEXA_CMS_StopListen(m_listen) || VEXA_CMS_ForceLogout(h2));
    EXPECT_FALSE(WirePeer().connect(m_port));
    EXPECT_EQ(m_rec.count("1 "), 2u);
    EXPECT_EQ(m_rec.exc.size(), 2u);
}

// Frames out of the protocol's order are refused "protocol" and close only their connection; a
// logged-in session that breaks goes off line with exception 2.
TEST_F(CmsTest, ProtocolErrorsCloseOnlyThatConnection) {
    WirePeer good;
    int32_t hBad = -1;
    ASSERT_GE(login(good, "dev-good"), 0);
    const struct { const char* name; std::string bytes; bool afterLogin; } cases[] = {
        {"hello without deviceId", framed(R"({"type":"hello","protocolVersion":2})"), false},
        {"protocolVersion as text", framed(R"({"type":"hello","deviceId":"x","protocolVersion":"2"})"), false},
        {"deviceId too long", framed(R"({"type":"hello","protocolVersion":2,"deviceId":")" + std::string(300, 'a') + "\"}"), false},
        {"heartbeat before login", framed(R"({"type":"heartbeat"})"), false},
        {"auth before hello", framed(R"({"type":"auth"})"), false},
        {"second hello", framed(R"({"type":"hello","deviceId":"x","protocolVersion":2})"), true},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        WirePeer bad;
        EXPECT_TRUE(tc.afterLogin ? (hBad = login(bad, "dev-bad")) >= 0 : bad.connect(m_port));
        bad.raw(framed(R"({"type":"noSuchFrame"})") + tc.bytes);  // unknown types are ignored
        EXPECT_EQ(bad.expect("refused")["reason"].asString(), "protocol");
        EXPECT_TRUE(bad.waitClosed() && good.heartbeat());
    }
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.exc.size() == 1; }));
    EXPECT_EQ(m_rec.exc, std::vector<std::string>{"2 " + std::to_string(hBad)});
    EXPECT_EQ(m_rec.count("1 "), 1u);
    EXPECT_EQ(m_rec.count("1 " + std::to_string(hBad) + " "), 1u);
}

// Request frames carry the record's fields; answers are routed by seq (an unknown one is
// dropped); only an integer "error" of 0 is success and a device's number never becomes the
// result; list answers become data type 7 with no text for a null entry; a session's end fails
// what still waits.
TEST_F(CmsTest, RequestsAndAnswers) {
    WirePeer c;
    const int32_t h = login(c, "dev-cfg");
    const std::string hs = std::to_string(h);
    auto r1 = configReq("{\"a\":1}"), r2 = configReq(nullptr), r3 = configReq("x");
    VEXA_CMS_FERRO_REQ f{};
    f.pCommand = "GETSTATE", f.dwCommandLen = 8;
    ASSERT_TRUE(VEXA_CMS_ConfigDev(h, VEXA_CMS_CONFIG_VALUE, &r1, VEXA_CMS_RECORD_MODEL) &&
                VEXA_CMS_ConfigDev(h, VEXA_CMS_CONFIG_READ, &r2, VEXA_CMS_RECORD_MODEL) &&
                VEXA_CMS_ConfigDev(h, 0, &f, VEXA_CMS_RECORD_FERRO));
    EXPECT_EQ(vexawire::encodeFrame(c.expect("config")).substr(4),
              R"({"body":"{\"a\":1}","configType":1,"domain":"sec","identifier":"zone","scope":"","seq":)" +
                  std::to_string(r1.dwAsyncHandle) + R"(,"subId":"","target":"t1","type":"config"})");
    EXPECT_EQ(c.expect("config")["body"].asString(), "");
    EXPECT_EQ(c.expect("ferro")["command"].asString(), "GETSTATE");
    Json::Value list(Json::arrayValue);
    list.append("x"), list.append(Json::Value()), list.append("z");
    c.send(frame("configAnswer", {{"seq", 999999}, {"error", 0}, {"data", "stray"}}));
    c.send(frame("ferroAnswer", {{"seq", f.dwAsyncHandle}, {"error", 0}, {"data", "STATE=1"}}));
    c.send(frame("configAnswer", {{"seq", r2.dwAsyncHandle}, {"error", 0}, {"list", list}}));
    c.send(frame("configAnswer", {{"seq", r1.dwAsyncHandle}, {"error", 5}, {"data", "denied"}}));
    std::vector<std::string> want{hs + " " + std::to_string(f.dwAsyncHandle) + " 0 0 STATE=1",
                                  hs + " " + std::to_string(r2.dwAsyncHandle) + " 7 0 [x][null][z]",
                                  hs + " " + std::to_string(r1.dwAsyncHandle) + " 0 7 denied"};
    const std::pair<Json::Value, uint32_t> errors[] = {
        {-1, VEXA_SDK_ERR_DEVICE},         {Json::UInt64(1) << 32, VEXA_SDK_ERR_DEVICE}, {"0", VEXA_SDK_ERR_MALFORMED},
        {0.0, VEXA_SDK_ERR_MALFORMED},     {Json::Value(), VEXA_SDK_ERR_MALFORMED},      {false, VEXA_SDK_ERR_MALFORMED}};
    for (const auto& e : errors) {
        ASSERT_TRUE(VEXA_CMS_ConfigDev(h, 0, &r3, VEXA_CMS_RECORD_MODEL));
        c.send(frame("configAnswer", {{"seq", c.expect("config")["seq"]}, {"error", e.first}}));
        want.push_back(hs + " " + std::to_string(r3.dwAsyncHandle) + " 0 " + std::to_string(e.second) + " ");
    }
    VEXA_CMS_DEVICE_INFO_BLOCK block{};
    VEXA_CMS_DEV_CONFIG_QUERY t{};
    t.lpOutBuffer = &block, t.dwOutBufferSize = sizeof block;
    ASSERT_TRUE(VEXA_CMS_ConfigDev(h, VEXA_CMS_CONFIG_DATA, &r3, VEXA_CMS_RECORD_MODEL));
    auto sync = callAsync([&] { return VEXA_CMS_GetDevConfig(h, 1, &t, sizeof t); });
    ASSERT_FALSE(c.expect("getConfig").isNull());
    c.close();
    EXPECT_EQ(sync.get(), std::make_pair(VEXA_BOOL(0), uint32_t(VEXA_SDK_ERR_GONE)));
    want.push_back(hs + " " + std::to_string(r3.dwAsyncHandle) + " 0 10 ");
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.async.size() == want.size(); }));
    EXPECT_EQ(m_rec.async, want);
    EXPECT_FALSE(VEXA_CMS_ConfigDev(h, 0, &r1, VEXA_CMS_RECORD_MODEL));
    EXPECT_EQ(VEXA_CMS_GetLastError(), VEXA_SDK_ERR_NO_SESSION);
}

// Option 1 by order: first the receive time-out, then the send one; synchronous calls wait the
// receive time-out whatever the send time-outs say, fail on any answer but an integer "error"
// of 0, and never write past the caller's buffer.
TEST_F(CmsTest, PassThroughOutcomes) {
    WirePeer c;
    const int32_t h = login(c, "dev-ovix");
    const VEXA_CMS_SEND_RECV_PARAM_T recv{1000, VEXA_CMS_TIMEOUT_BY_ORDER, {}}, send{1, VEXA_CMS_TIMEOUT_BY_ORDER, {}};
    ASSERT_TRUE(VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_SEND_RECV_PARAM, &recv) && VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_SEND_RECV_PARAM, &send));
    const Json::Value absent("<absent>");
    const struct { const char* name; int answerAfterMs; Json::Value error; std::string body; uint32_t outSize, lastError; } cases[] = {
        {"success", 0, 0, "<ok/>", 64, VEXA_SDK_ERR_NONE},
        {"after the send time-out", 20, 0, "<ok/>", 64, VEXA_SDK_ERR_NONE},
        {"exact fit", 0, 0, "12345678", 8, VEXA_SDK_ERR_NONE},
        {"device error", 0, 3, "<bad/>", 64, VEXA_SDK_ERR_DEVICE},
        {"no error member", 0, absent, "<ok/>", 64, VEXA_SDK_ERR_MALFORMED},
        {"buffer too small", 0, 0, "0123456789", 4, VEXA_SDK_ERR_BUFFER},
        {"no answer", -1, 0, "", 64, VEXA_SDK_ERR_TIMEOUT},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        std::vector<char> out(tc.outSize + 1, '#');
        VEXA_CMS_PASSTHROUGH p = passThrough("PUT /OVIX/System/time", "<Time/>", out.data(), tc.outSize);
        p.dwSendTimeOut = 1;
        auto fut = callAsync([&] { return VEXA_CMS_OVIXPassThrough(h, &p); });
        Json::Value q = c.expect("ovix"), a = frame("ovixAnswer", {{"seq", q["seq"]}, {"body", tc.body}});
        EXPECT_EQ(q["request"].asString() + "|" + q["body"].asString(), "PUT /OVIX/System/time|<Time/>");
        if (!(tc.error == absent)) a["error"] = tc.error;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(tc.answerAfterMs, 0)));
        if (tc.answerAfterMs >= 0) c.send(a);
        EXPECT_EQ(fut.get(), std::make_pair(VEXA_BOOL(tc.lastError == VEXA_SDK_ERR_NONE), tc.lastError));
        EXPECT_EQ(std::string(out.data(), tc.lastError ? 0 : p.dwOutputSize), tc.lastError ? "" : tc.body);
        EXPECT_EQ(out[tc.outSize], '#');
    }
    // A late answer for the timed-out request is dropped and the session stays usable.
    EXPECT_TRUE(c.heartbeat());
}

TEST(SdkApi, ParameterAndLifecycleErrors) {
    EXPECT_TRUE(VEXA_CMS_Fini() && VEXA_AMS_Fini());  // without Init
    VEXA_CMS_LISTEN_PARAM lp{};
    lp.fnCB = regCb;
    VEXA_CMS_CONFIG_REQ r{};
    const auto cms = [](VEXA_BOOL ok) { return std::make_pair(ok, VEXA_CMS_GetLastError()); };
    const auto ams = [](VEXA_BOOL ok) { return std::make_pair(ok, VEXA_AMS_GetLastError()); };
    using Result = std::pair<VEXA_BOOL, uint32_t>;
    EXPECT_EQ(cms(VEXA_CMS_StartListen(&lp) >= 0), Result(0, VEXA_SDK_ERR_NOT_INIT));
    EXPECT_EQ(ams(VEXA_AMS_StopListen(0)), Result(0, VEXA_SDK_ERR_NOT_INIT));
    ASSERT_TRUE(VEXA_CMS_Init());
    EXPECT_EQ(cms(VEXA_CMS_StartListen(nullptr) >= 0), Result(0, VEXA_SDK_ERR_PARAM));
    strcpy(lp.szIP, "not-an-address");
    EXPECT_EQ(cms(VEXA_CMS_StartListen(&lp) >= 0), Result(0, VEXA_SDK_ERR_LISTEN));
    EXPECT_EQ(cms(VEXA_CMS_SetSDKLocalCfg(5, &lp)), Result(0, VEXA_SDK_ERR_PARAM));
    EXPECT_EQ(cms(VEXA_CMS_SetSDKLocalCfg(1, nullptr)), Result(0, VEXA_SDK_ERR_PARAM));
    EXPECT_EQ(ams(VEXA_AMS_SetSDKLocalCfg(VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK, &lp)), Result(0, VEXA_SDK_ERR_PARAM));
    EXPECT_EQ(cms(VEXA_CMS_ConfigDev(12345, 0, &r, VEXA_CMS_RECORD_MODEL)), Result(0, VEXA_SDK_ERR_NO_SESSION));
    EXPECT_TRUE(VEXA_CMS_Fini() && VEXA_CMS_Fini());
}

// Each media call's frame carries its record's fields (a session text filling its field is cut
// there); success zero-fills the start result; a device error fails the call. Bad records and
// queries are refused before anything is sent. The device information block gets the codec at
// offset 176 and its size only from an answer of error 0 with an unsigned integer codec.
TEST_F(CmsTest, MediaCallsAndDeviceInfo) {
    WirePeer c;
    const int32_t h = login(c, "dev-media");
    VEXA_CMS_LIVE_PARAM udp{}, tcp, noPort;
    strcpy(udp.szSessionID, "11"), strcpy(udp.szMediaIP, "192.0.2.9");
    udp.dwChannel = 3, udp.dwStreamType = 2, udp.wUdpPort = 6000, udp.byNative = 1;
    tcp = noPort = udp, tcp.wTcpPort = 6001, noPort.wUdpPort = 0;
    VEXA_CMS_RECORD_PARAM rec{}, noIp;
    strcpy(rec.szSessionID, "12"), strcpy(rec.szMediaIP, "192.0.2.8");
    rec.dwChannel = 4, rec.dwStreamType = 1, rec.wMediaPort = 7000, rec.struStart = {2026, 1, 2, 3, 4, 5, 0};
    rec.struStop = {2026, 12, 31, 23, 59, 58, 0}, noIp = rec, noIp.szMediaIP[0] = '\0';
    VEXA_CMS_VOICE_PARAM voice{}, noSession;
    strcpy(voice.szSessionID, "13"), strcpy(voice.szMediaIP, "192.0.2.7");
    voice.dwChannel = 1, voice.wMediaPort = 8000, voice.dwAudioCode = 6, noSession = voice, noSession.szSessionID[0] = 0;
    VEXA_CMS_STOP_PARAM stop;
    memset(&stop, '7', sizeof stop);  // no NUL in the session field, more digits after it
    VEXA_CMS_VOICE_STOP_PARAM vstop{};
    VEXA_CMS_OPERATE_PARAM opr{};
    strcpy(vstop.szSessionID, "13"), strcpy(opr.szSessionID, "12");
    VEXA_CMS_START_RESULT res;
    const std::string s64 = R"("session":")" + std::string(64, '7') + R"(","type":"media"})";
    const struct { const char* name; std::function<VEXA_BOOL()> call; bool start; std::string frame; } cases[] = {
        {"live udp", [&] { return VEXA_CMS_StartLiveStreaming(h, 0, &udp, &res); }, true,
         R"({"channel":3,"linkType":"UDP","mediaIp":"192.0.2.9","mediaPort":6000,"native":1,"op":"startLive","session":"11","streamType":2,"type":"media"})"},
        {"live tcp", [&] { return VEXA_CMS_StartLiveStreaming(h, 0, &tcp, &res); }, true,
         R"({"channel":3,"linkType":"TCP","mediaIp":"192.0.2.9","mediaPort":6001,"native":1,"op":"startLive","session":"11","streamType":2,"type":"media"})"},
        {"record", [&] { return VEXA_CMS_StartRecordStreaming(h, 0, &rec, &res); }, true,
         R"({"channel":4,"mediaIp":"192.0.2.8","mediaPort":7000,"native":0,"op":"startRecord","session":"12",)"
         R"("start":"2026-01-02T03:04:05","stop":"2026-12-31T23:59:58","streamType":1,"type":"media"})"},
        {"voice", [&] { return VEXA_CMS_StartVoice(h, &voice, &res); }, true,
         R"({"audioCode":6,"channel":1,"mediaIp":"192.0.2.7","mediaPort":8000,"op":"startVoice","session":"13","type":"media"})"},
        {"pause", [&] { return VEXA_CMS_OperateRecordStreaming(h, 0, VEXA_CMS_RECORD_PAUSE, &opr); }, false,
         R"({"op":"operateRecord","operation":0,"session":"12","type":"media"})"},
        {"resume", [&] { return VEXA_CMS_OperateRecordStreaming(h, 0, VEXA_CMS_RECORD_RESUME, &opr); }, false,
         R"({"op":"operateRecord","operation":1,"session":"12","type":"media"})"},
        {"stop live", [&] { return VEXA_CMS_StopLiveStreaming(h, 0, &stop); }, false, R"({"op":"stopLive",)" + s64},
        {"stop record", [&] { return VEXA_CMS_StopRecordStreaming(h, 0, &stop); }, false, R"({"op":"stopRecord",)" + s64},
        {"stop voice", [&] { return VEXA_CMS_StopVoice(h, &vstop); }, false, R"({"op":"stopVoice","session":"13","type":"media"})"},
    };
    for (const auto& tc : cases)
        for (const int err : {0, 5}) {
            SCOPED_TRACE(std::string(tc.name) + " error " + std::to_string(err));
            memset(&res, 0xAB, sizeof res);
            auto fut = callAsync(tc.call);
            Json::Value q = c.expect("media");
            c.send(frame("mediaAnswer", {{"seq", q["seq"]}, {"error", err}}));
            q.removeMember("seq");
            EXPECT_EQ(vexawire::encodeFrame(q).substr(4), tc.frame);
            EXPECT_EQ(fut.get(), std::make_pair(VEXA_BOOL(!err), err ? VEXA_SDK_ERR_DEVICE : VEXA_SDK_ERR_NONE));
            const auto* b = reinterpret_cast<const unsigned char*>(&res);
            EXPECT_EQ(std::count(b, b + sizeof res, 0), tc.start && !err ? 192 : 0);
        }
    unsigned char raw[520];  // the block at raw + 1: callers' blocks need not be aligned
    VEXA_CMS_DEV_CONFIG_QUERY q{}, noBlock{}, small{};
    q.lpOutBuffer = small.lpOutBuffer = raw + 1, q.dwOutBufferSize = noBlock.dwOutBufferSize = 512, small.dwOutBufferSize = 511;
    const std::pair<const char*, std::function<VEXA_BOOL()>> refusals[] = {
        {"no record", [&] { return VEXA_CMS_StopVoice(h, nullptr); }}, {"no port", [&] { return VEXA_CMS_StartLiveStreaming(h, 0, &noPort, &res); }},
        {"no media address", [&] { return VEXA_CMS_StartRecordStreaming(h, 0, &noIp, nullptr); }},
        {"empty session", [&] { return VEXA_CMS_StartVoice(h, &noSession, &res); }},
        {"operation 2", [&] { return VEXA_CMS_OperateRecordStreaming(h, 0, 2, &opr); }},
        {"command 2", [&] { return VEXA_CMS_GetDevConfig(h, 2, &q, sizeof q); }},
        {"short query", [&] { return VEXA_CMS_GetDevConfig(h, 1, &q, sizeof q - 1); }},
        {"no block", [&] { return VEXA_CMS_GetDevConfig(h, 1, &noBlock, sizeof q); }},
        {"block too small", [&] { return VEXA_CMS_GetDevConfig(h, 1, &small, sizeof q); }}};
    for (const auto& r : refusals) EXPECT_EQ(callAsync(r.second).get(), std::make_pair(VEXA_BOOL(0), uint32_t(VEXA_SDK_ERR_PARAM))) << r.first;
    EXPECT_EQ(callAsync([&] { return VEXA_CMS_StopLiveStreaming(h + 1, 0, &stop); }).get().second, VEXA_SDK_ERR_NO_SESSION);
    c.seen.clear();
    ASSERT_TRUE(c.heartbeat());
    EXPECT_EQ(c.seen.size(), 1u);  // nothing but the heartbeatAck
    const Json::Value absent("<absent>");
    const struct { Json::Value error, codec; uint32_t lastError; } answers[] = {
        {0, 2, VEXA_SDK_ERR_NONE}, {5, 2, VEXA_SDK_ERR_DEVICE}, {0, absent, VEXA_SDK_ERR_MALFORMED}, {0, "2", VEXA_SDK_ERR_MALFORMED},
        {0, -1, VEXA_SDK_ERR_MALFORMED}, {0, 2.0, VEXA_SDK_ERR_MALFORMED}, {0, Json::UInt64(1) << 32, VEXA_SDK_ERR_MALFORMED}};
    for (const auto& tc : answers) {
        SCOPED_TRACE(tc.codec.toStyledString());
        memset(raw, 0xEE, sizeof raw);
        auto fut = callAsync([&] { return VEXA_CMS_GetDevConfig(h, 1, &q, sizeof q); });
        Json::Value req = c.expect("getConfig"), a = frame("getConfigAnswer", {{"seq", req["seq"]}, {"error", tc.error}});
        if (!(tc.codec == absent)) a["audioCodec"] = tc.codec;
        c.send(a);
        EXPECT_EQ(req["command"], 1);
        EXPECT_EQ(fut.get(), std::make_pair(VEXA_BOOL(!tc.lastError), tc.lastError));
        std::vector<unsigned char> want(sizeof raw, 0xEE);
        const uint32_t size = 512, codec = 2;
        if (!tc.lastError) memcpy(&want[1], &size, 4), memcpy(&want[1 + 176], &codec, 4);
        EXPECT_EQ(std::vector<unsigned char>(raw, raw + sizeof raw), want);
    }
}

// Time-outs come from the pool's coarse sweep: a silent command link, a silent alarm link and a
// connection that never logs in are each ended, while links that keep talking stay up.
TEST_F(CmsTest, TimeOutsFromTheSweep) {
    const struct { const char* name; bool login, alarm, talk; } cases[] = {
        {"no login", false, false, false}, {"silent session", true, false, false},
        {"silent alarm link", true, true, false}, {"talking", true, true, true}};
    m_rec.keepAlive = 1;  // 1 s x 1 for the sessions; the alarm port takes 1 s as well
    WirePeer cmd[4], alarm[4];
    int32_t h[4] = {-1, -1, -1, -1};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string id = std::string("dev-sweep-") + char('0' + i);
        h[i] = cases[i].login ? login(cmd[i], id) : -1;
        ASSERT_TRUE(cases[i].login ? h[i] >= 0 : cmd[i].connect(m_port));
        ASSERT_TRUE(!cases[i].alarm || alarmHello(alarm[i], id, 2) == "alarmHelloAck");
    }
    for (uint32_t n = 1; n <= 10; ++n) {  // 2.5 s: past every time-out above
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        for (int i = 0; i < 4; ++i)
            ASSERT_TRUE(!cases[i].talk || (cmd[i].heartbeat() && alarm[i].send(vtest::alarmFrame(n, "x")) &&
                                           alarm[i].expect("alarmAck")["seq"].asUInt() == n));
    }
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(cmd[i].waitClosed(cases[i].talk ? 100 : 10000), !cases[i].talk);
        EXPECT_EQ(cases[i].alarm && alarm[i].waitClosed(cases[i].talk ? 100 : 10000), cases[i].alarm && !cases[i].talk);
    }
    m_rec.locked([&] { m_rec.keepAlive = 30; });
    EXPECT_TRUE(m_rec.waitFor([&] { return std::count(m_rec.exc.begin(), m_rec.exc.end(), "1 " + std::to_string(h[1])); }));
}

// Host threads issue synchronous and asynchronous requests on several sessions at once while the
// devices heartbeat: every request is answered once and each thread's frames reach its device
// in the order it made them.
TEST_F(CmsTest, ConcurrentRequestsWhileHeartbeating) {
    constexpr int kDevices = 4, kThreads = 8, kEach = 150;
    WirePeer dev[kDevices];
    int32_t h[kDevices];
    for (int d = 0; d < kDevices; ++d) ASSERT_GE(h[d] = login(dev[d], "dev-load-" + std::to_string(d)), 0);
    std::atomic<int> outOfOrder{0}, acks{0}, failed{0};
    std::vector<std::thread> threads;
    for (int d = 0; d < kDevices; ++d)
        threads.emplace_back([&, d] {
            std::map<std::string, int> last;  // host thread -> its last request number seen
            Json::Value m;
            for (int n = 0; n < kEach * kThreads / kDevices && dev[d].next(m);) {
                const std::string type = m["type"].asString(), body = m["body"].asString();
                if (type == "heartbeatAck" && ++acks) continue;
                const size_t colon = body.find(':');
                int& prev = last.emplace(body.substr(0, colon), -1).first->second;
                outOfOrder += std::stoi(body.substr(colon + 1)) != prev + 1;
                prev = std::stoi(body.substr(colon + 1));
                const bool ovix = type == "ovix";
                dev[d].send(frame(ovix ? "ovixAnswer" : "configAnswer", {{"seq", m["seq"]}, {"error", 0}, {ovix ? "body" : "data", body}}));
                if (++n % 16 == 0) dev[d].send(frame("heartbeat"));
            }
        });
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < kEach; ++k) {
                const std::string body = std::to_string(t) + ":" + std::to_string(k);
                char out[32];
                VEXA_CMS_PASSTHROUGH p = passThrough("GET /x", body.c_str(), out, sizeof out);
                VEXA_CMS_CONFIG_REQ r = configReq(body.c_str());
                failed += k % 2 ? !VEXA_CMS_ConfigDev(h[t % kDevices], 0, &r, VEXA_CMS_RECORD_MODEL)
                                : !VEXA_CMS_OVIXPassThrough(h[t % kDevices], &p) || std::string(out, p.dwOutputSize) != body;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failed.load() + outOfOrder.load(), 0);
    EXPECT_GT(acks.load(), 0);
    ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.async.size() >= size_t(kThreads * kEach / 2); }));
    std::set<std::string> answered;  // "handle seq dataType error text": every text once, without error
    for (const auto& e : m_rec.async)
        if (e.find(" 0 0 ") != std::string::npos) answered.insert(e.substr(e.find(" 0 0 ")));
    EXPECT_EQ(answered.size(), m_rec.async.size());
    EXPECT_EQ(m_rec.async.size(), size_t(kThreads * kEach / 2));
}

// Session IDs are decimal, fit a signed 32-bit value, never repeat, and wrap from the top to 1;
// a short buffer gets nothing.
TEST(SdkApi, SessionIds) {
    char buf[16];
    std::set<long long> ids;
    for (int i = 0; i < 10000 && VEXA_CMS_GetSevrSessionId(buf, sizeof buf); ++i)
        if (buf[0] > '0' && strspn(buf, "0123456789") == strlen(buf) && strlen(buf) <= 10 && std::stoll(buf) <= INT32_MAX)
            ids.insert(std::stoll(buf));
    EXPECT_EQ(ids.size(), 10000u);
    setenv("VEXA_SDK_SESSION_ID_START", "2147483646", 1);
    ASSERT_TRUE(VEXA_CMS_Init());
    unsetenv("VEXA_SDK_SESSION_ID_START");
    std::string seen;
    for (const uint32_t size : {16u, 16u, 16u, 1u, 0u}) {
        memset(buf, '#', sizeof buf);
        seen += (VEXA_CMS_GetSevrSessionId(buf, size) ? std::string(buf) : "E" + std::to_string(VEXA_CMS_GetLastError()) + buf[0]) + " ";
    }
    EXPECT_EQ(seen, "2147483646 2147483647 1 E8# E8# ");
    EXPECT_TRUE(VEXA_CMS_Fini());
}

}  // namespace

// The direct frame writer must give the library writer's bytes, or peers see a changed wire.
TEST(WireFrame, DirectWriterMatchesTheLibraryWriter) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    Json::Value nested(Json::objectValue);
    nested["a"]["b"] = 1;
    const Json::Value cases[] = {
        Json::Value(Json::objectValue),
        [] { Json::Value v; v["type"] = "alarm"; v["seq"] = 4294967295u; v["n"] = static_cast<Json::Int64>(-9223372036854775807LL - 1);
             v["ok"] = true; v["none"] = Json::nullValue; return v; }(),
        [] { Json::Value v; v["t\"x\\"] = std::string("q\"\\/\b\f\n\r\t\x01\x1f end\0z", 17);
             v["u"] = "\xc3\xa9\xe6\x97\xa5 \xff\xfe"; v[""] = ""; return v; }(),
        [] { Json::Value v; v["f"] = 1.5; return v; }(),
        nested,
        Json::Value("not an object"),
    };
    for (const auto& v : cases)
        EXPECT_EQ(vexawire::encodeFrame(v).substr(4), Json::writeString(b, v)) << Json::writeString(b, v);
}

// Flat frames are read without the library's reader: every body, flat or not, valid or not,
// decodes to exactly what that reader makes of it.
TEST(WireFrame, FlatBodiesDecodeAsTheLibraryReaderDoes) {
    Json::CharReaderBuilder b;
    b["stackLimit"] = 64;
    b["collectComments"] = false;
    b["allowComments"] = false;
    b["failIfExtra"] = true;
    const std::unique_ptr<Json::CharReader> ref(b.newCharReader());
    const std::string bodies[] = {
        R"({"type":"x"})", R"(  {"type" : "x" ,"a":1}  )", "\t{\r\n\"type\":\"x\"}\n", R"({"type":"x","a":{}})",
        R"({"type":"q\"\\\/\b\f\n\r\t"})", R"({"type":"\u00e9"})", "{\"type\":\"\xc3\xa9\xff\"}",
        "{\"type\":\"a\x01\"}", R"({"type":"x\q"})", R"({"type":"x)", R"({"type":"x"} z)", R"({"type":"x",})",
        R"({"type":"x","n":0,"m":-0,"i":9223372036854775807,"j":9223372036854775808})",
        R"({"type":"x","u":18446744073709551615,"v":18446744073709551616,"w":-9223372036854775808})",
        R"({"type":"x","k":-9223372036854775809})", R"({"type":"x","f":1.5})", R"({"type":"x","e":1e3})",
        R"({"type":"x","z":012})", R"({"type":"x","d":-})", R"({"type":"x","d":12ab})",
        R"({"type":"x","t":true,"f":false,"n":null})", R"({"type":"x","t":truex})", R"({"type":"x","t":tru)",
        R"({"type":"x","a":1,"a":null})", R"({"type":"x","a":null,"a":"s"})", R"({"type":1})", R"({"a":"x"})",
        R"({})", R"([])", R"("x")", "", "{", R"({"type":"x",,"a":1})", R"({"type":"x" "a":1})",
        R"({"":"e","type":"x"})", R"({"type":"x","a":[1]})", "\xef\xbb\xbf{\"type\":\"x\"}", R"({"type":"x"/**/})",
    };
    for (const std::string& body : bodies) {
        Json::Value want, got;
        std::string errs, why;
        const bool refOk = ref->parse(body.data(), body.data() + body.size(), &want, &errs) && want.isObject() &&
                           want["type"].isString();
        const bool ok = vexawire::decodeBody(body.data(), body.size(), got, why);
        EXPECT_EQ(ok, refOk) << body;
        if (!ok || !refOk) continue;
        EXPECT_EQ(got, want) << body;
        for (const auto& name : want.getMemberNames()) EXPECT_EQ(got[name].type(), want[name].type()) << body << " " << name;
    }
}

// The member-by-member writer: the library's bytes for the same members, or nothing when a name
// comes out of order or a text needs the library's own escaping.
TEST(WireFrame, FlatFrameMatchesTheLibraryWriterOrGivesWay) {
    struct Row { std::vector<std::pair<std::string, std::string>> texts; bool writes; };
    const Row rows[] = {
        {{{"a", "plain"}, {"b", "q\"\\/\b\f\n\r\t"}, {"c", "\xc3\xa9 \xff"}, {"type", "config"}}, true},
        {{{"", ""}, {"body", std::string(70000, 'x')}}, true},
        {{{"a", std::string("nul\0", 4)}}, false},  // a control byte the escapes do not name
        {{{"b", "1"}, {"a", "2"}}, false},           // out of order
        {{{"ab", "1"}, {"a", "2"}}, false},          // a prefix goes first
        {{{"a", "1"}, {"a", "2"}}, false},           // twice
    };
    for (const Row& row : rows) {
        vexawire::FlatFrame f;
        Json::Value v(Json::objectValue);
        for (const auto& [name, text] : row.texts) {
            f.text(name.c_str(), text);
            v[name] = text;
        }
        f.number("zz", 4294967296u);
        v["zz"] = static_cast<Json::UInt64>(4294967296u);
        const std::string got = f.finish();
        EXPECT_EQ(got.empty(), !row.writes) << row.texts.front().first;
        if (row.writes) {
            EXPECT_EQ(got, vexawire::encodeFrame(v));
        }
        // Given way or not, the members always come out as the writer's frame.
        EXPECT_EQ(vexawire::encodeMembers([&](auto& m) {
                      for (const auto& [name, text] : row.texts) m.text(name.c_str(), text);
                      m.number("zz", 4294967296u);
                  }),
                  vexawire::encodeFrame(v))
            << row.texts.front().first;
    }
}
