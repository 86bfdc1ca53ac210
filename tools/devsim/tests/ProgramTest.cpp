// Runs the devsim program against the in-test gateway and reads its JSON lines.
#include "FakeGateway.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct ProgramRun {
    int exitCode = -1;
    std::vector<Json::Value> lines;  // state lines
    Json::Value summary;
};

ProgramRun runDevsim(const std::string& args) {
    ProgramRun r;
    const std::string cmd = std::string(DEVSIM_BIN) + " " + args + " 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int st = ::pclose(p);
    r.exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    Json::CharReaderBuilder rb;
    std::unique_ptr<Json::CharReader> reader(rb.newCharReader());
    size_t pos = 0;
    while (pos < out.size()) {
        size_t eol = out.find('\n', pos);
        if (eol == std::string::npos) eol = out.size();
        Json::Value v;
        if (reader->parse(out.data() + pos, out.data() + eol, &v, nullptr) && v.isObject()) {
            if (v.isMember("summary"))
                r.summary = v;
            else
                r.lines.push_back(v);
        } else {
            ADD_FAILURE() << "not a JSON line: " << out.substr(pos, eol - pos);
        }
        pos = eol + 1;
    }
    return r;
}

std::vector<std::string> statesOf(const ProgramRun& r, const std::string& id) {
    std::vector<std::string> s;
    for (const auto& l : r.lines)
        if (l["deviceId"].asString() == id) s.push_back(l["state"].asString());
    return s;
}

}  // namespace

TEST(DevsimProgram, RunsAsAskedAndReports) {
    struct Case {
        const char* name;
        std::string args;  // after the port options
        int exitCode;
        std::function<void(const ProgramRun&, fakegw::Gateway&)> check;
    } cases[] = {
        {"bulkLoginThenLogout", "--count 3 --id-prefix p --start-index 7 --key secret --duration 2", 0,
         [](const ProgramRun& r, fakegw::Gateway& gw) {
             for (const char* id : {"p7", "p8", "p9"}) {
                 const auto s = statesOf(r, id);
                 std::string all;
                 for (const auto& x : s) all += x + " ";
                 ASSERT_EQ(s.size(), 4u) << id << ": " << all;
                 EXPECT_EQ(s[2], "LoggedIn");
                 EXPECT_EQ(s[3], "LoggedOut");
             }
             EXPECT_EQ(r.summary["devices"].asUInt(), 3u);
             EXPECT_EQ(r.summary["logins"].asUInt(), 3u);
             gw.waitFrame("logout", 3);  // the gateway side may read the last one after the program exits
             EXPECT_EQ(gw.count("logout"), 3u);
         }},
        {"wrongKey", "--key secret --wrong-key --duration 2", 0,
         [](const ProgramRun& r, fakegw::Gateway&) {
             ASSERT_FALSE(r.lines.empty());
             EXPECT_EQ(r.lines.back()["state"].asString(), "Refused");
             EXPECT_EQ(r.lines.back()["reason"].asString(), "key");
             EXPECT_EQ(r.summary["refusals"]["key"].asUInt(), 1u);
         }},
        {"alarmRate", "--key secret --family aldonv5 --alarm-rate 40 --duration 3", 0,
         [](const ProgramRun& r, fakegw::Gateway& gw) {
             EXPECT_GT(r.summary["alarmAcks"].asUInt(), 0u);
             EXPECT_EQ(gw.waitFrame("alarmHello")["sessionKey"].asString(), gw.issuedSessionKey("dev1"));
         }},
        {"malformed", "--key secret --malformed notype --duration 2", 0,
         [](const ProgramRun& r, fakegw::Gateway& gw) {
             gw.waitFrame("_badFrame", 1);
             EXPECT_EQ(gw.count("_badFrame"), 1u);
             EXPECT_EQ(statesOf(r, "dev1").back(), "Closed");
         }},
        {"addressRequest", "--key secret --das 192.0.2.1:7661 --logout-after 0.05 --duration 3", 0,
         [](const ProgramRun& r, fakegw::Gateway& gw) {
             EXPECT_EQ(gw.waitFrame("dasRequest")["serverPort"].asInt(), 7661);
             const auto s = statesOf(r, "dev1");
             ASSERT_FALSE(s.empty());
             EXPECT_EQ(s.back(), "LoggedOut");
         }},
        {"badOption", "--count 0", 2, nullptr},
        {"unknownOption", "--frobnicate", 2, nullptr},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        fakegw::Gateway gw;
        const ProgramRun r = runDevsim("--host 127.0.0.1 --cms-port " + std::to_string(gw.cmsPort()) + " --ams-port " +
                                std::to_string(gw.amsPort()) + " " + tc.args);
        EXPECT_EQ(r.exitCode, tc.exitCode);
        if (!tc.check) continue;
        EXPECT_TRUE(r.summary.isObject());
        tc.check(r, gw);
    }
}
