#include "common/TimeConvert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/Log.h"
#include "PAL.h"

namespace {

constexpr const char* kModule = "aldon_plugin";

const TimeZoneRow kTimeZoneTable[kTimeZoneCount] = {
    {1, "-12:00", -43200, "CST+12:00:00"}, {2, "-11:00", -39600, "CST+11:00:00"},
    {3, "-10:00", -36000, "CST+10:00:00"}, {4, "-09:00", -32400, "CST+9:00:00"},
    {5, "-08:00", -28800, "CST+8:00:00"},  {6, "-07:00", -25200, "CST+7:00:00"},
    {7, "-06:00", -21600, "CST+6:00:00"},  {8, "-05:00", -18000, "CST+5:00:00"},
    {9, "-04:30", -16200, "CST+4:30:00"},  {10, "-04:00", -14400, "CST+4:00:00"},
    {11, "-03:30", -12600, "CST+3:30:00"}, {12, "-03:00", -10800, "CST+3:00:00"},
    {13, "-02:00", -7200, "CST+2:00:00"},  {14, "-01:00", -3600, "CST+1:00:00"},
    {15, "+00:00", 0, "CST+0:00:00"},      {16, "+01:00", 3600, "CST-1:00:00"},
    {17, "+02:00", 7200, "CST-2:00:00"},   {18, "+03:00", 10800, "CST-3:00:00"},
    {19, "+03:30", 12600, "CST-3:30:00"},  {20, "+04:00", 14400, "CST-4:00:00"},
    {21, "+04:30", 16200, "CST-4:30:00"},  {22, "+05:00", 18000, "CST-5:00:00"},
    {23, "+05:30", 19800, "CST-5:30:00"},  {24, "+05:45", 20700, "CST-5:45:00"},
    {25, "+06:00", 21600, "CST-6:00:00"},  {26, "+06:30", 23400, "CST-6:30:00"},
    {27, "+07:00", 25200, "CST-7:00:00"},  {28, "+08:00", 28800, "CST-8:00:00"},
    {29, "+09:00", 32400, "CST-9:00:00"},  {30, "+09:30", 34200, "CST-9:30:00"},
    {31, "+10:00", 36000, "CST-10:00:00"}, {32, "+11:00", 39600, "CST-11:00:00"},
    {33, "+12:00", 43200, "CST-12:00:00"}, {34, "+13:00", 46800, "CST-13:00:00"},
    {35, "+14:00", 50400, "CST-14:00:00"},
};

constexpr int kMinYear = 1970;
constexpr int kMaxYear = 2100;
// Machine offsets beyond a day are garbage, not a zone.
constexpr int32_t kMaxMachineOffset = 24 * 3600;
// Untrusted texts are clipped in log lines.
constexpr size_t kLogClip = 64;

struct CivilTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Text against a layout, exact length. Layout letters are digits of a field: Y year, M month,
// D day, h hour, m minute, s second; '+' is either sign; anything else stands for itself.
bool scanLayout(const std::string& text, const char* layout, int (&fields)[6]) {
    static const char kLetters[] = "YMDhms";
    for (int& f : fields) f = 0;
    size_t i = 0;
    for (; layout[i]; ++i) {
        if (i >= text.size()) return false;
        const char c = text[i];
        if (const char* p = strchr(kLetters, layout[i])) {
            if (c < '0' || c > '9') return false;
            int& f = fields[p - kLetters];
            f = f * 10 + (c - '0');  // layouts hold at most 4 digits per field
        } else if (layout[i] == '+' ? (c != '+' && c != '-') : c != layout[i]) {
            return false;
        }
    }
    return i == text.size();
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

bool validCivil(const CivilTime& t) {
    return t.year >= kMinYear && t.year <= kMaxYear && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= daysInMonth(t.year, t.month) && t.hour <= 23 && t.minute <= 59 && t.second <= 59;
}

// The six fields of a time text in the given layout, checked as a calendar time.
bool parseCivil(const std::string& text, const char* layout, CivilTime& t) {
    int f[6];
    if (!scanLayout(text, layout, f)) return false;
    t.year = f[0];
    t.month = f[1];
    t.day = f[2];
    t.hour = f[3];
    t.minute = f[4];
    t.second = f[5];
    return validCivil(t);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

int64_t toSeconds(const CivilTime& t) {
    return daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

CivilTime fromSeconds(int64_t s) {
    CivilTime t;
    int64_t days = s / 86400;
    int64_t rem = s % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rem / 3600);
    t.minute = static_cast<int>(rem % 3600 / 60);
    t.second = static_cast<int>(rem % 60);
    return t;
}

std::string clip(const std::string& text) { return text.size() > kLogClip ? text.substr(0, kLogClip) : text; }

void logBadTime(const char* func, const std::string& text) {
    LOG_MOD(4, kModule, func, "time format exception: %s!", clip(text).c_str());
}

// The one place that reads the machine's zone; tests steer it with TZ.
bool machineLocalTime(PAL_EXPTIME& exp) {
    exp = PAL_EXPTIME{};
    return PAL_ExpTimeFromTimeLocal(PAL_TimeNow(), &exp) == 0;
}

bool machineOffset(const char* func, int32_t& off) {
    PAL_EXPTIME exp;
    if (!machineLocalTime(exp) || exp.tm_gmtoff < -kMaxMachineOffset || exp.tm_gmtoff > kMaxMachineOffset) {
        LOG_MOD(4, kModule, func, "PAL_ExpTimeFromTimeLocal fail");
        return false;
    }
    LOG_MOD(2, kModule, func, "alarm get local timezone");
    off = exp.tm_gmtoff;
    return true;
}

// Offset for the zone shifts: 1..35 from the table, -1 the machine's.
bool shiftOffset(int timeZoneIdx, const char* func, int32_t& off) {
    if (timeZoneIdx == kMachineZoneIdx) return machineOffset(func, off);
    const TimeZoneRow* row = timeZoneRow(timeZoneIdx);
    if (!row) {
        LOG_MOD(4, kModule, func, "TimeZoneIdx exception: %d!", timeZoneIdx);
        return false;
    }
    off = row->seconds;
    return true;
}

// Strict decimal index text: digits only, so "8x", " 8" and "-1" are refused.
int parseIdxText(const std::string& text) {
    if (text.empty() || text.size() > 9) return 0;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string formatJson(const CivilTime& t, const char* zone) {
    char buf[96];
    snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%s", t.year, t.month, t.day, t.hour, t.minute,
             t.second, zone);
    return buf;
}

std::string offsetText(int32_t off) {
    const int64_t a = off < 0 ? -static_cast<int64_t>(off) : off;
    char buf[32];
    snprintf(buf, sizeof buf, "%c%02d:%02d", off < 0 ? '-' : '+', static_cast<int>(a / 3600),
             static_cast<int>(a % 3600 / 60));
    return buf;
}

}  // namespace

const TimeZoneRow* timeZoneRow(int timeZoneIdx) {
    if (timeZoneIdx < 1 || timeZoneIdx > kTimeZoneCount) return nullptr;
    return &kTimeZoneTable[timeZoneIdx - 1];
}

int timeZoneIdxFromOffsetText(const std::string& text) {
    for (const TimeZoneRow& row : kTimeZoneTable)
        if (text == row.offsetText) return row.index;
    return 0;
}

int timeZoneIdxFromSeconds(int32_t seconds) {
    for (const TimeZoneRow& row : kTimeZoneTable)
        if (seconds == row.seconds) return row.index;
    return 0;
}

int ConvertAldonTimeToDevTime(const std::string& time, const std::string& timeZoneIdxText, int32_t (&devTime)[10]) {
    CivilTime t;
    if (!parseCivil(time, "YYYY-MM-DD hh:mm:ss", t)) {
        logBadTime(__func__, time);
        return -1;
    }
    int32_t off = 0;
    if (timeZoneIdxText.empty()) {
        if (!machineOffset(__func__, off)) return -1;
    } else {
        const TimeZoneRow* row = timeZoneRow(parseIdxText(timeZoneIdxText));
        if (!row) {
            LOG_MOD(4, kModule, __func__, "TimeZoneIdx exception: %s!", clip(timeZoneIdxText).c_str());
            return -1;
        }
        off = row->seconds;
    }
    const int32_t block[10] = {0, t.second, t.minute, t.hour, t.day, t.month, t.year, 0, 0, off};
    for (int i = 0; i < 10; ++i) devTime[i] = block[i];
    return 0;
}

int ConvertAldonTimeToJsonTime(const std::string& time, int timeZoneIdx, std::string& out) {
    CivilTime t;
    if (!parseCivil(time, "YYYY-MM-DD hh:mm:ss", t)) {
        logBadTime(__func__, time);
        return -1;
    }
    const TimeZoneRow* row = nullptr;
    if (timeZoneIdx == 0) {
        int32_t off = 0;
        if (!machineOffset(__func__, off)) return -1;
        row = timeZoneRow(timeZoneIdxFromSeconds(off));
        if (!row) {
            LOG_MOD(4, kModule, __func__, "local offset %d has no zone text!", static_cast<int>(off));
            return -1;
        }
    } else {
        row = timeZoneRow(timeZoneIdx);
        if (!row) {
            LOG_MOD(4, kModule, __func__, "TimeZoneIdx exception: %d!", timeZoneIdx);
            return -1;
        }
    }
    out = formatJson(t, row->offsetText);
    return 0;
}

int ConvertJsonTimeToAldonTime(const std::string& jsonTime, int& timeZoneIdx, std::string& out) {
    CivilTime t;
    const std::string clock = jsonTime.substr(0, 19);
    int idx = 0;
    if (parseCivil(clock, "YYYY-MM-DDThh:mm:ss", t)) {
        if (jsonTime.size() == 19)
            idx = kUtcZoneIdx;
        else if (jsonTime.size() == 25)
            idx = timeZoneIdxFromOffsetText(jsonTime.substr(19));
    }
    if (idx == 0) {
        logBadTime(__func__, jsonTime);
        return -1;
    }
    out = clock;
    out[10] = ' ';
    timeZoneIdx = idx;
    return 0;
}

int getGmtoff(int timeZoneIdx) {
    int32_t off = 0;
    if (timeZoneIdx == kMachineZoneIdx) return machineOffset(__func__, off) ? off : 0;
    const TimeZoneRow* row = timeZoneRow(timeZoneIdx);
    if (!row) {
        LOG_MOD(4, kModule, __func__, "TimeZoneIdx exception: %d!", timeZoneIdx);
        return 0;
    }
    return row->seconds;
}

int ConvertCompactUtcToLocal(const std::string& utc, int timeZoneIdx, std::string& out) {
    CivilTime t;
    if (!parseCivil(utc, "YYYYMMDDThhmmssZ", t)) {
        logBadTime(__func__, utc);
        return -1;
    }
    int32_t off = 0;
    if (!shiftOffset(timeZoneIdx, __func__, off)) return -1;
    const CivilTime l = fromSeconds(toSeconds(t) + off);
    char buf[96];
    snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d", l.year, l.month, l.day, l.hour, l.minute, l.second);
    out = buf;
    return 0;
}

int ConvertUtcToLocalJsonTime(const std::string& utc, int timeZoneIdx, std::string& out) {
    CivilTime t;
    if (!parseCivil(utc, "YYYY-MM-DDThh:mm:ssZ", t)) {
        logBadTime(__func__, utc);
        return -1;
    }
    int32_t off = 0;
    if (!shiftOffset(timeZoneIdx, __func__, off)) return -1;
    out = formatJson(fromSeconds(toSeconds(t) + off), offsetText(off).c_str());
    return 0;
}

int ConvertLocalToUtcJsonTime(const std::string& local, int timeZoneIdx, std::string& out) {
    CivilTime t;
    if (!parseCivil(local, "YYYY-MM-DDThh:mm:ss", t)) {
        logBadTime(__func__, local);
        return -1;
    }
    int32_t off = 0;
    if (!shiftOffset(timeZoneIdx, __func__, off)) return -1;
    out = formatJson(fromSeconds(toSeconds(t) - off), "Z");
    return 0;
}

std::string ConvertJsonTimeZoneToPosixTz(const std::string& jsonTime) {
    CivilTime t;
    if (jsonTime.size() != 25 || !parseCivil(jsonTime.substr(0, 19), "YYYY-MM-DDThh:mm:ss", t)) return std::string();
    const TimeZoneRow* row = timeZoneRow(timeZoneIdxFromOffsetText(jsonTime.substr(19)));
    return row ? row->zoneText : std::string();
}

std::string getLocalJsonTime() {
    PAL_EXPTIME exp;
    if (!machineLocalTime(exp)) {
        LOG_MOD(4, kModule, __func__, "PAL_ExpTimeFromTimeLocal fail");
        return std::string();
    }
    CivilTime t;
    t.year = exp.tm_year + 1900;
    t.month = exp.tm_mon + 1;
    t.day = exp.tm_mday;
    t.hour = exp.tm_hour;
    t.minute = exp.tm_min;
    t.second = exp.tm_sec;
    return formatJson(t, offsetText(exp.tm_gmtoff).c_str());
}

bool isValidJsonTime(const std::string& text) {
    CivilTime t;
    if (text.size() == 20) return parseCivil(text, "YYYY-MM-DDThh:mm:ssZ", t);
    if (text.size() != 25 || !parseCivil(text.substr(0, 19), "YYYY-MM-DDThh:mm:ss", t)) return false;
    int zone[6];
    if (!scanLayout(text.substr(19), "+hh:mm", zone)) return false;
    const int zoneHour = text[19] == '-' ? -zone[3] : zone[3];
    return zoneHour >= -12 && zoneHour <= 14 && zone[4] < 60;
}
