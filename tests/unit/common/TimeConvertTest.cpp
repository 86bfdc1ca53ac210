#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "common/TimeConvert.h"

namespace {

using vtest::TzScope;

// Zones that must not change the result of any conversion between zone indexes.
const char* const kMachineZones[] = {"UTC", "America/New_York", "Asia/Kathmandu", "Australia/Lord_Howe"};

std::string devTimeText(const int32_t (&b)[10]) {
    char buf[128];
    snprintf(buf, sizeof buf, "%d %d %d %d %d %d %d %d %d %d", b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8],
             b[9]);
    return buf;
}

// ---- table ----

TEST(TimeZoneTable, RowsAgreeWithEachOther) {
    for (int i = 1; i <= kTimeZoneCount; ++i) {
        const TimeZoneRow* row = timeZoneRow(i);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->index, i);
        const int32_t a = row->seconds < 0 ? -row->seconds : row->seconds;
        char offset[16], zone[32];
        snprintf(offset, sizeof offset, "%c%02d:%02d", row->seconds < 0 ? '-' : '+', a / 3600, a % 3600 / 60);
        // Zone text inverts the sign and drops the hour's leading zero; +00:00 reads "CST+0:00:00".
        snprintf(zone, sizeof zone, "CST%c%d:%02d:00", row->seconds <= 0 ? '+' : '-', a / 3600, a % 3600 / 60);
        EXPECT_STREQ(row->offsetText, offset) << i;
        EXPECT_STREQ(row->zoneText, zone) << i;
        EXPECT_EQ(timeZoneIdxFromOffsetText(row->offsetText), i);
        EXPECT_EQ(timeZoneIdxFromSeconds(row->seconds), i);
        EXPECT_EQ(getGmtoff(i), row->seconds);
        if (i > 1) {
            EXPECT_GT(row->seconds, timeZoneRow(i - 1)->seconds) << i;
        }
    }
    EXPECT_EQ(timeZoneRow(0), nullptr);
    EXPECT_EQ(timeZoneRow(36), nullptr);
    EXPECT_EQ(timeZoneRow(-1), nullptr);
    EXPECT_EQ(timeZoneIdxFromSeconds(1800), 0);
    EXPECT_EQ(timeZoneIdxFromOffsetText("+08:45"), 0);
    EXPECT_EQ(timeZoneIdxFromOffsetText("-00:00"), 0);
    EXPECT_STREQ(timeZoneRow(15)->offsetText, "+00:00");
    EXPECT_EQ(getGmtoff(15), 0);
    EXPECT_STREQ(timeZoneRow(24)->offsetText, "+05:45");
    EXPECT_EQ(getGmtoff(24), 20700);
}

TEST(TimeZoneTable, BadIndexLogsAndGivesZero) {
    for (int idx : {0, 36, -2, 1000000}) {
        vtest::LogCapture log(2);
        EXPECT_EQ(getGmtoff(idx), 0) << idx;
        EXPECT_TRUE(log.contains("4 aldon_plugin [getGmtoff(")) << idx;
        EXPECT_TRUE(log.contains("TimeZoneIdx exception: " + std::to_string(idx) + "!")) << idx;
    }
}

// ---- malformed texts ----

struct Fields {
    const char* name;
    const char *y, *mo, *d, *h, *mi, *s;
};

// Each is wrong in exactly one field.
const Fields kBadFields[] = {
    {"month13", "2021", "13", "04", "05", "06", "07"},  {"month00", "2021", "00", "04", "05", "06", "07"},
    {"day00", "2021", "03", "00", "05", "06", "07"},    {"feb30", "2024", "02", "30", "05", "06", "07"},
    {"feb29_2021", "2021", "02", "29", "05", "06", "07"}, {"feb29_2100", "2100", "02", "29", "05", "06", "07"},
    {"apr31", "2021", "04", "31", "05", "06", "07"},    {"day32", "2021", "01", "32", "05", "06", "07"},
    {"hour24", "2021", "03", "04", "24", "06", "07"},   {"minute60", "2021", "03", "04", "05", "60", "07"},
    {"second60", "2021", "03", "04", "05", "06", "60"}, {"year1969", "1969", "12", "31", "23", "59", "59"},
    {"year2101", "2101", "01", "01", "00", "00", "00"}, {"year0000", "0000", "01", "01", "00", "00", "00"},
    {"letter", "2021", "0x", "04", "05", "06", "07"},   {"signInField", "2021", "-3", "04", "05", "06", "07"},
    {"blankInField", "2021", "03", " 4", "05", "06", "07"}, {"shortField", "2021", "3", "04", "05", "06", "07"},
    {"overflow", "99999999999", "03", "04", "05", "06", "07"},
};

