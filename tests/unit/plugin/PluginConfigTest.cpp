#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "ConfigCenter.h"
#include "JsonUtil.h"
#include "PluginHost.h"
#include "TestSupport.h"
#include "VexaDeviceMgr.h"
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

}  // namespace
