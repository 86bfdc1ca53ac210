// Log lines of the alarm converters about bad device input: device text in them is cut
// (vexa::logText) and each line passes a per-source gate, so junk alarms cannot flood the log.
#ifndef VEXA_ALARM_LOG_H
#define VEXA_ALARM_LOG_H

#include <cstdint>
#include <string>

#include "common/Log.h"
#include "common/LogLimit.h"
#include "alarm/AlarmEvent.h"

namespace vexa {

// Shared keys for input that cannot be tied to a registered device.
constexpr const char* kAlarmKeyUnknownDevice = "alarm:unknown-device";
constexpr const char* kAlarmKeyUnclassified = "alarm:unclassified";
constexpr const char* kAlarmKeyPayload = "alarm:payload";

inline LogGate& alarmLogGate() {
    static LogGate gate;
    return gate;
}

// A registered device is its own source; any other identifier shares one key, so invented
// identifiers cannot multiply the allowance. Looks the identifier up in the device registry.
std::string alarmGateKey(const std::string& deviceId);

// The same key for a device already looked up (null: not registered).
inline std::string alarmGateKey(const AlarmSource* source) {
    return source && !source->deviceId.empty() ? "alarm:" + source->deviceId : kAlarmKeyUnknownDevice;
}

inline std::string heldBackNote(uint64_t held) {
    return held ? " (" + std::to_string(held) + " similar lines held back)" : std::string();
}

}  // namespace vexa

// LOG_DEV through the gate: the line is written only when the source's allowance permits, and
// then says how many lines were held back since the last one.
#define LOG_DEV_GATED(key, level, func, fmt, ...)                                                     \
    do {                                                                                               \
        uint64_t held_ = 0;                                                                            \
        if (vexa::alarmLogGate().allow((key), held_))                                                  \
            LOG_DEV((level), (func), fmt "%s", ##__VA_ARGS__, vexa::heldBackNote(held_).c_str());     \
    } while (0)

#endif
