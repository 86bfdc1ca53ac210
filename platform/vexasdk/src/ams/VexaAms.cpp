// VEXAAMS stand-in: alarm connections (alarmHello, alarm -> callback -> alarmAck). An alarm link
// belongs to a device with a live command session and closes with it.
#include "VexaAmsSdk.h"

#include "SdkUtil.h"
#include "SessionDirectory.h"
#include "Transport.h"
#include "WireFrame.h"
#include "runlog.h"

#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

using vexasdk::Engine;
using vexasdk::Link;
using vexasdk::LinkHandler;
using vexawire::getString;
using vexawire::getU32;


static const char k_descriptor[] = "descriptor";
namespace {

constexpr const char* kMod = "VEXAAMS";
// Back-off before an alarm the plug-in could not take is offered again.
constexpr uint64_t kRetryFirstMs = 5;
constexpr uint64_t kRetryMaxMs = 20;

thread_local uint32_t t_lastError = VEXA_SDK_ERR_NONE;

VEXA_BOOL fail(uint32_t code) {
    t_lastError = code;
    return 0;
}
VEXA_BOOL ok() {
    t_lastError = VEXA_SDK_ERR_NONE;
    return 1;
}

struct AmsLib {
    std::mutex lifeMu;
    std::mutex mu;
    std::shared_ptr<Engine> engine;
    uint64_t loginTimeoutMs = 10000;
    uint32_t logLevel = 0;
    std::string initCfg[2];
    std::map<std::string, std::string> sessionKeys;
    vexasdk::PendingLogins pendingLogins;
    vexasdk::LogGate gate;  // lines about one peer's bad input

    std::shared_ptr<Engine> getEngine() {
        std::lock_guard<std::mutex> lk(mu);
        return engine;
    }
};

AmsLib& lib() {
    static AmsLib* l = new AmsLib;
    return *l;
}

#define AMS_BAD_INPUT(peer, fmt, ...) SDK_BAD_INPUT(lib().gate, kMod, peer, fmt, __VA_ARGS__)

class AmsSession;

// Alarm links by device, for closing them when the device's command session ends. Lives on the
// I/O thread only, so it needs no lock.
std::unordered_map<std::string, std::vector<std::weak_ptr<AmsSession>>> g_bound;

class AmsSession final : public LinkHandler, public std::enable_shared_from_this<AmsSession> {
public:
    AmsSession(std::shared_ptr<Link> link, int listenId, const VEXA_AMS_LISTEN_PARAM& p)
        : m_link(std::move(link)), m_listenId(listenId), m_cb(p.fnCB), m_user(p.pUserData),
          m_keepAliveSec(p.dwKeepAliveTimeout) {}
    ~AmsSession() override { leavePending(); }

    void start(uint64_t loginTimeoutMs) { m_link->armTimer(loginTimeoutMs, false); }

    // The command session this link was bound to ended.
    void sessionEnded(uint64_t token) {
        if (token != m_token || m_link->isClosed()) return;
        RunLog_Write(3, kMod, "%s: command session ended, closing the alarm link", who().c_str());
        close();
    }

    void onFrame(Json::Value& msg) override {
        const std::string type = msg["type"].asString();
        if (type == "alarmHello") return onHello(msg);
        if (type == "alarm") return onAlarm(msg);
        if (!m_unknownLogged) {
            m_unknownLogged = true;
            AMS_BAD_INPUT(m_link->peerAddress(), "%s: ignoring frame type '%.64s'", who().c_str(), type.c_str());
        }
    }
    void onBadFrame(const std::string& why) override {
        AMS_BAD_INPUT(m_link->peerAddress(), "%s: bad frame (%s), closing", who().c_str(), why.c_str());
        refuse("frame");
    }
    void onTimer() override {
        if (m_helloDone)
            RunLog_Write(4, kMod, "%s: silent for too long, closing", who().c_str());
        else
            AMS_BAD_INPUT(m_link->peerAddress(), "%s: no alarmHello in time, closing", who().c_str());
        close();
    }
    void onPeerClosed(const std::string& why) override {
        RunLog_Write(3, kMod, "%s: connection closed (%s)%s", who().c_str(), why.c_str(),
                     m_held.isNull() ? "" : ", the alarm not taken stays with the device");
        ended();
    }
    void onShutdown() override { ended(); }

private:
    std::string who() const {
        std::string s = m_link->peerAddress() + ":" + std::to_string(m_link->peerPort());
        if (!m_deviceId.empty()) s += " [" + vexasdk::logText(m_deviceId) + "]";
        return s;
    }

    void leavePending() {
        if (!m_countedPending) return;
        m_countedPending = false;
        lib().pendingLogins.leave();
    }

