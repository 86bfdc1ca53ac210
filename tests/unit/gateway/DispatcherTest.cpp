#include <gtest/gtest.h>

#include <cstring>

#include "FakeChannel.h"
#include "common/JsonUtil.h"
#include "common/StatusCode.h"
#include "TestSupport.h"
#include "gateway/UrlMatch.h"
#include "gateway/VexaDeviceGateway.h"

namespace {

using namespace vexa::status;

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
    const struct { std::string text; uint32_t code; } cases[] = {
        {"{" + ok + "}", kOk}, {"   {" + ok + "}   ", kOk}, {"\t{" + ok + "}", kBadParameters},  // only spaces trimmed
        {"[{" + ok + "}]", kBadParameters}, {"x{" + ok + "}", kBadParameters}, {"", kBadParameters},
        {"{", kBadParameters}, {"null", kBadParameters},
        {R"({"method":"PUT","uri":"/OVIX/x?format=json","body":{}})", kBadParameters},
        {R"({"method":"PUT","uri":"/OVIX/x?format=json"})", kBadParameters},
        {R"({"method":[],"uri":"/OVIX/x?format=json","body":""})", kBadParameters},
        {R"({"method":"GET","uri":5,"body":""})", kBadParameters},
        {"{\"method\":\"GET\",\"uri\":\"/a?b\",\"body\":\"" + std::string(5 * 1024 * 1024, 'a') + "\"}", kBadParameters},
        {"{\"a\":" + std::string(5000, '[') + std::string(5000, ']') + "}", kBadParameters},
        // Accepted, but no route: an empty path, or a method of another scalar type.
        {R"({"method":"GET","uri":"/OVIX/System/time","body":""})", kInvalidOperation},
        {R"({"method":1,"uri":"/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json","body":""})", kNetworkError},
    };
    for (const auto& c : cases) EXPECT_EQ(call(c.text), statusText(c.code)) << c.text.substr(0, 80);

    vtest::LogCapture log(5);
    std::vector<char> buf(64, '#');
    ovixGateway(*dev, ch, nullptr, buf.data(), 64);
    EXPECT_EQ(std::string(buf.data()).substr(0, 20), statusText(kBadParameters).substr(0, 20));
    EXPECT_TRUE(log.contains("5 VEXA_DEV [CVexaDevice::OVIX_Getway("));
    EXPECT_TRUE(log.contains(")] szConfigJson format is wrong"));
}

TEST_F(Dispatcher, OfflineFamilyAndAlarmParams) {
    vtest::LogCapture log(5);
    EXPECT_EQ(call("GET", "/OVIX/SecurityCP/status/subSystems?format=json"), statusText(kNetworkError));
    EXPECT_TRUE(log.contains("is not online!"));
    login("VEXA", -1);
    // Without the query flag, or with another method, it is an ordinary request.
    EXPECT_EQ(call("PUT", "/OVIX/ContentMgmt/DeviceMgmt/alarmParams?x=1", "{}"), statusText(kNetworkError));
    EXPECT_EQ(call("GET", "/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json"), statusText(kNetworkError));
    const struct { const char* body; uint32_t code; bool active; } cases[] = {
        {R"({"accountID":"a1","activeStatus":"active"})", kOk, true},
        {R"({"accountID":"a2","activeStatus":"inactive"})", kOk, false},
        {R"({"accountID":"a3","activeStatus":"Active"})", kOk, false}, {"not json", kInvalidContent, false},
        {R"(["accountID","activeStatus"])", kBadParameters, false},
        {R"({"accountID":5,"activeStatus":"active"})", kBadParameters, false},
        {R"({"accountID":"a4"})", kBadParameters, false},
    };
    for (const auto& c : cases) {
        dev->setAlarmActive(false);
        EXPECT_EQ(call("PUT", "/OVIX/ContentMgmt/DeviceMgmt/alarmParams?format=json", c.body), statusText(c.code))
            << c.body;
        EXPECT_EQ(dev->alarmActive(), c.active) << c.body;
    }
    EXPECT_EQ(dev->alarmAccountId(), "a3");  // refused bodies change nothing
    login("other");
    EXPECT_EQ(call("GET", "/OVIX/System/time?format=json"), statusText(kNotSupport));
    EXPECT_TRUE(log.contains("[devicePto=other]unknown device pto "));
    EXPECT_TRUE(ch.sent.empty() && ch.ovixCalls.empty());
}

