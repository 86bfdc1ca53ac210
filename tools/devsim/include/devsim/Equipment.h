// Simulated equipment behind a device's request handler: an alarm control panel that answers
// VEXA model commands, and a camera or recorder that answers device-API (ovix) requests with
// XML. One model per device. Handlers run on an I/O thread; every inspector and mutator may be
// called from any other thread at the same time.
#ifndef DEVSIM_EQUIPMENT_H
#define DEVSIM_EQUIPMENT_H

#include <json/json.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "devsim/MediaStream.h"
#include "devsim/PanelPeripherals.h"
#include "devsim/Recordings.h"
#include "devsim/Simulator.h"

namespace devsim {

// ---------------------------------------------------------------------------------------------
// Fault switches (both models)

enum class FaultAction {
    Answer,          // answer normally (with the fault's delay)
    Silent,          // never answer
    TransportError,  // answer frame with a non-zero "error" and no payload
    DeviceError,     // a well-formed device error document
    Garbage,         // a payload that is not JSON (model) / not XML (ovix); media: a text "error";
                     // getConfig: a text "audioCodec"
    MissingError,    // the answer without its "error" member (media: nothing started)
};

struct Fault {
    FaultAction action = FaultAction::Answer;
    std::chrono::milliseconds delay{0};  // applied to whatever is sent
    int transportError = 0x30000001;
    // DeviceError on a model command: {"status": status, "code": code}; empty code: none.
    int status = 400;
    std::string code = "0x01400016";
    // DeviceError on an ovix request: a ResponseStatus document.
    int statusCode = 3;
    std::string subStatusCode = "deviceError";
    std::string garbage;  // empty: a built-in text
    // Request keys hit: "Domain/Identifier" for model commands, the path (no query) for ovix,
    // "media/<op>" for media orders (e.g. "media/startLive"; "media" hits them all), the frame
    // type for anything else. An entry matches a key equal to it or starting with it followed
    // by "/"; an entry holding "?" matches an ovix URL with its query that starts with it
    // ("/OVIX/ContentMgmt/search?timeType=STD"). Empty: every request.
    std::vector<std::string> match;
    int times = -1;  // -1: until cleared; n > 0: only the next n requests it hits
};

// One request as the model received it.
struct SeenRequest {
    std::string type;    // config, ferro, ovix, getConfig, media
    std::string key;     // as for Fault::match
    std::string method;  // ovix: GET, PUT, POST, DELETE
    std::string url;     // ovix: path and query as received
    std::string body;    // as received (still wrapped for model commands)
    Json::Value frame;   // the whole request frame
};

class Equipment : public std::enable_shared_from_this<Equipment> {
public:
    virtual ~Equipment() = default;
    Equipment(const Equipment&) = delete;
    Equipment& operator=(const Equipment&) = delete;

    // The handler for DeviceConfig::handler / Device::setHandler; it keeps the model alive.
    // Needs a shared owner (makePanel / makeCamera).
    RequestHandler handler();
    // What handler() does, callable directly.
    Answer handle(const Json::Value& request);

    // Faults are tried in the order added; the first that hits a request decides.
    void addFault(Fault f);
    void clearFaults();
    // Non-empty: requests whose key matches no entry get no answer at all.
    void answerOnly(std::vector<std::string> keys);

    std::vector<SeenRequest> requests() const;
    // Those whose key matches `key` (same rule as Fault::match).
    std::vector<SeenRequest> requestsFor(const std::string& key) const;
    void clearRequests();

    // True when `key` is `entry` or starts with `entry` + "/".
    static bool keyMatches(const std::string& entry, const std::string& key);
    // keyMatches, or for an entry holding "?" a URL (path and query) that starts with it.
    static bool entryHits(const std::string& entry, const SeenRequest& seen);

protected:
    Equipment() = default;
    // Normal answer; called without m_mx held.
    virtual Answer serve(const Json::Value& request) = 0;

