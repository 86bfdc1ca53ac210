#include "device/SessionTables.h"

#include "common/Log.h"
#include "common/LogLimit.h"
#include "palsafe.h"

namespace {

struct KindInfo {
    size_t size;
    const char* addFunc;
    const char* takeFunc;
};
const KindInfo kKinds[] = {
    {SessionTables::kPreviewRecordSize, "addPreviewSession", "getAndDelPreviewSession"},
    {SessionTables::kPlaybackRecordSize, "addPlaybackSession", "getAndDelPlaybackSession"},
    {SessionTables::kTalkRecordSize, "addVideoTalkSession", "getAndDelVideoTalkSession"},
};

void logFail(const char* what, const std::string& key) {
    const std::string func = std::string("CVexaDeviceMgr::") + what;
    LOG_REG(5, func.c_str(), "%s fail, [session = %s]", what, vexa::logText(key).c_str());
}

}  // namespace

int SessionTables::add(Kind kind, const void* record, const std::string& key) {
    if (!record) return 0;
    const KindInfo& k = kKinds[kind];
    Table& t = m_tables[kind];
    const uint64_t now = m_clock.load()->nowMs();
    std::lock_guard<std::mutex> lk(t.lock);
    // The purge scan runs at most once a second unless the table is full.
    if (t.map.size() >= kMaxSessions || now < t.lastPurgeMs || now - t.lastPurgeMs >= kPurgeEveryMs) {
        t.lastPurgeMs = now;
        for (auto it = t.map.begin(); it != t.map.end();) {
            if (now >= it->second.addedMs && now - it->second.addedMs > kSessionMaxAgeMs)
                it = t.map.erase(it);
            else
                ++it;
        }
    }
    if (t.map.count(key) || t.map.size() >= kMaxSessions) {
        logFail(k.addFunc, key);
        return 0;
    }
    Table::Entry e;
    e.record.assign(static_cast<const unsigned char*>(record), static_cast<const unsigned char*>(record) + k.size);
    e.addedMs = now;
    t.map.emplace(key, std::move(e));
    return 1;
}

int SessionTables::take(Kind kind, void* out, const std::string& key) {
    const KindInfo& k = kKinds[kind];
    Table& t = m_tables[kind];
    std::lock_guard<std::mutex> lk(t.lock);
    auto it = t.map.find(key);
    if (it == t.map.end() || !out) {
        logFail(k.takeFunc, key);
        return 0;
    }
    const int err = PAL_Memcpy_s(out, k.size, it->second.record.data(), it->second.record.size());
    if (err != 0)
        __pal_safec_error_handle(VEXA_SAFEC_SRC, __LINE__, (std::string("CVexaDeviceMgr::") + k.takeFunc).c_str(),
                                 "PAL_MEMCPY_S", err);
    t.map.erase(it);
    return 1;
}

size_t SessionTables::size(Kind kind) {
    Table& t = m_tables[kind];
    std::lock_guard<std::mutex> lk(t.lock);
    return t.map.size();
}

void SessionTables::clear() {
    for (Table& t : m_tables) {
        std::lock_guard<std::mutex> lk(t.lock);
        t.map.clear();
    }
}
