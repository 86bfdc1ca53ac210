// Device information, time, reboot, upgrade and network routes end to end against simulated
// panels and cameras: what the device received and what the host got back.
#include <gtest/gtest.h>

#include "GatewayFixture.h"
#include "TestSupport.h"
#include "devsim/Equipment.h"

namespace {

using devsim::Family;
const std::string kDecl = R"(<?xml version="1.0" encoding="utf-8" ?>)";

class SystemRoutes : public vtest::GatewayFixture {
protected:
    std::string configXml() const override {
        return "<config><req_timeout>3</req_timeout><sendTimeOut>3</sendTimeOut><HeartbeatEnable>1</HeartbeatEnable>"
               "<hb_time>30</hb_time><hb_fail>3</hb_fail></config>";
    }
    vtest::HostDevice online(const std::string& id, Family family, devsim::RequestHandler handler,
                             const std::string& type) {
        auto host = addHost(id, family, type);
        startDevice(id, family, std::move(handler));
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return host;
    }
    std::string statusTrail(const vtest::HostDevice& host) {
        std::string s;
        for (const auto& e : statuses(host)) s += (s.empty() ? "" : ",") + std::to_string(e.status);
        return s;
    }
    // The device went off line and came back: the host saw 10 and then 0 again.
    void expectRestart(const vtest::HostDevice& host) {
        EXPECT_TRUE(vtest::waitUntil([&] { return statusTrail(host) == "0,10,0"; }, std::chrono::seconds(15)))
            << statusTrail(host);
    }
};

TEST_F(SystemRoutes, PanelInformationTimeAndReboot) {
    vtest::TzScope tz("Australia/Adelaide");  // the gateway's zone, neither the panel's nor UTC
    devsim::PanelOptions o;
    o.utcOffsetMinutes = -300;
    auto panel = devsim::makePanel(o);
    auto host = online("panel-sys", Family::Vexa, panel->handler(), "SecurityCP");

    const std::string running = call(host, "GET", "/OVIX/System/time?format=json");
    EXPECT_NE(running.find(R"(-05:00","timeMode":"manual"}})"), std::string::npos) << running;
    panel->setLocalDateTime("2024-02-29T23:59:58-05:00");
    const struct { const char *method, *uri, *key; std::string answer; } cases[] = {
        {"GET", "/OVIX/System/time?format=json", "TimeMgr/LocalDateTime",
         R"({"Time":{"localTime":"2024-02-29T23:59:58-05:00","timeMode":"manual"}})"},
        {"GET", "/OVIX/System/deviceInfo?format=json", "InfoMgr/DeviceVersion",
         R"({"DeviceInfo":{"deviceID":"panel-sys","deviceName":"Alarm Panel","deviceType":"SecurityCP",)"
         R"("firmwareReleasedDate":"build 240115","firmwareVersion":"V1.2.3","hardwareVersion":"0x20010",)"
         R"("macAddress":"02:5e:00:10:20:01","model":"VX-AP6400","serialNumber":"VXAP6400-20240101AA0001"}})"},
    };
    for (const auto& c : cases) {
        panel->clearRequests();
        EXPECT_EQ(call(host, c.method, c.uri), c.answer) << c.uri;
        const auto seen = panel->requestsFor(c.key);
        ASSERT_EQ(seen.size(), 1u) << c.key;
        EXPECT_EQ(seen[0].frame["configType"].asInt(), 0) << c.key;
    }

    EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/System/reboot?format=json")), "ok");
    EXPECT_EQ(panel->reboots(), 1);
    expectRestart(host);
    EXPECT_EQ(subKey(call(host, "GET", "/OVIX/System/deviceInfo?format=json")), "<document>");
}