    mutable std::mutex m_mx;  // guards the subclass state as well

private:
    std::vector<Fault> m_faults;
    std::vector<std::string> m_answerOnly;
    std::vector<SeenRequest> m_seen;
};

// ---------------------------------------------------------------------------------------------
// Alarm control panel (VEXA model commands)

struct PanelOptions {
    int subsystems = 4;
    int zones = 8;                // zone n belongs to subsystem ((n - 1) % subsystems) + 1
    bool rearmIsError = true;     // arming an armed subsystem answers systemIsArmed
    bool armModeProcess = false;  // successful control answers carry "armMode": "process"
    int pageLimit = 0;            // > 0: a search page never holds more, whatever was asked
    int utcOffsetMinutes = 480;   // the panel's clock zone
    int audioCodec = 1;           // default of the voice-talk capability
    std::string deviceName = "Alarm Panel";
    std::string model = "VX-AP6400";
    std::string serialNumber = "VXAP6400-20240101AA0001";
    std::string macAddress = "02:5e:00:10:20:01";
    std::string firmwareVersion = "V1.2.3";
    std::string firmwareReleasedDate = "build 240115";
    std::string hardwareVersion = "0x20010";
    std::chrono::milliseconds rebootDelay{300};  // off line this long after a reboot
};

struct SubsystemState {
    int id = 0;
    bool enabled = true;
    std::string arm = "disarm";  // or the arming type: away, stay, ...
    bool alarm = false;
};

struct ZoneState {
    int id = 0;
    int subsystem = 0;
    bool alarm = false;
    bool fault = false;
    bool bypassed = false;
    bool tamper = false;
    std::string deactivationMode = "off";
};

class PanelModel : public Equipment {
public:
    explicit PanelModel(const PanelOptions& o);

    std::vector<SubsystemState> subsystems() const;
    SubsystemState subsystem(int id) const;  // throws std::out_of_range
    std::vector<ZoneState> zones() const;
    ZoneState zone(int id) const;  // throws std::out_of_range

    // Mutators; unknown ids throw std::out_of_range.
    void setSubsystemEnabled(int id, bool enabled);
    void setArm(int id, const std::string& arm);  // "disarm" or an arming type
    void setZoneFault(int id, bool fault);
    void setZoneBypass(int id, bool bypassed);
    void setZoneTamper(int id, bool tamper);
    // Zone alarm; its subsystem goes into alarm until a clearAlarm command.
    void triggerZone(int id);

    void setRearmIsError(bool on);
    void setArmModeProcess(bool on);
    // Empty: the clock runs; otherwise LocalDateTime answers exactly this text.
    void setLocalDateTime(const std::string& text);

    // Set by "EventSubscription"/"AddEventSubscribeCfg"; null before.
    Json::Value eventSubscription() const;
    int reboots() const;

    // Relay outputs and extension devices (defaultPeripherals() at first); unknown ones throw
    // std::out_of_range.
    std::vector<Peripheral> peripherals() const;
    void setPeripherals(std::vector<Peripheral> all);
    Peripheral peripheral(PeripheralKind kind, const std::string& id) const;
    void updatePeripheral(PeripheralKind kind, const std::string& id, const std::function<void(Peripheral&)>& f);

protected:
    Answer serve(const Json::Value& request) override;

private:
    struct Sub {
        SubsystemState st;
        std::string pendingArm;  // arming type of the last attempt refused for a fault
    };
    Json::Value command(const std::string& domain, const std::string& identifier, int configType,
                        const std::string& subId, const Json::Value& data, bool bodyOk);
    Json::Value control(const std::string& identifier, const Json::Value& data);
    Json::Value faultArmConfirm(const Json::Value& data);
    Json::Value subsystemSearch(const Json::Value& cond);
    Json::Value zoneSearch(const Json::Value& cond, bool basic);
    Json::Value page(const Json::Value& cond, const std::vector<Json::Value>& all);
    Sub* findSub(int id);
    ZoneState& zoneRef(int id);
    Sub& subRef(int id);
    bool subHasFault(int id) const;

