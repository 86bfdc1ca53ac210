#include "device/VexaDevice.h"

#include <cstring>

#include "common/Log.h"
#include "common/LogLimit.h"
#include "PAL.h"
#include "device/VexaDeviceMgr.h"

CVexaDevice::CVexaDevice() {
    CDevConnect_V2::m_owner = this;
    CDevEvent::m_owner = this;
    CDevOVIX::m_owner = this;
    CDevOrderTrans::m_owner = this;
    registerInterface(VEXA_IF_EVENT, static_cast<CDevEvent*>(this), &g_eventTable);
    registerInterface(VEXA_IF_CONNECT_V2, static_cast<CDevConnect_V2*>(this), &g_connectTable);
    registerInterface(VEXA_IF_OVIX, static_cast<CDevOVIX*>(this), &g_ovixTable);
    registerInterface(VEXA_IF_ORDER_TRANS, static_cast<CDevOrderTrans*>(this), &g_orderTransTable);
}

CVexaDevice::~CVexaDevice() = default;

std::map<std::string, std::string> CVexaDevice::parseParams(const char* params) {
    std::map<std::string, std::string> out;
    if (!params) return out;
    const std::string text(params);
    size_t pos = 0;
    for (;;) {
        const size_t semi = text.find(';', pos);
        if (semi == std::string::npos) break;  // text after the last ';' is ignored
        const size_t eq = text.find('=', pos);
        if (eq != std::string::npos && eq < semi && eq > pos)
            out[text.substr(pos, eq - pos)] = text.substr(eq + 1, semi - eq - 1);
        pos = semi + 1;
    }
    return out;
}

namespace {
std::string get(const std::map<std::string, std::string>& m, const char* key) {
    auto it = m.find(key);
    return it == m.end() ? std::string() : it->second;
}
}  // namespace

std::shared_ptr<CVexaDevice> CVexaDevice::selfRef() {
    // Objects are always owned by the plug-in frame; one made elsewhere has no shared owner.
    return weak_from_this().lock();
}

namespace {
// Flags given as a number: 1 exactly when the value is the number 1.
bool numberIsOne(const std::string& v) { return !v.empty() && PAL_Atoi32(v.c_str()) == 1; }
}  // namespace

uint32_t CVexaDevice::Connect_V2(const char* params) {
    static const char* F = "CVexaDevice::Connect_V2";
    const auto p = parseParams(params);
    const std::string id = get(p, "DeviceId");
    const std::string active = get(p, "AlarmActiveStatus");
    std::string oldId;
    bool changed = false;
    int32_t allow = 0;
    std::string devType, addedPto;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        m_deviceKey = get(p, "DeviceKey");
        m_deviceType = get(p, "DevType");
        m_accessKey = get(p, "AK");
        m_secretKey = get(p, "SK");
        m_devIndex = get(p, "DevIndex");
        m_addedProtocol = get(p, "DevProtocol");
        m_allowDirectConn = PAL_Atoi32(get(p, "AllowDirectConn").c_str()) == 1 ? 1 : 0;
        allow = m_allowDirectConn;
        devType = m_deviceType;
        addedPto = m_addedProtocol;
        if (id != m_deviceId) {
            oldId = m_deviceId;
            m_deviceId = id;
            changed = true;
        }
    }
    m_alarmActive.store(active == "active" ? 1 : 0);
    m_videoReview.store(numberIsOne(get(p, "VideoReview")) ? 1 : 0);
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    // The same identifier again re-registers when the registry no longer holds this object
    // (after DisConnect, or when another object took the identifier over).
    if (!changed && !id.empty() && mgr->findDevice(id).get() != this) changed = true;
    if (changed) {
        if (!oldId.empty()) mgr->removeDevice(oldId, this);
        if (auto self = selfRef()) {
            mgr->addDevice(id, self);
        } else {
            LOG_DEV(5, F, "[DeviceId = %s]device has no owner, not registered", vexa::logText(id).c_str());
        }
        LOG_DEV(3, F,
                "add device succ.[DeviceId = %s, Alarm active status = %s, DevType=%s, DevAddPto=%s, "
                "allowDirectConn=%d]",
                vexa::logText(id).c_str(), vexa::logText(active).c_str(), vexa::logText(devType).c_str(),
                vexa::logText(addedPto).c_str(), allow);
    }
    return 0;
}

