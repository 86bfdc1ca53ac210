// The registry, the library callbacks driven with library records, the device-off rules, and the
// order of session changes and host notifications under concurrent login and off-line. The alarm
// side is connected but its workers stay idle, so queued texts can be inspected.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "alarm/AlarmMsgMgr.h"
#include "alarm/OperationMsgMgr.h"
#include "common/ConfigCenter.h"
#include "common/JsonUtil.h"
#include "device/NotifyPool.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "plugin/DeviceSide.h"
#include "PluginHost.h"
#include "TestSupport.h"
#include "VexaAmsSdk.h"

namespace {

// What the host heard (status, text), per device, in order; optionally blocked until released.
struct Host {
    using Heard = std::vector<std::pair<uint32_t, std::string>>;
    std::mutex lock;
    std::condition_variable cv;
    std::map<void*, Heard> heard;
    std::map<void*, uint32_t> statusInside;  // GetConnectStatus seen from inside the callback
    std::map<void*, int> running;
    bool hold = false, overlap = false;

    static void* key(const std::shared_ptr<CVexaDevice>& d) { return static_cast<CDevBase*>(d.get()); }
    static void VEXA_CALL onStatus(void* dev, uint32_t status, const char* text, void* user) {
        auto* h = static_cast<Host*>(user);
        uint32_t inside = 0;
        static_cast<CDevConnect_V2*>(static_cast<CVexaDevice*>(static_cast<CDevBase*>(dev)))->GetConnectStatus(&inside);
        std::unique_lock<std::mutex> lk(h->lock);
        if (h->running[dev]++) h->overlap = true;
        h->cv.wait_for(lk, std::chrono::seconds(10), [h] { return !h->hold; });
        h->heard[dev].emplace_back(status, text ? text : "");
        h->statusInside.emplace(dev, inside);
        --h->running[dev];
        h->cv.notify_all();
    }
    void release() {
        std::lock_guard<std::mutex> lk(lock);
        hold = false;
        cv.notify_all();
    }
    template <class F> auto locked(F read) {
        std::lock_guard<std::mutex> lk(lock);
        return read();
    }
    Heard calls(const std::shared_ptr<CVexaDevice>& d) { return locked([&] { return heard[key(d)]; }); }
    std::vector<uint32_t> of(const std::shared_ptr<CVexaDevice>& d) {
        std::vector<uint32_t> out;
        for (const auto& h : calls(d)) out.push_back(h.first);
        return out;
    }
};

struct Login {
    VEXA_CMS_STORAGE_SERVER storage{};
    VEXA_CMS_ALARM_SERVER alarm{};
    VEXA_CMS_LOGIN_ANSWER answer{30, 3, 30, 3, &storage, &alarm};
    // "keep-alive/count alarm-keep-alive/count alarmType@address:port storageEnable:accessKey"
    std::string str() const {
        const auto n = [](uint32_t v) { return std::to_string(v); };
        return n(answer.dwKeepAliveSec) + "/" + n(answer.dwTimeOutCount) + " " + n(answer.dwAlarmKeepAliveSec) + "/" +
               n(answer.dwAlarmTimeOutCount) + " " + n(alarm.dwAlarmType) + "@" + alarm.szAddress + ":" +
               n(alarm.wPort) + " " + n(storage.dwEnable) + ":" + storage.szAccessKey;
    }
};

VEXA_ALARM_MSG alarmMsg(uint8_t type, uint8_t data, const void* payload, size_t len) {
    return VEXA_ALARM_MSG{type, data, {}, {}, {}, static_cast<uint32_t>(len), const_cast<void*>(payload)};
}
VEXA_ALARM_MSG plainAlarm(const std::string& doc, uint8_t dataType = 1) { return alarmMsg(2, dataType, doc.data(), doc.size()); }

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        connectDeviceSide();
        CConfigCenter::instance()->reset();
        drain();
    }
    void TearDown() override {
        mgr->setDeviceOffHook(nullptr);
        for (const auto& id : mgr->deviceIds())
            if (auto d = mgr->findDevice(id)) d->DisConnect();
        NotifyPool::instance().stop();
        CAlarmMsgMgr::instance()->setBound(CAlarmMsgMgr::kDefaultBound);
        drain();
    }
    void drain() {
        opMessages();
        while (!CAlarmMsgMgr::instance()->pop().empty()) continue;
    }
    std::shared_ptr<CVexaDevice> add(const std::string& params) {
        auto d = std::make_shared<CVexaDevice>();
        d->SetConnStatusCallBack(&Host::onStatus, &host);
        d->Connect_V2(params.c_str());
        return d;
    }
    // Devices prefix<from>..prefix<to-1>, each logged in with handle base + i unless base < 0.
    std::vector<std::shared_ptr<CVexaDevice>> addMany(const std::string& prefix, int from, int to, int base = -1) {
        std::vector<std::shared_ptr<CVexaDevice>> out;
        for (int i = from; i < to; ++i) {
            out.push_back(add("DeviceId=" + prefix + std::to_string(i) + ";"));
            if (base >= 0) login(prefix + std::to_string(i), base + i);
        }
        return out;
    }
    static VEXA_CMS_DEV_REG_INFO info(const std::string& id, uint8_t proto = 2, const char* shortSerial = "",
                                      const char* server = "", uint16_t serverPort = 0) {
        VEXA_CMS_DEV_REG_INFO r{};
        strncpy(r.szDeviceID, id.c_str(), sizeof r.szDeviceID - 1);
        strcpy(r.szDeviceIP, "192.0.2.10");
        r.wDevicePort = 5000;
        strcpy(r.szDevSerial, "FULLSERIAL0001");
        strcpy(r.szShortSerial, shortSerial);
        strcpy(r.szServerAddress, server);
        r.wServerPort = serverPort;
        r.byDevProtocolVersion = proto;
        return r;
    }
    VEXA_BOOL reg(int32_t handle, uint32_t type, VEXA_CMS_DEV_REG_INFO* r, void* in = nullptr, uint32_t inLen = 0) {
        return CVexaDeviceMgr::pfnDeviceRegisterCB(handle, type, r, r ? sizeof *r : 0, in, inLen, mgr);
    }
    VEXA_BOOL login(VEXA_CMS_DEV_REG_INFO r, int32_t handle, Login& l) {
        return reg(handle, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer);
    }
    VEXA_BOOL login(const std::string& id, int32_t handle) {
        Login l;
        return login(info(id), handle, l);
    }
    // What the host heard about `d` during one library step.
    template <class Step> Host::Heard heardDuring(const std::shared_ptr<CVexaDevice>& d, Step step) {
        host.locked([&] { host.heard.clear(); });
        step();
        return host.calls(d);
    }
    std::vector<std::string> opMessages() {
        std::vector<std::string> out;
        for (std::string m; !(m = COperationMsgMgr::instance()->pop()).empty();) out.push_back(m);
        return out;
    }
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    Host host;
};

