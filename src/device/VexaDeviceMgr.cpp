#include "device/VexaDeviceMgr.h"

#include <arpa/inet.h>

#include <cstring>

#include "common/Bounded.h"
#include "common/ConfigCenter.h"
#include "common/Log.h"
#include "device/EventIntake.h"
#include "device/NotifyPool.h"
#include "device/OperationMsg.h"
#include "device/SessionLoad.h"
#include "device/VexaDevice.h"
#include "VexaAmsSdk.h"
#include "palsafe.h"

namespace {

using vexa::clampU32;

constexpr const char* kSdkLogDir = "../../../../logs/drv_VEXA_dev/depend/VexaSDK";


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

// The TLS libraries both access libraries load, beside the host executable.
struct TlsLibraries {
    std::string crypto = exeDirectory() + "libcrypto-3-x64.dll";
    std::string ssl = exeDirectory() + "libssl-3-x64.dll";
};

uint32_t maxPendingLogins() {
    const int32_t v = CConfigCenter::instance()->getInt("MaxPendingLogins");
    return static_cast<uint32_t>(v > 0 ? v : kDefaultMaxPendingLogins);
}

// Options of both libraries that must be set before Init; withCap: the command library's session cap.
template <class SetCfg, class LastError>
void setAdmissionOptions(SetCfg set, bool withCap, const char* lib, LastError lastError) {
    static const char* F = "CVexaDeviceMgr::initSDK";
    CConfigCenter* cfg = CConfigCenter::instance();
    const struct {
        uint32_t option;
        const char* key;
        uint32_t value;
    } opts[] = {{VEXA_SDK_INIT_MAX_SESSIONS, "MaxDeviceSessions", cfg->maxDeviceSessions()},
                {VEXA_SDK_INIT_FD_RESERVE, "FdReserve", cfg->fdReserve()},
                {VEXA_SDK_INIT_IO_THREADS, "IoThreads", cfg->ioThreads()}};
    for (const auto& o : opts) {
        if (o.option == VEXA_SDK_INIT_MAX_SESSIONS && !withCap) continue;
        uint32_t v = o.value;
        if (!set(o.option, &v))
            LOG_REG(4, F, "[errCode=%d,%s=%u]%s SetSDKLocalCfg failed.", static_cast<int>(lastError()), o.key, v, lib);
    }
}

// Refusals seen by the last look: full stays this long after the last one.
constexpr uint64_t kRefusalHoldMs = 2000;

struct FullWatch {
    std::mutex lock;
    bool full = false;
    bool refusing = false;
    uint64_t refused = 0;
    uint64_t lastRefusalMs = 0;
};

FullWatch& fullWatch() {
    static FullWatch w;
    return w;
}

}  // namespace

namespace vexa {

SessionLoad deviceSessionLoad() {
    static const char* F = "CVexaDeviceMgr::deviceSessionLoad";
    VEXA_SDK_STATS st;
    memset(&st, 0, sizeof st);
    VEXA_CMS_GetSDKStats(&st);
    const uint64_t now = CVexaDeviceMgr::instance()->clock().nowMs();
    FullWatch& w = fullWatch();
    std::lock_guard<std::mutex> lk(w.lock);
    if (st.qwRefusedFull != w.refused) {
        w.refused = st.qwRefusedFull;
        w.refusing = true;
        w.lastRefusalMs = now;
    }
    if (w.refusing && now - w.lastRefusalMs >= kRefusalHoldMs) w.refusing = false;
    SessionLoad load;
    load.sessions = st.dwSessions;
    load.maxSessions = st.dwMaxSessions;
    load.full = (load.maxSessions && load.sessions >= load.maxSessions) || w.refusing;
    if (load.full && !w.full)
        LOG_REG(4, F, "device sessions full: %u of %u", load.sessions, load.maxSessions ? load.maxSessions : load.sessions);
    else if (!load.full && w.full)
        LOG_REG(4, F, "device sessions available again");
    w.full = load.full;
    return load;
}

void resetSessionLoad() {
    VEXA_SDK_STATS st;
    memset(&st, 0, sizeof st);
    VEXA_CMS_GetSDKStats(&st);
    FullWatch& w = fullWatch();
    std::lock_guard<std::mutex> lk(w.lock);
    w.full = w.refusing = false;
    w.refused = st.qwRefusedFull;
}

}  // namespace vexa

CVexaDeviceMgr::CVexaDeviceMgr() = default;

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

