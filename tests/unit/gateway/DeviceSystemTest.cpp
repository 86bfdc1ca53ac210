#include <gtest/gtest.h>

#include "FakeChannel.h"
#include "TestSupport.h"
#include "common/StatusList.h"
#include "gateway/DeviceSystem.h"
#include "gateway/VexaDeviceGateway.h"

namespace {

using namespace vexa::status;
const std::string kDecl = R"(<?xml version="1.0" encoding="utf-8" ?>)";
const std::string kOk = "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>";

struct FerroChannel : FakeChannel {
    std::vector<std::pair<std::string, std::string>> ferroCalls;
    uint32_t ferro(std::string& response, const std::string& cmd, const std::string& body) override {
        ferroCalls.push_back({cmd, body});
        return FakeChannel::ferro(response, cmd, body);
    }
};

std::shared_ptr<CVexaDevice> device(int32_t handle) {
    auto dev = std::make_shared<CVexaDevice>();
    dev->Connect_V2("DeviceId=D7;");
    if (handle >= 0) dev->setLogin({handle, "192.0.2.1", 8000, "aldonV5", "S1"});
    return dev;
}

TEST(DeviceSystem, PanelHandlers) {
    const struct { int which; uint32_t rc; const char* answer; uint32_t code; std::string response; } cases[] = {
        {0, 0, R"({"localDateTime":"2021-03-04T05:06:07+08:00"})", 0,
         R"({"Time":{"localTime":"2021-03-04T05:06:07+08:00","timeMode":"manual"}})"},
        {0, 0, R"({"time":"x"})", kBadParameters, ""},
        {0, 0, "not json", kInvalidContent, ""},
        {0, kNetworkError, "left over", kNetworkError, ""},
        {1, 0, "{}", 0, ""},
        {1, kDeviceError, R"({"status":500})", kDeviceError, ""},
        {2, 0, R"({"deviceName":"P<1>","model":"M","serialNumber":7,"extra":"x"})", 0,
         R"({"DeviceInfo":{"deviceID":"D7","deviceName":"P<1>","firmwareVersion":"V1","model":"M"}})"},
        {2, 0, "[1]", 0, R"({"DeviceInfo":{"deviceID":"D7","firmwareVersion":"V1"}})"},
        {2, 0, "{", kInvalidContent, ""},
    };
    auto dev = device(3);
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(c.rc, c.answer);
        ch.script(0, R"({"firmwareVersion":"V1","hardwareVersion":5})");
        std::string rsp = "stale";
        const uint32_t got = c.which == 0 ? getLocalTime(ch, rsp) : c.which == 1 ? rebootSystem(ch, rsp)
                                                                              : getVexaDeviceInfo(*dev, ch, rsp);
        EXPECT_EQ(got, c.code) << c.answer;
        EXPECT_EQ(rsp, c.response) << c.answer;
        const char* first[] = {"TimeMgr/LocalDateTime/1", "SystemMaintenance/SystemReboot/3", "InfoMgr/DeviceDescription/1"};
        ASSERT_FALSE(ch.sent.empty());
        EXPECT_EQ(ch.sent[0].domain + "/" + ch.sent[0].identifier + "/" + std::to_string(ch.sent[0].kind), first[c.which]);
    }
}

