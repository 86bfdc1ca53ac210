// What a converter reads about the device an alarm came from, and the host event it hands back
// for CAlarmMsgMgr to deliver.
#ifndef VEXA_ALARM_EVENT_H
#define VEXA_ALARM_EVENT_H

#include <cstdarg>
#include <cstdio>
#include <string>

#include "vexadev/VexaDevPlugin.h"

// Facts of a registered device, looked up once per alarm by the manager.
struct AlarmSource {
    std::string deviceId;  // the full identifier (the record's field may hold only a cut copy)
    std::string serialNo;
    bool videoReview = false;
};

// One host event. Nothing is delivered unless ready; the note (level 2, function text noteFunc)
// is logged after the event has been handed to the device.
struct AlarmEvent {
    AlarmEventInfo info{};  // zero-filled
    bool ready = false;
    const char* noteFunc = "";
    std::string note;

    // Back to a fresh event, so one object can serve alarm after alarm.
    void reset() {
        info = AlarmEventInfo{};
        ready = false;
        noteFunc = "";
        note.clear();
    }

    void setNote(const char* func, const char* fmt, ...) __attribute__((format(printf, 3, 4))) {
        char buf[512];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        noteFunc = func;
        note = buf;
    }
};

#endif
