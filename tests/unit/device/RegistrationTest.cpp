// The registration, subscription and alarm callbacks driven directly with library records, and
// the device-off rules. The workers are not started, so queued messages can be inspected.
#include <gtest/gtest.h>

#include <cstring>

#include "alarm/AlarmMsgMgr.h"
#include "common/ConfigCenter.h"
#include "common/JsonUtil.h"
#include "alarm/OperationMsgMgr.h"
#include "TestSupport.h"
#include "VexaAmsSdk.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"

namespace {

struct StatusLog {
    std::vector<std::pair<uint32_t, std::string>> calls;
};
void VEXA_CALL onStatus(void*, uint32_t status, const char* text, void* user) {
    static_cast<StatusLog*>(user)->calls.emplace_back(status, text ? text : "");
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        mgr = CVexaDeviceMgr::instance();
        CConfigCenter::instance()->reset();
        drain();
    }
    void TearDown() override {
        for (const auto& id : mgr->deviceIds())
            if (auto d = mgr->findDevice(id)) d->DisConnect();
        drain();
    }
    static void drain() {
        while (!COperationMsgMgr::instance()->pop().empty()) {
        }
        while (!CAlarmMsgMgr::instance()->pop().empty()) {
        }
    }
    std::shared_ptr<CVexaDevice> add(const std::string& params) {
        auto d = std::make_shared<CVexaDevice>();
        d->SetConnStatusCallBack(onStatus, &status);
        d->Connect_V2(params.c_str());
        return d;
    }
    static VEXA_CMS_DEV_REG_INFO info(const std::string& id, uint8_t proto = 2) {
        VEXA_CMS_DEV_REG_INFO r;
        memset(&r, 0, sizeof r);
        strncpy(r.szDeviceID, id.c_str(), sizeof r.szDeviceID - 1);
        strcpy(r.szDeviceIP, "192.0.2.10");
        r.wDevicePort = 5000;
        strcpy(r.szDevSerial, "FULLSERIAL0001");
        r.byDevProtocolVersion = proto;
        return r;
    }
    struct Login {
        VEXA_CMS_STORAGE_SERVER storage{};
        VEXA_CMS_ALARM_SERVER alarm{};
        VEXA_CMS_LOGIN_ANSWER answer{30, 3, 30, 3, &storage, &alarm};
    };
    VEXA_BOOL reg(int32_t handle, uint32_t type, VEXA_CMS_DEV_REG_INFO* r, void* in = nullptr, uint32_t inLen = 0) {
        return CVexaDeviceMgr::pfnDeviceRegisterCB(handle, type, r, r ? sizeof *r : 0, in, inLen, mgr);
    }
    std::vector<Json::Value> opMessages() {
        std::vector<Json::Value> out;
        for (std::string s; !(s = COperationMsgMgr::instance()->pop()).empty();) {
            Json::Value v;
            EXPECT_TRUE(vexa::parseJson(s, v)) << s;
            out.push_back(v);
        }
        return out;
    }
    CVexaDeviceMgr* mgr = nullptr;
    StatusLog status;
};