TEST(DeviceSystem, UpgradeParamsAreCheckedAndNeverCut) {
    const std::string s31(31, 'u'), s255(255, 'f');
    auto body = [](const std::string& ip, const std::string& port, const std::string& user, const std::string& file) {
        return R"({"UpgradeParams":{"FTPServerIP":)" + ip + R"(,"FTPServerPort":)" + port + R"(,"userName":)" + user +
               R"(,"password":"p<&>","file":)" + file + "}}";
    };
    const struct { std::string body; uint32_t code; } cases[] = {
        {body(R"("10.0.0.1")", "21", "\"" + s31 + "\"", "\"" + s255 + "\""), 0},
        {body(R"("10.0.0.300")", "21", R"("u")", R"("f")"), kBadParameters},
        {body(R"("10.0.0.1x")", "21", R"("u")", R"("f")"), kBadParameters},
        {body(R"("10.0.-1.1")", "21", R"("u")", R"("f")"), kBadParameters},
        {body(R"(" 10.0.0.1")", "21", R"("u")", R"("f")"), kBadParameters},
        {body(R"("10.0.0.1")", "0", R"("u")", R"("f")"), kBadParameters},
        {body(R"("10.0.0.1")", "65536", R"("u")", R"("f")"), kBadParameters},
        {body(R"("10.0.0.1")", "21", R"("")", R"("f")"), kBadParameters},
        {body(R"("10.0.0.1")", "21", "\"" + s31 + "u\"", R"("f")"), kBadParameters},  // longer than its field
        {body(R"("10.0.0.1")", "21", R"("u")", "\"" + s255 + "f\""), kBadParameters},
        {R"({"UpgradeParams":{"FTPServerIP":"10.0.0.1"}})", kBadParameters},
        {R"( {"UpgradeParams":{}})", kBadParameters},
        {"[]", kBadParameters},
    };
    for (const auto& c : cases) {
        UpgradeParams p;
        EXPECT_EQ(ParseUpgradeReq(p, c.body), c.code) << c.body;
        if (c.code == 0) {
            EXPECT_EQ(std::string(p.ftpServerIp) + ":" + std::to_string(p.ftpServerPort), "10.0.0.1:21");
            EXPECT_EQ(std::string(p.userName), s31);
            EXPECT_EQ(std::string(p.file), s255);
        }
        auto dev = device(4);
        FerroChannel ch;
        std::string rsp;
        EXPECT_EQ(UpgradeDev(*dev, ch, c.body, rsp), c.code);
        EXPECT_EQ(ch.ferroCalls.size(), c.code == 0 ? 1u : 0u);
    }
}

TEST(DeviceSystem, RebootAndUpgradeRouting) {
    const std::string up = R"({"UpgradeParams":{"FTPServerIP":"10.1.2.3","FTPServerPort":2121,"userName":"a&b",)"
                           R"("password":"p<w>","file":"fw.bin"}})";
    const struct { int32_t handle; const char *uri, *method; int32_t code; const char* ferro; } cases[] = {
        {4, "/OVIX/System/reboot", "PUT", -1, ""},
        {4, "/OVIX/System/reboot?format=json", "PUT", 0, "REBOOT"},
        {4, "/OVIX/System/reboot?format=json", "GET", static_cast<int32_t>(kNotSupport), ""},
        {4, "/OVIX/System/upgradeAldon?format=json", "PUT", 0, "UPDATE"},
        {4, "/OVIX/System/upgradeAldon?format=json", "POST", static_cast<int32_t>(kBadParameters), ""},
        {-1, "/OVIX/System/upgradeAldon?format=json", "PUT", static_cast<int32_t>(kNetworkError), ""},
        {4, "/OVIX/System/time?format=json", "PUT", -1, ""},
    };
    for (const auto& c : cases) {
        auto dev = device(c.handle);
        FerroChannel ch;
        std::string rsp;
        EXPECT_EQ(procDevFERROCfg(*dev, ch, c.uri, c.method, up, rsp), c.code) << c.uri << c.method;
        EXPECT_EQ(ch.ferroCalls.empty() ? "" : ch.ferroCalls[0].first, c.ferro) << c.uri << c.method;
    }
}

