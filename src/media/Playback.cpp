// Playback and download: the host's UTC range is converted into the device's own zone (asked from
// the device) before the stream is stored; push, stop, pause and resume as for live view.
#include <tinyxml.h>

#include <cstdio>

#include "common/TimeConvert.h"
#include "common/XmlLimits.h"
#include "media/MediaSteps.h"

using namespace vexa::media;

namespace {
enum class ZoneAnswer { kNoRoot, kNoLocalTime, kLocalTime };

// The device's answer to the time query: its first element and that element's localTime.
ZoneAnswer readLocalTime(const std::string& xml, std::string& localTime) {
    TiXmlDocument doc;
    const TiXmlElement* root = nullptr;
    if (vexa::xmlSafeToParse(xml)) {
        doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
        if (!doc.Error()) root = doc.RootElement();
    }
    if (!root) return ZoneAnswer::kNoRoot;
    const TiXmlElement* e = root->FirstChildElement("localTime");
    if (!e) return ZoneAnswer::kNoLocalTime;
    localTime = e->GetText() ? e->GetText() : "";
    return ZoneAnswer::kLocalTime;
}

// "YYYYMMDDThhmmss" into the record's time; the text was produced by the zone shift.
bool fillTime(const std::string& local, VEXA_CMS_STREAM_TIME& t) {
    int y, mo, d, h, mi, s;
    if (std::sscanf(local.c_str(), "%04d%02d%02dT%02d%02d%02d", &y, &mo, &d, &h, &mi, &s) != 6) return false;
    t.wYear = static_cast<uint16_t>(y);
    t.byMonth = static_cast<uint8_t>(mo);
    t.byDay = static_cast<uint8_t>(d);
    t.byHour = static_cast<uint8_t>(h);
    t.byMinute = static_cast<uint8_t>(mi);
    t.bySecond = static_cast<uint8_t>(s);
    return true;
}
}  // namespace

int32_t MediaOrders::ProcStartPlayBackReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp) {
    static const char* F = "CVexaDevice::ProcStartPlayBackReq";
    int32_t result = kHandlerFailed;
    int32_t session = 0;
    CTarnPlayBackFileReq req;
    char id[128] = {0};
    const auto answer = [&] {
        sessionAnswer(rsp, m_port, "PLAYBACK_FILE_RSP", result == 0, session);
        return result;
    };
    if (!online(m_port, msg, F)) return answer();
    if (!req.ParsePlayBackFileReq(order)) {
        LOG_DEV(5, F, "%s", "Parse stop strem xml fail!");
        return answer();
    }
    req.Command = msg.Command;
    if (!newSession(m_port, id, session, F)) return answer();

    int zone = kMachineZoneIdx;
    std::string xml;
    if (m_port.ovix(xml, "/OVIX/System/time", "", 0) == 0) {
        std::string localTime, scratch;
        switch (readLocalTime(xml, localTime)) {
            case ZoneAnswer::kNoRoot:
                LOG_DEV(5, F, "%s", "xml root get failed");
                result = kBadParameters;
                return answer();
            case ZoneAnswer::kNoLocalTime:
                LOG_DEV(4, F, "%s", "xml param localTime is illegal");
                result = kBadParameters;
                break;
            case ZoneAnswer::kLocalTime:
                if (!localTime.empty() && ConvertJsonTimeToAldonTime(localTime, zone, scratch) != 0) {
                    // An unreadable clock is treated like a missing one: the gateway's offset.
                    LOG_DEV(4, F, "[localTime=%s]xml param localTime is illegal", vexa::logText(localTime).c_str());
                    zone = kMachineZoneIdx;
                }
                break;
        }
    }

    std::string localStart, localStop;
    if (ConvertCompactUtcToLocal(req.StartTime, zone, localStart) != 0 ||
        ConvertCompactUtcToLocal(req.EndTime, zone, localStop) != 0) {
        LOG_DEV(5, F, "[utcStartTime=%s,utcStopTime=%s,iTimezone=%d]time text is invalid",
                vexa::logText(req.StartTime).c_str(), vexa::logText(req.EndTime).c_str(), zone);
        result = kBadParameters;
        return answer();
    }
    LOG_DEV(2, F, "[utcStartTime=%s,utcStopTime=%s,localStartTime=%s,localStopTime=%s,iTimezone=%d]ConvertUTCToLocal",
            req.StartTime.c_str(), req.EndTime.c_str(), localStart.c_str(), localStop.c_str(), zone);

    VEXA_CMS_RECORD_PARAM rec;
    std::memset(&rec, 0, sizeof rec);
    vexa::copyField(rec.szSessionID, sizeof rec.szSessionID, id, 127, F);
    rec.dwChannel = static_cast<uint32_t>(req.Channel);
    vexa::copyField(rec.szMediaIP, sizeof rec.szMediaIP, req.SinkIP, 127, F);
    rec.wMediaPort = static_cast<uint16_t>(req.SinkPort);
    rec.byNative = m_port.devicePto() == "aldonV5" ? 1 : 0;
    rec.dwStreamType = static_cast<uint32_t>(req.StreamType);
    rec.dwByTime = 1;
    fillTime(localStart, rec.struStart);
    fillTime(localStop, rec.struStop);
    const VEXA_CMS_STREAM_TIME &a = rec.struStart, &b = rec.struStop;
    LOG_DEV(2, F,
            "playback param: chan=%d, serverip=%s, serverport=%d, startTime[%02d%02d%02dT%02d%02d%02d],"
            "stopTime[%02d%02d%02dT%02d%02d%02d]",
            static_cast<int>(rec.dwChannel), rec.szMediaIP, rec.wMediaPort, a.wYear, a.byMonth, a.byDay, a.byHour,
            a.byMinute, a.bySecond, b.wYear, b.byMonth, b.byDay, b.byHour, b.byMinute, b.bySecond);
    if (m_port.addSession(SessionTables::kPlayback, &rec, id)) {
        LOG_DEV(2, F, "[userid=%ld,szServSessionId=%s]VEXA_CMS_GetSevrSessionId success",
                static_cast<long>(m_port.userHandle()), id);
        result = 0;
    }
    return answer();
}

