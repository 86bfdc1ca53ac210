#include "devsim/Recordings.h"

#include <algorithm>

namespace devsim {

namespace {

constexpr int64_t kDay = 86400;
constexpr int kMaxDays = 3660;

uint64_t fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

uint64_t splitmix(uint64_t& x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

}  // namespace

std::vector<RecordingSegment> recordingIndex(const std::string& deviceId, int channel, int days, int64_t nowUtc,
                                             int64_t fromUtc, int64_t toUtc) {
    std::vector<RecordingSegment> out;
    days = std::min(std::max(days, 0), kMaxDays);
    const int64_t oldest = nowUtc - days * kDay;
    const int64_t lo = std::max(fromUtc, oldest), hi = std::min(toUtc, nowUtc);
    if (days == 0 || lo >= hi) return out;
    const uint64_t base = fnv1a(deviceId) ^ (static_cast<uint64_t>(channel) * 0xD6E8FEB86659FD93ull);
    for (int64_t day = floorDiv(lo, kDay); day * kDay < hi; ++day) {
        uint64_t state = base ^ (static_cast<uint64_t>(day) * 0xA0761D6478BD642Full);
        const int64_t dayEnd = (day + 1) * kDay;
        int64_t t = day * kDay + static_cast<int64_t>(splitmix(state) % 120);
        while (t < dayEnd) {
            const int64_t len = 600 + static_cast<int64_t>(splitmix(state) % 3001);
            const int64_t end = std::min(t + len, dayEnd);
            const int64_t gap = 5 + static_cast<int64_t>(splitmix(state) % 116);
            RecordingSegment s{channel, t, std::min(end, nowUtc)};
            if (s.startUtc >= oldest && s.startUtc < s.endUtc && s.startUtc < hi && s.endUtc > lo) out.push_back(s);
            if (end >= nowUtc) return out;
            t = end + gap;
        }
    }
    return out;
}

}  // namespace devsim