TEST(DeviceSystem, DeviceInfoWrite) {
    const std::string head = kDecl + R"(<DeviceInfo version="2.0" xmlns="http://www.ovix.org/ver20/XMLSchema">)";
    const struct { std::string body; uint32_t code; std::string sent; } cases[] = {
        {R"({"DeviceInfo":{"devType":"x","deviceID":"9","deviceName":"Hall 1","deviceDescription":"a<b>&c"}})", 0,
         head + "<deviceName>Hall 1</deviceName><deviceID>9</deviceID><deviceDescription>a&lt;b&gt;&amp;c"
                "</deviceDescription><devType>x</devType></DeviceInfo>"},
        {R"({"DeviceInfo":{"deviceID":"9","deviceName":")" + std::string(32, 'n') + "\"}}", 0,
         head + "<deviceName>" + std::string(32, 'n') + "</deviceName><deviceID>9</deviceID></DeviceInfo>"},
        {R"({"DeviceInfo":{"deviceID":"9","deviceName":")" + std::string(33, 'n') + "\"}}", kBadParameters, ""},
        {R"({"DeviceInfo":{"deviceID":"9","deviceName":"a:b"}})", kBadParameters, ""},
        {R"({"DeviceInfo":{"deviceID":"9","deviceName":"a\u00e9"}})", kBadParameters, ""},
        {R"({"DeviceInfo":{"deviceName":"a"}})", kBadParameters, ""},
        {R"({"DeviceInfo":{"deviceID":"9","deviceName":"a","model":3}})", kBadParameters, ""},
        {R"({"DeviceInfo":{"deviceID":"9","deviceName":"a","model":")" + std::string(1000, 'm') + "\"}}",
         kBadParameters, ""},  // would not fit the device document
        {R"({"DeviceInfo":[]})", kBadParameters, ""},
        // Text that cannot stand in XML is refused, not sent as a broken document.
        {"{\"DeviceInfo\":{\"deviceID\":\"9\xC7\",\"deviceName\":\"a\"}}", kBadParameters, ""},
        {R"({"DeviceInfo":{"deviceID":"9","deviceName":"a","model":"\u0001"}})", kBadParameters, ""},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(0, kOk);
        std::string rsp;
        EXPECT_EQ(ovixPutDeviceInfo(ch, c.body, rsp), c.code) << c.body;
        EXPECT_EQ(ch.ovixCalls.empty() ? "" : ch.ovixCalls[0].body, c.sent);
    }
    for (const auto& m : {std::make_pair("deviceDescription", "] param err 3"), std::make_pair("devType", "] param err 21")}) {
        vtest::LogCapture log;
        FakeChannel ch;
        std::string out;
        ovixPutDeviceInfo(ch, R"({"DeviceInfo":{"deviceID":"9","deviceName":"a",")" + std::string(m.first) + "\":1}}", out);
        EXPECT_TRUE(log.contains(m.second)) << m.first;
    }
    FakeChannel refused;  // a refusal in the device's status reaches the host as that status
    refused.script(0, "<ResponseStatus><statusCode>6</statusCode></ResponseStatus>");
    std::string rsp;
    EXPECT_EQ(ovixPutDeviceInfo(refused, R"({"DeviceInfo":{"deviceID":"9","deviceName":"a"}})", rsp), 0x60000001u);
    EXPECT_EQ(rsp, "");
}

TEST(DeviceSystem, TimeWriteInDeviceZone) {
    vtest::TzScope tz("America/New_York");  // the gateway's own zone must not matter
    const std::string head = kDecl + R"(<Time version="2.0" xmlns="http://www.vexa.com/ver20/XMLSchema">)"
                                     "<timeMode>manual</timeMode><localTime>";
    const std::string dst = "CST-8:00:00DST01:00:00,M3.2.0/02:00:00,M11.1.0/02:00:00";
    auto body = [](const std::string& mode, const std::string& t) {
        return R"({"Time":{"timeMode":")" + mode + R"(","localTime":")" + t + "\"}}";
    };
    const struct { std::string body; uint32_t zoneRc; std::string zone; uint32_t code; std::string sent; } cases[] = {
        {body("manual", "2021-03-04T05:06:07+03:00"), 0, "CST-8:00:00", 0,
         head + "2021-03-04T10:06:07+08:00</localTime><timeZone>CST-8:00:00</timeZone></Time>"},
        {body("manual", "2021-12-31T23:30:00Z"), 0, dst, 0,
         head + "2022-01-01T07:30:00+08:00</localTime><timeZone>" + dst + "</timeZone></Time>"},
        {body("manual", "2021-03-01T01:00:00+05:45"), 0, "<timeZone>CST+4:30:00</timeZone>", 0,
         head + "2021-02-28T14:45:00-04:30</localTime><timeZone>CST+4:30:00</timeZone></Time>"},
        {body("manual", "2021-03-04T05:06:07+03:00"), kNetworkError, "", kNetworkError, ""},  // zone unknown: nothing set
        {body("manual", "2021-03-04T05:06:07+03:00"), 0, "GMT+8", kBadParameters, ""},
        {body("manual", "2021-03-04T05:06:07+03:00"), 0, "CST-99:00:00", kBadParameters, ""},
        {body("manual", "2021-02-30T05:06:07+03:00"), 0, "CST-8:00:00", kBadParameters, ""},
        {body("manual", "2021-03-04 05:06:07"), 0, "CST-8:00:00", kBadParameters, ""},
        {body("NTP", "2021-03-04T05:06:07+03:00"), 0, "CST-8:00:00", kBadParameters, ""},
        {R"({"Time":{"timeMode":"manual","localTime":5}})", 0, "CST-8:00:00", kBadParameters, ""},
        {"{", 0, "CST-8:00:00", kBadParameters, ""},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(c.zoneRc, c.zone);
        ch.script(0, kOk);
        int32_t result = -1;
        std::string rsp;
        ovixSetTimeMngParam(ch, result, c.body, rsp);
        EXPECT_EQ(static_cast<uint32_t>(result), c.code) << c.body << c.zone;
        const std::string sent = ch.ovixCalls.size() == 2 ? ch.ovixCalls[1].body : "";
        EXPECT_EQ(sent, c.sent) << c.body << c.zone;
    }
}

