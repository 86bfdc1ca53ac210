// The ZORNA XML envelope of alarms and media orders: "ZORNAMessage" with version, sequence, a
// request or response header, an optional "Pu" block and a "Params" block. Members are named
// after the elements that carry them.
#ifndef VEXA_ZORNA_MESSAGE_H
#define VEXA_ZORNA_MESSAGE_H

#include <cstdint>
#include <string>

#include "common/StatusList.h"
#include "common/XmlCursor.h"

class CZornaMessage {
public:
    virtual ~CZornaMessage() = default;

    std::string Version = "0.1";
    int32_t Sequence = 0;
    std::string CommandType;   // "REQUEST" or "RESPONSE"
    std::string Command;       // requests
    std::string ConfigCmd;     // Params/ConfigCmd
    std::string WhichCommand;  // responses: the command answered
    int32_t Status = vexa::status::kWaitTimeout;  // responses
    std::string Description;   // responses
    std::string DeviceID;      // Params/DeviceID
    std::string PuIp;          // Pu/Ip
    int32_t PuPort = 0;        // Pu/Port
    std::string TraceId;       // Pu/TraceId, written only
    std::string SpanId;        // Pu/SpanId, written only
    std::string RegIp;         // Params/RegIp
    int32_t RegPort = 0;       // Params/RegPort
    std::string DeviceSN;      // Params/DeviceSN

    // Full form. Every field is looked up with wrap-around, so order does not matter; a missing
    // element leaves its member unchanged. False only when the document has no "ZORNAMessage" at
    // its top level. Afterwards the cursor stands inside "Params" when a request has one, else
    // inside "ZORNAMessage".
    bool parse(CXmlCursor& doc);
    // Alarm form: the same without "Pu", "RegIp", "RegPort" and "DeviceSN".
    bool parseAlarm(CXmlCursor& doc);
    // Replaces the document by the envelope and leaves the cursor inside "Params" (before its
    // first child), so the caller appends the parameters. False when the document refused an
    // element (a member that cannot be written).
    bool build(CXmlCursor& doc) const;

private:
    bool parseForm(CXmlCursor& doc, bool full);
};

namespace vexa {

// The "TimeZoneIdx" of a ZORNA request, read by one rule for every time field built from it:
// empty means the machine's own offset (index 0); otherwise one or two decimal digits, 1..35.
// False (idx 0) for anything else ("+28", " 8", "36", "x").
bool zornaTimeZoneIdx(const std::string& text, int& idx);

}  // namespace vexa

// ALARM request sent by devices.
class CZornaAlarmReq : public CZornaMessage {
public:
    CZornaAlarmReq() {
        Version = "3.0";
        CommandType = "REQUEST";
        Command = "ALARM";
    }
};

// Answer to an ALARM request.
class CZornaAlarmRsp : public CZornaMessage {
public:
    CZornaAlarmRsp() {
        CommandType = "RESPONSE";
        WhichCommand = "ALARM";
        Status = 200;
    }
};

// Contact ID report sent by devices.
class CZornaCidReportReq : public CZornaMessage {
public:
    CZornaCidReportReq() {
        CommandType = "REQUEST";
        Command = "CIDREPORT";
    }
};

// Firmware update order sent to devices.
class CZornaUpdateReq : public CZornaMessage {
public:
    CZornaUpdateReq() {
        CommandType = "REQUEST";
        Command = "UPDATE";
    }
};

#endif
