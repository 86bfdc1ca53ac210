#include "Transport.h"

#include "WireFrame.h"
#include "runlog.h"

#include <asio.hpp>

#include <atomic>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vexasdk {

namespace {

using asio::ip::tcp;

// Small per connection: thousands of mostly idle devices; large frames accumulate in the decoder.
constexpr size_t kReadChunk = 4096;
// A peer that does not read its answers must not make us buffer without end.
constexpr size_t kMaxQueuedBytes = 16u * 1024 * 1024;
// How long a closing link may take to flush its last frames (refused, forcedLogout).
constexpr auto kLinger = std::chrono::seconds(5);
// Far enough to mean "never" without overflowing the clock arithmetic.
constexpr uint64_t kMaxTimerMs = 1000ull * 3600 * 24 * 365 * 10;

class ListenerImpl;

class LinkImpl final : public Link, public std::enable_shared_from_this<LinkImpl> {
public:
    LinkImpl(const char* module, tcp::socket sock)
        : m_module(module), m_sock(std::move(sock)), m_timer(m_sock.get_executor()),
          m_linger(m_sock.get_executor()), m_later(m_sock.get_executor()), m_rbuf(kReadChunk) {
        m_dec.setMaxLen(vexawire::kMaxPreLoginFrameLen);
    }

    bool init() {
        std::error_code ec;
        auto ep = m_sock.remote_endpoint(ec);
        if (ec) return false;
        auto addr = ep.address();
        // One spelling per device address, whichever way the listener was bound.
        if (addr.is_v6() && addr.to_v6().is_v4_mapped())
            addr = asio::ip::make_address_v4(asio::ip::v4_mapped, addr.to_v6());
        m_peerAddr = addr.to_string();
        m_peerPort = ep.port();
        m_sock.set_option(tcp::no_delay(true), ec);
        return true;
    }

    void attach(std::shared_ptr<LinkHandler> h, std::weak_ptr<ListenerImpl> owner, uint64_t key) {
        m_handler = std::move(h);
        m_owner = std::move(owner);
        m_key = key;
    }

    void startRead() {
        if (m_closed || m_paused || m_reading) return;
        m_reading = true;
        auto self = shared_from_this();
        m_sock.async_read_some(asio::buffer(m_rbuf),
                               [self](const std::error_code& ec, size_t n) { self->onRead(ec, n); });
    }

    void send(const Json::Value& msg) override {
        if (m_closed || m_finished) return;
        sendRaw(vexawire::encodeFrame(msg));
    }

    void sendRaw(std::string frame) override {
        if (m_closed || m_finished) return;
        m_outBytes += frame.size();
        m_outq.push_back(std::move(frame));
        if (m_outBytes > kMaxQueuedBytes) {
            RunLog_Write(4, m_module, "peer %s:%u does not read, dropping it", m_peerAddr.c_str(), m_peerPort);
            failLater("peer does not read");
            return;
        }
        if (!m_writing) doWrite();
    }

    void close() override {
        if (m_closed) return;
        m_closed = true;
        m_timer.cancel();
        m_handler.reset();
        if (m_outq.empty() && !m_writing) {
            finish();
        } else {
            auto self = shared_from_this();
            m_linger.expires_after(kLinger);
            m_linger.async_wait([self](const std::error_code& ec) {
                if (!ec) self->finish();
            });
        }
    }

    bool isClosed() const override { return m_closed; }

    void armTimer(uint64_t ms, bool resetOnFrame) override {
        m_timerMs = ms > kMaxTimerMs ? kMaxTimerMs : ms;
        m_timerReset = resetOnFrame;
        restartTimer();
    }

    const std::string& peerAddress() const override { return m_peerAddr; }
    uint16_t peerPort() const override { return m_peerPort; }
    void setFrameLimit(uint32_t maxLen) override { m_dec.setMaxLen(maxLen); }

    void pauseReading() override { m_paused = true; }

    void resumeReading() override {
        if (!m_paused) return;
        m_paused = false;
        if (m_closed) return;
        // Not from inside the handler's own call: deliver the buffered frames on a fresh turn.
        auto self = shared_from_this();
        asio::post(m_sock.get_executor(), [self] {
            if (self->m_closed || self->m_paused) return;
            self->drain();
            self->startRead();
        });
    }

