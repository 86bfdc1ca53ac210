// The device side of the plug-in: the access libraries, the plug-in's own threads (log records,
// alarm loop, on-line set-ups) and the parts it owns, one concern each: the device registry,
// the pending requests, the log-record counters and the media-session tables. Everything the
// device side hands up to the alarm side goes through an EventIntake.
#ifndef VEXA_DEVICE_MGR_H
#define VEXA_DEVICE_MGR_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "common/LogLimit.h"
#include "common/Singleton.h"
#include "device/DeviceRegistry.h"
#include "device/LogRecords.h"
#include "device/PendingRequests.h"
#include "device/SessionTables.h"
#include "device/SetupPool.h"
#include "PAL.h"
#include "VexaCmsSdk.h"

class CVexaDevice;
class CContext;
class EventIntake;

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

    // Where alarm texts, operation messages and the storage check go; set before init.
    void setEventIntake(EventIntake* intake) { m_intake.store(intake); }

    // The clock of every time rule: session ages, early answers, request waits, the alarm loop
    // period, the device-side log gates and (through the intake) the alarm side's. Null restores
    // the steady clock.
    void setClock(const vexa::Clock* clock);
    const vexa::Clock& clock() const { return *m_clock.load(); }

    // Device registry.
    void addDevice(const std::string& id, const std::shared_ptr<CVexaDevice>& dev) { m_registry.add(id, dev); }
    // Removes the entry only when it points to dev.
    bool removeDevice(const std::string& id, const CVexaDevice* dev);
    std::shared_ptr<CVexaDevice> findDevice(const std::string& id) const { return m_registry.find(id); }
    std::shared_ptr<CVexaDevice> findDeviceByHandle(int32_t h) const { return m_registry.findByHandle(h); }
    void bindHandle(const std::string& id, int32_t h, int32_t old, const std::shared_ptr<CVexaDevice>& dev) {
        m_registry.bindHandle(id, h, old, dev);
    }
    void unbindHandle(int32_t h, const CVexaDevice* dev) { m_registry.unbindHandle(h, dev); }
    std::vector<std::string> deviceIds() const { return m_registry.ids(); }
    size_t deviceCount() const { return m_registry.count(); }

    // Pending requests by sequence number.
    static constexpr size_t kMaxEarlyAnswers = PendingRequests::kMaxEarlyAnswers;
    static constexpr uint64_t kEarlyAnswerTtlMs = PendingRequests::kEarlyAnswerTtlMs;
    void addContext(uint32_t seq, const std::shared_ptr<CContext>& ctx) { m_requests.add(seq, ctx); }
    void removeContext(uint32_t seq, const CContext* ctx) { m_requests.remove(seq, ctx); }
    std::shared_ptr<CContext> findContext(uint32_t seq) const { return m_requests.find(seq); }
    size_t contextCount() const { return m_requests.count(); }
    // Shutdown: completes every pending request as "device gone" and refuses new ones until
    // the next init, so no waiter outlives the libraries.
    void closeContexts() { m_requests.close(); }
    void onAsyncAnswer(const VEXA_CMS_ASYNC_ANSWER* answer) { m_requests.onAnswer(answer); }
    size_t earlyAnswerCount() const { return m_requests.earlyAnswerCount(); }
    void setAnswerMissHook(std::function<void(uint32_t seq)> hook) { m_requests.setMissHook(std::move(hook)); }

    // Ends a device's session (LOGOUT operation message). userHandle is the login the message
    // is about (-1: a refusal before login). Returns 0 or -1.
    int procDeviceOff(const std::string& deviceId, int32_t hint, int32_t userHandle);
    // REGISTER operation message: on-line set-up of the device holding the handle.
    int deviceOn(int32_t userHandle);
    // Test hook: runs inside procDeviceOff once it decided to end the session (device's session
    // lock held). Set it while no operation message is being handled.
    void setDeviceOffHook(std::function<void(const std::string& deviceId)> hook) { m_offHook = std::move(hook); }
    // Queues a LOGOUT operation message.
    void postLogout(const std::string& id, int32_t hint, int32_t userHandle);

    // Log-record queue.
    bool push(const std::string& deviceId, uint32_t type) { return m_logRecords.push(deviceId, type); }
    void procLog() { m_logRecords.proc(m_stop); }

    // Library callbacks (SdkCallbacks.cpp).
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
    // Code the access library takes for a talk codec index; 0 outside the table.
    static uint32_t audioCodecLibraryCode(int32_t index);

    // Media-session tables.
    static constexpr size_t kPreviewRecordSize = SessionTables::kPreviewRecordSize;
    static constexpr size_t kPlaybackRecordSize = SessionTables::kPlaybackRecordSize;
    static constexpr size_t kTalkRecordSize = SessionTables::kTalkRecordSize;
    static constexpr size_t kMaxSessions = SessionTables::kMaxSessions;
    static constexpr uint64_t kSessionMaxAgeMs = SessionTables::kSessionMaxAgeMs;
    int addPreviewSession(const void* r, const std::string& k) { return m_sessions.add(SessionTables::kPreview, r, k); }
    int addPlaybackSession(const void* r, const std::string& k) { return m_sessions.add(SessionTables::kPlayback, r, k); }
    int addVideoTalkSession(const void* r, const std::string& k) { return m_sessions.add(SessionTables::kTalk, r, k); }
    int getAndDelPreviewSession(void* o, const std::string& k) { return m_sessions.take(SessionTables::kPreview, o, k); }
    int getAndDelPlaybackSession(void* o, const std::string& k) { return m_sessions.take(SessionTables::kPlayback, o, k); }
    int getAndDelVideoTalkSession(void* o, const std::string& k) { return m_sessions.take(SessionTables::kTalk, o, k); }
    size_t waitingSessions(SessionTables::Kind kind) { return m_sessions.size(kind); }

    // Test hooks: one alarm-loop pass body, and a wake-up of the alarm loop to re-read its clock.
    void setAlarmLoopPass(std::function<void()> pass);
    void wakeAlarmLoop();

    void procAlarmLoop();

