#include "devsim/Simulator.h"

#include "SimInternal.h"
#include "WireFrame.h"
#include "WireNames.h"
#include "devsim/AlarmTexts.h"
#include "runlog.h"

#include <asio.hpp>

#include <sys/resource.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <cmath>
#include <deque>
#include <list>
#include <optional>
#include <set>
#include <thread>

namespace devsim {

namespace wtype = vexawire::type;
namespace wmember = vexawire::member;

namespace {

constexpr const char* kMod = "devsim";
constexpr auto kLogoutGrace = std::chrono::seconds(3);
using Clock = std::chrono::steady_clock;
using tcp = asio::ip::tcp;

uint32_t bit(State s) { return 1u << static_cast<unsigned>(s); }

bool sessionEnded(State s) {
    return s == State::Refused || s == State::LoggedOut || s == State::ForcedOut || s == State::Closed;
}

std::string lengthPrefixed(const std::string& body, uint32_t n) {
    std::string out;
    out.push_back(static_cast<char>((n >> 24) & 0xff));
    out.push_back(static_cast<char>((n >> 16) & 0xff));
    out.push_back(static_cast<char>((n >> 8) & 0xff));
    out.push_back(static_cast<char>(n & 0xff));
    return out + body;
}

Json::Value frame(const char* type) {
    Json::Value v(Json::objectValue);
    v["type"] = type;
    return v;
}

}  // namespace

const char* const kOvixOkDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><ResponseStatus><statusCode>1</statusCode>"
    "<statusString>OK</statusString></ResponseStatus>";

const char* stateName(State s) {
    switch (s) {
        case State::Idle: return "Idle";
        case State::Connecting: return "Connecting";
        case State::Registering: return "Registering";
        case State::LoggedIn: return "LoggedIn";
        case State::Refused: return "Refused";
        case State::LoggedOut: return "LoggedOut";
        case State::ForcedOut: return "ForcedOut";
        case State::Closed: return "Closed";
    }
    return "?";
}

const char* alarmStateName(AlarmState s) {
    switch (s) {
        case AlarmState::None: return "None";
        case AlarmState::Connecting: return "Connecting";
        case AlarmState::Hello: return "Hello";
        case AlarmState::Ready: return "Ready";
        case AlarmState::Refused: return "Refused";
        case AlarmState::Closed: return "Closed";
    }
    return "?";
}

const char* malformedName(Malformed m) {
    switch (m) {
        case Malformed::None: return "none";
        case Malformed::ZeroLength: return "zero";
        case Malformed::OverLength: return "over";
        case Malformed::NotJson: return "notjson";
        case Malformed::JsonArray: return "array";
        case Malformed::NoType: return "notype";
    }
    return "?";
}

bool parseMalformed(const std::string& name, Malformed& out) {
    for (Malformed m : {Malformed::None, Malformed::ZeroLength, Malformed::OverLength, Malformed::NotJson,
                        Malformed::JsonArray, Malformed::NoType}) {
        if (name == malformedName(m)) {
            out = m;
            return true;
        }
    }
    return false;
}

std::string malformedBytes(Malformed m) {
    switch (m) {
        case Malformed::None: return std::string();
        case Malformed::ZeroLength: return lengthPrefixed(std::string(), 0);
        // Only a few body bytes follow: the peer must give up on the prefix alone.
        case Malformed::OverLength: return lengthPrefixed("{\"type\":\"hello\"", vexawire::kMaxFrameLen + 1);
        case Malformed::NotJson: {
            const std::string b = "this is not json";
            return lengthPrefixed(b, static_cast<uint32_t>(b.size()));
        }
        case Malformed::JsonArray: {
            const std::string b = "[{\"type\":\"hello\"}]";
            return lengthPrefixed(b, static_cast<uint32_t>(b.size()));
        }
        case Malformed::NoType: {
            const std::string b = "{\"deviceId\":\"x\",\"protocolVersion\":2}";
            return lengthPrefixed(b, static_cast<uint32_t>(b.size()));
        }
    }
    return std::string();
}

Answer defaultAnswer(const Json::Value& request) {
    const std::string type = vexawire::getString(request, wmember::type);
    Json::Value m(Json::objectValue);
    if (type == wtype::config || type == wtype::ferro) {
        m["data"] = "{\"status\":200,\"data\":{}}";
    } else if (type == wtype::ovix) {
        m["body"] = kOvixOkDocument;
    } else if (type == wtype::getConfig) {
        m["audioCodec"] = 1;
    } else if (type != wtype::media) {
        return Answer::none();
    }
    return Answer::with(std::move(m));
}

uint64_t raiseFileLimit() {
    struct rlimit rl {};
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0) return 0;
    if (rl.rlim_cur < rl.rlim_max) {
        rl.rlim_cur = rl.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &rl) != 0) getrlimit(RLIMIT_NOFILE, &rl);
    }
    return static_cast<uint64_t>(rl.rlim_cur);
}

// ---------------------------------------------------------------------------------------------

struct Core {
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::vector<std::thread> threads;
    std::atomic<bool> stopping{false};

    mutable std::mutex mx;
    mutable std::condition_variable cv;
    std::vector<DevicePtr> devices;
    std::array<size_t, kStateCount> in{};
    std::array<size_t, kStateCount> reached{};

    std::mutex listenerMx;
    Simulator::StateListener listener;
};

namespace {
std::atomic<uint64_t> g_connSerial{0};  // numbers every connection of the process
}  // namespace

// Frames (and bytes) handed to one write at most.
constexpr size_t kWriteGather = 64;
constexpr size_t kWriteGatherBytes = 256 * 1024;

// An encoded frame; an alarm's bytes are shared by the write queue and the unacknowledged store.
using Bytes = std::shared_ptr<const std::string>;

struct Conn {
    explicit Conn(const asio::strand<asio::io_context::executor_type>& ex) : sock(ex), grace(ex) {}
    const uint64_t serial = ++g_connSerial;
    // Session-end listeners of deferred answers; run once when the login ends.
    std::vector<std::function<void()>> onEnd;
    bool ended = false;
    tcp::socket sock;
    asio::steady_timer grace;
    vexawire::FrameDecoder dec;
    std::array<char, 8192> rbuf{};
    std::deque<Bytes> outq;
    size_t outOff = 0;  // bytes of outq.front() already written
    bool connected = false;
    bool writing = false;
    bool closed = false;
    bool shutdownAfterFlush = false;
    std::set<std::string> unknownTypes;
};
using ConnPtr = std::shared_ptr<Conn>;