int CVexaDeviceMgr::init() {
    CConfigCenter::instance()->parseConfig();
    if (EventIntake* intake = m_intake.load()) intake->start();

    m_stop = 0;  // a restart after uninit brings every thread back
    m_lastAlarmLoopMs = 0;
    m_requests.open();
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
    EventIntake* intake = m_intake.load();
    // Waiters on device answers are released first; the libraries are already stopped.
    closeContexts();
    if (intake) intake->stopOperations();
    m_setupPool.stop();
    // Host status notifications still pending are dropped (logged); a running one finishes.
    NotifyPool::instance().stop();
    if (intake) intake->stopAlarms();

    // The log thread has ended: its tables and queue can be reset from here.
    m_logRecords.reset();
    m_registry.takeAll().clear();  // device destructors run outside the registry lock
    m_sessions.clear();
    return 0;
}

int CVexaDeviceMgr::initSDK(std::string ip, int32_t cmsPort, int32_t alarmPort) {
    static const char* F = "CVexaDeviceMgr::initSDK";
    std::lock_guard<std::mutex> sdkLock(m_sdkLock);
    LOG_REG(2, F, "CVexaSdkMgr::Init: strIp: %s cmsAlarmPort: %d alarmport:%d", ip.c_str(), cmsPort, alarmPort);
    if (m_sdkStarted.load()) {
        LOG_REG(3, F, "repeat init");
        return 0;
    }
    vexa::resetSessionLoad();
    // The alarm side first: devices are told the alarm port it really bound at login.
    if (!startAlarmLibrary(ip, alarmPort) || !startCommandLibrary(ip, cmsPort)) {
        unInitSDKLocked();
        return -1;
    }
    LOG_REG(3, F, "!!!!---- CVexaSdkMgr Init succ. ----!!!!");
    m_sdkStarted = 1;
    m_cmsListening = 1;
    return 0;
}

