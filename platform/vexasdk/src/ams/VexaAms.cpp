// VEXAAMS stand-in: alarm connections (alarmHello, alarm -> callback -> alarmAck). An alarm link
// belongs to a device with a live command session and closes with it.
#include "VexaAmsSdk.h"

#include "LibraryCore.h"
#include "SessionDirectory.h"
#include "WireFrame.h"
#include "WireNames.h"
#include "runlog.h"

#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

using vexawire::getString;
namespace wtype = vexawire::type;
namespace wmember = vexawire::member;
namespace wreason = vexawire::reason;

namespace {

// Back-off before an alarm the plug-in could not take is offered again.
constexpr uint64_t kRetryFirstMs = 5;
constexpr uint64_t kRetryMaxMs = 20;
constexpr char kDescriptor[] = "descriptor";

thread_local uint32_t t_lastError = VEXA_SDK_ERR_NONE;
uint32_t& lastError() { return t_lastError; }

class AmsSession;

// Alarm links by device, for closing them when the device's command session ends. Links of one
// device may live on different I/O threads: g_boundMu guards it. Touched at alarmHello and at a
// link's end, never per alarm.
std::mutex g_boundMu;
std::unordered_map<std::string, std::vector<std::weak_ptr<AmsSession>>> g_bound;

void onCommandSessionEnded(const std::string& deviceId, uint64_t token);

struct AmsLib final : vexasdk::LibraryCore {
    AmsLib() : LibraryCore("VEXAAMS", "wait for alarmHello", lastError) {}

    void initLocked() override { vexasdk::SessionDirectory::instance().setEndListener(onCommandSessionEnded); }
    void finiLocked() override {  // the I/O threads are gone
        std::lock_guard<std::mutex> lk(g_boundMu);
        g_bound.clear();
    }
};

// Never destroyed: callbacks and API calls may still run while the process exits.
AmsLib& lib() {
    static AmsLib* l = new AmsLib;
    return *l;
}

class AmsSession final : public vexasdk::PeerSession, public std::enable_shared_from_this<AmsSession> {
public:
    AmsSession(std::shared_ptr<vexasdk::Link> link, int listenId, const VEXA_AMS_LISTEN_PARAM& p)
        : PeerSession(lib(), std::move(link)), m_listenId(listenId), m_cb(p.fnCB), m_user(p.pUserData),
          m_keepAliveSec(p.dwKeepAliveTimeout) {}

    // From any thread: the command session `token` ended; handled on this link's thread.
    void postSessionEnded(uint64_t token) {
        auto self = shared_from_this();
        m_link->post([self, token] { self->sessionEnded(token); });
    }

    // The command session this link was bound to ended.
    void sessionEnded(uint64_t token) {
        if (token != m_token || m_link->isClosed()) return;
        RunLog_Write(3, m_core.module, "%s: command session ended, closing the alarm link", who().c_str());
        close();
    }