// Wrong in the shape of the whole text; "%s" is the valid text.
const char* const kBadShapes[] = {"", "%s ", " %s", "%sZ", "%s0", "%s\n", "x%s"};

enum class Form { Aldon, JsonLocal, JsonUtc, Compact };

std::string build(Form f, const Fields& v) {
    if (f == Form::Compact) return std::string(v.y) + v.mo + v.d + "T" + v.h + v.mi + v.s + "Z";
    return std::string(v.y) + "-" + v.mo + "-" + v.d + (f == Form::Aldon ? " " : "T") + v.h + ":" + v.mi + ":" + v.s +
           (f == Form::JsonUtc ? "Z" : "");
}

// The control: the valid text of the form goes through the same calls.
int convert(Form f, const std::string& text) {
    std::string out;
    int32_t block[10];
    switch (f) {
        case Form::Aldon:
            return ConvertAldonTimeToDevTime(text, "28", block) | ConvertAldonTimeToJsonTime(text, 28, out);
        case Form::JsonLocal:
            return ConvertLocalToUtcJsonTime(text, 28, out) | (isValidJsonTime(text + "+08:00") ? 0 : -1);
        case Form::JsonUtc:
            return ConvertUtcToLocalJsonTime(text, 28, out) | (isValidJsonTime(text) ? 0 : -1);
        case Form::Compact:
            return ConvertCompactUtcToLocal(text, 28, out);
    }
    return -1;
}

