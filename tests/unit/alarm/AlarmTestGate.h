// The alarm converters' log gate lets a few lines per source through every 10 s. Unit tests
// check lines case after case, so by default their clock jumps a whole period per question; a
// test of the gate itself sets a clock of its own and restores this one.
#ifndef VEXA_ALARM_TEST_GATE_H
#define VEXA_ALARM_TEST_GATE_H

#include <gtest/gtest.h>

#include <atomic>

#include "alarm/AlarmLog.h"

namespace vtest {

// Each reading is a whole period after the last.
struct JumpingClock final : vexa::Clock {
    mutable std::atomic<uint64_t> t{0};
    uint64_t nowMs() const override { return t += 1000000; }

protected:
    uint64_t realSliceMs() const override { return 1; }
};

inline void openAlarmLogGate() {
    static JumpingClock clock;
    vexa::alarmLogGate().setClock(&clock);
}

struct OpenAlarmLogGate : ::testing::Environment {
    void SetUp() override { openAlarmLogGate(); }
};

inline const bool kAlarmLogGateOpened = (::testing::AddGlobalTestEnvironment(new OpenAlarmLogGate), true);

}  // namespace vtest

#endif