TEST(ConnectParams, ParsingRules) {
    struct Case {
        const char* text;
        std::map<std::string, std::string> expect;
    } cases[] = {
        {"DeviceId=A;DeviceKey=k", {{"DeviceId", "A"}}},  // the unterminated last pair is lost
        {"DeviceId=A;;noequals;=v;K=a=b;", {{"DeviceId", "A"}, {"K", "a=b"}}},
        {"K=1;K=2;", {{"K", "2"}}},
        {"K=;", {{"K", ""}}},
        {"", {}},
        {";;;", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(CVexaDevice::parseParams(c.text), c.expect) << c.text;
    EXPECT_TRUE(CVexaDevice::parseParams(nullptr).empty());
}

TEST_F(Registration, ConnectFlagsAndRegistry) {
    struct Case {
        const char* params;
        bool allowDirect;
        bool active;
    } cases[] = {
        {"DeviceId=d1;AllowDirectConn=1;AlarmActiveStatus=active;", true, true},
        {"DeviceId=d2;AllowDirectConn=2;AlarmActiveStatus=Active;", false, false},
        {"DeviceId=d3;", false, false},
        {"DeviceId=d4;AllowDirectConn= 1;AlarmActiveStatus=inactive;", true, false},
    };
    for (const Case& c : cases) {
        auto d = add(c.params);
        EXPECT_EQ(d->allowDirectConnect(), c.allowDirect) << c.params;
        EXPECT_EQ(d->alarmActive(), c.active) << c.params;
        EXPECT_EQ(mgr->findDevice(d->deviceId()), d);
    }
    // The same identifier again updates keys but does not register (or log) again.
    auto d = mgr->findDevice("d1");
    vtest::LogCapture log(3);
    d->Connect_V2("DeviceId=d1;DeviceKey=new;");
    EXPECT_EQ(d->deviceKey(), "new");
    EXPECT_FALSE(log.contains("add device succ."));
}

TEST_F(Registration, UnknownDevicesAreRefused) {
    auto r = info("ghost");
    Login l;
    for (uint32_t type : {0u, 1u, 3u, 4u, 8u, 9u, 13u}) EXPECT_EQ(reg(-1, type, &r, &l.answer, sizeof l.answer), 0) << type;
    EXPECT_TRUE(opMessages().empty());
}

TEST_F(Registration, LoginOfVexaDevice) {
    CConfigCenter::instance()->parseConfigText(
        "<c><HeartbeatEnable>1</HeartbeatEnable><hb_time>20</hb_time><hb_fail>4</hb_fail>"
        "<AlarmKeepAliveSec>40</AlarmKeepAliveSec><AlarmTimeOutCount>-2</AlarmTimeOutCount></c>");
    auto d = add("DeviceId=panel;DevType=SecurityCP;AK=ak;SK=sk;");
    struct Case {
        const char* shortSerial;
        const char* stored;
    } cases[] = {{"ABCDEFGHIJKL", "BCDEFGHIJ"}, {"0123456789", "0123456789"}, {"X;Y=Z456789", "X;Y=Z4567"}};
    int handle = 11;
    for (const Case& c : cases) {
        auto r = info("panel");
        strcpy(r.szShortSerial, c.shortSerial);
        Login l;
        d->setConnStatus(-1);
        status.calls.clear();
        ASSERT_EQ(reg(handle, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 1);
        EXPECT_EQ(d->serialNo(), c.stored);
        ASSERT_EQ(status.calls.size(), 1u);
        std::string serial = c.stored;
        for (char& ch : serial)
            if (ch == ';' || ch == '=') ch = '_';  // device text must not forge pairs
        EXPECT_EQ(status.calls[0].first, 0u);
        EXPECT_EQ(status.calls[0].second, "regIP=;regPort=0;serialNo=" + serial + ";devProtocol=VEXA");
        EXPECT_EQ(d->userHandle(), handle);
        EXPECT_EQ(d->connStatus(), 0);
        EXPECT_EQ(l.answer.dwKeepAliveSec, 20u);
        EXPECT_EQ(l.answer.dwTimeOutCount, 4u);
        EXPECT_EQ(l.answer.dwAlarmKeepAliveSec, 40u);
        EXPECT_EQ(l.answer.dwAlarmTimeOutCount, 0u);  // negative settings count as 0
        EXPECT_EQ(l.alarm.dwEnable, 1u);
        EXPECT_EQ(l.alarm.dwAlarmType, 0u);
        EXPECT_EQ(l.storage.dwEnable, 1u);  // a control panel gets its storage server
        EXPECT_STREQ(l.storage.szAccessKey, "ak");
        auto msgs = opMessages();
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0]["dataType"].asString(), "REGISTER");
        EXPECT_EQ(msgs[0]["userId"].asInt(), handle);
        ++handle;
    }
    // A second login while on line calls nobody.
    auto r = info("panel");
    Login l;
    status.calls.clear();
    EXPECT_EQ(reg(99, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 1);
    EXPECT_TRUE(status.calls.empty());
    // Missing server records are refused.
    l.answer.pAlarmServer = nullptr;
    EXPECT_EQ(reg(99, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 0);
    EXPECT_EQ(reg(99, VEXA_CMS_DEV_ON, &r, nullptr, 0), 0);
}

TEST_F(Registration, AddressRequestThenLoginOfAldonDevice) {
    CConfigCenter* cfg = CConfigCenter::instance();
    cfg->setInnerAlarmPort(7332);
    cfg->setOuterAddress("203.0.113.1");
    cfg->setOuterAlarmPort(17332);
    auto d = add("DeviceId=cam;DevType=encodingDev;DevProtocol=aldonV5;");
    struct Case {
        const char* addr;
        uint16_t port;
        bool accepted;
    } cases[] = {{"10.1.1.1", 0, false}, {"10.1.1.1", 65535, false}, {"", 7660, false}, {"10.1.1.1", 7660, true}};
    for (const Case& c : cases) {
        auto r = info("cam", 4);
        strcpy(r.szServerAddress, c.addr);
        r.wServerPort = c.port;
        VEXA_CMS_DAS_ANSWER a;
        memset(&a, 0, sizeof a);
        EXPECT_EQ(reg(-1, VEXA_CMS_DAS_REQ, &r, &a, sizeof a), 1);  // answered in every case
        EXPECT_EQ(d->dasPort(), c.accepted ? 7660 : 0) << c.port;
        if (c.accepted) {
            EXPECT_STREQ(a.szServerID, "das_10.1.1.1_7660");
            EXPECT_EQ(strlen(a.szDomain), 12u);
        }
    }
    auto r = info("cam", 4);
    Login l;
    ASSERT_EQ(reg(3, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 1);
    ASSERT_EQ(status.calls.size(), 1u);
    EXPECT_EQ(status.calls[0].second, "regIP=10.1.1.1;regPort=7660;serialNo=FULLSERIAL0001;devProtocol=aldonV5");
    EXPECT_EQ(l.alarm.dwAlarmType, 1u);
    EXPECT_STREQ(l.alarm.szAddress, "10.1.1.1");  // not the outer address: inner alarm port
    EXPECT_EQ(l.alarm.wPort, 7332);
    EXPECT_EQ(l.storage.dwEnable, 0u);  // not a control panel
    EXPECT_EQ(d->regProtocol(), "aldonV5");
}

TEST_F(Registration, AuthenticationOutcomes) {
    auto vexa = add("DeviceId=v;DeviceKey=secret;DevProtocol=VEXA;AllowDirectConn=1;");
    auto closed = add("DeviceId=n;DeviceKey=secret;AllowDirectConn=0;");
    auto free = add("DeviceId=f;DeviceKey=secret;DevProtocol=other;AllowDirectConn=1;");
    char key[64];
    struct Case {
        const char* id;
        uint8_t proto;
        uint32_t inLen;
        VEXA_BOOL result;
        const char* key;
        int logoutHint;  // 0: none
    } cases[] = {
        {"v", 2, sizeof key, 1, "secret", 0},
        {"v", 4, sizeof key, 0, "", 3},  // added as VEXA, registers as aldonV5
        {"n", 2, sizeof key, 0, "", 0},   // direct connection not allowed
        {"f", 4, sizeof key, 1, "secret", 0},  // an unknown added protocol is not checked
        {"v", 2, 4, 1, "sec", 0},          // cut to the library's buffer
        {"v", 2, 0, 0, "", 0},
    };
    for (const Case& c : cases) {
        memset(key, 0, sizeof key);
        auto r = info(c.id, c.proto);
        EXPECT_EQ(reg(-1, VEXA_CMS_DEV_AUTH, &r, key, c.inLen), c.result) << c.id << " " << int(c.proto);
        EXPECT_STREQ(key, c.key);
        auto msgs = opMessages();
        if (c.logoutHint) {
            ASSERT_EQ(msgs.size(), 1u);
            EXPECT_EQ(msgs[0]["offlineHint"].asInt(), c.logoutHint);
            EXPECT_EQ(msgs[0]["userHandle"].asInt(), -1);
        } else {
            EXPECT_TRUE(msgs.empty());
        }
    }
}

TEST_F(Registration, KeyRejected) {
    auto d = add("DeviceId=k;");
    auto r = info("k");
    EXPECT_EQ(reg(-1, VEXA_CMS_DEV_SESSIONKEY_ERROR, &r), 1);
    auto msgs = opMessages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0]["offlineHint"].asInt(), 1);
    // A device that is logged in keeps its session: the newcomer is refused.
    Login l;
    reg(5, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer);
    opMessages();
    EXPECT_EQ(reg(-1, VEXA_CMS_DEV_SESSIONKEY_ERROR, &r), 0);
    EXPECT_TRUE(opMessages().empty());
    EXPECT_EQ(d->userHandle(), 5);
}

TEST_F(Registration, DeviceOffActsOnlyOnItsOwnSession) {
    auto d = add("DeviceId=o;");
    auto r = info("o");
    Login l;
    ASSERT_EQ(reg(21, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 1);
    // The device logged out (session 21) ...
    EXPECT_EQ(reg(21, VEXA_CMS_DEV_OFF, &r), 1);
    auto msgs = opMessages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[1]["dataType"].asString(), "LOGOUT");
    EXPECT_EQ(msgs[1]["offlineHint"].asInt(), 2);
    EXPECT_EQ(msgs[1]["userHandle"].asInt(), 21);
    // ... and logged in again (session 22) before the message was handled.
    ASSERT_EQ(reg(22, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer), 1);
    status.calls.clear();
    mgr->procDeviceOff("o", 2, 21);
    EXPECT_EQ(d->userHandle(), 22);
    EXPECT_EQ(d->connStatus(), 0);
    EXPECT_TRUE(status.calls.empty());
    // The message about the current session takes it off line.
    mgr->procDeviceOff("o", 2, 22);
    EXPECT_EQ(d->userHandle(), -1);
    EXPECT_EQ(d->connStatus(), 10);
    ASSERT_EQ(status.calls.size(), 1u);
    EXPECT_EQ(status.calls[0], std::make_pair(10u, std::string("OfflineHint=2")));
    // A refusal before login maps hints to statuses; the hint is never used as a handle.
    struct Case {
        int hint;
        int32_t status;
    } cases[] = {{1, 8}, {3, 11}, {7, -1}};
    for (const Case& c : cases) {
        mgr->procDeviceOff("o", c.hint, -1);
        EXPECT_EQ(d->connStatus(), c.status) << c.hint;
    }
}

TEST_F(Registration, DisconnectMessageDoesNotEndANewSessionUnderTheSameIdentifier) {
    auto a = add("DeviceId=same;");
    auto r = info("same");
    Login l;
    reg(31, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer);
    opMessages();
    a->DisConnect();
    auto msgs = opMessages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0]["userHandle"].asInt(), 31);
    EXPECT_EQ(a->connStatus(), -1);
    auto b = add("DeviceId=same;");
    reg(32, VEXA_CMS_DEV_ON, &r, &l.answer, sizeof l.answer);
    mgr->procDeviceOff(msgs[0]["deviceId"].asString(), msgs[0]["offlineHint"].asInt(), msgs[0]["userHandle"].asInt());
    EXPECT_EQ(b->userHandle(), 32);
    EXPECT_EQ(b->connStatus(), 0);
    // A device that never logged in posts nothing on disconnect.
    auto c = add("DeviceId=never;");
    opMessages();
    c->DisConnect();
    EXPECT_TRUE(opMessages().empty());
}

