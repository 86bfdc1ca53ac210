// Device simulator: many field devices that connect out to the gateway and speak the stand-in
// device protocol. One I/O thread (or a small pool) serves every device; the public API is
// thread-safe and may be called from any thread.
#ifndef DEVSIM_SIMULATOR_H
#define DEVSIM_SIMULATOR_H

#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace devsim {

enum class Family { Vexa, AldonV5 };

// Lifecycle of the command connection. Refused, LoggedOut, ForcedOut and Closed end a session.
enum class State { Idle, Connecting, Registering, LoggedIn, Refused, LoggedOut, ForcedOut, Closed };
constexpr int kStateCount = 8;
const char* stateName(State s);

enum class AlarmState { None, Connecting, Hello, Ready, Refused, Closed };
const char* alarmStateName(AlarmState s);

// Bad frames put on the wire on purpose.
enum class Malformed {
    None,
    ZeroLength,   // length prefix 0
    OverLength,   // length prefix 1048577, followed by a few body bytes
    NotJson,      // a body that does not parse
    JsonArray,    // a JSON array instead of an object
    NoType,       // an object without "type"
};
const char* malformedName(Malformed m);
bool parseMalformed(const std::string& name, Malformed& out);  // "zero", "over", "notjson", "array", "notype"
// The exact bytes sent for a kind (empty for None).
std::string malformedBytes(Malformed m);

// A request answered after its handler returned (Answer::later). Thread-safe: the first reply()
// sends the answer (members merged as for Answer::members), later ones are ignored; without a
// reply the request stays unanswered. The answer is dropped when its connection has ended.
class Responder {
public:
    virtual ~Responder() = default;
    virtual void reply(Json::Value members) = 0;
    // `fn` runs once on an I/O thread when the login this request arrived on ends (logout,
    // connection loss, vanish, a new start(), simulator shutdown); at once if it has ended.
    virtual void onSessionEnd(std::function<void()> fn) = 0;
    virtual const std::string& deviceId() const = 0;
    // Distinct for every connection of every device of the process.
    virtual uint64_t sessionId() const = 0;
};
using LaterHandler = std::function<void(const std::shared_ptr<Responder>& responder)>;

// What a request handler decides. `members` are merged into the answer frame after "type", "seq"
// and "error" (0) are set, so they may override "seq" (a foreign answer) or "error" (1, "x");
// a null member removes it (an answer without "error").
struct Answer {
    bool send = true;
    Json::Value members = Json::Value(Json::objectValue);
    std::chrono::milliseconds delay{0};
    // Set: nothing is sent now; `later` runs on the device's I/O strand right after the handler
    // returned and answers through the Responder (`delay` is added to that answer).
    LaterHandler later;
    // >= 0: the device restarts after this answer went out (a reboot or an upgrade): both
    // connections close, and after this long it connects and logs in again.
    std::chrono::milliseconds restartAfter{-1};

    static Answer none() {
        Answer a;
        a.send = false;
        return a;
    }
    static Answer with(Json::Value m, std::chrono::milliseconds d = std::chrono::milliseconds(0)) {
        Answer a;
        a.members = std::move(m);
        a.delay = d;
        return a;
    }
    static Answer deferred(LaterHandler f) {
        Answer a;
        a.later = std::move(f);
        return a;
    }
};

// Receives every request frame (config, ferro, ovix, getConfig, media) on an I/O thread; must
// not block. Thrown exceptions count as "no answer".
using RequestHandler = std::function<Answer(const Json::Value& request)>;

// The built-in answers: config/ferro data {"status":200,"data":{}}, ovix an OK status document,
// getConfig audioCodec 1, media error 0.
Answer defaultAnswer(const Json::Value& request);
extern const char* const kOvixOkDocument;

struct DeviceConfig {
    std::string deviceId;
    std::string key;
    Family family = Family::Vexa;
    int protocolVersion = -1;  // -1: the family's own (2 for VEXA, 4 for aldonV5)
    std::string serial;        // empty: "SN-" + deviceId
    std::string shortSerial;   // empty: deviceId
    std::string firmware = "V1.0.0 build 240101";

    std::string host = "127.0.0.1";
    std::string bindAddress;  // non-empty: local source address of both connections (e.g. 127.0.0.2)
    uint16_t cmsPort = 0;
    std::string alarmHost;  // empty: host
    uint16_t amsPort = 0;   // 0: the alarmServer address and port of the loginAck

    // Address request before hello.
    bool dasRequest = false;
    std::string dasServerAddress;
    uint16_t dasServerPort = 0;

    // 0: keepAliveSec of the loginAck.
    std::chrono::milliseconds heartbeatInterval{0};

    // Misbehaviour.
    bool wrongKey = false;          // proof computed with another key
    bool noHeartbeat = false;
    bool silent = false;            // connect and say nothing
    Malformed malformed = Malformed::None;  // sent instead of hello
    bool slowWriter = false;        // one byte per write
    std::chrono::milliseconds slowWriteGap{1};
    std::chrono::milliseconds logoutAfter{0};  // > 0: log out that long after login
    std::chrono::milliseconds vanishAfter{0};  // > 0: close abruptly that long after login
    bool vanishAfterLogin = false;             // close abruptly as soon as logged in
    bool autoReconnect = false;                // start again when a session ends (not after logout())
    std::chrono::milliseconds reconnectDelay{1000};
    bool alarmNoHello = false;     // alarm link that never says alarmHello
    // Alarms kept until acknowledged; beyond this the oldest is discarded (counted and logged).
    size_t maxUnackedAlarms = 65536;

    RequestHandler handler;  // empty: defaultAnswer
};

