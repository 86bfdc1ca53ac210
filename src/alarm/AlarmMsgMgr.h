// Alarm worker: takes the raw alarm texts pushed by devices off a bounded queue, classifies
// them and hands them to their converters.
#ifndef VEXA_ALARM_MSG_MGR_H
#define VEXA_ALARM_MSG_MGR_H

#include <string>

#include "alarm/MsgWorker.h"
#include "common/Singleton.h"
#include "device/EventIntake.h"

class CAlarmMsgMgr : public singleton<CAlarmMsgMgr>, public CMsgWorker {
public:
    static constexpr size_t kDefaultBound = 100000;
    // The device side drops longer texts at the door.
    static constexpr size_t kMaxAlarmText = EventIntake::kMaxAlarmText;

    void init();
    // The clock of the drop-warning rate limit and of the converters' log gate.
    void setClock(const vexa::Clock* clock);

    // For alarms from alarm links, whose device keeps what is not taken: false when the queue
    // is full, and from then on until it has drained below half its bound. A refused alarm is
    // not lost (the device offers it again), so refusals are counted apart from drops.
    bool offer(std::string text) { return offerText(text); }
    // push() (model-command alarms, storage alarms) drops the oldest entry when full.

    // Classifies and converts one alarm text (the worker's step, exposed for tests and fuzzing).
    void processAlarm(const std::string& text);

protected:
    void process(const std::string& text) override { processAlarm(text); }
    const char* name() const override { return "CAlarmMsgMgr"; }
    const char* items() const override { return "alarms"; }
};

#endif
