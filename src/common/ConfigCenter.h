// Plug-in settings: the key/value pairs of "local_config.xml" plus the network values that the
// host's configuration commands fill in at run time.
#ifndef VEXA_CONFIG_CENTER_H
#define VEXA_CONFIG_CENTER_H

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "common/Singleton.h"

class CConfigCenter : public singleton<CConfigCenter> {
public:
    static constexpr const char* kFileName = "local_config.xml";
    // Files above this size are refused unread.
    static constexpr long kMaxFileSize = 1024 * 1024;

    // Reads "local_config.xml" from the current directory. 1 when read, 0 otherwise (the map is
    // then empty and every setting reads 0).
    int parseConfig();
    // Same rules on a file name / on text, for tools and tests.
    int parseConfigFile(const std::string& path);
    int parseConfigText(const std::string& text);

    // Decimal value of a setting (leading blanks, sign, digits); missing reads 0.
    int32_t getInt(const std::string& key) const;
    bool getString(const std::string& key, std::string& value) const;

    // Effective time-outs with sane defaults for missing or nonsensical values.
    int64_t reqTimeoutSec() const;         // <= 0 -> 10, 1 -> 2
    int64_t reqWaitMs() const { return reqTimeoutSec() * 1000; }
    int64_t recvTimeoutMs() const { return (reqTimeoutSec() - 1) * 1000; }
    uint32_t libSendTimeout() const;        // sendTimeOut, or 30000 when <= 0
    uint32_t passThroughTimeoutMs() const;  // sendTimeOut x 1000, or 30000 when <= 0
    // Connections that may wait to log in on each listen port ("MaxPendingLogins", <= 0: 1024).
    static constexpr uint32_t kDefaultMaxPendingLogins = 1024;
    uint32_t maxPendingLogins() const;
    // Device sessions (logged in plus waiting to log in) served at once ("MaxDeviceSessions",
    // 0: no cap but the descriptor limit).
    uint32_t maxDeviceSessions() const;
    // I/O threads of each access library ("IoThreads", 0: one per core).
    uint32_t ioThreads() const;
    // Descriptors the libraries leave free for the plug-in's own files ("FdReserve").
    static constexpr uint32_t kDefaultFdReserve = 64;
    uint32_t fdReserve() const;

    // Network values written by the configuration commands.
    void setInnerRegPort(uint32_t v) { m_innerRegPort = v; }
    void setOuterRegPort(uint32_t v) { m_outerRegPort = v; }
    void setInnerAlarmPort(uint32_t v) { m_innerAlarmPort = v; }
    void setOuterAlarmPort(uint32_t v) { m_outerAlarmPort = v; }
    void setInnerStoragePort(uint32_t v) { m_innerStoragePort = v; }
    void setOuterStoragePort(uint32_t v) { m_outerStoragePort = v; }
    void setAccessNetId(uint32_t v) { m_accessNetId = v; }
    // The alarm port exactly as the host gave it (0: none given). The inner alarm port is what the
    // alarm library really listens on once it runs, so the two can differ.
    void setHostAlarmPort(uint32_t v) { m_hostAlarmPort = v; }
    uint32_t hostAlarmPort() const { return m_hostAlarmPort; }
    uint32_t innerRegPort() const { return m_innerRegPort; }
    uint32_t outerRegPort() const { return m_outerRegPort; }
    uint32_t innerAlarmPort() const { return m_innerAlarmPort; }
    uint32_t outerAlarmPort() const { return m_outerAlarmPort; }
    uint32_t innerStoragePort() const { return m_innerStoragePort; }
    uint32_t outerStoragePort() const { return m_outerStoragePort; }
    uint32_t accessNetId() const { return m_accessNetId; }

    void setInnerAddress(const std::string& v);
    void setOuterAddress(const std::string& v);
    std::string innerAddress() const;
    std::string outerAddress() const;

    // Back to the state at load (tests).
    void reset();

private:
    int load(const std::string& text, const std::string& name);
    // A count setting: missing gives def; anything but a decimal up to max is logged and gives def.
    uint32_t countSetting(const char* key, uint32_t def, uint32_t max) const;

    mutable std::shared_mutex m_settingsLock;
    std::map<std::string, std::string> m_settings;

    std::atomic<uint32_t> m_innerRegPort{0};
    std::atomic<uint32_t> m_outerRegPort{0};
    std::atomic<uint32_t> m_innerAlarmPort{0};
    std::atomic<uint32_t> m_outerAlarmPort{0};
    std::atomic<uint32_t> m_innerStoragePort{0};
    std::atomic<uint32_t> m_outerStoragePort{0};
    std::atomic<uint32_t> m_accessNetId{0};
    std::atomic<uint32_t> m_hostAlarmPort{0};

    mutable std::mutex m_addrLock;
    std::string m_innerAddress;
    std::string m_outerAddress;
};

#endif
