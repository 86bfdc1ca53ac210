#include "device/LogRecords.h"

#include <cstring>

#include "common/Bounded.h"
#include "common/Log.h"

bool LogRecords::push(const std::string& deviceId, uint32_t type) {
    LogRecord rec;
    memset(&rec, 0, sizeof rec);
    vexa::copyField(rec.deviceId, sizeof rec.deviceId, deviceId, 31, "CVexaDeviceMgr::push");
    rec.type = type;
    return m_queue.push(rec);
}

void LogRecords::reset() {
    LogRecord rec;
    while (m_queue.pop(rec)) {
    }
    m_hbAuthCounts.clear();
    m_noDirectCounts.clear();
}

void LogRecords::proc(const std::atomic<uint32_t>& stop) {
    static const char* F = "CVexaDeviceMgr::procLog";
    LogRecord rec;
    while (stop.load() == 0 && m_queue.pop(rec)) {
        rec.deviceId[sizeof rec.deviceId - 1] = '\0';
        const std::string id(rec.deviceId);
        std::unordered_map<std::string, int64_t>* table = nullptr;
        int64_t period = 0;
        switch (rec.type) {
            case LOG_REC_HEARTBEAT: table = &m_hbAuthCounts; period = 600; break;
            case LOG_REC_AUTH: table = &m_hbAuthCounts; period = 3600; break;
            case LOG_REC_NO_DIRECT: table = &m_noDirectCounts; period = 3600; break;
            case LOG_REC_RESET_NO_DIRECT: m_noDirectCounts.erase(id); continue;
            case LOG_REC_FORGET:
                m_hbAuthCounts.erase(id);
                m_noDirectCounts.erase(id);
                continue;
            default: continue;
        }
        auto it = table->find(id);
        const bool first = it == table->end();
        int64_t count = 1;
        if (first) {
            table->emplace(id, 1);
        } else {
            count = it->second;
            it->second = count + 1;
            if (count % period != 0) continue;
        }
        switch (rec.type) {
            case LOG_REC_HEARTBEAT:
                if (first) LOG_REG(2, F, "Device HB:[%s,1]", id.c_str());
                else LOG_REG(2, F, "Device HB:[%s,%lld]", id.c_str(), static_cast<long long>(count));
                break;
            case LOG_REC_AUTH:
                if (first) LOG_REG(2, F, "Device Auth:[%s,1]", id.c_str());
                else LOG_REG(2, F, "Device Auth:[%s,%lld]", id.c_str(), static_cast<long long>(count));
                break;
            default:
                if (first) LOG_REG(2, F, "[deviceID=%s,1]device is added, but not allow direct connect.", id.c_str());
                else
                    LOG_REG(2, F, "[deviceID=%s,%lld]device is added, but not allow direct connect.", id.c_str(),
                            static_cast<long long>(count));
                break;
        }
    }
}
