#include "Transport.h"

#include "Admission.h"

#include "WireFrame.h"
#include "runlog.h"

#include <asio.hpp>

#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
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

// One read pass takes at most this much from a busy socket, through a per-thread buffer, so a
// burst of small frames costs a few reads and no link holds a buffer of its own.
constexpr size_t kReadPassMax = 64 * 1024;
// Frames written during one read pass leave together up to this size.
constexpr size_t kBatchMax = 64 * 1024;
// A peer that does not read its answers must not make us buffer without end.
constexpr size_t kMaxQueuedBytes = 16u * 1024 * 1024;
// How long a closing link may take to flush its last frames (refused, forcedLogout).
constexpr auto kLinger = std::chrono::seconds(5);
// Far enough to mean "never" without overflowing the clock arithmetic.
constexpr uint64_t kMaxTimerMs = 1000ull * 3600 * 24 * 365 * 10;

class ListenerImpl;
class LinkImpl;

// One thread of the pool with its own io_context: the links it owns live only here, so their
// handler calls never overlap and the sweep needs no lock.
struct Worker {
    explicit Worker(const Engine::Impl* e) : engine(e) {}
    const Engine::Impl* engine;
    asio::io_context io{1};
    asio::steady_timer sweep{io};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard;
    std::thread thread;
    std::vector<std::weak_ptr<LinkImpl>> links;  // links with a place in the sweep
    // Beside each link: the steady-clock millisecond before which the sweep need not look at it.
    // Frames only move a time-out later, so a link is looked at about once per time-out, not on
    // every pass, and the pass reads one array instead of touching every link.
    std::vector<int64_t> lookAt;

    void armSweep();
    void dropSlot(size_t i);
};

