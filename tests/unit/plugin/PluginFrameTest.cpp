#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "PluginHost.h"
#include "TestSupport.h"
#include "plugin/PluginFrame.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

const GWPluginInterface* T() { return GWPLUGIN_GetPluginInterface(); }

struct Dev {
    void* h = nullptr;
    const VexaIConnectV2* conn = nullptr;
    const VexaIEvent* ev = nullptr;
    const VexaIOVIX* ovix = nullptr;
    const VexaIOrderTrans* order = nullptr;
};

Dev create() {
    Dev d;
    EXPECT_EQ(T()->Plugin_CreateDevice(&d.h), 0u);
    void* t = nullptr;
    EXPECT_EQ(T()->Plugin_QueryInterface(d.h, VEXA_IF_CONNECT_V2, &t), 0u);
    d.conn = static_cast<const VexaIConnectV2*>(t);
    EXPECT_EQ(T()->Plugin_QueryInterface(d.h, VEXA_IF_EVENT, &t), 0u);
    d.ev = static_cast<const VexaIEvent*>(t);
    EXPECT_EQ(T()->Plugin_QueryInterface(d.h, VEXA_IF_OVIX, &t), 0u);
    d.ovix = static_cast<const VexaIOVIX*>(t);
    EXPECT_EQ(T()->Plugin_QueryInterface(d.h, VEXA_IF_ORDER_TRANS, &t), 0u);
    d.order = static_cast<const VexaIOrderTrans*>(t);
    return d;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override { vtest::enterTempDir(); }
    void TearDown() override {
        if (pluginInitialisedHere) T()->Plugin_Fini();
    }
    void init() {
        ASSERT_EQ(T()->Plugin_Init(), 0u);
        pluginInitialisedHere = true;
    }
    bool pluginInitialisedHere = false;
};

TEST_F(Frame, NamesAndVersionWithoutInit) {
    const char* const* names = T()->Plugin_GetInterfaceNames();
    ASSERT_NE(names, nullptr);
    std::vector<std::string> got;
    for (; *names; ++names) got.push_back(*names);
    EXPECT_EQ(got, (std::vector<std::string>{"Device.IConnect_V2", "Device.IEvent", "Device.IOVIX"}));
    EXPECT_STREQ(T()->Plugin_GetVersion(), "V1.0.0.0");
    EXPECT_EQ(GWPLUGIN_GetPluginInterface(), T());  // every call returns the same table
}

TEST_F(Frame, CallsBeforeInitAreRefused) {
    void* h = reinterpret_cast<void*>(0x1234);
    void* out = &h;
    EXPECT_EQ(T()->Plugin_CreateDevice(&h), 0xFFFFFFFFu);
    EXPECT_EQ(h, reinterpret_cast<void*>(0x1234));  // nothing created
    EXPECT_EQ(T()->Plugin_DestroyDevice(h), 0xFFFFFFFFu);
    EXPECT_EQ(T()->Plugin_QueryInterface(h, VEXA_IF_EVENT, &out), 0xFFFFFFFFu);
    EXPECT_EQ(T()->Plugin_Fini(), 0xFFFFFFFFu);
}

TEST_F(Frame, StateRules) {
    init();
    EXPECT_EQ(T()->Plugin_Init(), 0xFFFFFFFFu);  // double init
    Dev d = create();
    EXPECT_EQ(T()->Plugin_Fini(), 0xFFFFFFFFu);  // a live device keeps the plug-in up
    EXPECT_TRUE(pluginInitialised());
    // An unknown handle and a null handle are not destroyed, and do no harm.
    int local = 0;
    EXPECT_EQ(T()->Plugin_DestroyDevice(&local), 0u);
    EXPECT_EQ(T()->Plugin_DestroyDevice(nullptr), 0u);
    EXPECT_EQ(T()->Plugin_DestroyDevice(d.h), 0u);
    EXPECT_EQ(T()->Plugin_DestroyDevice(d.h), 0u);  // twice
    EXPECT_EQ(T()->Plugin_Fini(), 0u);
    pluginInitialisedHere = false;
    EXPECT_EQ(T()->Plugin_CreateDevice(&d.h), 0xFFFFFFFFu);
}

