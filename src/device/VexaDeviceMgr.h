// The device side of the plug-in: the access libraries, the device registry, the plug-in's own
// threads, the log-record queue and the media-session tables.
#ifndef VEXA_DEVICE_MGR_H
#define VEXA_DEVICE_MGR_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/MpmcRing.h"
#include "device/SetupPool.h"
#include "PAL.h"
#include "common/Singleton.h"
#include "VexaCmsSdk.h"

class CVexaDevice;
class CContext;

// Log-record queue element.
struct LogRecord {
    char deviceId[32];
    uint32_t type;  // 0 heartbeat, 1 authentication, 2 direct connection refused; internal below
};
enum : uint32_t {
    LOG_REC_HEARTBEAT = 0,
    LOG_REC_AUTH = 1,
    LOG_REC_NO_DIRECT = 2,
    LOG_REC_RESET_NO_DIRECT = 100,  // login: forget the refused-direct-connection count
    LOG_REC_FORGET = 101,           // device left the registry: forget all its counts
};

// Alarm and storage servers a device is told to use.
struct ServerInfo {
    std::string alarmAddress;
    int32_t alarmPort = -1;
    int32_t found = 0;
    std::string storageAddress;
    int32_t storagePort = -1;
    std::string extra;
    int32_t extraFlag = 0;
};

class CVexaDeviceMgr : public singleton<CVexaDeviceMgr> {
public:
    static constexpr uint64_t kAlarmLoopPeriodMs = 1800000;  // 30 minutes
    static constexpr size_t kLogQueueCapacity = 65536;

    CVexaDeviceMgr();

    int init();
    int uninit();
    int initSDK(std::string ip, int32_t cmsPort, int32_t alarmPort);
    void unInitSDK();
    int setLogLevel(int32_t level);

    bool sdkStarted() const { return m_sdkStarted.load() != 0; }
    bool cmsListening() const { return m_cmsListening.load() != 0; }
    int32_t cmsListenHandle() const { return m_cmsListenHandle.load(); }
    int32_t amsListenHandle() const { return m_amsListenHandle.load(); }

    // Device registry.
    void addDevice(const std::string& id, const std::shared_ptr<CVexaDevice>& dev);
    // Removes the entry only when it points to dev.
    bool removeDevice(const std::string& id, const CVexaDevice* dev);
    std::shared_ptr<CVexaDevice> findDevice(const std::string& id) const;
    std::shared_ptr<CVexaDevice> findDeviceByHandle(int32_t userHandle) const;
    std::vector<std::string> deviceIds() const;
    size_t deviceCount() const;

    // Pending requests by sequence number. An answer that arrives before its context is added is
    // kept for a few seconds and completes the context when it is added.
    void addContext(uint32_t seq, const std::shared_ptr<CContext>& ctx);
    // Removes the entry only when it is ctx (never a newer context with the same number).
    void removeContext(uint32_t seq, const CContext* ctx);
    std::shared_ptr<CContext> findContext(uint32_t seq) const;
    size_t contextCount() const;
    // Shutdown: completes every pending request as "device gone" and refuses new ones until
    // the next init, so no waiter outlives the libraries.
    void closeContexts();
    void onAsyncAnswer(const VEXA_CMS_ASYNC_ANSWER* answer);
    static constexpr size_t kMaxEarlyAnswers = 1024;
    static constexpr uint64_t kEarlyAnswerTtlMs = 5000;
    size_t earlyAnswerCount() const;
    // Test hook: runs after an answer found no context and was kept as an early answer.
    void setAnswerMissHook(std::function<void(uint32_t seq)> hook);

    // Ends a device's session (LOGOUT operation message). userHandle is the login the message
    // is about (-1: a refusal before login). Returns 0 or -1.
    int procDeviceOff(const std::string& deviceId, int32_t hint, int32_t userHandle);
    // REGISTER operation message: on-line set-up of the device holding the handle.
    int deviceOn(int32_t userHandle);
    // Test hook: runs inside procDeviceOff once it decided to end the session (device's session
    // lock held). Set it while no operation message is being handled.
    void setDeviceOffHook(std::function<void(const std::string& deviceId)> hook);

    // Log-record queue.
    bool push(const std::string& deviceId, uint32_t type);
    void procLog();
    uint64_t logDropped() const { return m_logDropped.load(); }

    // Library callbacks.
    static VEXA_BOOL VEXA_SDK_CALL pfnDeviceRegisterCB(int32_t userHandle, uint32_t dataType, void* outBuf,
                                                       uint32_t outLen, void* inBuf, uint32_t inLen, void* user);
    static VEXA_BOOL VEXA_SDK_CALL pfnSubscribeMsgCB(int32_t userHandle, uint32_t reserved, VEXA_CMS_MSG* msg,
                                                     void* user);
    static void VEXA_SDK_CALL pfnExceptionCB(const VEXA_CMS_EXCEPTION* exc, void* user);
    static VEXA_BOOL VEXA_SDK_CALL pfnAlarmMsgCB(int32_t handle, VEXA_ALARM_MSG* msg, void* user);
    static void VEXA_SDK_CALL pfnDeviceAsyncCallback(const VEXA_CMS_ASYNC_ANSWER* answer, void* user);

    // Server address lookup and helpers shared by login and media handling.
    int findDeviceSvrInfo(const std::string& deviceId, const std::string& regIP, ServerInfo& info);
    static int addressTypeName(std::string& out, const char* address, const std::string& url);
    static std::string audioCodecName(int32_t index);