uint32_t CVexaDevice::DisConnect() {
    static const char* F = "CVexaDevice::DisConnect";
    // Keeps the object alive until this returns, even when the registry held the last owner.
    std::shared_ptr<CVexaDevice> keep = selfRef();
    const std::string id = deviceId();
    {
        std::unique_lock<std::mutex> session = lockSession();
        CVexaDeviceMgr::instance()->removeDevice(id, this);
        const int32_t handle = m_userHandle.exchange(-1);
        if (handle >= 0) {
            CVexaDeviceMgr::instance()->unbindHandle(handle, this);
            CVexaDeviceMgr::instance()->postLogout(id, handle, handle);
        }
        m_connStatus.store(-1);
        m_inlineStatus.clear();
    }
    // Notifications not yet started are dropped; one running now finishes before this returns.
    m_strand->cancel();
    m_strand->waitIdle();
    { std::lock_guard<std::recursive_mutex> gate(m_statusGate); }
    LOG_DEV(3, F, "del device succ.[DeviceId = %s]", vexa::logText(id).c_str());
    return 0;
}

void CVexaDevice::onHostDestroy() {
    std::string id = deviceId();
    if (!id.empty() && CVexaDeviceMgr::instance()->findDevice(id).get() == this) DisConnect();
    m_strand->cancel();
    // Waits for a callback that is running now; none starts afterwards.
    std::lock_guard<std::recursive_mutex> statusGate(m_statusGate);
    std::lock_guard<std::recursive_mutex> gate(m_callbackGate);
    std::lock_guard<std::mutex> lk(m_lock);
    m_connCb = nullptr;
    m_connUser = nullptr;
    m_eventCb = nullptr;
    m_eventUser = nullptr;
}

uint32_t CVexaDevice::SetConnectParams(const char* params) {
    const auto p = parseParams(params);
    if (numberIsOne(get(p, "DestroyFlag"))) {
        m_destroyFlag.store(1);
        return 0;
    }
    const std::string active = get(p, "AlarmActiveStatus");
    m_alarmActive.store(active == "active" ? 1 : 0);
    m_videoReview.store(numberIsOne(get(p, "VideoReview")) ? 1 : 0);
    LOG_DEV(2, "CVexaDevice::SetConnectParams", "SetConnectParams succ. [DeviceID = %s, AlarmActiveStatus = %s]",
            vexa::logText(deviceId()).c_str(), vexa::logText(active).c_str());
    return 0;
}

uint32_t CVexaDevice::SetConnStatusCallBack(VexaConnStatusCallback cb, void* user) {
    std::lock_guard<std::recursive_mutex> gate(m_statusGate);
    std::lock_guard<std::mutex> lk(m_lock);
    m_connCb = cb;
    m_connUser = user;
    return 0;
}

uint32_t CVexaDevice::SetEventCallBack(VexaEventCallback cb, void* user) {
    std::lock_guard<std::recursive_mutex> gate(m_callbackGate);
    std::lock_guard<std::mutex> lk(m_lock);
    m_eventCb = cb;
    m_eventUser = cb ? user : nullptr;
    return 0;
}

uint32_t CVexaDevice::GetConnectStatus(uint32_t* status) {
    if (!status) return VEXA_ERR_BAD_HANDLE;
    *status = static_cast<uint32_t>(m_connStatus.load());
    return 0;
}

void CVexaDevice::notifyConnStatus(int32_t status, const std::string& text) {
    std::lock_guard<std::recursive_mutex> gate(m_statusGate);
    VexaConnStatusCallback cb;
    void* user;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        cb = m_connCb;
        user = m_connUser;
    }
    if (cb) cb(static_cast<CDevBase*>(this), static_cast<uint32_t>(status), text.c_str(), user);
}

