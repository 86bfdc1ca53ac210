// Raw device-side sockets: single peers that speak (or break) the device protocol frame by
// frame, and crowds of idle or half-frame connections.
#ifndef VEXA_HOSTILE_PEER_H
#define VEXA_HOSTILE_PEER_H

#include "TestSupport.h"
#include "WireFrame.h"

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

inline std::string framed(const std::string& body, uint32_t len) {
    std::string out{static_cast<char>(len >> 24), static_cast<char>(len >> 16), static_cast<char>(len >> 8),
                    static_cast<char>(len)};
    return out + body;
}
inline std::string framed(const std::string& body) { return framed(body, static_cast<uint32_t>(body.size())); }

inline Json::Value frame(const char* type) {
    Json::Value m(Json::objectValue);
    m["type"] = type;
    return m;
}
inline Json::Value alarmHello(const std::string& id, int version) {
    Json::Value h = frame("alarmHello");
    h["deviceId"] = id;
    h["protocolVersion"] = version;
    return h;
}
// A device-API alarm frame (alarm type 2, data type 2).
inline Json::Value alarmFrame(uint32_t seq, const std::string& payload) {
    Json::Value a = frame("alarm");
    a["seq"] = seq;
    a["alarmType"] = 2;
    a["dataType"] = 2;
    a["payload"] = payload;
    return a;
}

// Writes what the socket takes; false once the peer is gone.
inline bool put(int fd, const std::string& bytes) {
    for (size_t off = 0; off < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

class Peer {
public:
    explicit Peer(uint16_t port, const char* from = "127.0.0.1") : m_fd(vtest::dial(port, from)) {}
    ~Peer() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool ok() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool raw(const std::string& bytes) { return put(m_fd, bytes); }
    bool send(const Json::Value& m) { return raw(vexawire::encodeFrame(m)); }

    // Next frame of `type` (others are kept in `seen`); null on close or time-out.
    Json::Value expect(const std::string& type, int ms = 5000) {
        Json::Value m;
        while (next(m, ms)) {
            seen.push_back(m);
            if (m["type"].asString() == type) return m;
        }
        return Json::Value();
    }
    // True once the other side closed (frames before it are kept in `seen`).
    bool waitClosed(int ms = 5000) {
        Json::Value m;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!m_eof && Clock::now() < end)
            if (next(m, 100)) seen.push_back(m);
        return m_eof;
    }
    // The reason of the "refused" frame that came before the close, or "".
    std::string refusal() const {
        for (const auto& m : seen)
            if (m["type"].asString() == "refused") return m["reason"].asString();
        return std::string();
    }

    std::vector<Json::Value> seen;

    // The next frame within `ms`; false on close, a broken frame or time-out.
    bool next(Json::Value& out, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            std::string why;
            const auto r = m_dec.next(out, why);
            if (r == vexawire::FrameDecoder::Result::Frame) return true;
            if (r == vexawire::FrameDecoder::Result::Error || m_eof) return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{m_fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                m_eof = true;
                return false;
            }
            m_dec.feed(buf, static_cast<size_t>(n));
        }
    }

private:
    int m_fd;
    bool m_eof = false;
    vexawire::FrameDecoder m_dec;
};

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
            put(fd, first);
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
