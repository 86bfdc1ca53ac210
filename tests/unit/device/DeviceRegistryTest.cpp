// Registry re-entry, per-device flags, alarm intake limits and back-pressure, and the ordering of
// a device's session changes and host notifications under concurrent login and off-line.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "alarm/AlarmMsgMgr.h"
#include "common/ConfigCenter.h"
#include "device/NotifyPool.h"
#include "alarm/OperationMsgMgr.h"
#include "PluginHost.h"
#include "TestSupport.h"
#include "VexaAmsSdk.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"

namespace {

// What the host heard, per device, in order; optionally blocked until released.
struct Host {
    std::mutex lock;
    std::condition_variable cv;
    std::map<void*, std::vector<uint32_t>> heard;
    std::map<void*, uint32_t> statusInside;  // GetConnectStatus seen from inside the callback
    bool hold = false;
    bool overlap = false;
    std::map<void*, int> running;

    static void VEXA_CALL onStatus(void* dev, uint32_t status, const char*, void* user) {
        auto* h = static_cast<Host*>(user);
        uint32_t inside = 0;
        static_cast<CDevConnect_V2*>(static_cast<CVexaDevice*>(static_cast<CDevBase*>(dev)))->GetConnectStatus(&inside);
        std::unique_lock<std::mutex> lk(h->lock);
        if (h->running[dev]++) h->overlap = true;
        h->cv.wait_for(lk, std::chrono::seconds(10), [h] { return !h->hold; });
        h->heard[dev].push_back(status);
        h->statusInside.emplace(dev, inside);
        --h->running[dev];
        h->cv.notify_all();
    }
    void release() {
        std::lock_guard<std::mutex> lk(lock);
        hold = false;
        cv.notify_all();
    }
    std::vector<uint32_t> of(const std::shared_ptr<CVexaDevice>& d) {
        std::lock_guard<std::mutex> lk(lock);
        return heard[static_cast<CDevBase*>(d.get())];
    }
};

class DeviceRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        mgr = CVexaDeviceMgr::instance();
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
    static void drain() {
        while (!COperationMsgMgr::instance()->pop().empty()) {
        }
        while (!CAlarmMsgMgr::instance()->pop().empty()) {
        }
    }
    std::shared_ptr<CVexaDevice> add(const std::string& params) {
        auto d = std::make_shared<CVexaDevice>();
        d->SetConnStatusCallBack(&Host::onStatus, &host);
        d->Connect_V2(params.c_str());
        return d;
    }
    VEXA_BOOL login(const std::string& id, int32_t handle) {
        VEXA_CMS_DEV_REG_INFO r;
        memset(&r, 0, sizeof r);
        strncpy(r.szDeviceID, id.c_str(), sizeof r.szDeviceID - 1);
        VEXA_CMS_STORAGE_SERVER storage{};
        VEXA_CMS_ALARM_SERVER alarm{};
        VEXA_CMS_LOGIN_ANSWER answer{30, 3, 30, 3, &storage, &alarm};
        return CVexaDeviceMgr::pfnDeviceRegisterCB(handle, VEXA_CMS_DEV_ON, &r, sizeof r, &answer, sizeof answer, mgr);
    }
    CVexaDeviceMgr* mgr = nullptr;
    Host host;
};

TEST_F(DeviceRegistry, ReconnectAfterDisconnectRegistersAgainAndCanLogIn) {
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
    other.reset();
}

TEST_F(DeviceRegistry, VideoReviewIsOnOnlyForTheNumberOne) {
    struct Case {
        const char* value;  // nullptr: parameter missing
        bool on;
    } cases[] = {{"1", true}, {"01", true}, {"2", false}, {"", false}, {"yes", false}, {nullptr, false}};
    auto d = add("DeviceId=vr;");
    for (const Case& c : cases) {
        const std::string pair = c.value ? std::string("VideoReview=") + c.value + ";" : "";
        d->Connect_V2(("DeviceId=vr;" + pair).c_str());
        EXPECT_EQ(d->videoReviewEnabled(), c.on) << "connect " << pair;
        d->SetConnectParams("VideoReview=1;");
        d->SetConnectParams(("AlarmActiveStatus=active;" + pair).c_str());
        EXPECT_EQ(d->videoReviewEnabled(), c.on) << "set " << pair;
    }
}

VEXA_ALARM_MSG plainAlarm(std::string& doc, uint8_t dataType = 1) {
    VEXA_ALARM_MSG m{};
    m.byAlarmType = 2;
    m.byDataType = dataType;
    m.pXmlBuf = &doc[0];
    m.dwXmlBufLen = static_cast<uint32_t>(doc.size());
    return m;
}

// One structured alarm record of the given kind; header: the text carries an HTTP-style head.
struct Structured {
    VEXA_ALARM_MSG msg{};
    VEXA_ALARM_STRUCT s{};
    int marker = 0;
    Structured(const std::string& text, bool header) {
        msg.byAlarmType = 3;
        s.iKind = 1;
        s.pText = text.c_str();
        s.dwTextLen = static_cast<uint32_t>(text.size());
        if (header) {
            s.pHeader = &marker;
            s.dwHeader = 1;
        }
        msg.pXmlBuf = &s;
        msg.dwXmlBufLen = sizeof s;
    }
};

