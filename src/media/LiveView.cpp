// Live view: PLAY_STREAM_REQ stores the stream under a fresh server session, the push order starts
// it, the stop order names the session to the library.
#include "media/MediaSteps.h"

using namespace vexa::media;

namespace {
uint32_t streamTypeOf(const std::string& channelType) {
    if (channelType == "MAIN") return 1;
    if (channelType == "SUB") return 2;
    if (channelType == "THIRD") return 3;
    return 0xFFFFFFFFu;
}
}  // namespace

int32_t MediaOrders::ProcPlayStreamReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp) {
    static const char* F = "CVexaDevice::ProcPlayStreamReq";
    int32_t result = kHandlerFailed;
    int32_t session = 0;
    CTarnPlayStreamReq req;
    char id[128] = {0};
    if (!online(m_port, msg, F)) {
    } else if (!req.parse(order)) {
        LOG_DEV(5, F, "%s", "Parse playstrem xml fail!");
    } else if (newSession(m_port, id, session, F)) {
        VEXA_CMS_LIVE_PARAM rec;
        std::memset(&rec, 0, sizeof rec);
        vexa::copyField(rec.szSessionID, sizeof rec.szSessionID, id, 127, F);
        rec.dwChannel = static_cast<uint32_t>(req.Channel);
        rec.dwStreamType = streamTypeOf(req.ChannelType);
        vexa::copyField(rec.szMediaIP, sizeof rec.szMediaIP, req.SinkIP, 127, F);
        (req.LinkType == "TCP" ? rec.wTcpPort : rec.wUdpPort) = static_cast<uint16_t>(req.SinkPort);
        rec.byNative = m_port.devicePto() == "aldonV5" ? 1 : 0;
        if (m_port.addSession(SessionTables::kPreview, &rec, id)) {
            LOG_DEV(2, F, "[userid=%ld,szServSessionId=%s]VEXA_CMS_GetSevrSessionId success",
                    static_cast<long>(m_port.userHandle()), id);
            result = 0;
        }
    }
    sessionAnswer(rsp, m_port, nullptr, result == 0, session);
    return result;
}

int32_t MediaOrders::ProcPushStreamReq(CXmlCursor& order, const CTarnMessage&, CXmlCursor& rsp) {
    static const char* F = "CVexaDevice::ProcPushStreamReq";
    int32_t result = kHandlerFailed;
    CTarnSessionReq req;
    VEXA_CMS_LIVE_PARAM rec;
    if (!req.parse(order)) {
        LOG_DEV(5, F, "%s", "Parse playstrem xml fail!");
    } else if (m_port.takeSession(SessionTables::kPreview, &rec, std::to_string(req.Session))) {
        const long handle = m_port.userHandle();
        if (m_port.startLive(static_cast<int32_t>(handle), rec)) {
            LOG_DEV(2, F, "[userid=%ld,szServSessionId=%s]VEXA_CMS_StartLiveStreaming success", handle,
                    sessionText(rec.szSessionID).c_str());
            result = 0;
        } else {
            LOG_DEV(5, F, "[userid=%ld]VEXA_CMS_StartLiveStreaming failed, error code: %d", handle,
                    static_cast<int>(m_port.lastError()));
        }
    }
    plainAnswer(rsp, "PLAY_STREAM_PUSH_RSP", result == 0);
    return result;
}

int32_t MediaOrders::ProcStopStreamReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp) {
    return stopOrder(m_port, order, msg, rsp, "CVexaDevice::ProcStopStreamReq", "Parse stop strem xml fail!",
                     "VEXA_CMS_StopLiveStreaming", "STOP_STREAM_RSP", [this](int32_t handle, int32_t session) {
                         return m_port.stopLive(handle, sessionRecord<VEXA_CMS_STOP_PARAM>(session));
                     });
}
