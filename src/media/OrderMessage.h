// The media order XML: the order message every order carries, the field objects the handlers read
// from Pack, and the response objects they answer with.
#ifndef VEXA_ORDER_MESSAGE_H
#define VEXA_ORDER_MESSAGE_H

#include <cstdint>
#include <string>

#include "common/XmlCursor.h"
#include "common/ZornaMessage.h"

// Message / Pack of an order or a response.
class CTarnMessage {
public:
    std::string Command;
    std::string PackContent;  // inner markup of Pack when it carries a ZORNA message
    std::string ResultText;
    std::string DevIndexCode;
    std::string PackType;
    int32_t DevId = -1;
    int32_t ResultId = 0;
    int32_t Channel = 0;
    int32_t SessionID = 0;
    int32_t VoiceChan = 1;
    CZornaMessage Zorna;

    // False without Message or with an embedded ZORNA message that does not parse. Afterwards the
    // document stands inside Pack before its first child (inside Message when there is no Pack).
    bool parse(CXmlCursor& doc);
    // Writes the response document and leaves it inside Pack, so further elements become children
    // of Pack. False when the document refused an element.
    bool build(CXmlCursor& doc) const;
    // Result "OK"/200 or "FAILED"/410.
    void setResult(bool ok);
};

namespace vexa {
namespace media {
// A decimal field: optional '-' and digits only (blanks around allowed), inside the 32-bit range.
bool strictDecimal(const std::string& text, int32_t& value);
// Text of a found field; false when the element is missing.
bool fieldText(CXmlCursor& doc, const char* name, std::string& text);
// A decimal field that must be present and a number.
bool fieldNumber(CXmlCursor& doc, const char* name, int32_t& value);
// Media server fields: a non-empty address that fits the records' 127 characters, a port 1..65535.
bool validSinkIp(const std::string& ip);
bool validSinkPort(int32_t port);
}  // namespace media
}  // namespace vexa

// PLAY_STREAM_REQ fields.
struct CTarnPlayStreamReq {
    std::string DevIndexCode;
    std::string LinkType = "TCP";
    std::string ChannelType = "MAIN";
    std::string SinkIP;
    int32_t Channel = -1;
    int32_t SinkPort = 0;
    bool parse(CXmlCursor& doc);
};

// The push orders: the Session a request order answered (element Session, else SessionId).
struct CTarnSessionReq {
    std::string DevIndexCode;
    int32_t Session = 0;
    bool parse(CXmlCursor& doc);
};

// Stop, pause and resume: LinkType may be missing, but when present it is TCP or UDP.
struct CTarnStopReq {
    std::string DevIndexCode;
    std::string LinkType;
    int32_t Session = 0;
    bool parse(CXmlCursor& doc);
};

// PLAYBACK_FILE_REQ / DOWNLOAD_FILE_REQ fields.
struct CTarnPlayBackFileReq {
    std::string DevIndexCode;
    int32_t Channel = 0;
    std::string SinkIP = "127.0.0.1";
    int32_t SinkPort = 0;
    std::string FileName;
    std::string PlaybackType;
    std::string StartTime;  // UTC, YYYYMMDDThhmmssZ
    std::string EndTime;
    int32_t StartOffset = 0;
    int32_t StreamType = 1;  // 1 or 2
    std::string Command;
    bool ParsePlayBackFileReq(CXmlCursor& doc);
};

// Answer of the orders that open a session: the message, then Session and DevId inside Pack.
struct CTarnPlayBackFileRsp {
    int32_t Session = 0;
    std::string DevId;
    CTarnMessage Msg;
    CTarnPlayBackFileRsp() {
        Msg.Command = "PLAYBACK_FILE_RSP";
        Msg.PackType = "TNP";
    }
    bool build(CXmlCursor& doc) const;
};

#endif
