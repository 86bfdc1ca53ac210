#include <gtest/gtest.h>

#include "gateway/UrlMatch.h"

namespace {

TEST(UrlMatch, MatchUrlFillsAndComparesExactly) {
    const struct {
        const char* uri;
        const char* pattern;
        int nArgs;
        bool match;
    } cases[] = {
        {"/OVIX/System/Network/interfaces/2", "/OVIX/System/Network/interfaces/%d", 1, true},
        {"/OVIX/System/Network/interfaces/2?format=json", "/OVIX/System/Network/interfaces/%d", 1, true},
        {"/OVIX/System/Network/interfaces/02", "/OVIX/System/Network/interfaces/%d", 1, false},
        {"/OVIX/System/Network/interfaces/+2", "/OVIX/System/Network/interfaces/%d", 1, false},
        {"/OVIX/System/Network/interfaces/ 2", "/OVIX/System/Network/interfaces/%d", 1, false},
        {"/OVIX/System/Network/interfaces/2/x", "/OVIX/System/Network/interfaces/%d", 1, false},
        {"/OVIX/System/Network/interfaces/-3", "/OVIX/System/Network/interfaces/%d", 1, true},
        {"/OVIX/System/Network/interfaces/99999999999", "/OVIX/System/Network/interfaces/%d", 1, false},
        {"/OVIX/System/Network/interfaces/", "/OVIX/System/Network/interfaces/%d", 1, false},
        {"/OVIX/System/Network/interfaces/1/ipAddress", "/OVIX/System/Network/interfaces/%d/ipAddress", 1, true},
        {"/OVIX/System/Network/interfaces/1/ipaddress", "/OVIX/System/Network/interfaces/%d/ipAddress", 1, false},
        {"/a/1/2/3/4", "/a/%d/%d/%d/%d", 4, true},
        {"/a/1/2/3/4/5", "/a/%d/%d/%d/%d/%d", 5, false},   // more than four conversions
        {"/a/1", "/a/%d", 0, false},                      // count disagrees with the pattern
        {"/a/1", "/a/%d", 2, false},
        {"/a/x", "/a/%s", 1, false},                      // only %d is a conversion here
        {"/a/%n", "/a/%n", 0, false},
        {"/a/", "/a/%", 0, false},
        {"/OVIX/System/time", "/OVIX/System/time", 0, true},
        {"/OVIX/System/time?format=json", "/OVIX/System/time", 0, true},
        {"/OVIX/System/Time", "/OVIX/System/time", 0, false},
        {"/OVIX/System/time/", "/OVIX/System/time", 0, false},
        {"", "", 0, true},
    };
    for (const auto& c : cases) EXPECT_EQ(matchUrl(c.uri, c.pattern, c.nArgs), c.match) << c.uri << " ~ " << c.pattern;
}

TEST(UrlMatch, FilledPatternIsBounded) {
    const std::string longPath = "/" + std::string(3000, 'a');
    EXPECT_FALSE(matchUrl(longPath, longPath, 0));
    EXPECT_TRUE(matchUrl(std::string(2047, 'a'), std::string(2047, 'a'), 0));
}

TEST(UrlMatch, IgnoreSegments) {
    const struct {
        const char* path;
        const char* pattern;
        bool match;
    } cases[] = {
        {"/OVIX/SecurityCP/control/arm/3", "/OVIX/SecurityCP/control/arm/IGNORE", true},
        {"/OVIX/SecurityCP/control/arm/anything", "/OVIX/SecurityCP/control/arm/IGNORE", true},
        {"/OVIX/SecurityCP/control/arm/3/x", "/OVIX/SecurityCP/control/arm/IGNORE", false},
        {"/OVIX/SecurityCP/control/arm", "/OVIX/SecurityCP/control/arm/IGNORE", false},
        {"/OVIX/SecurityCP/control/disarm/3", "/OVIX/SecurityCP/control/arm/IGNORE", false},
        {"/a/1/2/3/4", "/a/IGNORE/IGNORE/IGNORE/IGNORE", true},
        {"/a/1/2/3/4/5", "/a/IGNORE/IGNORE/IGNORE/IGNORE/IGNORE", false},
        {"/a/b", "/IGNORE/b", true},
    };
    for (const auto& c : cases) EXPECT_EQ(matchUrlIgnore(c.path, c.pattern), c.match) << c.path;
}

TEST(UrlMatch, EraseParameter) {
    const struct {
        const char* uri;
        bool ok;
        const char* out;
    } cases[] = {
        {"/OVIX/x?format=json&devIndex=2", true, "/OVIX/x?format=json"},
        {"/OVIX/x?devIndex=2&format=json", true, "/OVIX/x?format=json"},
        {"/OVIX/x?devIndex=2&a=1&b=2", true, "/OVIX/x?a=1&b=2"},
        {"/OVIX/x?a=1&devIndex=2&b=2", true, "/OVIX/x?a=1&b=2"},
        {"/OVIX/x?devIndex=2", true, "/OVIX/x"},
        {"/OVIX/x?format=json", false, ""},
        {"/OVIX/x?mydevIndex=2", false, ""},            // a longer name is another parameter
        {"/OVIX/devIndex=2/x?format=json", false, ""},  // path text is no parameter
        {"/OVIX/x&devIndex=2?format=json", false, ""},
        {"/OVIX/x?devIndex", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(eraseUrlParam(c.uri, out, "devIndex"), c.ok) << c.uri;
        EXPECT_EQ(out, c.out) << c.uri;
    }
}

TEST(UrlMatch, ReadParameter) {
    const struct {
        const char* uri;
        bool ok;
        const char* value;
    } cases[] = {
        {"/a/1?format=json&ways=stay", true, "stay"},
        {"/a/1?ways=away&format=json", true, "away"},
        {"/a/1?ways=  away  &x=1", true, "away"},
        {"/a/1?ways=", true, ""},
        {"/a/1?ways=a?b", true, "a"},
        {"/a/1?always=1", false, ""},
        {"/a&ways=x/1?format=json", false, ""},
        {"/a/1?format=json", false, ""},
        {"/a/1", false, ""},
    };
    for (const auto& c : cases) {
        std::string v;
        EXPECT_EQ(getUrlParam(v, "ways", c.uri), c.ok) << c.uri;
        EXPECT_EQ(v, c.value) << c.uri;
    }
}

TEST(UrlMatch, MethodTypes) {
    const struct {
        const char* method;
        int type;
    } cases[] = {{"GET", 0}, {"PUT", 1}, {"POST", 2}, {"DELETE", 3}, {"get", -1}, {"PATCH", -1}, {"", -1}, {"GET ", -1}};
    for (const auto& c : cases) EXPECT_EQ(getHttpMethodType(c.method), c.type) << c.method;
}

}  // namespace
