// The alarm converters' log gate lets a few lines per source through every 10 s. Unit tests
// check lines case after case, so by default their clock jumps a whole period per question; a
// test of the gate itself sets a clock of its own and restores this one. Also the helpers the
// converter tests share.
#ifndef VEXA_ALARM_TEST_GATE_H
#define VEXA_ALARM_TEST_GATE_H

#include <gtest/gtest.h>

#include <json/json.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "alarm/AlarmLog.h"
#include "common/JsonUtil.h"
#include "device/VexaDevice.h"

namespace vtest {

// Host event callback that records every alarm event it is given.
struct Sink { std::mutex lock; std::vector<AlarmEventInfo> events; };
inline void VEXA_CALL onEvent(void*, const void*, const void* event, uint32_t, void* user) {
    auto* sink = static_cast<Sink*>(user);
    std::lock_guard<std::mutex> lk(sink->lock);
    sink->events.push_back(*static_cast<const AlarmEventInfo*>(event));
}

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

// "{" + content + "}" parsed; fails the test when it is not JSON within the field.
inline Json::Value contentOf(const AlarmEventInfo& e) {
    const size_t len = strnlen(e.szContent, sizeof e.szContent);
    EXPECT_LT(len, sizeof e.szContent);
    Json::Value v;
    EXPECT_TRUE(vexa::parseJson("{" + std::string(e.szContent, len) + "}", v)) << e.szContent;
    return v;
}

// A ZORNA request envelope; `outside` goes after Params.
inline std::string zornaRequest(const std::string& command, const std::string& params, const std::string& outside = "") {
    return "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<ZORNAMessage><Version>3.0</Version><Sequence>7</Sequence>"
           "<CommandType>REQUEST</CommandType><Command>" +
           command + "</Command><Params>" + params + "</Params>" + outside + "</ZORNAMessage>";
}

// A device-API alarm document around `body`.
inline std::string apiAlert(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<EventNotificationAlert version=\"2.0\">" + body +
           "</EventNotificationAlert>";
}

// The record's scalar fields in one line, so that one comparison covers them all.
inline std::string fieldsOf(const AlarmEventInfo& e) {
    char code[16];
    snprintf(code, sizeof code, "0x%x", e.dwEventCode);
    return "code=" + std::string(code) + " cat=" + std::to_string(e.dwCategory) + " ch=" +
           std::to_string(e.iChannel) + " post=" + std::to_string(e.iActivePostCount) + " active=" +
           std::to_string(e.dwActive) + " dev=" + e.szDeviceID + " sn=" + e.szSerialNo + " name=" + e.szName +
           " time=" + e.szTime;
}

}  // namespace vtest

#endif