    void after(uint64_t ms, std::function<void()> fn) override {
        ++m_laterGen;
        m_later.cancel();
        if (m_closed || !fn) return;
        m_later.expires_after(std::chrono::milliseconds(static_cast<int64_t>(ms > kMaxTimerMs ? kMaxTimerMs : ms)));
        auto self = shared_from_this();
        const uint64_t gen = m_laterGen;
        m_later.async_wait([self, gen, fn = std::move(fn)](const std::error_code& ec) {
            if (ec || gen != self->m_laterGen || self->m_closed) return;
            fn();
        });
    }

    // Listener or engine going away: tell the handler, then drop the socket at once.
    void shutdown() {
        if (!m_closed) {
            m_closed = true;
            auto h = std::move(m_handler);
            try {
                if (h) h->onShutdown();
            } catch (...) {
            }
        }
        finish();
    }

private:
    void restartTimer() {
        ++m_timerGen;
        m_timer.cancel();
        if (m_closed || m_timerMs == 0) return;
        m_timer.expires_after(std::chrono::milliseconds(static_cast<int64_t>(m_timerMs)));
        auto self = shared_from_this();
        const uint64_t gen = m_timerGen;
        m_timer.async_wait([self, gen](const std::error_code& ec) {
            if (ec || gen != self->m_timerGen || self->m_closed) return;
            auto h = self->m_handler;
            if (h) h->onTimer();
        });
    }

    void onRead(const std::error_code& ec, size_t n) {
        m_reading = false;
        if (m_closed) return;
        if (ec) {
            peerGone(ec == asio::error::eof ? std::string("closed by peer") : ec.message());
            return;
        }
        m_dec.feed(m_rbuf.data(), n);
        drain();
        startRead();
    }

    // Hands the complete frames in the decoder to the handler until it pauses or closes.
    void drain() {
        Json::Value msg;
        std::string why;
        while (!m_closed && !m_paused) {
            const auto r = m_dec.next(msg, why);
            if (r == vexawire::FrameDecoder::Result::NeedMore) break;
            auto h = m_handler;
            if (r == vexawire::FrameDecoder::Result::Error) {
                if (h) h->onBadFrame(why);
                close();
                return;
            }
            if (m_timerReset) restartTimer();
            if (h) h->onFrame(msg);
        }
    }

    void peerGone(const std::string& why) {
        if (m_closed) return;
        m_closed = true;
        auto h = std::move(m_handler);
        finish();
        if (h) h->onPeerClosed(why);
    }

    void failLater(const std::string& why) {
        auto self = shared_from_this();
        asio::post(m_sock.get_executor(), [self, why] { self->peerGone(why); });
    }

    void doWrite() {
        if (m_outq.empty() || m_finished) return;
        m_writing = true;
        auto self = shared_from_this();
        asio::async_write(m_sock, asio::buffer(m_outq.front()), [self](const std::error_code& ec, size_t) {
            self->m_writing = false;
            if (self->m_finished) return;
            if (ec) {
                if (self->m_closed)
                    self->finish();
                else
                    self->peerGone(ec.message());
                return;
            }
            self->m_outBytes -= self->m_outq.front().size();
            self->m_outq.pop_front();
            if (!self->m_outq.empty())
                self->doWrite();
            else if (self->m_closed)
                self->finish();
        });
    }

    void finish();

    const char* m_module;
    tcp::socket m_sock;
    asio::steady_timer m_timer;
    asio::steady_timer m_linger;
    asio::steady_timer m_later;
    uint64_t m_laterGen = 0;
    std::vector<char> m_rbuf;
    vexawire::FrameDecoder m_dec;
    std::shared_ptr<LinkHandler> m_handler;
    std::weak_ptr<ListenerImpl> m_owner;
    uint64_t m_key = 0;
    std::deque<std::string> m_outq;
    size_t m_outBytes = 0;
    bool m_writing = false;
    bool m_reading = false;
    bool m_paused = false;
    bool m_closed = false;    // no more handler calls
    bool m_finished = false;  // socket gone
    uint64_t m_timerMs = 0;
    bool m_timerReset = false;
    uint64_t m_timerGen = 0;
    std::string m_peerAddr;
    uint16_t m_peerPort = 0;
};

class ListenerImpl final : public std::enable_shared_from_this<ListenerImpl> {
public:
    ListenerImpl(const char* module, asio::io_context& io, int id, LinkFactory f)
        : m_module(module), m_acc(io), m_retry(io), m_id(id), m_factory(std::move(f)) {}