void CVexaDevice::sendEventMsg(uint32_t, uint32_t, uint32_t, AlarmEventInfo* event) {
    static const unsigned char kBlock[128] = {0};
    std::lock_guard<std::recursive_mutex> gate(m_callbackGate);
    VexaEventCallback cb;
    void* user;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        cb = m_eventCb;
        user = m_eventUser;
    }
    const int32_t active = m_alarmActive.load();
    if (cb && active == 1 && event) {
        cb(static_cast<CDevBase*>(this), kBlock, event, 0, user);
        return;
    }
    LOG_DEV(5, "CVexaDevice::sendEventMsg", "[deviceID=%s,pactiveStatus=%d]send failed.",
            vexa::logText(deviceId()).c_str(), active);
}

bool CVexaDevice::changeStatusLocked(int32_t status, const std::string& text) {
    if (m_connStatus.exchange(status) == status) return false;
    std::weak_ptr<CVexaDevice> weak = weak_from_this();
    if (weak.expired()) {
        m_inlineStatus.emplace_back(status, text);
        return true;
    }
    NotifyPool::instance().post(m_strand, [weak, status, text] {
        if (auto d = weak.lock()) d->notifyConnStatus(status, text);
    });
    return true;
}

void CVexaDevice::deliverStatus() {
    std::vector<std::pair<int32_t, std::string>> now;
    {
        std::lock_guard<std::mutex> session(m_sessionLock);
        now.swap(m_inlineStatus);
    }
    for (const auto& n : now) notifyConnStatus(n.first, n.second);
    NotifyPool::instance().flush(m_strand);
}

void CVexaDevice::setLogin(const LoginInfo& info) {
    std::lock_guard<std::mutex> session(m_sessionLock);
    loginLocked(info);
}

void CVexaDevice::loginLocked(const LoginInfo& info) {
    std::string id;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        id = m_deviceId;
        m_address = info.address;
        m_port = info.port;
        m_regProtocol = info.regProtocol;
        m_serialNo = info.serial;
    }
    const int32_t old = m_userHandle.exchange(info.userHandle);
    if (auto self = selfRef()) CVexaDeviceMgr::instance()->bindHandle(id, info.userHandle, old, self);
    m_loginKeyEpoch = m_keyEpoch;
}

void CVexaDevice::setDasServer(const std::string& address, int32_t port) {
    std::lock_guard<std::mutex> lk(m_lock);
    m_dasAddress = address;
    m_dasPort = port;
}

bool CVexaDevice::releaseHandle(int32_t expected) {
    const int32_t handle = expected;
    if (!m_userHandle.compare_exchange_strong(expected, -1)) return false;
    CVexaDeviceMgr::instance()->unbindHandle(handle, this);
    return true;
}

#define VEXA_DEVICE_GETTER(type, name, member) \
    type CVexaDevice::name() const {           \
        std::lock_guard<std::mutex> lk(m_lock); \
        return member;                          \
    }
VEXA_DEVICE_GETTER(std::string, deviceId, m_deviceId)
VEXA_DEVICE_GETTER(std::string, deviceKey, m_deviceKey)
VEXA_DEVICE_GETTER(std::string, accessKey, m_accessKey)
VEXA_DEVICE_GETTER(std::string, secretKey, m_secretKey)
VEXA_DEVICE_GETTER(std::string, devIndex, m_devIndex)
VEXA_DEVICE_GETTER(std::string, serialNo, m_serialNo)
VEXA_DEVICE_GETTER(std::string, deviceType, m_deviceType)
VEXA_DEVICE_GETTER(std::string, addedProtocol, m_addedProtocol)
VEXA_DEVICE_GETTER(std::string, regProtocol, m_regProtocol)
VEXA_DEVICE_GETTER(std::string, address, m_address)
VEXA_DEVICE_GETTER(int32_t, port, m_port)
VEXA_DEVICE_GETTER(std::string, dasAddress, m_dasAddress)
VEXA_DEVICE_GETTER(int32_t, dasPort, m_dasPort)
VEXA_DEVICE_GETTER(bool, allowDirectConnect, m_allowDirectConn == 1)
VEXA_DEVICE_GETTER(std::string, alarmAccountId, m_alarmAccountId)

void CVexaDevice::setAlarmAccountId(const std::string& id) {
    std::lock_guard<std::mutex> lk(m_lock);
    m_alarmAccountId = id;
}
#undef VEXA_DEVICE_GETTER

void CVexaDevice::setDevIndex(const std::string& index) {
    std::lock_guard<std::mutex> lk(m_lock);
    m_devIndex = index;
}
