// VEXAAMS over loopback: links bound to command sessions, alarm records by byte offset, ack only
// after the callback, pending-login counters. An alarm not taken: see the accounting suite.
#include "TestClient.h"

namespace {

// "listen|type/data|device|" then the plain payload, or the structured record read by byte
// offset as the consumer reads it.
std::string describeAlarm(int32_t listen, const VEXA_ALARM_MSG* m) {
    std::string s = std::to_string(listen) + "|" + std::to_string(m->byAlarmType) + "/" + std::to_string(m->byDataType) +
                    "|" + field(m->szDeviceID, sizeof m->szDeviceID) + "|";
    if (m->byAlarmType != 3 && (m->byAlarmType != 2 || m->byDataType != 3)) return s + (m->pXmlBuf ? std::string(static_cast<const char*>(m->pXmlBuf), m->dwXmlBufLen) : "");
    uint64_t w[8];  // the record by byte offset, in 8-byte little-endian words
    memcpy(w, m->pXmlBuf, sizeof w);
    const auto* d = reinterpret_cast<const VEXA_ALARM_TEXT*>(w[1]);
    const uint32_t count = uint32_t(w[2]);
    return s + "kind " + std::to_string(int32_t(w[0])) + " text '" +
           std::string(reinterpret_cast<const char*>(w[3]), uint32_t(w[4])) + "' descriptor '" +
           (d && count ? std::string(d->pText, d->dwLen) : "") + "' x" + std::to_string(count) +
           (w[6] && uint32_t(w[7]) == 1 ? " header" : "");
}

}  // namespace

VEXA_BOOL alarmCb(int32_t listen, VEXA_ALARM_MSG* m, void*) {
    const std::string seen = describeAlarm(listen, m);
    Recorder& r = *g_rec;
    std::unique_lock<std::mutex> lk(r.mu);
    ++r.inAlarmCallback;
    r.cv.notify_all();
    r.cv.wait(lk, [&] { return !r.alarmGateClosed; });
    r.alarms.push_back(seen);
    return 1;
}

namespace {

using AmsTest = SdkTest;

// An alarm link needs a live command session: protocol 4 proves itself with the session key the
// command library handed out (from any address), the others by the session's address. Refused
// links close at once, accepted ones when silent for the keep-alive; the session stays.
TEST_F(AmsTest, AlarmHelloRules) {
    WirePeer v1, a1, a2;
    std::string k1, k2;
    ASSERT_TRUE(login(v1, "vexa-1") >= 0 && login(a1, "aldon-1", 4, &k1) >= 0 && login(a2, "aldon-2", 4, &k2) >= 0);
    VEXA_DEV_SESSION_KEY cleared{};
    strcpy(cleared.szDeviceID, "aldon-2");
    ASSERT_TRUE(VEXA_AMS_SetDeviceSessionKey(&cleared));  // the plug-in dropped it
    const struct { const char* id; int proto; std::string key; const char* from; const char* expect; } cases[] = {
        {"vexa-1", 2, "", nullptr, "alarmHelloAck"},
        {"aldon-1", 4, k1, "127.0.0.2", "alarmHelloAck"},
        {"aldon-1", 4, k1.substr(0, 63), nullptr, "refused:key"},
        {"aldon-2", 4, k2, nullptr, "refused:key"},
        {"vexa-1", 4, "", nullptr, "refused:key"},
        {nullptr, 0, "", nullptr, "refused:frame"},  // an alarm before alarmHello
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::string(tc.id ? tc.id : "-") + "/" + std::to_string(tc.proto) + "/" + (tc.from ? tc.from : "-"));
        WirePeer c;
        const bool sent = tc.id || (c.connect(m_amsPort) && c.send(vtest::alarmFrame(1, "early", 1)));
        EXPECT_EQ(tc.id ? alarmHello(c, tc.id, tc.proto, tc.key, tc.from)
                        : sent ? "refused:" + c.expect("refused")["reason"].asString() : "",
                  tc.expect);
        EXPECT_TRUE(c.waitClosed());
        EXPECT_TRUE(v1.heartbeat());
    }
    std::lock_guard<std::mutex> lk(m_rec.mu);
    EXPECT_TRUE(m_rec.alarms.empty());
}