bool CVexaDeviceMgr::startAlarmLibrary(const std::string& ip, int32_t alarmPort) {
    static const char* F = "CVexaDeviceMgr::initSDK";
    CConfigCenter* cfg = CConfigCenter::instance();
    const TlsLibraries tls;
    if (!VEXA_AMS_SetSDKInitCfg(0, tls.crypto.c_str()) || !VEXA_AMS_SetSDKInitCfg(1, tls.ssl.c_str()))
        LOG_DEV(5, F, "[errCode=%d]VEXA_AMS_SetSDKInitCfg failed!", VEXA_AMS_GetLastError());
    setAdmissionOptions(&VEXA_AMS_SetSDKLocalCfg, false, "VEXA_AMS", &VEXA_AMS_GetLastError);
    if (!VEXA_AMS_Init()) {
        LOG_DEV(5, F, "[errCode=%d]VEXA_AMS_Init failed.", VEXA_AMS_GetLastError());
        return false;
    }
    VEXA_AMS_LISTEN_PARAM ams;
    memset(&ams, 0, sizeof ams);
    vexa::copyField(ams.szIP, sizeof ams.szIP, ip, sizeof ams.szIP - 1, F);
    const int32_t amsPort = alarmPort < 1 ? cfg->getInt("AlarmPort") : alarmPort;
    if (amsPort < 0 || amsPort > 65535) {
        LOG_DEV(5, F, "alarm port %d out of range", amsPort);
        return false;
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
    if (amsHandle < 0) {
        m_amsListenHandle = -1;
        LOG_DEV(5, F, "VEXA_AMS_StartListen failed, errorCode<%d>", VEXA_AMS_GetLastError());
        return false;
    }
    // Devices are told, and the port status shows, the port really bound; set before the
    // command side listens, so no login sees another.
    uint16_t boundAlarmPort = VEXA_AMS_GetListenPort(amsHandle);
    if (boundAlarmPort == 0) boundAlarmPort = ams.wPort;
    if (ams.wPort == 0) LOG_REG(3, F, "alarm port picked by the system: %d", static_cast<int>(boundAlarmPort));
    cfg->setInnerAlarmPort(boundAlarmPort);
    return true;
}

bool CVexaDeviceMgr::startCommandLibrary(const std::string& ip, int32_t cmsPort) {
    static const char* F = "CVexaDeviceMgr::initSDK";
    CConfigCenter* cfg = CConfigCenter::instance();
    const TlsLibraries tls;
    if (!VEXA_CMS_SetSDKInitCfg(0, tls.crypto.c_str()) || !VEXA_CMS_SetSDKInitCfg(1, tls.ssl.c_str()))
        LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SetSDKInitCfg failed!", VEXA_CMS_GetLastError());
    setAdmissionOptions(&VEXA_CMS_SetSDKLocalCfg, true, "VEXA_CMS", &VEXA_CMS_GetLastError);
    if (!VEXA_CMS_Init()) {
        LOG_REG(5, F, "[errCode=%d]VEXA_CMS_Init failed.", VEXA_CMS_GetLastError());
        return false;
    }
    VEXA_CMS_SEND_RECV_PARAM_T recv;
    memset(&recv, 0, sizeof recv);
    recv.dwTimeOut = clampU32(cfg->recvTimeoutMs());
    if (!VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_SEND_RECV_PARAM, &recv)) {
        LOG_REG(5, F, "[errCode=%d,dwRecvTimeOut=%u]ENUM_VEXA_CMS_SEND_RECV_PARAM failed.", VEXA_CMS_GetLastError(),
                recv.dwTimeOut);
        return false;
    }
    LOG_REG(2, F, "[dwRecvTimeOut=%d]ENUM_VEXA_CMS_SEND_RECV_PARAM", static_cast<int>(recv.dwTimeOut));
    uint32_t one = 1;
    if (!VEXA_CMS_SetSDKLocalCfg(VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK, &one)) {
        LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SetSDKLocalCfg ENUM_VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK failed.",
                VEXA_CMS_GetLastError());
        return false;
    }
    if (!VEXA_CMS_SetInterfaceAsync(0, &CVexaDeviceMgr::pfnDeviceAsyncCallback, this)) {
        LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SetInterfaceAsync ENUM_VEXA_CMS_INTERFACE_CONFIG_DEV_ASYNC failed.",
                VEXA_CMS_GetLastError());
        return false;
    }
    VEXA_CMS_MSG_CB_PARAM msgCb;
    memset(&msgCb, 0, sizeof msgCb);
    msgCb.fnCB = &CVexaDeviceMgr::pfnSubscribeMsgCB;
    msgCb.pUserData = this;
    if (!VEXA_CMS_SubscribeMsg(0, &msgCb)) {
        LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SubscribeMsg ENUM_VEXA_CMS_SET_CALLBACK_FUN failed.",
                VEXA_CMS_GetLastError());
        return false;
    }
    static const char kTopic[] = "model#\r\n";
    VEXA_CMS_TOPIC_PARAM topic;
    memset(&topic, 0, sizeof topic);
    topic.pTopic = kTopic;
    topic.dwTopicLen = 8;
    if (!VEXA_CMS_SubscribeMsg(1, &topic)) {
        LOG_REG(5, F, "[errCode=%d]VEXA_CMS_SubscribeMsg ENUM_VEXA_CMS_SET_CALLBACK_FUN failed.",
                VEXA_CMS_GetLastError());
        return false;
    }
    uint32_t maxPending = maxPendingLogins();
    if (!VEXA_CMS_SetSDKLocalCfg(kOptMaxPendingLogins, &maxPending))
        LOG_REG(4, F, "[errCode=%d,MaxPendingLogins=%u]VEXA_CMS_SetSDKLocalCfg failed.", VEXA_CMS_GetLastError(),
                maxPending);
    VEXA_CMS_LISTEN_PARAM cms;
    memset(&cms, 0, sizeof cms);
    vexa::copyField(cms.szIP, sizeof cms.szIP, ip, 127, F);
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
        return false;
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
    return true;
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
// Parts, clock and the hand-over to the alarm side

void CVexaDeviceMgr::setClock(const vexa::Clock* clock) {
    if (!clock) clock = &vexa::steadyClock();
    m_clock = clock;
    m_requests.setClock(clock);
    m_sessions.setClock(clock);
    m_regGate.setClock(clock);
    m_alarmGate.setClock(clock);
    if (EventIntake* intake = m_intake.load()) intake->setClock(clock);
    wakeAlarmLoop();  // the alarm loop waits on the clock it read last
}

bool CVexaDeviceMgr::removeDevice(const std::string& id, const CVexaDevice* dev) {
    if (!m_registry.removeIfSame(id, dev)) return false;
    push(id, LOG_REC_FORGET);
    return true;
}

void CVexaDeviceMgr::pushAlarm(std::string text) {
    if (EventIntake* intake = m_intake.load()) intake->pushAlarm(std::move(text));
}

bool CVexaDeviceMgr::offerAlarm(std::string text) {
    EventIntake* intake = m_intake.load();
    return intake ? intake->offerAlarm(std::move(text)) : true;
}

void CVexaDeviceMgr::pushOperation(std::string text) {
    if (EventIntake* intake = m_intake.load()) intake->pushOperation(std::move(text));
}

void CVexaDeviceMgr::postLogout(const std::string& id, int32_t hint, int32_t userHandle) {
    pushOperation(vexa::makeLogoutMsg(id, hint, userHandle));
}

