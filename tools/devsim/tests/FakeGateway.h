// A small gateway for devsim's own tests: plain blocking sockets, one thread per connection
// (there are few), the gateway side of the frames written straight from the protocol table.
#ifndef DEVSIM_FAKE_GATEWAY_H
#define DEVSIM_FAKE_GATEWAY_H

#include "WireFrame.h"

#include <json/json.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fakegw {

struct Event {
    int conn = -1;          // connection number
    bool alarmPort = false;
    Json::Value frame;      // a received frame, or {"type":"_closed"/"_badFrame", "why":...}
};

struct Options {
    std::map<std::string, std::string> keys;  // deviceId -> key; unknown ids use defaultKey
    std::string defaultKey = "secret";
    int keepAliveSec = 30;
    std::string refuseLogin;                  // non-empty: refuse with this reason after the proof
    bool ackHeartbeats = true;
};

class Gateway {
public:
    explicit Gateway(Options o = Options()) : m_opt(std::move(o)) {
        m_cmsFd = listenOn(m_cmsPort);
        m_amsFd = listenOn(m_amsPort);
        std::lock_guard<std::mutex> lk(m_mx);
        m_threads.emplace_back([this] { acceptLoop(m_cmsFd, false); });
        m_threads.emplace_back([this] { acceptLoop(m_amsFd, true); });
    }

    ~Gateway() {
        m_stop = true;
        ::shutdown(m_cmsFd, SHUT_RDWR);
        ::shutdown(m_amsFd, SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lk(m_mx);
            for (auto& c : m_conns)
                if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
        }
        for (;;) {
            std::thread t;
            {
                std::lock_guard<std::mutex> lk(m_mx);
                if (m_threads.empty()) break;
                t = std::move(m_threads.back());
                m_threads.pop_back();
            }
            t.join();
        }
        ::close(m_cmsFd);
        ::close(m_amsFd);
        for (auto& c : m_conns)
            if (c->fd >= 0) ::close(c->fd);
    }

    uint16_t cmsPort() const { return m_cmsPort; }
    uint16_t amsPort() const { return m_amsPort; }

    // Waits until `pred` holds over the event list.
    bool waitUntil(const std::function<bool(const std::vector<Event>&)>& pred,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lk(m_mx);
        return m_cv.wait_for(lk, timeout, [&] { return pred(m_events); });
    }
    // Waits for the n-th (1-based) frame of `type` and returns it (null on time-out).
    Json::Value waitFrame(const std::string& type, size_t n = 1, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        Json::Value out;
        waitUntil(
            [&](const std::vector<Event>& ev) {
                size_t seen = 0;
                for (const auto& e : ev)
                    if (vexawire::getString(e.frame, "type") == type && ++seen == n) {
                        out = e.frame;
                        out["_conn"] = e.conn;
                        return true;
                    }
                return false;
            },
            timeout);
        return out;
    }
    size_t count(const std::string& type) {
        std::lock_guard<std::mutex> lk(m_mx);
        size_t n = 0;
        for (const auto& e : m_events)
            if (vexawire::getString(e.frame, "type") == type) ++n;
        return n;
    }
    std::vector<Event> events() {
        std::lock_guard<std::mutex> lk(m_mx);
        return m_events;
    }

    // Raw bytes received on a connection so far, and the sizes of the reads that took them.
    std::string rawBytes(int conn) {
        std::lock_guard<std::mutex> lk(m_mx);
        return conn >= 0 && conn < int(m_conns.size()) ? m_conns[conn]->raw : std::string();
    }
    size_t readCalls(int conn) {
        std::lock_guard<std::mutex> lk(m_mx);
        return conn >= 0 && conn < int(m_conns.size()) ? m_conns[conn]->reads : 0;
    }
    std::string issuedSessionKey(const std::string& id) {
        std::lock_guard<std::mutex> lk(m_mx);
        auto it = m_sessionKeys.find(id);
        return it == m_sessionKeys.end() ? std::string() : it->second;
    }

    void send(int conn, const Json::Value& f) { sendRaw(conn, vexawire::encodeFrame(f)); }
    void sendRaw(int conn, const std::string& bytes) {
        std::shared_ptr<Conn> c;
        {
            std::lock_guard<std::mutex> lk(m_mx);
            if (conn < 0 || conn >= int(m_conns.size())) return;
            c = m_conns[conn];
        }
        std::lock_guard<std::mutex> wl(c->wmx);
        size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::send(c->fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return;
            off += size_t(n);
        }
    }
    void closeConn(int conn) {
        std::lock_guard<std::mutex> lk(m_mx);
        if (conn >= 0 && conn < int(m_conns.size())) ::shutdown(m_conns[conn]->fd, SHUT_RDWR);
    }

private:
    struct Conn {
        int fd = -1;
        bool alarmPort = false;
        std::string raw;
        size_t reads = 0;
        std::mutex wmx;
        std::string deviceId;
        int proto = 0;
        std::string nonce;
    };

