// Voice talk: START_TALK_REQ stores the talk under a fresh server session and tells the host the
// device's codec; the push order starts it, the stop order ends it.
#include "device/VexaDeviceMgr.h"
#include "media/MediaSteps.h"

using namespace vexa::media;

namespace {
// The talk fields are read in their order, each search going on after the previous hit.
struct TalkFields {
    int32_t Channel = 0;
    std::string LinkType, SinkIP;
    int32_t SinkPort = 0;
    bool numbersOk = true;
    void read(CXmlCursor& doc) {
        if (doc.findElement("Channel")) numbersOk = strictDecimal(doc.elementText(), Channel) && numbersOk;
        if (doc.findElement("LinkType")) LinkType = doc.elementText();
        if (doc.findElement("SinkIP")) SinkIP = doc.elementText();
        if (doc.findElement("SinkPort")) numbersOk = strictDecimal(doc.elementText(), SinkPort) && numbersOk;
    }
    // A talk needs a stream target; a negative channel or a port outside 1..65535 is refused.
    bool valid() const { return numbersOk && Channel >= 0 && SinkIP.size() <= 127 && validSinkPort(SinkPort); }
};
}  // namespace

int32_t MediaOrders::ProcStartVoiceTalkReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp) {
    static const char* F = "CVexaDevice::ProcStartVoiceTalkReq";
    int32_t result = kHandlerFailed;
    int32_t session = 0;
    char id[128] = {0};
    const int32_t codec = getAudioType();
    if (online(m_port, msg, F) && newSession(m_port, id, session, F)) {
        TalkFields f;
        f.read(order);
        if (!f.valid()) {
            LOG_DEV(5, F, "%s", "Parse talk xml fail!");
        } else {
            VEXA_CMS_VOICE_PARAM rec;
            std::memset(&rec, 0, sizeof rec);
            vexa::copyField(rec.szSessionID, sizeof rec.szSessionID, id, 127, F);
            vexa::copyField(rec.szMediaIP, sizeof rec.szMediaIP, f.SinkIP, 127, F);
            rec.dwChannel = m_port.deviceType() == "SecurityCP" ? 0 : static_cast<uint32_t>(f.Channel);
            rec.wMediaPort = static_cast<uint16_t>(f.SinkPort);
            rec.byEnable = 1;
            rec.dwAudioCode = CVexaDeviceMgr::audioCodecLibraryCode(codec);
            if (m_port.addSession(SessionTables::kTalk, &rec, id)) {
                LOG_DEV(2, F, "[userid=%ld,ServerIPv4=%s,szServSessionId=%s]VEXA_CMS_GetSevrSessionId success",
                        static_cast<long>(m_port.userHandle()), vexa::logText(f.SinkIP).c_str(), id);
                result = 0;
            }
        }
    }
    sessionAnswer(rsp, m_port, "START_TALK_RSP", result == 0, session);
    rsp.addElement("AudioEncType", CVexaDeviceMgr::audioCodecName(codec));
    return result;
}

int32_t MediaOrders::ProcPushVoiceReq(CXmlCursor& order, const CTarnMessage&, CXmlCursor& rsp) {
    static const char* F = "CVexaDevice::ProcPushVoiceReq";
    int32_t result = kHandlerFailed;
    CTarnSessionReq req;
    VEXA_CMS_VOICE_PARAM rec;
    if (!req.parse(order)) {
        LOG_DEV(5, F, "%s", "Parse playstrem xml fail!");
    } else if (m_port.takeSession(SessionTables::kTalk, &rec, std::to_string(req.Session))) {
        const long handle = m_port.userHandle();
        const std::string id = sessionText(rec.szSessionID);
        if (m_port.startVoice(static_cast<int32_t>(handle), rec)) {
            LOG_DEV(2, F, "[userid=%ld,szServSessionId=%s]VEXA_CMS_StartVoice success", handle, id.c_str());
            result = 0;
        } else {
            LOG_DEV(5, F, "[userid=%ld,ServerIPv4=%s,szServSessionId=%s]VEXA_CMS_StartVoice failed, error code: %d",
                    handle, vexa::logText(sessionText(rec.szMediaIP)).c_str(), id.c_str(),
                    static_cast<int>(m_port.lastError()));
        }
    }
    plainAnswer(rsp, "START_TALK_PUSH_RSP", result == 0);
    return result;
}

int32_t MediaOrders::ProcStopVoiceTalkReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp) {
    return stopOrder(m_port, order, msg, rsp, "CVexaDevice::ProcStopVoiceTalkReq", "Parse stop strem xml fail!",
                     "VEXA_CMS_StopVoice", "STOP_TALK_RSP", [this](int32_t handle, int32_t session) {
                         return m_port.stopVoice(handle, sessionRecord<VEXA_CMS_VOICE_STOP_PARAM>(session));
                     });
}