int64_t steadyMs(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// How often a link without a time-out is still looked at: a link dropped without finishing
// leaves its place then.
constexpr int64_t kIdleLookMs = 10000;

thread_local const Engine::Impl* t_engine = nullptr;
thread_local Worker* t_worker = nullptr;

class LinkImpl final : public Link, public std::enable_shared_from_this<LinkImpl> {
public:
    LinkImpl(const char* module, tcp::socket sock, Worker& w)
        : m_module(module), m_worker(w), m_sock(std::move(sock)), m_linger(m_sock.get_executor()),
          m_later(m_sock.get_executor()) {
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
        m_fd = m_sock.native_handle();
        return true;
    }

    void attach(std::shared_ptr<LinkHandler> h, std::weak_ptr<ListenerImpl> owner, uint64_t key) {
        m_handler = std::move(h);
        m_owner = std::move(owner);
        m_key = key;
    }

    // On the owning thread: joins the sweep and starts reading.
    void start() {
        if (m_closed) return;
        m_slot = m_worker.links.size();
        m_worker.links.push_back(shared_from_this());
        m_worker.lookAt.push_back(nextLook(std::chrono::steady_clock::now()));
        startRead();
    }

    // A socket the last pass emptied is waited on; one that may hold bytes no readiness event
    // will announce again (new, resumed, or left full) is read on a fresh turn. Waiting first
    // spares the read that finds nothing, a system call per frame. The link's descriptor lives
    // on this one thread's reactor, so readiness that comes before the wait is registered is
    // still reported to it.
    void startRead() {
        if (m_closed || m_paused || m_reading) return;
        if (!m_gone.empty()) {
            peerGone(m_gone);
            return;
        }
        m_reading = true;
        auto self = shared_from_this();
        if (m_drained)
            m_sock.async_wait(tcp::socket::wait_read, [self](const std::error_code& ec) { self->onReadable(ec); });
        else
            asio::post(m_sock.get_executor(), [self] { self->onReadable({}); });
    }

    void send(const Json::Value& msg) override {
        if (m_closed) return;
        write(vexawire::encodeFrame(msg));
    }

    void sendRaw(std::string frame) override { write(std::move(frame)); }

    bool write(std::string frame) override {
        std::unique_lock<std::mutex> lk(m_wmu);
        if (m_closed || m_finished) return false;
        // While the owning thread hands a read pass to the handler, frames gather (from any
        // thread, in call order) and leave in one write at the end of the pass.
        if (m_batching) {
            if (m_batch.empty())
                m_batch = std::move(frame);
            else
                m_batch += frame;
            if (m_batch.size() < kBatchMax) return true;
            std::string b;
            b.swap(m_batch);  // a large pass goes out in parts, still in order
            return writeLocked(lk, std::move(b));
        }
        return writeLocked(lk, std::move(frame));
    }

    // Under m_wmu (held by lk): the write itself.
    bool writeLocked(std::unique_lock<std::mutex>& lk, std::string frame) {
        size_t done = 0;
        if (m_outq.empty() && !m_writing) {
            const ssize_t n = ::send(m_fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n == static_cast<ssize_t>(frame.size())) return true;
            if (n >= 0) {
                done = static_cast<size_t>(n);
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                const std::string why = std::error_code(errno, std::generic_category()).message();
                lk.unlock();
                failLater(why);
                return true;
            }
        }
        if (done) frame.erase(0, done);
        m_outBytes += frame.size();
        m_outq.push_back(std::move(frame));
        if (m_outBytes > kMaxQueuedBytes) {
            lk.unlock();
            RunLog_Write(4, m_module, "peer %s:%u does not read, dropping it", m_peerAddr.c_str(), m_peerPort);
            failLater("peer does not read");
            return true;
        }
        if (!m_writing) {
            m_writing = true;
            if (t_worker == &m_worker) {
                writeFront();
            } else {
                auto self = shared_from_this();
                asio::post(m_worker.io, [self] {
                    std::lock_guard<std::mutex> g(self->m_wmu);
                    self->writeFront();
                });
            }
        }
        return true;
    }

    void post(std::function<void()> fn) override {
        auto self = shared_from_this();
        asio::post(m_worker.io, [self, fn = std::move(fn)] { fn(); });
    }

    void close() override {
        if (m_closed) return;
        endBatch();  // what the handler sent before closing still goes out first
        m_closed = true;
        m_timerMs = 0;
        m_handler.reset();
        bool idle;
        {
            std::lock_guard<std::mutex> lk(m_wmu);
            idle = m_outq.empty() && !m_writing;
        }
        if (idle) {
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
        m_armedAt = m_lastFrame = std::chrono::steady_clock::now();
        if (t_worker == &m_worker) {
            if (m_slot < m_worker.lookAt.size()) m_worker.lookAt[m_slot] = nextLook(m_armedAt);
        } else {
            auto self = shared_from_this();
            asio::post(m_worker.io, [self] {
                if (self->m_slot < self->m_worker.lookAt.size())
                    self->m_worker.lookAt[self->m_slot] = self->nextLook(std::chrono::steady_clock::now());
            });
        }
    }

    const std::string& peerAddress() const override { return m_peerAddr; }
    uint16_t peerPort() const override { return m_peerPort; }
    void setFrameLimit(uint32_t maxLen) override { m_dec.setMaxLen(maxLen); }

    void pauseReading() override {
        m_paused = true;
        m_drained = false;  // readiness seen while paused finds no reader
    }

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

    // The sweep: whether the armed time-out passed by now.
    bool due(std::chrono::steady_clock::time_point now) const {
        if (m_timerMs == 0 || m_closed) return false;
        return now - timedFrom() >= std::chrono::milliseconds(static_cast<int64_t>(m_timerMs));
    }

    // Where the armed time-out counts from: the last frame, when frames reset it.
    std::chrono::steady_clock::time_point timedFrom() const {
        return m_timerReset && m_lastFrame > m_armedAt ? m_lastFrame : m_armedAt;
    }

    // The earliest the time-out can be due; frames since only make it later.
    int64_t nextLook(std::chrono::steady_clock::time_point now) const {
        if (m_timerMs == 0 || m_closed) return steadyMs(now) + kIdleLookMs;
        return steadyMs(timedFrom()) + static_cast<int64_t>(m_timerMs);
    }

    void fireTimer() {
        m_timerMs = 0;  // once, like a timer that ran out
        auto h = m_handler;
        if (h && !m_closed) h->onTimer();
    }

    Worker& worker() { return m_worker; }
    size_t m_slot = SIZE_MAX;  // place in the worker's links, owning thread only

private:
    void onReadable(const std::error_code& ec) {
        m_reading = false;
        if (m_closed) return;
        if (ec) {
            peerGone(ec.message());
            return;
        }
        // Up to one pass's worth of what is there now; the frames read before an end or an error
        // are still handed on.
        thread_local std::vector<char> buf(kReadPassMax);
        size_t got = 0;
        std::string gone;
        m_drained = false;
        while (got < kReadPassMax) {
            const size_t want = kReadPassMax - got;
            const ssize_t r = ::recv(m_fd, buf.data(), want, MSG_DONTWAIT);
            if (r > 0) {
                m_dec.feed(buf.data(), static_cast<size_t>(r));
                got += static_cast<size_t>(r);
                if (static_cast<size_t>(r) < want) {
                    m_drained = true;
                    break;
                }
            } else if (r == 0) {
                gone = "closed by peer";
                break;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_drained = true;
                break;
            } else if (errno != EINTR) {
                gone = std::error_code(errno, std::system_category()).message();
                break;
            }
        }
        if (got) drain();
        if (!gone.empty()) {
            m_gone = std::move(gone);  // after the frames a paused handler has yet to take
            if (m_paused) return;
        }
        startRead();
    }

    void beginBatch() {
        std::lock_guard<std::mutex> lk(m_wmu);
        m_batching = true;
    }

    void endBatch() {
        std::unique_lock<std::mutex> lk(m_wmu);
        if (!m_batching) return;
        m_batching = false;
        if (m_batch.empty() || m_finished) {
            m_batch.clear();
            return;
        }
        std::string b;
        b.swap(m_batch);
        writeLocked(lk, std::move(b));
    }

    // Hands the complete frames in the decoder to the handler until it pauses or closes.
    void drain() {
        beginBatch();
        drainFrames();
        endBatch();
    }

    void drainFrames() {
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
            if (m_timerReset && m_timerMs) m_lastFrame = std::chrono::steady_clock::now();
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
        asio::post(m_worker.io, [self, why] { self->peerGone(why); });
    }

    // Under m_wmu, on the owning thread, with m_writing set: writes the queue's front.
    void writeFront() {
        if (m_finished || m_outq.empty()) {
            m_writing = false;
            return;
        }
        auto self = shared_from_this();
        // Callers only append to the queue, which leaves its front element in place.
        asio::async_write(m_sock, asio::buffer(m_outq.front()),
                          [self](const std::error_code& ec, size_t) { self->onWritten(ec); });
    }

    void onWritten(const std::error_code& ec) {
        bool fin = false;
        {
            std::lock_guard<std::mutex> lk(m_wmu);
            if (m_finished) {
                m_writing = false;
                return;
            }
            if (!ec) {
                m_outBytes -= m_outq.front().size();
                m_outq.pop_front();
                if (!m_outq.empty()) return writeFront();
            }
            m_writing = false;
            fin = m_closed || ec;
        }
        if (!fin) return;
        if (ec && !m_closed)
            peerGone(ec.message());
        else
            finish();
    }

    void finish();

    const char* m_module;
    Worker& m_worker;
    Admission::FdToken m_fdToken;  // counted as the library's own descriptor while alive
    tcp::socket m_sock;
    asio::steady_timer m_linger;
    asio::steady_timer m_later;
    uint64_t m_laterGen = 0;
    vexawire::FrameDecoder m_dec;
    std::shared_ptr<LinkHandler> m_handler;
    std::weak_ptr<ListenerImpl> m_owner;
    uint64_t m_key = 0;
    std::mutex m_wmu;  // the queue, the writing flag and the socket's end, for writers on any thread
    std::deque<std::string> m_outq;
    std::string m_batch;     // frames of the current read pass, not yet handed to the socket
    bool m_batching = false;
    size_t m_outBytes = 0;
    bool m_writing = false;
    bool m_finished = false;  // socket gone
    int m_fd = -1;
    bool m_reading = false;
    bool m_drained = false;  // the last read pass emptied the socket
    std::string m_gone;      // why the peer's end closed, once its frames are handed on
    bool m_paused = false;
    std::atomic<bool> m_closed{false};  // no more handler calls
    uint64_t m_timerMs = 0;
    bool m_timerReset = false;
    std::chrono::steady_clock::time_point m_armedAt;
    std::chrono::steady_clock::time_point m_lastFrame;
    std::string m_peerAddr;
    uint16_t m_peerPort = 0;
};

// Once per kSweepMs: reading the due times of thousands of links is a few microseconds, and
// only the few that may be due are looked at.
void Worker::armSweep() {
    sweep.expires_after(std::chrono::milliseconds(kSweepMs));
    sweep.async_wait([this](const std::error_code& ec) {
        if (ec) return;
        Admission::instance().flushLine();
        const auto now = std::chrono::steady_clock::now();
        const int64_t nowMs = steadyMs(now);
        std::vector<std::shared_ptr<LinkImpl>> due;
        for (size_t i = 0; i < links.size();) {
            if (lookAt[i] > nowMs) {
                ++i;
                continue;
            }
            auto l = links[i].lock();
            if (!l) {  // dropped without finishing: forget its place
                dropSlot(i);
                continue;
            }
            if (l->due(now))
                due.push_back(std::move(l));
            else
                lookAt[i] = l->nextLook(now);
            ++i;
        }
        // Handlers close links (and so leave the list) while they run.
        for (auto& l : due) l->fireTimer();
        armSweep();
    });
}

class ListenerImpl final : public std::enable_shared_from_this<ListenerImpl> {
public:
    // The acceptor lives on `home`; accepted links go to the threads of `pool` in turn.
    ListenerImpl(const char* module, Worker& home, std::vector<Worker*> pool, int id, LinkFactory f)
        : m_module(module), m_home(home), m_pool(std::move(pool)), m_acc(home.io), m_retry(home.io), m_id(id),
          m_factory(std::move(f)) {}

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
        if (!ec) Admission::instance().listenerOpened(m_acc.native_handle());
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

    // On the home thread.
    void accept() {
        if (m_closed) return;
        auto self = shared_from_this();
        m_acceptWorker = m_pool[m_nextWorker++ % m_pool.size()];
        m_acc.async_accept(asio::any_io_executor(m_acceptWorker->io.get_executor()),
                           [self](const std::error_code& ec, tcp::socket sock) { self->onAccept(ec, std::move(sock)); });
    }

    // From a link's thread.
    void forget(uint64_t key) {
        std::lock_guard<std::mutex> lk(m_linksMu);
        m_links.erase(key);
    }

    // On the home thread (or before accepting): returns the live links, which the caller ends
    // on their own threads.
    std::vector<std::shared_ptr<LinkImpl>> close() {
        std::vector<std::shared_ptr<LinkImpl>> out;
        if (m_closed) return out;
        m_closed = true;
        std::error_code ec;
        m_acc.close(ec);
        m_retry.cancel();
        std::map<uint64_t, std::weak_ptr<LinkImpl>> links;
        {
            std::lock_guard<std::mutex> lk(m_linksMu);
            links.swap(m_links);
        }
        for (auto& kv : links)
            if (auto l = kv.second.lock()) out.push_back(std::move(l));
        return out;
    }

    uint16_t port() const { return m_port; }
    Worker& home() { return m_home; }

private:
    void onAccept(const std::error_code& ec, tcp::socket sock) {
        if (m_closed) return;
        if (ec) {
            if (ec == asio::error::operation_aborted) return;
            // Out of descriptors: the waiting connection is taken and closed, so the device
            // sees a close and retries instead of sitting in the queue.
            if ((ec.value() == EMFILE || ec.value() == ENFILE) &&
                Admission::instance().shedWaiting(m_acc.native_handle())) {
                accept();
                return;
            }
            // Otherwise back off instead of spinning, with a line every ten seconds at most.
            const auto now = std::chrono::steady_clock::now();
            if (m_failLogged == std::chrono::steady_clock::time_point() || now - m_failLogged >= std::chrono::seconds(10)) {
                m_failLogged = now;
                RunLog_Write(5, m_module, "accept failed on port %u: %s", m_port, ec.message().c_str());
            }
            auto self = shared_from_this();
            m_retry.expires_after(std::chrono::milliseconds(100));
            m_retry.async_wait([self](const std::error_code& e) {
                if (!e) self->accept();
            });
            return;
        }
        if (!Admission::instance().keepAccepted(sock.native_handle())) {
            std::error_code ignore;
            sock.close(ignore);  // the device sees a close and retries
            accept();
            return;
        }
        auto link = std::make_shared<LinkImpl>(m_module, std::move(sock), *m_acceptWorker);
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
                {
                    std::lock_guard<std::mutex> lk(m_linksMu);
                    m_links[key] = link;
                }
                asio::post(m_acceptWorker->io, [link] { link->start(); });
            }
        }
        accept();
    }

    const char* m_module;
    Worker& m_home;
    std::vector<Worker*> m_pool;
    Worker* m_acceptWorker = nullptr;  // where the accept under way puts its link
    size_t m_nextWorker = 0;
    Admission::FdToken m_fdToken;
    tcp::acceptor m_acc;
    asio::steady_timer m_retry;
    std::chrono::steady_clock::time_point m_failLogged;
    int m_id;
    LinkFactory m_factory;
    std::mutex m_linksMu;
    std::map<uint64_t, std::weak_ptr<LinkImpl>> m_links;
    uint64_t m_nextKey = 0;
    bool m_closed = false;
    uint16_t m_port = 0;
};