TEST(ConnectParams, ParsingRules) {
    struct Case { const char* text; std::map<std::string, std::string> expect; };
    const Case cases[] = {
        {"DeviceId=A;DeviceKey=k", {{"DeviceId", "A"}}},  // the unterminated last pair is lost
        {"DeviceId=A;;noequals;=v;K=a=b;", {{"DeviceId", "A"}, {"K", "a=b"}}},
        {"K=1;K=2;", {{"K", "2"}}},
        {"K=;", {{"K", ""}}},
        {";;;", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(CVexaDevice::parseParams(c.text), c.expect) << c.text;
    EXPECT_TRUE(CVexaDevice::parseParams(nullptr).empty());
}

TEST_F(Registration, ConnectFlagsAndRegistry) {
    // Flags: allow direct connection, alarm active, video review.
    const auto flags = [](const CVexaDevice& d) {
        return std::string{d.allowDirectConnect() ? 'D' : '-', d.alarmActive() ? 'A' : '-', d.videoReviewEnabled() ? 'V' : '-'};
    };
    const std::pair<const char*, const char*> cases[] = {
        {"DeviceId=dev1;AllowDirectConn=1;AlarmActiveStatus=active;VideoReview=1;", "DAV"},
        {"DeviceId=dev2;AllowDirectConn=2;AlarmActiveStatus=Active;VideoReview=01;", "--V"},
        {"DeviceId=dev3;", "---"},
        {"DeviceId=dev4;AllowDirectConn= 1;AlarmActiveStatus=inactive;VideoReview=yes;", "D--"},
    };
    for (const auto& [params, expect] : cases) {
        auto d = add(params);
        EXPECT_EQ(flags(*d), expect) << params;
        EXPECT_EQ(mgr->findDevice(d->deviceId()), d);
        d->SetConnectParams("VideoReview=1;");
        d->SetConnectParams(params);  // the same rules when the host changes them
        EXPECT_EQ(flags(*d), expect) << params;
    }
    // The same identifier again updates keys but does not register (or log) again.
    auto d = mgr->findDevice("dev1");
    vtest::LogCapture log(3);
    d->Connect_V2("DeviceId=dev1;DeviceKey=new;");
    EXPECT_EQ(d->deviceKey(), "new");
    EXPECT_FALSE(log.contains("add device succ."));
}

TEST_F(Registration, ReconnectAfterDisconnectRegistersAgainAndCanLogIn) {
    auto d = add("DeviceId=again;");
    d->DisConnect();
    ASSERT_EQ(mgr->findDevice("again"), nullptr);
    vtest::LogCapture log(3);
    d->Connect_V2("DeviceId=again;DeviceKey=k2;");
    EXPECT_EQ(mgr->findDevice("again"), d);
    EXPECT_TRUE(log.contains("add device succ."));
    EXPECT_EQ(login("again", 40), 1);
    EXPECT_EQ(d->userHandle(), 40);
    EXPECT_EQ(mgr->findDeviceByHandle(40), d);
    // Taken over by another object, a repeated Connect_V2 takes the identifier back, handle too.
    auto other = add("DeviceId=again;");
    EXPECT_EQ(mgr->findDeviceByHandle(40), nullptr);
    d->Connect_V2("DeviceId=again;");
    EXPECT_EQ(mgr->findDevice("again"), d);
    EXPECT_EQ(mgr->findDeviceByHandle(40), d);
    // A new login drops the old handle; leaving drops the new one.
    EXPECT_EQ(login("again", 41), 1);
    EXPECT_EQ(mgr->findDeviceByHandle(40), nullptr);
    EXPECT_EQ(mgr->findDeviceByHandle(41), d);
    d->DisConnect();
    EXPECT_EQ(mgr->findDeviceByHandle(41), nullptr);
}

TEST_F(Registration, LoginAnswersByFamily) {
    CConfigCenter* cfg = CConfigCenter::instance();
    cfg->parseConfigText("<c><HeartbeatEnable>1</HeartbeatEnable><hb_time>20</hb_time><hb_fail>4</hb_fail>"
                         "<AlarmKeepAliveSec>40</AlarmKeepAliveSec><AlarmTimeOutCount>-2</AlarmTimeOutCount></c>");
    cfg->setInnerAlarmPort(7332);
    cfg->setOuterAddress("203.0.113.1");
    cfg->setOuterAlarmPort(17332);
    auto panel = add("DeviceId=panel;DevType=SecurityCP;AK=ak;SK=sk;");
    auto cam = add("DeviceId=cam;DevType=encodingDev;DevProtocol=aldonV5;");
    auto nat = add("DeviceId=nat;DevType=encodingDev;DevProtocol=aldonV5;");
    nat->setDasServer("203.0.113.1", 7660);
    // The camera's address request: refused for bad addresses or ports, answered in every case.
    for (uint16_t port : {0, 65535, 7660}) {
        auto r = info("cam", 4, "", port == 0 ? "" : "10.1.1.1", port == 0 ? 7660 : port);
        VEXA_CMS_DAS_ANSWER a{};
        EXPECT_EQ(reg(-1, VEXA_CMS_DAS_REQ, &r, &a, sizeof a), 1);
        EXPECT_EQ(std::to_string(cam->dasPort()) + " " + a.szServerID + " " + std::to_string(strlen(a.szDomain)),
                  port == 7660 ? "7660 das_10.1.1.1_7660 12" : "0  0") << port;
    }
    // The login text (device text must not forge pairs) and the answer; negative settings count as 0,
    // a control panel gets its storage server.
    struct Case { std::shared_ptr<CVexaDevice> dev; uint8_t proto; const char *shortSerial, *text, *answer; };
    const Case cases[] = {
        {panel, 2, "X;Y=Z456789", "regIP=;regPort=0;serialNo=X_Y_Z4567;devProtocol=VEXA", "20/4 40/0 0@:0 1:ak"},
        {panel, 2, "0123456789", "regIP=;regPort=0;serialNo=0123456789;devProtocol=VEXA", "20/4 40/0 0@:0 1:ak"},
        // Registered on its requested address, not the outer one: inner alarm port; not a panel.
        {cam, 4, "", "regIP=10.1.1.1;regPort=7660;serialNo=FULLSERIAL0001;devProtocol=aldonV5", "20/4 40/0 1@10.1.1.1:7332 0:"},
        // Registered on the outer address: told the outer alarm port.
        {nat, 4, "", "regIP=203.0.113.1;regPort=7660;serialNo=FULLSERIAL0001;devProtocol=aldonV5",
         "20/4 40/0 1@203.0.113.1:17332 0:"},
    };
    int handle = 11;
    for (const Case& c : cases) {
        Login l;
        c.dev->setConnStatus(-1);
        EXPECT_EQ(heardDuring(c.dev, [&] { EXPECT_EQ(login(info(c.dev->deviceId(), c.proto, c.shortSerial), handle, l), 1); }),
                  (Host::Heard{{0u, c.text}}));
        EXPECT_EQ(l.str(), c.answer) << c.text;
        EXPECT_EQ(opMessages(), std::vector<std::string>{COperationMsgMgr::makeRegister(handle++)});
    }
    // A second login while on line calls nobody; missing server records are refused.
    auto r = info("panel");
    Login l;
    EXPECT_TRUE(heardDuring(panel, [&] { EXPECT_EQ(login(r, 99, l), 1); }).empty());
    l.answer.pAlarmServer = nullptr;
    EXPECT_EQ(reg(99, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 0);
    EXPECT_EQ(reg(99, VEXA_CMS_DEV_ON, &r, nullptr, 0), 0);
}

TEST_F(Registration, AuthenticationAndKeyOutcomes) {
    add("DeviceId=v;DeviceKey=secret;DevProtocol=VEXA;AllowDirectConn=1;");
    add("DeviceId=f;DeviceKey=secret;DevProtocol=other;AllowDirectConn=1;");
    auto k = add("DeviceId=k;");
    char key[64];
    struct Case { const char* id; uint32_t type; uint8_t proto; uint32_t inLen; VEXA_BOOL result; const char* key; int hint; };
    const Case cases[] = {
        {"v", VEXA_CMS_DEV_AUTH, 2, sizeof key, 1, "secret", 0},
        {"f", VEXA_CMS_DEV_AUTH, 4, sizeof key, 1, "secret", 0},  // an unknown added protocol is not checked
        {"v", VEXA_CMS_DEV_AUTH, 2, 4, 1, "sec", 0},              // cut to the library's buffer
        {"v", VEXA_CMS_DEV_AUTH, 2, 0, 0, "", 0},
        {"k", VEXA_CMS_DEV_SESSIONKEY_ERROR, 2, 0, 1, "", 1},
        {"ghost", VEXA_CMS_DEV_OFF, 2, sizeof key, 0, "", 0},
        {"ghost", VEXA_CMS_DEV_ON, 2, sizeof key, 0, "", 0},
    };
    for (const Case& c : cases) {
        memset(key, 0, sizeof key);
        auto r = info(c.id, c.proto);
        EXPECT_EQ(reg(-1, c.type, &r, key, c.inLen), c.result) << c.id << " " << int(c.proto);
        EXPECT_STREQ(key, c.key);
        const auto expect = c.hint ? std::vector<std::string>{COperationMsgMgr::makeLogout(c.id, c.hint, -1)}
                                   : std::vector<std::string>();
        EXPECT_EQ(opMessages(), expect) << c.id;
    }
    // A device that is logged in keeps its session: a newcomer with a wrong key is refused.
    login("k", 5);
    drain();
    auto r = info("k");
    EXPECT_EQ(reg(-1, VEXA_CMS_DEV_SESSIONKEY_ERROR, &r), 0);
    EXPECT_TRUE(opMessages().empty());
    EXPECT_EQ(k->userHandle(), 5);
}

TEST_F(Registration, DeviceOffActsOnlyOnItsOwnSession) {
    auto d = add("DeviceId=o;");
    ASSERT_EQ(login("o", 21), 1);
    // The device logged out (session 21) and logged in again (22) before the message was handled.
    auto r = info("o");
    EXPECT_EQ(reg(21, VEXA_CMS_DEV_OFF, &r), 1);
    const auto msgs = opMessages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1], COperationMsgMgr::makeLogout("o", 2, 21));
    ASSERT_EQ(login("o", 22), 1);
    EXPECT_TRUE(heardDuring(d, [&] { COperationMsgMgr::instance()->handle(msgs[1]); }).empty());
    EXPECT_EQ(d->userHandle(), 22);
    EXPECT_EQ(d->connStatus(), 0);
    // The message about the current session takes it off line.
    EXPECT_EQ(heardDuring(d, [&] { mgr->procDeviceOff("o", 2, 22); }), (Host::Heard{{10u, "OfflineHint=2"}}));
    EXPECT_EQ(d->userHandle(), -1);
    // A refusal before login maps hints to statuses; the hint is never used as a handle.
    for (const auto& c : {std::make_pair(1, 8), std::make_pair(3, 11), std::make_pair(7, -1)}) {
        mgr->procDeviceOff("o", c.first, -1);
        EXPECT_EQ(d->connStatus(), c.second) << c.first;
    }
    // An on-line step for a handle nobody holds any more does nothing.
    EXPECT_EQ(mgr->deviceOn(22), -1);
    EXPECT_EQ(d->connStatus(), -1);
}

TEST_F(Registration, DisconnectMessageDoesNotEndANewSessionUnderTheSameIdentifier) {
    auto a = add("DeviceId=same;");
    login("same", 31);
    drain();
    a->DisConnect();
    const auto msgs = opMessages();
    EXPECT_EQ(msgs, std::vector<std::string>{COperationMsgMgr::makeLogout("same", 31, 31)});
    EXPECT_EQ(a->connStatus(), -1);
    auto b = add("DeviceId=same;");
    login("same", 32);
    for (const auto& m : msgs) COperationMsgMgr::instance()->handle(m);
    EXPECT_EQ(b->userHandle(), 32);
    EXPECT_EQ(b->connStatus(), 0);
    // A device that never logged in posts nothing on disconnect.
    auto c = add("DeviceId=never;");
    drain();
    c->DisConnect();
    EXPECT_TRUE(opMessages().empty());
}

TEST_F(Registration, SubscriptionMessagesBecomeAlarmTexts) {
    const std::string text = "{\"basic\":{},\"payload\":{\"code\":1130}}", big(4097, 'x');
    VEXA_ALARM_MSG alarm = alarmMsg(1, 1, text.data(), text.size()), tooBig = plainAlarm(big);
    strcpy(alarm.szDeviceID, "panel\"1");
    VEXA_CMS_MSG msg{2, {}, "CIDEventMgr", "CIDEvent", &alarm, sizeof alarm, 0};
    EXPECT_EQ(CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr), 1);
    Json::Value v, expect;
    ASSERT_TRUE(vexa::parseJson(CAlarmMsgMgr::instance()->pop(), v));
    ASSERT_TRUE(vexa::parseJson("{\"deviceID\":\"panel\\\"1\",\"domain\":\"CIDEventMgr\",\"identifier\":\"CIDEvent\","
                                "\"alarmType\":1,\"dataType\":1}", expect));
    expect["alarm"] = text;
    EXPECT_EQ(v, expect);
    // Over the alarm size limit, other message types and empty records queue nothing.
    VEXA_CMS_MSG over = msg, otherType = msg, empty = msg;
    over.pData = &tooBig;
    otherType.dwMsgType = 3;
    empty.dwMsgType = 3;
    empty.dwDataLen = 0;
    for (VEXA_CMS_MSG* m : {&over, &otherType, &empty, static_cast<VEXA_CMS_MSG*>(nullptr)})
        CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, m, mgr);
    EXPECT_EQ(CAlarmMsgMgr::instance()->queued(), 0u);
}

