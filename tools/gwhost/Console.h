// gwhost's console: one page and a small JSON API over HTTP on threads of its own. What it does
// to devices goes through a ConsoleHost; the host's event lines come in through publish().
#ifndef GWHOST_CONSOLE_H
#define GWHOST_CONSOLE_H

#include <json/json.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "ConsoleState.h"

namespace httplib {
class Server;
}

namespace gwhost {

struct ConsoleDevice {
    std::string id, type, protocol, serial, address, statusText;
    int64_t status = -1;        // -1: nothing reported yet
    double onlineSeconds = -1;  // time on line; -1 when off line
    bool camera = false;        // takes live-view orders
};

// An HTTP status and the JSON document answered with it.
struct ConsoleReply {
    int status = 200;
    Json::Value body;
};

// What the console may ask of the host. Called on the console's threads.
class ConsoleHost {
public:
    virtual ~ConsoleHost() = default;
    virtual bool running() const = 0;
    virtual std::vector<ConsoleDevice> devices() const = 0;
    virtual bool hasDevice(const std::string& id) const = 0;
    // `wanted`: {"id","key","type","protocol","allowDirectConn","alarmActiveStatus"}.
    virtual ConsoleReply addDevice(const Json::Value& wanted) = 0;
    virtual ConsoleReply removeDevice(const std::string& id) = 0;
    // One device-API call; `ok` tells whether it succeeded (for the error counter).
    virtual ConsoleReply request(const std::string& id, const std::string& method, const std::string& uri,
                                 const std::string& body, bool& ok) = 0;
    // `action`: "start", "stop" or "status" of a device's live view into the host's media sink.
    virtual ConsoleReply live(const std::string& id, const std::string& action) = 0;
};

class Console {
public:
    struct Options {
        std::string address = "127.0.0.1";
        uint16_t port = 0;
        std::string token;             // required on every request when set
        size_t maxBody = 64 * 1024;    // larger bodies get 413
        size_t maxStreams = 8;         // event-stream readers at once
        size_t ringSize = 1024;        // host event lines kept
        int writeTimeoutSec = 3;       // a reader that takes no bytes that long is dropped
    };
    Console(ConsoleHost& host, Options options);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Binds and starts serving. False with a reason (no token for a non-loopback bind, bind failure).
    bool start(std::string& why);
    void stop();
    uint16_t port() const { return m_port; }

    // The host's event path: one JSON line of kind `kind` ("alarm", "status", ...). Never waits
    // for a reader.
    void publish(const std::string& kind, const std::string& json);

    ConsoleStats& stats() { return m_stats; }
    size_t streams() const { return m_streams.load(); }

private:
    void routes();
    bool authorized(const std::string& header, const std::string& query) const;
    void badInput(const std::string& peer, const std::string& what);
    std::string metrics() const;

    ConsoleHost& m_host;
    Options m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    uint16_t m_port = 0;
    EventRing m_ring;
    ConsoleStats m_stats;
    std::atomic<size_t> m_streams{0};
    std::atomic<uint64_t> m_droppedReaders{0};
    std::atomic<bool> m_stopping{false};
    // Bad-input lines per peer: at most a few per window, so a client cannot flood standard error.
    std::mutex m_logMx;
    struct LogSlot {
        int64_t windowStart = 0;
        uint32_t used = 0;
        uint64_t held = 0;
    };
    std::unordered_map<std::string, LogSlot> m_logSlots;
};

// The page's files, built into the program.
struct ConsoleAsset {
    const char* path;
    const char* type;
    const unsigned char* data;
    size_t size;
};
const ConsoleAsset* findConsoleAsset(const std::string& path);

}  // namespace gwhost

#endif