TEST_F(Dispatcher, VexaRoutes) {
    login("VEXA");
    // identifier: model command expected, "" for none; code: status answered to the fake's "{}".
    const struct { const char *method, *uri, *body, *identifier; uint32_t code; } cases[] = {
        {"GET", "/OVIX/System/time?x=1", "", "", kNotSupport},
        {"PUT", "/OVIX/SecurityCP/control/arm/3/4?format=json", "", "", kNotSupport},
        {"PUT", "/OVIX/SecurityCP/control/arm/3?ways=stay", "", "", kNotSupport},
        {"GET", "/OVIX/SecurityCP/control/arm/3?format=json", "", "", kNotSupport},
        {"POST", "/OVIX/SecurityCP/control/searchSubSystemArmStatus?format=json", "{}", "SearchSubSystemArmStatus", 0},
        {"GET", "/OVIX/SecurityCP/TwoWayAudio/paramCfg?x=1", "", "HostIntercomParam", 0},
        {"GET", "/OVIX/SecurityCP/Configuration/capabilities?", "", "GetFunctions", 0},
        {"PUT", "/OVIX/SecurityCP/TwoWayAudio/mode?", "{}", "CtrlHostIntercomMode", 0},
        {"POST", "/OVIX/SecurityCP/Configuration/wirelessSiren?", R"({"linkageSirens":[{"childDevID":"1"}]})",
         "SirenIntercomParam", 0},
        {"GET", "/OVIX/SecurityCP/Configuration/EventMessageSupportInfo?", "", "EventMessageSupportInfo", 0},
        {"DELETE", "/OVIX/SecurityCP/TwoWayAudio/mode?", "", "", kNotSupport},
        {"GET", "/OVIX/System/IO/inputs?format=json&devIndex=1", "", "", kNotSupport},
    };
    for (const auto& c : cases) {
        ch.sent.clear();
        const std::string rsp = call(c.method, c.uri, c.body);
        EXPECT_EQ(ch.sent.empty() ? "" : ch.sent[0].identifier, c.identifier) << c.method << " " << c.uri;
        if (c.code) { EXPECT_EQ(rsp, statusText(c.code)) << c.method << " " << c.uri; }
    }
    EXPECT_TRUE(ch.ovixCalls.empty());
}

TEST_F(Dispatcher, AldonRoutes) {
    login("aldonV5");
    // sentUrl: pass-through or plain GET expected, "" for none; code: status answered when none is sent.
    const struct { const char *method, *uri, *body, *sentUrl; uint32_t code; } cases[] = {
        {"GET", "/OVIX/System/Network/interfaces/0?format=json", "", "", kBadParameters},
        {"DELETE", "/OVIX/System/Network/interfaces/0?format=json", "", "", kBadParameters},
        {"DELETE", "/OVIX/System/Network/interfaces/1?format=json", "", "", kNotSupport},
        {"PUT", "/OVIX/System/Network/interfaces/-2/ipAddress?format=json", "", "", kBadParameters},
        {"GET", "/OVIX/System/Network/interfaces/02?format=json&devIndex=1", "",
         "/OVIX/System/Network/interfaces/02?format=json", 0},
        {"PATCH", "/OVIX/Foo?devIndex=2", "", "", kBadParameters}, {"get", "/OVIX/Foo?devIndex=2", "", "", kBadParameters},
        {"GET", "/OVIX/System/IO/inputs?format=json", "", "/OVIX/System/IO/inputs", 0},
        {"PUT", "/OVIX/System/IO/inputs?format=json&devIndex=3", "x", "/OVIX/System/IO/inputs?format=json", 0},
        {"GET", "/OVIX/System/IO/inputs?devIndex=3", "", "/OVIX/System/IO/inputs", 0},
        {"PUT", "/OVIX/System/Video/inputs/channels?format=json", "", "", kNotSupport},
        {"POST", "/OVIX/ContentMgmt/search?format=json", R"({"x":1})", "", kBadParameters},
        {"GET", "/OVIX/ContentMgmt/search?format=json", "", "", kBadParameters},
        {"PUT", "/OVIX/ContentMgmt/download/capabilities?format=json", "", "", kBadParameters},
        {"GET", "/OVIX/System/reset/PictureServer?format=json", "", "", kNotSupport},
        {"GET", "/OVIX/System/reboot?format=json", "", "", kNotSupport},
        {"GET", "/OVIX/System/upgradeAldon?format=json", "", "", kBadParameters},
        {"PUT", "/OVIX/System/reboot?devIndex=1", "", "/OVIX/System/reboot", 0},
    };
    for (const auto& c : cases) {
        ch.ovixCalls.clear();
        const std::string rsp = call(c.method, c.uri, c.body);
        ASSERT_EQ(ch.ovixCalls.size(), *c.sentUrl ? 1u : 0u) << c.method << " " << c.uri;
        if (*c.sentUrl) {
            EXPECT_EQ(ch.ovixCalls[0].url, c.sentUrl) << c.uri;
            EXPECT_EQ(ch.ovixCalls[0].method, getHttpMethodType(c.method)) << c.uri;
        }
        EXPECT_EQ(rsp, *c.sentUrl ? "{}" : statusText(c.code)) << c.method << " " << c.uri;
    }
    EXPECT_EQ(call("PUT", "/OVIX/System/reset/PictureServer?format=json", R"({"AK":"k"})"), statusText(kOk));
    EXPECT_EQ(ch.pictureResets, std::vector<std::string>{R"({"AK":"k"})"});
    EXPECT_TRUE(ch.sent.empty());
}

