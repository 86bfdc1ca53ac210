// Intrusion-panel control of model-command devices: arm, disarm and clear alarms of subsystems,
// confirm arming despite faults, read the subsystems' state. Each handler returns 0 or a
// device-API status code; when it leaves response empty the dispatcher answers with the status
// document of that code. A failed model command never leaves the device's raw answer behind.
#ifndef VEXA_SECURITY_CONTROL_H
#define VEXA_SECURITY_CONTROL_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "gateway/DeviceChannel.h"

// Search condition identifier of the subsystem status search.
extern const char* const kSubSystemSearchId;
// Page size of the subsystem status search and its page limit.
constexpr int kSubSystemPageSize = 8;
constexpr int kSubSystemMaxPages = 1000;
// What one status search gathers at most: entries, and bytes of the entries' JSON text.
constexpr size_t kSubSystemMaxEntries = 10000;
constexpr size_t kSubSystemMaxText = 1024 * 1024;

// The failure a model answer still carries after the channel passed it as success: a "status"
// other than the integer 200 (the device's error, or malformed content when not an integer); 0
// when there is none.
uint32_t modelAnswerFailure(const std::string& answer);

uint32_t setSubSystem(DeviceChannel& ch, std::string& response, const std::string& uri);
uint32_t setSubSystemList(DeviceChannel& ch, std::string& response, const std::string& uri, const std::string& body);
uint32_t setFaultArmConfirm(DeviceChannel& ch, std::string& response, const std::string& body);
uint32_t getSubSystemStatus(DeviceChannel& ch, std::string& response);
uint32_t searchSubSystemArmStatus(DeviceChannel& ch, std::string& response, const std::string& body);

#endif