    bool open(const std::string& ip, uint16_t port, uint16_t& bound, std::string& err) {
        std::error_code ec;
        asio::ip::address addr = ip.empty() ? asio::ip::address(asio::ip::address_v4::any())
                                            : asio::ip::make_address(ip, ec);
        if (ec) {
            err = "bad listen address '" + ip + "'";
            return false;
        }
        tcp::endpoint ep(addr, port);
        m_acc.open(ep.protocol(), ec);
        if (!ec) m_acc.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec) m_acc.bind(ep, ec);
        if (!ec) m_acc.listen(asio::socket_base::max_listen_connections, ec);
        if (!ec) {
            auto local = m_acc.local_endpoint(ec);
            if (!ec) bound = m_port = local.port();
        }
        if (ec) {
            err = ec.message();
            std::error_code ignore;
            m_acc.close(ignore);
            return false;
        }
        return true;
    }

    void accept() {
        if (m_closed) return;
        auto self = shared_from_this();
        m_acc.async_accept([self](const std::error_code& ec, tcp::socket sock) { self->onAccept(ec, std::move(sock)); });
    }

    void forget(uint64_t key) { m_links.erase(key); }

    void close() {
        if (m_closed) return;
        m_closed = true;
        std::error_code ec;
        m_acc.close(ec);
        m_retry.cancel();
        auto links = std::move(m_links);
        m_links.clear();
        for (auto& kv : links)
            if (auto l = kv.second.lock()) l->shutdown();
    }

    uint16_t port() const { return m_port; }

private:
    void onAccept(const std::error_code& ec, tcp::socket sock) {
        if (m_closed) return;
        if (ec) {
            if (ec == asio::error::operation_aborted) return;
            // Out of descriptors and the like: back off instead of spinning.
            RunLog_Write(5, m_module, "accept failed on port %u: %s", m_port, ec.message().c_str());
            auto self = shared_from_this();
            m_retry.expires_after(std::chrono::milliseconds(100));
            m_retry.async_wait([self](const std::error_code& e) {
                if (!e) self->accept();
            });
            return;
        }
        auto link = std::make_shared<LinkImpl>(m_module, std::move(sock));
        if (link->init()) {
            std::shared_ptr<LinkHandler> h;
            try {
                h = m_factory(link, m_id);
            } catch (const std::exception& e) {
                RunLog_Write(5, m_module, "connection set-up failed: %s", e.what());
            }
            if (h) {
                const uint64_t key = ++m_nextKey;
                link->attach(std::move(h), shared_from_this(), key);
                m_links[key] = link;
                link->startRead();
            }
        }
        accept();
    }

    const char* m_module;
    tcp::acceptor m_acc;
    asio::steady_timer m_retry;
    int m_id;
    LinkFactory m_factory;
    std::map<uint64_t, std::weak_ptr<LinkImpl>> m_links;
    uint64_t m_nextKey = 0;
    bool m_closed = false;
    uint16_t m_port = 0;
};

void LinkImpl::finish() {
    if (m_finished) return;
    m_finished = true;
    m_timer.cancel();
    m_linger.cancel();
    m_later.cancel();
    std::error_code ec;
    m_sock.shutdown(tcp::socket::shutdown_both, ec);
    m_sock.close(ec);
    m_outq.clear();
    m_outBytes = 0;
    if (auto owner = m_owner.lock()) owner->forget(m_key);
}

}  // namespace

struct Engine::Impl {
    explicit Impl(const char* m) : module(m) {}
    const char* module;
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard;
    std::thread thread;
    std::atomic<std::thread::id> ioId{};
    mutable std::mutex mu;  // listeners, stopped
    std::map<int, std::shared_ptr<ListenerImpl>> listeners;
    int nextId = 0;
    bool stopped = true;