void LinkImpl::finish() {
    {
        // A writer on another thread never sees the descriptor after this.
        std::lock_guard<std::mutex> lk(m_wmu);
        if (m_finished) return;
        m_finished = true;
        std::error_code ec;
        m_sock.shutdown(tcp::socket::shutdown_both, ec);
        m_sock.close(ec);
        m_fd = -1;
        m_outq.clear();
        m_batch.clear();
        m_outBytes = 0;
    }
    m_timerMs = 0;
    m_linger.cancel();
    m_later.cancel();
    if (m_slot < m_worker.links.size()) m_worker.dropSlot(m_slot);
    m_slot = SIZE_MAX;
    if (auto owner = m_owner.lock()) owner->forget(m_key);
}

void Worker::dropSlot(size_t i) {
    links[i] = std::move(links.back());
    links.pop_back();
    lookAt[i] = lookAt.back();
    lookAt.pop_back();
    if (i < links.size())
        if (auto moved = links[i].lock()) moved->m_slot = i;
}

// Waits for a number of completions that may happen on other threads.
struct Countdown {
    std::mutex mu;
    std::condition_variable cv;
    size_t left = 1;
    void add(size_t n) {
        std::lock_guard<std::mutex> lk(mu);
        left += n;
    }
    void done() {
        std::lock_guard<std::mutex> lk(mu);
        if (left && --left == 0) cv.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lk(mu);
        cv.wait(lk, [this] { return left == 0; });
    }
};

}  // namespace