private:
    bool startAlarmLibrary(const std::string& ip, int32_t alarmPort);
    bool startCommandLibrary(const std::string& ip, int32_t cmsPort);
    void unInitSDKLocked();
    static uint32_t logThreadEntry(void* self);
    static uint32_t alarmLoopThreadEntry(void* self);
    void procLogThread();
    void alarmLoopThread();

    // Hand-over to the alarm side (dropped while no intake is set).
    void pushAlarm(std::string text);
    bool offerAlarm(std::string text);
    void pushOperation(std::string text);

    // Registration handling (SdkCallbacks.cpp).
    VEXA_BOOL onRegister(int32_t userHandle, uint32_t dataType, void* outBuf, void* inBuf, uint32_t inLen);
    VEXA_BOOL onLogin(const std::shared_ptr<CVexaDevice>& dev, int32_t userHandle, const VEXA_CMS_DEV_REG_INFO* info,
                      void* inBuf);
    VEXA_BOOL onAuth(const std::shared_ptr<CVexaDevice>& dev, int32_t userHandle, const VEXA_CMS_DEV_REG_INFO* info,
                     void* inBuf, uint32_t inLen);
    VEXA_BOOL onSessionKey(const std::shared_ptr<CVexaDevice>& dev, const VEXA_CMS_DEV_REG_INFO* info);
    VEXA_BOOL onKeyError(const std::shared_ptr<CVexaDevice>& dev, const std::string& id);
    VEXA_BOOL onDasRequest(const std::shared_ptr<CVexaDevice>& dev, const VEXA_CMS_DEV_REG_INFO* info, void* inBuf,
                           uint32_t inLen);
    VEXA_BOOL onSubscribeMsg(const VEXA_CMS_MSG* msg);
    // Installs a session key in both libraries (all zero: clears it); where the alarm library's
    // failure is logged differs between its callers.
    static void setSessionKey(const VEXA_DEV_SESSION_KEY& key, const char* func, const std::string& id,
                              bool amsOnDeviceLog);
    VEXA_BOOL onAlarmMsg(int32_t handle, const VEXA_ALARM_MSG* msg);

    std::atomic<const vexa::Clock*> m_clock{&vexa::steadyClock()};
    std::atomic<EventIntake*> m_intake{nullptr};
    DeviceRegistry m_registry;
    PendingRequests m_requests;
    LogRecords m_logRecords;
    SessionTables m_sessions;
    SetupPool m_setupPool;
    // Lines about one device's (or one alarm link's) bad input are rate-limited per source.
    vexa::LogGate m_regGate;
    vexa::LogGate m_alarmGate;
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

    std::atomic<uint64_t> m_lastAlarmLoopMs{0};
    std::atomic<bool> m_alarmLoopWake{false};
    std::mutex m_hookLock;
    std::function<void()> m_alarmLoopPass;
};

#endif