    // Whatever ended the link: a held alarm is simply dropped (the device still has it).
    void ended() {
        leavePending();
        m_held = Json::Value();
        if (m_helloDone) {
            auto it = g_bound.find(m_deviceId);
            if (it != g_bound.end()) {
                auto& v = it->second;
                for (size_t i = 0; i < v.size();) {
                    auto p = v[i].lock();
                    if (!p || p.get() == this) {
                        v[i] = v.back();
                        v.pop_back();
                    } else {
                        ++i;
                    }
                }
                if (v.empty()) g_bound.erase(it);
            }
        }
    }

    void close() {
        m_link->close();
        ended();
    }

    void refuse(const char* reason) {
        Json::Value m(Json::objectValue);
        m["type"] = "refused";
        m["reason"] = reason;
        m_link->send(m);
        close();
    }

    void onHello(const Json::Value& msg) {
        if (m_helloDone) {
            AMS_BAD_INPUT(m_link->peerAddress(), "%s: second alarmHello, closing", who().c_str());
            return refuse("protocol");
        }
        const std::string id = getString(msg, "deviceId");
        const int64_t ver = vexawire::getInt(msg, "protocolVersion", -1);
        if (id.empty() || id.size() >= sizeof(VEXA_ALARM_MSG::szDeviceID) || ver < 0 || ver > 255) {
            AMS_BAD_INPUT(m_link->peerAddress(), "%s: alarmHello without a valid deviceId/protocolVersion",
                          who().c_str());
            return refuse("protocol");
        }
        // Protocol 4 proves itself with the session key; the others by coming from the address of
        // the device's command session.
        uint64_t token = 0;
        const auto verdict =
            vexasdk::SessionDirectory::instance().check(id, m_link->peerAddress(), ver == 4, token);
        if (verdict != vexasdk::SessionDirectory::Verdict::Live) {
            AMS_BAD_INPUT(m_link->peerAddress(), "%s: alarmHello of %s refused: %s", who().c_str(),
                          vexasdk::logText(id).c_str(),
                          verdict == vexasdk::SessionDirectory::Verdict::NoSession ? "no live command session"
                                                                                   : "not the command session's address");
            return refuse("auth");
        }
        if (ver == 4) {
            const std::string given = getString(msg, "sessionKey");
            std::string installed;
            {
                std::lock_guard<std::mutex> lk(lib().mu);
                auto it = lib().sessionKeys.find(id);
                if (it != lib().sessionKeys.end()) installed = it->second;
            }
            if (installed.empty() || !vexasdk::constantTimeEqual(given, installed)) {
                AMS_BAD_INPUT(m_link->peerAddress(), "%s: session key of %s not accepted", who().c_str(),
                              vexasdk::logText(id).c_str());
                return refuse("key");
            }
        }
        m_deviceId = id;
        m_helloDone = true;
        m_token = token;
        g_bound[id].push_back(shared_from_this());
        leavePending();
        m_link->setFrameLimit(vexawire::kMaxFrameLen);
        m_link->armTimer(vexasdk::secondsProductMs(m_keepAliveSec, 1), true);
        Json::Value m(Json::objectValue);
        m["type"] = "alarmHelloAck";
        m_link->send(m);
    }

    void onAlarm(Json::Value& msg) {
        if (!m_helloDone) {
            AMS_BAD_INPUT(m_link->peerAddress(), "%s: alarm before alarmHello, closing", who().c_str());
            return refuse("frame");
        }
        m_held.swap(msg);
        m_retryMs = kRetryFirstMs;
        offer();
    }

