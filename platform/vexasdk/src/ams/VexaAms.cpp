// VEXAAMS stand-in: alarm connections (alarmHello, alarm -> callback -> alarmAck).
#include "VexaAmsSdk.h"

#include "SdkUtil.h"
#include "Transport.h"
#include "WireFrame.h"
#include "runlog.h"

#include <map>
#include <mutex>

using vexasdk::Engine;
using vexasdk::Link;
using vexasdk::LinkHandler;
using vexawire::getString;
using vexawire::getU32;


static const char k_descriptor[] = "descriptor";
namespace {

constexpr const char* kMod = "VEXAAMS";

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

    std::shared_ptr<Engine> getEngine() {
        std::lock_guard<std::mutex> lk(mu);
        return engine;
    }
};

AmsLib& lib() {
    static AmsLib* l = new AmsLib;
    return *l;
}

class AmsSession final : public LinkHandler {
public:
    AmsSession(std::shared_ptr<Link> link, int listenId, const VEXA_AMS_LISTEN_PARAM& p)
        : m_link(std::move(link)), m_listenId(listenId), m_cb(p.fnCB), m_user(p.pUserData),
          m_keepAliveSec(p.dwKeepAliveTimeout) {}

    void start(uint64_t loginTimeoutMs) { m_link->armTimer(loginTimeoutMs, false); }

    void onFrame(Json::Value& msg) override {
        const std::string type = msg["type"].asString();
        if (type == "alarmHello") return onHello(msg);
        if (type == "alarm") return onAlarm(msg);
        if (!m_unknownLogged) {
            m_unknownLogged = true;
            RunLog_Write(4, kMod, "%s: ignoring frame type '%.64s'", who().c_str(), type.c_str());
        }
    }
    void onBadFrame(const std::string& why) override {
        RunLog_Write(4, kMod, "%s: bad frame (%s), closing", who().c_str(), why.c_str());
        refuse("frame");
    }
    void onTimer() override {
        RunLog_Write(4, kMod, "%s: silent for too long, closing", who().c_str());
        m_link->close();
    }
    void onPeerClosed(const std::string& why) override {
        RunLog_Write(3, kMod, "%s: connection closed (%s)", who().c_str(), why.c_str());
    }
    void onShutdown() override {}

private:
    std::string who() const {
        std::string s = m_link->peerAddress() + ":" + std::to_string(m_link->peerPort());
        if (!m_deviceId.empty()) s += " [" + m_deviceId + "]";
        return s;
    }

    void refuse(const char* reason) {
        Json::Value m(Json::objectValue);
        m["type"] = "refused";
        m["reason"] = reason;
        m_link->send(m);
        m_link->close();
    }

    void onHello(const Json::Value& msg) {
        if (m_helloDone) {
            RunLog_Write(4, kMod, "%s: second alarmHello, closing", who().c_str());
            return refuse("protocol");
        }
        const std::string id = getString(msg, "deviceId");
        const int64_t ver = vexawire::getInt(msg, "protocolVersion", -1);
        if (id.empty() || id.size() >= sizeof(VEXA_ALARM_MSG::szDeviceID) || ver < 0 || ver > 255) {
            RunLog_Write(4, kMod, "%s: alarmHello without a valid deviceId/protocolVersion", who().c_str());
            return refuse("protocol");
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
                RunLog_Write(4, kMod, "%s: session key of %s not accepted", who().c_str(), id.c_str());
                return refuse("key");
            }
        }
        m_deviceId = id;
        m_helloDone = true;
        m_link->armTimer(vexasdk::secondsProductMs(m_keepAliveSec, 1), true);
        Json::Value m(Json::objectValue);
        m["type"] = "alarmHelloAck";
        m_link->send(m);
    }

    void onAlarm(const Json::Value& msg) {
        if (!m_helloDone) {
            RunLog_Write(4, kMod, "%s: alarm before alarmHello, closing", who().c_str());
            return refuse("frame");
        }
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
        if (m_cb) {
            try {
                m_cb(m_listenId, &rec, m_user);
            } catch (...) {
            }
        }
        // The callback may have stopped this listener.
        if (m_link->isClosed()) return;
        Json::Value m(Json::objectValue);
        m["type"] = "alarmAck";
        m["seq"] = seq;
        m_link->send(m);
    }

    std::shared_ptr<Link> m_link;
    int m_listenId;
    VEXA_AMS_ALARM_CB m_cb;
    void* m_user;
    uint32_t m_keepAliveSec;
    std::string m_deviceId;
    bool m_helloDone = false;
    bool m_unknownLogged = false;
};

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
            [p, loginMs](const std::shared_ptr<Link>& link, int listenId) {
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

}  // extern "C"
