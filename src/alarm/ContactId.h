// Contact ID events from alarm panels: ZORNA "CIDREPORT" requests and model-command JSON alarms,
// both turned into one host event whose content is "CIDAlarm":{...} or "VideoReview":{...}.
// The Contact ID code is passed through, not interpreted.
#ifndef VEXA_CONTACT_ID_H
#define VEXA_CONTACT_ID_H

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "alarm/AlarmEvent.h"
#include "common/XmlCursor.h"
#include "common/ZornaMessage.h"

namespace vexa {

constexpr uint32_t kCidEventPlain = 0xd0010;
constexpr uint32_t kCidEventVideoReview = 0xd000f;
constexpr uint32_t kCidCategory = 30;
// The whole content field less its NUL: inputs are up to 4096 bytes, so a realistic report with
// signed media URLs fits unchanged instead of having its URLs shortened.
constexpr size_t kCidContentLimit = 8191;
// Prefix of every video path handed to the host.
constexpr const char* kCidVideoPrefix = "/TarnGatewayStorage";
// Pictures listed in one event; far above what a panel sends, it keeps the content fittable.
constexpr size_t kMaxCidPictures = 32;
// At most this many subsystem numbers are taken from one "subs" list.
constexpr size_t kMaxSubs = 64;

}  // namespace vexa

// Converts a ZORNA CIDREPORT request (the parsed envelope and the message text) of the device
// source (null: not registered) into event: 0, or -1 when the text has no readable parameters or
// the device is not registered. An event whose content cannot fit is logged and not made ready.
int procFERROCidReportReq(const CZornaMessage& message, const std::string& xml, const AlarmSource* source,
                          AlarmEvent& event);
// The same for a text already parsed into doc (the cursor position does not matter).
int procFERROCidReportReq(const CZornaMessage& message, CXmlCursor& doc, const AlarmSource* source,
                          AlarmEvent& event);

// Converts the "alarm" text of a model-command Contact ID alarm of the device deviceID (source:
// its facts, null when it is not registered) into event. Failures are logged.
void procCidAlarmJson(const std::string& alarm, const std::string& deviceID, const AlarmSource* source,
                      AlarmEvent& event);

// Subsystem numbers of a panel's "subs" list: an array of numbers, decimal texts or objects with
// "subSystemID" / "id", or one comma-separated text. Entries that are none of these are skipped;
// at most kMaxSubs numbers. Returns the count.
int procSubs(const Json::Value& subs, std::vector<int32_t>& sysNos);

#endif