TEST_F(Frame, QueryInterface) {
    init();
    Dev d = create();
    EXPECT_NE(d.order, nullptr);  // answered although not in the names list
    void* out = reinterpret_cast<void*>(0x77);
    EXPECT_EQ(T()->Plugin_QueryInterface(d.h, "Device.INope", &out), 0xFFFFFFFEu);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(0x77);
    EXPECT_EQ(T()->Plugin_QueryInterface(nullptr, VEXA_IF_EVENT, &out), 0u);
    EXPECT_EQ(out, reinterpret_cast<void*>(0x77));  // untouched
    EXPECT_EQ(T()->Plugin_QueryInterface(d.h, nullptr, &out), 0xFFFFFFFEu);
    T()->Plugin_DestroyDevice(d.h);
}

TEST_F(Frame, EntriesRefuseNullAndDeadHandles) {
    init();
    Dev d = create();
    const Dev tables = d;
    char buf[16];
    uint32_t st = 0;
    for (int round = 0; round < 2; ++round) {
        void* h = round == 0 ? nullptr : d.h;
        if (round == 1) T()->Plugin_DestroyDevice(d.h);  // a destroyed handle counts as dead
        vtest::LogCapture log(5);
        const uint32_t results[] = {
            tables.order->TransOrderImpl(h, "<x/>", buf, sizeof buf),
            tables.ev->SetEventCallBackImpl(h, nullptr, nullptr),
            tables.ev->GetArmingScheduleImpl(h, nullptr, nullptr, nullptr),
            tables.ev->SetArmingScheduleImpl(h, nullptr, nullptr, nullptr),
            tables.conn->SetConnStatusCallBackImpl_V2(h, nullptr, nullptr),
            tables.conn->ConnectImpl_V1(h, nullptr),
            tables.conn->DisConnectImpl_V2(h),
            tables.conn->GetConnectStatusImpl_V2(h, &st, nullptr),
            tables.conn->SetDevRegisterCallBackImpl_V2(h, nullptr, nullptr, nullptr),
            tables.conn->SetLoginResultCallBackImpl_V2(h, nullptr, nullptr),
            tables.conn->ConnectImpl_V2(h, "DeviceId=x;", nullptr, nullptr),
            tables.conn->SetConnectParamsImpl_V2(h, "a=b;"),
            tables.ovix->OVIX_GetwayImpl(h, "{}", buf, sizeof buf, nullptr),
            tables.ovix->DeviceLoopImpl(h, buf, sizeof buf),
            tables.ovix->ActiveDeviceImpl(h, nullptr, nullptr, nullptr),
            tables.ovix->DeviceSubscribeImpl(h, nullptr, nullptr),
            tables.ovix->DeviceFERROStateChangeImpl(h, nullptr, nullptr),
        };
        for (size_t i = 0; i < sizeof results / sizeof results[0]; ++i)
            EXPECT_EQ(results[i], 0x82000005u) << "entry " << i << " round " << round;
        EXPECT_TRUE(log.contains("PLUGIN [TransOrderImpl("));
        EXPECT_TRUE(log.contains("[0x82000005]"));
        EXPECT_TRUE(log.contains("[DeviceFERROStateChangeImpl("));
    }
}