    // Offers the held alarm; acknowledged once taken, otherwise the link pauses and it is
    // offered again after a back-off, so nothing behind it overtakes it.
    void offer() {
        if (m_held.isNull() || m_link->isClosed()) return;
        const Json::Value& msg = m_held;
        const uint32_t seq = getU32(msg, "seq");
        VEXA_ALARM_MSG rec;
        memset(&rec, 0, sizeof rec);
        rec.byAlarmType = vexasdk::getU8(msg, "alarmType");
        rec.byDataType = vexasdk::getU8(msg, "dataType");
        vexasdk::setField(rec.szDeviceID, sizeof rec.szDeviceID, m_deviceId);
        const bool structured = rec.byAlarmType == 3 || (rec.byAlarmType == 2 && rec.byDataType == 3);
        std::string text;
        std::string descriptor;
        VEXA_ALARM_TEXT desc{};
        VEXA_ALARM_STRUCT st;
        memset(&st, 0, sizeof st);
        static const uint32_t kHeaderMark = 1;
        if (structured) {
            text = getString(msg, "text");
            st.iKind = static_cast<int32_t>(vexawire::getInt(msg, "kind", 0));
            st.pText = text.c_str();
            st.dwTextLen = static_cast<uint32_t>(text.size());
            const Json::Value* d = msg.find(k_descriptor, k_descriptor + sizeof k_descriptor - 1);
            if (d && d->isString()) {
                descriptor = d->asString();
                desc.pText = descriptor.c_str();
                desc.dwLen = static_cast<uint32_t>(descriptor.size());
                st.pDescriptor = &desc;
                st.dwDescriptorCount = 1;
            }
            if (vexawire::getBool(msg, "header")) {
                st.pHeader = &kHeaderMark;
                st.dwHeader = 1;
            }
            rec.pXmlBuf = &st;
            rec.dwXmlBufLen = sizeof st;
        } else {
            text = getString(msg, "payload");
            rec.pXmlBuf = text.empty() ? nullptr : &text[0];
            rec.dwXmlBufLen = static_cast<uint32_t>(text.size());
        }
        VEXA_BOOL taken = 1;
        if (m_cb) {
            try {
                taken = m_cb(m_listenId, &rec, m_user);
            } catch (...) {
                taken = 0;
            }
        }
        // The callback may have stopped this listener.
        if (m_link->isClosed()) return;
        if (!taken) {
            if (!m_paused) {
                m_paused = true;
                m_link->pauseReading();
                m_link->armTimer(0, false);  // our own pause is no silence of the device
                RunLog_Write(3, kMod, "%s: alarm %u not taken, reading paused", who().c_str(), seq);
            }
            std::weak_ptr<AmsSession> weak = shared_from_this();
            m_link->after(m_retryMs, [weak] {
                if (auto self = weak.lock()) self->offer();
            });
            m_retryMs = m_retryMs * 2 > kRetryMaxMs ? kRetryMaxMs : m_retryMs * 2;
            return;
        }
        m_held = Json::Value();
        Json::Value m(Json::objectValue);
        m["type"] = "alarmAck";
        m["seq"] = seq;
        m_link->send(m);
        if (m_paused) {
            m_paused = false;
            RunLog_Write(3, kMod, "%s: alarm %u taken, reading resumed", who().c_str(), seq);
            m_link->armTimer(vexasdk::secondsProductMs(m_keepAliveSec, 1), true);
            m_link->resumeReading();
        }
    }

    std::shared_ptr<Link> m_link;
    int m_listenId;
    VEXA_AMS_ALARM_CB m_cb;
    void* m_user;
    uint32_t m_keepAliveSec;
    std::string m_deviceId;
    bool m_helloDone = false;
    bool m_unknownLogged = false;
    bool m_countedPending = true;  // the factory counted this link as waiting for alarmHello
    uint64_t m_token = 0;          // the command session this link is bound to
    Json::Value m_held;            // alarm offered and not yet taken
    bool m_paused = false;
    uint64_t m_retryMs = kRetryFirstMs;
};

// From the command library's thread: hand the end of a session to this library's I/O thread.
void onCommandSessionEnded(const std::string& deviceId, uint64_t token) {
    auto eng = lib().getEngine();
    if (!eng) return;
    eng->post([deviceId, token] {
        auto it = g_bound.find(deviceId);
        if (it == g_bound.end()) return;
        std::vector<std::shared_ptr<AmsSession>> links;
        for (auto& w : it->second)
            if (auto p = w.lock()) links.push_back(std::move(p));
        for (auto& l : links) l->sessionEnded(token);
    });
}

}  // namespace