struct DeviceStatus {
    State state = State::Idle;
    AlarmState alarmState = AlarmState::None;
    std::string refusal;       // reason of the last refused frame on the command connection
    std::string alarmRefusal;  // same for the alarm connection
    int64_t userHandle = -1;
    Json::Value loginAck;      // the whole frame
    Json::Value dasAnswer;     // the last one
    std::string sessionKey;    // protocol 4
    std::string companion;
    std::string nonce;         // of the last challenge
    uint64_t sessions = 0;     // connection attempts
    uint64_t logins = 0;
    uint64_t heartbeatsSent = 0;
    uint64_t heartbeatsAcked = 0;
    uint64_t requests = 0;
    uint64_t answersSent = 0;
    uint64_t messagesSent = 0;
    uint64_t alarmsSent = 0;
    uint64_t alarmAcks = 0;
    uint32_t lastAlarmAckSeq = 0;
    uint64_t alarmsUnacked = 0;    // kept for a resend until acknowledged
    uint64_t alarmsResent = 0;     // sent again on a later alarm link
    uint64_t alarmsDiscarded = 0;  // pushed out of a full unacknowledged store
    std::string closeWhy;      // why the last connection ended (peer, bad frame, vanish, ...)
};

class Simulator;
class DeviceOps;
struct Core;

class Device : public std::enable_shared_from_this<Device> {
public:
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& id() const { return m_cfg.deviceId; }
    int protocolVersion() const;

    // Connects (again) and runs the login; clears the reached-state marks.
    void start();
    // Sends logout, then waits for the gateway to close (or closes after a short grace).
    void logout();
    // Closes both connections abruptly.
    void vanish();

    DeviceStatus status() const;
    State state() const;
    // True once the device is in `s` or has passed through it since the last start().
    bool waitFor(State s, std::chrono::milliseconds timeout) const;
    // Waits until `pred` holds on the status (checked on every change).
    bool waitUntil(const std::function<bool(const DeviceStatus&)>& pred, std::chrono::milliseconds timeout) const;

    void setHandler(RequestHandler h);

    // Command connection extras.
    void sendMessage(int messageType, const std::string& domain, const std::string& identifier,
                     int alarmType, int dataType, const std::string& alarmText);
    void sendMalformed(Malformed kind);
    void sendRaw(std::string bytes);  // queued on the command connection as is
    void sendFrame(const Json::Value& frame);

    // Alarm connection.
    void connectAlarm();
    bool waitAlarm(AlarmState s, std::chrono::milliseconds timeout) const;
    // Returns the seq used.
    uint32_t pushAlarm(int alarmType, int dataType, const std::string& payload);
    uint32_t pushStructuredAlarm(int alarmType, int dataType, int kind, const std::string& text,
                                 const std::string* descriptor = nullptr, bool header = false);
    bool waitAlarmAcks(uint64_t n, std::chrono::milliseconds timeout) const;
    // Alarms that were not acknowledged stay with the device and go out again, in order, right
    // after the alarmHello of the next alarm link. Closes the alarm link abruptly.
    void dropAlarmLink();
    // Alarm links connected from now on are never read: their alarms stay unacknowledged.
    void setAlarmLinkDeaf(bool deaf);
    // Plain alarms at `perSecond` for `duration` on the alarm connection (connect it first). An
    // empty payload sends the mixed cycle of every alarm form instead, each by its own route.
    void startAlarmRate(double perSecond, std::chrono::milliseconds duration, int alarmType = 1,
                        int dataType = 1, const std::string& payload = "{}");
    void sendAlarmRaw(std::string bytes);
    // Replaces the session key sent in alarmHello (tests of the key check); empty optional = use received.
    void overrideAlarmSessionKey(const std::string& key);

private:
    friend class Simulator;
    friend class DeviceOps;
    struct Impl;
    Device(std::shared_ptr<Core> core, DeviceConfig cfg);

    DeviceConfig m_cfg;
    std::shared_ptr<Core> m_core;
    std::unique_ptr<Impl> m_impl;

    mutable std::mutex m_mx;
    mutable std::condition_variable m_cv;
    DeviceStatus m_st;
    uint32_t m_reached = 0;
    RequestHandler m_handler;
    std::string m_alarmKeyOverride;
    bool m_alarmKeyOverridden = false;
};

using DevicePtr = std::shared_ptr<Device>;

class Simulator {
public:
    explicit Simulator(unsigned ioThreads = 1);
    ~Simulator();  // closes every connection and joins the I/O threads
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Created Idle; call start() (or startAll()).
    DevicePtr addDevice(DeviceConfig cfg);
    // `count` devices with deviceId = prefix + index (startIndex, startIndex + 1, ...).
    std::vector<DevicePtr> addDevices(const DeviceConfig& base, const std::string& prefix,
                                      unsigned startIndex, unsigned count);
    std::vector<DevicePtr> devices() const;
    void startAll();

    // Devices currently in `s`.
    size_t countIn(State s) const;
    // Devices that reached `s` since their last start().
    size_t countReached(State s) const;
    bool waitReached(State s, size_t n, std::chrono::milliseconds timeout) const;
    bool waitIn(State s, size_t n, std::chrono::milliseconds timeout) const;

    // Called on an I/O thread after every state change of any device; must not block long.
    using StateListener = std::function<void(Device& dev, State s, const DeviceStatus& st)>;
    void setStateListener(StateListener l);

private:
    std::shared_ptr<Core> m_core;
};

// Raises RLIMIT_NOFILE to its hard limit; returns the new soft limit.
uint64_t raiseFileLimit();

}  // namespace devsim

#endif
