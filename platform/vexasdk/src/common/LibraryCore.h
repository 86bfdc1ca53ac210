// The shell both access libraries share: last error, Init/Fini, listeners, session keys, the
// pending-login cap and its counters. Each library derives from it, adds its own state and hooks,
// and gives StartListen a factory for its own session class; its exported C functions forward here.
#ifndef VEXASDK_LIBRARY_CORE_H
#define VEXASDK_LIBRARY_CORE_H

#include "Admission.h"
#include "SdkUtil.h"
#include "Transport.h"
#include "VexaSdkCommon.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vexasdk {

class LibraryCore {
public:
    // lastError: the library's own thread-local last-error slot.
    // waiting: what a capped connection waits for, in the cap's log line ("wait to log in").
    LibraryCore(const char* module, const char* waiting, uint32_t& (*lastError)());
    virtual ~LibraryCore() = default;
    LibraryCore(const LibraryCore&) = delete;
    LibraryCore& operator=(const LibraryCore&) = delete;

    // The handler of one accepted connection; a null result drops it.
    using SessionFactory = std::function<std::shared_ptr<LinkHandler>(const std::shared_ptr<Link>&, int listenId)>;

    VEXA_BOOL fail(uint32_t code);
    VEXA_BOOL ok();

    VEXA_BOOL setInitCfg(uint32_t type, const char* value);
    VEXA_BOOL init();
    VEXA_BOOL fini();
    // ipField: the record's fixed address field.
    int32_t startListen(const char* ipField, size_t ipCap, uint16_t port, SessionFactory factory);
    VEXA_BOOL stopListen(int32_t handle);
    uint16_t listenPort(int32_t handle);
    // Only the level is kept: the libraries log through runlog.
    VEXA_BOOL setLogToFile(uint32_t level, const char* dir, VEXA_BOOL autoDel);
    VEXA_BOOL setDeviceSessionKey(const VEXA_DEV_SESSION_KEY* key);
    // The session key installed for deviceId ("" when none).
    std::string sessionKey(const std::string& deviceId);
    // Option 20: value points to the cap (0: the default).
    VEXA_BOOL setMaxPendingLogins(const void* value);
    // Options 21 (session cap), 22 (I/O threads), 23 (descriptor reserve): value points to a uint32_t.
    VEXA_BOOL setAdmissionOption(uint32_t option, const void* value);
    VEXA_BOOL setAdmissionOptionLocked(uint32_t option, const void* value);  // caller holds mu
    VEXA_BOOL getStats(VEXA_SDK_STATS* stats);

    std::shared_ptr<Engine> getEngine();
    // A synchronous call made here would wait for the thread that must answer it.
    bool onLibraryThread();

    const char* const module;
    std::mutex mu;  // everything below, and the deriving library's tables
    uint64_t loginTimeoutMs = 10000;
    uint32_t ioThreads = 0;    // 0: one per core
    uint32_t maxSessions = 0;  // 0: no cap but the descriptor limit
    uint32_t fdReserve = VEXA_SDK_DEFAULT_FD_RESERVE;
    Admission& admission = Admission::instance();
    PendingLogins pendingLogins;
    LogGate gate;  // lines about one peer's bad input

protected:
    // Under mu, once the engine runs.
    virtual void initLocked() {}
    // Under mu, after the engine stopped and was dropped.
    virtual void finiLocked() {}
    // After finiLocked, with mu released.
    virtual void finiDone() {}

private:
    const char* const m_waiting;
    uint32_t& (*const m_lastError)();
    std::mutex m_lifeMu;  // Init / Fini
    std::shared_ptr<Engine> m_engine;
    uint32_t m_logLevel = 0;
    std::string m_initCfg[2];
    std::map<std::string, std::string> m_sessionKeys;
};

// One accepted connection of either library: its peer, its device and its place among the
// connections waiting to log in.
class PeerSession : public LinkHandler {
public:
    PeerSession(LibraryCore& core, std::shared_ptr<Link> link) : m_core(core), m_link(std::move(link)) {}
    ~PeerSession() override {
        leavePending();
        m_core.admission.leaveSession();  // the factory counted every session it made
    }

    // Read from other threads only under the core's mu.
    std::string m_deviceId;

protected:
    // "address:port [device]" for log lines.
    std::string who() const;
    // The connection no longer waits to log in (or for its alarmHello).
    void leavePending();
    // Logs the first unknown frame type of the connection; later ones quietly.
    void ignoreUnknown(const std::string& type);
    void logBadFrame(const std::string& why);
    void sendRefused(const char* reason);
    void sendType(const char* type);

    LibraryCore& m_core;
    std::shared_ptr<Link> m_link;

private:
    bool m_unknownLogged = false;
    bool m_countedPending = true;  // the factory counted this connection as waiting
};

// Logs a line about this session's peer's bad input through the library's gate.
#define PEER_BAD_INPUT(fmt, ...) \
    SDK_BAD_INPUT(m_core.gate, m_core.module, m_link->peerAddress(), fmt, __VA_ARGS__)

}  // namespace vexasdk

#endif