TEST_F(SystemRoutes, CameraInformationTimeAndNetwork) {
    vtest::TzScope tz("America/Sao_Paulo");
    auto camera = devsim::makeCamera();  // its zone: CST-8:00:00, +08:00
    auto host = online("cam-sys", Family::AldonV5, camera->handler(), "IPCamera");
    const std::string ovixNs = R"( version="2.0" xmlns="http://www.ovix.org/ver20/XMLSchema">)";
    const std::string ifJson =
        R"({"NetworkInterface":{"IPAddress":{"DefaultGateway":{"ipAddress":"192.168.1.1"},"addressingType":"static",)"
        R"("ipAddress":"192.168.1.64","ipVersion":"v4","subnetMask":"255.255.255.0"},)"
        R"("Link":{"MACAddress":"02:5e:00:20:30:01","MTU":"1500"},"id":"1"}})";
    const struct {
        const char *method, *uri;
        std::string body, answer, key, sent;
    } cases[] = {
        {"PUT", "/OVIX/System/deviceInfo?format=json", R"({"DeviceInfo":{"deviceID":"88","deviceName":"Gate & Yard"}})",
         "ok", "/OVIX/System/deviceInfo",
         kDecl + "<DeviceInfo" + ovixNs + "<deviceName>Gate &amp; Yard</deviceName><deviceID>88</deviceID></DeviceInfo>"},
        {"PUT", "/OVIX/System/time?format=json", R"({"Time":{"timeMode":"manual","localTime":"2021-03-04T05:06:07+03:00"}})",
         "ok", "/OVIX/System/time",
         kDecl + R"(<Time version="2.0" xmlns="http://www.vexa.com/ver20/XMLSchema"><timeMode>manual</timeMode>)"
                 "<localTime>2021-03-04T10:06:07+08:00</localTime><timeZone>CST-8:00:00</timeZone></Time>"},
        {"GET", "/OVIX/System/Network/interfaces?format=json", "",
         R"({"NetworkInterfaceList":{"NetworkInterface":[)" + ifJson.substr(20, ifJson.size() - 21) + "]}}",
         "/OVIX/System/Network/interfaces", ""},
        {"PUT", "/OVIX/System/Network/interfaces/1/ipAddress?format=json",
         R"({"IPAddress":{"ipAddress":"10.9.8.7","DefaultGateway":{"ipAddress":"10.9.8.1"}}})", "ok",
         "/OVIX/System/Network/interfaces/1/ipAddress",
         kDecl + "<IPAddress" + ovixNs + "<DefaultGateway><ipAddress>10.9.8.1</ipAddress></DefaultGateway>"
                 "<ipAddress>10.9.8.7</ipAddress></IPAddress>"},
        {"PUT", "/OVIX/System/Network/interfaces/1?format=json", R"({"NetworkInterface":{"Link":{"MTU":"99999"}}})",
         "badParameters", "/OVIX/System/Network/interfaces/1",
         kDecl + "<NetworkInterface" + ovixNs + "<Link><MTU>99999</MTU></Link></NetworkInterface>"},
        {"GET", "/OVIX/System/Network/interfaces/1/ipAddress?format=json", "",
         R"({"IPAddress":{"DefaultGateway":{"ipAddress":"10.9.8.1"},"addressingType":"static",)"
         R"("ipAddress":"10.9.8.7","ipVersion":"v4","subnetMask":"255.255.255.0"}})",
         "/OVIX/System/Network/interfaces/1/ipAddress", ""},
    };
    for (const auto& c : cases) {
        camera->clearRequests();
        const std::string got = call(host, c.method, c.uri, c.body);
        EXPECT_EQ(c.answer.front() == '{' ? got : subKey(got), c.answer) << c.method << c.uri << c.body;
        std::string sent;
        for (const auto& r : camera->requests())
            if (r.method == "PUT" && r.key.compare(0, 13, "/OVIX/System/") == 0) sent = r.body;  // not the set-up
        EXPECT_EQ(sent, c.sent) << c.uri << c.body;
        EXPECT_TRUE(c.key.empty() || !camera->requestsFor(c.key).empty()) << c.key;
    }
    EXPECT_EQ(camera->deviceName(), "Gate & Yard");
    EXPECT_EQ(camera->networkInterfaces()[0].ipAddress, "10.9.8.7");
    EXPECT_EQ(camera->timeMode(), "manual");
    const std::string now = call(host, "GET", "/OVIX/System/time?format=json");
    EXPECT_EQ(now.substr(0, 37), R"({"Time":{"localTime":"2021-03-04T10:0)") << now;
    EXPECT_NE(now.find(R"(+08:00","timeMode":"manual"}})"), std::string::npos) << now;
}

TEST_F(SystemRoutes, CameraRebootAndUpgradeTakeItOffLine) {
    auto camera = devsim::makeCamera();
    auto host = online("cam-up", Family::AldonV5, camera->handler(), "IPCamera");
    EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/System/reboot?format=json")), "ok");
    expectRestart(host);
    EXPECT_EQ(subKey(call(host, "GET", "/OVIX/System/deviceInfo?format=json")), "<document>");

    EXPECT_EQ(subKey(call(host, "PUT", "/OVIX/System/upgradeAldon?format=json",
                          R"({"UpgradeParams":{"FTPServerIP":"127.0.0.1","FTPServerPort":2121,"userName":"op",)"
                          R"("password":"p<w>","file":"fw/v5.8.bin"}})")),
              "ok");
    const auto ferro = camera->requestsFor("ferro");
    ASSERT_EQ(ferro.size(), 2u);
    EXPECT_EQ(ferro[0].frame["command"].asString() + ferro[0].body, "REBOOT");
    EXPECT_EQ(ferro[1].frame["command"].asString() + "|" + ferro[1].body,
              "UPDATE|<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<ZORNAMessage><Version>2.0</Version><Sequence>0"
              "</Sequence><CommandType>REQUEST</CommandType><Command>UPDATE</Command><Params><FTPServerIP>127.0.0.1"
              "</FTPServerIP><FTPServerPort>2121</FTPServerPort><Account>op</Account><Password>p&lt;w&gt;</Password>"
              "<File>fw/v5.8.bin</File></Params></ZORNAMessage>");
    EXPECT_TRUE(vtest::waitUntil([&] { return statusTrail(host) == "0,10,0,10,0"; }, std::chrono::seconds(15)))
        << statusTrail(host);
    EXPECT_EQ(subKey(call(host, "GET", "/OVIX/System/time?format=json")), "<document>");
}

}  // namespace
