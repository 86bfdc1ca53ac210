// Media orders: the XML orders of the host's order interface turned into access-library calls.
// One object per order; every handler reads its fields from the order document (positioned inside
// Pack), writes its answer into the response document and returns 0 or its failure code.
#ifndef VEXA_MEDIA_ORDERS_H
#define VEXA_MEDIA_ORDERS_H

#include <cstdint>
#include <string>

#include "common/StatusList.h"
#include "common/XmlCursor.h"
#include "media/MediaPort.h"

class CTarnMessage;

namespace vexa {
namespace media {
constexpr int32_t kOrderFailed = -1;
constexpr int32_t kHandlerFailed = static_cast<int32_t>(vexa::status::kDeviceError);  // 0x30000001
constexpr int32_t kBadParameters = static_cast<int32_t>(vexa::status::kBadParameters);    // 0x60000001
}  // namespace media
}  // namespace vexa

class MediaOrders {
public:
    explicit MediaOrders(MediaPort& port) : m_port(port) {}

    // The whole order: parse, dispatch by Command, copy the answer into the host's buffer.
    int32_t TransOrder(const char* order, char* rsp, int32_t rspSize);

    // Live view.
    int32_t ProcPlayStreamReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcPushStreamReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcStopStreamReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    // Playback and download, pause and resume.
    int32_t ProcStartPlayBackReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcPushPlayBackReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcStopPlayBackReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcPauseStreamReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp, bool pause);
    // Voice talk and the two device-API queries.
    int32_t ProcStartVoiceTalkReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcPushVoiceReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcStopVoiceTalkReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcQueryTalkParamOVIX(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);
    int32_t ProcQueryRecordFileOVIX(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp);

    // The device's talk codec index (both families).
    int32_t getAudioType();

private:
    MediaPort& m_port;
};

#endif