struct Device::Impl {
    explicit Impl(asio::io_context& io)
        : strand(asio::make_strand(io)), heartbeat(strand), after(strand), reconnect(strand), rate(strand) {}

    asio::strand<asio::io_context::executor_type> strand;
    ConnPtr cmd;
    ConnPtr alarm;
    asio::steady_timer heartbeat;
    asio::steady_timer after;  // logout-after / vanish-after
    asio::steady_timer reconnect;
    asio::steady_timer rate;
    std::list<std::shared_ptr<asio::steady_timer>> lateAnswers;

    std::chrono::milliseconds hbInterval{30000};
    bool awaitingDas = false;
    bool userStopped = false;  // logout() or vanish() by the owner: no auto-reconnect after logout
    std::atomic<uint32_t> alarmSeq{0};
    std::atomic<bool> alarmDeaf{false};
    bool alarmAfterLogin = false;  // connectAlarm() during the login: connect once logged in

    // Alarms not yet acknowledged, oldest first; `sent` once written on some alarm link.
    struct PendingAlarm {
        uint32_t seq;
        Bytes bytes;
        bool sent;
    };
    std::deque<PendingAlarm> unacked;

    // Rate mode.
    Clock::time_point rateStart{};
    Clock::time_point rateEnd{};
    double ratePerSec = 0;
    uint64_t rateSent = 0;
    int rateAlarmType = 1;
    int rateDataType = 1;
    std::string ratePayload;
};

// A deferred answer: bound to the connection the request came on.
struct ResponderImpl : Responder {
    ResponderImpl(const DevicePtr& d, const ConnPtr& c, std::string type, uint32_t seq,
                  std::chrono::milliseconds delay)
        : dev(d), conn(c), id(d->id()), session(c->serial), type(std::move(type)), seq(seq), delay(delay) {}

    void reply(Json::Value members) override;
    void onSessionEnd(std::function<void()> fn) override;
    const std::string& deviceId() const override { return id; }
    uint64_t sessionId() const override { return session; }

    std::weak_ptr<Device> dev;
    std::weak_ptr<Conn> conn;
    const std::string id;
    const uint64_t session;
    const std::string type;
    const uint32_t seq;
    const std::chrono::milliseconds delay;
    std::atomic<bool> replied{false};
};

// ---------------------------------------------------------------------------------------------
// Everything in DeviceOps runs on the device's strand.

class DeviceOps {
public:
    using Impl = Device::Impl;

    static void setState(Device& d, State s, const std::function<void(DeviceStatus&)>& extra = nullptr) {
        State old;
        bool newlyReached;
        DeviceStatus snap;
        {
            std::lock_guard<std::mutex> lk(d.m_mx);
            old = d.m_st.state;
            d.m_st.state = s;
            if (extra) extra(d.m_st);
            newlyReached = (d.m_reached & bit(s)) == 0;
            d.m_reached |= bit(s);
            snap = d.m_st;
        }
        d.m_cv.notify_all();
        {
            std::lock_guard<std::mutex> lk(d.m_core->mx);
            d.m_core->in[static_cast<size_t>(old)]--;
            d.m_core->in[static_cast<size_t>(s)]++;
            if (newlyReached) d.m_core->reached[static_cast<size_t>(s)]++;
        }
        d.m_core->cv.notify_all();
        Simulator::StateListener l;
        {
            std::lock_guard<std::mutex> lk(d.m_core->listenerMx);
            l = d.m_core->listener;
        }
        if (l) {
            try {
                l(d, s, snap);
            } catch (...) {
            }
        }
    }

    static void update(Device& d, const std::function<void(DeviceStatus&)>& fn) {
        {
            std::lock_guard<std::mutex> lk(d.m_mx);
            fn(d.m_st);
        }
        d.m_cv.notify_all();
    }

    static State curState(Device& d) {
        std::lock_guard<std::mutex> lk(d.m_mx);
        return d.m_st.state;
    }

    // ---- writing ----

    static void enqueue(const DevicePtr& d, const ConnPtr& c, std::string bytes) {
        if (c->closed || bytes.empty()) return;
        enqueueShared(d, c, std::make_shared<const std::string>(std::move(bytes)));
    }

    static void enqueueShared(const DevicePtr& d, const ConnPtr& c, Bytes bytes) {
        if (c->closed || !bytes || bytes->empty()) return;
        if (c->connected && !c->writing && c->outq.empty() && !d->m_cfg.slowWriter && !c->shutdownAfterFlush) {
            // Nothing ahead of it: straight out, without a completion turn and a poll per frame.
            const ssize_t n = ::send(c->sock.native_handle(), bytes->data(), bytes->size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n == static_cast<ssize_t>(bytes->size())) return;
            c->outOff = n > 0 ? static_cast<size_t>(n) : 0;  // the rest, or a failure, the usual way
        }
        c->outq.push_back(std::move(bytes));
        if (c->connected && !c->writing) writeNext(d, c);
    }

    static void writeNext(const DevicePtr& d, const ConnPtr& c) {
        if (c->closed) return;
        if (c->outq.empty()) {
            c->writing = false;
            if (c->shutdownAfterFlush) {
                asio::error_code ec;
                c->sock.shutdown(tcp::socket::shutdown_send, ec);
            }
            return;
        }
        c->writing = true;
        const std::string& front = *c->outq.front();
        // At full rate several queued frames go out in one write; the byte stream is the same.
        std::array<asio::const_buffer, kWriteGather> bufs{};  // unused entries stay empty
        size_t nb = 0;
        if (d->m_cfg.slowWriter) {
            bufs[nb++] = asio::buffer(front.data() + c->outOff, 1);
        } else {
            size_t bytes = 0;
            for (auto it = c->outq.begin(); it != c->outq.end() && nb < bufs.size() && bytes < kWriteGatherBytes;
                 ++it) {
                const size_t off = nb == 0 ? c->outOff : 0;
                bufs[nb++] = asio::buffer((*it)->data() + off, (*it)->size() - off);
                bytes += (*it)->size() - off;
            }
        }
        c->sock.async_write_some(bufs, [d, c](asio::error_code ec, size_t wrote) {
            if (c->closed) return;
            if (ec) {
                c->writing = false;
                lost(d, c, "write: " + ec.message());
                return;
            }
            while (wrote > 0 && !c->outq.empty()) {
                const size_t left = c->outq.front()->size() - c->outOff;
                if (wrote < left) {
                    c->outOff += wrote;
                    break;
                }
                wrote -= left;
                c->outq.pop_front();
                c->outOff = 0;
            }
            if (d->m_cfg.slowWriter && d->m_cfg.slowWriteGap.count() > 0 && !c->outq.empty()) {
                auto t = std::make_shared<asio::steady_timer>(d->m_impl->strand, d->m_cfg.slowWriteGap);
                t->async_wait([d, c, t](asio::error_code) { writeNext(d, c); });
            } else {
                writeNext(d, c);
            }
        });
    }

