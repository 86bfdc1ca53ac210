// One object per field device: identity and keys given by the host, what the device reported at
// login, connection state and the host's callbacks.
#ifndef VEXA_DEVICE_H
#define VEXA_DEVICE_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/StatusList.h"
#include "device/DevBase.h"
#include "device/NotifyPool.h"

namespace Json {
class Value;
}

// Request record of the model-command channel.
struct ModelCommand {
    uint32_t kind = 0;  // 1 read, 2 write a value, 3 write data
    std::string subId = "0";
    std::string scope = "global";
    std::string domain;
    std::string identifier;
    std::string body;
};

// Result codes of the request channel.
enum : uint32_t {
    VEXA_RC_DEVICE_GONE = vexa::status::kNetworkError,
    VEXA_RC_SEND_FAILED = vexa::status::kDeviceError,
    VEXA_RC_BODY_TOO_BIG = vexa::status::kRequestMemoryNull,
    VEXA_RC_BAD_PARAMETERS = vexa::status::kBadParameters,
    VEXA_RC_INVALID_CONTENT = vexa::status::kInvalidContent,
    VEXA_RC_NO_CONTEXT = vexa::status::kResourceNodeInfoFailed,
    VEXA_RC_TIMEOUT = vexa::status::kWaitTimeout,
};