struct Engine::Impl {
    Impl(const char* m, unsigned n) : module(m), threads(n) {}
    const char* module;
    unsigned threads;
    std::vector<std::unique_ptr<Worker>> workers;
    std::atomic<unsigned> nextPost{0};
    mutable std::mutex mu;  // listeners, stopped
    std::map<int, std::shared_ptr<ListenerImpl>> listeners;
    int nextId = 0;
    bool stopped = true;

    // False when the engine no longer runs posted work.
    bool tryPost(std::function<void()> fn) {
        std::lock_guard<std::mutex> lk(mu);
        if (stopped) return false;
        asio::post(workers[nextPost.fetch_add(1) % workers.size()]->io, std::move(fn));
        return true;
    }

    std::vector<Worker*> pool() const {
        std::vector<Worker*> v;
        for (auto& w : workers) v.push_back(w.get());
        return v;
    }

    // Closes l on its own thread and ends its links on theirs; from outside the pool it waits
    // until all of that is done.
    void closeListener(const std::shared_ptr<ListenerImpl>& l) {
        auto cd = std::make_shared<Countdown>();
        auto run = [l, cd] {
            auto links = l->close();
            cd->add(links.size());
            for (auto& k : links) {
                if (t_worker == &k->worker()) {
                    k->shutdown();
                    cd->done();
                } else {
                    asio::post(k->worker().io, [k, cd] {
                        k->shutdown();
                        cd->done();
                    });
                }
            }
            cd->done();
        };
        if (t_worker == &l->home())
            run();
        else
            asio::post(l->home().io, run);
        if (t_engine != this) cd->wait();
    }
};