    static void send(const DevicePtr& d, const ConnPtr& c, const Json::Value& f) {
        if (c) enqueue(d, c, vexawire::encodeFrame(f));
    }

    // ---- closing ----

    static void closeConn(const ConnPtr& c) {
        if (!c || c->closed) return;
        c->closed = true;
        c->outq.clear();
        asio::error_code ec;
        c->grace.cancel();
        c->sock.close(ec);
        endSession(c);
    }

    static void endSession(const ConnPtr& c) {
        if (!c || c->ended) return;
        c->ended = true;
        std::vector<std::function<void()>> fns;
        fns.swap(c->onEnd);
        for (auto& f : fns) {
            try {
                f();
            } catch (...) {
            }
        }
    }

    static void stopTimers(Impl& im) {
        im.heartbeat.cancel();
        im.after.cancel();
        im.rate.cancel();
        for (auto& t : im.lateAnswers) t->cancel();
        im.lateAnswers.clear();
    }

    // The command connection is gone (peer, error, bad frame). Terminal states already set stay.
    static void lost(const DevicePtr& d, const ConnPtr& c, const std::string& why) {
        Impl& im = *d->m_impl;
        if (c == im.alarm) {
            closeConn(c);
            update(*d, [&](DeviceStatus& st) {
                if (st.alarmState != AlarmState::Refused) st.alarmState = AlarmState::Closed;
            });
            return;
        }
        if (c != im.cmd || c->closed) return;
        closeConn(c);
        stopTimers(im);
        const State s = curState(*d);
        if (!sessionEnded(s)) {
            setState(*d, State::Closed, [&](DeviceStatus& st) { st.closeWhy = why; });
        } else {
            update(*d, [&](DeviceStatus& st) {
                if (st.closeWhy.empty()) st.closeWhy = why;
            });
        }
        maybeReconnect(d);
    }

    static void maybeReconnect(const DevicePtr& d) {
        Impl& im = *d->m_impl;
        if (!d->m_cfg.autoReconnect || im.userStopped || d->m_core->stopping) return;
        im.reconnect.expires_after(d->m_cfg.reconnectDelay);
        ConnPtr was = im.cmd;
        im.reconnect.async_wait([d, was](asio::error_code ec) {
            Impl& i = *d->m_impl;
            // A start() in the meantime replaced the connection: that one wins.
            if (!ec && !d->m_core->stopping && !i.userStopped && i.cmd == was) doStart(d);
        });
    }

    // ---- reading ----

    static void startRead(const DevicePtr& d, const ConnPtr& c) {
        c->sock.async_read_some(asio::buffer(c->rbuf), [d, c](asio::error_code ec, size_t n) {
            if (c->closed) return;
            if (ec) {
                lost(d, c, ec == asio::error::eof ? std::string("peer closed") : "read: " + ec.message());
                return;
            }
            c->dec.feed(c->rbuf.data(), n);
            for (;;) {
                Json::Value f;
                std::string why;
                const auto r = c->dec.next(f, why);
                if (r == vexawire::FrameDecoder::Result::NeedMore) break;
                if (r == vexawire::FrameDecoder::Result::Error) {
                    // One line per connection (it closes); the peer's text is cut short.
                    RunLog_Write(4, kMod, "%s: bad frame from gateway: %.200s", d->id().c_str(), why.c_str());
                    lost(d, c, "bad frame: " + why);
                    return;
                }
                if (c == d->m_impl->alarm)
                    onAlarmFrame(d, c, f);
                else
                    onCmdFrame(d, c, f);
                if (c->closed) return;
            }
            startRead(d, c);
        });
    }

    static void logUnknown(const DevicePtr& d, const ConnPtr& c, const std::string& type) {
        if (c->unknownTypes.size() < 64 && c->unknownTypes.insert(type).second)
            RunLog_Write(3, kMod, "%s: ignoring frame type \"%.64s\"", d->id().c_str(), type.c_str());
    }

    // ---- command connection ----

    static void doStart(const DevicePtr& d) {
        Impl& im = *d->m_impl;
        if (d->m_core->stopping) return;
        closeConn(im.cmd);
        stopTimers(im);
        im.reconnect.cancel();
        im.userStopped = false;
        im.awaitingDas = false;
        auto c = std::make_shared<Conn>(im.strand);
        im.cmd = c;
        setState(*d, State::Connecting, [](DeviceStatus& st) {
            st.sessions++;
            st.closeWhy.clear();
        });
        resolveAndConnect(d, c, d->m_cfg.host, d->m_cfg.cmsPort);
    }

    static void resolveAndConnect(const DevicePtr& d, const ConnPtr& c, const std::string& host, uint16_t port) {
        asio::error_code ec;
        const auto addr = asio::ip::make_address(host, ec);
        if (!ec) {
            connectTo(d, c, {tcp::endpoint(addr, port)});
            return;
        }
        auto res = std::make_shared<tcp::resolver>(d->m_impl->strand);
        res->async_resolve(host, std::to_string(port),
                           [d, c, res](asio::error_code rec, tcp::resolver::results_type r) {
                               if (c->closed) return;
                               if (rec) {
                                   lost(d, c, "resolve: " + rec.message());
                                   return;
                               }
                               std::vector<tcp::endpoint> eps;
                               for (const auto& e : r) eps.push_back(e.endpoint());
                               connectTo(d, c, eps);
                           });
    }