    PanelOptions m_opt;
    std::vector<Sub> m_subs;
    std::vector<ZoneState> m_zones;
    std::string m_fixedTime;
    Json::Value m_subscription;
    Json::Value m_intercom;
    int m_reboots = 0;
    std::vector<Peripheral> m_peripherals = defaultPeripherals();
};

std::shared_ptr<PanelModel> makePanel(const PanelOptions& o = PanelOptions());

// ---------------------------------------------------------------------------------------------
// Camera or recorder (device-API requests answered with XML)

struct DiskState {
    int id = 1;
    std::string status = "ok";  // ok, idle, error, unformatted, notexist, ...
    int64_t capacityMb = 0;
    int64_t freeMb = 0;
};

// One network interface of a camera or recorder.
struct NetworkInterfaceState {
    int id = 1;
    std::string addressingType = "static";  // or "dynamic"
    std::string ipAddress = "192.168.1.64";
    std::string subnetMask = "255.255.255.0";
    std::string gateway = "192.168.1.1";
    std::string macAddress = "02:5e:00:20:30:01";
    int mtu = 1500;
};

struct CameraOptions {
    std::string deviceName = "IP Camera";
    std::string deviceId = "88";
    std::string deviceDescription = "IPCamera";
    std::string model = "VX-IPC2040";
    std::string serialNumber = "VXIPC2040-20240101AA0001";
    std::string macAddress = "02:5e:00:20:30:01";
    std::string firmwareVersion = "V5.7.3";
    std::string firmwareReleasedDate = "build 231120";
    std::string hardwareVersion = "0x0";
    std::string deviceType = "IPCamera";
    int analogChannels = 1;  // Video/inputs/channels ids 1..n
    int ipChannels = 0;      // InputProxy/channels ids n+1..n+m
    int audioChannels = 1;
    int alarmInputs = 1;
    std::vector<DiskState> disks = {DiskState{1, "ok", 61440, 30720}};
    bool loopEnable = true;
    std::string timeZone = "CST-8:00:00";
    bool pictureServerXml = false;  // true: the picture-server PUT is answered with XML
    int audioCodec = 1;             // getConfig answer

    // Record search: isSupportTimeTypeSTD of /OVIX/System/capabilities ("true" for cameras,
    // "false" for recorders; empty: the element is absent).
    std::string timeTypeSTD = "true";
    std::string audioSamplingRate = "16";  // kHz, TwoWayAudio channels; empty: element absent
    std::string address = "192.168.1.64";  // host part of the playback URIs
    int recordingDays = 7;                 // recordings kept, back from now; 0: none

    // Media streams.
    uint64_t videoBitRate = 2000000;  // live and record streams, bits per second
    uint64_t voiceBitRate = 64000;
    bool allowRemoteMedia = false;    // false: streams only to loopback addresses (else error 3)

    // Reboot (ferro REBOOT or PUT /OVIX/System/reboot) and upgrade (ferro UPDATE): off line this long.
    std::chrono::milliseconds rebootDelay{300};
    std::vector<NetworkInterfaceState> interfaces = {NetworkInterfaceState{}};
};

CameraOptions cameraDefaults();    // 1 channel, 3 days of recordings, standard-time search
CameraOptions recorderDefaults();  // 4 analog + 4 IP channels, two disks, no loop recording,
                                   // device-local search times, 7 days of recordings

class MediaSender;
struct StreamRecord;

class CameraModel : public Equipment {
public:
    explicit CameraModel(const CameraOptions& o);

    std::vector<DiskState> disks() const;
    void setDisks(std::vector<DiskState> d);
    // Unknown ids throw std::out_of_range.
    void setDiskStatus(int id, const std::string& status);
    void setDiskFree(int id, int64_t freeMb);
    void setAllDisksFull();
    void setLoopEnable(bool on);
    bool loopEnable() const;

    // Empty: the clock runs (shifted by the last PUT of the time); otherwise GET answers this.
    void setLocalTime(const std::string& text);
    std::string timeZone() const;
    std::string timeMode() const;

