// The recording index of a simulated camera or recorder: segments of 10 to 60 minutes with gaps
// of 5 to 120 seconds, deterministic from the device identifier, the channel and the day, so
// every run of a device holds the same recordings for the same day. Any span of more than two
// minutes inside the kept days holds some recording.
#ifndef DEVSIM_RECORDINGS_H
#define DEVSIM_RECORDINGS_H

#include <cstdint>
#include <string>
#include <vector>

namespace devsim {

struct RecordingSegment {
    int channel = 0;
    int64_t startUtc = 0;  // seconds since 1970, UTC
    int64_t endUtc = 0;    // exclusive
};

// Segments of `channel` that overlap [fromUtc, toUtc), oldest first. The index reaches `days`
// days back from `nowUtc` (a segment that began earlier is gone) and stops at `nowUtc` (the
// segment being recorded ends there). Segments never cross a UTC midnight.
std::vector<RecordingSegment> recordingIndex(const std::string& deviceId, int channel, int days, int64_t nowUtc,
                                             int64_t fromUtc, int64_t toUtc);

}  // namespace devsim

#endif