// ---------------------------------------------------------------------------------------------
// Threads

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
            vexa::deviceSessionLoad();  // says when the device sessions become full or free again
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
        const vexa::Clock& c = clock();
        const uint64_t now = c.nowMs();
        const uint64_t last = m_lastAlarmLoopMs.load();
        if (now - last < kAlarmLoopPeriodMs && now >= last) {
            // The rest of the period on the clock; shutdown, a wake-up or a new clock ends it early.
            std::unique_lock<std::mutex> lk(m_stopLock);
            c.waitUntil(m_stopCv, lk, last + kAlarmLoopPeriodMs,
                        [this] { return m_stop.load() != 0 || m_alarmLoopWake.load(); });
            m_alarmLoopWake = false;
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
        m_lastAlarmLoopMs = clock().nowMs();
    }
}

void CVexaDeviceMgr::procAlarmLoop() {
    static const char* F = "CVexaDeviceMgr::procAlarmLoop";
    EventIntake* intake = m_intake.load();
    if (!intake) return;
    for (const std::string& id : deviceIds()) {
        if (m_stop.load()) return;
        std::shared_ptr<CVexaDevice> dev = findDevice(id);
        if (!dev) {
            LOG_REG(4, F, "[deviceID=%s]Device not exist.", vexa::logText(id).c_str());
            continue;
        }
        if (dev->deviceType() != "encodingDev" || dev->userHandle() == -1) continue;
        std::string doc = intake->checkStorage(*dev);
        if (doc.empty()) continue;
        LOG_REG(2, F, "ProcessMsg [%s].", vexa::logText(doc).c_str());
        intake->pushAlarm(std::move(doc));
    }
}

// ---------------------------------------------------------------------------------------------
// Server address lookup and naming helpers

int CVexaDeviceMgr::findDeviceSvrInfo(const std::string& deviceId, const std::string& regIP, ServerInfo& info) {
    CConfigCenter* cfg = CConfigCenter::instance();
    info.found = 1;
    info.extraFlag = 1;
    const std::string outer = cfg->outerAddress();
    LOG_REG(2, "CVexaDeviceMgr::findDeviceSvrInfo", "device %s realRegIP:%s, RegOuterIP:%s", deviceId.c_str(),
            regIP.c_str(), outer.c_str());
    // A device that made no address request is told the address it registered on, and
    // without a NAT entry there are no outer ports: both cases use the inner values.
    const std::string addr = regIP.empty() ? cfg->innerAddress() : regIP;
    if (outer.empty() || addr != outer) {
        info.alarmAddress = addr;
        info.storageAddress = addr;
        info.alarmPort = static_cast<int32_t>(cfg->innerAlarmPort());
        info.storagePort = static_cast<int32_t>(cfg->innerStoragePort());
    } else {
        info.alarmAddress = outer;
        info.storageAddress = outer;
        info.alarmPort = static_cast<int32_t>(cfg->outerAlarmPort());
        info.storagePort = static_cast<int32_t>(cfg->outerStoragePort());
    }
    return 0;
}

int CVexaDeviceMgr::addressTypeName(std::string& out, const char* address, const std::string& url) {
    if (!address) return -1;
    unsigned char buf[16];
    if (inet_pton(AF_INET, address, buf) == 1)
        out = url.find("/OVIX/Event/notification/httpHosts") != std::string::npos ? "ipAddress" : "ipv4Address";
    else if (inet_pton(AF_INET6, address, buf) == 1)
        out = "ipv6Address";
    else
        out = "hostName";
    return 0;
}

namespace {
// Talk codec by index: the name the host is told and the code the access library takes.
struct AudioCodec {
    const char* name;
    uint32_t libraryCode;
};
constexpr AudioCodec kAudioCodecs[] = {{"G7221", 1}, {"G711U", 2}, {"G711A", 3}, {"G726", 7},
                                       {"AAC", 8},   {"MP2L2", 6}, {"PCM", 100}, {"MP3", 16}};
constexpr int32_t kAudioCodecCount = static_cast<int32_t>(sizeof(kAudioCodecs) / sizeof(kAudioCodecs[0]));
}  // namespace

std::string CVexaDeviceMgr::audioCodecName(int32_t index) {
    if (index < 0 || index >= kAudioCodecCount) return std::string();  // negative indexes included
    return kAudioCodecs[index].name;
}

uint32_t CVexaDeviceMgr::audioCodecLibraryCode(int32_t index) {
    if (index < 0 || index >= kAudioCodecCount) return 0;
    return kAudioCodecs[index].libraryCode;
}
