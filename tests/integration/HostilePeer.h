// Crowds of idle or half-frame device-side connections, and the figures of the long hostile runs
// (single raw peers: vtest::WirePeer).
#ifndef VEXA_HOSTILE_PEER_H
#define VEXA_HOSTILE_PEER_H

#include "TestSupport.h"
#include "WirePeer.h"

#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace hostile {

using Clock = std::chrono::steady_clock;

// Many connections that never finish a login.
class Crowd {
public:
    ~Crowd() {
        for (int fd : m_open) ::close(fd);
    }
    // Opens n connections and sends `first` on each; returns how many connected.
    size_t open(size_t n, uint16_t port, const std::string& first, const char* from = "127.0.0.1") {
        size_t ok = 0;
        for (size_t i = 0; i < n; ++i) {
            const int fd = vtest::dial(port, from);
            if (fd < 0) continue;
            vtest::put(fd, first);
            m_open.push_back(fd);
            ++ok;
        }
        return ok;
    }
    size_t stillOpen() const { return m_open.size(); }
    // Reaps connections the other side closed, until none is left or the time is up.
    size_t reap(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        do {
            std::vector<pollfd> ps;
            for (int fd : m_open) ps.push_back(pollfd{fd, POLLIN, 0});
            if (ps.empty() || ::poll(ps.data(), ps.size(), 50) < 0) break;
            std::vector<int> keep;
            for (const pollfd& p : ps) {
                char buf[4096];
                const ssize_t n = p.revents == 0 ? 1 : ::recv(p.fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR))) {
                    keep.push_back(p.fd);
                    continue;
                }
                ::close(p.fd);
                lastClose = Clock::now();
            }
            m_open.swap(keep);
        } while (!m_open.empty() && Clock::now() < end);
        return m_open.size();
    }
    Clock::time_point lastClose{};

private:
    std::vector<int> m_open;
};

// Bytes the allocator hands out now (live blocks), apart from what it keeps for reuse.
inline double heapInUseMiB() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
}

// Count multiplier for the long runs (scripts/hostile); 1 in CI.
inline double scale() {
    const char* v = std::getenv("VEXA_HOSTILE_SCALE");
    const double s = v ? std::atof(v) : 1.0;
    return s > 0 ? s : 1.0;
}

inline double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// One figure line for scripts/hostile to collect.
inline void figure(const char* name, double value, const char* unit) {
    printf("[hostile] %s = %.1f %s\n", name, value, unit);
    fflush(stdout);
}

}  // namespace hostile

#endif
