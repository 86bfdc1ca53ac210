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

#include "DevBase.h"

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

    // The host destroyed its handle: end the connection as DisConnect does and make sure no
    // further callback reaches the host for it.
    void onHostDestroy();

    // Delivers one event record to the host's event callback while alarms are active.
    void sendEventMsg(uint32_t type, uint32_t reserved1, uint32_t reserved2, AlarmEventInfo* event);
    // Calls the connection-status callback (if set).
    void notifyConnStatus(int32_t status, const std::string& text);

    // Login bookkeeping, called by the registration handling.
    struct LoginInfo {
        int32_t userHandle;
        std::string address;
        int32_t port;
        std::string regProtocol;
        std::string serial;
    };
    void setLogin(const LoginInfo& info);
    void setDasServer(const std::string& address, int32_t port);
    // Atomically takes the login handle if it still equals expected; -1 afterwards.
    bool releaseHandle(int32_t expected);

    // Accessors (copies, taken under the device lock).
    std::string deviceId() const;
    std::string deviceKey() const;
    std::string accessKey() const;
    std::string secretKey() const;
    std::string devIndex() const;
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
    VexaConnStatusCallback m_connCb = nullptr;
    void* m_connUser = nullptr;
    VexaEventCallback m_eventCb = nullptr;
    void* m_eventUser = nullptr;

    // Held while a host callback runs, so clearing the callbacks waits for a running one.
    std::recursive_mutex m_callbackGate;

    std::atomic<int32_t> m_alarmActive{0};
    std::atomic<int32_t> m_connStatus{-1};
    std::atomic<int32_t> m_userHandle{-1};
    std::atomic<int32_t> m_destroyFlag{0};
};

#endif
