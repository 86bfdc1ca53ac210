#include "LibraryCore.h"

#include "WireNames.h"
#include "runlog.h"

#include <cstring>

namespace vexasdk {

LibraryCore::LibraryCore(const char* mod, const char* waiting, uint32_t& (*lastError)())
    : module(mod), m_waiting(waiting), m_lastError(lastError) {
    admission.setModule(mod);
}

VEXA_BOOL LibraryCore::fail(uint32_t code) {
    m_lastError() = code;
    return 0;
}

VEXA_BOOL LibraryCore::ok() {
    m_lastError() = VEXA_SDK_ERR_NONE;
    return 1;
}

std::shared_ptr<Engine> LibraryCore::getEngine() {
    std::lock_guard<std::mutex> lk(mu);
    return m_engine;
}

bool LibraryCore::onLibraryThread() {
    auto eng = getEngine();
    return eng && eng->onIoThread();
}

VEXA_BOOL LibraryCore::setInitCfg(uint32_t type, const char* value) {
    if (type > 1 || !value) return fail(VEXA_SDK_ERR_PARAM);
    std::lock_guard<std::mutex> lk(mu);
    m_initCfg[type] = value;
    return ok();
}

VEXA_BOOL LibraryCore::init() {
    try {
        std::lock_guard<std::mutex> life(m_lifeMu);
        if (getEngine()) return ok();
        uint32_t threads;
        {
            std::lock_guard<std::mutex> lk(mu);
            threads = ioThreads;
        }
        auto eng = std::make_shared<Engine>(module, threads);
        if (!eng->start()) return fail(VEXA_SDK_ERR_NOT_INIT);
        std::lock_guard<std::mutex> lk(mu);
        loginTimeoutMs = loginTimeoutFromEnv();
        m_engine = eng;
        initLocked();
        return ok();
    } catch (...) {
        return fail(VEXA_SDK_ERR_NOT_INIT);
    }
}

VEXA_BOOL LibraryCore::fini() {
    try {
        std::lock_guard<std::mutex> life(m_lifeMu);
        auto eng = getEngine();
        if (!eng) return ok();
        if (eng->onIoThread()) return fail(VEXA_SDK_ERR_WOULD_BLOCK);
        eng->stop();
        Admission::instance().releaseSpare();
        {
            std::lock_guard<std::mutex> lk(mu);
            m_engine.reset();
            finiLocked();
        }
        finiDone();
        return ok();
    } catch (...) {
        return fail(VEXA_SDK_ERR_PARAM);
    }
}

int32_t LibraryCore::startListen(const char* ipField, size_t ipCap, uint16_t port, SessionFactory factory) {
    try {
        auto eng = getEngine();
        if (!eng) return fail(VEXA_SDK_ERR_NOT_INIT), -1;
        uint64_t loginMs;
        {
            std::lock_guard<std::mutex> lk(mu);
            loginMs = loginTimeoutMs;
        }
        const std::string ip = fieldText(ipField, ipCap);
        uint16_t bound = 0;
        std::string err;
        const int id = eng->listen(
            ip, port,
            [this, factory, loginMs](const std::shared_ptr<Link>& link, int listenId) -> std::shared_ptr<LinkHandler> {
                if (!admission.enterSession()) return nullptr;
                if (!pendingLogins.admit(gate, module, m_waiting, link->peerAddress(), link->peerPort())) {
                    admission.leaveSession();
                    return nullptr;
                }
                std::shared_ptr<LinkHandler> s;
                try {
                    s = factory(link, listenId);
                } catch (...) {
                }
                if (!s) {
                    pendingLogins.leave();
                    admission.leaveSession();
                    return nullptr;
                }
                link->armTimer(loginMs, false);  // time to log in (or say alarmHello)
                return s;
            },
            bound, err);
        if (id < 0) {
            RunLog_Write(5, module, "listen on %s:%u failed: %s", ip.c_str(), port, err.c_str());
            return fail(VEXA_SDK_ERR_LISTEN), -1;
        }
        RunLog_Write(3, module, "listening on %s:%u", ip.empty() ? "*" : ip.c_str(), bound);
        ok();
        return id;
    } catch (...) {
        return fail(VEXA_SDK_ERR_LISTEN), -1;
    }
}

VEXA_BOOL LibraryCore::stopListen(int32_t handle) {
    try {
        auto eng = getEngine();
        if (!eng) return fail(VEXA_SDK_ERR_NOT_INIT);
        return eng->closeListener(handle) ? ok() : fail(VEXA_SDK_ERR_PARAM);
    } catch (...) {
        return fail(VEXA_SDK_ERR_PARAM);
    }
}

uint16_t LibraryCore::listenPort(int32_t handle) {
    auto eng = getEngine();
    return eng ? eng->listenPort(handle) : 0;
}

VEXA_BOOL LibraryCore::setLogToFile(uint32_t level, const char* dir, VEXA_BOOL autoDel) {
    (void)dir;
    (void)autoDel;
    std::lock_guard<std::mutex> lk(mu);
    m_logLevel = level;
    return ok();
}

VEXA_BOOL LibraryCore::setDeviceSessionKey(const VEXA_DEV_SESSION_KEY* key) {
    if (!key) return fail(VEXA_SDK_ERR_PARAM);
    const std::string id = fieldText(key->szDeviceID, sizeof key->szDeviceID);
    const std::string k = fieldText(key->szSessionKey, sizeof key->szSessionKey);
    if (id.empty()) return fail(VEXA_SDK_ERR_PARAM);
    std::lock_guard<std::mutex> lk(mu);
    if (k.empty())
        m_sessionKeys.erase(id);
    else
        m_sessionKeys[id] = k;
    return ok();
}

std::string LibraryCore::sessionKey(const std::string& deviceId) {
    std::lock_guard<std::mutex> lk(mu);
    auto it = m_sessionKeys.find(deviceId);
    return it == m_sessionKeys.end() ? std::string() : it->second;
}

VEXA_BOOL LibraryCore::setMaxPendingLogins(const void* value) {
    if (!value) return fail(VEXA_SDK_ERR_PARAM);
    const uint32_t n = *static_cast<const uint32_t*>(value);
    pendingLogins.max.store(n ? n : VEXA_SDK_DEFAULT_MAX_PENDING_LOGINS);
    return ok();
}

VEXA_BOOL LibraryCore::setAdmissionOption(uint32_t option, const void* value) {
    std::lock_guard<std::mutex> lk(mu);
    return setAdmissionOptionLocked(option, value);
}

VEXA_BOOL LibraryCore::setAdmissionOptionLocked(uint32_t option, const void* value) {
    if (!value) return fail(VEXA_SDK_ERR_PARAM);
    const uint32_t n = *static_cast<const uint32_t*>(value);
    switch (option) {
    case VEXA_SDK_INIT_MAX_SESSIONS:
        maxSessions = n;
        admission.maxSessions.store(n);
        return ok();
    case VEXA_SDK_INIT_IO_THREADS:
        ioThreads = n;
        return ok();
    case VEXA_SDK_INIT_FD_RESERVE:
        fdReserve = n;
        admission.fdReserve.store(n);
        return ok();
    default:
        return fail(VEXA_SDK_ERR_PARAM);
    }
}

VEXA_BOOL LibraryCore::getStats(VEXA_SDK_STATS* stats) {
    if (!stats) return fail(VEXA_SDK_ERR_PARAM);
    memset(stats, 0, sizeof *stats);
    stats->dwPendingLogins = pendingLogins.count.load();
    stats->dwMaxPendingLogins = pendingLogins.max.load();
    stats->qwRefusedConnections = pendingLogins.refused.load();
    stats->dwSessions = admission.sessions.load();
    stats->dwMaxSessions = admission.maxSessions.load();
    stats->qwRefusedFull = admission.refusedFull.load();
    return ok();
}

std::string PeerSession::who() const {
    std::string s = m_link->peerAddress() + ":" + std::to_string(m_link->peerPort());
    if (!m_deviceId.empty()) s += " [" + logText(m_deviceId) + "]";
    return s;
}

void PeerSession::leavePending() {
    if (!m_countedPending) return;
    m_countedPending = false;
    m_core.pendingLogins.leave();
}

void PeerSession::ignoreUnknown(const std::string& type) {
    if (m_unknownLogged) return;
    m_unknownLogged = true;
    PEER_BAD_INPUT("%s: ignoring frame type '%.64s'", who().c_str(), type.c_str());
}

void PeerSession::logBadFrame(const std::string& why) {
    PEER_BAD_INPUT("%s: bad frame (%s), closing", who().c_str(), why.c_str());
}

void PeerSession::sendRefused(const char* reason) {
    Json::Value m(Json::objectValue);
    m[vexawire::member::type] = vexawire::type::refused;
    m[vexawire::member::reason] = reason;
    m_link->send(m);
}

void PeerSession::sendType(const char* type) {
    Json::Value m(Json::objectValue);
    m[vexawire::member::type] = type;
    m_link->send(m);
}

}  // namespace vexasdk
