#include "MediaSink.h"

#include <asio.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace gwhost {

namespace {

constexpr size_t kPacket = 188;
constexpr uint8_t kSync = 0x47;
constexpr int kNullPid = 0x1FFF;      // stuffing packets carry no meaningful counter
constexpr size_t kMaxPidsPerStream = 64;  // counters tracked per stream; more identifiers go unchecked
constexpr size_t kDatagramMax = 65536;

using Clock = StreamStats::Clock;

int pidOf(const uint8_t* p) { return ((p[1] & 0x1F) << 8) | p[2]; }

std::string endpointText(const asio::ip::address& a, uint16_t port) {
    return a.is_v6() ? "[" + a.to_string() + "]:" + std::to_string(port) : a.to_string() + ":" + std::to_string(port);
}

}  // namespace

double StreamStats::seconds() const {
    if (packets < 2) return 0;
    return std::chrono::duration<double>(lastPacket - firstPacket).count();
}

struct MediaSink::Impl : std::enable_shared_from_this<MediaSink::Impl> {
    struct Stream {
        StreamStats st;
        Clock::time_point lastByte{};
        std::vector<std::pair<int, uint8_t>> counters;  // identifier -> last continuity counter
        bool synced = true;                             // TCP: packet boundaries known
    };

    struct Conn {
        explicit Conn(asio::io_context& io) : sock(io) {}
        asio::ip::tcp::socket sock;
        uint64_t id = 0;
        std::vector<uint8_t> buf;
        size_t pending = 0;  // bytes kept from the previous read (a partial packet)
    };

    explicit Impl(SinkOptions o) : opt(o) {
        if (opt.maxStreams == 0) opt.maxStreams = 1;
        if (opt.tcpReadSize < kPacket) opt.tcpReadSize = kPacket;
        if (opt.udpIdle.count() <= 0) opt.udpIdle = std::chrono::milliseconds(1);
    }

    SinkOptions opt;

    // Guarded by mx.
    mutable std::mutex mx;
    std::condition_variable cv;
    std::map<uint64_t, Stream> live;
    std::deque<Stream> ended;
    std::map<std::pair<asio::ip::udp::endpoint, int>, uint64_t> udpIndex;
    uint64_t nextId = 0;
    SinkTotals retired;  // counters of streams dropped from the ended history
    uint64_t refused = 0, dropped = 0, bytesAll = 0;
    Clock::time_point lastByteAny{};
    bool running = false;
    std::function<void(const StreamStats&)> endHandler;

    // Owned by the thread calling start/stop; the I/O objects are used only on the I/O thread.
    std::mutex lifeMx;
    std::unique_ptr<asio::io_context> io;
    std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
    std::unique_ptr<asio::ip::udp::socket> udp;
    std::unique_ptr<asio::steady_timer> sweepTimer, acceptRetry;
    std::set<std::shared_ptr<Conn>> conns;  // I/O thread only
    std::vector<uint8_t> udpBuf;
    asio::ip::udp::endpoint udpFrom;
    std::thread thread;
    bool closing = false;  // I/O thread: nothing is started again once set
    std::atomic<uint16_t> boundPort{0};

    // ---- stream bookkeeping (mx held) ----

    Stream* findLive(uint64_t id) {
        auto it = live.find(id);
        return it == live.end() ? nullptr : &it->second;
    }

    const Stream* findAny(uint64_t id) const {
        auto it = live.find(id);
        if (it != live.end()) return &it->second;
        for (const Stream& s : ended)
            if (s.st.id == id) return &s;
        return nullptr;
    }

    Stream* newStream(bool tcp, const std::string& peer) {
        if (live.size() >= opt.maxStreams) return nullptr;
        Stream s;
        s.st.id = ++nextId;
        s.st.tcp = tcp;
        s.st.peer = peer;
        return &live.emplace(s.st.id, std::move(s)).first->second;
    }

    // Moves a live stream to the ended history; its final stats go to `out` for the end handler.
    void endStream(uint64_t id, std::vector<StreamStats>& out) {
        auto it = live.find(id);
        if (it == live.end()) return;
        Stream s = std::move(it->second);
        live.erase(it);
        s.st.ended = true;
        s.counters.clear();
        s.counters.shrink_to_fit();
        out.push_back(s.st);
        ended.push_back(std::move(s));
        while (ended.size() > opt.maxStreams) {
            const StreamStats& old = ended.front().st;
            retired.streams++;
            retired.bytes += old.bytes;
            retired.packets += old.packets;
            retired.syncErrors += old.syncErrors;
            retired.continuityErrors += old.continuityErrors;
            ended.pop_front();
        }
    }

