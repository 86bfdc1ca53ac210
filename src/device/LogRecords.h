// Heartbeat, authentication and refused-direct-connection counts per device: callbacks push a
// record on a lock-free queue and the log thread counts them and writes one line per period.
#ifndef VEXA_LOG_RECORDS_H
#define VEXA_LOG_RECORDS_H

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <string>

#include "common/MpmcRing.h"

// Log-record queue element.
struct LogRecord {
    char deviceId[32];
    uint32_t type;  // 0 heartbeat, 1 authentication, 2 direct connection refused; internal below
};
enum : uint32_t {
    LOG_REC_HEARTBEAT = 0,
    LOG_REC_AUTH = 1,
    LOG_REC_NO_DIRECT = 2,
    LOG_REC_RESET_NO_DIRECT = 100,  // login: forget the refused-direct-connection count
    LOG_REC_FORGET = 101,           // device left the registry: forget all its counts
};

class LogRecords {
public:
    static constexpr size_t kCapacity = 65536;

    // Any thread; false when the queue is full (the record is dropped).
    bool push(const std::string& deviceId, uint32_t type);
    // Log thread only: counts every queued record, stopping early only when stop turns non-zero.
    // A pass that took a fixed share would fall behind a large fleet's heartbeats.
    void proc(const std::atomic<uint32_t>& stop);
    // Only while no log thread runs: empties the queue and forgets every count.
    void reset();

private:
    MpmcRing<LogRecord> m_queue{kCapacity};
    // Touched only by the log thread.
    std::unordered_map<std::string, int64_t> m_hbAuthCounts;
    std::unordered_map<std::string, int64_t> m_noDirectCounts;
};

#endif
