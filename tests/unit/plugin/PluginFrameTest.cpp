#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "PluginHost.h"
#include "TestSupport.h"
#include "plugin/PluginFrame.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

const GWPluginInterface* T() { return GWPLUGIN_GetPluginInterface(); }

gwhost::DeviceTables create() {
    gwhost::DeviceTables d;
    EXPECT_EQ(gwhost::createDevice(T(), d), 0u);
    return d;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override { vtest::enterTempDir(); }
    void TearDown() override { T()->Plugin_Fini(); }  // refused where the test ended it already
    static void init() { ASSERT_EQ(T()->Plugin_Init(), 0u); }
};

TEST_F(Frame, NamesVersionAndStateRules) {
    const char* const* names = T()->Plugin_GetInterfaceNames();  // no init needed
    ASSERT_NE(names, nullptr);
    std::vector<std::string> got;
    for (; *names; ++names) got.push_back(*names);
    EXPECT_EQ(got, (std::vector<std::string>{"Device.IConnect_V2", "Device.IEvent", "Device.IOVIX"}));
    EXPECT_STREQ(T()->Plugin_GetVersion(), "V1.0.0.0");
    // Before init everything is refused and nothing is created.
    void* h = reinterpret_cast<void*>(0x1234);
    void* out = &h;
    EXPECT_EQ(T()->Plugin_CreateDevice(&h), 0xFFFFFFFFu);
    EXPECT_EQ(h, reinterpret_cast<void*>(0x1234));
    EXPECT_EQ(T()->Plugin_DestroyDevice(h), 0xFFFFFFFFu);
    EXPECT_EQ(T()->Plugin_QueryInterface(h, VEXA_IF_EVENT, &out), 0xFFFFFFFFu);
    EXPECT_EQ(T()->Plugin_Fini(), 0xFFFFFFFFu);
    init();
    EXPECT_EQ(T()->Plugin_Init(), 0xFFFFFFFFu);  // double init
    gwhost::DeviceTables d = create();
    EXPECT_EQ(T()->Plugin_Fini(), 0xFFFFFFFFu);  // a live device keeps the plug-in up
    EXPECT_TRUE(pluginInitialised());
    // An unknown handle and a null handle are not destroyed, and do no harm.
    int local = 0;
    EXPECT_EQ(T()->Plugin_DestroyDevice(&local), 0u);
    EXPECT_EQ(T()->Plugin_DestroyDevice(nullptr), 0u);
    EXPECT_EQ(T()->Plugin_DestroyDevice(d.handle), 0u);
    EXPECT_EQ(T()->Plugin_DestroyDevice(d.handle), 0u);  // twice
    EXPECT_EQ(T()->Plugin_Fini(), 0u);
    EXPECT_EQ(T()->Plugin_CreateDevice(&d.handle), 0xFFFFFFFFu);
    // Stopped: commands that need running libraries are refused; listen ports are only stored.
    const uint16_t reg = gwhost::freeLoopbackPort();
    vtest::LogCapture log(4);
    EXPECT_EQ(Plugin_SetConfig("InitListenPort", ("aldonV5RegPort=" + std::to_string(reg)).c_str()), 0u);
    EXPECT_EQ(Plugin_SetConfig("NetZoneTableNotify",
                               "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\"}]}"),
              0xFFFFFFFFu);
    EXPECT_EQ(Plugin_SetConfig("SetVexaSdkLog", "3"), 0xFFFFFFFFu);
    EXPECT_EQ(log.count("refused, plug-in not initialised"), 2u);
    EXPECT_FALSE(vtest::canConnect(reg));
}

