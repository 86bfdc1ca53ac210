// The registry, the library callbacks driven directly with library records (registration,
// subscription, alarm links), the device-off rules, and the ordering of a device's session
// changes and host notifications under concurrent login and off-line. The alarm side is
// connected but its workers do not run, so queued texts can be inspected.
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
    Heard calls(const std::shared_ptr<CVexaDevice>& d) {
        std::lock_guard<std::mutex> lk(lock);
        return heard[static_cast<CDevBase*>(d.get())];
    }
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
};

VEXA_ALARM_MSG plainAlarm(std::string& doc, uint8_t dataType = 1) {
    VEXA_ALARM_MSG m{};
    m.byAlarmType = 2;
    m.byDataType = dataType;
    m.pXmlBuf = &doc[0];
    m.dwXmlBufLen = static_cast<uint32_t>(doc.size());
    return m;
}

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
        while (!CAlarmMsgMgr::instance()->pop().empty()) {
        }
    }
    std::shared_ptr<CVexaDevice> add(const std::string& params) {
        auto d = std::make_shared<CVexaDevice>();
        d->SetConnStatusCallBack(&Host::onStatus, &host);
        d->Connect_V2(params.c_str());
        return d;
    }
    static VEXA_CMS_DEV_REG_INFO info(const std::string& id, uint8_t proto = 2) {
        VEXA_CMS_DEV_REG_INFO r{};
        strncpy(r.szDeviceID, id.c_str(), sizeof r.szDeviceID - 1);
        strcpy(r.szDeviceIP, "192.0.2.10");
        r.wDevicePort = 5000;
        strcpy(r.szDevSerial, "FULLSERIAL0001");
        r.byDevProtocolVersion = proto;
        return r;
    }
    VEXA_BOOL reg(int32_t handle, uint32_t type, VEXA_CMS_DEV_REG_INFO* r, void* in = nullptr, uint32_t inLen = 0) {
        return CVexaDeviceMgr::pfnDeviceRegisterCB(handle, type, r, r ? sizeof *r : 0, in, inLen, mgr);
    }
    VEXA_BOOL login(const std::string& id, int32_t handle) {
        auto r = info(id);
        Login l;
        return reg(handle, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer);
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
    struct Case { const char* params; bool allowDirect, active, videoReview; };
    const Case cases[] = {
        {"DeviceId=dev1;AllowDirectConn=1;AlarmActiveStatus=active;VideoReview=1;", true, true, true},
        {"DeviceId=dev2;AllowDirectConn=2;AlarmActiveStatus=Active;VideoReview=01;", false, false, true},
        {"DeviceId=dev3;", false, false, false},
        {"DeviceId=dev4;AllowDirectConn= 1;AlarmActiveStatus=inactive;VideoReview=yes;", true, false, false},
    };
    for (const Case& c : cases) {
        auto d = add(c.params);
        EXPECT_EQ(d->allowDirectConnect(), c.allowDirect) << c.params;
        EXPECT_EQ(d->alarmActive(), c.active) << c.params;
        EXPECT_EQ(d->videoReviewEnabled(), c.videoReview) << c.params;
        EXPECT_EQ(mgr->findDevice(d->deviceId()), d);
        d->SetConnectParams("VideoReview=1;");
        d->SetConnectParams(c.params);  // the same rule when the host changes them
        EXPECT_EQ(d->videoReviewEnabled(), c.videoReview) << c.params;
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
    // Taken over by another object, a repeated Connect_V2 takes the identifier back.
    auto other = add("DeviceId=again;");
    d->Connect_V2("DeviceId=again;");
    EXPECT_EQ(mgr->findDevice("again"), d);
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
        auto r = info("cam", 4);
        strcpy(r.szServerAddress, port == 0 ? "" : "10.1.1.1");
        r.wServerPort = port == 0 ? 7660 : port;
        VEXA_CMS_DAS_ANSWER a{};
        EXPECT_EQ(reg(-1, VEXA_CMS_DAS_REQ, &r, &a, sizeof a), 1);
        EXPECT_EQ(cam->dasPort(), port == 7660 ? 7660 : 0) << port;
        EXPECT_STREQ(a.szServerID, port == 7660 ? "das_10.1.1.1_7660" : "");
        EXPECT_EQ(strlen(a.szDomain), port == 7660 ? 12u : 0u);
    }
    // The login text: device text must not forge pairs.
    struct Case {
        std::shared_ptr<CVexaDevice> dev;
        uint8_t proto;
        const char *shortSerial, *text;
        uint32_t alarmType, alarmPort, storage;
    };
    const Case cases[] = {
        {panel, 2, "X;Y=Z456789", "regIP=;regPort=0;serialNo=X_Y_Z4567;devProtocol=VEXA", 0, 0, 1},
        {panel, 2, "0123456789", "regIP=;regPort=0;serialNo=0123456789;devProtocol=VEXA", 0, 0, 1},
        // Registered on its requested address, not the outer one: inner alarm port; not a panel.
        {cam, 4, "", "regIP=10.1.1.1;regPort=7660;serialNo=FULLSERIAL0001;devProtocol=aldonV5", 1, 7332, 0},
        // Registered on the outer address: told the outer alarm port.
        {nat, 4, "", "regIP=203.0.113.1;regPort=7660;serialNo=FULLSERIAL0001;devProtocol=aldonV5", 1, 17332, 0},
    };
    int handle = 11;
    for (const Case& c : cases) {
        auto r = info(c.dev->deviceId(), c.proto);
        strcpy(r.szShortSerial, c.shortSerial);
        Login l;
        c.dev->setConnStatus(-1);
        host.heard.clear();
        ASSERT_EQ(reg(handle, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 1);
        EXPECT_EQ(host.calls(c.dev), (Host::Heard{{0u, c.text}}));
        EXPECT_EQ(l.answer.dwKeepAliveSec, 20u);
        EXPECT_EQ(l.answer.dwTimeOutCount, 4u);
        EXPECT_EQ(l.answer.dwAlarmKeepAliveSec, 40u);
        EXPECT_EQ(l.answer.dwAlarmTimeOutCount, 0u);  // negative settings count as 0
        EXPECT_EQ(l.alarm.dwAlarmType, c.alarmType);
        EXPECT_EQ(l.alarm.wPort, c.alarmPort);
        EXPECT_STREQ(l.alarm.szAddress, c.alarmPort ? c.dev->dasAddress().c_str() : "");
        EXPECT_EQ(l.storage.dwEnable, c.storage);  // a control panel gets its storage server
        EXPECT_STREQ(l.storage.szAccessKey, c.storage ? "ak" : "");
        EXPECT_EQ(opMessages(), std::vector<std::string>{COperationMsgMgr::makeRegister(handle++)});
    }
    // A second login while on line calls nobody; missing server records are refused.
    auto r = info("panel");
    Login l;
    host.heard.clear();
    EXPECT_EQ(reg(99, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 1);
    EXPECT_TRUE(host.calls(panel).empty());
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
    host.heard.clear();
    COperationMsgMgr::instance()->handle(msgs[1]);
    EXPECT_EQ(d->userHandle(), 22);
    EXPECT_EQ(d->connStatus(), 0);
    EXPECT_TRUE(host.calls(d).empty());
    // The message about the current session takes it off line.
    mgr->procDeviceOff("o", 2, 22);
    EXPECT_EQ(d->userHandle(), -1);
    EXPECT_EQ(host.calls(d), (Host::Heard{{10u, "OfflineHint=2"}}));
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
    std::string text = "{\"basic\":{},\"payload\":{\"code\":1130}}", big(4097, 'x');
    VEXA_ALARM_MSG alarm = plainAlarm(text), tooBig = plainAlarm(big);
    alarm.byAlarmType = 1;
    strcpy(alarm.szDeviceID, "panel\"1");
    VEXA_CMS_MSG msg{};
    msg.dwMsgType = 2;
    strcpy(msg.szDomain, "CIDEventMgr");
    strcpy(msg.szIdentifier, "CIDEvent");
    msg.pData = &alarm;
    msg.dwDataLen = sizeof alarm;
    EXPECT_EQ(CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr), 1);
    Json::Value v, expect;
    ASSERT_TRUE(vexa::parseJson(CAlarmMsgMgr::instance()->pop(), v));
    ASSERT_TRUE(vexa::parseJson("{\"deviceID\":\"panel\\\"1\",\"domain\":\"CIDEventMgr\",\"identifier\":\"CIDEvent\","
                                "\"alarmType\":1,\"dataType\":1}", expect));
    expect["alarm"] = text;
    EXPECT_EQ(v, expect);
    // Over the alarm size limit, other message types and empty records queue nothing.
    msg.pData = &tooBig;
    CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr);
    msg.dwMsgType = 3;
    msg.pData = &alarm;
    CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr);
    msg.dwDataLen = 0;
    CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr);
    CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, nullptr, mgr);
    EXPECT_EQ(CAlarmMsgMgr::instance()->queued(), 0u);
}