// Both libraries count the connections waiting to log in against option 20 (0: the default) and
// those closed at the cap.
TEST_F(AmsTest, PendingLoginCapAndStats) {
    using Lib = std::tuple<uint16_t, VEXA_BOOL (*)(uint32_t, const void*), VEXA_BOOL (*)(VEXA_SDK_STATS*)>;
    for (const Lib& l : {Lib{m_port, VEXA_CMS_SetSDKLocalCfg, VEXA_CMS_GetSDKStats},
                         Lib{m_amsPort, VEXA_AMS_SetSDKLocalCfg, VEXA_AMS_GetSDKStats}}) {
        const auto [port, setCfg, stats] = l;
        SCOPED_TRACE(port);
        VEXA_SDK_STATS st{};
        const uint64_t refusedBefore = stats(&st) ? st.qwRefusedConnections : ~0ull;
        const uint32_t two = 2, zero = 0;
        ASSERT_TRUE(setCfg(VEXA_SDK_MAX_PENDING_LOGINS, &two));
        WirePeer w1, w2, over;
        ASSERT_TRUE(w1.connect(port) && w2.connect(port));
        for (int i = 0; i < 500 && stats(&st) && st.dwPendingLogins != 2; ++i) usleep(10000);
        ASSERT_TRUE(over.connect(port) && over.waitClosed() && stats(&st));
        EXPECT_EQ(std::make_tuple(st.dwPendingLogins, st.dwMaxPendingLogins, st.qwRefusedConnections),
                  std::make_tuple(2u, 2u, refusedBefore + 1));
        ASSERT_TRUE(setCfg(VEXA_SDK_MAX_PENDING_LOGINS, &zero) && stats(&st));
        EXPECT_EQ(st.dwMaxPendingLogins, VEXA_SDK_DEFAULT_MAX_PENDING_LOGINS);
    }
}

// Every alarm form becomes its record; the acknowledgement waits until the callback returned.
TEST_F(AmsTest, AlarmRecords) {
    WirePeer cmd, c;
    ASSERT_TRUE(bound(cmd, c, "panel-9"));
    const struct { const char* name; std::string members, expect; } cases[] = {
        {"plain", R"("alarmType":2,"dataType":1,"payload":"<EventNotificationAlert/>"})", "2/1|panel-9|<EventNotificationAlert/>"},
        {"plain long, no size limit here", R"("alarmType":2,"dataType":2,"payload":")" + std::string(5000, 'p') + "\"}",
         "2/2|panel-9|" + std::string(5000, 'p')},
        {"structured text", R"("alarmType":3,"dataType":0,"kind":5,"text":"{\"cid\":1}"})",
         "3/0|panel-9|kind 5 text '{\"cid\":1}' descriptor '' x0"},
        {"structured header", R"("alarmType":2,"dataType":3,"kind":13,"text":"H: 1\r\n\r\nbody","header":true})",
         "2/3|panel-9|kind 13 text 'H: 1\r\n\r\nbody' descriptor '' x0 header"},
        {"structured descriptor", R"("alarmType":3,"dataType":1,"kind":13,"descriptor":"<desc/>"})",
         "3/1|panel-9|kind 13 text '' descriptor '<desc/>' x1"},
    };
    uint32_t seq = 100;
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        m_rec.locked([&] { m_rec.alarms.clear(), m_rec.alarmGateClosed = true, m_rec.inAlarmCallback = 0; });
        c.raw(framed(R"({"type":"alarm","seq":)" + std::to_string(++seq) + "," + tc.members));
        ASSERT_TRUE(m_rec.waitFor([&] { return m_rec.inAlarmCallback == 1; }));
        EXPECT_TRUE(c.expect("alarmAck", 20).isNull());  // held in the callback: no acknowledgement yet
        m_rec.locked([&] { m_rec.alarmGateClosed = false; });
        EXPECT_EQ(c.expect("alarmAck")["seq"].asUInt(), seq);
        std::lock_guard<std::mutex> lk(m_rec.mu);
        EXPECT_EQ(m_rec.alarms, std::vector<std::string>{std::to_string(m_amsListen) + "|" + tc.expect});
    }
}

}  // namespace
