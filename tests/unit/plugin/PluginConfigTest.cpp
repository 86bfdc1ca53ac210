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

std::string zoneTable(const std::string& proto, const std::string& ip, const std::string& nats = "[]") {
    return "{\"accessNetInfos\":[{\"protocolType\":\"" + proto + "\",\"accessIp\":\"" + ip +
           "\",\"id\":7}],\"natIps\":" + nats + "}";
}


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
    uint16_t reg = 0, alarm = 0, storage = 0;
};

std::string startTable() { return zoneTable("VEXA", "127.0.0.1"); }

uint32_t statusPort(const std::string& doc, const char* name) {
    Json::Value v;
    EXPECT_TRUE(vexa::parseJson(doc, v));
    for (const Json::Value& e : v["portList"])
        if (e["portName"].asString() == name) return e["Single"]["portNo"].asUInt();
    return 0;
}

TEST_F(ConfigCommands, HeadsAndArguments) {
    vtest::LogCapture log(2);
    EXPECT_EQ(Plugin_SetConfig(nullptr, "1"), 0xFFFFFFFFu);
    EXPECT_EQ(Plugin_SetConfig("SetVexaSdkLog", nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(Plugin_SetConfig("setvexasdklog", "3"), 0xFFFFFFFFu);  // exact letter case only
    EXPECT_TRUE(log.contains("Not support cmd:setvexasdklog!"));
    EXPECT_EQ(Plugin_SetConfig("", ""), 0xFFFFFFFFu);
    EXPECT_EQ(Plugin_SetConfig("SetVexaSdkLog", "3"), 0u);
    EXPECT_TRUE(log.contains("SetVexaSdkLogProcess start [LogLevel = 3]"));
    EXPECT_EQ(Plugin_GetPortStatus(nullptr), 0xFFFFFFFFu);
}

TEST_F(ConfigCommands, PortStatusBeforeStart) {
    Json::Value doc;
    ASSERT_TRUE(vexa::parseJson(portStatus(), doc));
    EXPECT_EQ(vexa::writeJson(doc),
              "{\"portList\":[{\"Single\":{\"portNo\":0},\"portName\":\"FERRO_Alarm_Port\",\"portValueType\":\"single\","
              "\"status\":\"Invalid\"},{\"Single\":{\"portNo\":0},\"portName\":\"Registration_Port\",\"portValueType\":"
              "\"single\",\"status\":\"Invalid\"}]}");
}

TEST_F(ConfigCommands, InitListenPortSetsValidPortsAndIgnoresTheRest) {
    CConfigCenter* cfg = CConfigCenter::instance();
    vtest::LogCapture log(4);
    EXPECT_EQ(Plugin_SetConfig("InitListenPort", "aldonV5RegPort=7660;;pssUploadPort=6011;junk;other=1;"), 0u);
    EXPECT_EQ(cfg->innerRegPort(), 7660u);
    EXPECT_EQ(cfg->innerStoragePort(), 6011u);
    struct {
        const char* value;
    } bad[] = {{"0"}, {"65536"}, {"-1"}, {"12a"}, {""}, {"99999999999"}};
    for (const auto& b : bad) {
        const std::string msg = std::string("aldonV5AlarmPort=") + b.value + ";";
        EXPECT_EQ(Plugin_SetConfig("InitListenPort", msg.c_str()), 0u);
        EXPECT_EQ(cfg->innerAlarmPort(), 0u) << b.value;
    }
    EXPECT_TRUE(log.contains("port out of range"));
}

TEST_F(ConfigCommands, NetZoneTableStartsBothListeners) {
    listenPorts();
    ASSERT_EQ(Plugin_SetConfig("NetZoneTableNotify", zoneTable("VEXA", "127.0.0.1").c_str()), 0u);
    const std::string st = portStatus();
    EXPECT_EQ(st.find("Invalid"), std::string::npos) << st;
    EXPECT_NE(st.find("\"portNo\":" + std::to_string(reg)), std::string::npos);
    EXPECT_NE(st.find("\"portNo\":" + std::to_string(alarm)), std::string::npos);
    EXPECT_TRUE(vtest::canConnect(reg));
    EXPECT_TRUE(vtest::canConnect(alarm));
    EXPECT_EQ(CConfigCenter::instance()->accessNetId(), 7u);
    // A repeated table changes nothing.
    vtest::LogCapture log(3);
    EXPECT_EQ(Plugin_SetConfig("NetZoneTableNotify", zoneTable("VEXA", "127.0.0.2").c_str()), 0u);
    EXPECT_TRUE(log.contains("repeat init"));
    EXPECT_TRUE(vtest::canConnect(reg));
}

TEST_F(ConfigCommands, BadTablesStartNothing) {
    listenPorts();
    struct Case {
        const char* name;
        std::string msg;
    } cases[] = {
        {"not json", "{accessNetInfos:"},
        {"array root", "[1,2]"},
        {"empty", ""},
        {"other protocol only", zoneTable("OTHER", "127.0.0.1")},
        {"access ip of wrong type", "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":5,\"id\":1}]}"},
        {"infos not an array", "{\"accessNetInfos\":{\"protocolType\":\"VEXA\"}}"},
        {"deep nesting", std::string(10000, '[') + std::string(10000, ']')},
    };
    for (const Case& c : cases) {
        vtest::LogCapture log(5);
        EXPECT_EQ(Plugin_SetConfig("NetZoneTableNotify", c.msg.c_str()), 0xFFFFFFFFu) << c.name;
        EXPECT_FALSE(CVexaDeviceMgr::instance()->sdkStarted()) << c.name;
        EXPECT_TRUE(log.contains("parse m_jsonParams fail") || log.contains("strNetInfoIp is NULL,sdk not run!!!"))
            << c.name;
    }
    EXPECT_NE(portStatus().find("Invalid"), std::string::npos);
    EXPECT_FALSE(vtest::canConnect(reg));
}

TEST_F(ConfigCommands, NatEntriesSetOuterAddressAndPorts) {
    listenPorts();
    CConfigCenter* cfg = CConfigCenter::instance();
    const std::string nats = "[{\"localIp\":\"127.0.0.1\",\"localPort\":\"" + std::to_string(reg) +
                             "\",\"natIp\":\"203.0.113.5\",\"natPort\":\"17660\"},"
                             "{\"localIp\":\"127.0.0.1\",\"localPort\":\"" + std::to_string(alarm) +
                             "\",\"natIp\":\"203.0.113.5\",\"natPort\":\"17332\"},"
                             "{\"localIp\":\"10.9.9.9\",\"localPort\":\"" + std::to_string(storage) +
                             "\",\"natIp\":\"198.51.100.1\",\"natPort\":\"1\"},"
                             "{\"localIp\":\"127.0.0.1\",\"localPort\":" + std::to_string(storage) +
                             ",\"natIp\":\"198.51.100.2\",\"natPort\":\"2\"},"
                             "{\"localIp\":\"127.0.0.1\",\"localPort\":\"" + std::to_string(storage) +
                             "\",\"natIp\":\"198.51.100.3\",\"natPort\":\"70000\"}]";
    ASSERT_EQ(Plugin_SetConfig("NetZoneTableNotify", zoneTable("VEXA", "127.0.0.1", nats).c_str()), 0u);
    EXPECT_EQ(cfg->outerAddress(), "203.0.113.5");
    EXPECT_EQ(cfg->outerRegPort(), 17660u);
    EXPECT_EQ(cfg->outerAlarmPort(), 17332u);
    EXPECT_EQ(cfg->outerStoragePort(), 0u);  // other local address, string port missing, port out of range
    // After a restart, a table without NAT entries leaves no outer value of the earlier one.
    ASSERT_EQ(GWPLUGIN_GetPluginInterface()->Plugin_Fini(), 0u);
    ASSERT_EQ(GWPLUGIN_GetPluginInterface()->Plugin_Init(), 0u);
    ASSERT_EQ(Plugin_SetConfig("NetZoneTableNotify", startTable().c_str()), 0u);
    EXPECT_EQ(cfg->outerAddress() + std::to_string(cfg->outerRegPort()) + std::to_string(cfg->outerAlarmPort()), "00");
}

TEST_F(ConfigCommands, FailedStartLeavesLibrariesStopped) {
    // Occupy the registration port so the command side cannot listen.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(reg);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(s, 1), 0);
    listenPorts();
    EXPECT_EQ(Plugin_SetConfig("NetZoneTableNotify", zoneTable("VEXA", "127.0.0.1").c_str()), 0xFFFFFFFFu);
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    EXPECT_FALSE(mgr->sdkStarted());
    EXPECT_EQ(mgr->cmsListenHandle(), -1);
    EXPECT_EQ(mgr->amsListenHandle(), -1);
    EXPECT_FALSE(vtest::canConnect(alarm));  // the alarm side that had started is stopped again
    close(s);
    // A later table succeeds once the port is free.
    EXPECT_EQ(Plugin_SetConfig("NetZoneTableNotify", zoneTable("VEXA", "127.0.0.1").c_str()), 0u);
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
        return Plugin_SetConfig("NetZoneTableNotify", startTable().c_str());
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
        EXPECT_EQ(statusPort(portStatus(), "FERRO_Alarm_Port"), listened);
        ServerInfo svr;
        CVexaDeviceMgr::instance()->findDeviceSvrInfo("S1", "127.0.0.1", svr);
        EXPECT_EQ(svr.alarmPort, static_cast<int32_t>(listened));
    }
}

TEST_F(ConfigCommands, CommandsWhileRunningChangeNothing) {
    listenPorts();
    const std::string nat = "[{\"localIp\":\"127.0.0.1\",\"localPort\":\"" + std::to_string(reg) +
                            "\",\"natIp\":\"203.0.113.5\",\"natPort\":\"17660\"}]";
    ASSERT_EQ(Plugin_SetConfig("NetZoneTableNotify", zoneTable("VEXA", "127.0.0.1", nat).c_str()), 0u);
    CConfigCenter* cfg = CConfigCenter::instance();
    const auto snapshot = [&] {
        return cfg->innerAddress() + "|" + cfg->outerAddress() + "|" + std::to_string(cfg->accessNetId()) + "|" +
               std::to_string(cfg->innerRegPort()) + "|" + std::to_string(cfg->innerAlarmPort()) + "|" +
               std::to_string(cfg->innerStoragePort()) + "|" + std::to_string(cfg->outerRegPort()) + "|" +
               std::to_string(cfg->outerAlarmPort()) + "|" + std::to_string(cfg->outerStoragePort()) + "|" +
               portStatus();
    };
    const std::string before = snapshot();
    const std::string otherNat = "[{\"localIp\":\"127.0.0.2\",\"localPort\":\"" + std::to_string(alarm) +
                                 "\",\"natIp\":\"198.51.100.9\",\"natPort\":\"9\"}]";
    const struct { const char* head; std::string msg; } cases[] = {
        {"NetZoneTableNotify", zoneTable("VEXA", "127.0.0.2", otherNat)},
        {"NetZoneTableNotify", zoneTable("VEXA", "127.0.0.1")},  // same address, no NAT entry
        {"NetZoneTableNotify", zoneTable("OTHER", "127.0.0.1")},
        {"NetZoneTableNotify", "{}"},
        {"InitListenPort", "aldonV5RegPort=1;aldonV5AlarmPort=2;pssUploadPort=3"},
    };
    vtest::LogCapture log(3);
    for (const auto& c : cases) {
        EXPECT_EQ(Plugin_SetConfig(c.head, c.msg.c_str()), 0u) << c.msg;
        EXPECT_EQ(snapshot(), before) << c.msg;
    }
    EXPECT_EQ(log.count("new network zone table ignored"), 4u);
    EXPECT_EQ(log.count("repeat init"), 4u);
    EXPECT_TRUE(log.contains("listen ports ignored"));
    EXPECT_TRUE(vtest::canConnect(reg) && vtest::canConnect(alarm));
}

TEST(ConfigLifecycle, ListenerCommandsRefusedOutsideInitAndFini) {
    vtest::enterTempDir();
    const GWPluginInterface* t = GWPLUGIN_GetPluginInterface();
    const uint16_t reg = gwhost::freeLoopbackPort(), alarm = gwhost::freeLoopbackPort();
    const std::string ports = "aldonV5RegPort=" + std::to_string(reg) + ";aldonV5AlarmPort=" + std::to_string(alarm);
    // One full cycle with listening libraries first, so the baseline holds every lazily started
    // runtime thread.
    ASSERT_EQ(t->Plugin_Init(), 0u);
    ASSERT_EQ(Plugin_SetConfig("InitListenPort", ports.c_str()), 0u);
    ASSERT_EQ(Plugin_SetConfig("NetZoneTableNotify", startTable().c_str()), 0u);
    ASSERT_EQ(t->Plugin_Fini(), 0u);
    const int threads = vtest::threadCount(), fds = vtest::openFdCount();
    vtest::LogCapture log(4);
    EXPECT_EQ(Plugin_SetConfig("InitListenPort", ports.c_str()), 0u);  // only stores values
    EXPECT_EQ(Plugin_SetConfig("NetZoneTableNotify", startTable().c_str()), 0xFFFFFFFFu);
    EXPECT_EQ(Plugin_SetConfig("SetVexaSdkLog", "3"), 0xFFFFFFFFu);
    EXPECT_EQ(log.count("refused, plug-in not initialised"), 2u);
    EXPECT_FALSE(vtest::canConnect(reg) || vtest::canConnect(alarm));
    EXPECT_EQ(vtest::threadCount(), threads);
    EXPECT_EQ(vtest::openFdCount(), fds);
}

}  // namespace