TEST(DeviceSystem, TimeAndNetworkReads) {
    const struct { int which; uint32_t rc; std::string answer; int32_t code; std::string response; } cases[] = {
        {0, 0, "<Time><timeMode>NTP</timeMode><localTime>2021-03-04T05:06:07+08:00</localTime></Time>", 0,
         R"({"Time":{"localTime":"2021-03-04T05:06:07+08:00","timeMode":"NTP"}})"},
        {0, 0, "<Time/>", 0, R"({"Time":{"localTime":"","timeMode":""}})"},
        {0, 0, "garbage", static_cast<int32_t>(kBadParameters), ""},
        {0, kNetworkError, "", static_cast<int32_t>(kNetworkError), ""},
        {1, 0,
         "<NetworkInterfaceList><NetworkInterface><id>1</id><IPAddress><ipAddress>10.0.0.2</ipAddress>"
         "</IPAddress></NetworkInterface></NetworkInterfaceList>",
         0, R"({"NetworkInterfaceList":{"NetworkInterface":[{"IPAddress":{"ipAddress":"10.0.0.2"},"id":"1"}]}})"},
        {1, 0, "<Other/>", static_cast<int32_t>(kBadParameters), ""},
        {2, 0, "<IPAddress><ipAddress>10.0.0.2</ipAddress><ipAddress>10.0.0.3</ipAddress></IPAddress>", 0,
         R"({"IPAddress":{"ipAddress":["10.0.0.2","10.0.0.3"]}})"},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(c.rc, c.answer);
        std::string rsp = "stale";
        int32_t result = -1;
        if (c.which == 0) ovixGetTimeMngParam(ch, result, rsp);
        if (c.which == 1) result = static_cast<int32_t>(ovixGetNetworkInterfaceList(ch, rsp));
        if (c.which == 2) result = static_cast<int32_t>(ovixGetIPAddress(ch, "/OVIX/System/Network/interfaces/1/ipAddress", rsp));
        EXPECT_EQ(result, c.code) << c.answer;
        EXPECT_EQ(rsp, c.response) << c.answer;
    }
}

TEST(DeviceSystem, NetworkWrites) {
    const std::string head = kDecl + R"(<IPAddress version="2.0" xmlns="http://www.ovix.org/ver20/XMLSchema">)";
    const struct { std::string body; uint32_t code; std::string sent; } cases[] = {
        {R"({"IPAddress":{"ipAddress":"10.0.0.9","subnetMask":"255.255.255.0","DefaultGateway":{"ipAddress":"10.0.0.1"},"dns":["a&b","c"]}})",
         0,
         head + "<DefaultGateway><ipAddress>10.0.0.1</ipAddress></DefaultGateway><dns>a&amp;b</dns><dns>c</dns>"
                "<ipAddress>10.0.0.9</ipAddress><subnetMask>255.255.255.0</subnetMask></IPAddress>"},
        {R"({"IPAddress":{"ipAddress":"10.0.0.256"}})", kBadParameters, ""},
        {R"({"IPAddress":{"DefaultGateway":{"ipAddress":"1.2.3"}}})", kBadParameters, ""},
        {R"({"IPAddress":{"bad name":"1"}})", kBadParameters, ""},
        {R"({"IPAddress":{"x":null}})", kBadParameters, ""},
        {R"({"IPAddress":{"x":"\u001b"}})", kBadParameters, ""},
        {R"({"NetworkInterface":{}})", kBadParameters, ""},
    };
    for (const auto& c : cases) {
        FakeChannel ch;
        ch.script(0, kOk);
        std::string rsp;
        EXPECT_EQ(ovixPutIPAddress(ch, "/OVIX/System/Network/interfaces/1/ipAddress", c.body, rsp), c.code) << c.body;
        EXPECT_EQ(ch.ovixCalls.empty() ? "" : ch.ovixCalls[0].body, c.sent);
        if (!ch.ovixCalls.empty()) {
            EXPECT_EQ(ch.ovixCalls[0].url + std::to_string(ch.ovixCalls[0].method),
                      "/OVIX/System/Network/interfaces/1/ipAddress1");
        }
    }
}

}  // namespace
