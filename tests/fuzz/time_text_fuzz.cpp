// Time texts. The first byte picks the function to stress (byte % 7) and the zone index
// (byte % 38 - 1: the machine's offset, 0..36 with both out-of-range neighbours); 7 and 38 share
// no factor, so nearly every pair is reachable. The rest is the text.
// Every parser sees the text; the invariants below must hold for any input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/TimeConvert.h"
#include "runlog.h"

namespace {

void check(bool cond) {
    if (!cond) __builtin_trap();
}

bool digitsAt(const std::string& s, const char* layout) {
    if (s.size() != strlen(layout)) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (layout[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != layout[i]) return false;
    }
    return true;
}

bool inRange(const std::string& t) { return t.compare(0, 4, "1970") >= 0 && t.compare(0, 4, "2100") <= 0; }

// An accepted device-API time converts as far as the table allows, and comes back unchanged.
void checkJsonTime(const std::string& text, int idx) {
    if (!isValidJsonTime(text)) return;
    check(text.size() == 20 || text.size() == 25);
    if (text.size() == 25) {
        const int row = timeZoneIdxFromOffsetText(text.substr(19));
        std::string aldon, back;
        int got = -5;
        check(ConvertJsonTimeToAldonTime(text, got, aldon) == (row ? 0 : -1));
        check(!ConvertJsonTimeZoneToPosixTz(text).empty() == (row != 0));
        if (!row) return;
        check(got == row && aldon.size() == 19 && aldon[10] == ' ');
        check(ConvertAldonTimeToJsonTime(aldon, got, back) == 0 && back == text);
        return;
    }
    if (!timeZoneRow(idx)) return;
    std::string local, utc;
    check(ConvertUtcToLocalJsonTime(text, idx, local) == 0);
    check(digitsAt(local.substr(0, 19), "dddd-dd-ddTdd:dd:dd") && local.substr(19) == timeZoneRow(idx)->offsetText);
    check(isValidJsonTime(local) || !inRange(local));
    if (inRange(local)) check(ConvertLocalToUtcJsonTime(local.substr(0, 19), idx, utc) == 0 && utc == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    if (size == 0) return 0;
    const int pick = data[0] % 7;
    const int idx = data[0] % 38 - 1;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string out;
    int got = -5;
    int32_t block[10] = {};
    switch (pick) {
        case 0:
            if (ConvertAldonTimeToDevTime(text, std::to_string(idx), block) == 0) {
                check(block[0] == 0 && block[7] == 0 && block[8] == 0);
                check(block[6] >= 1970 && block[6] <= 2100 && block[5] >= 1 && block[5] <= 12);
                check(block[4] >= 1 && block[4] <= 31 && block[3] <= 23 && block[2] <= 59 && block[1] <= 59);
                check(block[9] == timeZoneRow(idx)->seconds);
            }
            // The index text itself as untrusted input.
            if (!text.empty() && ConvertAldonTimeToDevTime("2021-03-04 05:06:07", text, block) == 0) {
                check(text.find_first_not_of("0123456789") == std::string::npos);
                check(timeZoneIdxFromSeconds(block[9]) != 0 && block[6] == 2021);
            }
            break;
        case 1:
            if (ConvertAldonTimeToJsonTime(text, idx, out) == 0) {
                check(out.size() == 25 && isValidJsonTime(out));
                std::string back;
                check(ConvertJsonTimeToAldonTime(out, got, back) == 0 && back == text);
                check(idx == 0 || got == idx);
            }
            break;
        case 2:
            if (ConvertJsonTimeToAldonTime(text, got, out) == 0) {
                check(timeZoneRow(got) && digitsAt(out, "dddd-dd-dd dd:dd:dd"));
                check(text.size() == 19 || text.size() == 25);
            }
            break;
        case 3:
            if (ConvertCompactUtcToLocal(text, idx, out) == 0) check(digitsAt(out, "ddddddddTdddddd"));
            break;
        case 4:
            if (ConvertUtcToLocalJsonTime(text, idx, out) == 0) check(out.size() == 25 && isValidJsonTime(text));
            break;
        case 5:
            if (ConvertLocalToUtcJsonTime(text, idx, out) == 0) {
                check(digitsAt(out, "dddd-dd-ddTdd:dd:ddZ"));
                if (idx != kMachineZoneIdx && inRange(out)) {
                    std::string local;
                    check(ConvertUtcToLocalJsonTime(out, idx, local) == 0 && local.substr(0, 19) == text);
                }
            }
            break;
        default: {
            const std::string zone = ConvertJsonTimeZoneToPosixTz(text);
            check(zone.empty() || (text.size() == 25 && isValidJsonTime(text)));
            break;
        }
    }
    if (idx != kMachineZoneIdx) check(getGmtoff(idx) == (timeZoneRow(idx) ? timeZoneRow(idx)->seconds : 0));
    checkJsonTime(text, idx);
    return 0;
}
