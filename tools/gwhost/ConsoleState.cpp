#include "ConsoleState.h"

#include <algorithm>
#include <cmath>

namespace gwhost {

uint64_t EventRing::push(const std::string& kind, const std::string& json) {
    uint64_t seq;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        if (m_closed) return m_last;
        seq = ++m_last;
        m_entries.push_back({seq, kind, json});
        m_bytes += json.size();
        while (m_entries.size() > 1 && (m_entries.size() > m_capacity || m_bytes > m_maxBytes)) {
            m_bytes -= m_entries.front().json.size();
            m_entries.pop_front();
        }
    }
    m_cv.notify_all();
    return seq;
}

std::vector<EventRing::Entry> EventRing::since(uint64_t after, size_t max, bool& lost) const {
    std::lock_guard<std::mutex> lk(m_mx);
    std::vector<Entry> out;
    lost = !m_entries.empty() && after + 1 < m_entries.front().seq;
    for (const Entry& e : m_entries) {
        if (out.size() >= max) break;
        if (e.seq > after) out.push_back(e);
    }
    return out;
}

bool EventRing::wait(uint64_t after, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lk(m_mx);
    m_cv.wait_for(lk, limit, [&] { return m_closed || m_last > after; });
    return !m_closed && m_last > after;
}

uint64_t EventRing::last() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_last;
}

void EventRing::close() {
    {
        std::lock_guard<std::mutex> lk(m_mx);
        m_closed = true;
    }
    m_cv.notify_all();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    return v[std::min(v.size() - 1, rank ? rank - 1 : 0)];
}

ConsoleStats::ConsoleStats(NowMs now) : m_now(std::move(now)) {
    if (!m_now)
        m_now = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
}

ConsoleStats::Second& ConsoleStats::bucket(int64_t sec) {
    Second& s = m_seconds[static_cast<size_t>(sec) % kSeconds];
    if (s.sec != sec) s = Second{sec, 0, 0};
    return s;
}

void ConsoleStats::alarm() {
    const int64_t sec = m_now() / 1000;
    std::lock_guard<std::mutex> lk(m_mx);
    ++m_alarms;
    ++bucket(sec).alarms;
}

void ConsoleStats::request(double ms, bool ok) {
    const int64_t sec = m_now() / 1000;
    std::lock_guard<std::mutex> lk(m_mx);
    ++m_requests;
    if (!ok) ++m_requestErrors;
    ++bucket(sec).requests;
    if (m_latency.size() < kLatencySamples)
        m_latency.push_back(ms);
    else
        m_latency[m_latencyNext] = ms;
    m_latencyNext = (m_latencyNext + 1) % kLatencySamples;
}

uint64_t ConsoleStats::alarms() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_alarms;
}

Json::Value ConsoleStats::snapshot() const {
    const int64_t now = m_now() / 1000;
    std::lock_guard<std::mutex> lk(m_mx);
    Json::Value v;
    v["alarms"] = static_cast<Json::UInt64>(m_alarms);
    v["requests"] = static_cast<Json::UInt64>(m_requests);
    v["requestErrors"] = static_cast<Json::UInt64>(m_requestErrors);
    Json::Value& l = v["latencyMs"];
    l["p50"] = percentile(m_latency, 50);
    l["p90"] = percentile(m_latency, 90);
    l["p99"] = percentile(m_latency, 99);
    l["count"] = static_cast<Json::UInt64>(m_latency.size());
    Json::Value& a = v["alarmsPerSecond"];
    Json::Value& r = v["requestsPerSecond"];
    a = r = Json::Value(Json::arrayValue);
    for (int64_t sec = now - static_cast<int64_t>(kSeconds) + 1; sec <= now; ++sec) {
        const Second& s = m_seconds[static_cast<size_t>(sec < 0 ? 0 : sec) % kSeconds];
        const bool here = sec >= 0 && s.sec == sec;
        a.append(here ? s.alarms : 0u);
        r.append(here ? s.requests : 0u);
    }
    return v;
}

}  // namespace gwhost