extern "C" {

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetSDKInitCfg(uint32_t type, const char* value) {
    if (type > 1 || !value) return fail(VEXA_SDK_ERR_PARAM);
    std::lock_guard<std::mutex> lk(lib().mu);
    lib().initCfg[type] = value;
    return ok();
}

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_Init(void) {
    try {
        std::lock_guard<std::mutex> life(lib().lifeMu);
        if (lib().getEngine()) return ok();
        auto eng = std::make_shared<Engine>(kMod);
        if (!eng->start()) return fail(VEXA_SDK_ERR_NOT_INIT);
        std::lock_guard<std::mutex> lk(lib().mu);
        lib().loginTimeoutMs = vexasdk::loginTimeoutFromEnv();
        lib().engine = eng;
        vexasdk::SessionDirectory::instance().setEndListener(onCommandSessionEnded);
        return ok();
    } catch (...) {
        return fail(VEXA_SDK_ERR_NOT_INIT);
    }
}

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_Fini(void) {
    try {
        std::lock_guard<std::mutex> life(lib().lifeMu);
        auto eng = lib().getEngine();
        if (!eng) return ok();
        if (eng->onIoThread()) return fail(VEXA_SDK_ERR_WOULD_BLOCK);
        eng->stop();
        g_bound.clear();  // the I/O thread is gone
        std::lock_guard<std::mutex> lk(lib().mu);
        lib().engine.reset();
        return ok();
    } catch (...) {
        return fail(VEXA_SDK_ERR_PARAM);
    }
}

int32_t VEXA_SDK_CALL VEXA_AMS_StartListen(const VEXA_AMS_LISTEN_PARAM* param) {
    if (!param || !param->fnCB) return fail(VEXA_SDK_ERR_PARAM), -1;
    try {
        auto eng = lib().getEngine();
        if (!eng) return fail(VEXA_SDK_ERR_NOT_INIT), -1;
        uint64_t loginMs;
        {
            std::lock_guard<std::mutex> lk(lib().mu);
            loginMs = lib().loginTimeoutMs;
        }
        const VEXA_AMS_LISTEN_PARAM p = *param;
        const std::string ip = vexasdk::fieldText(p.szIP, sizeof p.szIP);
        uint16_t bound = 0;
        std::string err;
        const int id = eng->listen(
            ip, p.wPort,
            [p, loginMs](const std::shared_ptr<Link>& link, int listenId) -> std::shared_ptr<LinkHandler> {
                if (!lib().pendingLogins.admit(lib().gate, kMod, "wait for alarmHello", link->peerAddress(),
                                               link->peerPort()))
                    return nullptr;
                auto s = std::make_shared<AmsSession>(link, listenId, p);
                s->start(loginMs);
                return s;
            },
            bound, err);
        if (id < 0) {
            RunLog_Write(5, kMod, "listen on %s:%u failed: %s", ip.c_str(), p.wPort, err.c_str());
            return fail(VEXA_SDK_ERR_LISTEN), -1;
        }
        RunLog_Write(3, kMod, "listening on %s:%u", ip.empty() ? "*" : ip.c_str(), bound);
        ok();
        return id;
    } catch (...) {
        return fail(VEXA_SDK_ERR_LISTEN), -1;
    }
}

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_StopListen(int32_t handle) {
    try {
        auto eng = lib().getEngine();
        if (!eng) return fail(VEXA_SDK_ERR_NOT_INIT);
        return eng->closeListener(handle) ? ok() : fail(VEXA_SDK_ERR_PARAM);
    } catch (...) {
        return fail(VEXA_SDK_ERR_PARAM);
    }
}

uint16_t VEXA_SDK_CALL VEXA_AMS_GetListenPort(int32_t handle) {
    auto eng = lib().getEngine();
    return eng ? eng->listenPort(handle) : 0;
}

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetLogToFile(uint32_t level, const char* dir, VEXA_BOOL autoDel) {
    (void)dir;
    (void)autoDel;
    std::lock_guard<std::mutex> lk(lib().mu);
    lib().logLevel = level;
    return ok();
}

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetDeviceSessionKey(const VEXA_DEV_SESSION_KEY* key) {
    if (!key) return fail(VEXA_SDK_ERR_PARAM);
    const std::string id = vexasdk::fieldText(key->szDeviceID, sizeof key->szDeviceID);
    const std::string k = vexasdk::fieldText(key->szSessionKey, sizeof key->szSessionKey);
    if (id.empty()) return fail(VEXA_SDK_ERR_PARAM);
    std::lock_guard<std::mutex> lk(lib().mu);
    if (k.empty())
        lib().sessionKeys.erase(id);
    else
        lib().sessionKeys[id] = k;
    return ok();
}

uint32_t VEXA_SDK_CALL VEXA_AMS_GetLastError(void) { return t_lastError; }

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetSDKLocalCfg(uint32_t option, const void* value) {
    if (!value || option != VEXA_SDK_MAX_PENDING_LOGINS) return fail(VEXA_SDK_ERR_PARAM);
    const uint32_t n = *static_cast<const uint32_t*>(value);
    lib().pendingLogins.max.store(n ? n : VEXA_SDK_DEFAULT_MAX_PENDING_LOGINS);
    return ok();
}

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_GetSDKStats(VEXA_SDK_STATS* stats) {
    if (!stats) return fail(VEXA_SDK_ERR_PARAM);
    memset(stats, 0, sizeof *stats);
    stats->dwPendingLogins = lib().pendingLogins.count.load();
    stats->dwMaxPendingLogins = lib().pendingLogins.max.load();
    stats->qwRefusedConnections = lib().pendingLogins.refused.load();
    return ok();
}

}  // extern "C"
