// The order interface: parse the order, dispatch by its Command, copy the answer to the host.
#include <cstring>

#include "common/Log.h"
#include "common/LogLimit.h"
#include "media/MediaOrders.h"
#include "media/OrderMessage.h"

namespace {
using Handler = int32_t (MediaOrders::*)(CXmlCursor&, const CTarnMessage&, CXmlCursor&);

int32_t pause(MediaOrders& o, CXmlCursor& d, const CTarnMessage& m, CXmlCursor& r) {
    return o.ProcPauseStreamReq(d, m, r, true);
}
int32_t resume(MediaOrders& o, CXmlCursor& d, const CTarnMessage& m, CXmlCursor& r) {
    return o.ProcPauseStreamReq(d, m, r, false);
}

struct Route {
    const char* command;  // exact, case-sensitive
    Handler handler;
    int32_t (*special)(MediaOrders&, CXmlCursor&, const CTarnMessage&, CXmlCursor&);
};

const Route kRoutes[] = {
    {"PLAY_STREAM_REQ", &MediaOrders::ProcPlayStreamReq, nullptr},
    {"PLAY_STREAM_PUSH_REQ", &MediaOrders::ProcPushStreamReq, nullptr},
    {"STOP_STREAM_REQ", &MediaOrders::ProcStopStreamReq, nullptr},
    {"PLAYBACK_FILE_REQ", &MediaOrders::ProcStartPlayBackReq, nullptr},
    {"DOWNLOAD_FILE_REQ", &MediaOrders::ProcStartPlayBackReq, nullptr},
    {"PLAYBACK_FILE_PUSH_REQ", &MediaOrders::ProcPushPlayBackReq, nullptr},
    {"STOP_PLAYBACK_REQ", &MediaOrders::ProcStopPlayBackReq, nullptr},
    {"PAUSE_STREAM_REQ", nullptr, pause},
    {"RESUME_STREAM_REQ", nullptr, resume},
    {"START_TALK_REQ", &MediaOrders::ProcStartVoiceTalkReq, nullptr},
    {"START_TALK_PUSH_REQ", &MediaOrders::ProcPushVoiceReq, nullptr},
    {"STOP_TALK_REQ", &MediaOrders::ProcStopVoiceTalkReq, nullptr},
    {"QUERY_TALK_OVIX_REQ", &MediaOrders::ProcQueryTalkParamOVIX, nullptr},
    {"QUERY_RECORDFILE_OVIX_REQ", &MediaOrders::ProcQueryRecordFileOVIX, nullptr},
};
}  // namespace

int32_t MediaOrders::TransOrder(const char* order, char* rsp, int32_t rspSize) {
    static const char* F = "CVexaDevice::TransOrder";
    if (!order || strnlen(order, 6) <= 5) return vexa::media::kOrderFailed;
    CXmlCursor doc(order);
    CTarnMessage msg;
    if (!msg.parse(doc)) return vexa::media::kOrderFailed;
    const Route* route = nullptr;
    for (const Route& r : kRoutes)
        if (msg.Command == r.command) route = &r;
    if (!route) {
        LOG_DEV(5, F, "Unknow command: %s!", vexa::logText(msg.Command).c_str());
        return vexa::media::kOrderFailed;
    }
    CXmlCursor answer;
    const int32_t rc = route->handler ? (this->*route->handler)(doc, msg, answer) : route->special(*this, doc, msg, answer);
    if (rc != 0) return rc;
    const std::string& text = answer.document();
    // A buffer of 0 or below, or one the answer and its terminating zero do not fit, gets nothing.
    if (!rsp || rspSize <= 0 || static_cast<size_t>(rspSize) <= text.size()) return vexa::media::kOrderFailed;
    std::memcpy(rsp, text.c_str(), text.size() + 1);
    return 0;
}