    static void connectTo(const DevicePtr& d, const ConnPtr& c, const std::vector<tcp::endpoint>& eps) {
        auto done = [d, c](asio::error_code ec) {
            if (c->closed) return;
            if (ec) {
                lost(d, c, "connect: " + ec.message());
                return;
            }
            asio::error_code ig;
            c->sock.set_option(tcp::no_delay(true), ig);
            c->connected = true;
            const bool isCmd = c == d->m_impl->cmd;
            if (isCmd)
                onCmdConnected(d, c);
            else
                onAlarmConnected(d, c);
            if (!c->closed) {
                if (!c->outq.empty() && !c->writing) writeNext(d, c);
                if (isCmd || !d->m_impl->alarmDeaf) startRead(d, c);
            }
        };
        if (d->m_cfg.bindAddress.empty() || eps.empty()) {
            asio::async_connect(c->sock, eps, [done](asio::error_code ec, const tcp::endpoint&) { done(ec); });
            return;
        }
        // A chosen source address: one endpoint, socket bound before the connect.
        asio::error_code ec;
        const auto local = asio::ip::make_address(d->m_cfg.bindAddress, ec);
        if (!ec) c->sock.open(eps.front().protocol(), ec);
        if (!ec) c->sock.bind(tcp::endpoint(local, 0), ec);
        if (ec) {
            lost(d, c, "bind " + d->m_cfg.bindAddress + ": " + ec.message());
            return;
        }
        c->sock.async_connect(eps.front(), done);
    }

    static void onCmdConnected(const DevicePtr& d, const ConnPtr& c) {
        const DeviceConfig& cfg = d->m_cfg;
        setState(*d, State::Registering);
        if (cfg.silent) return;
        if (cfg.malformed != Malformed::None) {
            enqueue(d, c, malformedBytes(cfg.malformed));
            return;
        }
        if (cfg.dasRequest) {
            Json::Value f = frame(wtype::dasRequest);
            f[wmember::deviceId] = cfg.deviceId;
            f["serverAddress"] = cfg.dasServerAddress;
            f["serverPort"] = cfg.dasServerPort;
            d->m_impl->awaitingDas = true;
            send(d, c, f);
            return;
        }
        sendHello(d, c);
    }

    static void sendHello(const DevicePtr& d, const ConnPtr& c) {
        const DeviceConfig& cfg = d->m_cfg;
        Json::Value f = frame(wtype::hello);
        f[wmember::deviceId] = cfg.deviceId;
        f[wmember::protocolVersion] = d->protocolVersion();
        f["serial"] = cfg.serial.empty() ? "SN-" + cfg.deviceId : cfg.serial;
        f["shortSerial"] = cfg.shortSerial.empty() ? cfg.deviceId : cfg.shortSerial;
        f["firmware"] = cfg.firmware;
        send(d, c, f);
    }

    static void onCmdFrame(const DevicePtr& d, const ConnPtr& c, const Json::Value& f) {
        Impl& im = *d->m_impl;
        const DeviceConfig& cfg = d->m_cfg;
        const std::string type = vexawire::getString(f, wmember::type);
        if (type == wtype::dasAnswer) {
            update(*d, [&](DeviceStatus& st) { st.dasAnswer = f; });
            if (im.awaitingDas) {
                im.awaitingDas = false;
                sendHello(d, c);
            }
        } else if (type == wtype::challenge) {
            const std::string nonce = vexawire::getString(f, "nonce");
            update(*d, [&](DeviceStatus& st) { st.nonce = nonce; });
            const std::string key = cfg.wrongKey ? cfg.key + "-not-the-key" : cfg.key;
            Json::Value a = frame(wtype::auth);
            a["proof"] = vexawire::hmacSha256Hex(key, nonce);
            send(d, c, a);
        } else if (type == wtype::sessionKey) {
            update(*d, [&](DeviceStatus& st) {
                st.sessionKey = vexawire::getString(f, "key");
                st.companion = vexawire::getString(f, "companion");
            });
        } else if (type == wtype::loginAck) {
            onLoginAck(d, c, f);
        } else if (type == wtype::heartbeatAck) {
            update(*d, [](DeviceStatus& st) { st.heartbeatsAcked++; });
        } else if (type == wtype::refused) {
            const std::string reason = vexawire::getString(f, wmember::reason);
            closeConn(c);
            stopTimers(im);
            setState(*d, State::Refused, [&](DeviceStatus& st) {
                st.refusal = reason;
                st.closeWhy = "refused " + reason;
            });
            maybeReconnect(d);
        } else if (type == wtype::forcedLogout) {
            closeConn(c);
            stopTimers(im);
            setState(*d, State::ForcedOut, [](DeviceStatus& st) { st.closeWhy = "forced logout"; });
            maybeReconnect(d);
        } else if (type == wtype::config || type == wtype::ferro || type == wtype::ovix || type == wtype::getConfig || type == wtype::media) {
            if (curState(*d) != State::LoggedIn) {
                logUnknown(d, c, type + " before login");
                return;
            }
            onRequest(d, c, type, f);
        } else {
            logUnknown(d, c, type);
        }
    }

    static void onLoginAck(const DevicePtr& d, const ConnPtr& c, const Json::Value& f) {
        Impl& im = *d->m_impl;
        const DeviceConfig& cfg = d->m_cfg;
        int64_t keepAlive = vexawire::getInt(f, "keepAliveSec", 30);
        if (keepAlive <= 0 || keepAlive > 86400) keepAlive = 30;
        im.hbInterval = cfg.heartbeatInterval.count() > 0 ? cfg.heartbeatInterval : std::chrono::seconds(keepAlive);
        setState(*d, State::LoggedIn, [&](DeviceStatus& st) {
            st.loginAck = f;
            st.userHandle = vexawire::getInt(f, "userHandle", -1);
            st.logins++;
        });
        if (c->closed) return;  // the listener may have acted
        if (im.alarmAfterLogin) doConnectAlarm(d);
        if (cfg.vanishAfterLogin) {
            doVanish(d);
            return;
        }
        if (!cfg.noHeartbeat) armHeartbeat(d, c);
        if (cfg.vanishAfter.count() > 0 || cfg.logoutAfter.count() > 0) {
            const bool vanish = cfg.vanishAfter.count() > 0 &&
                                (cfg.logoutAfter.count() <= 0 || cfg.vanishAfter <= cfg.logoutAfter);
            im.after.expires_after(vanish ? cfg.vanishAfter : cfg.logoutAfter);
            im.after.async_wait([d, c, vanish](asio::error_code ec) {
                if (ec || c->closed || c != d->m_impl->cmd) return;
                if (vanish)
                    doVanish(d);
                else
                    doLogout(d);
            });
        }
    }

