// A raw device-side socket that speaks (or breaks) the device protocol frame by frame, and the
// frame builders the tests share.
#ifndef VEXA_TEST_WIRE_PEER_H
#define VEXA_TEST_WIRE_PEER_H

#include "TestSupport.h"
#include "WireFrame.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace vtest {

// A body behind a length prefix that may lie about it.
inline std::string framed(const std::string& body, uint32_t len) {
    return std::string{char(len >> 24), char(len >> 16), char(len >> 8), char(len)} + body;
}
inline std::string framed(const std::string& body) { return framed(body, uint32_t(body.size())); }

inline Json::Value frame(const char* type, std::initializer_list<std::pair<const char*, Json::Value>> members = {}) {
    Json::Value m(Json::objectValue);
    m["type"] = type;
    for (const auto& kv : members) m[kv.first] = kv.second;
    return m;
}
// key: null for no sessionKey member.
inline Json::Value alarmHello(const std::string& id, int version, const char* key = nullptr) {
    Json::Value h = frame("alarmHello", {{"deviceId", id}, {"protocolVersion", version}});
    if (key) h["sessionKey"] = key;
    return h;
}
// A device-API alarm frame (alarm type 2).
inline Json::Value alarmFrame(uint32_t seq, const std::string& payload, int dataType = 2) {
    return frame("alarm", {{"seq", seq}, {"alarmType", 2}, {"dataType", dataType}, {"payload", payload}});
}
// The answer to a challenge: the nonce signed with the device's key.
inline Json::Value authFrame(const std::string& key, const std::string& nonce) {
    return frame("auth", {{"proof", vexawire::hmacSha256Hex(key, nonce)}});
}

// Writes what the socket takes; false once the peer is gone.
inline bool put(int fd, const std::string& bytes) {
    for (size_t off = 0; off < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += size_t(n);
    }
    return true;
}

class WirePeer {
public:
    using Clock = std::chrono::steady_clock;

    WirePeer() = default;
    // from: the loopback address to connect from (another device's address).
    explicit WirePeer(uint16_t port, const char* from = "127.0.0.1") { connect(port, from); }
    ~WirePeer() { close(); }
    WirePeer(const WirePeer&) = delete;
    WirePeer& operator=(const WirePeer&) = delete;

    bool connect(uint16_t port, const char* from = nullptr) {
        close();
        m_fd = dial(port, from ? from : "127.0.0.1");
        m_eof = false;
        m_dec = vexawire::FrameDecoder();
        return m_fd >= 0;
    }
    void close() {
        if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
    }
    bool ok() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    bool raw(const std::string& bytes) { return put(m_fd, bytes); }
    bool send(const Json::Value& m) { return raw(vexawire::encodeFrame(m)); }

    // The next frame within `ms`; false on close, a broken frame or time-out.
    bool next(Json::Value& out, int ms = 5000) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        for (std::string why;;) {
            const auto r = m_dec.next(out, why);
            if (r == vexawire::FrameDecoder::Result::Frame) return true;
            if (r == vexawire::FrameDecoder::Result::Error || m_eof) return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{m_fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0) return false;
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                m_eof = true;
                return false;
            }
            m_dec.feed(buf, size_t(n));
        }
    }
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
    bool waitClosed(int ms = 10000) {
        Json::Value m;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!m_eof && Clock::now() < end)
            if (next(m, 50)) seen.push_back(m);
        return m_eof;
    }
    bool heartbeat() { return send(frame("heartbeat")) && !expect("heartbeatAck").isNull(); }
    // The reason of the "refused" frame that came before the close, or "".
    std::string refusal() const {
        for (const auto& m : seen)
            if (m["type"].asString() == "refused") return m["reason"].asString();
        return std::string();
    }

    std::vector<Json::Value> seen;

private:
    int m_fd = -1;
    bool m_eof = false;
    vexawire::FrameDecoder m_dec;
};

}  // namespace vtest

#endif
