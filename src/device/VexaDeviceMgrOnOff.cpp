// Operation messages carried out: a device's session ended (LOGOUT) or brought on line (REGISTER).
#include <cstring>

#include "common/Bounded.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "VexaAmsSdk.h"
#include "palsafe.h"

namespace {

using vexa::copyField;
std::string L(const std::string& s) { return vexa::logText(s); }

}  // namespace

void CVexaDeviceMgr::setSessionKey(const VEXA_DEV_SESSION_KEY& key, const char* func, const std::string& id,
                                   bool amsOnDeviceLog) {
    if (!VEXA_CMS_SetDeviceSessionKey(&key))
        LOG_REG(5, func, "VEXA_CMS_SetDeviceSessionKey fail:%d, Dev:%s", VEXA_CMS_GetLastError(), L(id).c_str());
    if (VEXA_AMS_SetDeviceSessionKey(&key)) return;
    if (amsOnDeviceLog)
        LOG_DEV(5, func, "VEXA_AMS_SetDeviceSessionKey fail:%d, Dev:%s", VEXA_AMS_GetLastError(), L(id).c_str());
    else
        LOG_REG(5, func, "VEXA_AMS_SetDeviceSessionKey fail:%d, Dev:%s", VEXA_AMS_GetLastError(), L(id).c_str());
}

int CVexaDeviceMgr::procDeviceOff(const std::string& deviceId, int32_t hint, int32_t userHandle) {
    static const char* F = "CVexaDeviceMgr::procDeviceOff";
    std::shared_ptr<CVexaDevice> dev = findDevice(deviceId);
    if (dev) {
        bool sameSession = false;
        int32_t current = -1;
        {
            // Compare, change the status, release the handle and queue the host notification as
            // one step: a login arriving meanwhile waits, then overrides all of it.
            std::unique_lock<std::mutex> session = dev->lockSession();
            current = dev->userHandle();
            // Act only on the session the message is about: a device that logged in again since,
            // or a new object under the same identifier, keeps its session.
            sameSession = userHandle >= 0 ? current == userHandle : current < 0;
            if (sameSession) {
                if (m_offHook) m_offHook(deviceId);
                char text[64];
                snprintf(text, sizeof text, "OfflineHint=%d", hint);
                const int32_t status = hint == 1 ? 8 : hint == 2 ? 10 : hint == 3 ? 11 : -1;
                dev->changeStatusLocked(status, text);
                // Keys installed for a newer session than this one stay in place.
                if (current >= 0 && dev->releaseHandle(current) && dev->regProtocol() == "aldonV5" &&
                    !dev->keyNewerThanLoginLocked()) {
                    VEXA_DEV_SESSION_KEY key;
                    memset(&key, 0, sizeof key);
                    copyField(key.szDeviceID, sizeof key.szDeviceID, deviceId, 255, F);
                    setSessionKey(key, F, deviceId, true);
                }
            }
        }
        if (sameSession)
            dev->deliverStatus();
        else
            LOG_REG(3, F, "[deviceID=%s,userHandle=%ld,current=%ld]session already replaced.", L(deviceId).c_str(),
                    static_cast<long>(userHandle), static_cast<long>(current));
    } else {
        LOG_REG(5, F, "[deviceID=%s]device not exist.", L(deviceId).c_str());
    }
    // Handles are not reused while their session lives, so forcing out the old one never
    // touches a newer session of the device.
    if (userHandle < 0) return 0;
    if (VEXA_CMS_ForceLogout(userHandle)) {
        LOG_REG(3, F, "[lUserId = %ld]ForceLogout success.", static_cast<long>(userHandle));
        return 0;
    }
    LOG_REG(3, F, "[lUserId = %ld, errCode=%d]ForceLogout failed.", static_cast<long>(userHandle),
            VEXA_CMS_GetLastError());
    return -1;
}

int CVexaDeviceMgr::deviceOn(int32_t userHandle) {
    std::shared_ptr<CVexaDevice> dev = findDeviceByHandle(userHandle);
    if (!dev) {
        // The session ended (or was replaced) before its on-line step: nothing to set up.
        LOG_REG(3, "CVexaDeviceMgr::deviceOn", "[userHandle=%ld]no device holds this login, set-up skipped.",
                static_cast<long>(userHandle));
        return -1;
    }
    std::weak_ptr<CVexaDevice> weak = dev;
    m_setupPool.post(dev->deviceId(), [this, weak, userHandle] {
        std::shared_ptr<CVexaDevice> d = weak.lock();
        // Abandoned when the device left, logged out or logged in again meanwhile.
        if (!d || d->userHandle() != userHandle || m_stop.load()) return;
        if (d->proDeviceOn(userHandle) != 0 && d->userHandle() == userHandle)
            procDeviceOff(d->deviceId(), 2, userHandle);
    });
    return -1;
}