    void onFrame(Json::Value& msg) override {
        const std::string type = msg[wmember::type].asString();
        if (type == wtype::alarmHello) return onHello(msg);
        if (type == wtype::alarm) return onAlarm(msg);
        ignoreUnknown(type);
    }
    void onBadFrame(const std::string& why) override {
        logBadFrame(why);
        refuse(wreason::frame);
    }
    void onTimer() override {
        if (m_helloDone)
            RunLog_Write(4, m_core.module, "%s: silent for too long, closing", who().c_str());
        else
            PEER_BAD_INPUT("%s: no alarmHello in time, closing", who().c_str());
        close();
    }
    void onPeerClosed(const std::string& why) override {
        RunLog_Write(3, m_core.module, "%s: connection closed (%s)%s", who().c_str(), why.c_str(),
                     m_held.isNull() ? "" : ", the alarm not taken stays with the device");
        ended();
    }
    void onShutdown() override { ended(); }

private:
    // Whatever ended the link: a held alarm is simply dropped (the device still has it).
    void ended() {
        leavePending();
        m_held = Json::Value();
        if (!m_helloDone) return;
        std::lock_guard<std::mutex> lk(g_boundMu);
        auto it = g_bound.find(m_deviceId);
        if (it == g_bound.end()) return;
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

    void close() {
        m_link->close();
        ended();
    }

    void refuse(const char* reason) {
        sendRefused(reason);
        close();
    }

    void onHello(const Json::Value& msg) {
        if (m_helloDone) {
            PEER_BAD_INPUT("%s: second alarmHello, closing", who().c_str());
            return refuse(wreason::protocol);
        }
        const std::string id = getString(msg, wmember::deviceId);
        const int64_t ver = vexawire::getInt(msg, wmember::protocolVersion, -1);
        if (id.empty() || id.size() >= sizeof(VEXA_ALARM_MSG::szDeviceID) || ver < 0 || ver > 255) {
            PEER_BAD_INPUT("%s: alarmHello without a valid deviceId/protocolVersion", who().c_str());
            return refuse(wreason::protocol);
        }
        // Protocol 4 proves itself with the session key; the others by coming from the address of
        // the device's command session.
        uint64_t token = 0;
        const auto verdict =
            vexasdk::SessionDirectory::instance().check(id, m_link->peerAddress(), ver == 4, token);
        if (verdict != vexasdk::SessionDirectory::Verdict::Live) {
            PEER_BAD_INPUT("%s: alarmHello of %s refused: %s", who().c_str(), vexasdk::logText(id).c_str(),
                           verdict == vexasdk::SessionDirectory::Verdict::NoSession
                               ? "no live command session"
                               : "not the command session's address");
            return refuse(wreason::auth);
        }
        if (ver == 4) {
            const std::string installed = m_core.sessionKey(id);
            if (installed.empty() || !vexasdk::constantTimeEqual(getString(msg, "sessionKey"), installed)) {
                PEER_BAD_INPUT("%s: session key of %s not accepted", who().c_str(), vexasdk::logText(id).c_str());
                return refuse(wreason::key);
            }
        }
        m_deviceId = id;
        m_helloDone = true;
        m_token = token;
        {
            std::lock_guard<std::mutex> lk(g_boundMu);
            g_bound[id].push_back(shared_from_this());
        }
        leavePending();
        m_link->setFrameLimit(vexawire::kMaxFrameLen);
        m_link->armTimer(vexasdk::secondsProductMs(m_keepAliveSec, 1), true);
        sendType(wtype::alarmHelloAck);
    }

    void onAlarm(Json::Value& msg) {
        if (!m_helloDone) {
            PEER_BAD_INPUT("%s: alarm before alarmHello, closing", who().c_str());
            return refuse(wreason::frame);
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
        const uint32_t seq = vexawire::getU32(msg, wmember::seq);
        VEXA_ALARM_MSG rec;
        memset(&rec, 0, sizeof rec);
        rec.byAlarmType = vexasdk::getU8(msg, "alarmType");
        rec.byDataType = vexasdk::getU8(msg, "dataType");
        vexasdk::setField(rec.szDeviceID, sizeof rec.szDeviceID, m_deviceId);
        const bool structured = rec.byAlarmType == 3 || (rec.byAlarmType == 2 && rec.byDataType == 3);
        // Texts point into the held frame, which outlives the callback: no copy per alarm.
        const char* text = nullptr;
        uint32_t textLen = 0;
        VEXA_ALARM_TEXT desc{};
        VEXA_ALARM_STRUCT st;
        memset(&st, 0, sizeof st);
        static const uint32_t kHeaderMark = 1;
        if (structured) {
            stringOf(msg, "text", text, textLen);
            st.iKind = static_cast<int32_t>(vexawire::getInt(msg, "kind", 0));
            st.pText = text ? text : "";
            st.dwTextLen = textLen;
            const char* d = nullptr;
            uint32_t dLen = 0;
            if (stringOf(msg, kDescriptor, d, dLen)) {
                desc.pText = d;
                desc.dwLen = dLen;
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
            stringOf(msg, "payload", text, textLen);
            rec.pXmlBuf = textLen == 0 ? nullptr : const_cast<char*>(text);
            rec.dwXmlBufLen = textLen;
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
                RunLog_Write(3, m_core.module, "%s: alarm %u not taken, reading paused", who().c_str(), seq);
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
        m[wmember::type] = wtype::alarmAck;
        m[wmember::seq] = seq;
        m_link->send(m);
        if (m_paused) {
            m_paused = false;
            RunLog_Write(3, m_core.module, "%s: alarm %u taken, reading resumed", who().c_str(), seq);
            m_link->armTimer(vexasdk::secondsProductMs(m_keepAliveSec, 1), true);
            m_link->resumeReading();
        }
    }

    // A string member as a pointer into the frame; false (null, 0) when missing or not a string.
    static bool stringOf(const Json::Value& msg, const char* name, const char*& p, uint32_t& len) {
        p = nullptr;
        len = 0;
        const Json::Value* v = msg.find(name, name + strlen(name));
        const char* e = nullptr;
        if (!v || !v->isString() || !v->getString(&p, &e) || !p) return p = nullptr, false;
        len = static_cast<uint32_t>(e - p);
        return true;
    }

    int m_listenId;
    VEXA_AMS_ALARM_CB m_cb;
    void* m_user;
    uint32_t m_keepAliveSec;
    bool m_helloDone = false;
    uint64_t m_token = 0;  // the command session this link is bound to
    Json::Value m_held;    // alarm offered and not yet taken
    bool m_paused = false;
    uint64_t m_retryMs = kRetryFirstMs;
};

// From the command library's thread: hand the end of a session to the threads of its alarm links.
void onCommandSessionEnded(const std::string& deviceId, uint64_t token) {
    std::vector<std::shared_ptr<AmsSession>> links;
    {
        std::lock_guard<std::mutex> lk(g_boundMu);
        auto it = g_bound.find(deviceId);
        if (it == g_bound.end()) return;
        for (auto& w : it->second)
            if (auto p = w.lock()) links.push_back(std::move(p));
    }
    for (auto& l : links) l->postSessionEnded(token);
}

}  // namespace

// The exported functions forward to the shared core.
extern "C" {

uint32_t VEXA_SDK_CALL VEXA_AMS_GetLastError(void) { return t_lastError; }
VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_Init(void) { return lib().init(); }
VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_Fini(void) { return lib().fini(); }

int32_t VEXA_SDK_CALL VEXA_AMS_StartListen(const VEXA_AMS_LISTEN_PARAM* param) {
    if (!param || !param->fnCB) return lib().fail(VEXA_SDK_ERR_PARAM), -1;
    const VEXA_AMS_LISTEN_PARAM p = *param;
    return lib().startListen(p.szIP, sizeof p.szIP, p.wPort,
                             [p](const std::shared_ptr<vexasdk::Link>& link, int listenId) {
                                 return std::make_shared<AmsSession>(link, listenId, p);
                             });
}

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetSDKLocalCfg(uint32_t option, const void* value) {
    // The session cap is the command library's: alarm links follow their sessions.
    if (option == VEXA_SDK_INIT_IO_THREADS || option == VEXA_SDK_INIT_FD_RESERVE)
        return lib().setAdmissionOption(option, value);
    if (option != VEXA_SDK_MAX_PENDING_LOGINS) return lib().fail(VEXA_SDK_ERR_PARAM);
    return lib().setMaxPendingLogins(value);
}

VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetDeviceSessionKey(const VEXA_DEV_SESSION_KEY* key) {
    return lib().setDeviceSessionKey(key);
}
VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_StopListen(int32_t handle) { return lib().stopListen(handle); }
uint16_t VEXA_SDK_CALL VEXA_AMS_GetListenPort(int32_t handle) { return lib().listenPort(handle); }
VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_GetSDKStats(VEXA_SDK_STATS* stats) { return lib().getStats(stats); }
VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetSDKInitCfg(uint32_t type, const char* value) {
    return lib().setInitCfg(type, value);
}
VEXA_BOOL VEXA_SDK_CALL VEXA_AMS_SetLogToFile(uint32_t level, const char* dir, VEXA_BOOL autoDel) {
    return lib().setLogToFile(level, dir, autoDel);
}

}  // extern "C"
