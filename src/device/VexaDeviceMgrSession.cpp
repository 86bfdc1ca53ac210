// Media-session tables and the server address lookup.
#include <arpa/inet.h>

#include <cstring>

#include "common/ConfigCenter.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "device/VexaDeviceMgr.h"
#include "palsafe.h"

int CVexaDeviceMgr::addSession(SessionTable& t, const void* record, size_t size, const std::string& key,
                               const char* what) {
    if (!record) return 0;
    const uint64_t now = tick();
    std::lock_guard<std::mutex> lk(t.lock);
    // Records that no push order took are purged, so the table cannot grow without bound; the
    // scan runs at most once a second unless the table is full.
    if (t.map.size() >= kMaxSessions || now < t.lastPurgeMs || now - t.lastPurgeMs >= kSessionPurgeEveryMs) {
        t.lastPurgeMs = now;
        for (auto it = t.map.begin(); it != t.map.end();) {
            if (now >= it->second.addedMs && now - it->second.addedMs > kSessionMaxAgeMs)
                it = t.map.erase(it);
            else
                ++it;
        }
    }
    if (t.map.count(key) || t.map.size() >= kMaxSessions) {
        const std::string func = std::string("CVexaDeviceMgr::") + what;
        LOG_REG(5, func.c_str(), "%s fail, [session = %s]", what, vexa::logText(key).c_str());
        return 0;
    }
    SessionTable::Entry e;
    e.record.assign(static_cast<const unsigned char*>(record), static_cast<const unsigned char*>(record) + size);
    e.addedMs = now;
    t.map.emplace(key, std::move(e));
    return 1;
}

int CVexaDeviceMgr::takeSession(SessionTable& t, void* out, size_t size, const std::string& key, const char* what) {
    std::lock_guard<std::mutex> lk(t.lock);
    auto it = t.map.find(key);
    if (it == t.map.end() || !out) {
        const std::string func = std::string("CVexaDeviceMgr::") + what;
        LOG_REG(5, func.c_str(), "%s fail, [session = %s]", what, vexa::logText(key).c_str());
        return 0;
    }
    const int err = PAL_Memcpy_s(out, size, it->second.record.data(), it->second.record.size());
    if (err != 0)
        __pal_safec_error_handle(VEXA_SAFEC_SRC, __LINE__, (std::string("CVexaDeviceMgr::") + what).c_str(),
                                 "PAL_MEMCPY_S", err);
    t.map.erase(it);
    return 1;
}

int CVexaDeviceMgr::addPreviewSession(const void* r, const std::string& k) {
    return addSession(m_previewSessions, r, kPreviewRecordSize, k, "addPreviewSession");
}
int CVexaDeviceMgr::addPlaybackSession(const void* r, const std::string& k) {
    return addSession(m_playbackSessions, r, kPlaybackRecordSize, k, "addPlaybackSession");
}
int CVexaDeviceMgr::addVideoTalkSession(const void* r, const std::string& k) {
    return addSession(m_talkSessions, r, kTalkRecordSize, k, "addVideoTalkSession");
}
int CVexaDeviceMgr::getAndDelPreviewSession(void* o, const std::string& k) {
    return takeSession(m_previewSessions, o, kPreviewRecordSize, k, "getAndDelPreviewSession");
}
int CVexaDeviceMgr::getAndDelPlaybackSession(void* o, const std::string& k) {
    return takeSession(m_playbackSessions, o, kPlaybackRecordSize, k, "getAndDelPlaybackSession");
}
int CVexaDeviceMgr::getAndDelVideoTalkSession(void* o, const std::string& k) {
    return takeSession(m_talkSessions, o, kTalkRecordSize, k, "getAndDelVideoTalkSession");
}

int CVexaDeviceMgr::findDeviceSvrInfo(const std::string& deviceId, const std::string& regIP, ServerInfo& info) {
    CConfigCenter* cfg = CConfigCenter::instance();
    info.found = 1;
    info.extraFlag = 1;
    const std::string outer = cfg->outerAddress();
    LOG_REG(2, "CVexaDeviceMgr::findDeviceSvrInfo", "device %s realRegIP:%s, RegOuterIP:%s", deviceId.c_str(),
            regIP.c_str(), outer.c_str());
    // A device that made no address request is told the address it registered on, and
    // without a NAT entry there are no outer ports: both cases use the inner values.
    const std::string addr = regIP.empty() ? cfg->innerAddress() : regIP;
    if (outer.empty() || addr != outer) {
        info.alarmAddress = addr;
        info.storageAddress = addr;
        info.alarmPort = static_cast<int32_t>(cfg->innerAlarmPort());
        info.storagePort = static_cast<int32_t>(cfg->innerStoragePort());
    } else {
        info.alarmAddress = outer;
        info.storageAddress = outer;
        info.alarmPort = static_cast<int32_t>(cfg->outerAlarmPort());
        info.storagePort = static_cast<int32_t>(cfg->outerStoragePort());
    }
    return 0;
}

int CVexaDeviceMgr::addressTypeName(std::string& out, const char* address, const std::string& url) {
    if (!address) return -1;
    unsigned char buf[16];
    if (inet_pton(AF_INET, address, buf) == 1)
        out = url.find("/OVIX/Event/notification/httpHosts") != std::string::npos ? "ipAddress" : "ipv4Address";
    else if (inet_pton(AF_INET6, address, buf) == 1)
        out = "ipv6Address";
    else
        out = "hostName";
    return 0;
}

std::string CVexaDeviceMgr::audioCodecName(int32_t index) {
    static const char* const kNames[] = {"G7221", "G711U", "G711A", "G726", "AAC", "MP2L2", "PCM", "MP3"};
    if (index < 0 || index > 7) return std::string();  // negative indexes included
    return kNames[index];
}