TEST_F(Registration, AlarmLinkRecordForms) {
    const std::string start = "POST /alarm HTTP/1.1\r\nHost: gw\r\nX-Pad: ";
    const std::string head = start + std::string(442 - start.size() - 4, 'h') + "\r\n\r\n";
    const auto doc = [](size_t size, char fill) { return "<a>" + std::string(size - 7, fill) + "</a>"; };
    const std::string noHeaderEnd = "<EventNotificationAlert>whole</EventNotificationAlert>";
    VEXA_ALARM_TEXT desc{"<descriptor/>", 13, 0};
    // A plain text record, or (plain empty) a structured one of kind and text; expect "": nothing queued.
    struct Case { const char* name; uint8_t type, data; std::string plain; int kind; std::string text;
                  bool header, descriptor; std::string expect; bool tooLong; };
    const Case cases[] = {
        {"exactly 4096", 2, 1, std::string(4096, 'a'), 0, "", false, false, std::string(4096, 'a'), false},
        {"4097 dropped", 2, 1, std::string(4097, 'b'), 0, "", false, false, "", true},
        {"data type 4", 2, 4, "<a/>", 0, "", false, false, "", false},
        {"kind 1", 3, 0, "", 1, "<k1/>", false, false, "<k1/>", false},
        {"kind 5 via 2/3", 2, 3, "", 5, "<k5/>", false, false, "<k5/>", false},
        {"4678 bytes without a header", 3, 0, "", 1, doc(4678, 'y'), false, false, "", true},
        {"long document behind a header, whole", 3, 0, "", 0, head + doc(3878, 'x'), true, false, doc(3878, 'x'), false},
        {"4097-byte document behind a header", 3, 0, "", 0, head + doc(4097, 'x'), true, false, "", true},
        {"kind 13 header without end", 3, 0, "", 13, noHeaderEnd, true, false, noHeaderEnd, false},
        {"kind 13 descriptor", 3, 0, "", 13, "<ignored/>", false, true, "<descriptor/>", false},
        {"kind 13 without descriptor", 3, 0, "", 13, "<ignored/>", false, false, "", false},
        {"other kind", 3, 0, "", 7, "<k7/>", false, false, "", false},
    };
    int32_t link = 0;
    for (const Case& c : cases) {
        int marker = 0;
        const VEXA_ALARM_STRUCT s{c.kind, 0, c.descriptor ? &desc : nullptr, c.descriptor ? 1u : 0u, 0, c.text.c_str(),
                                  static_cast<uint32_t>(c.text.size()), {}, c.header ? &marker : nullptr, c.header ? 1u : 0u, 0};
        VEXA_ALARM_MSG msg = c.plain.empty() ? alarmMsg(c.type, c.data, &s, sizeof s)
                                             : alarmMsg(c.type, c.data, c.plain.data(), c.plain.size());
        vtest::LogCapture log(5);
        EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(++link, &msg, mgr), 1) << c.name;  // a fresh link: lines not held back
        EXPECT_EQ(CAlarmMsgMgr::instance()->pop(), c.expect) << c.name;
        EXPECT_EQ(CAlarmMsgMgr::instance()->queued(), 0u) << c.name;
        EXPECT_EQ(log.contains("too long and drop."), c.tooLong) << c.name;
    }
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(0, nullptr, nullptr), 1);
    EXPECT_EQ(CAlarmMsgMgr::instance()->queued(), 0u);
}