    static void armHeartbeat(const DevicePtr& d, const ConnPtr& c) {
        Impl& im = *d->m_impl;
        im.heartbeat.expires_after(im.hbInterval);
        im.heartbeat.async_wait([d, c](asio::error_code ec) {
            if (ec || c->closed || c != d->m_impl->cmd || curState(*d) != State::LoggedIn) return;
            send(d, c, frame(wtype::heartbeat));
            update(*d, [](DeviceStatus& st) { st.heartbeatsSent++; });
            armHeartbeat(d, c);
        });
    }

    static const char* answerType(const std::string& type) {
        if (type == wtype::config) return wtype::configAnswer;
        if (type == wtype::ferro) return wtype::ferroAnswer;
        if (type == wtype::ovix) return wtype::ovixAnswer;
        if (type == wtype::getConfig) return wtype::getConfigAnswer;
        return wtype::mediaAnswer;
    }

    static void onRequest(const DevicePtr& d, const ConnPtr& c, const std::string& type, const Json::Value& f) {
        update(*d, [](DeviceStatus& st) { st.requests++; });
        RequestHandler h;
        {
            std::lock_guard<std::mutex> lk(d->m_mx);
            h = d->m_handler;
        }
        Answer a;
        try {
            a = h ? h(f) : defaultAnswer(f);
        } catch (const std::exception& e) {
            RunLog_Write(4, kMod, "%s: request handler threw: %s", d->id().c_str(), e.what());
            a = Answer::none();
        } catch (...) {
            a = Answer::none();
        }
        if (!a.send) return;
        const uint32_t seq = vexawire::getU32(f, wmember::seq);
        if (a.later) {
            auto r = std::make_shared<ResponderImpl>(d, c, type, seq, a.delay);
            try {
                a.later(r);
            } catch (const std::exception& e) {
                RunLog_Write(4, kMod, "%s: deferred handler threw: %s", d->id().c_str(), e.what());
            } catch (...) {
            }
            return;
        }
        answer(d, c, type, seq, a.members, a.delay, a.restartAfter);
    }

    static void answer(const DevicePtr& d, const ConnPtr& c, const std::string& type, uint32_t seq,
                       const Json::Value& members, std::chrono::milliseconds delay,
                       std::chrono::milliseconds restartAfter = std::chrono::milliseconds(-1)) {
        Impl& im = *d->m_impl;
        if (c->closed || c != im.cmd) return;
        Json::Value out = frame(answerType(type));
        out[wmember::seq] = seq;
        out[wmember::error] = 0;
        if (members.isObject())
            for (const auto& name : members.getMemberNames()) {
                if (members[name].isNull())
                    out.removeMember(name);
                else
                    out[name] = members[name];
            }
        if (delay.count() <= 0) {
            send(d, c, out);
            update(*d, [](DeviceStatus& st) { st.answersSent++; });
            if (restartAfter.count() >= 0) restartDevice(d, c, restartAfter);
            return;
        }
        auto t = std::make_shared<asio::steady_timer>(im.strand, delay);
        im.lateAnswers.push_back(t);
        t->async_wait([d, c, out, t, restartAfter](asio::error_code ec) {
            d->m_impl->lateAnswers.remove(t);
            if (ec) return;
            if (c->closed || c != d->m_impl->cmd) return;
            send(d, c, out);
            update(*d, [](DeviceStatus& st) { st.answersSent++; });
            if (restartAfter.count() >= 0) restartDevice(d, c, restartAfter);
        });
    }

    // Like a real reboot: the answer is flushed, both links go down, and after `after` the
    // device connects and logs in again (its alarm link follows the login when it had one).
    static void restartDevice(const DevicePtr& d, const ConnPtr& c, std::chrono::milliseconds after) {
        Impl& im = *d->m_impl;
        stopTimers(im);
        im.reconnect.cancel();
        if (im.alarm && !im.alarm->closed) {
            closeConn(im.alarm);
            im.alarmAfterLogin = true;
            update(*d, [](DeviceStatus& st) { st.alarmState = AlarmState::Closed; });
        }
        c->shutdownAfterFlush = true;
        if (c->connected && !c->writing) writeNext(d, c);
        setState(*d, State::Closed, [](DeviceStatus& st) { st.closeWhy = "rebooting"; });
        im.reconnect.expires_after(after);
        im.reconnect.async_wait([d, c](asio::error_code ec) {
            Impl& i = *d->m_impl;
            // A start() or logout() in the meantime wins.
            if (!ec && !d->m_core->stopping && !i.userStopped && i.cmd == c) doStart(d);
        });
    }

    static void doLogout(const DevicePtr& d) {
        Impl& im = *d->m_impl;
        im.userStopped = true;
        im.reconnect.cancel();
        ConnPtr c = im.cmd;
        if (!c || c->closed) return;
        stopTimers(im);
        if (curState(*d) != State::LoggedIn) {
            closeConn(c);
            setState(*d, State::Closed, [](DeviceStatus& st) { st.closeWhy = "stopped before login"; });
            return;
        }
        send(d, c, frame(wtype::logout));
        setState(*d, State::LoggedOut, [](DeviceStatus& st) { st.closeWhy = "logout"; });
        endSession(c);
        // The gateway closes after a logout; wait for that, but not for ever.
        c->shutdownAfterFlush = true;
        if (!c->writing && c->outq.empty() && c->connected) {
            asio::error_code ec;
            c->sock.shutdown(tcp::socket::shutdown_send, ec);
        }
        c->grace.expires_after(kLogoutGrace);
        c->grace.async_wait([c](asio::error_code ec) {
            if (!ec) closeConn(c);
        });
    }

    static void doVanish(const DevicePtr& d) {
        Impl& im = *d->m_impl;
        im.userStopped = true;
        stopTimers(im);
        ConnPtr c = im.cmd;
        closeConn(im.alarm);
        if (im.alarm)
            update(*d, [](DeviceStatus& st) {
                if (st.alarmState != AlarmState::Refused) st.alarmState = AlarmState::Closed;
            });
        if (!c || c->closed) return;
        closeConn(c);
        if (!sessionEnded(curState(*d)))
            setState(*d, State::Closed, [](DeviceStatus& st) { st.closeWhy = "vanished"; });
        // A crashed device comes back when asked to.
        im.userStopped = false;
        maybeReconnect(d);
    }

    // ---- alarm connection ----