int32_t MediaOrders::ProcPushPlayBackReq(CXmlCursor& order, const CTarnMessage&, CXmlCursor& rsp) {
    static const char* F = "CVexaDevice::ProcPushPlayBackReq";
    int32_t result = kHandlerFailed;
    CTarnSessionReq req;
    VEXA_CMS_RECORD_PARAM rec;
    if (!req.parse(order)) {
        LOG_DEV(5, F, "%s", "Parse playstrem xml fail!");
    } else if (m_port.takeSession(SessionTables::kPlayback, &rec, std::to_string(req.Session))) {
        const long handle = m_port.userHandle();
        const std::string id = sessionText(rec.szSessionID);
        if (m_port.startRecord(static_cast<int32_t>(handle), rec)) {
            LOG_DEV(2, F, "[userid=%ld,szServSessionId=%s]VEXA_CMS_StartRecordStreaming success", handle, id.c_str());
            result = 0;
        } else {
            LOG_DEV(5, F, "[userid=%ld,szServSessionId=%s]VEXA_CMS_StartRecordStreaming fail, errCode=%d", handle,
                    id.c_str(), static_cast<int>(m_port.lastError()));
        }
    }
    plainAnswer(rsp, "PLAYBACK_FILE_PUSH_RSP", result == 0);
    return result;
}

int32_t MediaOrders::ProcStopPlayBackReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp) {
    return stopOrder(m_port, order, msg, rsp, "CVexaDevice::ProcStopPlayBackReq", "Parse stop stream xml fail!",
                     "VEXA_CMS_StopRecordStreaming", "STOP_PLAYBACK_RSP", [this](int32_t handle, int32_t session) {
                         return m_port.stopRecord(handle, sessionRecord<VEXA_CMS_STOP_PARAM>(session));
                     });
}

int32_t MediaOrders::ProcPauseStreamReq(CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp, bool pause) {
    static const char* F = "CVexaDevice::ProcPauseStreamReq";
    int32_t result = kHandlerFailed;
    CTarnStopReq req;
    if (!online(m_port, msg, F)) {
    } else if (!req.parse(order)) {
        LOG_DEV(5, F, "%s", "Parse pause stream xml fail!");
    } else if (m_port.operateRecord(m_port.userHandle(), pause ? VEXA_CMS_RECORD_PAUSE : VEXA_CMS_RECORD_RESUME,
                                    sessionRecord<VEXA_CMS_OPERATE_PARAM>(req.Session))) {
        result = 0;
    } else {
        LOG_DEV(5, F, "VEXA_CMS_OperateRecordStreaming fail, errCode=%d", static_cast<int>(m_port.lastError()));
    }
    plainAnswer(rsp, "PAUSE_STREAM_RSP", result == 0);
    return result;
}
