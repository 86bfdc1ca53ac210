// Device information, clock, reboot, upgrade and network settings: the converters behind the
// handlers declared in VexaDeviceGateway.h.
#ifndef VEXA_DEVICE_SYSTEM_H
#define VEXA_DEVICE_SYSTEM_H

#include <cstdint>
#include <string>

// Firmware upgrade from an FTP server, as the host asked for it.
struct UpgradeParams {
    char ftpServerIp[32] = {};
    int32_t ftpServerPort = 0;
    char userName[32] = {};
    char password[32] = {};
    char file[256] = {};
};

// Host body {"UpgradeParams": {...}} into params; 0 or 0x60000001 (texts that do not fit are refused).
uint32_t ParseUpgradeReq(UpgradeParams& params, const std::string& body);
// The FERRO "UPDATE" request document for params.
bool buildUpgradeDocument(const UpgradeParams& params, std::string& xml);

// Host device information JSON into the device's XML (checked, escaped, within the device limit).
bool transDeviceInfoJson2Xml(const std::string& body, std::string& xml);
// The device's time document into {"Time": {"localTime", "timeMode"}}.
bool transTimeMngXml2Json(const std::string& xml, std::string& json);
// The zone of a device's time-zone answer ("CST-8:00:00" and an optional daylight part): its
// standard offset east of UTC and the zone text to send back.
bool parseDeviceZoneOffset(const std::string& answer, int32_t& secondsEast, std::string& zoneText);
// A host time (device-API form with zone) as the device's wall time in its own zone, with offset.
bool hostTimeToDeviceTime(const std::string& hostTime, int32_t deviceSecondsEast, std::string& out);

// Network documents: device XML with root rootName <-> host JSON {rootName: {...}}. Elements of a
// "...List" element are always arrays; IPv4 addresses the host sends must be valid.
bool transNetworkXml2Json(const std::string& xml, const char* rootName, std::string& json);
bool transNetworkJson2Xml(const std::string& body, const char* rootName, std::string& xml);

#endif