    static int listenOn(uint16_t& port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 1024);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        return fd;
    }

    void acceptLoop(int lfd, bool alarmPort) {
        while (!m_stop) {
            const int fd = ::accept(lfd, nullptr, nullptr);
            if (fd < 0) {
                if (m_stop) return;
                continue;
            }
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard<std::mutex> lk(m_mx);
            if (m_stop) {
                ::close(fd);
                return;
            }
            auto c = std::make_shared<Conn>();
            c->fd = fd;
            c->alarmPort = alarmPort;
            const int id = int(m_conns.size());
            m_conns.push_back(c);
            m_threads.emplace_back([this, c, id] { serve(c, id); });
        }
    }

    void record(int id, bool alarmPort, Json::Value f) {
        {
            std::lock_guard<std::mutex> lk(m_mx);
            m_events.push_back(Event{id, alarmPort, std::move(f)});
        }
        m_cv.notify_all();
    }

    void serve(const std::shared_ptr<Conn>& c, int id) {
        vexawire::FrameDecoder dec;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            {
                std::lock_guard<std::mutex> lk(m_mx);
                c->raw.append(buf, size_t(n));
                c->reads++;
            }
            dec.feed(buf, size_t(n));
            for (;;) {
                Json::Value f;
                std::string why;
                const auto r = dec.next(f, why);
                if (r == vexawire::FrameDecoder::Result::NeedMore) break;
                if (r == vexawire::FrameDecoder::Result::Error) {
                    Json::Value e;
                    e["type"] = "_badFrame";
                    e["why"] = why;
                    record(id, c->alarmPort, e);
                    ::shutdown(c->fd, SHUT_RDWR);
                    goto done;
                }
                record(id, c->alarmPort, f);
                if (!handle(c, id, f)) {
                    ::shutdown(c->fd, SHUT_RDWR);
                    goto done;
                }
            }
        }
    done:
        Json::Value e;
        e["type"] = "_closed";
        record(id, c->alarmPort, e);
    }

    static std::string randomHex(size_t digits) {
        thread_local std::mt19937_64 rng(std::random_device{}());
        static const char* hex = "0123456789abcdef";
        std::string s;
        for (size_t i = 0; i < digits; ++i) s.push_back(hex[rng() & 15]);
        return s;
    }

    Json::Value frame(const char* type) {
        Json::Value f(Json::objectValue);
        f["type"] = type;
        return f;
    }

    // Gateway side of one frame; false closes the connection.
    bool handle(const std::shared_ptr<Conn>& c, int id, const Json::Value& f) {
        const std::string type = vexawire::getString(f, "type");
        if (c->alarmPort) {
            if (type == "alarmHello") {
                const std::string dev = vexawire::getString(f, "deviceId");
                if (vexawire::getInt(f, "protocolVersion") == 4) {
                    const std::string k = issuedSessionKey(dev);
                    if (k.empty() || k != vexawire::getString(f, "sessionKey")) {
                        Json::Value r = frame("refused");
                        r["reason"] = "key";
                        send(id, r);
                        return false;
                    }
                }
                send(id, frame("alarmHelloAck"));
            } else if (type == "alarm") {
                Json::Value a = frame("alarmAck");
                a["seq"] = vexawire::getU32(f, "seq");
                send(id, a);
            }
            return true;
        }
        if (type == "dasRequest") {
            Json::Value a = frame("dasAnswer");
            a["address"] = "10.1.2.3";
            a["port"] = 7660;
            a["domain"] = "";
            a["serverId"] = "srv-1";
            send(id, a);
        } else if (type == "hello") {
            c->deviceId = vexawire::getString(f, "deviceId");
            c->proto = int(vexawire::getInt(f, "protocolVersion"));
            c->nonce = randomHex(32);
            Json::Value ch = frame("challenge");
            ch["nonce"] = c->nonce;
            send(id, ch);
        } else if (type == "auth") {
            auto it = m_opt.keys.find(c->deviceId);
            const std::string key = it == m_opt.keys.end() ? m_opt.defaultKey : it->second;
            if (vexawire::getString(f, "proof") != vexawire::hmacSha256Hex(key, c->nonce)) {
                Json::Value r = frame("refused");
                r["reason"] = "key";
                send(id, r);
                return false;
            }
            if (!m_opt.refuseLogin.empty()) {
                Json::Value r = frame("refused");
                r["reason"] = m_opt.refuseLogin;
                send(id, r);
                return false;
            }
            if (c->proto == 4) {
                Json::Value sk = frame("sessionKey");
                sk["key"] = randomHex(64);
                sk["companion"] = randomHex(32);
                {
                    std::lock_guard<std::mutex> lk(m_mx);
                    m_sessionKeys[c->deviceId] = sk["key"].asString();
                }
                send(id, sk);
            }
            Json::Value ack = frame("loginAck");
            ack["userHandle"] = m_nextHandle++;
            ack["keepAliveSec"] = m_opt.keepAliveSec;
            ack["timeoutCount"] = 3;
            ack["alarmKeepAliveSec"] = 30;
            ack["alarmTimeoutCount"] = 3;
            ack["alarmServer"]["enable"] = 1;
            ack["alarmServer"]["alarmType"] = 1;
            ack["alarmServer"]["address"] = "127.0.0.1";
            ack["alarmServer"]["port"] = m_amsPort;
            ack["alarmServer"]["subscribeMode"] = 0;
            ack["storageServer"]["enable"] = 0;
            send(id, ack);
        } else if (type == "heartbeat") {
            if (m_opt.ackHeartbeats) send(id, frame("heartbeatAck"));
        } else if (type == "logout") {
            return false;
        }
        return true;
    }

    Options m_opt;
    int m_cmsFd = -1, m_amsFd = -1;
    uint16_t m_cmsPort = 0, m_amsPort = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_nextHandle{0};
    std::mutex m_mx;
    std::condition_variable m_cv;
    std::vector<Event> m_events;
    std::vector<std::shared_ptr<Conn>> m_conns;
    std::vector<std::thread> m_threads;
    std::map<std::string, std::string> m_sessionKeys;
};

}  // namespace fakegw

#endif
