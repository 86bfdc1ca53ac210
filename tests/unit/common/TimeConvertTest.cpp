#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "TestSupport.h"
#include "common/TimeConvert.h"

namespace {

using vtest::TzScope;

// Zones that must not change the result of any conversion between zone indexes.
const char* const kMachineZones[] = {"UTC", "America/New_York", "Asia/Kathmandu", "Australia/Lord_Howe"};

std::string devTimeText(const int32_t (&b)[10]) {
    std::string s;
    for (int32_t v : b) s += std::to_string(v) + " ";
    return s;
}

std::string offsetText(int32_t seconds) {
    const int32_t a = seconds < 0 ? -seconds : seconds;
    char buf[16];
    snprintf(buf, sizeof buf, "%c%02d:%02d", seconds < 0 ? '-' : '+', a / 3600, a % 3600 / 60);
    return buf;
}

TEST(TimeZoneTable, RowsAgreeWithEachOther) {
    for (int i = 1; i <= kTimeZoneCount; ++i) {
        const TimeZoneRow* row = timeZoneRow(i);
        ASSERT_NE(row, nullptr);
        const int32_t a = row->seconds < 0 ? -row->seconds : row->seconds;
        char zone[32];  // sign inverted, no leading zero in the hour; +00:00 reads "CST+0:00:00"
        snprintf(zone, sizeof zone, "CST%c%d:%02d:00", row->seconds <= 0 ? '+' : '-', a / 3600, a % 3600 / 60);
        EXPECT_EQ(row->index, i);
        EXPECT_EQ(row->offsetText, offsetText(row->seconds)) << i;
        EXPECT_STREQ(row->zoneText, zone) << i;
        EXPECT_EQ(timeZoneIdxFromOffsetText(row->offsetText), i);
        EXPECT_EQ(timeZoneIdxFromSeconds(row->seconds), i);
        EXPECT_EQ(getGmtoff(i), row->seconds);
        if (i > 1) { EXPECT_GT(row->seconds, timeZoneRow(i - 1)->seconds) << i; }
        EXPECT_EQ(ConvertJsonTimeZoneToPosixTz(std::string("2024-02-29T23:59:59") + row->offsetText), row->zoneText);
    }
    EXPECT_EQ(getGmtoff(24), 20700);  // +05:45
    for (int bad : {0, 36, -2}) EXPECT_EQ(timeZoneRow(bad), nullptr);
    EXPECT_EQ(timeZoneIdxFromSeconds(1800), 0);
    EXPECT_EQ(timeZoneIdxFromOffsetText("+08:45") + timeZoneIdxFromOffsetText("-00:00"), 0);
}

// Every conversion refuses an index without a row, logs it with its own function text and
// leaves its outputs alone.
TEST(TimeZoneTable, BadIndexIsLoggedAndRefused) {
    for (int idx : {0, 36, -2, -1000000}) {
        vtest::LogCapture log(2);
        std::string out = "keep";
        EXPECT_EQ(getGmtoff(idx), 0) << idx;
        if (idx != 0) {  // 0 is the machine's zone there
            EXPECT_EQ(ConvertAldonTimeToJsonTime("2021-03-04 05:06:07", idx, out), -1) << idx;
            EXPECT_TRUE(log.contains("4 aldon_plugin [ConvertAldonTimeToJsonTime("));
        }
        EXPECT_EQ(ConvertUtcToLocalJsonTime("2021-03-04T05:06:07Z", idx, out), -1) << idx;
        EXPECT_EQ(ConvertCompactUtcToLocal("20210304T050607Z", idx, out), -1) << idx;
        EXPECT_EQ(ConvertLocalToUtcJsonTime("2021-03-04T05:06:07", idx, out), -1) << idx;
        EXPECT_EQ(out, "keep");
        EXPECT_EQ(log.count("TimeZoneIdx exception: " + std::to_string(idx) + "!"), idx ? 5u : 4u) << idx;
        EXPECT_TRUE(log.contains("4 aldon_plugin [getGmtoff(")) << idx;
    }
    for (const char* text : {"0", "36", "abc", "15abc", "-1", " 8", "8 ", "+8", "99999999999999999999", "4294967311"}) {
        vtest::LogCapture log(2);
        int32_t block[10] = {};
        EXPECT_EQ(ConvertAldonTimeToDevTime("2021-03-04 05:06:07", text, block), -1) << text;
        EXPECT_EQ(devTimeText(block), "0 0 0 0 0 0 0 0 0 0 ") << text;
        EXPECT_TRUE(log.contains("4 aldon_plugin [ConvertAldonTimeToDevTime(")) << text;
        EXPECT_TRUE(log.contains(std::string("TimeZoneIdx exception: ") + text + "!")) << text;
    }
}

struct Fields { const char *name, *y, *mo, *d, *h, *mi, *s; };

// Each is wrong in exactly one field.
const Fields kBadFields[] = {
    {"month13", "2021", "13", "04", "05", "06", "07"},  {"month00", "2021", "00", "04", "05", "06", "07"},
    {"day00", "2021", "03", "00", "05", "06", "07"},    {"feb30", "2024", "02", "30", "05", "06", "07"},
    {"feb29_2021", "2021", "02", "29", "05", "06", "07"}, {"feb29_2100", "2100", "02", "29", "05", "06", "07"},
    {"apr31", "2021", "04", "31", "05", "06", "07"},    {"day32", "2021", "01", "32", "05", "06", "07"},
    {"hour24", "2021", "03", "04", "24", "06", "07"},   {"minute60", "2021", "03", "04", "05", "60", "07"},
    {"second60", "2021", "03", "04", "05", "06", "60"}, {"year1969", "1969", "12", "31", "23", "59", "59"},
    {"year2101", "2101", "01", "01", "00", "00", "00"}, {"letter", "2021", "0x", "04", "05", "06", "07"},
    {"signInField", "2021", "-3", "04", "05", "06", "07"}, {"blankInField", "2021", "03", " 4", "05", "06", "07"},
    {"shortField", "2021", "3", "04", "05", "06", "07"}, {"overflow", "99999999999", "03", "04", "05", "06", "07"},
};

// Wrong in the shape of the whole text; "%s" is the valid text.
const char* const kBadShapes[] = {"", "%s ", " %s", "%sZ", "%s0", "%s\n", "x%s"};

enum class Form { Aldon, JsonLocal, JsonUtc, Compact };

std::string build(Form f, const Fields& v) {
    if (f == Form::Compact) return std::string(v.y) + v.mo + v.d + "T" + v.h + v.mi + v.s + "Z";
    return std::string(v.y) + "-" + v.mo + "-" + v.d + (f == Form::Aldon ? " " : "T") + v.h + ":" + v.mi + ":" + v.s +
           (f == Form::JsonUtc ? "Z" : "");
}

// Every parser of the form, one result each: "0" accepted, "-1" refused.
std::string convert(Form f, const std::string& text, std::string& out, int& idx, int32_t (&block)[10]) {
    std::string r;
    const auto add = [&r](int rc) { r += std::to_string(rc); };
    switch (f) {
        case Form::Aldon: add(ConvertAldonTimeToDevTime(text, "28", block)), add(ConvertAldonTimeToJsonTime(text, 28, out)); break;
        case Form::JsonLocal:
            add(ConvertLocalToUtcJsonTime(text, 28, out)), add(ConvertJsonTimeToAldonTime(text, idx, out));
            add(ConvertJsonTimeToAldonTime(text + "+08:00", idx, out));
            add(ConvertJsonTimeZoneToPosixTz(text + "+08:00").empty() ? -1 : 0), add(isValidJsonTime(text + "+08:00") ? 0 : -1);
            break;
        case Form::JsonUtc: add(ConvertUtcToLocalJsonTime(text, 28, out)), add(isValidJsonTime(text) ? 0 : -1); break;
        case Form::Compact: add(ConvertCompactUtcToLocal(text, 28, out));
    }
    return r;
}

// Every parser refuses the text, logs it and leaves its outputs alone.
void expectRefused(Form f, const std::string& text, const std::string& why) {
    std::string out = "unchanged";
    int idx = 77;
    int32_t block[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    vtest::LogCapture log(4);
    const std::string got = convert(f, text, out, idx, block);
    EXPECT_EQ(got.find('0'), std::string::npos) << why << ": " << got;
    EXPECT_EQ(out + " " + std::to_string(idx) + " " + devTimeText(block), "unchanged 77 1 2 3 4 5 6 7 8 9 10 ") << why;
    EXPECT_TRUE(log.contains("4 aldon_plugin [Convert") && log.contains("time format exception")) << why;
}

TEST(TimeText, MalformedIsRefusedInEveryForm) {
    const Fields good = {"good", "2021", "03", "04", "05", "06", "07"};
    for (Form f : {Form::Aldon, Form::JsonLocal, Form::JsonUtc, Form::Compact}) {
        const std::string form = std::to_string(static_cast<int>(f)), valid = build(f, good);
        for (const Fields& v : kBadFields) expectRefused(f, build(f, v), form + " " + v.name);
        for (const char* shape : kBadShapes) {
            char text[128];
            snprintf(text, sizeof text, shape, valid.c_str());
            expectRefused(f, text, form + " shape '" + shape + "'");
        }
        std::string out;
        int idx = 0;
        int32_t block[10];
        ASSERT_EQ(convert(f, valid, out, idx, block).find('-'), std::string::npos) << valid;  // the control
        expectRefused(f, valid.substr(0, valid.size() - 1), form + " cut short");
        expectRefused(f, std::string(valid).insert(4, 1, '\0'), form + " embedded NUL");
    }
}

TEST(AldonTime, CalendarLimitsAndWallClock) {
    const struct { const char* time; int idx; const char* json; } kCases[] = {
        {"2021-03-04 05:06:07", 28, "2021-03-04T05:06:07+08:00"}, {"1970-01-01 00:00:00", 1, "1970-01-01T00:00:00-12:00"},
        {"2100-12-31 23:59:59", 35, "2100-12-31T23:59:59+14:00"}, {"2021-03-04 05:06:07", 9, "2021-03-04T05:06:07-04:30"},
        {"2000-02-29 12:00:00", 15, "2000-02-29T12:00:00+00:00"}, {"2100-02-28 10:10:10", 15, "2100-02-28T10:10:10+00:00"},
    };
    for (const char* tz : kMachineZones) {
        TzScope scope(tz);
        for (const auto& c : kCases) {
            std::string out;
            EXPECT_EQ(ConvertAldonTimeToJsonTime(c.time, c.idx, out), 0) << c.time;
            EXPECT_EQ(out, c.json) << tz;
        }
    }
    int32_t block[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(ConvertAldonTimeToDevTime("2024-02-29 23:59:58", "11", block), 0);
    EXPECT_EQ(devTimeText(block), "0 58 59 23 29 2 2024 0 0 -12600 ");
}

TEST(JsonTime, ToAldonZoneAndValidity) {
    const struct { const char* json; int rc; const char* aldon; int idx; } kCases[] = {
        {"2021-03-04T05:06:07-03:30", 0, "2021-03-04 05:06:07", 11}, {"2021-03-04T05:06:07", 0, "2021-03-04 05:06:07", 15},
        {"2021-03-04T05:06:07Z", -1, "", 0}, {"2021-03-04T05:06:07+08:45", -1, "", 0},
        {"2021-03-04T05:06:07-00:00", -1, "", 0}, {"2021-03-04T05:06:07.000+08:00", -1, "", 0},
        {"2021-03-04 05:06:07+08:00", -1, "", 0}, {"2021-03-04T05", -1, "", 0},
    };
    for (const auto& c : kCases) {
        std::string out = "keep";
        int idx = -7;
        EXPECT_EQ(ConvertJsonTimeToAldonTime(c.json, idx, out), c.rc) << c.json;
        EXPECT_EQ(out + std::to_string(idx), c.rc == 0 ? c.aldon + std::to_string(c.idx) : "keep-7") << c.json;
    }
    const struct { const char* text; bool valid; } kZones[] = {  // "+08:45": well formed, though no table row
        {"Z", true}, {"+14:00", true}, {"-12:00", true}, {"+08:45", true}, {"-00:30", true}, {"+15:00", false},
        {"-13:00", false}, {"+08:60", false}, {"+0800", false}, {"+08:00Z", false}, {"z", false}, {"", false},
        {"*08:00", false}, {"+08-00", false}, {"++8:00", false}, {"+8:000", false},
    };
    for (const auto& c : kZones) EXPECT_EQ(isValidJsonTime(std::string("2021-03-04T05:06:07") + c.text), c.valid) << c.text;
    EXPECT_FALSE(isValidJsonTime("2021-03-04t05:06:07Z"));
}

std::string compact(const std::string& t) {
    std::string out;
    for (char c : t)
        if (c != '-' && c != ':') out += c;
    return out;
}

// UTC -> local (both forms) and back, checked against the C library's UTC functions.
void expectShift(const std::string& utc, int idx, const std::string& why) {
    struct tm u = {}, lt = {};
    ASSERT_TRUE(strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%SZ", &u)) << utc;
    const time_t l = timegm(&u) + getGmtoff(idx);
    ASSERT_NE(gmtime_r(&l, &lt), nullptr);
    char want[32];
    strftime(want, sizeof want, "%Y-%m-%dT%H:%M:%S", &lt);
    std::string local, compactLocal, back;
    ASSERT_EQ(ConvertUtcToLocalJsonTime(utc, idx, local), 0) << why;
    ASSERT_EQ(local, std::string(want) + timeZoneRow(idx)->offsetText) << why;
    ASSERT_EQ(ConvertCompactUtcToLocal(compact(utc), idx, compactLocal), 0) << why;
    ASSERT_EQ(compactLocal, compact(want)) << why;
    // A local time outside the accepted years cannot come back.
    const bool inRange = local.compare(0, 4, "1970") >= 0 && local.compare(0, 4, "2100") <= 0;
    EXPECT_EQ(ConvertLocalToUtcJsonTime(want, idx, back), inRange ? 0 : -1) << why;
    EXPECT_EQ(back, inRange ? utc : "") << why;
}

TEST(ZoneShift, AgreesWithLibcWhateverTheMachineZone) {
    // Times the machine zones skip, have twice or switch on, and results beyond the input range.
    const struct { const char* utc; int idx; } kEdges[] = {
        {"2021-03-14T07:30:00Z", 8}, {"2021-11-07T06:30:00Z", 8}, {"2021-10-03T02:15:00Z", 31},
        {"2100-12-31T23:00:00Z", 35}, {"1970-01-01T00:00:00Z", 1}, {"2024-03-01T03:00:00Z", 9},
        {"2000-02-29T21:00:00Z", 24}, {"2100-02-28T23:30:00Z", 15}, {"2023-12-31T23:59:59Z", 35}};
    for (const char* tz : kMachineZones) {
        TzScope scope(tz);
        for (const auto& e : kEdges) expectShift(e.utc, e.idx, std::string(tz) + " " + e.utc);
    }
    // And every few days over the whole accepted range, so a calendar slip anywhere shows.
    for (time_t s = 12 * 3600; s < 4133980800 - 14 * 3600; s += 86400 * 5 + 3719) {
        char utc[32];
        struct tm u;
        strftime(utc, sizeof utc, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&s, &u));
        for (int idx : {1, 9, 15, 24, 35}) expectShift(utc, idx, utc);
    }
}

TEST(MachineOffset, FollowsTheMachineZone) {
    // Fixed-offset zones, so the expectations hold on any date; text null when the table has none.
    const struct { const char* tz; int32_t offset; const char* text; } kMachine[] = {
        {"UTC0", 0, "+00:00"}, {"<+0545>-5:45", 20700, "+05:45"}, {"<-0330>3:30", -12600, "-03:30"},
        {"<+14>-14", 50400, "+14:00"}, {"<+0115>-1:15", 4500, nullptr}, {"<-0020>0:20", -1200, nullptr},
    };
    for (const auto& c : kMachine) {
        TzScope scope(c.tz);
        vtest::LogCapture log(2);
        EXPECT_EQ(getGmtoff(kMachineZoneIdx), c.offset) << c.tz;
        EXPECT_TRUE(log.contains("2 aldon_plugin [getGmtoff(") && log.contains("alarm get local timezone")) << c.tz;
        int32_t block[10] = {};
        EXPECT_EQ(ConvertAldonTimeToDevTime("2021-03-04 05:06:07", "", block), 0) << c.tz;
        EXPECT_EQ(block[9], c.offset) << c.tz;
        std::string json = "keep";
        EXPECT_EQ(ConvertAldonTimeToJsonTime("2021-03-04 05:06:07", 0, json), c.text ? 0 : -1) << c.tz;
        EXPECT_EQ(json, c.text ? std::string("2021-03-04T05:06:07") + c.text : "keep") << c.tz;
        // Index -1 in the shifts is the machine's offset, whether or not the table has it.
        std::string local, back;
        EXPECT_EQ(ConvertUtcToLocalJsonTime("2021-06-30T23:59:59Z", kMachineZoneIdx, local), 0);
        EXPECT_EQ(local.substr(19), offsetText(c.offset)) << c.tz;
        EXPECT_EQ(ConvertLocalToUtcJsonTime(local.substr(0, 19), kMachineZoneIdx, back), 0);
        EXPECT_EQ(back, "2021-06-30T23:59:59Z") << c.tz;
        const std::string now = getLocalJsonTime();
        EXPECT_EQ(now.size() == 25 ? now.substr(19) : now, offsetText(c.offset)) << c.tz;
        EXPECT_TRUE(isValidJsonTime(now)) << now;
    }
}

}  // namespace