TEST_F(Dispatcher, SecurityControlFailuresNeverAnswerOk) {
    login("VEXA");
    // Failed answer frames reach the handlers as the channel's failure, with whatever text it
    // left; a success may still carry a failing model status.
    const struct { uint32_t rc; const char* text; uint32_t code; } answers[] = {
        {kDeviceError, R"({"error":1})", kDeviceError}, {kInvalidContent, R"({"error":"x"})", kInvalidContent},
        {kDeviceError, R"({"error":-5,"data":{"armMode":"process"}})", kDeviceError},
        {kWaitTimeout, R"({"numOfMatches":1,"totalMatches":1})", kInvalidOperation},
        {0, R"({"status":"200"})", kInvalidContent}, {0, R"({"status":null,"armMode":"process"})", kInvalidContent},
        {0, R"({"status":-5})", kInvalidOperation}, {0, R"({"status":500,"code":"0x01400016"})", kArmingFailed},
    };
    const struct { const char *method, *uri, *body; } routes[] = {
        {"PUT", "/OVIX/SecurityCP/control/arm/1?format=json", ""},
        {"PUT", "/OVIX/SecurityCP/control/disarm?format=json", R"({"SubSysList":[{"SubSys":{"id":1}}]})"},
        {"GET", "/OVIX/SecurityCP/status/subSystems?format=json", ""},
    };
    for (const auto& r : routes)
        for (const auto& a : answers) {
            ch.answers.clear();
            ch.script(a.rc, a.text);
            EXPECT_EQ(call(r.method, r.uri, r.body), statusText(a.code)) << r.uri << " " << a.text;
        }
}

TEST_F(Dispatcher, ResponseRules) {
    login("aldonV5");
    const struct { uint32_t rc; const char* text; std::string expected; } cases[] = {
        {0, "<ResponseStatus/>", "<ResponseStatus/>"},  // handler text goes back unchanged
        {0, "", statusText(kOk)}, {kSystemIsArmed, "", statusText(kSystemIsArmed)},
        {kFailed, "", statusText(kInvalidOperation)},
    };
    for (const auto& c : cases) {
        ch.script(c.rc, c.text);
        EXPECT_EQ(call("GET", "/OVIX/Foo?devIndex=1"), c.expected) << c.rc;
    }
    vtest::LogCapture log(2);
    ch.throwOnCall = true;
    EXPECT_EQ(call("GET", "/OVIX/Foo?devIndex=1"), statusText(kBadParameters));
    EXPECT_TRUE(log.contains("OVIX_Gateway exception"));
    EXPECT_TRUE(log.contains("2 VEXA_DEV [CVexaDevice::OVIX_Getway("));  // the "rsp: " line
}

TEST_F(Dispatcher, HostBufferSizes) {
    login("aldonV5");
    const std::string answer = "0123456789", env = envelope("GET", "/OVIX/Foo?devIndex=1");
    const struct { uint32_t size; std::string written; } cases[] = {{1, ""}, {10, "012345678"}, {11, answer}};
    for (const auto& c : cases) {
        ch.script(0, answer);
        std::vector<char> buf(c.size + 8, '#');
        ovixGateway(*dev, ch, env.c_str(), buf.data(), c.size);
        EXPECT_EQ(std::string(buf.data()), c.written) << c.size;
        EXPECT_EQ(buf[c.size], '#');  // nothing past the host's size
    }
    EXPECT_EQ(ovixGateway(*dev, ch, env.c_str(), nullptr, 64), 0u);
}

TEST_F(Dispatcher, OversizeBodiesThroughTheDeviceChannel) {
    // The device's own channel refuses large bodies before anything is sent.
    const std::string big = "{\"a\":\"" + std::string(200000, 'x') + "\"}";
    std::vector<char> buf(4096);
    dev->setLogin({5, "192.0.2.1", 8000, "VEXA", "S1"});
    dev->OVIX_Getway(envelope("POST", "/OVIX/SecurityCP/control/searchSubSystemArmStatus?format=json", big).c_str(),
                     buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.data()), statusText(kRequestMemoryNull));
    dev->setLogin({5, "192.0.2.1", 8000, "aldonV5", "S1"});
    dev->OVIX_Getway(envelope("PUT", "/OVIX/Foo?devIndex=1", big).c_str(), buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.data()), statusText(kInvalidOperation));
}

}  // namespace