    // Media-session tables: records copied in whole, keyed by session; bounded and aged.
    static constexpr size_t kPreviewRecordSize = 664;
    static constexpr size_t kPlaybackRecordSize = 1320;
    static constexpr size_t kTalkRecordSize = 648;
    static constexpr size_t kMaxSessions = 10000;
    static constexpr uint64_t kSessionMaxAgeMs = 300000;
    int addPreviewSession(const void* record, const std::string& key);
    int addPlaybackSession(const void* record, const std::string& key);
    int addVideoTalkSession(const void* record, const std::string& key);
    int getAndDelPreviewSession(void* out, const std::string& key);
    int getAndDelPlaybackSession(void* out, const std::string& key);
    int getAndDelVideoTalkSession(void* out, const std::string& key);

    // Test hooks: the manager's clock (alarm loop, session ages, early answers), and one
    // alarm-loop pass body.
    void setTickSource(std::function<uint64_t()> tick);
    void setAlarmLoopPass(std::function<void()> pass);
    void wakeAlarmLoop();
    uint64_t alarmLoopPasses() const { return m_alarmLoopPasses.load(); }

    void procAlarmLoop();

private:
    struct SessionTable {
        struct Entry {
            std::vector<unsigned char> record;
            uint64_t addedMs;
        };
        std::mutex lock;
        std::map<std::string, Entry> map;
        uint64_t lastPurgeMs = 0;
    };
    static constexpr uint64_t kSessionPurgeEveryMs = 1000;
    int addSession(SessionTable& t, const void* record, size_t size, const std::string& key, const char* what);
    int takeSession(SessionTable& t, void* out, size_t size, const std::string& key, const char* what);

    void unInitSDKLocked();
    static uint32_t logThreadEntry(void* self);
    static uint32_t alarmLoopThreadEntry(void* self);
    void procLogThread();
    void alarmLoopThread();
    bool waitStop(uint64_t ms);  // true when stopping
    uint64_t tick() const;

    VEXA_BOOL onRegister(int32_t userHandle, uint32_t dataType, void* outBuf, void* inBuf, uint32_t inLen);
    VEXA_BOOL onLogin(const std::shared_ptr<CVexaDevice>& dev, int32_t userHandle, const VEXA_CMS_DEV_REG_INFO* info,
                      void* inBuf);
    VEXA_BOOL onAuth(const std::shared_ptr<CVexaDevice>& dev, int32_t userHandle, const VEXA_CMS_DEV_REG_INFO* info,
                     void* inBuf, uint32_t inLen);
    VEXA_BOOL onSessionKey(const std::shared_ptr<CVexaDevice>& dev, const VEXA_CMS_DEV_REG_INFO* info);
    VEXA_BOOL onKeyError(const std::shared_ptr<CVexaDevice>& dev, const std::string& id);
    VEXA_BOOL onDasRequest(const std::shared_ptr<CVexaDevice>& dev, const VEXA_CMS_DEV_REG_INFO* info, void* inBuf,
                           uint32_t inLen);
    void postLogout(const std::string& id, int32_t hint, int32_t userHandle);

    struct EarlyAnswer {
        uint32_t errorNo = 0;
        bool isList = false;
        int32_t userHandle = -1;
        std::string text;
        std::vector<std::string> list;
        uint64_t atMs = 0;
    };
    // Drops early answers older than their time to live; (user handle, sequence) of each dropped.
    void purgeEarlyAnswersLocked(uint64_t now, std::vector<std::pair<int32_t, uint32_t>>& dropped);
    static constexpr size_t kMaxFinished = 4096;
    mutable std::mutex m_contextLock;
    std::map<uint32_t, std::shared_ptr<CContext>> m_contexts;
    std::map<uint32_t, EarlyAnswer> m_earlyAnswers;
    // Recently removed sequence numbers (with a generation, so a reused number is not forgotten early).
    std::map<uint32_t, uint64_t> m_finished;
    std::deque<std::pair<uint32_t, uint64_t>> m_finishedOrder;
    uint64_t m_finishedGen = 0;
    std::function<void(uint32_t)> m_answerMissHook;
    bool m_contextsClosed = false;
    SetupPool m_setupPool;

    mutable std::mutex m_registryLock;
    std::map<std::string, std::shared_ptr<CVexaDevice>> m_registry;
    std::function<void(const std::string&)> m_offHook;

    std::atomic<int32_t> m_sdkStarted{0};
    std::atomic<int32_t> m_cmsListenHandle{-1};
    std::atomic<int32_t> m_amsListenHandle{-1};
    std::atomic<int32_t> m_cmsListening{0};
    std::atomic<uint32_t> m_stop{0};
    std::mutex m_sdkLock;  // serialises initSDK / unInitSDK

    std::mutex m_stopLock;
    std::condition_variable m_stopCv;

    PAL_THREAD m_logThread = PAL_INVALID_THREAD;
    PAL_THREAD m_alarmLoopThread = PAL_INVALID_THREAD;
    MpmcRing<LogRecord> m_logQueue{kLogQueueCapacity};
    std::atomic<uint64_t> m_logDropped{0};
    // Touched only by the log thread.
    std::map<std::string, int64_t> m_hbAuthCounts;
    std::map<std::string, int64_t> m_noDirectCounts;

    std::atomic<uint64_t> m_lastAlarmLoopMs{0};
    std::atomic<uint64_t> m_alarmLoopPasses{0};
    std::atomic<bool> m_alarmLoopWake{false};
    std::mutex m_hookLock;
    std::function<uint64_t()> m_tick;
    std::function<void()> m_alarmLoopPass;

    SessionTable m_previewSessions;
    SessionTable m_playbackSessions;
    SessionTable m_talkSessions;
};

#endif
