// The console's answers to bad input, driven through an HTTP client against a fake host.
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>
#include "Console.h"

using Reply = gwhost::ConsoleReply;
struct FakeHost : gwhost::ConsoleHost {
    std::atomic<bool> on{true};
    bool running() const override { return on; }
    std::vector<gwhost::ConsoleDevice> devices() const override { return {}; }
    bool hasDevice(const std::string& id) const override { return id == "cam1"; }
    Reply addDevice(const Json::Value&) override { return {201, {}}; }
    Reply removeDevice(const std::string&) override { return {}; }
    Reply request(const std::string&, const std::string&, const std::string&, const std::string&, bool& ok) override {
        return ok = true, Reply{}; }
    Reply live(const std::string&, const std::string&) override { return {}; }
};

struct Case {
    const char *name, *method, *path, *auth;  // auth: Authorization header; when set the console wants a token
    std::string body;
    int running, status;  // the plug-in runs (1) or is stopped (0); the expected HTTP status
};
const std::string kCall = R"({"device":"cam1","method":"GET","uri":"/OVIX/System/deviceInfo"})";

class ConsoleApi : public ::testing::TestWithParam<Case> {};

TEST_P(ConsoleApi, AnswersWithTheDocumentedStatus) {
    const Case& c = GetParam();
    FakeHost host;
    host.on = c.running == 1;
    gwhost::Console::Options o;
    if (c.auth) o.token = "s3cret";
    gwhost::Console console(host, o);
    std::string why;
    ASSERT_TRUE(console.start(why)) << why;
    httplib::Client cli("127.0.0.1", console.port());
    const httplib::Headers h = c.auth && *c.auth ? httplib::Headers{{"Authorization", c.auth}} : httplib::Headers{};
    const std::string m = c.method;
    const auto r = m == "GET" ? cli.Get(c.path, h) : m == "DELETE" ? cli.Delete(c.path, h) : cli.Post(c.path, h, c.body, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status) << r->body;
    EXPECT_NE(r->body.find(c.status == 200 ? "" : "\"error\""), std::string::npos) << r->body;
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, ConsoleApi,
    ::testing::Values(Case{"good_request", "POST", "/api/request", nullptr, kCall, 1, 200},
                      Case{"unknown_device", "POST", "/api/request", nullptr, R"({"device":"x","method":"GET","uri":"/a"})", 1, 404},
                      Case{"not_json", "POST", "/api/request", nullptr, "{device:", 1, 400},
                      Case{"nested_too_deep", "POST", "/api/request", nullptr, std::string(5000, '[') + std::string(5000, ']'), 1, 400},
                      Case{"body_too_large", "POST", "/api/request", nullptr, std::string(64 * 1024 + 1, ' '), 1, 413},
                      Case{"plugin_stopped", "POST", "/api/request", nullptr, kCall, 0, 503},
                      Case{"delete_unknown", "DELETE", "/api/devices/nobody", nullptr, "", 1, 404},
                      Case{"live_unknown", "POST", "/api/live/nobody", nullptr, "", 1, 404},
                      Case{"add_existing", "POST", "/api/devices", nullptr, R"({"id":"cam1"})", 1, 409},
                      Case{"token_missing", "GET", "/metrics", "", "", 1, 401},
                      Case{"token_in_query", "GET", "/api/stats?token=s3cret", "", "", 1, 200},
                      Case{"token_wrong_bearer", "GET", "/api/stats", "Bearer s3cre7", "", 1, 401},
                      Case{"token_bearer", "POST", "/api/request", "Bearer s3cret", kCall, 1, 200}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

TEST(ConsoleEvents, ReadersAreBoundedAndALeavingBrowserFreesItsSlot) {
    auto waitUntil = [](auto done) { for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10)); };
    FakeHost host;
    gwhost::Console::Options o;
    o.maxStreams = 1;
    gwhost::Console console(host, o);
    std::string why, got;
    ASSERT_TRUE(console.start(why)) << why;
    console.publish("alarm", R"({"event":"alarm"})");
    std::atomic<bool> seen{false}, leave{false};
    std::thread reader([&] {  // holds the only slot until told to leave
        httplib::Client("127.0.0.1", console.port()).Get("/events", [&](const char* d, size_t n) {
            got.append(d, n), seen = true, waitUntil([&] { return leave.load(); });
            return false; });
    });
    waitUntil([&] { return seen.load(); });
    EXPECT_NE(got.find(R"(data: {"event":"alarm"})"), std::string::npos);
    EXPECT_EQ(httplib::Client("127.0.0.1", console.port()).Get("/events")->status, 503);
    leave = true;
    reader.join();
    waitUntil([&] { return console.streams() == 0; });
    EXPECT_EQ(console.streams(), 0u) << "the slot of a browser that left is not released";
    EXPECT_EQ(console.stats().alarms(), 1u);
}

TEST(ConsoleLimits, NoTokenOffLoopbackAndAReaderBehindTheRingLearnsItLostEvents) {
    FakeHost host;
    gwhost::Console::Options o;
    o.address = "0.0.0.0";
    std::string why;
    EXPECT_FALSE(gwhost::Console(host, o).start(why));
    gwhost::EventRing ring(8, 4);  // two lines of "{}" fill its bytes
    for (int i = 0; i < 3; ++i) ring.push("alarm", "{}");
    bool lost = false, lostAfter1 = true;
    EXPECT_EQ(ring.since(0, 10, lost).size() + ring.since(1, 10, lostAfter1).size(), 4u);
    EXPECT_TRUE(lost && !lostAfter1);
}