Engine::Engine(const char* module, unsigned threads) : m_impl(std::make_unique<Impl>(module, threads)) {}

Engine::~Engine() { stop(); }

unsigned Engine::threads() const { return static_cast<unsigned>(m_impl->workers.size()); }

bool Engine::start() {
    Impl& d = *m_impl;
    if (!d.workers.empty()) return !d.stopped;
    unsigned n = d.threads ? d.threads : std::thread::hardware_concurrency();
    if (n == 0) n = 1;
    for (unsigned i = 0; i < n; ++i) {
        d.workers.push_back(std::make_unique<Worker>(&d));
        Worker& w = *d.workers.back();
        w.guard.emplace(asio::make_work_guard(w.io));
        w.armSweep();
    }
    {
        std::lock_guard<std::mutex> lk(d.mu);
        d.stopped = false;
    }
    try {
        for (auto& wp : d.workers) {
            Worker* w = wp.get();
            w->thread = std::thread([&d, w] {
                t_engine = &d;
                t_worker = w;
                for (;;) {
                    try {
                        w->io.run();
                        break;
                    } catch (const std::exception& e) {
                        // A handler let something escape: keep serving the others.
                        RunLog_Write(5, d.module, "I/O thread caught: %s", e.what());
                    } catch (...) {
                        RunLog_Write(5, d.module, "I/O thread caught an unknown exception");
                    }
                }
            });
        }
    } catch (const std::exception& e) {
        RunLog_Write(5, d.module, "cannot start the I/O threads: %s", e.what());
        {
            std::lock_guard<std::mutex> lk(d.mu);
            d.stopped = true;
        }
        for (auto& w : d.workers) {
            w->guard.reset();
            w->io.stop();
            if (w->thread.joinable()) w->thread.join();
        }
        return false;
    }
    return true;
}

