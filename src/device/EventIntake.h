// What the device side hands up to the alarm side: alarm texts, operation messages and the
// storage check of the alarm loop. The device layer only defines it; the plug-in layer, which
// sees both sides, implements it and hands it to the device manager. Unset, nothing is handed
// up (texts are dropped, the storage check reports nothing).
#ifndef VEXA_EVENT_INTAKE_H
#define VEXA_EVENT_INTAKE_H

#include <cstddef>
#include <string>

#include "common/Clock.h"

class CVexaDevice;

class EventIntake {
public:
    // Alarm texts above this size are dropped at the door.
    static constexpr size_t kMaxAlarmText = 4096;

    virtual ~EventIntake() = default;

    // Starts the alarm and operation workers (at manager start, after the configuration is read).
    virtual void start() = 0;
    // Stops them; the manager calls each at its place in the shutdown order.
    virtual void stopOperations() = 0;
    virtual void stopAlarms() = 0;

    // The alarm side's time rules follow the device manager's clock.
    virtual void setClock(const vexa::Clock* clock) = 0;

    // Alarm texts from the command library and the alarm loop: the oldest is dropped when full.
    virtual void pushAlarm(std::string text) = 0;
    // Alarm texts from alarm links, whose device keeps what is not taken: false when refused.
    virtual bool offerAlarm(std::string text) = 0;
    // Operation messages (device on line, log-out).
    virtual void pushOperation(std::string text) = 0;
    // The storage alarm document of one device, or "" when there is nothing to report.
    virtual std::string checkStorage(CVexaDevice& dev) = 0;
};

#endif
