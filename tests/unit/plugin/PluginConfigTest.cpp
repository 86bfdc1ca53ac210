#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "common/ConfigCenter.h"
#include "common/JsonUtil.h"
#include "PluginHost.h"
#include "TestSupport.h"
#include "device/VexaDeviceMgr.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

std::string portStatus() {
    std::string s;
    EXPECT_EQ(Plugin_GetPortStatus(&s), 0u);
    return s;
}

uint32_t statusPort(const char* name) {
    Json::Value v;
    EXPECT_TRUE(vexa::parseJson(portStatus(), v));
    for (const Json::Value& e : v["portList"])
        if (e["portName"].asString() == name) return e["Single"]["portNo"].asUInt();
    return 0;
}

std::string zoneTable(const std::string& proto = "VEXA", const std::string& ip = "127.0.0.1",
                      const std::string& nats = "[]") {
    return "{\"accessNetInfos\":[{\"protocolType\":\"" + proto + "\",\"accessIp\":\"" + ip +
           "\",\"id\":7}],\"natIps\":" + nats + "}";
}

// One NAT entry; `localPort` is written as given (quote it for the text form).
std::string nat(const char* localIp, const std::string& localPort, const char* natIp, const char* natPort) {
    return std::string("{\"localIp\":\"") + localIp + "\",\"localPort\":" + localPort + ",\"natIp\":\"" + natIp +
           "\",\"natPort\":\"" + natPort + "\"}";
}
std::string quoted(uint16_t port) { return "\"" + std::to_string(port) + "\""; }

class ConfigCommands : public ::testing::Test {
protected:
    void SetUp() override {
        vtest::enterTempDir();
        CConfigCenter::instance()->reset();  // network values of earlier tests
        ASSERT_EQ(GWPLUGIN_GetPluginInterface()->Plugin_Init(), 0u);
        reg = gwhost::freeLoopbackPort();
        alarm = gwhost::freeLoopbackPort();
        storage = gwhost::freeLoopbackPort();
    }
    void TearDown() override { GWPLUGIN_GetPluginInterface()->Plugin_Fini(); }
    void listenPorts() {
        const std::string msg = "aldonV5RegPort=" + std::to_string(reg) + ";;pssUploadPort=" +
                                std::to_string(storage) + ";aldonV5AlarmPort=" + std::to_string(alarm) + ";";
        ASSERT_EQ(Plugin_SetConfig("InitListenPort", msg.c_str()), 0u);
    }
    static uint32_t table(const std::string& msg) { return Plugin_SetConfig("NetZoneTableNotify", msg.c_str()); }
    uint16_t reg = 0, alarm = 0, storage = 0;
};

