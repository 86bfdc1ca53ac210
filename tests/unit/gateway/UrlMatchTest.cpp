#include <gtest/gtest.h>

#include "gateway/UrlMatch.h"

namespace {

TEST(UrlMatch, MatchUrlFillsAndComparesExactly) {
    const std::string kIf = "/OVIX/System/Network/interfaces/";
    const struct { std::string uri, pattern; int nArgs; bool match; } cases[] = {
        {kIf + "2", kIf + "%d", 1, true}, {kIf + "2?format=json", kIf + "%d", 1, true}, {kIf + "-3", kIf + "%d", 1, true},
        {kIf + "02", kIf + "%d", 1, false}, {kIf + "+2", kIf + "%d", 1, false}, {kIf + " 2", kIf + "%d", 1, false},
        {kIf + "2/x", kIf + "%d", 1, false}, {kIf + "99999999999", kIf + "%d", 1, false}, {kIf, kIf + "%d", 1, false},
        {kIf + "1/ipAddress", kIf + "%d/ipAddress", 1, true}, {kIf + "1/ipaddress", kIf + "%d/ipAddress", 1, false},
        {"/a/1/2/3/4", "/a/%d/%d/%d/%d", 4, true},
        {"/a/1", "/a/%d", 0, false}, {"/a/1", "/a/%d", 2, false},  // count disagrees with the pattern
        {"/a/x", "/a/%s", 1, false}, {"/a/%n", "/a/%n", 0, false}, {"/a/", "/a/%", 0, false},  // only %d converts
        {"/OVIX/System/time?format=json", "/OVIX/System/time", 0, true}, {"", "", 0, true},
        {"/OVIX/System/Time", "/OVIX/System/time", 0, false}, {"/OVIX/System/time/", "/OVIX/System/time", 0, false},
        {"/" + std::string(3000, 'a'), "/" + std::string(3000, 'a'), 0, false},  // filled pattern is bounded
        {std::string(2047, 'a'), std::string(2047, 'a'), 0, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matchUrl(c.uri, c.pattern, c.nArgs), c.match) << c.uri.substr(0, 60) << " ~ " << c.pattern.substr(0, 60);
}

TEST(UrlMatch, IgnoreSegments) {
    const std::string kArm = "/OVIX/SecurityCP/control/arm";
    const struct { std::string path, pattern; bool match; } cases[] = {
        {kArm + "/3", kArm + "/IGNORE", true}, {kArm + "/anything", kArm + "/IGNORE", true},
        {kArm + "/3/x", kArm + "/IGNORE", false}, {kArm, kArm + "/IGNORE", false},
        {"/OVIX/SecurityCP/control/disarm/3", kArm + "/IGNORE", false}, {"/a/b", "/IGNORE/b", true},
        {"/a/1/2/3/4", "/a/IGNORE/IGNORE/IGNORE/IGNORE", true},
        {"/a/1/2/3/4/5", "/a/IGNORE/IGNORE/IGNORE/IGNORE/IGNORE", false},
    };
    for (const auto& c : cases) EXPECT_EQ(matchUrlIgnore(c.path, c.pattern), c.match) << c.path;
}

TEST(UrlMatch, EraseAndReadParameters) {
    const struct { const char* uri; bool ok; const char* out; } erase[] = {
        {"/OVIX/x?format=json&devIndex=2", true, "/OVIX/x?format=json"},
        {"/OVIX/x?devIndex=2&format=json", true, "/OVIX/x?format=json"},
        {"/OVIX/x?a=1&devIndex=2&b=2", true, "/OVIX/x?a=1&b=2"}, {"/OVIX/x?devIndex=2", true, "/OVIX/x"},
        {"/OVIX/x?format=json", false, ""}, {"/OVIX/x?mydevIndex=2", false, ""},  // a longer name is another one
        {"/OVIX/devIndex=2/x?format=json", false, ""}, {"/OVIX/x&devIndex=2?format=json", false, ""},  // path text
        {"/OVIX/x?devIndex", false, ""}, {"", false, ""},
    };
    for (const auto& c : erase) {
        std::string out;
        EXPECT_EQ(eraseUrlParam(c.uri, out, "devIndex"), c.ok) << c.uri;
        EXPECT_EQ(out, c.out) << c.uri;
    }
    const struct { const char* uri; bool ok; const char* value; } read[] = {
        {"/a/1?format=json&ways=stay", true, "stay"}, {"/a/1?ways=away&format=json", true, "away"},
        {"/a/1?ways=  away  &x=1", true, "away"}, {"/a/1?ways=", true, ""}, {"/a/1?ways=a?b", true, "a"},
        {"/a/1?always=1", false, ""}, {"/a&ways=x/1?format=json", false, ""}, {"/a/1", false, ""},
    };
    for (const auto& c : read) {
        std::string v;
        EXPECT_EQ(getUrlParam(v, "ways", c.uri), c.ok) << c.uri;
        EXPECT_EQ(v, c.value) << c.uri;
    }
}

}  // namespace
