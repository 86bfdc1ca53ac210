#include "device/VexaDeviceMgr.h"

#include <cstring>

#include "alarm/AlarmMsgMgr.h"
#include "common/ConfigCenter.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "device/NotifyPool.h"
#include "alarm/OperationMsgMgr.h"
#include "alarm/StorageAlarm.h"
#include "VexaAmsSdk.h"
#include "device/VexaDevice.h"
#include "palsafe.h"

namespace {

constexpr const char* kSdkLogDir = "../../../../logs/drv_VEXA_dev/depend/VexaSDK";

uint32_t clampU32(int64_t v) {
    if (v < 0) return 0;
    return v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

// Directory of the running host executable, with forward slashes and a trailing slash.
std::string exeDirectory() {
    char path[512] = {0};
    if (PAL_GetCurExePath(path, sizeof path) != 0) return std::string();
    std::string s(path);
    for (char& c : s)
        if (c == '\\') c = '/';
    const size_t slash = s.rfind('/');
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

// How many connections may wait to log in at once, in each library.
constexpr uint32_t kOptMaxPendingLogins = VEXA_SDK_MAX_PENDING_LOGINS;
constexpr int32_t kDefaultMaxPendingLogins = VEXA_SDK_DEFAULT_MAX_PENDING_LOGINS;

uint32_t maxPendingLogins() {
    const int32_t v = CConfigCenter::instance()->getInt("MaxPendingLogins");
    return static_cast<uint32_t>(v > 0 ? v : kDefaultMaxPendingLogins);
}

}  // namespace

CVexaDeviceMgr::CVexaDeviceMgr() = default;

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

int CVexaDeviceMgr::init() {
    CConfigCenter::instance()->parseConfig();
    CAlarmMsgMgr::instance()->init();
    COperationMsgMgr::instance()->init();

    m_stop = 0;  // a restart after uninit brings every thread back
    m_lastAlarmLoopMs = 0;
    {
        std::lock_guard<std::mutex> lk(m_contextLock);
        m_contextsClosed = false;
    }
    m_setupPool.start();
    NotifyPool::instance().start();
    if (m_alarmLoopThread == PAL_INVALID_THREAD) {
        m_alarmLoopThread = PAL_Thread_Create(&CVexaDeviceMgr::alarmLoopThreadEntry, this, 0x80000, 0, 0, 0);
        if (m_alarmLoopThread == PAL_INVALID_THREAD) {
            LOG_REG(5, "CVexaDeviceMgr::init", "alarmLoopThread create failed");
            return 0;
        }
    }
    if (m_logThread == PAL_INVALID_THREAD) {
        m_logThread = PAL_Thread_Create(&CVexaDeviceMgr::logThreadEntry, this, 0x40000, 0, 0, 0);
        if (m_logThread == PAL_INVALID_THREAD) {
            LOG_REG(5, "CVexaDeviceMgr::init", "PAL_Thread_Create failed[%d]", PAL_GetSystemLastError());
            return 0;
        }
    }
    LOG_REG(3, "CVexaDeviceMgr::init", "Init ok");
    return 0;
}

int CVexaDeviceMgr::uninit() {
    unInitSDK();
    {
        std::lock_guard<std::mutex> lk(m_stopLock);
        m_stop = 1;
    }
    m_stopCv.notify_all();
    if (m_logThread != PAL_INVALID_THREAD) {
        PAL_Thread_Wait(m_logThread);
        m_logThread = PAL_INVALID_THREAD;
    }
    if (m_alarmLoopThread != PAL_INVALID_THREAD) {
        PAL_Thread_Wait(m_alarmLoopThread);
        m_alarmLoopThread = PAL_INVALID_THREAD;
    }
    // Waiters on device answers are released first; the libraries are already stopped.
    closeContexts();
    COperationMsgMgr::instance()->stop();
    m_setupPool.stop();
    // Host status notifications still pending are dropped (logged); a running one finishes.
    NotifyPool::instance().stop();
    CAlarmMsgMgr::instance()->stop();

    // The log thread has ended: its tables and queue can be reset from here.
    LogRecord rec;
    while (m_logQueue.pop(rec)) {
    }
    m_hbAuthCounts.clear();
    m_noDirectCounts.clear();

    std::map<std::string, std::shared_ptr<CVexaDevice>> old;
    {
        std::lock_guard<std::mutex> lk(m_registryLock);
        old.swap(m_registry);
    }
    old.clear();  // device destructors run outside the registry lock
    for (SessionTable* t : {&m_previewSessions, &m_playbackSessions, &m_talkSessions}) {
        std::lock_guard<std::mutex> lk(t->lock);
        t->map.clear();
    }
    return 0;
}

int CVexaDeviceMgr::initSDK(std::string ip, int32_t cmsPort, int32_t alarmPort) {
    static const char* F = "CVexaDeviceMgr::initSDK";
    std::lock_guard<std::mutex> sdkLock(m_sdkLock);
    CConfigCenter* cfg = CConfigCenter::instance();
    LOG_REG(2, F, "CVexaSdkMgr::Init: strIp: %s cmsAlarmPort: %d alarmport:%d", ip.c_str(), cmsPort, alarmPort);
    if (m_sdkStarted.load()) {
        LOG_REG(3, F, "repeat init");
        return 0;
    }

    const std::string dir = exeDirectory();
    const std::string cryptoPath = dir + "libcrypto-3-x64.dll";
    const std::string sslPath = dir + "libssl-3-x64.dll";
    bool ok = true;
    do {
        if (!VEXA_AMS_SetSDKInitCfg(0, cryptoPath.c_str()) || !VEXA_AMS_SetSDKInitCfg(1, sslPath.c_str()))
            LOG_DEV(5, F, "[errCode=%d]VEXA_AMS_SetSDKInitCfg failed!", VEXA_AMS_GetLastError());
        if (!VEXA_AMS_Init()) {
            LOG_DEV(5, F, "[errCode=%d]VEXA_AMS_Init failed.", VEXA_AMS_GetLastError());
            ok = false;
            break;
        }
        VEXA_AMS_LISTEN_PARAM ams;
        memset(&ams, 0, sizeof ams);
        if (const int err = PAL_Strncpy_s(ams.szIP, sizeof ams.szIP, ip.c_str(), sizeof ams.szIP - 1))
            __pal_safec_error_handle(VEXA_SAFEC_SRC, __LINE__, F, "PAL_STRNCPY_S", err);
        const int32_t amsPort = alarmPort < 1 ? cfg->getInt("AlarmPort") : alarmPort;
        if (amsPort < 0 || amsPort > 65535) {
            LOG_DEV(5, F, "alarm port %d out of range", amsPort);
            ok = false;
            break;
        }
        ams.wPort = static_cast<uint16_t>(amsPort & 0xffff);
        ams.fnCB = &CVexaDeviceMgr::pfnAlarmMsgCB;
        ams.pUserData = this;
        ams.dwKeepAliveTimeout = clampU32(static_cast<int64_t>(cfg->getInt("AlarmTimeOutCount")) *
                                          static_cast<int64_t>(cfg->getInt("AlarmKeepAliveSec")));
        // Connections waiting to log in are bounded in both libraries; a refusal is not fatal.
        uint32_t maxPending = maxPendingLogins();
        if (!VEXA_AMS_SetSDKLocalCfg(kOptMaxPendingLogins, &maxPending))
            LOG_DEV(4, F, "[errCode=%d,MaxPendingLogins=%u]VEXA_AMS_SetSDKLocalCfg failed.", VEXA_AMS_GetLastError(),
                    maxPending);
        const int32_t amsHandle = VEXA_AMS_StartListen(&ams);
        m_amsListenHandle = amsHandle;
        if (amsHandle == -1 || amsHandle < 0) {
            m_amsListenHandle = -1;
            LOG_DEV(5, F, "VEXA_AMS_StartListen failed, errorCode<%d>", VEXA_AMS_GetLastError());
            ok = false;
            break;
        }
        // Devices are told, and the port status shows, the port really bound; set before the
        // command side listens, so no login sees another.
        uint16_t boundAlarmPort = VEXA_AMS_GetListenPort(amsHandle);
        if (boundAlarmPort == 0) boundAlarmPort = ams.wPort;
        if (ams.wPort == 0) LOG_REG(3, F, "alarm port picked by the system: %d", static_cast<int>(boundAlarmPort));
        cfg->setInnerAlarmPort(boundAlarmPort);

        if (!VEXA_CMS_SetSDKInitCfg(0, cryptoPath.c_str()) || !VEXA_CMS_SetSDKInitCfg(1, sslPath.c_str()))
            LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SetSDKInitCfg failed!", VEXA_CMS_GetLastError());
        if (!VEXA_CMS_Init()) {
            LOG_REG(5, F, "[errCode=%d]VEXA_CMS_Init failed.", VEXA_CMS_GetLastError());
            ok = false;
            break;
        }
        VEXA_CMS_SEND_RECV_PARAM_T recv;
        memset(&recv, 0, sizeof recv);
        recv.dwTimeOut = clampU32(cfg->recvTimeoutMs());
        if (!VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_SEND_RECV_PARAM, &recv)) {
            LOG_REG(5, F, "[errCode=%d,dwRecvTimeOut=%u]ENUM_VEXA_CMS_SEND_RECV_PARAM failed.", VEXA_CMS_GetLastError(),
                    recv.dwTimeOut);
            ok = false;
            break;
        }
        LOG_REG(2, F, "[dwRecvTimeOut=%d]ENUM_VEXA_CMS_SEND_RECV_PARAM", static_cast<int>(recv.dwTimeOut));
        uint32_t one = 1;
        if (!VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK, &one)) {
            LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SetSDKLocalCfg ENUM_VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK failed.",
                    VEXA_CMS_GetLastError());
            ok = false;
            break;
        }
        if (!VEXA_CMS_SetInterfaceAsync(0, &CVexaDeviceMgr::pfnDeviceAsyncCallback, this)) {
            LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SetInterfaceAsync ENUM_VEXA_CMS_INTERFACE_CONFIG_DEV_ASYNC failed.",
                    VEXA_CMS_GetLastError());
            ok = false;
            break;
        }
        VEXA_CMS_MSG_CB_PARAM msgCb;
        memset(&msgCb, 0, sizeof msgCb);
        msgCb.fnCB = &CVexaDeviceMgr::pfnSubscribeMsgCB;
        msgCb.pUserData = this;
        if (!VEXA_CMS_SubscribeMsg(0, &msgCb)) {
            LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SubscribeMsg ENUM_VEXA_CMS_SET_CALLBACK_FUN failed.",
                    VEXA_CMS_GetLastError());
            ok = false;
            break;
        }
        static const char kTopic[] = "model#\r\n";
        VEXA_CMS_TOPIC_PARAM topic;
        memset(&topic, 0, sizeof topic);
        topic.pTopic = kTopic;
        topic.dwTopicLen = 8;
        if (!VEXA_CMS_SubscribeMsg(1, &topic)) {
            LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SubscribeMsg ENUM_VEXA_CMS_SET_CALLBACK_FUN failed.",
                    VEXA_CMS_GetLastError());
            ok = false;
            break;
        }
        maxPending = maxPendingLogins();
        if (!VEXA_CMS_SetSDKLocalCfg(kOptMaxPendingLogins, &maxPending))
            LOG_REG(4, F, "[errCode=%d,MaxPendingLogins=%u]VEXA_CMS_SetSDKLocalCfg failed.", VEXA_CMS_GetLastError(),
                    maxPending);
        VEXA_CMS_LISTEN_PARAM cms;
        memset(&cms, 0, sizeof cms);
        if (const int err = PAL_Strncpy_s(cms.szIP, sizeof cms.szIP, ip.c_str(), 127))
            __pal_safec_error_handle(VEXA_SAFEC_SRC, __LINE__, F, "PAL_STRNCPY_S", err);
        cms.wPort = static_cast<uint16_t>(cmsPort & 0xffff);
        cms.fnCB = &CVexaDeviceMgr::pfnDeviceRegisterCB;
        cms.pUserData = this;
        LOG_REG(2, F, "cms and ams listen IP:%s, port: %d", cms.szIP, cms.wPort);
        const int32_t cmsHandle = VEXA_CMS_StartListen(&cms);
        m_cmsListenHandle = cmsHandle;
        if (cmsHandle < 0) {
            m_cmsListenHandle = -1;
            m_cmsListening = 0;
            LOG_REG(5, F, "[errCode=%d]VEXA_CMS_StartListen failed.", VEXA_CMS_GetLastError());
            ok = false;
            break;
        }
        VEXA_CMS_SEND_RECV_PARAM_T send;
        memset(&send, 0, sizeof send);
        send.dwTimeOut = cfg->libSendTimeout();
        if (!VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_SEND_RECV_PARAM, &send))
            LOG_REG(4, F, "VEXA_CMS_SetSDKLocalCfg(SEND_PARAM) failed! ErrCode=%d.", VEXA_CMS_GetLastError());
        VEXA_CMS_EXCEPTION_PARAM exc;
        memset(&exc, 0, sizeof exc);
        exc.fnCB = &CVexaDeviceMgr::pfnExceptionCB;
        exc.pUserData = this;
        if (!VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_EXCEPTION_CALLBACK, &exc))
            LOG_REG(4, F, "VEXA_CMS_SetSDKLocalCfg(ENUM_VEXA_CMS_EXCEPTION_CALLBACK) failed! ErrCode=%d.",
                    VEXA_CMS_GetLastError());
    } while (false);

    if (!ok) {
        unInitSDKLocked();
        return -1;
    }
    LOG_REG(3, F, "!!!!---- CVexaSdkMgr Init succ. ----!!!!");
    m_sdkStarted = 1;
    m_cmsListening = 1;
    return 0;
}

