// Device-API alarms: event documents pushed by newer devices as XML ("EventNotificationAlert") or
// JSON (an object with "eventType"), turned into one host event record each.
#ifndef VEXA_OVIX_ALARM_H
#define VEXA_OVIX_ALARM_H

#include <json/json.h>

#include <string>

#include "alarm/AlarmEvent.h"
#include "vexadev/VexaDevPlugin.h"
#include "common/XmlBase.h"

namespace vexa {

// Bytes of szContent that may hold text (the last one is the NUL).
constexpr size_t kEventContentLimit = sizeof(AlarmEventInfo::szContent) - 1;

// Description of a supported event type; null for any other type (exact, case-sensitive).
const char* ovixEventDescription(const std::string& eventType);

// JSON value of an element text: a bare number only when the text is a decimal number that
// survives the round trip, else the text itself as a JSON string.
Json::Value numberOrText(const std::string& text);

}  // namespace vexa

// 1 with info filled when the loaded document is a device-API alarm of a supported type, else 0.
// deviceId (when given) receives the document's device identifier in full: the record's field
// holds at most 31 bytes of it, too few for the look-up of a long identifier.
int isAldon5OvixAlarmXml(CXmlBase& xml, AlarmEventInfo& info, std::string* deviceId = nullptr);
int isAldon5OvixAlarmJson(const Json::Value& root, AlarmEventInfo& info, std::string* deviceId = nullptr);

// Completes a filled record with what the device source (null: deviceId is not registered) adds
// to it: 0, or -1 (logged) when there is no device.
int ProcOVIXAlarmReq(AlarmEventInfo& info, const std::string& deviceId, const AlarmSource* source);

// Payload of an "EventNotificationAlert" (cursor anywhere among its children) as a member list
// without braces that fits szContent. Always non-zero; the list may be empty.
int covertOvixAlarmXmlToJson(CXmlBase& xml, std::string& out);
// The JSON twin; 0 (logged) when a member has the wrong type.
int getDescribeFromJson(const Json::Value& root, std::string& out);

// Sub-converters. The cursor stands on "DetectionRegionList" / on the element to convert and is
// there again afterwards. Non-zero on success.
int covertDetectionRegionListFromXml(CXmlBase& xml, Json::Value& out);
int covertFireDetectionXmlToJson(CXmlBase& xml, Json::Value& out);
int covertTMPAXmlToJson(CXmlBase& xml, Json::Value& out);
int covertTMAXmlToJson(CXmlBase& xml, Json::Value& out);

#endif