TEST(OperationMessages, IdentifiersAreEscaped) {
    const std::string id = "we\"ird\\id\n";
    Json::Value v;
    ASSERT_TRUE(vexa::parseJson(COperationMsgMgr::makeLogout(id, 2, 7), v));
    EXPECT_EQ(v["deviceId"].asString(), id);
    EXPECT_EQ(v["offlineHint"].asInt(), 2);
}

TEST_F(Registration, SubscriptionMessagesBecomeAlarmTexts) {
    std::string text = "{\"basic\":{},\"payload\":{\"code\":1130}}";
    VEXA_ALARM_MSG alarm;
    memset(&alarm, 0, sizeof alarm);
    alarm.byAlarmType = 1;
    alarm.byDataType = 1;
    strcpy(alarm.szDeviceID, "panel\"1");
    alarm.pXmlBuf = &text[0];
    alarm.dwXmlBufLen = static_cast<uint32_t>(text.size());
    VEXA_CMS_MSG msg;
    memset(&msg, 0, sizeof msg);
    msg.dwMsgType = 2;
    strcpy(msg.szDomain, "CIDEventMgr");
    strcpy(msg.szIdentifier, "CIDEvent");
    msg.pData = &alarm;
    msg.dwDataLen = sizeof alarm;
    EXPECT_EQ(CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr), 1);
    Json::Value v;
    ASSERT_TRUE(vexa::parseJson(CAlarmMsgMgr::instance()->pop(), v));
    EXPECT_EQ(v["deviceID"].asString(), "panel\"1");
    EXPECT_EQ(v["domain"].asString(), "CIDEventMgr");
    EXPECT_EQ(v["identifier"].asString(), "CIDEvent");
    EXPECT_EQ(v["alarmType"].asInt(), 1);
    EXPECT_EQ(v["dataType"].asInt(), 1);
    EXPECT_EQ(v["alarm"].asString(), text);
    // Over the alarm size limit, other message types and empty records queue nothing.
    std::string big(4097, 'x');
    alarm.pXmlBuf = &big[0];
    alarm.dwXmlBufLen = 4097;
    CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr);
    msg.dwMsgType = 3;
    CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr);
    msg.dwDataLen = 0;
    CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, &msg, mgr);
    CVexaDeviceMgr::pfnSubscribeMsgCB(1, 0, nullptr, mgr);
    EXPECT_EQ(CAlarmMsgMgr::instance()->queued(), 0u);
}