TEST_F(Registration, FullAlarmQueueRefusesDeviceAlarmsButTakesJunk) {
    CAlarmMsgMgr::instance()->setBound(2);
    const std::string doc = "<EventNotificationAlert/>", big(5000, 'b');
    VEXA_ALARM_MSG plain = plainAlarm(doc), tooLong = plainAlarm(big);
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &plain, mgr), 1);
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &plain, mgr), 1);
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &plain, mgr), 0);  // full: left with the device
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &tooLong, mgr), 1);  // junk is taken and dropped
    CAlarmMsgMgr::instance()->pop();
    CAlarmMsgMgr::instance()->pop();
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &plain, mgr), 1);  // drained: taken again
}

TEST_F(Registration, EchoedDeviceTextIsCutAndBadInputLinesAreRateLimitedOnTheClock) {
    vexa::ManualClock clock;
    mgr->setClock(&clock);
    vtest::LogCapture log(2);
    const std::string doc = "<a>" + std::string(4000, 'q') + "</a>";
    VEXA_ALARM_MSG plain = plainAlarm(doc), junk = plainAlarm(doc, 9);
    CVexaDeviceMgr::pfnAlarmMsgCB(3, &plain, mgr);
    for (const std::string& line : log.lines())
        EXPECT_TRUE(line.find("ProcessMsg") == std::string::npos || line.size() < 400) << line;
    EXPECT_EQ(log.count("ProcessMsg"), 1u);
    for (int round = 1; round <= 2; ++round) {
        for (int i = 0; i < 100; ++i) CVexaDeviceMgr::pfnAlarmMsgCB(100, &junk, mgr);
        EXPECT_EQ(log.count("Other dwAlarmType."), 5u * round) << round;  // the gate's burst per period
        clock.advance(60 * 1000);  // a new period only on the manager's clock
    }
    mgr->setClock(nullptr);
}

