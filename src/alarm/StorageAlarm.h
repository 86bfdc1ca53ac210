// Storage alarms for encoding devices that do not report their disks themselves: the alarm loop
// asks each device for its storage state and turns a change into a device-API alarm document.
#ifndef VEXA_STORAGE_ALARM_H
#define VEXA_STORAGE_ALARM_H

#include <functional>
#include <string>

class CVexaDevice;

namespace vexa {

enum StorageState { kStorageUnknown = 0, kStorageNormal = 1, kStorageError = 2, kStorageFull = 3, kStorageRecover = 4 };

// State of a storage answer given the raised flag, which it updates. loopEnabled is asked only
// for a full disk. kStorageUnknown (flag untouched) for a malformed or incomplete answer.
StorageState storageStateFromXml(const std::string& answer, bool& hddAlarmRaised,
                                 const std::function<bool()>& loopEnabled);

// "LoopEnable" of a storage extension answer.
bool storageLoopEnableFromXml(const std::string& answer);

}  // namespace vexa

// Asks the device for its storage and returns the alarm document to queue, or "" when there is
// nothing to report.
std::string checkStorageState(CVexaDevice& dev);
// The same on given answers (extensionAnswer null: the extension query failed).
std::string checkStorageState(CVexaDevice& dev, const std::string& storageAnswer, const std::string* extensionAnswer);

// True when the device overwrites its oldest recordings when full.
bool isStorageLoopEnable(CVexaDevice& dev);

// Alarm document of a storage state (error, full, recovery); "" for any other state.
std::string buildHddAlarm(const CVexaDevice& dev, int state);

#endif
