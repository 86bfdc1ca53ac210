// Raw device-side TCP client for the library tests, built on the frame codec.
#ifndef VEXASDK_TEST_CLIENT_H
#define VEXASDK_TEST_CLIENT_H

#include "WireFrame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

class TestClient {
public:
    ~TestClient() { close(); }

    // from: the local loopback address to connect from (another device's address).
    bool connect(uint16_t port, const char* from = nullptr) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0) return false;
        if (from) {
            sockaddr_in l{};
            l.sin_family = AF_INET;
            inet_pton(AF_INET, from, &l.sin_addr);
            if (::bind(m_fd, reinterpret_cast<sockaddr*>(&l), sizeof l) != 0) return false;
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }

    void close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    bool sendRaw(const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }
    bool send(const Json::Value& m) { return sendRaw(vexawire::encodeFrame(m)); }

    // Next frame; false on time-out, close or a bad frame.
    bool recv(Json::Value& out, int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            std::string why;
            const auto r = m_dec.next(out, why);
            if (r == vexawire::FrameDecoder::Result::Frame) return true;
            if (r == vexawire::FrameDecoder::Result::Error) return false;
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count());
            if (left <= 0) return false;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) return false;
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                m_eof = true;
                return false;
            }
            m_dec.feed(buf, static_cast<size_t>(n));
        }
    }

    // Next frame of the given type (others skipped); null when none came.
    Json::Value expect(const std::string& type, int timeoutMs = 5000) {
        Json::Value m;
        while (recv(m, timeoutMs))
            if (m["type"].asString() == type) return m;
        return Json::Value();
    }

    // True once the library closed the connection (frames still queued are skipped).
    bool waitClosed(int timeoutMs = 10000) {
        Json::Value m;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_eof) return true;
            recv(m, 200);
        }
        return m_eof;
    }

private:
    int m_fd = -1;
    bool m_eof = false;
    vexawire::FrameDecoder m_dec;
};

inline Json::Value frame(const char* type) {
    Json::Value m(Json::objectValue);
    m["type"] = type;
    return m;
}

#endif