TEST_F(Registration, AlarmLinkRecordForms) {
    std::string exact(4096, 'a'), over(4097, 'b');
    const std::string start = "POST /alarm HTTP/1.1\r\nHost: gw\r\nX-Pad: ";
    const std::string head = start + std::string(442 - start.size() - 4, 'h') + "\r\n\r\n";
    const std::string doc3878 = "<a>" + std::string(3878 - 7, 'x') + "</a>";
    const std::string doc4097 = "<a>" + std::string(4097 - 7, 'x') + "</a>";
    const std::string text4678 = "<a>" + std::string(4678 - 7, 'y') + "</a>";
    const std::string withHeader = head + doc3878, overHeader = head + doc4097;
    const char* noHeaderEnd = "<EventNotificationAlert>whole</EventNotificationAlert>";
    VEXA_ALARM_TEXT desc{"<descriptor/>", 13, 0};
    struct Case {
        const char* name;
        uint8_t type, data;
        const char* plain;  // else a structured record of kind and text
        uint32_t plainLen;
        int kind;
        const char* text;
        bool header, descriptor;
        std::string expect;  // "" : nothing queued
        bool tooLong;
    };
    const Case cases[] = {
        {"exactly 4096", 2, 1, exact.c_str(), 4096, 0, nullptr, false, false, exact, false},
        {"4097 dropped", 2, 1, over.c_str(), 4097, 0, nullptr, false, false, "", true},
        {"data type 4", 2, 4, "<a/>", 4, 0, nullptr, false, false, "", false},
        {"kind 1", 3, 0, nullptr, 0, 1, "<k1/>", false, false, "<k1/>", false},
        {"kind 5 via 2/3", 2, 3, nullptr, 0, 5, "<k5/>", false, false, "<k5/>", false},
        {"4678 bytes without a header", 3, 0, nullptr, 0, 1, text4678.c_str(), false, false, "", true},
        {"long document behind a header, whole", 3, 0, nullptr, 0, 0, withHeader.c_str(), true, false, doc3878, false},
        {"4097-byte document behind a header", 3, 0, nullptr, 0, 0, overHeader.c_str(), true, false, "", true},
        {"kind 13 header without end", 3, 0, nullptr, 0, 13, noHeaderEnd, true, false, noHeaderEnd, false},
        {"kind 13 descriptor", 3, 0, nullptr, 0, 13, "<ignored/>", false, true, "<descriptor/>", false},
        {"kind 13 without descriptor", 3, 0, nullptr, 0, 13, "<ignored/>", false, false, "", false},
        {"other kind", 3, 0, nullptr, 0, 7, "<k7/>", false, false, "", false},
    };
    int32_t link = 0;
    for (const Case& c : cases) {
        int marker = 0;
        VEXA_ALARM_STRUCT s{};
        s.iKind = c.kind;
        s.pText = c.text;
        s.dwTextLen = c.text ? static_cast<uint32_t>(strlen(c.text)) : 0;
        s.pHeader = c.header ? &marker : nullptr;
        s.dwHeader = c.header ? 1 : 0;
        s.dwDescriptorCount = c.descriptor ? 1 : 0;
        s.pDescriptor = c.descriptor ? &desc : nullptr;
        VEXA_ALARM_MSG msg{};
        msg.byAlarmType = c.type;
        msg.byDataType = c.data;
        msg.pXmlBuf = c.plain ? const_cast<char*>(c.plain) : static_cast<void*>(&s);
        msg.dwXmlBufLen = c.plain ? c.plainLen : sizeof s;
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
    std::string doc = "<EventNotificationAlert/>", big(5000, 'b');
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
    std::string doc = "<a>" + std::string(4000, 'q') + "</a>";
    VEXA_ALARM_MSG plain = plainAlarm(doc), junk = plainAlarm(doc, 9);
    CVexaDeviceMgr::pfnAlarmMsgCB(3, &plain, mgr);
    for (const std::string& line : log.lines())
        if (line.find("ProcessMsg") != std::string::npos) {
            EXPECT_LT(line.size(), 400u);
        }
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
        EXPECT_EQ(cms.dwMaxPendingLogins, c.cap) << c.config;
        EXPECT_EQ(ams.dwMaxPendingLogins, c.cap) << c.config;
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
    std::vector<std::shared_ptr<CVexaDevice>> devs;
    for (int i = 0; i < kDevices; ++i) devs.push_back(add("DeviceId=slow" + std::to_string(i) + ";"));
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
        std::lock_guard<std::mutex> lk(host.lock);
        EXPECT_EQ(host.statusInside[static_cast<CDevBase*>(devs[i].get())], 0u);  // stored before told
    }
    EXPECT_FALSE(host.overlap);
}

TEST_F(Registration, DisconnectDropsPendingNotifications) {
    NotifyPool::instance().start();
    auto a = add("DeviceId=first;");
    auto b = add("DeviceId=second;");
    host.hold = true;
    login("first", 60);  // a pool thread is now held inside a's callback
    ASSERT_TRUE(vtest::waitUntil([&] {
        std::lock_guard<std::mutex> lk(host.lock);
        return host.running[static_cast<CDevBase*>(a.get())] == 1;
    }));
    // Keep every pool thread busy so b's notifications stay queued.
    std::vector<std::shared_ptr<CVexaDevice>> busy;
    for (size_t i = 1; i < NotifyPool::kThreads; ++i) {
        busy.push_back(add("DeviceId=busy" + std::to_string(i) + ";"));
        login("busy" + std::to_string(i), 70 + static_cast<int>(i));
    }
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
}

}  // namespace