    void received(Stream& s, size_t n, Clock::time_point now) {
        s.st.bytes += n;
        s.lastByte = now;
        bytesAll += n;
        lastByteAny = now;
    }

    static void packet(Stream& s, const uint8_t* p, Clock::time_point now) {
        const int pid = pidOf(p);
        const uint8_t cc = p[3] & 0x0F;
        if (s.st.packets++ == 0) s.st.firstPacket = now;
        s.st.lastPacket = now;
        s.st.pid = pid;
        if (pid == kNullPid) return;
        for (auto& c : s.counters) {
            if (c.first != pid) continue;
            if (cc != ((c.second + 1) & 0x0F)) s.st.continuityErrors++;
            c.second = cc;
            return;
        }
        if (s.counters.size() < kMaxPidsPerStream) s.counters.emplace_back(pid, cc);
    }

    // Counts the packets in d[0..n) of a TCP stream; returns how many bytes were used up. The
    // rest (at most one packet) waits for the next read. After a position without the sync
    // byte, the next candidate counts only when another sync byte follows one packet later.
    static size_t scanTcp(Stream& s, const uint8_t* d, size_t n, Clock::time_point now) {
        size_t pos = 0;
        for (;;) {
            if (s.synced) {
                if (n - pos < kPacket) break;
                if (d[pos] == kSync) {
                    packet(s, d + pos, now);
                    pos += kPacket;
                    continue;
                }
                s.synced = false;
                s.st.syncErrors++;
            }
            const void* hit = memchr(d + pos, kSync, n - pos);
            const size_t q = hit ? static_cast<size_t>(static_cast<const uint8_t*>(hit) - d) : n;
            s.st.skippedBytes += q - pos;
            pos = q;
            if (n - q <= kPacket) break;  // the confirming byte has not arrived yet
            if (d[q + kPacket] == kSync) {
                s.synced = true;
            } else {
                ++pos;
                s.st.skippedBytes++;
            }
        }
        return pos;
    }

    Stream* udpStream(const asio::ip::udp::endpoint& from, int pid) {
        const auto key = std::make_pair(from, pid);
        auto it = udpIndex.find(key);
        if (it != udpIndex.end()) {
            if (Stream* s = findLive(it->second)) return s;
            udpIndex.erase(it);
        }
        Stream* s = newStream(false, endpointText(from.address(), from.port()));
        if (s) udpIndex.emplace(key, s->st.id);
        return s;
    }

    // One datagram: each whole packet goes to its identifier's stream; slots without the sync
    // byte and a trailing partial packet count as sync errors of the stream in front of them (a
    // datagram without any packet: of the sender's stream with identifier -1).
    void datagram(const uint8_t* d, size_t n, Clock::time_point now) {
        if (n == 0) return;
        int firstPid = -1;
        for (size_t off = 0; off + kPacket <= n; off += kPacket) {
            if (d[off] == kSync) {
                firstPid = pidOf(d + off);
                break;
            }
        }
        Stream* cur = udpStream(udpFrom, firstPid);
        if (!cur) {
            dropped++;
            return;
        }
        bool partlyDropped = false;
        size_t off = 0;
        for (; off + kPacket <= n; off += kPacket) {
            if (d[off] != kSync) {
                cur->st.syncErrors++;
                received(*cur, kPacket, now);
                continue;
            }
            Stream* s = udpStream(udpFrom, pidOf(d + off));
            if (!s) {
                partlyDropped = true;
                continue;
            }
            cur = s;
            packet(*s, d + off, now);
            received(*s, kPacket, now);
        }
        if (off < n) {
            cur->st.syncErrors++;
            received(*cur, n - off, now);
        }
        if (partlyDropped) dropped++;
    }

    void deliver(const std::vector<StreamStats>& endedNow) {
        if (endedNow.empty()) return;
        std::function<void(const StreamStats&)> h;
        {
            std::lock_guard<std::mutex> lk(mx);
            h = endHandler;
        }
        if (!h) return;
        for (const StreamStats& s : endedNow) {
            try {
                h(s);
            } catch (...) {
            }
        }
    }

