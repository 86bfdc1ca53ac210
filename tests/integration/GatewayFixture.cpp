#include "GatewayFixture.h"

#include "TestSupport.h"
#include "common/JsonUtil.h"

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
    EXPECT_EQ(gwhost::createDevice(table, d), 0u);
    d.conn->SetConnStatusCallBackImpl_V2(d.handle, &GatewayFixture::onStatus, this);
    EXPECT_EQ(d.conn->ConnectImpl_V2(d.handle, params.c_str(), nullptr, nullptr), 0u);
    m_devices.push_back(d);
    return d;
}

HostDevice GatewayFixture::addHost(const std::string& id, devsim::Family family, const std::string& type,
                                   bool active) {
    const char* pto = family == devsim::Family::Vexa ? "VEXA" : "aldonV5";
    HostDevice d = addHostDevice("DeviceId=" + id + ";DeviceKey=k;" + (type.empty() ? "" : "DevType=" + type + ";") +
                                 "DevProtocol=" + pto + ";AllowDirectConn=1;AlarmActiveStatus=" +
                                 (active ? "active;" : "inactive;"));
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_names[d.handle] = id;
    }
    d.event->SetEventCallBackImpl(d.handle, &GatewayFixture::onEvent, this);
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

devsim::DevicePtr GatewayFixture::startDevice(const std::string& id, devsim::Family family,
                                              devsim::RequestHandler handler, bool alarmLink) {
    auto cfg = deviceConfig(id, "k", family);
    cfg.handler = std::move(handler);
    auto d = sim->addDevice(cfg);
    d->start();
    EXPECT_TRUE(d->waitFor(devsim::State::LoggedIn, std::chrono::seconds(15))) << id;
    if (alarmLink) {
        d->connectAlarm();
        EXPECT_TRUE(d->waitAlarm(devsim::AlarmState::Ready, std::chrono::seconds(15))) << id;
    }
    return d;
}

void VEXA_CALL GatewayFixture::onStatus(void* dev, uint32_t status, const char* text, void* user) {
    auto* self = static_cast<GatewayFixture*>(user);
    {
        std::lock_guard<std::mutex> lk(self->m_lock);
        self->m_status[dev].push_back(StatusEvent{status, text ? text : ""});
    }
    self->m_cv.notify_all();
}

void VEXA_CALL GatewayFixture::onEvent(void* dev, const void* block, const void* event, uint32_t zero, void* user) {
    EXPECT_TRUE(block && event && zero == 0) << "event call arguments";
    if (!event) return;
    auto* self = static_cast<GatewayFixture*>(user);
    {
        std::lock_guard<std::mutex> lk(self->m_lock);
        self->m_events.push_back(HostEvent{self->m_names[dev], *static_cast<const AlarmEventInfo*>(event)});
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

std::vector<HostEvent> GatewayFixture::events() {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_events;
}

bool GatewayFixture::waitEvents(size_t n, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lk(m_lock);
    return m_cv.wait_for(lk, limit, [&] { return m_events.size() >= n; });
}

std::string GatewayFixture::call(const HostDevice& d, const std::string& method, const std::string& uri,
                                 const std::string& body) {
    Json::Value env;
    env["method"] = method;
    env["uri"] = uri;
    env["body"] = body;
    std::vector<char> rsp(65536, '\x7f');
    EXPECT_EQ(d.ovix->OVIX_GetwayImpl(d.handle, vexa::writeJson(env).c_str(), rsp.data(), 65536, nullptr), 0u);
    return std::string(rsp.data());
}

std::string GatewayFixture::subKey(const std::string& answer) {
    Json::Value v;
    if (!vexa::parseJson(answer, v) || !v.isObject()) return "<not json: " + answer + ">";
    return v["subStatusCode"].isString() ? v["subStatusCode"].asString() : "<document>";
}

}  // namespace vtest