TEST_F(Registration, PendingLoginCapReachesBothLibraries) {
    struct Case { const char* config; uint32_t cap; };
    const Case cases[] = {{"<c><MaxPendingLogins>7</MaxPendingLogins></c>", 7},
                          {"<c><MaxPendingLogins>-3</MaxPendingLogins></c>", 1024}};
    for (const Case& c : cases) {
        CConfigCenter::instance()->parseConfigText(c.config);
        ASSERT_EQ(mgr->initSDK("127.0.0.1", gwhost::freeLoopbackPort(), gwhost::freeLoopbackPort()), 0) << c.config;
        VEXA_SDK_STATS cms{}, ams{};
        ASSERT_TRUE(VEXA_CMS_GetSDKStats(&cms) && VEXA_AMS_GetSDKStats(&ams));
        EXPECT_EQ(std::make_pair(cms.dwMaxPendingLogins, ams.dwMaxPendingLogins), std::make_pair(c.cap, c.cap)) << c.config;
        mgr->unInitSDK();
    }
}

// An off-line of session n and the login of session n+1 meet: whichever goes first, the device
// ends logged in with n+1 and the host was last told 0, in the order the changes happened.
TEST_F(Registration, OffLineAndNextLoginAreSerialisedPerDevice) {
    NotifyPool::instance().start();
    auto d = add("DeviceId=race;");
    ASSERT_EQ(login("race", 1000), 1);
    constexpr int kCycles = 400;
    for (int n = 1000; n < 1000 + kCycles; ++n) {
        std::thread off([&] { mgr->procDeviceOff("race", 2, n); });
        std::thread on([&] { login("race", n + 1); });
        off.join();
        on.join();
        ASSERT_EQ(d->userHandle(), n + 1) << n;
        ASSERT_EQ(d->connStatus(), 0) << n;
        if (n % 50 == 0) drain();
    }
    // A login that arrives while the old session is being ended waits, then wins.
    const int32_t last = 1000 + kCycles;
    std::thread late;
    mgr->setDeviceOffHook([&](const std::string&) {
        late = std::thread([&] { login("race", last + 1); });
        std::unique_lock<std::mutex> lk(host.lock);
        host.cv.wait_for(lk, std::chrono::milliseconds(50), [&] { return d->userHandle() == last + 1; });
    });
    mgr->procDeviceOff("race", 2, last);
    late.join();
    EXPECT_EQ(d->userHandle(), last + 1);
    EXPECT_EQ(d->connStatus(), 0);
    ASSERT_TRUE(vtest::waitUntil([&] { return d->statusDelivered(); }));
    const auto heard = host.of(d);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back(), 0u);
    for (size_t i = 1; i < heard.size(); ++i) ASSERT_NE(heard[i], heard[i - 1]) << i;  // only changes, in order
    EXPECT_FALSE(host.overlap);
}