    // False when the engine no longer runs posted work.
    bool tryPost(std::function<void()> fn) {
        std::lock_guard<std::mutex> lk(mu);
        if (stopped) return false;
        asio::post(io, std::move(fn));
        return true;
    }
};

Engine::Engine(const char* module) : m_impl(std::make_unique<Impl>(module)) {}

Engine::~Engine() { stop(); }

bool Engine::start() {
    Impl& d = *m_impl;
    if (d.thread.joinable()) return true;
    d.io.restart();
    d.guard.emplace(asio::make_work_guard(d.io));
    {
        std::lock_guard<std::mutex> lk(d.mu);
        d.stopped = false;
    }
    try {
        d.thread = std::thread([&d] {
            d.ioId.store(std::this_thread::get_id());
            for (;;) {
                try {
                    d.io.run();
                    break;
                } catch (const std::exception& e) {
                    // A handler let something escape: keep serving the others.
                    RunLog_Write(5, d.module, "I/O thread caught: %s", e.what());
                } catch (...) {
                    RunLog_Write(5, d.module, "I/O thread caught an unknown exception");
                }
            }
        });
    } catch (const std::exception& e) {
        RunLog_Write(5, d.module, "cannot start the I/O thread: %s", e.what());
        std::lock_guard<std::mutex> lk(d.mu);
        d.stopped = true;
        d.guard.reset();
        return false;
    }
    return true;
}

void Engine::stop() {
    Impl& d = *m_impl;
    if (!d.thread.joinable()) return;
    runSync([&d] {
        std::map<int, std::shared_ptr<ListenerImpl>> all;
        {
            std::lock_guard<std::mutex> lk(d.mu);
            all.swap(d.listeners);
        }
        for (auto& kv : all) kv.second->close();
    });
    {
        std::lock_guard<std::mutex> lk(d.mu);
        d.stopped = true;
    }
    d.guard.reset();
    d.io.stop();
    d.thread.join();
    // Run what was queued before the stop (waiters of runSync, closed links' completions) here.
    d.ioId.store(std::this_thread::get_id());
    d.io.restart();
    try {
        d.io.poll();
    } catch (...) {
    }
    d.ioId.store(std::thread::id());
}

bool Engine::onIoThread() const { return m_impl->ioId.load() == std::this_thread::get_id(); }

void Engine::post(std::function<void()> fn) { m_impl->tryPost(std::move(fn)); }

void Engine::runSync(const std::function<void()>& fn) {
    if (onIoThread()) {
        fn();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto fut = done->get_future();
    const bool posted = m_impl->tryPost([&fn, done] {
        try {
            fn();
        } catch (...) {
        }
        done->set_value();
    });
    if (!posted) {
        fn();
        return;
    }
    fut.wait();
}

int Engine::listen(const std::string& ip, uint16_t port, LinkFactory factory, uint16_t& boundPort, std::string& err) {
    Impl& d = *m_impl;
    int id = -1;
    runSync([&] {
        int myId;
        {
            std::lock_guard<std::mutex> lk(d.mu);
            if (d.stopped) {
                err = "library not running";
                return;
            }
            myId = d.nextId;
            d.nextId = d.nextId == INT32_MAX ? 0 : d.nextId + 1;
        }
        auto l = std::make_shared<ListenerImpl>(d.module, d.io, myId, std::move(factory));
        if (!l->open(ip, port, boundPort, err)) return;
        {
            std::lock_guard<std::mutex> lk(d.mu);
            d.listeners[myId] = l;
        }
        l->accept();
        id = myId;
    });
    return id;
}

bool Engine::closeListener(int id) {
    Impl& d = *m_impl;
    bool found = false;
    runSync([&] {
        std::shared_ptr<ListenerImpl> l;
        {
            std::lock_guard<std::mutex> lk(d.mu);
            auto it = d.listeners.find(id);
            if (it == d.listeners.end()) return;
            l = it->second;
            d.listeners.erase(it);
        }
        found = true;
        l->close();
    });
    return found;
}

uint16_t Engine::listenPort(int id) const {
    std::lock_guard<std::mutex> lk(m_impl->mu);
    auto it = m_impl->listeners.find(id);
    return it == m_impl->listeners.end() ? 0 : it->second->port();
}

}  // namespace vexasdk