TEST_F(Frame, UnsupportedEntriesAnswerNotSupported) {
    init();
    Dev d = create();
    int x = 0;
    EXPECT_EQ(d.ev->GetArmingScheduleImpl(d.h, &x, &x, &x), 0x40000001u);
    EXPECT_EQ(d.ev->SetArmingScheduleImpl(d.h, &x, nullptr, &x), 0x40000001u);
    EXPECT_EQ(d.conn->ConnectImpl_V1(d.h, &x), 0x40000001u);
    EXPECT_EQ(d.conn->SetDevRegisterCallBackImpl_V2(d.h, &x, &x, &x), 0x40000001u);
    EXPECT_EQ(d.conn->SetLoginResultCallBackImpl_V2(d.h, &x, &x), 0x40000001u);
    EXPECT_EQ(d.ovix->ActiveDeviceImpl(d.h, &x, &x, &x), 0x40000001u);
    EXPECT_EQ(d.ovix->DeviceSubscribeImpl(d.h, &x, &x), 0x40000001u);
    EXPECT_EQ(d.ovix->DeviceFERROStateChangeImpl(d.h, &x, &x), 0x40000001u);
    uint32_t st = 0;
    EXPECT_EQ(d.conn->GetConnectStatusImpl_V2(d.h, &st, nullptr), 0u);
    EXPECT_EQ(st, 0xFFFFFFFFu);
    EXPECT_EQ(d.conn->GetConnectStatusImpl_V2(d.h, nullptr, nullptr), 0x82000005u);  // no crash on null out
    T()->Plugin_DestroyDevice(d.h);
}

// Ownership: no handle may dangle, nothing freed twice, nothing leaked (run under ASan).
TEST_F(Frame, DeviceOwnershipAcrossReconnects) {
    init();
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    Dev d = create();
    EXPECT_EQ(d.conn->ConnectImpl_V2(d.h, "DeviceId=A;DeviceKey=k;", nullptr, nullptr), 0u);
    EXPECT_NE(mgr->findDevice("A"), nullptr);
    EXPECT_EQ(d.conn->DisConnectImpl_V2(d.h), 0u);
    EXPECT_EQ(mgr->findDevice("A"), nullptr);
    uint32_t st = 0;
    EXPECT_EQ(d.conn->GetConnectStatusImpl_V2(d.h, &st, nullptr), 0u);
    EXPECT_EQ(d.conn->ConnectImpl_V2(d.h, "DeviceId=A;", nullptr, nullptr), 0u);
    EXPECT_EQ(d.conn->ConnectImpl_V2(d.h, "DeviceId=B;", nullptr, nullptr), 0u);
    EXPECT_EQ(mgr->findDevice("A"), nullptr);  // the old identifier's entry went with the rename
    EXPECT_NE(mgr->findDevice("B"), nullptr);
    EXPECT_EQ(T()->Plugin_DestroyDevice(d.h), 0u);
    EXPECT_EQ(mgr->deviceCount(), 0u);
}

TEST_F(Frame, SecondObjectUnderSameIdentifierIsNotRemovedByTheFirst) {
    init();
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    Dev a = create();
    Dev b = create();
    a.conn->ConnectImpl_V2(a.h, "DeviceId=X;", nullptr, nullptr);
    b.conn->ConnectImpl_V2(b.h, "DeviceId=X;", nullptr, nullptr);  // replaces a's entry
    a.conn->DisConnectImpl_V2(a.h);
    ASSERT_NE(mgr->findDevice("X"), nullptr);
    EXPECT_EQ(static_cast<void*>(static_cast<CDevBase*>(mgr->findDevice("X").get())), b.h);
    T()->Plugin_DestroyDevice(a.h);
    T()->Plugin_DestroyDevice(b.h);
    EXPECT_EQ(mgr->deviceCount(), 0u);
}

int g_connCalls = 0;
void VEXA_CALL countConn(void*, uint32_t, const char*, void*) { ++g_connCalls; }

TEST_F(Frame, DestroyedDeviceGetsNoFurtherCallbacks) {
    init();
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    Dev d = create();
    d.conn->SetConnStatusCallBackImpl_V2(d.h, countConn, nullptr);
    d.conn->ConnectImpl_V2(d.h, "DeviceId=Z;", nullptr, nullptr);
    std::shared_ptr<CVexaDevice> keep = mgr->findDevice("Z");
    ASSERT_NE(keep, nullptr);
    keep->notifyConnStatus(0, "x");
    EXPECT_EQ(g_connCalls, 1);
    T()->Plugin_DestroyDevice(d.h);
    EXPECT_EQ(mgr->findDevice("Z"), nullptr);
    keep->notifyConnStatus(10, "y");  // a late library event for the destroyed device
    EXPECT_EQ(g_connCalls, 1);
}

}  // namespace