// A host status callback that blocks holds up no login: the library's callback returns while
// the host is still inside its own, and each device hears its changes in order.
TEST_F(Registration, SlowHostCallbackDelaysNoLogin) {
    NotifyPool::instance().start();
    constexpr int kDevices = 20;
    const auto devs = addMany("slow", 0, kDevices);
    host.hold = true;
    std::atomic<int> returned{0};
    std::vector<std::thread> lib;
    for (int i = 0; i < kDevices; ++i)
        lib.emplace_back([&, i] {
            login("slow" + std::to_string(i), 200 + i);
            ++returned;
        });
    const bool allReturned = vtest::waitUntil([&] { return returned.load() == kDevices; });
    host.release();
    for (auto& t : lib) t.join();
    EXPECT_TRUE(allReturned);
    for (int i = 0; i < kDevices; ++i) {
        mgr->procDeviceOff("slow" + std::to_string(i), 2, 200 + i);
        login("slow" + std::to_string(i), 300 + i);
    }
    for (int i = 0; i < kDevices; ++i) {
        ASSERT_TRUE(vtest::waitUntil([&] { return host.of(devs[i]).size() == 3; })) << i;
        EXPECT_EQ(host.of(devs[i]), (std::vector<uint32_t>{0, 10, 0})) << i;
        EXPECT_EQ(host.locked([&] { return host.statusInside[Host::key(devs[i])]; }), 0u);  // stored before told
    }
    EXPECT_FALSE(host.overlap);
}