// Every parser of the form refuses the text, logs it and leaves its outputs alone.
void expectRefused(Form f, const std::string& text, const std::string& why) {
    const std::string sentinel = "unchanged";
    std::string out = sentinel;
    int idx = 77;
    int32_t block[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    vtest::LogCapture log(4);
    switch (f) {
        case Form::Aldon:
            EXPECT_EQ(ConvertAldonTimeToDevTime(text, "28", block), -1) << why;
            EXPECT_EQ(devTimeText(block), "1 2 3 4 5 6 7 8 9 10") << why;
            EXPECT_EQ(ConvertAldonTimeToJsonTime(text, 28, out), -1) << why;
            break;
        case Form::JsonLocal:
            EXPECT_EQ(ConvertLocalToUtcJsonTime(text, 28, out), -1) << why;
            EXPECT_EQ(ConvertJsonTimeToAldonTime(text, idx, out), -1) << why;
            EXPECT_EQ(ConvertJsonTimeToAldonTime(text + "+08:00", idx, out), -1) << why;
            EXPECT_EQ(ConvertJsonTimeZoneToPosixTz(text + "+08:00"), "") << why;
            EXPECT_FALSE(isValidJsonTime(text + "+08:00")) << why;
            EXPECT_EQ(idx, 77) << why;
            break;
        case Form::JsonUtc:
            EXPECT_EQ(ConvertUtcToLocalJsonTime(text, 28, out), -1) << why;
            EXPECT_FALSE(isValidJsonTime(text)) << why;
            break;
        case Form::Compact:
            EXPECT_EQ(ConvertCompactUtcToLocal(text, 28, out), -1) << why;
            break;
    }
    EXPECT_EQ(out, sentinel) << why;
    EXPECT_TRUE(log.contains("4 aldon_plugin [Convert")) << why;
    EXPECT_TRUE(log.contains("time format exception")) << why;
}

TEST(TimeText, MalformedIsRefusedInEveryForm) {
    const Fields good = {"good", "2021", "03", "04", "05", "06", "07"};
    for (Form f : {Form::Aldon, Form::JsonLocal, Form::JsonUtc, Form::Compact}) {
        const std::string form = std::to_string(static_cast<int>(f));
        for (const Fields& v : kBadFields) expectRefused(f, build(f, v), form + " " + v.name);
        for (const char* shape : kBadShapes) {
            char text[128];
            snprintf(text, sizeof text, shape, build(f, good).c_str());
            expectRefused(f, text, form + " shape '" + shape + "'");
        }
        const std::string valid = build(f, good);
        ASSERT_EQ(convert(f, valid), 0) << valid;
        expectRefused(f, valid.substr(0, valid.size() - 1), form + " cut short");
        expectRefused(f, std::string(valid).insert(4, 1, '\0'), form + " embedded NUL");
    }
}

TEST(TimeText, CalendarLimitsAreAccepted) {
    const char* const kGood[] = {"1970-01-01 00:00:00", "2100-12-31 23:59:59", "2000-02-29 12:00:00",
                                 "2024-02-29 00:00:00", "2100-02-28 10:10:10", "2021-04-30 01:02:03"};
    for (const char* t : kGood) {
        int32_t block[10] = {};
        std::string out;
        EXPECT_EQ(ConvertAldonTimeToDevTime(t, "15", block), 0) << t;
        EXPECT_EQ(ConvertAldonTimeToJsonTime(t, 15, out), 0) << t;
        EXPECT_EQ(out, std::string(t).replace(10, 1, "T") + "+00:00");
        EXPECT_TRUE(isValidJsonTime(out)) << out;
    }
}

// ---- uplink form ----

TEST(AldonTime, ToJsonKeepsTheWallClock) {
    struct Case { const char* time; int idx; const char* json; } const kCases[] = {
        {"2021-03-04 05:06:07", 28, "2021-03-04T05:06:07+08:00"},
        {"2021-03-04 05:06:07", 15, "2021-03-04T05:06:07+00:00"},
        {"2021-12-31 23:59:59", 24, "2021-12-31T23:59:59+05:45"},
        {"1970-01-01 00:00:00", 1, "1970-01-01T00:00:00-12:00"},
        {"2100-12-31 23:59:59", 35, "2100-12-31T23:59:59+14:00"},
        {"2021-03-04 05:06:07", 9, "2021-03-04T05:06:07-04:30"},
    };
    for (const char* tz : kMachineZones) {
        TzScope scope(tz);
        for (const Case& c : kCases) {
            std::string out;
            EXPECT_EQ(ConvertAldonTimeToJsonTime(c.time, c.idx, out), 0) << c.time;
            EXPECT_EQ(out, c.json) << tz;
        }
    }
}

TEST(AldonTime, ToJsonBadIndexLogsAndKeepsOutput) {
    for (int idx : {-1, 36, 100}) {
        vtest::LogCapture log(2);
        std::string out = "keep";
        EXPECT_EQ(ConvertAldonTimeToJsonTime("2021-03-04 05:06:07", idx, out), -1);
        EXPECT_EQ(out, "keep");
        EXPECT_TRUE(log.contains("4 aldon_plugin [ConvertAldonTimeToJsonTime("));
        EXPECT_TRUE(log.contains("TimeZoneIdx exception: " + std::to_string(idx) + "!")) << idx;
    }
}

TEST(AldonTime, ToDevTimeFillsTheBlock) {
    int32_t block[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(ConvertAldonTimeToDevTime("2021-03-04 05:06:07", "28", block), 0);
    EXPECT_EQ(devTimeText(block), "0 7 6 5 4 3 2021 0 0 28800");
    EXPECT_EQ(ConvertAldonTimeToDevTime("2024-02-29 23:59:58", "11", block), 0);
    EXPECT_EQ(devTimeText(block), "0 58 59 23 29 2 2024 0 0 -12600");
    EXPECT_EQ(ConvertAldonTimeToDevTime("2024-02-29 23:59:58", "01", block), 0);
    EXPECT_EQ(block[9], -43200);
}

TEST(AldonTime, ToDevTimeBadIndexTextLogsTheText) {
    const char* const kBad[] = {"0", "36", "abc", "15abc", "-1", " 8", "8 ", "+8", "99999999999999999999", "4294967311"};
    for (const char* text : kBad) {
        vtest::LogCapture log(2);
        int32_t block[10] = {};
        EXPECT_EQ(ConvertAldonTimeToDevTime("2021-03-04 05:06:07", text, block), -1) << text;
        EXPECT_EQ(devTimeText(block), "0 0 0 0 0 0 0 0 0 0") << text;
        EXPECT_TRUE(log.contains("4 aldon_plugin [ConvertAldonTimeToDevTime(")) << text;
        EXPECT_TRUE(log.contains(std::string("TimeZoneIdx exception: ") + text + "!")) << text;
    }
}

// ---- device-API form to uplink form ----

TEST(JsonTime, ToAldon) {
    struct Case { const char* json; int rc; const char* aldon; int idx; } const kCases[] = {
        {"2021-03-04T05:06:07-03:30", 0, "2021-03-04 05:06:07", 11}, {"2021-03-04T05:06:07+05:45", 0, "2021-03-04 05:06:07", 24},
        {"2021-03-04T05:06:07", 0, "2021-03-04 05:06:07", 15}, {"2021-03-04T05:06:07Z", -1, "", 0},
        {"2021-03-04T05:06:07+08:45", -1, "", 0}, {"2021-03-04T05:06:07-00:00", -1, "", 0},
        {"2021-03-04T05:06:07+0800", -1, "", 0}, {"2021-03-04T05:06:07+08:00Z", -1, "", 0},
        {"2021-03-04T05:06:07.000+08:00", -1, "", 0}, {"2021-03-04 05:06:07+08:00", -1, "", 0}, {"2021-03-04T05", -1, "", 0},
    };
    for (const Case& c : kCases) {
        std::string out = "keep";
        int idx = -7;
        EXPECT_EQ(ConvertJsonTimeToAldonTime(c.json, idx, out), c.rc) << c.json;
        EXPECT_EQ(out, c.rc == 0 ? c.aldon : "keep") << c.json;
        EXPECT_EQ(idx, c.rc == 0 ? c.idx : -7) << c.json;
    }
}

TEST(JsonTime, RoundTripThroughEveryIndex) {
    for (int i = 1; i <= kTimeZoneCount; ++i) {
        std::string json, aldon;
        int idx = 0;
        ASSERT_EQ(ConvertAldonTimeToJsonTime("2024-02-29 23:59:59", i, json), 0);
        ASSERT_EQ(ConvertJsonTimeToAldonTime(json, idx, aldon), 0) << json;
        EXPECT_EQ(aldon, "2024-02-29 23:59:59");
        EXPECT_EQ(idx, i);
        EXPECT_EQ(ConvertJsonTimeZoneToPosixTz(json), timeZoneRow(i)->zoneText);
        EXPECT_TRUE(isValidJsonTime(json)) << json;
    }
}

TEST(JsonTime, ZoneToPosix) {
    struct Case { const char* json; const char* zone; } const kCases[] = {
        {"2021-03-04T05:06:07+08:00", "CST-8:00:00"}, {"2021-03-04T05:06:07+08:45", ""},
        {"2021-03-04T05:06:07-03:30", "CST+3:30:00"}, {"2021-03-04T05:06:07+00:00", "CST+0:00:00"},
        {"2021-03-04T05:06:07Z", ""},                 {"+08:00", ""},
        {"", ""},                                     {"2021-03-04T05:06:07+08:00 ", ""},
        {"2021-13-04T05:06:07+08:00", ""},            {"xxxxxxxxxxxxxxxxxxx+08:00", ""},
    };
    for (const Case& c : kCases) EXPECT_EQ(ConvertJsonTimeZoneToPosixTz(c.json), c.zone) << c.json;
}

TEST(JsonTime, Validity) {
    struct Case { const char* text; bool valid; } const kCases[] = {  // "+08:45": well formed, though no table row
        {"Z", true}, {"+14:00", true}, {"-12:00", true}, {"+05:45", true}, {"+08:45", true}, {"-00:30", true},
        {"+15:00", false}, {"-13:00", false}, {"+08:60", false}, {"+0800", false}, {"+08:00Z", false}, {"z", false},
        {"", false}, {"*08:00", false}, {"+08-00", false}, {"++8:00", false}, {"+8:000", false},
    };
    for (const Case& c : kCases) EXPECT_EQ(isValidJsonTime(std::string("2021-03-04T05:06:07") + c.text), c.valid) << c.text;
    // Dates and the T separator; the calendar itself is covered by the malformed-text table above.
    for (const char* t : {"2021-13-04T05:06:07Z", "2021-03-04t05:06:07Z", "2021-02-29T05:06:07Z", ""})
        EXPECT_FALSE(isValidJsonTime(t)) << t;
}

// ---- zone shifts ----

struct Shift {
    const char* utc;  // YYYY-MM-DDThh:mm:ssZ
    int idx;
    const char* local;  // YYYY-MM-DDThh:mm:ss+hh:mm
};

const Shift kShifts[] = {
    {"2021-03-04T05:06:07Z", 15, "2021-03-04T05:06:07+00:00"},
    {"2021-03-04T05:06:07Z", 28, "2021-03-04T13:06:07+08:00"},
    {"2021-12-31T23:30:00Z", 24, "2022-01-01T05:15:00+05:45"},  // year forward, +05:45
    {"2021-01-01T02:00:00Z", 11, "2020-12-31T22:30:00-03:30"},  // year back, -03:30
    {"2024-03-01T03:00:00Z", 9, "2024-02-29T22:30:00-04:30"},   // into a leap day
    {"2023-03-01T03:00:00Z", 9, "2023-02-28T22:30:00-04:30"},
    {"2024-02-29T23:00:00Z", 35, "2024-03-01T13:00:00+14:00"},
    {"2021-04-30T20:00:00Z", 30, "2021-05-01T05:30:00+09:30"},  // month forward
    {"2021-03-14T07:30:00Z", 8, "2021-03-14T02:30:00-05:00"},   // a time New York skips
    {"2021-11-07T06:30:00Z", 8, "2021-11-07T01:30:00-05:00"},   // a time New York has twice
    {"2021-10-03T02:15:00Z", 31, "2021-10-03T12:15:00+10:00"},  // Lord Howe's switch day
    {"2100-12-31T23:00:00Z", 35, "2101-01-01T13:00:00+14:00"},  // result beyond the input range
    {"1970-01-01T00:00:00Z", 1, "1969-12-31T12:00:00-12:00"},
    {"2000-03-01T00:00:00Z", 14, "2000-02-29T23:00:00-01:00"},
};

std::string compact(const std::string& t) {
    std::string out;
    for (char c : t)
        if (c != '-' && c != ':') out += c;
    return out;
}

bool inInputRange(const std::string& t) { return t.compare(0, 4, "1970") >= 0 && t.compare(0, 4, "2100") <= 0; }

std::vector<std::string> runShifts() {
    std::vector<std::string> got;
    for (const Shift& s : kShifts) {
        std::string local, compactLocal, back;
        got.push_back(std::to_string(ConvertUtcToLocalJsonTime(s.utc, s.idx, local)) + " " + local);
        got.push_back(std::to_string(ConvertCompactUtcToLocal(compact(s.utc), s.idx, compactLocal)) + " " +
                      compactLocal);
        got.push_back(std::to_string(ConvertLocalToUtcJsonTime(std::string(s.local, 19), s.idx, back)) + " " + back);
    }
    return got;
}

TEST(ZoneShift, AcrossBoundariesAndRoundTrip) {
    const std::vector<std::string> got = runShifts();
    for (size_t i = 0; i < sizeof kShifts / sizeof kShifts[0]; ++i) {
        const Shift& s = kShifts[i];
        EXPECT_EQ(got[3 * i], std::string("0 ") + s.local) << s.utc;
        EXPECT_EQ(got[3 * i + 1], "0 " + compact(std::string(s.local, 19))) << s.utc;
        // A local time outside the accepted years cannot come back.
        EXPECT_EQ(got[3 * i + 2], inInputRange(s.local) ? std::string("0 ") + s.utc : "-1 ") << s.utc;
    }
}

TEST(ZoneShift, MachineZoneDoesNotLeakIn) {
    std::vector<std::string> first;
    for (const char* tz : kMachineZones) {
        TzScope scope(tz);
        const std::vector<std::string> got = runShifts();
        if (first.empty())
            first = got;
        else
            EXPECT_EQ(got, first) << tz;
    }
}

// Independent check of the calendar arithmetic against the C library's UTC functions.
TEST(ZoneShift, AgreesWithLibcOverTheWholeRange) {
    const time_t begin = 12 * 3600;       // 1970-01-01T12:00:00Z: no zone goes below 1970
    const time_t end = 4133980800 - 14 * 3600;  // 2101-01-01T00:00:00Z minus the largest offset
    for (time_t t = begin; t < end; t += 86400 * 5 + 3719) {
        struct tm u;
        ASSERT_NE(gmtime_r(&t, &u), nullptr);
        char utc[32];
        strftime(utc, sizeof utc, "%Y-%m-%dT%H:%M:%SZ", &u);
        for (int idx : {1, 9, 15, 24, 35}) {
            const time_t l = t + getGmtoff(idx);
            struct tm lt;
            ASSERT_NE(gmtime_r(&l, &lt), nullptr);
            char want[32];
            strftime(want, sizeof want, "%Y-%m-%dT%H:%M:%S", &lt);
            std::string local, back;
            ASSERT_EQ(ConvertUtcToLocalJsonTime(utc, idx, local), 0) << utc;
            ASSERT_EQ(local, std::string(want) + timeZoneRow(idx)->offsetText) << utc;
            ASSERT_EQ(ConvertLocalToUtcJsonTime(want, idx, back), 0) << want;
            ASSERT_EQ(back, utc);
        }
    }
}

TEST(ZoneShift, BadIndexFails) {
    for (int idx : {0, 36, -2}) {
        vtest::LogCapture log(2);
        std::string out = "keep";
        EXPECT_EQ(ConvertUtcToLocalJsonTime("2021-03-04T05:06:07Z", idx, out), -1) << idx;
        EXPECT_EQ(ConvertCompactUtcToLocal("20210304T050607Z", idx, out), -1) << idx;
        EXPECT_EQ(ConvertLocalToUtcJsonTime("2021-03-04T05:06:07", idx, out), -1) << idx;
        EXPECT_EQ(out, "keep");
        EXPECT_EQ(log.count("TimeZoneIdx exception: " + std::to_string(idx) + "!"), 3u) << idx;
    }
}

// ---- the machine's own offset ----

struct MachineCase {
    const char* tz;
    int32_t offset;
    const char* text;  // offset text, or null when the table has none
};

// Fixed-offset zones, so the expectations hold on any date.
const MachineCase kMachine[] = {
    {"UTC0", 0, "+00:00"},
    {"<+0545>-5:45", 20700, "+05:45"},
    {"<-0330>3:30", -12600, "-03:30"},
    {"<+14>-14", 50400, "+14:00"},
    {"<+0115>-1:15", 4500, nullptr},
    {"<-0020>0:20", -1200, nullptr},
};

TEST(MachineOffset, FollowsTheMachineZone) {
    for (const MachineCase& c : kMachine) {
        TzScope scope(c.tz);
        vtest::LogCapture log(2);
        EXPECT_EQ(getGmtoff(kMachineZoneIdx), c.offset) << c.tz;
        EXPECT_TRUE(log.contains("2 aldon_plugin [getGmtoff(")) << c.tz;
        EXPECT_TRUE(log.contains("alarm get local timezone")) << c.tz;

        int32_t block[10] = {};
        EXPECT_EQ(ConvertAldonTimeToDevTime("2021-03-04 05:06:07", "", block), 0) << c.tz;
        EXPECT_EQ(block[9], c.offset) << c.tz;

        std::string json = "keep";
        EXPECT_EQ(ConvertAldonTimeToJsonTime("2021-03-04 05:06:07", 0, json), c.text ? 0 : -1) << c.tz;
        EXPECT_EQ(json, c.text ? std::string("2021-03-04T05:06:07") + c.text : "keep") << c.tz;

        // Index -1 in the shifts is the machine's offset, whether or not the table has it.
        const int32_t a = c.offset < 0 ? -c.offset : c.offset;
        char off[16];
        snprintf(off, sizeof off, "%c%02d:%02d", c.offset < 0 ? '-' : '+', a / 3600, a % 3600 / 60);
        std::string local, back;
        EXPECT_EQ(ConvertUtcToLocalJsonTime("2021-06-30T23:59:59Z", kMachineZoneIdx, local), 0);
        EXPECT_EQ(local.substr(19), off) << c.tz;
        EXPECT_EQ(ConvertLocalToUtcJsonTime(local.substr(0, 19), kMachineZoneIdx, back), 0);
        EXPECT_EQ(back, "2021-06-30T23:59:59Z") << c.tz;

        const std::string now = getLocalJsonTime();
        ASSERT_EQ(now.size(), 25u) << now;
        EXPECT_EQ(now.substr(19), off) << c.tz;
        EXPECT_TRUE(isValidJsonTime(now)) << now;
    }
}

}  // namespace