    static void doConnectAlarm(const DevicePtr& d) {
        Impl& im = *d->m_impl;
        if (d->m_core->stopping) return;
        // Like a real device, the alarm link follows the loginAck; a device that never started
        // (or whose session ended) connects at once, which is how strangers are simulated.
        const State s = curState(*d);
        if (s == State::Connecting || s == State::Registering) {
            im.alarmAfterLogin = true;
            update(*d, [](DeviceStatus& st) { st.alarmState = AlarmState::Connecting; });
            return;
        }
        im.alarmAfterLogin = false;
        closeConn(im.alarm);
        auto c = std::make_shared<Conn>(im.strand);
        im.alarm = c;
        update(*d, [](DeviceStatus& st) {
            st.alarmState = AlarmState::Connecting;
            st.alarmRefusal.clear();
        });
        std::string host = d->m_cfg.alarmHost.empty() ? d->m_cfg.host : d->m_cfg.alarmHost;
        uint16_t port = d->m_cfg.amsPort;
        if (port == 0) {
            // Where the gateway told the device to send alarms.
            std::lock_guard<std::mutex> lk(d->m_mx);
            const Json::Value& ack = d->m_st.loginAck;
            const Json::Value srv = ack.isObject() ? ack.get("alarmServer", Json::Value()) : Json::Value();
            const int64_t p = vexawire::getInt(srv, "port");
            if (p > 0 && p <= 65535) port = static_cast<uint16_t>(p);
            const std::string a = vexawire::getString(srv, "address");
            if (!a.empty() && d->m_cfg.alarmHost.empty()) host = a;
        }
        if (port == 0) {
            lost(d, c, "no alarm port");
            return;
        }
        resolveAndConnect(d, c, host, port);
    }

    static void onAlarmConnected(const DevicePtr& d, const ConnPtr& c) {
        if (d->m_cfg.alarmNoHello) return;
        Json::Value f = frame(wtype::alarmHello);
        f[wmember::deviceId] = d->m_cfg.deviceId;
        f[wmember::protocolVersion] = d->protocolVersion();
        {
            std::lock_guard<std::mutex> lk(d->m_mx);
            if (d->m_alarmKeyOverridden)
                f["sessionKey"] = d->m_alarmKeyOverride;
            else if (d->protocolVersion() == 4)
                f["sessionKey"] = d->m_st.sessionKey;
            d->m_st.alarmState = AlarmState::Hello;
        }
        d->m_cv.notify_all();
        // The hello first, then every alarm still unacknowledged (resent or pushed while
        // connecting) in order, then raw bytes queued meanwhile.
        std::deque<Bytes> q;
        q.push_back(std::make_shared<const std::string>(vexawire::encodeFrame(f)));
        uint64_t resent = 0, first = 0;
        for (auto& p : d->m_impl->unacked) {
            q.push_back(p.bytes);
            (p.sent ? resent : first)++;
            p.sent = true;
        }
        for (auto& b : c->outq) q.push_back(std::move(b));
        c->outq.swap(q);
        if (resent > 0) RunLog_Write(3, kMod, "%s: resending %llu unacknowledged alarms", d->id().c_str(),
                                     static_cast<unsigned long long>(resent));
        if (resent + first > 0)
            update(*d, [&](DeviceStatus& st) {
                st.alarmsResent += resent;
                st.alarmsSent += first;
            });
    }

    static void onAlarmFrame(const DevicePtr& d, const ConnPtr& c, const Json::Value& f) {
        const std::string type = vexawire::getString(f, wmember::type);
        if (type == wtype::alarmHelloAck) {
            update(*d, [](DeviceStatus& st) { st.alarmState = AlarmState::Ready; });
        } else if (type == wtype::alarmAck) {
            const uint32_t seq = vexawire::getU32(f, wmember::seq);
            auto& un = d->m_impl->unacked;
            for (auto it = un.begin(); it != un.end(); ++it)
                if (it->seq == seq && it->sent) {
                    un.erase(it);
                    break;
                }
            update(*d, [&](DeviceStatus& st) {
                st.alarmAcks++;
                st.lastAlarmAckSeq = seq;
                st.alarmsUnacked = un.size();
            });
        } else if (type == wtype::refused) {
            const std::string reason = vexawire::getString(f, wmember::reason);
            closeConn(c);
            update(*d, [&](DeviceStatus& st) {
                st.alarmState = AlarmState::Refused;
                st.alarmRefusal = reason;
            });
        } else {
            logUnknown(d, c, type);
        }
    }

    // Written at once on a connected link; otherwise kept for the next link's hello.
    static void sendAlarm(const DevicePtr& d, const Json::Value& f) {
        sendAlarmBytes(d, vexawire::getU32(f, wmember::seq), vexawire::encodeFrame(f));
    }

    // The alarm frame already encoded (by the pushing thread, so the strand only queues it).
    static void sendAlarmBytes(const DevicePtr& d, uint32_t seq, std::string bytes) {
        Impl& im = *d->m_impl;
        const size_t cap = d->m_cfg.maxUnackedAlarms;
        ConnPtr c = im.alarm;
        const bool now = c && !c->closed && c->connected && !d->m_cfg.alarmNoHello;
        Bytes shared = std::make_shared<const std::string>(std::move(bytes));
        uint64_t discarded = 0;
        if (cap > 0) {
            while (im.unacked.size() >= cap) {
                im.unacked.pop_front();
                discarded++;
            }
            im.unacked.push_back({seq, shared, now});
        } else if (!now) {
            RunLog_Write(3, kMod, "%s: no alarm connection, alarm dropped", d->id().c_str());
        }
        if (now) enqueueShared(d, c, std::move(shared));
        uint64_t total = 0;
        update(*d, [&](DeviceStatus& st) {
            if (now) st.alarmsSent++;
            st.alarmsDiscarded += discarded;
            st.alarmsUnacked = im.unacked.size();
            total = st.alarmsDiscarded;
        });
        // One line per 1,000 discarded, so a long outage cannot flood the log.
        if (discarded > 0 && (total == discarded || total / 1000 != (total - discarded) / 1000))
            RunLog_Write(4, kMod, "%s: unacknowledged alarm store full, %llu oldest discarded so far",
                         d->id().c_str(), static_cast<unsigned long long>(total));
    }

