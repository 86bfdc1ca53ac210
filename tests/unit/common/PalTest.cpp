#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/LogLimit.h"
#include "PAL.h"
#include "palsafe.h"

namespace {

TEST(PalSafe, StrncpyResultAndTermination) {
    const struct { size_t capacity; const char* src; size_t maxChars; int rc; const char* out; } cases[] = {
        {8, "abc", 7, 0, "abc"},
        {4, "abc", 10, 0, "abc"},                  // exact fit
        {4, "abcd", 10, PALSAFE_ETRUNC, "abc"},    // cut by the capacity: reported, still terminated
        {4, "abcdef", 3, 0, "abc"},                // cut by the caller's own limit: not an error
        {8, "abcdef", 0, 0, ""},
        {1, "a", 5, PALSAFE_ETRUNC, ""},
        {4, nullptr, 3, PALSAFE_EINVAL, ""},
    };
    for (const auto& c : cases) {
        char buf[16];
        memset(buf, '#', sizeof buf);
        EXPECT_EQ(PAL_Strncpy_s(buf, c.capacity, c.src, c.maxChars), c.rc) << (c.src ? c.src : "null") << "/" << c.capacity;
        EXPECT_STREQ(buf, c.out) << (c.src ? c.src : "null") << "/" << c.capacity;
        EXPECT_EQ(buf[c.capacity], '#') << "wrote past the capacity";
    }
    char untouched = '#';
    EXPECT_EQ(PAL_Strncpy_s(&untouched, 0, "a", 1), PALSAFE_EINVAL);
    EXPECT_EQ(untouched, '#');
    EXPECT_EQ(PAL_Strncpy_s(nullptr, 4, "a", 1), PALSAFE_EINVAL);
}

TEST(PalSafe, MemcpyAndMemsetBounds) {
    const struct { size_t capacity, count; bool nullDst, nullSrc; int rc; } cases[] = {
        {4, 4, false, false, 0},
        {4, 5, false, false, PALSAFE_ERANGE},
        {4, 1, true, false, PALSAFE_EINVAL},
        {4, 1, false, true, PALSAFE_EINVAL},
        {4, 0, false, true, 0},
    };
    for (const auto& c : cases) {
        char dst[8] = "#######";
        const char src[8] = "abcdefg";
        EXPECT_EQ(PAL_Memcpy_s(c.nullDst ? nullptr : dst, c.capacity, c.nullSrc ? nullptr : src, c.count), c.rc);
        EXPECT_EQ(std::string(dst, c.rc ? 0 : c.count), std::string(src, c.rc ? 0 : c.count));
        if (c.rc) {
            EXPECT_STREQ(dst, "#######") << "a refused copy writes nothing";
        }
        if (c.nullSrc) continue;
        char set[8] = "#######";
        EXPECT_EQ(PAL_Memset_s(c.nullDst ? nullptr : set, c.capacity, 0, c.count), c.rc);
    }
}

TEST(PalSafe, FormattingAndScanning) {
    const struct { size_t capacity; const char* arg; int rc; const char* out; } prints[] = {
        {6, "hello", 5, "hello"}, {5, "hello", -1, ""}, {1, "", 0, ""}, {0, "x", -1, "#"},
    };
    for (const auto& c : prints) {
        char buf[8] = "#";
        EXPECT_EQ(PAL_Sprintf_s(buf, c.capacity, "%s", c.arg), c.rc) << c.arg << "/" << c.capacity;
        EXPECT_STREQ(buf, c.out) << c.arg << "/" << c.capacity;
    }
    int a = 0, b = 0;
    EXPECT_EQ(PAL_Sscanf_s("/arm/12x", "/arm/%d", &a), 1);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(PAL_Sscanf_s("/arm/x", "/arm/%d", &a), 0);
    EXPECT_LT(PAL_Sscanf_s("", "%d", &a), 0);
    EXPECT_LT(PAL_Sscanf_s(nullptr, "%d", &a), 0);
    EXPECT_EQ(PAL_Sscanf_s("3 4", "%d %d", &a, &b), 2);
    const struct { const char* fmt; int expected; bool ok; } formats[] = {
        {"%d %s", 2, true}, {"%d", 2, false}, {"100%% of %d", 1, true}, {"%%", 0, true}, {nullptr, 0, false},
    };
    for (const auto& f : formats) EXPECT_EQ(checkArgs(f.fmt, f.expected) >= 0, f.ok) << (f.fmt ? f.fmt : "null");
}

TEST(LogLimit, DeviceTextIsCut) {
    const std::string atLimit(vexa::kMaxLoggedDeviceText, 'a');
    EXPECT_EQ(vexa::logText(atLimit), atLimit);
    EXPECT_EQ(vexa::logText(atLimit + "bc"), atLimit + "...");
    EXPECT_EQ(vexa::logText(nullptr, 5), "");
    EXPECT_EQ(vexa::logText(std::string("a\0b", 3)).size(), 3u);
}

TEST(LogLimit, GateLimitsEachSourceAndReportsWhatItHeldBack) {
    vexa::ManualClock clock(1000);
    vexa::LogGate gate(2, 1000, 3);
    gate.setClock(&clock);
    uint64_t held = 0;
    // Steps: {time, source, allowed, held back before this line}.
    const struct { uint64_t t; const char* source; bool allowed; uint64_t held; } steps[] = {
        {1000, "a", true, 0}, {1000, "a", true, 0}, {1500, "a", false, 0}, {1999, "a", false, 0},
        {1999, "b", true, 0},                      // another source has its own budget
        {2000, "a", true, 2},                      // new period: reports the two held back
        {2000, "a", true, 0}, {2000, "a", false, 0},
        {2000, "c", true, 0}, {2000, "d", true, 0},  // table full: starts over, never grows
        {2000, "a", true, 0},
    };
    for (const auto& s : steps) {
        clock.set(s.t);
        EXPECT_EQ(gate.allow(s.source, held), s.allowed) << s.t << s.source;
        EXPECT_EQ(held, s.held) << s.t << s.source;
    }
}

}  // namespace