    // ---- I/O thread ----

    void accept() {
        auto self = shared_from_this();
        auto conn = std::make_shared<Conn>(*io);
        acceptor->async_accept(conn->sock, [self, conn](const asio::error_code& ec) {
            if (self->closing || ec == asio::error::operation_aborted) return;
            if (ec) {
                // Out of descriptors and the like: try again shortly instead of spinning.
                self->acceptRetry->expires_after(std::chrono::milliseconds(100));
                self->acceptRetry->async_wait([self](const asio::error_code& e) {
                    if (!e && !self->closing) self->accept();
                });
                return;
            }
            self->admit(conn);
            self->accept();
        });
    }

    void admit(const std::shared_ptr<Conn>& conn) {
        asio::error_code ec;
        const auto remote = conn->sock.remote_endpoint(ec);
        if (!ec) {  // a peer already gone is no stream
            const std::string peer = endpointText(remote.address(), remote.port());
            std::lock_guard<std::mutex> lk(mx);
            if (Stream* s = newStream(true, peer))
                conn->id = s->st.id;
            else
                refused++;
        }
        if (conn->id == 0) {
            conn->sock.close(ec);
            return;
        }
        conn->buf.resize(kPacket + opt.tcpReadSize);
        conns.insert(conn);
        read(conn);
    }

    void read(const std::shared_ptr<Conn>& conn) {
        auto self = shared_from_this();
        conn->sock.async_read_some(
            asio::buffer(conn->buf.data() + conn->pending, conn->buf.size() - conn->pending),
            [self, conn](const asio::error_code& ec, size_t n) { self->onRead(conn, ec, n); });
    }

    void onRead(const std::shared_ptr<Conn>& conn, const asio::error_code& ec, size_t n) {
        const auto now = Clock::now();
        std::vector<StreamStats> endedNow;
        bool more = false;
        {
            std::lock_guard<std::mutex> lk(mx);
            Stream* s = findLive(conn->id);
            if (s && n > 0) {
                received(*s, n, now);
                const size_t have = conn->pending + n;
                const size_t used = scanTcp(*s, conn->buf.data(), have, now);
                conn->pending = have - used;
                if (conn->pending) memmove(conn->buf.data(), conn->buf.data() + used, conn->pending);
            }
            if (s && !ec) {
                more = true;
            } else if (s) {
                // Whatever is left is a packet cut short, or bytes still without a sync byte.
                (s->synced ? s->st.truncatedBytes : s->st.skippedBytes) += conn->pending;
                conn->pending = 0;
                endStream(conn->id, endedNow);
            }
        }
        cv.notify_all();
        if (more && !closing) {
            read(conn);
            return;
        }
        asio::error_code ignored;
        conn->sock.close(ignored);
        conns.erase(conn);
        deliver(endedNow);
    }

    void receive() {
        auto self = shared_from_this();
        udp->async_receive_from(asio::buffer(udpBuf), udpFrom, [self](const asio::error_code& ec, size_t n) {
            if (self->closing || ec == asio::error::operation_aborted) return;
            if (!ec) {
                {
                    std::lock_guard<std::mutex> lk(self->mx);
                    self->datagram(self->udpBuf.data(), n, Clock::now());
                }
                self->cv.notify_all();
            }
            self->receive();
        });
    }

    void sweep() {
        auto self = shared_from_this();
        const auto period = std::max(std::chrono::milliseconds(20), opt.udpIdle / 4);
        sweepTimer->expires_after(period);
        sweepTimer->async_wait([self](const asio::error_code& ec) {
            if (ec || self->closing) return;
            std::vector<StreamStats> endedNow;
            {
                std::lock_guard<std::mutex> lk(self->mx);
                const auto limit = Clock::now() - self->opt.udpIdle;
                std::vector<uint64_t> idle;
                for (const auto& kv : self->live)
                    if (!kv.second.st.tcp && kv.second.lastByte < limit) idle.push_back(kv.first);
                for (uint64_t id : idle) self->endStream(id, endedNow);
                for (auto it = self->udpIndex.begin(); it != self->udpIndex.end();)
                    it = self->live.count(it->second) ? std::next(it) : self->udpIndex.erase(it);
            }
            self->deliver(endedNow);
            self->sweep();
        });
    }