    static void rateTick(const DevicePtr& d) {
        Impl& im = *d->m_impl;
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(std::min(now, im.rateEnd) - im.rateStart).count();
        const auto due = static_cast<uint64_t>(std::floor(elapsed * im.ratePerSec));
        while (im.rateSent < due) {
            if (im.ratePayload.empty()) {
                // Mixed load: every alarm form, each by its own route.
                const AlarmText a = mixedAlarm(im.rateSent, d->id());
                if (a.route.commandMessage) {
                    Json::Value f = frame(wtype::message);
                    f["messageType"] = a.route.messageType;
                    f["domain"] = a.route.domain;
                    f["identifier"] = a.route.identifier;
                    f["alarmType"] = a.route.alarmType;
                    f["dataType"] = a.route.dataType;
                    f["alarm"] = a.text;
                    ConnPtr c = im.cmd;
                    if (c && !c->closed) send(d, c, f);
                } else {
                    Json::Value f = frame(wtype::alarm);
                    f[wmember::seq] = ++im.alarmSeq;
                    f["alarmType"] = a.route.alarmType;
                    f["dataType"] = a.route.dataType;
                    f["payload"] = a.text;
                    sendAlarm(d, f);
                }
                im.rateSent++;
                continue;
            }
            Json::Value f = frame(wtype::alarm);
            f[wmember::seq] = ++im.alarmSeq;
            f["alarmType"] = im.rateAlarmType;
            f["dataType"] = im.rateDataType;
            f["payload"] = im.ratePayload;
            sendAlarm(d, f);
            im.rateSent++;
        }
        if (now >= im.rateEnd || d->m_core->stopping) return;
        const double periodMs = std::min(1000.0, std::max(10.0, 1000.0 / im.ratePerSec));
        im.rate.expires_after(std::chrono::microseconds(static_cast<int64_t>(periodMs * 1000)));
        im.rate.async_wait([d](asio::error_code ec) {
            if (!ec) rateTick(d);
        });
    }

    // False when the simulator is stopping (nothing runs any more).
    static bool post(const DevicePtr& d, std::function<void()> fn) {
        if (d->m_core->stopping) return false;
        asio::post(d->m_impl->strand, std::move(fn));
        return true;
    }

    static IoAccess ioAccess(const DevicePtr& d) {
        IoAccess a;
        if (d->m_core->stopping) return a;
        a.io = &d->m_core->io;
        a.keep = d->m_core;
        return a;
    }

    static void shutdown(const DevicePtr& d) {
        Impl& im = *d->m_impl;
        stopTimers(im);
        im.reconnect.cancel();
        if (im.cmd) im.cmd->grace.cancel();
        closeConn(im.cmd);
        closeConn(im.alarm);
    }
};

// ---------------------------------------------------------------------------------------------

void ResponderImpl::reply(Json::Value members) {
    if (replied.exchange(true)) return;
    DevicePtr d = dev.lock();
    if (!d) return;
    DeviceOps::post(d, [d, w = conn, t = type, s = seq, m = std::move(members), dl = delay] {
        ConnPtr c = w.lock();
        if (c) DeviceOps::answer(d, c, t, s, m, dl);
    });
}

void ResponderImpl::onSessionEnd(std::function<void()> fn) {
    DevicePtr d = dev.lock();
    if (!d || !DeviceOps::post(d, [w = conn, fn] {
            ConnPtr c = w.lock();
            if (c && !c->ended)
                c->onEnd.push_back(fn);
            else
                fn();
        }))
        fn();
}

IoAccess ioAccessOf(const Responder& r) {
    const auto* impl = dynamic_cast<const ResponderImpl*>(&r);
    DevicePtr d = impl ? impl->dev.lock() : nullptr;
    return d ? DeviceOps::ioAccess(d) : IoAccess();
}

// ---------------------------------------------------------------------------------------------

Device::Device(std::shared_ptr<Core> core, DeviceConfig cfg)
    : m_cfg(std::move(cfg)), m_core(std::move(core)), m_impl(std::make_unique<Impl>(m_core->io)) {
    m_handler = m_cfg.handler;
}

Device::~Device() = default;

int Device::protocolVersion() const {
    if (m_cfg.protocolVersion >= 0) return m_cfg.protocolVersion;
    return m_cfg.family == Family::AldonV5 ? 4 : 2;
}

void Device::start() {
    if (m_core->stopping) return;
    uint32_t cleared;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        cleared = m_reached;
        m_reached = 0;
    }
    {
        std::lock_guard<std::mutex> lk(m_core->mx);
        for (int i = 0; i < kStateCount; ++i)
            if (cleared & (1u << i)) m_core->reached[i]--;
    }
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self] { DeviceOps::doStart(self); });
}

void Device::logout() {
    if (m_core->stopping) return;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self] { DeviceOps::doLogout(self); });
}

void Device::vanish() {
    if (m_core->stopping) return;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self] { DeviceOps::doVanish(self); });
}

DeviceStatus Device::status() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_st;
}

State Device::state() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_st.state;
}

bool Device::waitFor(State s, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lk(m_mx);
    return m_cv.wait_for(lk, timeout, [&] { return (m_reached & bit(s)) != 0; });
}

bool Device::waitUntil(const std::function<bool(const DeviceStatus&)>& pred, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lk(m_mx);
    return m_cv.wait_for(lk, timeout, [&] { return pred(m_st); });
}

void Device::setHandler(RequestHandler h) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_handler = std::move(h);
}

void Device::sendMessage(int messageType, const std::string& domain, const std::string& identifier, int alarmType,
                         int dataType, const std::string& alarmText) {
    if (m_core->stopping) return;
    Json::Value f = frame(wtype::message);
    f["messageType"] = messageType;
    f["domain"] = domain;
    f["identifier"] = identifier;
    f["alarmType"] = alarmType;
    f["dataType"] = dataType;
    f["alarm"] = alarmText;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self, b = vexawire::encodeFrame(f)]() mutable {
        ConnPtr c = self->m_impl->cmd;
        if (!c || c->closed) return;
        DeviceOps::enqueue(self, c, std::move(b));
        DeviceOps::update(*self, [](DeviceStatus& st) { st.messagesSent++; });
    });
}

void Device::sendMalformed(Malformed kind) { sendRaw(malformedBytes(kind)); }

void Device::sendRaw(std::string bytes) {
    if (m_core->stopping) return;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self, b = std::move(bytes)]() mutable {
        ConnPtr c = self->m_impl->cmd;
        if (c) DeviceOps::enqueue(self, c, std::move(b));
    });
}

void Device::sendFrame(const Json::Value& f) { sendRaw(vexawire::encodeFrame(f)); }

void Device::connectAlarm() {
    if (m_core->stopping) return;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self] { DeviceOps::doConnectAlarm(self); });
}

bool Device::waitAlarm(AlarmState s, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lk(m_mx);
    return m_cv.wait_for(lk, timeout, [&] { return m_st.alarmState == s; });
}

