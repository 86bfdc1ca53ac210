#include <gtest/gtest.h>

#include <cstring>

#include "FakeChannel.h"
#include "common/JsonUtil.h"
#include "common/StatusCode.h"
#include "TestSupport.h"
#include "gateway/UrlMatch.h"
#include "gateway/VexaDeviceGateway.h"

namespace {

std::string envelope(const std::string& method, const std::string& uri, const std::string& body = "") {
    Json::Value e(Json::objectValue);
    e["method"] = method;
    e["uri"] = uri;
    e["body"] = body;
    return vexa::writeJson(e);
}

std::string statusText(uint32_t code) { return statusDocumentText(code); }

class Dispatcher : public ::testing::Test {
protected:
    std::shared_ptr<CVexaDevice> dev = std::make_shared<CVexaDevice>();
    FakeChannel ch;

    void login(const std::string& pto, int32_t handle = 7) { dev->setLogin({handle, "192.0.2.1", 8000, pto, "S1"}); }
    std::string call(const std::string& env, uint32_t size = 65536) {
        std::vector<char> buf(size + 1, '#');
        ovixGateway(*dev, ch, env.c_str(), buf.data(), size);
        return std::string(buf.data(), strnlen(buf.data(), size));
    }
    std::string call(const std::string& method, const std::string& uri, const std::string& body = "") {
        return call(envelope(method, uri, body));
    }
};

TEST_F(Dispatcher, EnvelopeRules) {
    // The device-independent route answers "ok" offline, so an accepted envelope shows as "ok".
    const std::string ok = R"("method":"PUT","uri":"/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json",)"
                           R"("body":"{\"accountID\":\"A\",\"activeStatus\":\"active\"}")";
    const struct {
        std::string text;
        uint32_t code;
    } cases[] = {
        {"{" + ok + "}", 1},
        {"   {" + ok + "}   ", 1},
        {"\t{" + ok + "}", 0x60000001},  // only spaces are trimmed
        {"[{" + ok + "}]", 0x60000001},
        {"x{" + ok + "}", 0x60000001},
        {"", 0x60000001},
        {"   ", 0x60000001},
        {"{", 0x60000001},
        {"null", 0x60000001},
        {R"({"method":"PUT","uri":"/OVIX/x?format=json","body":{}})", 0x60000001},
        {R"({"method":"PUT","uri":"/OVIX/x?format=json"})", 0x60000001},
        {R"({"uri":"/OVIX/x?format=json","body":""})", 0x60000001},
        {R"({"method":null,"uri":"/OVIX/x?format=json","body":""})", 0x60000001},
        {R"({"method":[],"uri":"/OVIX/x?format=json","body":""})", 0x60000001},
        {R"({"method":"GET","uri":5,"body":""})", 0x60000001},
        {"{\"method\":\"GET\",\"uri\":\"/a?b\",\"body\":\"" + std::string(5 * 1024 * 1024, 'a') + "\"}", 0x60000001},
        {std::string(100000, '[') + std::string(100000, ']'), 0x60000001},
        {"{\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}", 0x60000001},
        // Accepted, but no route: an empty path, or a method of another scalar type.
        {R"({"method":"GET","uri":"/OVIX/System/time","body":""})", 0x40000006},
        {R"({"method":1,"uri":"/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json","body":""})", 0x20000009},
    };
    for (const auto& c : cases) EXPECT_EQ(call(c.text), statusText(c.code)) << c.text.substr(0, 80);

    vtest::LogCapture log(5);
    std::vector<char> buf(64, '#');
    ovixGateway(*dev, ch, nullptr, buf.data(), 64);
    EXPECT_EQ(std::string(buf.data()).substr(0, 20), statusText(0x60000001).substr(0, 20));
    EXPECT_TRUE(log.contains("5 VEXA_DEV [CVexaDevice::OVIX_Getway("));
    EXPECT_TRUE(log.contains(")] szConfigJson format is wrong"));
}

TEST_F(Dispatcher, OfflineAndFamily) {
    vtest::LogCapture log(5);
    EXPECT_EQ(call("GET", "/OVIX/SecurityCP/status/subSystems?format=json"), statusText(0x20000009));
    EXPECT_TRUE(log.contains("is not online!"));
    login("VEXA", -1);
    EXPECT_EQ(call("PUT", "/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json",
                   R"({"accountID":"acc","activeStatus":"active"})"),
              statusText(1));
    EXPECT_TRUE(dev->alarmActive());
    EXPECT_EQ(dev->alarmAccountId(), "acc");
    // Without the query flag, or with another method, it is an ordinary request.
    EXPECT_EQ(call("PUT", "/OVIX/ContentMgmt/DeviceMgmt/alarmParams?x=1", "{}"), statusText(0x20000009));
    EXPECT_EQ(call("GET", "/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json"), statusText(0x20000009));
    login("other");
    EXPECT_EQ(call("GET", "/OVIX/System/time?format=json"), statusText(0x40000001));
    EXPECT_TRUE(log.contains("[devicePto=other]unknown device pto "));
    EXPECT_TRUE(ch.sent.empty() && ch.ovixCalls.empty());
}

TEST_F(Dispatcher, AlarmParamsBodies) {
    const struct {
        const char* body;
        uint32_t code;
        bool active;
    } cases[] = {
        {R"({"accountID":"a1","activeStatus":"active"})", 1, true},
        {R"({"accountID":"a2","activeStatus":"inactive"})", 1, false},
        {R"({"accountID":"a3","activeStatus":"Active"})", 1, false},
        {"not json", 0x4000000a, false},
        {R"(["accountID","activeStatus"])", 0x60000001, false},
        {R"({"accountID":5,"activeStatus":"active"})", 0x60000001, false},
        {R"({"accountID":"a4"})", 0x60000001, false},
    };
    login("aldonV5");
    for (const auto& c : cases) {
        dev->setAlarmActive(false);
        EXPECT_EQ(call("PUT", "/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json", c.body), statusText(c.code))
            << c.body;
        EXPECT_EQ(dev->alarmActive(), c.active) << c.body;
    }
    EXPECT_EQ(dev->alarmAccountId(), "a3");  // refused bodies change nothing
}

TEST_F(Dispatcher, VexaRoutes) {
    login("VEXA");
    const struct {
        const char* method;
        const char* uri;
        const char* body;
        const char* identifier;  // model command expected, "" for none
        uint32_t code;           // status answered (with the fake's default answer "{}")
    } cases[] = {
        {"GET", "/OVIX/System/time", "", "", 0x40000006},
        {"GET", "/OVIX/System/time?x=1", "", "", 0x40000001},
        {"PUT", "/OVIX/SecurityCP/control/arm/3?format=json", "", "CtrlSubSystemArmList", 1},
        {"PUT", "/OVIX/SecurityCP/control/arm/3/4?format=json", "", "", 0x40000001},
        {"PUT", "/OVIX/SecurityCP/control/arm/3?ways=stay", "", "", 0x40000001},
        {"GET", "/OVIX/SecurityCP/control/arm/3?format=json", "", "", 0x40000001},
        {"PUT", "/OVIX/SecurityCP/control/clearAlarm/x?format=json", "", "", 0x60000001},
        {"PUT", "/OVIX/SecurityCP/control/disarm?format=json", R"({"SubSysList":[]})", "CtrlSubSystemDisarmList", 1},
        {"PUT", "/OVIX/SecurityCP/control/faultArmConfirm?format=json", R"({"SubSysList":[]})",
         "SetSubSystemFaultArmConfirm", 1},
        {"PUT", "/OVIX/SecurityCP/control/faultArmConfirm?format=json", R"({"SubSysList":5})", "", 0x60000001},
        {"POST", "/OVIX/SecurityCP/control/searchSubSystemArmStatus?format=json", "{}", "SearchSubSystemArmStatus", 0},
        {"POST", "/OVIX/SecurityCP/control/outputs?x=1", "{}", "", 0x40000001},
        {"POST", "/OVIX/SecurityCP/control/outputs", "{}", "", 0x40000006},
        {"GET", "/OVIX/SecurityCP/TwoWayAudio/paramCfg?x=1", "", "HostIntercomParam", 0},
        {"GET", "/OVIX/SecurityCP/Configuration/capabilities?", "", "GetFunctions", 0},
        {"PUT", "/OVIX/SecurityCP/TwoWayAudio/mode?", "{}", "CtrlHostIntercomMode", 0},
        {"POST", "/OVIX/SecurityCP/Configuration/wirelessSiren?", R"({"linkageSirens":[{"childDevID":"1"}]})",
         "SirenIntercomParam", 0},
        {"GET", "/OVIX/SecurityCP/Configuration/EventMessageSupportInfo?", "", "EventMessageSupportInfo", 0},
        {"DELETE", "/OVIX/SecurityCP/TwoWayAudio/mode?", "", "", 0x40000001},
        {"GET", "/OVIX/System/IO/inputs?format=json&devIndex=1", "", "", 0x40000001},
    };
    for (const auto& c : cases) {
        ch.sent.clear();
        const std::string rsp = call(c.method, c.uri, c.body);
        EXPECT_EQ(ch.sent.empty() ? "" : ch.sent[0].identifier, c.identifier) << c.method << " " << c.uri;
        if (c.code) {
            EXPECT_EQ(rsp, statusText(c.code)) << c.method << " " << c.uri;
        }
    }
    EXPECT_TRUE(ch.ovixCalls.empty());
}

TEST_F(Dispatcher, AldonRoutes) {
    login("aldonV5");
    const struct {
        const char* method;
        const char* uri;
        const char* body;
        const char* sentUrl;  // pass-through or plain GET expected, "" for none
        uint32_t code;        // status answered when nothing is sent
    } cases[] = {
        {"GET", "/OVIX/System/Network/interfaces/0?format=json", "", "", 0x60000001},
        {"DELETE", "/OVIX/System/Network/interfaces/0?format=json", "", "", 0x60000001},
        {"DELETE", "/OVIX/System/Network/interfaces/1?format=json", "", "", 0x40000001},
        {"PUT", "/OVIX/System/Network/interfaces/-2/ipAddress?format=json", "", "", 0x60000001},
        {"GET", "/OVIX/System/Network/interfaces/02?format=json&devIndex=1", "", "/OVIX/System/Network/interfaces/02?format=json", 0},
        {"GET", "/OVIX/Foo?format=json&devIndex=2", "", "/OVIX/Foo?format=json", 0},
        {"PUT", "/OVIX/Foo?devIndex=2&format=json", "<a/>", "/OVIX/Foo?format=json", 0},
        {"GET", "/OVIX/Foo?format=json", "", "", 0x60000001},
        {"GET", "/OVIX/devIndex=1/Foo?format=json", "", "", 0x60000001},
        {"PATCH", "/OVIX/Foo?devIndex=2", "", "", 0x60000001},
        {"GET", "/OVIX/System/IO/inputs?format=json", "", "/OVIX/System/IO/inputs", 0},
        {"GET", "/OVIX/System/Audio/channels?format=json", "", "/OVIX/System/Audio/channels", 0},
        {"PUT", "/OVIX/System/IO/inputs?format=json&devIndex=3", "x", "/OVIX/System/IO/inputs?format=json", 0},
        {"GET", "/OVIX/System/IO/inputs?devIndex=3", "", "/OVIX/System/IO/inputs", 0},
        {"PUT", "/OVIX/System/Video/inputs/channels?format=json", "", "", 0x40000001},
        {"POST", "/OVIX/ContentMgmt/search?format=json", R"({"x":1})", "", 0x60000001},
        {"POST", "/OVIX/ContentMgmt/search?format=json", R"([1])", "", 0x60000001},
        {"GET", "/OVIX/ContentMgmt/search?format=json", "", "", 0x60000001},
        {"PUT", "/OVIX/ContentMgmt/download/capabilities?format=json", "", "", 0x60000001},
        {"GET", "/OVIX/System/reset/PictureServer?format=json", "", "", 0x40000001},
        {"GET", "/OVIX/System/reboot?format=json", "", "", 0x40000001},
        {"GET", "/OVIX/System/upgradeAldon?format=json", "", "", 0x60000001},
        {"PUT", "/OVIX/System/reboot?devIndex=1", "", "/OVIX/System/reboot", 0},
    };
    for (const auto& c : cases) {
        ch.ovixCalls.clear();
        const std::string rsp = call(c.method, c.uri, c.body);
        ASSERT_EQ(ch.ovixCalls.size(), *c.sentUrl ? 1u : 0u) << c.method << " " << c.uri;
        if (*c.sentUrl) {
            EXPECT_EQ(ch.ovixCalls[0].url, c.sentUrl) << c.uri;
            EXPECT_EQ(ch.ovixCalls[0].method, getHttpMethodType(c.method)) << c.uri;
            EXPECT_EQ(rsp, "{}");
        } else {
            EXPECT_EQ(rsp, statusText(c.code)) << c.method << " " << c.uri;
        }
    }
    EXPECT_EQ(call("PUT", "/OVIX/System/reset/PictureServer?format=json", R"({"AK":"k"})"), statusText(1));
    ASSERT_EQ(ch.pictureResets.size(), 1u);
    EXPECT_EQ(ch.pictureResets[0], R"({"AK":"k"})");
    EXPECT_TRUE(ch.sent.empty());
}

TEST_F(Dispatcher, SecurityControlFailuresNeverAnswerOk) {
    login("VEXA");
    // Failed answer frames (error 1, missing, "x", -5) reach the handlers as the channel's
    // failure, with whatever text it left; a success may still carry a failing model status.
    const struct { uint32_t rc; const char* text; uint32_t code; } answers[] = {
        {0x30000001, R"({"error":1})", 0x30000001}, {0x30000001, "", 0x30000001},
        {0x4000000a, R"({"error":"x"})", 0x4000000a},
        {0x30000001, R"({"error":-5,"data":{"armMode":"process"}})", 0x30000001},
        {258, R"({"numOfMatches":1,"totalMatches":1})", 0x40000006},
        {0, R"({"status":"500"})", 0x4000000a}, {0, R"({"status":"200"})", 0x4000000a},
        {0, R"({"status":null,"armMode":"process"})", 0x4000000a}, {0, R"({"status":-5})", 0x40000006},
        {0, R"({"status":500,"code":"0x01400016"})", 0x40008000},
    };
    const struct { const char *method, *uri, *body; } routes[] = {
        {"PUT", "/OVIX/SecurityCP/control/arm/1?format=json", ""},
        {"PUT", "/OVIX/SecurityCP/control/disarm?format=json", R"({"SubSysList":[{"SubSys":{"id":1}}]})"},
        {"PUT", "/OVIX/SecurityCP/control/faultArmConfirm?format=json", R"({"SubSysList":[]})"},
        {"GET", "/OVIX/SecurityCP/status/subSystems?format=json", ""},
        {"POST", "/OVIX/SecurityCP/control/searchSubSystemArmStatus?format=json", "{}"},
    };
    for (const auto& r : routes) {
        for (const auto& a : answers) {
            ch.answers.clear();
            ch.script(a.rc, a.text);
            EXPECT_EQ(call(r.method, r.uri, r.body), statusText(a.code)) << r.uri << " " << a.text;
        }
    }
}

TEST_F(Dispatcher, ResponseRules) {
    login("aldonV5");
    const struct {
        uint32_t rc;
        const char* text;
        std::string expected;
    } cases[] = {
        {0, "<ResponseStatus/>", "<ResponseStatus/>"},  // handler text goes back unchanged
        {0, "", statusText(1)},
        {0x4000a2fa, "", statusText(0x4000a2fa)},
        {258, "", statusText(0x40000006)},
        {0xFFFFFFFF, "", statusText(0x40000006)},
    };
    for (const auto& c : cases) {
        ch.script(c.rc, c.text);
        EXPECT_EQ(call("GET", "/OVIX/Foo?devIndex=1"), c.expected) << c.rc;
    }
    vtest::LogCapture log(2);
    ch.throwOnCall = true;
    EXPECT_EQ(call("GET", "/OVIX/Foo?devIndex=1"), statusText(0x60000001));
    EXPECT_TRUE(log.contains("OVIX_Gateway exception"));
    EXPECT_TRUE(log.contains("2 VEXA_DEV [CVexaDevice::OVIX_Getway("));  // the "rsp: " line
}

TEST_F(Dispatcher, HostBufferSizes) {
    login("aldonV5");
    const std::string answer = "0123456789";
    const struct {
        uint32_t size;
        std::string written;
    } cases[] = {{1, ""}, {5, "0123"}, {10, "012345678"}, {11, answer}, {64, answer}};
    for (const auto& c : cases) {
        ch.script(0, answer);
        std::vector<char> buf(c.size + 8, '#');
        ovixGateway(*dev, ch, envelope("GET", "/OVIX/Foo?devIndex=1").c_str(), buf.data(), c.size);
        EXPECT_EQ(std::string(buf.data()), c.written) << c.size;
        EXPECT_EQ(buf[c.size], '#');  // nothing past the host's size
    }
    char untouched[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(ovixGateway(*dev, ch, envelope("GET", "/OVIX/Foo?devIndex=1").c_str(), untouched, 0), 0u);
    EXPECT_EQ(untouched[0], '#');
    EXPECT_EQ(ovixGateway(*dev, ch, envelope("GET", "/OVIX/Foo?devIndex=1").c_str(), nullptr, 64), 0u);
}

TEST_F(Dispatcher, OversizeBodiesThroughTheDeviceChannel) {
    // The device's own channel refuses large bodies before anything is sent.
    const std::string big = "{\"a\":\"" + std::string(200000, 'x') + "\"}";
    std::vector<char> buf(4096);
    dev->setLogin({5, "192.0.2.1", 8000, "VEXA", "S1"});
    dev->OVIX_Getway(envelope("POST", "/OVIX/SecurityCP/control/searchSubSystemArmStatus?format=json", big).c_str(),
                     buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.data()), statusText(0x6000003f));
    dev->setLogin({5, "192.0.2.1", 8000, "aldonV5", "S1"});
    dev->OVIX_Getway(envelope("PUT", "/OVIX/Foo?devIndex=1", big).c_str(), buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.data()), statusText(0x40000006));
}

}  // namespace