    // Bodies stored by PUT, empty before.
    std::string httpHostDocument() const;
    Json::Value pictureServer() const;
    std::string deviceName() const;
    std::vector<NetworkInterfaceState> networkInterfaces() const;

    // Media streams, oldest first: every start order (refused ones too, with their answerError)
    // and what became of it; the last 256 are kept.
    std::vector<StreamInfo> streams() const;
    // The newest stream of `session`; false when there is none.
    bool stream(const std::string& session, StreamInfo& out) const;
    // Polls streams() until `pred` holds; false after `timeout`.
    bool waitStreams(const std::function<bool(const std::vector<StreamInfo>&)>& pred,
                     std::chrono::milliseconds timeout) const;
    // Streams not yet stopped.
    size_t liveStreams() const;
    // Ends every stream as if the device dropped them (endReason "dropped").
    void dropStreams();

    void setAllowRemoteMedia(bool on);
    void setVideoBitRate(uint64_t bitsPerSecond);  // streams started from now on
    void setVoiceBitRate(uint64_t bitsPerSecond);
    // The getConfig "audioCodec" value: any JSON value, out-of-range and non-integer included.
    void setAudioCodec(const Json::Value& v);
    void setTimeTypeSTD(const std::string& text);  // empty: element absent
    void setAudioSamplingRate(const std::string& text);
    void setRecordingDays(int days);

    // The device's clock (UTC seconds) and its zone, minutes east of UTC.
    int64_t nowUtc() const;
    int utcOffsetMinutes() const;
    // Recordings of `channel` overlapping [fromUtc, toUtc) as the device finds them now.
    std::vector<RecordingSegment> recordings(int channel, int64_t fromUtc, int64_t toUtc) const;
    // The playback file name and size of a segment (what the search answers carry).
    std::string recordingName(const RecordingSegment& s, int streamType) const;
    uint64_t recordingSize(const RecordingSegment& s) const;

protected:
    Answer serve(const Json::Value& request) override;

private:
    struct Live {
        std::shared_ptr<MediaSender> sender;
        std::shared_ptr<StreamRecord> rec;
        std::string op;
        uint64_t link = 0;  // the login it was started on
    };
    std::string ovix(const std::string& method, const std::string& url, const std::string& body);
    std::string localTimeText() const;
    std::string search(const std::string& url, const std::string& body);
    std::string capabilities() const;
    void media(const Json::Value& req, const std::shared_ptr<Responder>& r);
    void startStream(const std::string& op, const Json::Value& req, const std::shared_ptr<Responder>& r);
    int eastMinutes() const;  // m_mx held
    int64_t utcNow() const;   // m_mx held
    std::string nameOf(const RecordingSegment& s, int streamType) const;  // m_mx held
    void badOrder(const std::string& what);
    void endLink(uint64_t link);

    CameraOptions m_opt;
    std::string m_fixedTime;
    int64_t m_clockShift = 0;  // seconds added to the real clock
    std::string m_timeMode = "NTP";
    std::string m_httpHost;
    Json::Value m_pictureServer;
    Json::Value m_audioCodec;
    std::map<std::string, Live> m_live;  // by session
    std::vector<std::shared_ptr<StreamRecord>> m_streams;
    std::set<uint64_t> m_watchedLinks;  // logins whose end stops their streams
    uint64_t m_badOrders = 0;
};

std::shared_ptr<CameraModel> makeCamera(const CameraOptions& o = cameraDefaults());

// Builders for tests and tools.
// The body the gateway sends for a model command of `configType` (0, 1 or 2) with `body`.
std::string wrapModelBody(int configType, const std::string& body);
Json::Value configRequest(const std::string& domain, const std::string& identifier, int configType,
                          const std::string& body, uint32_t seq = 1, const std::string& subId = "0");
Json::Value ovixRequest(const std::string& method, const std::string& url, const std::string& body = "",
                        uint32_t seq = 1);

}  // namespace devsim

#endif