void Engine::stop() {
    Impl& d = *m_impl;
    std::map<int, std::shared_ptr<ListenerImpl>> all;
    {
        std::lock_guard<std::mutex> lk(d.mu);
        if (d.stopped) return;
        all.swap(d.listeners);
    }
    for (auto& kv : all) d.closeListener(kv.second);
    {
        std::lock_guard<std::mutex> lk(d.mu);
        d.stopped = true;
    }
    for (auto& w : d.workers) {
        w->guard.reset();
        w->io.stop();
    }
    for (auto& w : d.workers)
        if (w->thread.joinable()) w->thread.join();
    // Run what was queued before the stop (waiters, closed links' completions) here, each on
    // behalf of its own thread; work may hop between the threads' queues.
    for (auto& w : d.workers) w->sweep.cancel();
    for (bool ran = true; ran;) {
        ran = false;
        for (auto& w : d.workers) {
            t_engine = &d;
            t_worker = w.get();
            w->io.restart();
            try {
                if (w->io.poll()) ran = true;
            } catch (...) {
                ran = true;
            }
        }
    }
    t_engine = nullptr;
    t_worker = nullptr;
}

bool Engine::onIoThread() const { return t_engine == m_impl.get(); }

const char* Engine::currentModule() { return t_engine ? t_engine->module : nullptr; }

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
    int myId;
    Worker* home;
    {
        std::lock_guard<std::mutex> lk(d.mu);
        if (d.stopped) {
            err = "library not running";
            return -1;
        }
        myId = d.nextId;
        d.nextId = d.nextId == INT32_MAX ? 0 : d.nextId + 1;
        home = d.workers[static_cast<size_t>(myId) % d.workers.size()].get();
    }
    auto l = std::make_shared<ListenerImpl>(d.module, *home, d.pool(), myId, std::move(factory));
    if (!l->open(ip, port, boundPort, err)) return -1;
    {
        std::lock_guard<std::mutex> lk(d.mu);
        if (d.stopped) {
            err = "library not running";
            l->close();
            return -1;
        }
        d.listeners[myId] = l;
    }
    asio::post(home->io, [l] { l->accept(); });
    return myId;
}

bool Engine::closeListener(int id) {
    Impl& d = *m_impl;
    std::shared_ptr<ListenerImpl> l;
    {
        std::lock_guard<std::mutex> lk(d.mu);
        auto it = d.listeners.find(id);
        if (it == d.listeners.end()) return false;
        l = it->second;
        d.listeners.erase(it);
    }
    d.closeListener(l);
    return true;
}

uint16_t Engine::listenPort(int id) const {
    std::lock_guard<std::mutex> lk(m_impl->mu);
    auto it = m_impl->listeners.find(id);
    return it == m_impl->listeners.end() ? 0 : it->second->port();
}

}  // namespace vexasdk
