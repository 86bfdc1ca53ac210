// What the console shows of the host: a bounded ring of the host's event lines that event-stream
// readers follow, and the counters behind /api/stats and /metrics.
#ifndef GWHOST_CONSOLE_STATE_H
#define GWHOST_CONSOLE_STATE_H

#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace gwhost {

// Host event lines in order; the oldest go when it holds `capacity` lines or `maxBytes` of text
// (device answers can be large). Writers never wait for readers.
class EventRing {
public:
    struct Entry {
        uint64_t seq;
        std::string kind, json;
    };
    explicit EventRing(size_t capacity = 1024, size_t maxBytes = 16 << 20)
        : m_capacity(capacity ? capacity : 1), m_maxBytes(maxBytes) {}

    uint64_t push(const std::string& kind, const std::string& json);
    // Up to `max` entries after `after`. `lost` is set when entries after `after` were dropped
    // before this reader got them.
    std::vector<Entry> since(uint64_t after, size_t max, bool& lost) const;
    // True when an entry after `after` is there (or comes within `limit`); false on time-out or close.
    bool wait(uint64_t after, std::chrono::milliseconds limit) const;
    uint64_t last() const;
    void close();

private:
    const size_t m_capacity, m_maxBytes;
    mutable std::mutex m_mx;
    size_t m_bytes = 0;
    mutable std::condition_variable m_cv;
    std::deque<Entry> m_entries;
    uint64_t m_last = 0;
    bool m_closed = false;
};

// Alarms and requests per second over the last minute, request round trips and their percentiles.
class ConsoleStats {
public:
    static constexpr size_t kSeconds = 60;
    static constexpr size_t kLatencySamples = 512;
    using NowMs = std::function<int64_t()>;
    explicit ConsoleStats(NowMs now = {});

    void alarm();
    void request(double ms, bool ok);
    // {"alarms","requests","requestErrors","latencyMs":{"p50","p90","p99","count"},
    //  "alarmsPerSecond":[60],"requestsPerSecond":[60]} (oldest second first).
    Json::Value snapshot() const;
    uint64_t alarms() const;

private:
    struct Second {
        int64_t sec = -1;
        uint32_t alarms = 0, requests = 0;
    };
    Second& bucket(int64_t sec);
    NowMs m_now;
    mutable std::mutex m_mx;
    Second m_seconds[kSeconds];
    std::vector<double> m_latency;  // ring of the latest samples
    size_t m_latencyNext = 0;
    uint64_t m_alarms = 0, m_requests = 0, m_requestErrors = 0;
};

// Nearest-rank percentile (0..100) of `v`; 0 when empty.
double percentile(std::vector<double> v, double p);

}  // namespace gwhost

#endif