TEST(AlarmIntake, RecordForms) {
    std::string exact(4096, 'a'), over(4097, 'b');
    const char* withHeader = "POST /x HTTP/1.1\r\nHost: y\r\n\r\n<EventNotificationAlert/>";
    const char* noHeaderEnd = "<EventNotificationAlert>whole</EventNotificationAlert>";
    VEXA_ALARM_TEXT desc{"<descriptor/>", 13, 0};
    struct Case {
        const char* name;
        uint8_t type, data;
        const char* plain;
        uint32_t plainLen;
        int kind;
        const char* text;
        bool header;
        bool descriptor;
        std::string expect;
    } cases[] = {
        {"plain xml", 2, 1, "<a/>", 4, 0, nullptr, false, false, "<a/>"},
        {"plain json", 2, 2, "{}", 2, 0, nullptr, false, false, "{}"},
        {"exactly 4096", 2, 1, exact.c_str(), 4096, 0, nullptr, false, false, exact},
        {"4097 dropped", 2, 1, over.c_str(), 4097, 0, nullptr, false, false, ""},
        {"data type 4", 2, 4, "<a/>", 4, 0, nullptr, false, false, ""},
        {"type 0", 0, 1, "<a/>", 4, 0, nullptr, false, false, ""},
        {"kind 1", 3, 0, nullptr, 0, 1, "<k1/>", false, false, "<k1/>"},
        {"kind 5 via 2/3", 2, 3, nullptr, 0, 5, "<k5/>", false, false, "<k5/>"},
        {"kind 13 header", 3, 0, nullptr, 0, 0, withHeader, true, false, "<EventNotificationAlert/>"},
        {"kind 13 header without end", 3, 0, nullptr, 0, 13, noHeaderEnd, true, false, noHeaderEnd},
        {"kind 13 descriptor", 3, 0, nullptr, 0, 13, "<ignored/>", false, true, "<descriptor/>"},
        {"kind 13 without descriptor", 3, 0, nullptr, 0, 13, "<ignored/>", false, false, ""},
        {"other kind", 3, 0, nullptr, 0, 7, "<k7/>", false, false, ""},
    };
    for (const Case& c : cases) {
        VEXA_ALARM_MSG msg;
        memset(&msg, 0, sizeof msg);
        msg.byAlarmType = c.type;
        msg.byDataType = c.data;
        VEXA_ALARM_STRUCT s;
        memset(&s, 0, sizeof s);
        int marker = 0;
        if (c.plain) {
            msg.pXmlBuf = const_cast<char*>(c.plain);
            msg.dwXmlBufLen = c.plainLen;
        } else {
            s.iKind = c.kind;
            s.pText = c.text;
            s.dwTextLen = static_cast<uint32_t>(strlen(c.text));
            if (c.header) {
                s.pHeader = &marker;
                s.dwHeader = 1;
            }
            if (c.descriptor) {
                s.pDescriptor = &desc;
                s.dwDescriptorCount = 1;
            }
            msg.pXmlBuf = &s;
            msg.dwXmlBufLen = sizeof s;
        }
        CVexaDeviceMgr::pfnAlarmMsgCB(0, &msg, CVexaDeviceMgr::instance());
        EXPECT_EQ(CAlarmMsgMgr::instance()->pop(), c.expect) << c.name;
        EXPECT_EQ(CAlarmMsgMgr::instance()->queued(), 0u) << c.name;
    }
    CVexaDeviceMgr::pfnAlarmMsgCB(0, nullptr, nullptr);
    EXPECT_EQ(CAlarmMsgMgr::instance()->queued(), 0u);
}