void CVexaDeviceMgr::unInitSDK() {
    std::lock_guard<std::mutex> sdkLock(m_sdkLock);
    unInitSDKLocked();
}

void CVexaDeviceMgr::unInitSDKLocked() {
    static const char* F = "CVexaDeviceMgr::unInitSDK";
    VEXA_CMS_SetInterfaceAsync(0, nullptr, nullptr);
    const int32_t cms = m_cmsListenHandle.exchange(-1);
    if (cms >= 0 && !VEXA_CMS_StopListen(cms)) LOG_REG(5, F, "[errCode=%d]VEXA_CMS_StopListen error.", VEXA_CMS_GetLastError());
    const int32_t ams = m_amsListenHandle.exchange(-1);
    if (ams >= 0 && !VEXA_AMS_StopListen(ams))
        LOG_DEV(5, F, "[errCode=%d]VEXA_AMS_StopListen error.", VEXA_AMS_GetLastError());
    VEXA_CMS_Fini();
    VEXA_AMS_Fini();
    m_sdkStarted = 0;
    m_cmsListening = 0;
    LOG_REG(3, F, "!!!!---- CVexaSdkMgr UnInit succ. ----!!!!");
}

int CVexaDeviceMgr::setLogLevel(int32_t level) {
    static const char* F = "CVexaDeviceMgr::setLogLevel";
    const uint32_t lv = static_cast<uint32_t>(level);
    if (!VEXA_CMS_SetLogToFile(lv, kSdkLogDir, 1)) {
        LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SetLogToFile failed.", VEXA_CMS_GetLastError());
        return -1;
    }
    if (!VEXA_AMS_SetLogToFile(lv, kSdkLogDir, 1)) {
        LOG_DEV(5, F, "[errCode=%d]VEXA_AMS_SetLogToFile failed.", VEXA_AMS_GetLastError());
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Registry

void CVexaDeviceMgr::addDevice(const std::string& id, const std::shared_ptr<CVexaDevice>& dev) {
    std::shared_ptr<CVexaDevice> old;
    {
        std::lock_guard<std::mutex> lk(m_registryLock);
        auto& slot = m_registry[id];
        old.swap(slot);
        slot = dev;
    }
}

bool CVexaDeviceMgr::removeDevice(const std::string& id, const CVexaDevice* dev) {
    std::shared_ptr<CVexaDevice> old;
    {
        std::lock_guard<std::mutex> lk(m_registryLock);
        auto it = m_registry.find(id);
        if (it == m_registry.end() || it->second.get() != dev) return false;
        old.swap(it->second);
        m_registry.erase(it);
    }
    push(id, LOG_REC_FORGET);
    return true;
}

std::shared_ptr<CVexaDevice> CVexaDeviceMgr::findDevice(const std::string& id) const {
    std::lock_guard<std::mutex> lk(m_registryLock);
    auto it = m_registry.find(id);
    return it == m_registry.end() ? nullptr : it->second;
}

std::shared_ptr<CVexaDevice> CVexaDeviceMgr::findDeviceByHandle(int32_t userHandle) const {
    if (userHandle < 0) return nullptr;
    std::lock_guard<std::mutex> lk(m_registryLock);
    for (const auto& kv : m_registry)
        if (kv.second->userHandle() == userHandle) return kv.second;
    return nullptr;
}

std::vector<std::string> CVexaDeviceMgr::deviceIds() const {
    std::vector<std::string> ids;
    std::lock_guard<std::mutex> lk(m_registryLock);
    ids.reserve(m_registry.size());
    for (const auto& kv : m_registry) ids.push_back(kv.first);
    return ids;
}

size_t CVexaDeviceMgr::deviceCount() const {
    std::lock_guard<std::mutex> lk(m_registryLock);
    return m_registry.size();
}

// ---------------------------------------------------------------------------------------------
// Threads

uint64_t CVexaDeviceMgr::tick() const {
    std::function<uint64_t()> t;
    {
        std::lock_guard<std::mutex> lk(const_cast<std::mutex&>(m_hookLock));
        t = m_tick;
    }
    return t ? t() : PAL_GetTimeTick64();
}

void CVexaDeviceMgr::setTickSource(std::function<uint64_t()> t) {
    std::lock_guard<std::mutex> lk(m_hookLock);
    m_tick = std::move(t);
}

void CVexaDeviceMgr::setAlarmLoopPass(std::function<void()> pass) {
    std::lock_guard<std::mutex> lk(m_hookLock);
    m_alarmLoopPass = std::move(pass);
}

void CVexaDeviceMgr::wakeAlarmLoop() {
    {
        std::lock_guard<std::mutex> lk(m_stopLock);
        m_alarmLoopWake = true;
    }
    m_stopCv.notify_all();
}

bool CVexaDeviceMgr::waitStop(uint64_t ms) {
    std::unique_lock<std::mutex> lk(m_stopLock);
    m_stopCv.wait_for(lk, std::chrono::milliseconds(ms), [this] { return m_stop.load() != 0 || m_alarmLoopWake.load(); });
    m_alarmLoopWake = false;
    return m_stop.load() != 0;
}

uint32_t CVexaDeviceMgr::logThreadEntry(void* self) {
    if (self) static_cast<CVexaDeviceMgr*>(self)->procLogThread();
    return 0;
}

uint32_t CVexaDeviceMgr::alarmLoopThreadEntry(void* self) {
    if (self) static_cast<CVexaDeviceMgr*>(self)->alarmLoopThread();
    return 0;
}

void CVexaDeviceMgr::procLogThread() {
    static const char* F = "CVexaDeviceMgr::procLogThread";
    LOG_REG(3, F, "proc thread start");
    while (m_stop.load() == 0) {
        try {
            procLog();
        } catch (const std::exception& e) {
            LOG_REG(5, F, "exception: %s", e.what());
        }
        // Sleeps 100 ms between passes but wakes at once on shutdown.
        std::unique_lock<std::mutex> lk(m_stopLock);
        m_stopCv.wait_for(lk, std::chrono::milliseconds(100), [this] { return m_stop.load() != 0; });
    }
    LOG_REG(3, F, "proc thread exit");
}

void CVexaDeviceMgr::alarmLoopThread() {
    while (m_stop.load() == 0) {
        const uint64_t now = tick();
        const uint64_t last = m_lastAlarmLoopMs.load();
        if (now - last < kAlarmLoopPeriodMs && now >= last) {
            // Wait for the rest of the period in slices, so shutdown is seen within 100 ms.
            const uint64_t rest = kAlarmLoopPeriodMs - (now - last);
            if (waitStop(rest < 100 ? rest : 100)) break;
            continue;
        }
        try {
            std::function<void()> pass;
            {
                std::lock_guard<std::mutex> lk(m_hookLock);
                pass = m_alarmLoopPass;
            }
            if (pass)
                pass();
            else
                procAlarmLoop();
        } catch (const std::exception& e) {
            LOG_REG(5, "CVexaDeviceMgr::procAlarmLoop", "exception: %s", e.what());
        }
        m_alarmLoopPasses.fetch_add(1);
        m_lastAlarmLoopMs = tick();
    }
}

void CVexaDeviceMgr::procAlarmLoop() {
    static const char* F = "CVexaDeviceMgr::procAlarmLoop";
    for (const std::string& id : deviceIds()) {
        if (m_stop.load()) return;
        std::shared_ptr<CVexaDevice> dev = findDevice(id);
        if (!dev) {
            LOG_REG(4, F, "[deviceID=%s]Device not exist.", vexa::logText(id).c_str());
            continue;
        }
        if (dev->deviceType() != "encodingDev" || dev->userHandle() == -1) continue;
        std::string doc = checkStorageState(*dev);
        if (doc.empty()) continue;
        LOG_REG(2, F, "ProcessMsg [%s].", vexa::logText(doc).c_str());
        CAlarmMsgMgr::instance()->push(std::move(doc));
    }
}

// ---------------------------------------------------------------------------------------------
// Log-record queue and rate-limited counters

bool CVexaDeviceMgr::push(const std::string& deviceId, uint32_t type) {
    LogRecord rec;
    memset(&rec, 0, sizeof rec);
    if (const int err = PAL_Strncpy_s(rec.deviceId, sizeof rec.deviceId, deviceId.c_str(), 31))
        __pal_safec_error_handle(VEXA_SAFEC_SRC, __LINE__, "CVexaDeviceMgr::push", "PAL_STRNCPY_S", err);
    rec.type = type;
    if (m_logQueue.push(rec)) return true;
    m_logDropped.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void CVexaDeviceMgr::procLog() {
    static const char* F = "CVexaDeviceMgr::procLog";
    LogRecord rec;
    for (int taken = 0; taken < 1000 && m_stop.load() == 0 && m_logQueue.pop(rec); ++taken) {
        rec.deviceId[sizeof rec.deviceId - 1] = '\0';
        const std::string id(rec.deviceId);
        std::map<std::string, int64_t>* table = nullptr;
        int64_t period = 0;
        switch (rec.type) {
            case LOG_REC_HEARTBEAT: table = &m_hbAuthCounts; period = 600; break;
            case LOG_REC_AUTH: table = &m_hbAuthCounts; period = 3600; break;
            case LOG_REC_NO_DIRECT: table = &m_noDirectCounts; period = 3600; break;
            case LOG_REC_RESET_NO_DIRECT: m_noDirectCounts.erase(id); continue;
            case LOG_REC_FORGET:
                m_hbAuthCounts.erase(id);
                m_noDirectCounts.erase(id);
                continue;
            default: continue;
        }
        auto it = table->find(id);
        const bool first = it == table->end();
        int64_t count = 1;
        if (first) {
            table->emplace(id, 1);
        } else {
            count = it->second;
            it->second = count + 1;
            if (count % period != 0) continue;
        }
        switch (rec.type) {
            case LOG_REC_HEARTBEAT:
                if (first) LOG_REG(2, F, "Device HB:[%s,1]", id.c_str());
                else LOG_REG(2, F, "Device HB:[%s,%lld]", id.c_str(), static_cast<long long>(count));
                break;
            case LOG_REC_AUTH:
                if (first) LOG_REG(2, F, "Device Auth:[%s,1]", id.c_str());
                else LOG_REG(2, F, "Device Auth:[%s,%lld]", id.c_str(), static_cast<long long>(count));
                break;
            default:
                if (first) LOG_REG(2, F, "[deviceID=%s,1]device is added, but not allow direct connect.", id.c_str());
                else
                    LOG_REG(2, F, "[deviceID=%s,%lld]device is added, but not allow direct connect.", id.c_str(),
                            static_cast<long long>(count));
                break;
        }
    }
}