class CVexaDevice : public CDevBase,
                    public CDevConnect_V2,
                    public CDevEvent,
                    public CDevOVIX,
                    public CDevOrderTrans,
                    public std::enable_shared_from_this<CVexaDevice> {
public:
    CVexaDevice();
    ~CVexaDevice() override;

    // Connection parameters: "key=value;" pairs; text after the last ';' is ignored.
    static std::map<std::string, std::string> parseParams(const char* params);

    // CDevConnect_V2
    uint32_t SetConnStatusCallBack(VexaConnStatusCallback cb, void* user) override;
    uint32_t DisConnect() override;
    uint32_t GetConnectStatus(uint32_t* status) override;
    uint32_t Connect_V2(const char* params) override;
    uint32_t SetConnectParams(const char* params) override;
    // CDevEvent
    uint32_t SetEventCallBack(VexaEventCallback cb, void* user) override;
    // CDevOVIX
    uint32_t OVIX_Getway(const char* request, char* rsp, uint32_t rspSize) override;
    uint32_t DeviceLoop(char* buf, uint32_t size) override;
    // CDevOrderTrans
    uint32_t TransOrder(const char* order, char* rsp, uint32_t rspSize) override;

    // Request channel. devConfigSync sends a model command and waits for its answer (unwrapped by
    // covertVexaRsp); ovixConfig passes a device-API request through; ferroConfig sends a FERRO
    // command. Bodies of 102400 bytes or more are refused.
    static constexpr size_t kMaxBody = 102400;
    uint32_t devConfigSync(std::string& response, int32_t userHandle, const ModelCommand& cmd,
                           const std::string& target);
    static uint32_t covertVexaRsp(std::string& response);
    static uint32_t mapVexaErrorCode(const std::string& code);
    uint32_t ovixConfig(std::string& response, const std::string& url, const std::string& body, uint8_t method);
    uint32_t ferroConfig(std::string& response, const std::string& command, const std::string& body);
    static uint32_t parseOVIXResponseStatus(const std::string& xml, Json::Value& status);

    // On-line set-up after a login with this handle: 0, or -1 when it could not begin.
    int proDeviceOn(int32_t handle);
    uint32_t resetPictureServer(const std::string& body);

    // The host destroyed its handle: end the connection as DisConnect does and make sure no
    // further callback reaches the host for it.
    void onHostDestroy();

    // Delivers one event record to the host's event callback while alarms are active.
    void sendEventMsg(uint32_t type, uint32_t reserved1, uint32_t reserved2, AlarmEventInfo* event);
    // Calls the connection-status callback (if set) on the calling thread.
    void notifyConnStatus(int32_t status, const std::string& text);

    // Session changes (login, going off line, disconnect, session keys) of one device are
    // serialised by this lock, so comparing the handle, changing the status, releasing the
    // handle and queueing the host notification happen as one step. Host callbacks never run
    // under it.
    std::unique_lock<std::mutex> lockSession() { return std::unique_lock<std::mutex>(m_sessionLock); }
    // Under the session lock: stores the status and, when it changed, queues the host
    // notification behind the earlier ones. Returns whether it changed.
    bool changeStatusLocked(int32_t status, const std::string& text);
    // Without the session lock: delivers queued notifications inline when the notifier pool
    // does not run; otherwise they are already on their way.
    void deliverStatus();
    bool statusDelivered() { return m_strand->drained(); }
    // Session-key bookkeeping under the session lock: a key installed after the current login
    // belongs to the next session and must survive the current one's going off line.
    void noteSessionKeyLocked() { ++m_keyEpoch; }
    bool keyNewerThanLoginLocked() const { return m_keyEpoch != m_loginKeyEpoch; }

    // Login bookkeeping, called by the registration handling.
    struct LoginInfo {
        int32_t userHandle;
        std::string address;
        int32_t port;
        std::string regProtocol;
        std::string serial;
    };
    void setLogin(const LoginInfo& info);  // takes the session lock when not held: use loginLocked
    void loginLocked(const LoginInfo& info);
    void setDasServer(const std::string& address, int32_t port);
    // Atomically takes the login handle if it still equals expected; -1 afterwards.
    bool releaseHandle(int32_t expected);

    // Accessors (copies, taken under the device lock).
    std::string deviceId() const;
    std::string deviceKey() const;
    std::string accessKey() const;
    std::string secretKey() const;
    std::string devIndex() const;
    void setDevIndex(const std::string& index);
    std::string serialNo() const;
    std::string deviceType() const;
    std::string addedProtocol() const;
    std::string regProtocol() const;
    std::string address() const;
    int32_t port() const;
    std::string dasAddress() const;
    int32_t dasPort() const;
    bool allowDirectConnect() const;
    int32_t userHandle() const { return m_userHandle.load(); }
    int32_t connStatus() const { return m_connStatus.load(); }
    void setConnStatus(int32_t s) { m_connStatus.store(s); }
    bool alarmActive() const { return m_alarmActive.load() == 1; }
    void setAlarmActive(bool on) { m_alarmActive.store(on ? 1 : 0); }
    bool destroyed() const { return m_destroyFlag.load() == 1; }
    std::string alarmAccountId() const;
    void setAlarmAccountId(const std::string& id);
    bool videoReviewEnabled() const { return m_videoReview.load() == 1; }
    void setVideoReviewEnabled(bool on) { m_videoReview.store(on ? 1 : 0); }
    // Storage alarm raised and not yet followed by a recovery (touched by the alarm loop only).
    bool hddAlarmRaised() const { return m_hddAlarmRaised.load(); }
    void setHddAlarmRaised(bool on) { m_hddAlarmRaised.store(on); }

private:
    std::shared_ptr<CVexaDevice> selfRef();

    mutable std::mutex m_lock;  // text fields, numbers reported at login, callbacks
    std::string m_deviceId;
    std::string m_deviceKey;
    std::string m_accessKey;
    std::string m_secretKey;
    std::string m_devIndex;
    std::string m_address;
    int32_t m_port = 0;
    std::string m_dasAddress;
    int32_t m_dasPort = 0;
    std::string m_serialNo;
    std::string m_deviceType;
    std::string m_addedProtocol;
    std::string m_regProtocol;
    int32_t m_allowDirectConn = 1;
    std::string m_alarmAccountId;
    VexaConnStatusCallback m_connCb = nullptr;
    void* m_connUser = nullptr;
    VexaEventCallback m_eventCb = nullptr;
    void* m_eventUser = nullptr;

    // Held while a host callback runs, so clearing the callbacks waits for a running one. Status
    // and event callbacks have gates of their own: a slow status callback on the notifier does
    // not hold up the alarm worker's events.
    std::recursive_mutex m_callbackGate;
    std::recursive_mutex m_statusGate;

    std::mutex m_sessionLock;
    uint64_t m_keyEpoch = 0;       // session keys installed (under m_sessionLock)
    uint64_t m_loginKeyEpoch = 0;  // m_keyEpoch at the current login
    std::shared_ptr<NotifyPool::Strand> m_strand = std::make_shared<NotifyPool::Strand>();
    // Objects without a shared owner (never the frame's) are told inline by deliverStatus.
    std::vector<std::pair<int32_t, std::string>> m_inlineStatus;

    std::atomic<int32_t> m_alarmActive{0};
    std::atomic<int32_t> m_connStatus{-1};
    std::atomic<int32_t> m_userHandle{-1};
    std::atomic<int32_t> m_destroyFlag{0};
    std::atomic<int32_t> m_videoReview{0};
    std::atomic<bool> m_hddAlarmRaised{false};
};

#endif