    void closeAll() {
        closing = true;
        asio::error_code ec;
        if (acceptor) acceptor->close(ec);
        if (udp) udp->close(ec);
        if (sweepTimer) sweepTimer->cancel();
        if (acceptRetry) acceptRetry->cancel();
        for (const auto& c : conns) c->sock.close(ec);
    }

    bool bind(const asio::ip::address& addr, uint16_t port, std::string& why) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            asio::error_code ec;
            acceptor = std::make_unique<asio::ip::tcp::acceptor>(*io);
            udp = std::make_unique<asio::ip::udp::socket>(*io);
            const asio::ip::tcp::endpoint te(addr, port);
            acceptor->open(te.protocol(), ec);
            if (!ec) acceptor->set_option(asio::socket_base::reuse_address(true), ec);
            if (!ec) acceptor->bind(te, ec);
            if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
            if (ec) {
                why = "tcp: " + ec.message();
                return false;
            }
            const uint16_t chosen = acceptor->local_endpoint(ec).port();
            const asio::ip::udp::endpoint ue(addr, chosen);
            udp->open(ue.protocol(), ec);
            if (!ec) udp->bind(ue, ec);
            if (!ec) {
                boundPort = chosen;
                return true;
            }
            why = "udp: " + ec.message();
            acceptor->close(ec);
            udp->close(ec);
            if (port != 0) return false;  // a fixed port taken for UDP: nothing else to try
        }
        return false;
    }
};

MediaSink::MediaSink(SinkOptions options) : m_impl(std::make_shared<Impl>(options)) {}

MediaSink::~MediaSink() { stop(); }

void MediaSink::onStreamEnd(std::function<void(const StreamStats&)> handler) {
    std::lock_guard<std::mutex> lk(m_impl->mx);
    m_impl->endHandler = std::move(handler);
}

bool MediaSink::start(const std::string& address, uint16_t port, std::string* why) {
    Impl& m = *m_impl;
    std::lock_guard<std::mutex> life(m.lifeMx);
    std::string reason;
    {
        std::lock_guard<std::mutex> lk(m.mx);
        if (m.running) reason = "already running";
    }
    asio::error_code ec;
    const auto addr = asio::ip::make_address(address, ec);
    if (reason.empty() && ec) reason = "bad address " + address;
    if (reason.empty()) {
        try {
            m.io = std::make_unique<asio::io_context>(1);
            if (m.bind(addr, port, reason)) {
                m.sweepTimer = std::make_unique<asio::steady_timer>(*m.io);
                m.acceptRetry = std::make_unique<asio::steady_timer>(*m.io);
                m.udpBuf.assign(kDatagramMax, 0);
                m.closing = false;
                {
                    std::lock_guard<std::mutex> lk(m.mx);
                    m.running = true;
                }
                m.accept();
                m.receive();
                m.sweep();
                asio::io_context* io = m.io.get();
                m.thread = std::thread([io] {
                    for (;;) {
                        try {
                            io->run();
                            return;
                        } catch (...) {
                            // A handler that threw: keep serving the others.
                        }
                    }
                });
                return true;
            }
        } catch (const std::exception& e) {
            reason = e.what();
        }
    }
    m.acceptor.reset();
    m.udp.reset();
    m.io.reset();
    m.boundPort = 0;
    if (why) *why = reason;
    return false;
}

uint16_t MediaSink::port() const { return m_impl->boundPort; }

void MediaSink::stop() {
    Impl& m = *m_impl;
    std::lock_guard<std::mutex> life(m.lifeMx);
    {
        std::lock_guard<std::mutex> lk(m.mx);
        if (!m.running) return;
        m.running = false;
    }
    m.cv.notify_all();
    // Closing on the I/O thread lets every pending operation finish aborted; run() then returns.
    std::shared_ptr<Impl> self = m_impl;
    asio::post(*m.io, [self] { self->closeAll(); });
    if (m.thread.joinable()) m.thread.join();
    m.conns.clear();
    m.acceptor.reset();
    m.udp.reset();
    m.sweepTimer.reset();
    m.acceptRetry.reset();
    m.io.reset();
    m.boundPort = 0;
    std::vector<StreamStats> endedNow;
    {
        std::lock_guard<std::mutex> lk(m.mx);
        std::vector<uint64_t> ids;
        for (const auto& kv : m.live) ids.push_back(kv.first);
        for (uint64_t id : ids) m.endStream(id, endedNow);
        m.udpIndex.clear();
    }
    m.cv.notify_all();
    m.deliver(endedNow);
}

