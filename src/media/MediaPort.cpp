// The device's own media port: its login state, request channel and session tables, and the
// access library's media calls. The host's order interface enters here.
#include "media/MediaPort.h"

#include "device/VexaDeviceMgr.h"
#include "media/MediaOrders.h"

namespace {
CVexaDeviceMgr& mgr() { return *CVexaDeviceMgr::instance(); }
// The start calls hand back a result block nobody reads.
VEXA_CMS_START_RESULT& scratch() {
    thread_local VEXA_CMS_START_RESULT r;
    r = VEXA_CMS_START_RESULT{};
    return r;
}
}  // namespace

uint32_t CVexaDevice::TransOrder(const char* order, char* rsp, uint32_t rspSize) {
    DeviceMediaPort port(*this);
    return static_cast<uint32_t>(MediaOrders(port).TransOrder(order, rsp, static_cast<int32_t>(rspSize)));
}

int32_t DeviceMediaPort::userHandle() { return m_dev.userHandle(); }
std::string DeviceMediaPort::deviceId() { return m_dev.deviceId(); }
std::string DeviceMediaPort::devicePto() { return m_dev.regProtocol(); }
std::string DeviceMediaPort::deviceType() { return m_dev.deviceType(); }

uint32_t DeviceMediaPort::model(std::string& response, const ModelCommand& cmd) {
    return m_dev.devConfigSync(response, m_dev.userHandle(), cmd, "global");
}
uint32_t DeviceMediaPort::ovix(std::string& response, const std::string& url, const std::string& body,
                               uint8_t method) {
    return m_dev.ovixConfig(response, url, body, method);
}

int DeviceMediaPort::addSession(SessionTables::Kind kind, const void* record, const std::string& key) {
    switch (kind) {
        case SessionTables::kPreview: return mgr().addPreviewSession(record, key);
        case SessionTables::kPlayback: return mgr().addPlaybackSession(record, key);
        case SessionTables::kTalk: return mgr().addVideoTalkSession(record, key);
    }
    return 0;
}
int DeviceMediaPort::takeSession(SessionTables::Kind kind, void* out, const std::string& key) {
    switch (kind) {
        case SessionTables::kPreview: return mgr().getAndDelPreviewSession(out, key);
        case SessionTables::kPlayback: return mgr().getAndDelPlaybackSession(out, key);
        case SessionTables::kTalk: return mgr().getAndDelVideoTalkSession(out, key);
    }
    return 0;
}

bool DeviceMediaPort::newSessionId(char* buffer, uint32_t size) { return VEXA_CMS_GetSevrSessionId(buffer, size) != 0; }
bool DeviceMediaPort::startLive(int32_t h, const VEXA_CMS_LIVE_PARAM& p) {
    return VEXA_CMS_StartLiveStreaming(h, 0, &p, &scratch()) != 0;
}
bool DeviceMediaPort::stopLive(int32_t h, const VEXA_CMS_STOP_PARAM& p) { return VEXA_CMS_StopLiveStreaming(h, 0, &p) != 0; }
bool DeviceMediaPort::startRecord(int32_t h, const VEXA_CMS_RECORD_PARAM& p) {
    return VEXA_CMS_StartRecordStreaming(h, 0, &p, &scratch()) != 0;
}
bool DeviceMediaPort::stopRecord(int32_t h, const VEXA_CMS_STOP_PARAM& p) {
    return VEXA_CMS_StopRecordStreaming(h, 0, &p) != 0;
}
bool DeviceMediaPort::operateRecord(int32_t h, uint32_t op, const VEXA_CMS_OPERATE_PARAM& p) {
    return VEXA_CMS_OperateRecordStreaming(h, 0, op, &p) != 0;
}
bool DeviceMediaPort::startVoice(int32_t h, const VEXA_CMS_VOICE_PARAM& p) {
    return VEXA_CMS_StartVoice(h, &p, &scratch()) != 0;
}
bool DeviceMediaPort::stopVoice(int32_t h, const VEXA_CMS_VOICE_STOP_PARAM& p) { return VEXA_CMS_StopVoice(h, &p) != 0; }
bool DeviceMediaPort::getDevConfig(int32_t h, uint32_t command, VEXA_CMS_DEV_CONFIG_QUERY& q) {
    return VEXA_CMS_GetDevConfig(h, command, &q, sizeof q) != 0;
}
uint32_t DeviceMediaPort::lastError() { return VEXA_CMS_GetLastError(); }
