// The alarm converters' log gate lets a few lines per source through every 10 s. Unit tests
// check lines case after case, so by default their clock jumps a whole period per question; a
// test of the gate itself sets a clock of its own and restores this one.
#ifndef VEXA_ALARM_TEST_GATE_H
#define VEXA_ALARM_TEST_GATE_H

#include <gtest/gtest.h>

#include <atomic>

#include "AlarmLog.h"

namespace vtest {

inline void openAlarmLogGate() {
    static std::atomic<uint64_t> t{0};
    vexa::alarmLogGate().setClock([] { return t += 1000000; });
}

struct OpenAlarmLogGate : ::testing::Environment {
    void SetUp() override { openAlarmLogGate(); }
};

inline const bool kAlarmLogGateOpened = (::testing::AddGlobalTestEnvironment(new OpenAlarmLogGate), true);

}  // namespace vtest

#endif