// Every entry refuses a null and a destroyed handle with 0x82000005 and a log line; the entries
// without a function here answer 0x40000001 on a live handle. Unknown interfaces are refused.
TEST_F(Frame, EntryResults) {
    init();
    const gwhost::DeviceTables t = create();
    void* out = reinterpret_cast<void*>(0x77);
    EXPECT_EQ(T()->Plugin_QueryInterface(t.handle, "Device.INope", &out), 0xFFFFFFFEu);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(T()->Plugin_QueryInterface(t.handle, nullptr, &out), 0xFFFFFFFEu);
    out = reinterpret_cast<void*>(0x77);
    EXPECT_EQ(T()->Plugin_QueryInterface(nullptr, VEXA_IF_EVENT, &out), 0u);
    EXPECT_EQ(out, reinterpret_cast<void*>(0x77));  // untouched
    char buf[16];
    uint32_t st = 0;
    int x = 0;
    void* p = &x;  // the free-form arguments: set on the live handle, null on the dead ones
    const struct {
        std::function<uint32_t(void*)> call;
        bool unsupported;
    } entries[] = {
        {[&](void* h) { return t.order->TransOrderImpl(h, "<x/>", buf, sizeof buf); }, false},
        {[&](void* h) { return t.event->SetEventCallBackImpl(h, nullptr, nullptr); }, false},
        {[&](void* h) { return t.event->GetArmingScheduleImpl(h, p, p, p); }, true},
        {[&](void* h) { return t.event->SetArmingScheduleImpl(h, p, nullptr, p); }, true},
        {[&](void* h) { return t.conn->SetConnStatusCallBackImpl_V2(h, nullptr, nullptr); }, false},
        {[&](void* h) { return t.conn->ConnectImpl_V1(h, p); }, true},
        {[&](void* h) { return t.conn->DisConnectImpl_V2(h); }, false},
        {[&](void* h) { return t.conn->GetConnectStatusImpl_V2(h, &st, nullptr); }, false},
        {[&](void* h) { return t.conn->SetDevRegisterCallBackImpl_V2(h, p, p, p); }, true},
        {[&](void* h) { return t.conn->SetLoginResultCallBackImpl_V2(h, p, p); }, true},
        {[&](void* h) { return t.conn->ConnectImpl_V2(h, "DeviceId=x;", nullptr, nullptr); }, false},
        {[&](void* h) { return t.conn->SetConnectParamsImpl_V2(h, "a=b;"); }, false},
        {[&](void* h) { return t.ovix->OVIX_GetwayImpl(h, "{}", buf, sizeof buf, nullptr); }, false},
        {[&](void* h) { return t.ovix->DeviceLoopImpl(h, buf, sizeof buf); }, false},
        {[&](void* h) { return t.ovix->ActiveDeviceImpl(h, p, p, p); }, true},
        {[&](void* h) { return t.ovix->DeviceSubscribeImpl(h, p, p); }, true},
        {[&](void* h) { return t.ovix->DeviceFERROStateChangeImpl(h, p, p); }, true},
    };
    const size_t n = sizeof entries / sizeof entries[0];
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(entries[i].unsupported ? entries[i].call(t.handle) : 0x40000001u, 0x40000001u) << "entry " << i;
    EXPECT_EQ(t.conn->GetConnectStatusImpl_V2(t.handle, nullptr, nullptr), 0x82000005u);  // no crash on null out
    p = nullptr;
    for (void* h : {static_cast<void*>(nullptr), t.handle}) {
        if (h) T()->Plugin_DestroyDevice(h);  // a destroyed handle counts as dead
        vtest::LogCapture log(5);
        for (size_t i = 0; i < n; ++i) EXPECT_EQ(entries[i].call(h), 0x82000005u) << "entry " << i << " " << h;
        EXPECT_TRUE(log.contains("PLUGIN [TransOrderImpl("));
        EXPECT_TRUE(log.contains("[0x82000005]"));
        EXPECT_TRUE(log.contains("[DeviceFERROStateChangeImpl("));
    }
}

// Ownership: no handle may dangle, nothing freed twice, nothing leaked (run under ASan). A
// second object under the same identifier is not removed by the first.

TEST_F(Frame, DeviceOwnership) {
    init();
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    gwhost::DeviceTables d = create();
    EXPECT_EQ(d.conn->ConnectImpl_V2(d.handle, "DeviceId=A;", nullptr, nullptr), 0u);
    EXPECT_EQ(d.conn->ConnectImpl_V2(d.handle, "DeviceId=B;", nullptr, nullptr), 0u);
    EXPECT_EQ(mgr->findDevice("A"), nullptr);  // the old identifier's entry went with the rename
    EXPECT_NE(mgr->findDevice("B"), nullptr);
    EXPECT_EQ(T()->Plugin_DestroyDevice(d.handle), 0u);
    EXPECT_EQ(mgr->deviceCount(), 0u);

    gwhost::DeviceTables a = create(), b = create();
    a.conn->ConnectImpl_V2(a.handle, "DeviceId=X;", nullptr, nullptr);
    b.conn->ConnectImpl_V2(b.handle, "DeviceId=X;", nullptr, nullptr);  // replaces a's entry
    a.conn->DisConnectImpl_V2(a.handle);
    ASSERT_NE(mgr->findDevice("X"), nullptr);
    EXPECT_EQ(static_cast<void*>(static_cast<CDevBase*>(mgr->findDevice("X").get())), b.handle);
    T()->Plugin_DestroyDevice(a.handle);
    T()->Plugin_DestroyDevice(b.handle);
    EXPECT_EQ(mgr->deviceCount(), 0u);
}

}  // namespace