std::vector<StreamStats> MediaSink::snapshot() const {
    const Impl& m = *m_impl;
    std::lock_guard<std::mutex> lk(m.mx);
    std::vector<StreamStats> out;
    out.reserve(m.ended.size() + m.live.size());
    for (const auto& s : m.ended) out.push_back(s.st);
    for (const auto& kv : m.live) out.push_back(kv.second.st);
    std::sort(out.begin(), out.end(), [](const StreamStats& a, const StreamStats& b) { return a.id < b.id; });
    return out;
}

std::optional<StreamStats> MediaSink::stream(uint64_t id) const {
    const Impl& m = *m_impl;
    std::lock_guard<std::mutex> lk(m.mx);
    const Impl::Stream* s = m.findAny(id);
    if (!s) return std::nullopt;
    return s->st;
}

SinkTotals MediaSink::totals() const {
    const Impl& m = *m_impl;
    std::lock_guard<std::mutex> lk(m.mx);
    SinkTotals t = m.retired;
    auto add = [&t](const StreamStats& s) {
        t.streams++;
        t.bytes += s.bytes;
        t.packets += s.packets;
        t.syncErrors += s.syncErrors;
        t.continuityErrors += s.continuityErrors;
    };
    for (const auto& s : m.ended) add(s.st);
    for (const auto& kv : m.live) add(kv.second.st);
    t.live = m.live.size();
    t.refusedConnections = m.refused;
    t.droppedDatagrams = m.dropped;
    return t;
}

uint64_t MediaSink::lastStreamId() const {
    std::lock_guard<std::mutex> lk(m_impl->mx);
    return m_impl->nextId;
}

std::optional<StreamStats> MediaSink::waitStream(uint64_t minBytes, std::chrono::milliseconds timeout,
                                                 uint64_t afterId) {
    Impl& m = *m_impl;
    const auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lk(m.mx);
    std::optional<StreamStats> found;
    auto look = [&] {
        for (auto it = m.live.upper_bound(afterId); it != m.live.end(); ++it) {
            if (it->second.st.bytes >= minBytes) {
                found = it->second.st;
                return true;
            }
        }
        for (const auto& s : m.ended) {
            if (s.st.id > afterId && s.st.bytes >= minBytes) {
                found = s.st;
                return true;
            }
        }
        return false;
    };
    m.cv.wait_until(lk, deadline, [&] { return look() || !m.running; });
    return found;
}

bool MediaSink::waitBytes(uint64_t id, uint64_t minBytes, std::chrono::milliseconds timeout) {
    Impl& m = *m_impl;
    const auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lk(m.mx);
    auto enough = [&] {
        const Impl::Stream* s = m.findAny(id);
        return s && s->st.bytes >= minBytes;
    };
    return m.cv.wait_until(lk, deadline, [&] { return enough() || !m.running; }) && enough();
}

bool MediaSink::waitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout, uint64_t id) {
    Impl& m = *m_impl;
    const auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lk(m.mx);
    for (;;) {
        Clock::time_point last = m.lastByteAny;
        if (id != 0) {
            const Impl::Stream* s = m.findAny(id);
            last = s ? s->lastByte : Clock::time_point{};
        }
        const auto now = Clock::now();
        if (last == Clock::time_point{} || now - last >= quiet || !m.running) return true;
        if (now >= deadline) return false;
        m.cv.wait_until(lk, std::min(deadline, last + quiet));
    }
}

bool MediaSink::noMoreBytes(std::chrono::milliseconds window, uint64_t id) {
    Impl& m = *m_impl;
    const auto deadline = Clock::now() + window;
    std::unique_lock<std::mutex> lk(m.mx);
    auto count = [&]() -> uint64_t {
        if (id == 0) return m.bytesAll;
        const Impl::Stream* s = m.findAny(id);
        return s ? s->st.bytes : 0;
    };
    const uint64_t before = count();
    m.cv.wait_until(lk, deadline, [&] { return count() != before || !m.running; });
    return count() == before;
}

}  // namespace gwhost
