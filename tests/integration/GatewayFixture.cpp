#include "GatewayFixture.h"

#include "PluginHost.h"
#include "TestSupport.h"

namespace vtest {

std::string GatewayFixture::configXml() const {
    return "<config><req_timeout>3</req_timeout><sendTimeOut>3</sendTimeOut><HeartbeatEnable>1</HeartbeatEnable>"
           "<hb_time>30</hb_time><hb_fail>3</hb_fail><AlarmKeepAliveSec>30</AlarmKeepAliveSec>"
           "<AlarmTimeOutCount>3</AlarmTimeOutCount></config>";
}

void GatewayFixture::SetUp() {
    enterTempDir();
    writeFile("local_config.xml", configXml());
    table = GWPLUGIN_GetPluginInterface();
    ASSERT_EQ(table->Plugin_Init(), 0u);
    regPort = gwhost::freeLoopbackPort();
    alarmPort = gwhost::freeLoopbackPort();
    storagePort = gwhost::freeLoopbackPort();
    const std::string ports = "aldonV5RegPort=" + std::to_string(regPort) + ";aldonV5AlarmPort=" +
                              std::to_string(alarmPort) + ";pssUploadPort=" + std::to_string(storagePort) + ";";
    ASSERT_EQ(Plugin_SetConfig("InitListenPort", ports.c_str()), 0u);
    ASSERT_EQ(Plugin_SetConfig("NetZoneTableNotify",
                               "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\",\"id\":1}]}"),
              0u);
    sim.reset(new devsim::Simulator(1));
}

void GatewayFixture::TearDown() {
    sim.reset();  // devices gone before the gateway stops
    for (HostDevice& d : m_devices)
        if (d.handle) table->Plugin_DestroyDevice(d.handle);
    m_devices.clear();
    if (table) {
        EXPECT_EQ(table->Plugin_Fini(), 0u);
    }
}

HostDevice GatewayFixture::addHostDevice(const std::string& params) {
    HostDevice d;
    EXPECT_EQ(table->Plugin_CreateDevice(&d.handle), 0u);
    void* t = nullptr;
    table->Plugin_QueryInterface(d.handle, VEXA_IF_CONNECT_V2, &t);
    d.conn = static_cast<const VexaIConnectV2*>(t);
    table->Plugin_QueryInterface(d.handle, VEXA_IF_EVENT, &t);
    d.event = static_cast<const VexaIEvent*>(t);
    table->Plugin_QueryInterface(d.handle, VEXA_IF_OVIX, &t);
    d.ovix = static_cast<const VexaIOVIX*>(t);
    table->Plugin_QueryInterface(d.handle, VEXA_IF_ORDER_TRANS, &t);
    d.order = static_cast<const VexaIOrderTrans*>(t);
    d.conn->SetConnStatusCallBackImpl_V2(d.handle, &GatewayFixture::onStatus, this);
    EXPECT_EQ(d.conn->ConnectImpl_V2(d.handle, params.c_str(), nullptr, nullptr), 0u);
    m_devices.push_back(d);
    return d;
}

void GatewayFixture::destroyHostDevice(HostDevice& d) {
    table->Plugin_DestroyDevice(d.handle);
    for (HostDevice& x : m_devices)
        if (x.handle == d.handle) x.handle = nullptr;
    d.handle = nullptr;
}

devsim::DeviceConfig GatewayFixture::deviceConfig(const std::string& id, const std::string& key,
                                                  devsim::Family family) const {
    devsim::DeviceConfig c;
    c.deviceId = id;
    c.key = key;
    c.family = family;
    c.host = "127.0.0.1";
    c.cmsPort = regPort;
    c.amsPort = alarmPort;
    return c;
}

void VEXA_CALL GatewayFixture::onStatus(void* dev, uint32_t status, const char* text, void* user) {
    auto* self = static_cast<GatewayFixture*>(user);
    {
        std::lock_guard<std::mutex> lk(self->m_lock);
        self->m_status[dev].push_back(StatusEvent{status, text ? text : ""});
    }
    self->m_cv.notify_all();
}

bool GatewayFixture::waitStatus(const HostDevice& d, uint32_t status, std::string* text,
                                std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lk(m_lock);
    const bool ok = m_cv.wait_for(lk, limit, [&] {
        for (const auto& e : m_status[d.handle])
            if (e.status == status) return true;
        return false;
    });
    if (ok && text)
        for (const auto& e : m_status[d.handle])
            if (e.status == status) *text = e.text;
    return ok;
}

std::vector<StatusEvent> GatewayFixture::statuses(const HostDevice& d) {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_status[d.handle];
}

uint32_t GatewayFixture::currentStatus(const HostDevice& d) {
    uint32_t st = 0;
    d.conn->GetConnectStatusImpl_V2(d.handle, &st, nullptr);
    return st;
}

}  // namespace vtest
