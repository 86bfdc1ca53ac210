#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/LogLimit.h"
#include "PAL.h"
#include "palsafe.h"

namespace {

TEST(PalSafe, StrncpyResultAndTermination) {
    const struct { size_t capacity; const char* src; size_t maxChars; int rc; const char* out; } cases[] = {
        {8, "abc", 7, 0, "abc"}, {4, "abc", 10, 0, "abc"},  // exact fit
        {4, "abcd", 10, PALSAFE_ETRUNC, "abc"},            // cut by the capacity: reported, still terminated
        {4, "abcdef", 3, 0, "abc"},                        // cut by the caller's own limit: not an error
        {8, "abcdef", 0, 0, ""}, {1, "a", 5, PALSAFE_ETRUNC, ""}, {4, nullptr, 3, PALSAFE_EINVAL, ""},
    };
    for (const auto& c : cases) {
        char buf[16];
        memset(buf, '#', sizeof buf);
        const std::string what = std::string(c.src ? c.src : "null") + "/" + std::to_string(c.capacity);
        EXPECT_EQ(PAL_Strncpy_s(buf, c.capacity, c.src, c.maxChars), c.rc) << what;
        EXPECT_STREQ(buf, c.out) << what;
        EXPECT_EQ(buf[c.capacity], '#') << "wrote past the capacity";
    }
    char untouched = '#';
    EXPECT_EQ(PAL_Strncpy_s(&untouched, 0, "a", 1), PALSAFE_EINVAL);
    EXPECT_EQ(untouched, '#');
    EXPECT_EQ(PAL_Strncpy_s(nullptr, 4, "a", 1), PALSAFE_EINVAL);
}

TEST(PalSafe, MemcpyBounds) {
    const struct { size_t capacity, count; bool nullDst, nullSrc; int rc; } cases[] = {
        {4, 4, false, false, 0}, {4, 5, false, false, PALSAFE_ERANGE}, {4, 1, true, false, PALSAFE_EINVAL},
        {4, 1, false, true, PALSAFE_EINVAL}, {4, 0, false, true, 0},
    };
    for (const auto& c : cases) {
        char dst[8] = "#######";
        const char src[8] = "abcdefg";
        EXPECT_EQ(PAL_Memcpy_s(c.nullDst ? nullptr : dst, c.capacity, c.nullSrc ? nullptr : src, c.count), c.rc);
        // A refused copy writes nothing.
        EXPECT_EQ(std::string(dst), c.rc ? "#######" : std::string(src, c.count) + std::string("#######", 7 - c.count));
    }
}

TEST(LogLimit, DeviceTextIsCutAndGateLimitsEachSource) {
    const std::string atLimit(vexa::kMaxLoggedDeviceText, 'a');
    EXPECT_EQ(vexa::logText(atLimit), atLimit);
    EXPECT_EQ(vexa::logText(atLimit + "bc"), atLimit + "...");
    EXPECT_EQ(vexa::logText(nullptr, 5), "");
    EXPECT_EQ(vexa::logText(std::string("a\0b", 3)).size(), 3u);

    vexa::ManualClock clock(1000);
    vexa::LogGate gate(2, 1000, 3);
    gate.setClock(&clock);
    uint64_t held = 0;
    // Steps: {time, source, allowed, held back before this line}.
    const struct { uint64_t t; const char* source; bool allowed; uint64_t held; } steps[] = {
        {1000, "a", true, 0}, {1000, "a", true, 0}, {1500, "a", false, 0}, {1999, "a", false, 0},
        {1999, "b", true, 0},                        // another source has its own budget
        {2000, "a", true, 2},                        // new period: reports the two held back
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
