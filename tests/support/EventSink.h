// Host event callback that records every alarm event it is given.
#ifndef VEXA_TEST_EVENT_SINK_H
#define VEXA_TEST_EVENT_SINK_H

#include <mutex>
#include <vector>

#include "device/VexaDevice.h"

namespace vtest {

struct Sink {
    std::mutex lock;
    std::vector<AlarmEventInfo> events;
};

inline void VEXA_CALL onEvent(void*, const void*, const void* event, uint32_t, void* user) {
    auto* sink = static_cast<Sink*>(user);
    std::lock_guard<std::mutex> lk(sink->lock);
    sink->events.push_back(*static_cast<const AlarmEventInfo*>(event));
}

}  // namespace vtest

#endif
