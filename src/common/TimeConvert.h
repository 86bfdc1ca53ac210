// Time texts of the three forms devices use and the zone-index table that ties them together:
//   uplink form       "YYYY-MM-DD hh:mm:ss" plus a zone index 1..35
//   device-API form   "YYYY-MM-DDThh:mm:ss+hh:mm", "YYYY-MM-DDThh:mm:ssZ" or, local, without zone
//   compact form      "YYYYMMDDThhmmssZ" (record search)
// Every text is checked strictly (digits in place, valid calendar date, year 1970..2100, no
// trailing bytes). Zone shifts are plain UTC arithmetic on the table's offsets, so the gateway's
// own zone and daylight saving only come in where the gateway's offset is asked for.
// All functions are stateless and thread-safe.
#ifndef VEXA_TIME_CONVERT_H
#define VEXA_TIME_CONVERT_H

#include <cstdint>
#include <string>

struct TimeZoneRow {
    int index;               // 1..35
    const char* offsetText;  // "+05:45"
    int32_t seconds;         // east of UTC
    const char* zoneText;    // POSIX style, sign inverted: "CST-5:45:00"
};

constexpr int kTimeZoneCount = 35;
constexpr int kUtcZoneIdx = 15;
// Zone index that stands for the gateway machine's own offset in getGmtoff and the zone shifts.
constexpr int kMachineZoneIdx = -1;

// Row of an index, null outside 1..35.
const TimeZoneRow* timeZoneRow(int timeZoneIdx);
// Index of an offset text / of an offset in seconds; 0 when the table has none.
int timeZoneIdxFromOffsetText(const std::string& offsetText);
int timeZoneIdxFromSeconds(int32_t seconds);

// Uplink time plus the index as decimal text into the device time block
// ([1] s, [2] min, [3] h, [4] day, [5] month, [6] year, [9] offset in seconds, others 0).
// An empty index text takes the machine's offset. 0 / -1; on failure devTime is untouched.
int ConvertAldonTimeToDevTime(const std::string& time, const std::string& timeZoneIdxText, int32_t (&devTime)[10]);

// Uplink time plus an index (0: the machine's offset) into the device-API form. The clock fields
// are kept as they are: the text names that wall-clock time in that zone. 0 / -1 (out untouched).
int ConvertAldonTimeToJsonTime(const std::string& time, int timeZoneIdx, std::string& out);

// Device-API time (19 characters without zone -> index 15, or 25 with a table offset) into the
// uplink form and its index. 0 / -1 (outputs untouched).
int ConvertJsonTimeToAldonTime(const std::string& jsonTime, int& timeZoneIdx, std::string& out);

// Offset in seconds of an index; -1 the machine's offset. 0 on any failure (logged).
int getGmtoff(int timeZoneIdx);

// Zone shifts. timeZoneIdx is 1..35 or -1 for the machine's offset; any other index fails.
// "YYYYMMDDThhmmssZ" -> device-local "YYYYMMDDThhmmss".
int ConvertCompactUtcToLocal(const std::string& utc, int timeZoneIdx, std::string& out);
// "YYYY-MM-DDThh:mm:ssZ" -> device-local "YYYY-MM-DDThh:mm:ss+hh:mm".
int ConvertUtcToLocalJsonTime(const std::string& utc, int timeZoneIdx, std::string& out);
// Device-local "YYYY-MM-DDThh:mm:ss" -> "YYYY-MM-DDThh:mm:ssZ".
int ConvertLocalToUtcJsonTime(const std::string& local, int timeZoneIdx, std::string& out);

// Zone text for the offset of a 25-character device-API time, or "" when there is none.
std::string ConvertJsonTimeZoneToPosixTz(const std::string& jsonTime);

// The machine's current local time in the device-API form with its offset; "" when the runtime
// cannot tell.
std::string getLocalJsonTime();

// True for a well-formed device-API time: "...Z" (20 characters) or "...+hh:mm" (25), valid
// date and clock, zone hour -12..14, zone minute below 60.
bool isValidJsonTime(const std::string& text);

#endif