TEST_F(DeviceRegistry, AlarmDocumentLimitAppliesAfterTheHeader) {
    const std::string start = "POST /alarm HTTP/1.1\r\nHost: gw\r\nX-Pad: ";
    const std::string head = start + std::string(442 - start.size() - 4, 'h') + "\r\n\r\n";
    ASSERT_EQ(head.size(), 442u);
    const std::string doc3878 = "<a>" + std::string(3878 - 7, 'x') + "</a>";
    const std::string doc4097 = "<a>" + std::string(4097 - 7, 'x') + "</a>";
    const std::string text4678 = "<a>" + std::string(4678 - 7, 'y') + "</a>";
    struct Case {
        const char* name;
        std::string text;
        bool header;
        bool queued;
    } cases[] = {
        {"long document behind a header", head + doc3878, true, true},
        {"4097-byte document behind a header", head + doc4097, true, false},
        {"4678-byte text without a header", text4678, false, false},
        {"exactly 4096 bytes", std::string(4096, 'z'), false, true},
    };
    for (const Case& c : cases) {
        vtest::LogCapture log(5);
        Structured rec(c.text, c.header);
        static int32_t link = 1000;  // a fresh source each time: the drop line is rate-limited per link
        EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(++link, &rec.msg, mgr), 1) << c.name;
        const std::string got = CAlarmMsgMgr::instance()->pop();
        if (c.queued) {
            EXPECT_EQ(got, c.header ? doc3878 : c.text) << c.name;  // whole, never cut
        } else {
            EXPECT_EQ(got, "") << c.name;
            EXPECT_TRUE(log.contains("too long and drop.")) << c.name;
        }
    }
}

TEST_F(DeviceRegistry, FullAlarmQueueRefusesDeviceAlarmsButTakesJunk) {
    CAlarmMsgMgr::instance()->setBound(2);
    std::string doc = "<EventNotificationAlert/>";
    VEXA_ALARM_MSG plain = plainAlarm(doc), badType = plainAlarm(doc, 4);
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &plain, mgr), 1);
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &plain, mgr), 1);
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &plain, mgr), 0);  // full: left with the device
    std::string big(5000, 'b');
    Structured tooLong(big, false);
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &tooLong.msg, mgr), 1);  // junk is taken and dropped
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &badType, mgr), 1);
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, nullptr, mgr), 1);
    CAlarmMsgMgr::instance()->pop();
    CAlarmMsgMgr::instance()->pop();
    EXPECT_EQ(CVexaDeviceMgr::pfnAlarmMsgCB(1, &plain, mgr), 1);  // drained: taken again
}

TEST_F(DeviceRegistry, EchoedDeviceTextIsCutAndBadInputLinesAreRateLimited) {
    vtest::LogCapture log(2);
    std::string doc = "<a>" + std::string(4000, 'q') + "</a>";
    VEXA_ALARM_MSG plain = plainAlarm(doc), junk = plainAlarm(doc, 9);
    CVexaDeviceMgr::pfnAlarmMsgCB(3, &plain, mgr);
    for (const std::string& line : log.lines())
        if (line.find("ProcessMsg") != std::string::npos) {
            EXPECT_LT(line.size(), 400u);
        }
    EXPECT_EQ(log.count("ProcessMsg"), 1u);
    static int32_t link = 100;  // a fresh source for each run
    ++link;
    for (int i = 0; i < 100; ++i) CVexaDeviceMgr::pfnAlarmMsgCB(link, &junk, mgr);
    EXPECT_LE(log.count("Other dwAlarmType."), 10u);
    EXPECT_GE(log.count("Other dwAlarmType."), 1u);
}

TEST_F(DeviceRegistry, OnLineStepForAStaleHandleDoesNothing) {
    auto d = add("DeviceId=stale;");
    ASSERT_EQ(login("stale", 50), 1);
    ASSERT_EQ(login("stale", 51), 1);  // logged in again before the first REGISTER was handled
    vtest::LogCapture log(3);
    EXPECT_EQ(mgr->deviceOn(50), -1);
    EXPECT_EQ(mgr->deviceOn(-1), -1);
    EXPECT_TRUE(log.contains("set-up skipped."));
    EXPECT_EQ(d->userHandle(), 51);
    EXPECT_EQ(d->connStatus(), 0);
}

TEST_F(DeviceRegistry, PendingLoginCapReachesBothLibraries) {
    struct Case {
        const char* config;
        uint32_t cap;
    } cases[] = {{"<c><MaxPendingLogins>7</MaxPendingLogins></c>", 7},
                 {"<c/>", 1024},
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
TEST_F(DeviceRegistry, OffLineAndNextLoginAreSerialisedPerDevice) {
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
        host.cv.wait_for(lk, std::chrono::milliseconds(200), [&] { return d->userHandle() == last + 1; });
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
TEST_F(DeviceRegistry, SlowHostCallbackDelaysNoLogin) {
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
    for (int i = 0; i < kDevices; ++i)
        ASSERT_TRUE(vtest::waitUntil([&] { return host.of(devs[i]).size() == 1; })) << i;
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

TEST_F(DeviceRegistry, DisconnectDropsPendingNotifications) {
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

}  // namespace