uint32_t Device::pushAlarm(int alarmType, int dataType, const std::string& payload) {
    const uint32_t seq = ++m_impl->alarmSeq;
    if (m_core->stopping) return seq;
    Json::Value f = frame(wtype::alarm);
    f[wmember::seq] = seq;
    f["alarmType"] = alarmType;
    f["dataType"] = dataType;
    f["payload"] = payload;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self, seq, b = vexawire::encodeFrame(f)]() mutable {
        DeviceOps::sendAlarmBytes(self, seq, std::move(b));
    });
    return seq;
}

uint32_t Device::pushStructuredAlarm(int alarmType, int dataType, int kind, const std::string& text,
                                     const std::string* descriptor, bool header) {
    const uint32_t seq = ++m_impl->alarmSeq;
    if (m_core->stopping) return seq;
    Json::Value f = frame(wtype::alarm);
    f[wmember::seq] = seq;
    f["alarmType"] = alarmType;
    f["dataType"] = dataType;
    f["kind"] = kind;
    f["text"] = text;
    if (descriptor) f["descriptor"] = *descriptor;
    if (header) f["header"] = true;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self, seq, b = vexawire::encodeFrame(f)]() mutable {
        DeviceOps::sendAlarmBytes(self, seq, std::move(b));
    });
    return seq;
}

bool Device::waitAlarmAcks(uint64_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lk(m_mx);
    return m_cv.wait_for(lk, timeout, [&] { return m_st.alarmAcks >= n; });
}

void Device::startAlarmRate(double perSecond, std::chrono::milliseconds duration, int alarmType, int dataType,
                            const std::string& payload) {
    if (m_core->stopping || !(perSecond > 0) || duration.count() <= 0) return;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self, perSecond, duration, alarmType, dataType, payload] {
        Impl& im = *self->m_impl;
        im.rate.cancel();
        im.rateStart = Clock::now();
        im.rateEnd = im.rateStart + duration;
        im.ratePerSec = perSecond;
        im.rateSent = 0;
        im.rateAlarmType = alarmType;
        im.rateDataType = dataType;
        im.ratePayload = payload;
        DeviceOps::rateTick(self);
    });
}

void Device::dropAlarmLink() {
    if (m_core->stopping) return;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self] {
        Impl& im = *self->m_impl;
        if (!im.alarm || im.alarm->closed) return;
        DeviceOps::closeConn(im.alarm);
        DeviceOps::update(*self, [](DeviceStatus& st) {
            if (st.alarmState != AlarmState::Refused) st.alarmState = AlarmState::Closed;
        });
    });
}

void Device::setAlarmLinkDeaf(bool deaf) { m_impl->alarmDeaf = deaf; }

void Device::sendAlarmRaw(std::string bytes) {
    if (m_core->stopping) return;
    auto self = shared_from_this();
    asio::post(m_impl->strand, [self, b = std::move(bytes)]() mutable {
        ConnPtr c = self->m_impl->alarm;
        if (c) DeviceOps::enqueue(self, c, std::move(b));
    });
}

void Device::overrideAlarmSessionKey(const std::string& key) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_alarmKeyOverride = key;
    m_alarmKeyOverridden = true;
}

// ---------------------------------------------------------------------------------------------

Simulator::Simulator(unsigned ioThreads) : m_core(std::make_shared<Core>()) {
    m_core->work.emplace(m_core->io.get_executor());
    if (ioThreads == 0) ioThreads = 1;
    for (unsigned i = 0; i < ioThreads; ++i)
        m_core->threads.emplace_back([core = m_core.get()] {
            for (;;) {
                try {
                    core->io.run();
                    return;
                } catch (const std::exception& e) {
                    RunLog_Write(5, kMod, "I/O thread caught: %s", e.what());
                }
            }
        });
}

Simulator::~Simulator() {
    m_core->stopping = true;
    std::vector<DevicePtr> devs = devices();
    for (auto& d : devs) asio::post(d->m_impl->strand, [d] { DeviceOps::shutdown(d); });
    m_core->work.reset();
    for (auto& t : m_core->threads) t.join();
    m_core->threads.clear();
    // Whatever slipped in after the threads left only sees the stop flag.
    m_core->io.restart();
    m_core->io.poll();
    {
        std::lock_guard<std::mutex> lk(m_core->listenerMx);
        m_core->listener = nullptr;
    }
    std::lock_guard<std::mutex> lk(m_core->mx);
    m_core->devices.clear();
}

DevicePtr Simulator::addDevice(DeviceConfig cfg) {
    DevicePtr d(new Device(m_core, std::move(cfg)));
    std::lock_guard<std::mutex> lk(m_core->mx);
    m_core->devices.push_back(d);
    m_core->in[static_cast<size_t>(State::Idle)]++;
    m_core->reached[static_cast<size_t>(State::Idle)]++;
    d->m_reached = bit(State::Idle);
    return d;
}

std::vector<DevicePtr> Simulator::addDevices(const DeviceConfig& base, const std::string& prefix, unsigned startIndex,
                                             unsigned count) {
    std::vector<DevicePtr> out;
    out.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        DeviceConfig c = base;
        c.deviceId = prefix + std::to_string(static_cast<uint64_t>(startIndex) + i);
        out.push_back(addDevice(std::move(c)));
    }
    return out;
}

std::vector<DevicePtr> Simulator::devices() const {
    std::lock_guard<std::mutex> lk(m_core->mx);
    return m_core->devices;
}

void Simulator::startAll() {
    for (auto& d : devices()) d->start();
}

size_t Simulator::countIn(State s) const {
    std::lock_guard<std::mutex> lk(m_core->mx);
    return m_core->in[static_cast<size_t>(s)];
}

size_t Simulator::countReached(State s) const {
    std::lock_guard<std::mutex> lk(m_core->mx);
    return m_core->reached[static_cast<size_t>(s)];
}

bool Simulator::waitReached(State s, size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lk(m_core->mx);
    return m_core->cv.wait_for(lk, timeout, [&] { return m_core->reached[static_cast<size_t>(s)] >= n; });
}

bool Simulator::waitIn(State s, size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lk(m_core->mx);
    return m_core->cv.wait_for(lk, timeout, [&] { return m_core->in[static_cast<size_t>(s)] >= n; });
}

void Simulator::setStateListener(StateListener l) {
    std::lock_guard<std::mutex> lk(m_core->listenerMx);
    m_core->listener = std::move(l);
}

}  // namespace devsim
