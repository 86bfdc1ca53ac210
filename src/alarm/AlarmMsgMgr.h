// Alarm worker: takes the raw alarm texts pushed by devices off a bounded queue, classifies
// them and hands them to their converters.
#ifndef VEXA_ALARM_MSG_MGR_H
#define VEXA_ALARM_MSG_MGR_H

#include <string>

#include "MsgWorker.h"
#include "Singleton.h"

class CAlarmMsgMgr : public singleton<CAlarmMsgMgr>, public CMsgWorker {
public:
    static constexpr size_t kDefaultBound = 100000;
    // Alarm texts above this size are dropped at the door.
    static constexpr size_t kMaxAlarmText = 4096;

    void init();

    // Classifies and converts one alarm text (the worker's step, exposed for tests and fuzzing).
    void processAlarm(const std::string& text);

protected:
    void process(const std::string& text) override { processAlarm(text); }
    const char* name() const override { return "CAlarmMsgMgr"; }
};

#endif