TEST(ServerLookup, AddressKindsAndCodecs) {
    struct Case {
        const char* addr;
        const char* url;
        const char* expect;
    } cases[] = {
        {"192.0.2.1", "/OVIX/Event/notification/httpHosts/1", "ipAddress"},
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
    EXPECT_EQ(CVexaDeviceMgr::audioCodecName(0), "G7221");
    EXPECT_EQ(CVexaDeviceMgr::audioCodecName(7), "MP3");
    EXPECT_EQ(CVexaDeviceMgr::audioCodecName(8), "");
    EXPECT_EQ(CVexaDeviceMgr::audioCodecName(-1), "");
}

TEST(SessionTables, AddTakeAndBounds) {
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    unsigned char rec[CVexaDeviceMgr::kPreviewRecordSize], out[CVexaDeviceMgr::kPreviewRecordSize];
    memset(rec, 1, sizeof rec);
    EXPECT_EQ(mgr->addPreviewSession(rec, "s1"), 1);
    rec[0] = 2;
    EXPECT_EQ(mgr->addPreviewSession(rec, "s1"), 0);  // the first record stays
    EXPECT_EQ(mgr->getAndDelPreviewSession(out, "s1"), 1);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(mgr->getAndDelPreviewSession(out, "s1"), 0);
    for (size_t i = 0; i < CVexaDeviceMgr::kMaxSessions; ++i) ASSERT_EQ(mgr->addPreviewSession(rec, std::to_string(i)), 1);
    EXPECT_EQ(mgr->addPreviewSession(rec, "one-too-many"), 0);
    mgr->uninit();  // shutdown empties the tables
    EXPECT_EQ(mgr->addPreviewSession(rec, "one-too-many"), 1);
}

TEST(ServerLookup, InnerOrOuterByRegistrationAddress) {
    CConfigCenter* cfg = CConfigCenter::instance();
    cfg->reset();
    cfg->setOuterAddress("203.0.113.9");
    cfg->setInnerAlarmPort(1);
    cfg->setInnerStoragePort(2);
    cfg->setOuterAlarmPort(3);
    cfg->setOuterStoragePort(4);
    ServerInfo a, b;
    CVexaDeviceMgr::instance()->findDeviceSvrInfo("d", "10.0.0.1", a);
    EXPECT_EQ(a.alarmAddress, "10.0.0.1");
    EXPECT_EQ(a.alarmPort, 1);
    EXPECT_EQ(a.storagePort, 2);
    CVexaDeviceMgr::instance()->findDeviceSvrInfo("d", "203.0.113.9", b);
    EXPECT_EQ(b.alarmAddress, "203.0.113.9");
    EXPECT_EQ(b.alarmPort, 3);
    EXPECT_EQ(b.storagePort, 4);
    EXPECT_EQ(b.found, 1);
}

}  // namespace
