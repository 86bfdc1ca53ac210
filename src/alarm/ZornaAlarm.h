// ZORNA "ALARM" requests of older-generation devices, turned into host events.
#ifndef VEXA_ZORNA_ALARM_H
#define VEXA_ZORNA_ALARM_H

#include <string>

#include "alarm/AlarmEvent.h"
#include "common/ZornaMessage.h"

// Converts one ALARM request (the parsed envelope and the message text) of the device source
// (null: not registered) into event: 0 (event not ready for a type that raises none), or -1
// (logged) when the body has no parameters or the device is not registered.
int ProcFERROAlarmReq(const CZornaMessage& message, const std::string& xml, const AlarmSource* source,
                      AlarmEvent& event);

#endif