TEST_F(ConfigCommands, HeadsArgumentsPortStatusBeforeStartAndListenPorts) {
    vtest::LogCapture log(2);
    EXPECT_EQ(Plugin_SetConfig(nullptr, "1"), 0xFFFFFFFFu);
    EXPECT_EQ(Plugin_SetConfig("SetVexaSdkLog", nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(Plugin_SetConfig("setvexasdklog", "3"), 0xFFFFFFFFu);  // exact letter case only
    EXPECT_TRUE(log.contains("Not support cmd:setvexasdklog!"));
    EXPECT_EQ(Plugin_SetConfig("SetVexaSdkLog", "3"), 0u);
    EXPECT_TRUE(log.contains("SetVexaSdkLogProcess start [LogLevel = 3]"));
    EXPECT_EQ(Plugin_GetPortStatus(nullptr), 0xFFFFFFFFu);
    Json::Value doc;
    ASSERT_TRUE(vexa::parseJson(portStatus(), doc));
    EXPECT_EQ(vexa::writeJson(doc),
              "{\"deviceSessions\":0,\"maxDeviceSessions\":0,\"portList\":[{\"Single\":{\"portNo\":0},\"portName\":"
              "\"FERRO_Alarm_Port\",\"portValueType\":\"single\",\"status\":\"Invalid\"},{\"Single\":{\"portNo\":0},"
              "\"portName\":\"Registration_Port\",\"portValueType\":\"single\",\"status\":\"Invalid\"}],"
              "\"sessionStatus\":\"Available\"}");
    // Listen ports: the valid ones are taken, the rest ignored.
    CConfigCenter* cfg = CConfigCenter::instance();
    EXPECT_EQ(Plugin_SetConfig("InitListenPort", "aldonV5RegPort=7660;;pssUploadPort=6011;junk;other=1;"), 0u);
    EXPECT_EQ(cfg->innerRegPort(), 7660u);
    EXPECT_EQ(cfg->innerStoragePort(), 6011u);
    for (const char* bad : {"0", "65536", "-1", "12a", "", "99999999999"}) {
        EXPECT_EQ(Plugin_SetConfig("InitListenPort", (std::string("aldonV5AlarmPort=") + bad + ";").c_str()), 0u);
        EXPECT_EQ(cfg->innerAlarmPort(), 0u) << bad;
    }
    EXPECT_TRUE(log.contains("port out of range"));
}

TEST_F(ConfigCommands, BadTablesAndABusyPortStartNothing) {
    listenPorts();
    const std::string cases[] = {
        "{accessNetInfos:",  // not JSON
        "[1,2]",
        zoneTable("OTHER"),  // no entry of this protocol
        "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":5,\"id\":1}]}",
        "{\"accessNetInfos\":{\"protocolType\":\"VEXA\"}}",
        std::string(10000, '[') + std::string(10000, ']'),
    };
    for (const std::string& c : cases) {
        vtest::LogCapture log(5);
        EXPECT_EQ(table(c), 0xFFFFFFFFu) << c.substr(0, 80);
        EXPECT_FALSE(CVexaDeviceMgr::instance()->sdkStarted()) << c.substr(0, 80);
        EXPECT_TRUE(log.contains("parse m_jsonParams fail") || log.contains("strNetInfoIp is NULL,sdk not run!!!"))
            << c.substr(0, 80);
    }
    EXPECT_NE(portStatus().find("Invalid"), std::string::npos);
    EXPECT_FALSE(vtest::canConnect(reg));
    // A busy registration port: the command side cannot listen.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(reg), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_TRUE(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(s, 1) == 0);
    EXPECT_EQ(table(zoneTable()), 0xFFFFFFFFu);
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    EXPECT_FALSE(mgr->sdkStarted());
    EXPECT_EQ(mgr->cmsListenHandle(), -1);
    EXPECT_EQ(mgr->amsListenHandle(), -1);
    EXPECT_FALSE(vtest::canConnect(alarm));  // the alarm side that had started is stopped again
    close(s);
    // A later table succeeds once the port is free.
    EXPECT_EQ(table(zoneTable()), 0u);
    EXPECT_TRUE(vtest::canConnect(reg));
}

TEST_F(ConfigCommands, AlarmPortToldIsThePortListenedOn) {
    // The host gives no alarm port: the configured one is used, and 0 lets the system pick.
    const auto start = [&](uint32_t configured) {
        GWPLUGIN_GetPluginInterface()->Plugin_Fini();
        CConfigCenter::instance()->reset();
        vtest::writeFile("local_config.xml", "<c><AlarmPort>" + std::to_string(configured) + "</AlarmPort></c>");
        EXPECT_EQ(GWPLUGIN_GetPluginInterface()->Plugin_Init(), 0u);
        EXPECT_EQ(Plugin_SetConfig("InitListenPort", ("aldonV5RegPort=" + std::to_string(reg)).c_str()), 0u);
        return table(zoneTable());
    };
    EXPECT_EQ(start(70000), 0xFFFFFFFFu);  // never a port cut to 16 bits
    for (const uint16_t configured : {alarm, uint16_t(0)}) {
        SCOPED_TRACE(configured);
        vtest::LogCapture log(3);
        ASSERT_EQ(start(configured), 0u);
        const uint32_t listened = CConfigCenter::instance()->innerAlarmPort();
        if (configured) {
            EXPECT_EQ(listened, configured);
        }
        EXPECT_TRUE(listened != 0 && vtest::canConnect(static_cast<uint16_t>(listened)));
        EXPECT_EQ(log.contains("alarm port picked by the system: " + std::to_string(listened)), configured == 0);
        EXPECT_EQ(statusPort("FERRO_Alarm_Port"), listened);
        ServerInfo svr;
        CVexaDeviceMgr::instance()->findDeviceSvrInfo("S1", "127.0.0.1", svr);
        EXPECT_EQ(svr.alarmPort, static_cast<int32_t>(listened));
    }
}

// The first table starts both listeners with its NAT entries; later tables and listen ports
// change nothing until a restart.
TEST_F(ConfigCommands, TableStartsListenersOnceWithItsNatEntries) {
    listenPorts();
    CConfigCenter* cfg = CConfigCenter::instance();
    const std::string nats = "[" + nat("127.0.0.1", quoted(reg), "203.0.113.5", "17660") + "," +
                             nat("127.0.0.1", quoted(alarm), "203.0.113.5", "17332") + "," +
                             nat("10.9.9.9", quoted(storage), "198.51.100.1", "1") + "," +
                             nat("127.0.0.1", std::to_string(storage), "198.51.100.2", "2") + "," +
                             nat("127.0.0.1", quoted(storage), "198.51.100.3", "70000") + "]";
    ASSERT_EQ(table(zoneTable("VEXA", "127.0.0.1", nats)), 0u);
    EXPECT_EQ(cfg->outerAddress(), "203.0.113.5");
    EXPECT_EQ(cfg->outerRegPort(), 17660u);
    EXPECT_EQ(cfg->outerAlarmPort(), 17332u);
    EXPECT_EQ(cfg->outerStoragePort(), 0u);  // other local address, string port missing, port out of range
    EXPECT_EQ(statusPort("Registration_Port"), reg);
    EXPECT_EQ(statusPort("FERRO_Alarm_Port"), alarm);
    EXPECT_EQ(cfg->accessNetId(), 7u);
    const auto snapshot = [&] {
        std::string s = cfg->innerAddress() + "|" + cfg->outerAddress() + "|" + portStatus();
        for (uint32_t v : {uint32_t(cfg->accessNetId()), uint32_t(cfg->innerRegPort()), uint32_t(cfg->innerAlarmPort()),
                           uint32_t(cfg->innerStoragePort()), uint32_t(cfg->outerRegPort()),
                           uint32_t(cfg->outerAlarmPort()), uint32_t(cfg->outerStoragePort())})
            s += "|" + std::to_string(v);
        return s;
    };
    const std::string before = snapshot();
    const struct { const char* head; std::string msg; } cases[] = {
        {"NetZoneTableNotify", zoneTable("VEXA", "127.0.0.2", "[" + nat("127.0.0.2", quoted(alarm), "198.51.100.9", "9") + "]")},
        {"NetZoneTableNotify", zoneTable("OTHER")},
        {"NetZoneTableNotify", "{}"},
        {"InitListenPort", "aldonV5RegPort=1;aldonV5AlarmPort=2;pssUploadPort=3"},
    };
    vtest::LogCapture log(3);
    for (const auto& c : cases) {
        EXPECT_EQ(Plugin_SetConfig(c.head, c.msg.c_str()), 0u) << c.msg;
        EXPECT_EQ(snapshot(), before) << c.msg;
    }
    EXPECT_EQ(log.count("new network zone table ignored"), 3u);
    EXPECT_EQ(log.count("repeat init"), 3u);
    EXPECT_TRUE(log.contains("listen ports ignored"));
    EXPECT_TRUE(vtest::canConnect(reg) && vtest::canConnect(alarm));
    // After a restart, a table without NAT entries leaves no outer value of the earlier one.
    ASSERT_EQ(GWPLUGIN_GetPluginInterface()->Plugin_Fini(), 0u);
    ASSERT_EQ(GWPLUGIN_GetPluginInterface()->Plugin_Init(), 0u);
    ASSERT_EQ(table(zoneTable()), 0u);
    EXPECT_EQ(cfg->outerAddress() + std::to_string(cfg->outerRegPort()) + std::to_string(cfg->outerAlarmPort()), "00");
}

}  // namespace