TEST_F(Registration, DisconnectDropsPendingNotifications) {
    NotifyPool::instance().start();
    auto a = add("DeviceId=first;");
    auto b = add("DeviceId=second;");
    host.hold = true;
    login("first", 60);  // a pool thread is now held inside a's callback
    ASSERT_TRUE(vtest::waitUntil([&] { return host.locked([&] { return host.running[Host::key(a)]; }) == 1; }));
    // Keep every pool thread busy so b's notifications stay queued.
    const auto busy = addMany("busy", 1, static_cast<int>(NotifyPool::kThreads), 70);
    login("second", 61);
    mgr->procDeviceOff("second", 2, 61);
    b->DisConnect();
    host.release();
    for (auto& d : busy) ASSERT_TRUE(vtest::waitUntil([&] { return host.of(d).size() == 1; }));
    NotifyPool::instance().stop();
    EXPECT_TRUE(host.of(b).empty());
    EXPECT_EQ(host.of(a), (std::vector<uint32_t>{0}));
}

TEST(ServerLookup, AddressKinds) {
    struct Case { const char* addr; const char* url; const char* expect; };
    const Case cases[] = {
        {"192.0.2.1", "/OVIX/System/PictureServer", "ipv4Address"},
        {"::1", "", "ipv6Address"},
        {"gateway", "", "hostName"},
        {"999.1.1.1", "", "hostName"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(CVexaDeviceMgr::addressTypeName(out, c.addr, c.url), 0);
        EXPECT_EQ(out, c.expect) << c.addr;
    }
    std::string out;
    EXPECT_EQ(CVexaDeviceMgr::addressTypeName(out, nullptr, ""), -1);
    // Codec indexes outside the table give the empty text, never a read past it.
    EXPECT_EQ(CVexaDeviceMgr::audioCodecName(7) + CVexaDeviceMgr::audioCodecName(8) + CVexaDeviceMgr::audioCodecName(-1), "MP3");
}

}  // namespace
