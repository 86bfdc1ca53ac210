// The five library callbacks: registration (login, authentication, session key, address
// request, heartbeat, logout), subscription messages, exceptions, alarm-link alarms and
// asynchronous answers. Each turns a library record into the manager's own calls.
#include <cstring>

#include "common/Bounded.h"
#include "common/ConfigCenter.h"
#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "device/EventIntake.h"
#include "device/OperationMsg.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "VexaAmsSdk.h"
#include "palsafe.h"

namespace {

using vexa::clampU32;
using vexa::copyField;

constexpr const char* kRegFunc = "pfnDeviceRegisterCB";
// Domain name handed out in address answers (a fixed 12-character text).
constexpr const char* kDasDomain = "vexa.gateway";
// A structured alarm text is read whole up to the size of one frame, then judged.
constexpr uint32_t kMaxStructuredText = 1u << 20;

std::string L(const std::string& s) { return vexa::logText(s); }

// A text field of a library record: cut at the field, whether or not it holds a NUL.
std::string field(const char* p, size_t cap) {
    const void* nul = memchr(p, '\0', cap);
    return std::string(p, nul ? static_cast<const char*>(nul) - p : cap);
}



// Device-supplied values inside "key=value;" texts must not forge further pairs.
std::string pairSafe(std::string s) {
    for (char& c : s)
        if (c == ';' || c == '=') c = '_';
    return s;
}

}  // namespace

VEXA_BOOL CVexaDeviceMgr::pfnDeviceRegisterCB(int32_t userHandle, uint32_t dataType, void* outBuf, uint32_t outLen,
                                              void* inBuf, uint32_t inLen, void* user) {
    try {
        if (!user) {
            LOG_REG(3, kRegFunc, "pSdkMgr is NULL");
            return 0;
        }
        // Records shorter than ours are not ours to read.
        if (outBuf && outLen < sizeof(VEXA_CMS_DEV_REG_INFO)) outBuf = nullptr;
        return static_cast<CVexaDeviceMgr*>(user)->onRegister(userHandle, dataType, outBuf, inBuf, inLen);
    } catch (const std::exception& e) {
        LOG_REG(5, kRegFunc, "exception: %s", e.what());
    } catch (...) {
        LOG_REG(5, kRegFunc, "unknown exception");
    }
    return 0;
}

VEXA_BOOL CVexaDeviceMgr::onRegister(int32_t userHandle, uint32_t dataType, void* outBuf, void* inBuf, uint32_t inLen) {
    const auto* info = static_cast<const VEXA_CMS_DEV_REG_INFO*>(outBuf);
    std::string id = info ? field(info->szDeviceID, sizeof info->szDeviceID) : std::string();
    std::shared_ptr<CVexaDevice> dev;
    if (!id.empty())
        dev = findDevice(id);
    else if (userHandle >= 0)
        dev = findDeviceByHandle(userHandle);
    if (!dev) {
        // Unknown devices are refused; they are not counted, so random identifiers cannot grow
        // the log thread's tables.
        return 0;
    }
    id = dev->deviceId();
    if (dataType == VEXA_CMS_DEV_DAS_PINGREO)
        push(id, LOG_REC_HEARTBEAT);
    else if (dataType == VEXA_CMS_DEV_AUTH)
        push(id, LOG_REC_AUTH);
    else
        LOG_REG(3, kRegFunc, "lUserID: %ld, dwDataType: %lu, DeviceID:%s.", static_cast<long>(userHandle),
                static_cast<unsigned long>(dataType), L(id).c_str());

    switch (dataType) {
        case VEXA_CMS_DEV_ON:
        case VEXA_CMS_DEV_ADDRESS_CHANGED:
        case VEXA_CMS_DEV_DAS_REREGISTER:
            return onLogin(dev, userHandle, info, inBuf);
        case VEXA_CMS_DEV_OFF:
            postLogout(id, 2, userHandle);
            return 1;
        case VEXA_CMS_DEV_AUTH:
            return onAuth(dev, userHandle, info, inBuf, inLen);
        case VEXA_CMS_DEV_SESSIONKEY:
            return onSessionKey(dev, info);
        case VEXA_CMS_DEV_SESSIONKEY_ERROR:
            return onKeyError(dev, id);
        case VEXA_CMS_DAS_REQ:
            return onDasRequest(dev, info, inBuf, inLen);
        default:
            return 1;
    }
}

VEXA_BOOL CVexaDeviceMgr::onLogin(const std::shared_ptr<CVexaDevice>& dev, int32_t userHandle,
                                  const VEXA_CMS_DEV_REG_INFO* info, void* inBuf) {
    if (!info) return 1;
    const std::string id = dev->deviceId();
    auto* answer = static_cast<VEXA_CMS_LOGIN_ANSWER*>(inBuf);
    if (!answer || !answer->pStorageServer || !answer->pAlarmServer) {
        if (m_regGate.allow(id))
            LOG_REG(4, kRegFunc, "[deviceID=%s,userHandle=%ld]pInBuffer param error.", L(id).c_str(),
                    static_cast<long>(userHandle));
        return 0;
    }
    const std::string devSerial = field(info->szDevSerial, sizeof info->szDevSerial);
    const std::string shortSerial = field(info->szShortSerial, sizeof info->szShortSerial);
    const std::string address = field(info->szDeviceIP, sizeof info->szDeviceIP);
    const std::string firmware = field(info->szFirmwareVersion, sizeof info->szFirmwareVersion);
    LOG_REG(2, kRegFunc,
            "lUserID: %ld, deviceID: %s, deviceSerial:%s, logdeviceSerial:%s,byDevProtocolVersion:%d,deviceIP:%s,"
            "FirmwareVersion:%s",
            static_cast<long>(userHandle), L(id).c_str(), L(devSerial).c_str(), L(shortSerial).c_str(),
            info->byDevProtocolVersion, L(address).c_str(), L(firmware).c_str());

    CVexaDevice::LoginInfo login;
    login.userHandle = userHandle;
    login.address = address;
    login.port = info->wDevicePort;
    login.regProtocol = info->byDevProtocolVersion == 4 ? "aldonV5" : "VEXA";
    if (login.regProtocol == "aldonV5") {
        login.serial = devSerial;
    } else {
        login.serial = shortSerial;
        if (login.serial.size() >= 11) login.serial = login.serial.substr(login.serial.size() - 11, 9);
    }
    char regText[256];
    snprintf(regText, sizeof regText, "regIP=%s;regPort=%d;serialNo=%s;devProtocol=%s",
             pairSafe(dev->dasAddress()).c_str(), dev->dasPort(), pairSafe(login.serial).c_str(),
             login.regProtocol.c_str());
    {
        // One step against a concurrent off-line of the previous session: the new handle and
        // status 0 are stored, and the host is told, in the order the changes happened.
        std::unique_lock<std::mutex> session = dev->lockSession();
        dev->loginLocked(login);
        dev->changeStatusLocked(0, regText);
    }
    dev->deliverStatus();

    CConfigCenter* cfg = CConfigCenter::instance();
    if (cfg->getInt("HeartbeatEnable") == 1) {
        answer->dwKeepAliveSec = clampU32(cfg->getInt("hb_time"));
        answer->dwTimeOutCount = clampU32(cfg->getInt("hb_fail"));
        answer->dwAlarmKeepAliveSec = clampU32(cfg->getInt("AlarmKeepAliveSec"));
        answer->dwAlarmTimeOutCount = clampU32(cfg->getInt("AlarmTimeOutCount"));
        LOG_REG(3, kRegFunc, "dwKeepAliveSec = %d, dwTimeOutCount = %d,  dwAMSKeepAliveSec = %d, dwAMSTimeOutCount = %d",
                static_cast<int>(answer->dwKeepAliveSec), static_cast<int>(answer->dwTimeOutCount),
                static_cast<int>(answer->dwAlarmKeepAliveSec), static_cast<int>(answer->dwAlarmTimeOutCount));
    }

    VEXA_CMS_ALARM_SERVER* alarm = answer->pAlarmServer;
    VEXA_CMS_STORAGE_SERVER* storage = answer->pStorageServer;
    alarm->dwEnable = 1;
    ServerInfo svr;
    findDeviceSvrInfo(id, dev->dasAddress(), svr);
    if (login.regProtocol == "VEXA") {
        alarm->dwAlarmType = 0;
        alarm->dwSubscribeMode = 0;
        LOG_REG(2, kRegFunc, "device %s login, set alarmType %d, SubscribeEventMode %d", L(id).c_str(), 0, 0);
    } else if (svr.found) {
        alarm->dwAlarmType = 1;
        copyField(alarm->szAddress, sizeof alarm->szAddress, svr.alarmAddress, 127, kRegFunc);
        alarm->wPort = static_cast<uint16_t>(svr.alarmPort & 0xffff);
        LOG_REG(2, kRegFunc, "device %s login, set netzone alarm ip tcp %s:%d", L(id).c_str(), alarm->szAddress,
                svr.alarmPort);
    }
    if (svr.found && dev->deviceType() == "SecurityCP") {
        storage->dwEnable = 1;
        storage->dwEnable2 = 1;
        copyField(storage->szAddress, sizeof storage->szAddress, svr.storageAddress, 127, kRegFunc);
        storage->wPort = static_cast<uint16_t>(svr.storagePort & 0xffff);
        copyField(storage->szAccessKey, sizeof storage->szAccessKey, dev->accessKey(), 63, kRegFunc);
        copyField(storage->szSecretKey, sizeof storage->szSecretKey, dev->secretKey(), 63, kRegFunc);
        LOG_REG(2, kRegFunc, "device %s login, set netzone storage ip tcp %s:%d", L(id).c_str(), storage->szAddress,
                svr.storagePort);
    }
    push(id, LOG_REC_RESET_NO_DIRECT);
    // Bring the device on line (keep-alive, subscriptions) from the operation worker.
    pushOperation(vexa::makeRegisterMsg(userHandle));
    return 1;
}

VEXA_BOOL CVexaDeviceMgr::onAuth(const std::shared_ptr<CVexaDevice>& dev, int32_t userHandle,
                                 const VEXA_CMS_DEV_REG_INFO* info, void* inBuf, uint32_t inLen) {
    const std::string id = dev->deviceId();
    const std::string added = dev->addedProtocol();
    const std::string reg = (info && info->byDevProtocolVersion == 4) ? "aldonV5" : "VEXA";
    if ((added == "aldonV5" || added == "VEXA") && added != reg) {
        if (m_regGate.allow(id))
            LOG_REG(4, kRegFunc, "[DevAddPro=%s,DevRegPto=%s,userHandle=%ld]device protocol is not match.",
                    L(added).c_str(), reg.c_str(), static_cast<long>(userHandle));
        postLogout(id, 3, -1);
        return 0;
    }
    if (!dev->allowDirectConnect()) {
        push(id, LOG_REC_NO_DIRECT);
        return 0;
    }
    if (!inBuf || inLen == 0) return 0;
    char* out = static_cast<char*>(inBuf);
    const std::string key = dev->deviceKey();
    const size_t n = key.size() < inLen - 1 ? key.size() : inLen - 1;
    memcpy(out, key.data(), n);
    out[n] = '\0';
    return 1;
}

VEXA_BOOL CVexaDeviceMgr::onSessionKey(const std::shared_ptr<CVexaDevice>& dev, const VEXA_CMS_DEV_REG_INFO* info) {
    if (!info) return 1;
    VEXA_DEV_SESSION_KEY key;
    memset(&key, 0, sizeof key);
    const std::string id = field(info->szDeviceID, sizeof info->szDeviceID);
    copyField(key.szDeviceID, sizeof key.szDeviceID, id, 255, kRegFunc);
    // The key is 64 hex digits and the companion 32: they fill their fields whole (no NUL), so
    // copying one byte less would install a key that never matches what the device presents.
    const std::string sessionKey = field(info->szSessionKey, sizeof info->szSessionKey);
    const std::string companion = field(info->szCompanion, sizeof info->szCompanion);
    memcpy(key.szSessionKey, sessionKey.data(), sessionKey.size());
    memcpy(key.szCompanion, companion.data(), companion.size());
    key.byProtocolVersion = info->bySessionProtocolVersion;
    if (key.byProtocolVersion == 4) {
        // Installed under the device's session lock, so the previous session's going off line
        // cannot clear it afterwards.
        std::unique_lock<std::mutex> session = dev->lockSession();
        dev->noteSessionKeyLocked();
        setSessionKey(key, kRegFunc, id, false);
    }
    return 1;
}

VEXA_BOOL CVexaDeviceMgr::onKeyError(const std::shared_ptr<CVexaDevice>& dev, const std::string& id) {
    const int32_t handle = dev->userHandle();
    if (handle >= 0) {
        if (m_regGate.allow(id))
            LOG_REG(2, kRegFunc,
                    "[deviceID=%s,userHandle=%ld]Device already register. New device's key incorrect and refuses it.",
                    L(id).c_str(), static_cast<long>(handle));
        return 0;
    }
    if (m_regGate.allow(id)) LOG_REG(5, kRegFunc, "[%s]auth key error", L(id).c_str());
    postLogout(id, 1, -1);
    return 1;
}

VEXA_BOOL CVexaDeviceMgr::onDasRequest(const std::shared_ptr<CVexaDevice>& dev, const VEXA_CMS_DEV_REG_INFO* info,
                                       void* inBuf, uint32_t inLen) {
    if (!info) return 1;
    const std::string id = dev->deviceId();
    const std::string addr = field(info->szServerAddress, sizeof info->szServerAddress);
    const int32_t port = info->wServerPort;
    if (!addr.empty() && port >= 1 && port < 65535) {
        char serverId[64];
        snprintf(serverId, 63, "das_%s_%d", addr.c_str(), port);
        VEXA_CMS_DAS_ANSWER answer;
        memset(&answer, 0, sizeof answer);
        copyField(answer.szAddress, sizeof answer.szAddress, addr, 127, kRegFunc);
        answer.wPort = static_cast<uint16_t>(port);
        copyField(answer.szDomain, sizeof answer.szDomain, kDasDomain, 63, kRegFunc);
        copyField(answer.szServerID, sizeof answer.szServerID, serverId, 63, kRegFunc);
        if (inBuf && inLen > 0) memcpy(inBuf, &answer, inLen < sizeof answer ? inLen : sizeof answer);
        dev->setDasServer(addr, port);
        LOG_REG(3, kRegFunc, "[DeviceId=%s,szServerID=%s]ENUM_VEXA_CMS_DAS_REQ.", L(id).c_str(), L(serverId).c_str());
    } else if (m_regGate.allow(id)) {
        LOG_REG(4, kRegFunc, "[DeviceId=%s,szIP=%s,wPort=%d]ENUM_VEXA_CMS_DAS_REQ param error.", L(id).c_str(),
                L(addr).c_str(), port);
    }
    return 1;
}

// ---------------------------------------------------------------------------------------------

VEXA_BOOL CVexaDeviceMgr::pfnSubscribeMsgCB(int32_t, uint32_t, VEXA_CMS_MSG* msg, void* user) {
    try {
        if (!user || !msg || !msg->pData || msg->dwDataLen == 0) return 0;
        return static_cast<CVexaDeviceMgr*>(user)->onSubscribeMsg(msg);
    } catch (const std::exception& e) {
        LOG_REG(5, "CVexaDeviceMgr::pfnSubscribeMsgCB", "exception: %s", e.what());
    }
    return 0;
}

VEXA_BOOL CVexaDeviceMgr::onSubscribeMsg(const VEXA_CMS_MSG* msg) {
    static const char* F = "CVexaDeviceMgr::pfnSubscribeMsgCB";
    if (msg->dwMsgType != 2) {
        LOG_REG(2, F, "not support type:%lu", static_cast<unsigned long>(msg->dwMsgType));
        return 1;
    }
    const auto* alarm = static_cast<const VEXA_ALARM_MSG*>(msg->pData);
    if (!alarm->pXmlBuf || alarm->dwXmlBufLen == 0) return 1;
    if (alarm->dwXmlBufLen > EventIntake::kMaxAlarmText) {
        if (m_regGate.allow(field(alarm->szDeviceID, sizeof alarm->szDeviceID)))
            LOG_REG(5, F, "alarm text of %u bytes too long and drop.", alarm->dwXmlBufLen);
        return 1;
    }
    Json::Value v(Json::objectValue);
    v["deviceID"] = field(alarm->szDeviceID, sizeof alarm->szDeviceID);
    v["domain"] = field(msg->szDomain, sizeof msg->szDomain);
    v["identifier"] = field(msg->szIdentifier, sizeof msg->szIdentifier);
    v["alarmType"] = alarm->byAlarmType;
    v["dataType"] = alarm->byDataType;
    v["alarm"] = std::string(static_cast<const char*>(alarm->pXmlBuf), alarm->dwXmlBufLen);
    pushAlarm(vexa::writeJson(v));
    return 1;
}

void CVexaDeviceMgr::pfnExceptionCB(const VEXA_CMS_EXCEPTION* exc, void* user) {
    try {
        if (!exc || !user) return;
        if (exc->dwType != 1 && exc->dwType != 2 && exc->dwType != 4) return;
        if (static_cast<CVexaDeviceMgr*>(user)->findDeviceByHandle(exc->lUserHandle))
            LOG_REG(4, "CVexaDeviceMgr::pfnExceptionCB", "[userHandle=%ld,type=%d,errCode=%d]ExceptionCallback",
                    static_cast<long>(exc->lUserHandle), static_cast<int>(exc->dwType),
                    static_cast<int>(exc->dwErrorCode));
    } catch (...) {
    }
}

VEXA_BOOL CVexaDeviceMgr::pfnAlarmMsgCB(int32_t handle, VEXA_ALARM_MSG* msg, void* user) {
    try {
        return (user ? static_cast<CVexaDeviceMgr*>(user) : instance())->onAlarmMsg(handle, msg);
    } catch (const std::exception& e) {
        LOG_DEV(5, "pfnAlarmMsgCB", "exception: %s", e.what());
    }
    return 1;
}

VEXA_BOOL CVexaDeviceMgr::onAlarmMsg(int32_t handle, const VEXA_ALARM_MSG* msg) {
    static const char* F = "pfnAlarmMsgCB";
    // Named only when a line about this link is due.
    const auto source = [handle] { return "alarm link " + std::to_string(handle); };
    if (!msg || msg->byAlarmType == 0) {
        if (m_alarmGate.allow(source())) LOG_DEV(5, F, "pAlarmMsg == NULL");
        return 1;
    }
    const uint8_t type = msg->byAlarmType;
    const uint8_t data = msg->byDataType;
    const bool plain = type == 2 && (data == 1 || data == 2);
    const bool structured = type == 3 || (type == 2 && data == 3);
    if (msg->dwXmlBufLen > EventIntake::kMaxAlarmText) {
        if (m_alarmGate.allow(source()))
            LOG_DEV(5, F, "pAlarmMsg->dwXmlBufLen == %d,too long and drop.", static_cast<int>(msg->dwXmlBufLen));
        return 1;
    }
    std::string text;
    bool tooLong = false;
    if (msg->pXmlBuf) {
        if (plain) {
            text.assign(static_cast<const char*>(msg->pXmlBuf), msg->dwXmlBufLen);
        } else if (structured) {
            const auto* s = static_cast<const VEXA_ALARM_STRUCT*>(msg->pXmlBuf);
            const int32_t kind = s->pHeader ? 13 : s->iKind;
            // Read whole (up to one frame) and judged after the header is gone: never cut.
            auto whole = [&tooLong](const char* p, uint32_t n) {
                if (!p) return std::string();
                if (n > kMaxStructuredText) {
                    tooLong = true;
                    return std::string();
                }
                return std::string(p, n);
            };
            if (kind == 1 || kind == 5) {
                text = whole(s->pText, s->dwTextLen);
            } else if (kind == 13 && s->pHeader && s->dwHeader != 0) {
                text = whole(s->pText, s->dwTextLen);
                const size_t end = text.find("\r\n\r\n");
                if (end != std::string::npos) text.erase(0, end + 4);
            } else if (kind == 13) {
                if (s->pDescriptor && s->dwDescriptorCount != 0 && s->pDescriptor->pText)
                    text = whole(s->pDescriptor->pText, s->pDescriptor->dwLen);
            } else if (m_alarmGate.allow(source())) {
                LOG_DEV(5, F, "AMSAlarmCallback, FERRO Alarm, Other dwAlarmType[%d]\n", kind);
            }
        } else if (m_alarmGate.allow(source())) {
            LOG_DEV(5, F, "[byAlarmType=%d,byDataType=%d]AMSAlarmCallback, FERRO Alarm, Other dwAlarmType.", type,
                    data);
        }
    }
    if (tooLong || text.size() > EventIntake::kMaxAlarmText) {
        if (m_alarmGate.allow(source()))
            LOG_DEV(5, F, "pAlarmMsg->dwXmlBufLen == %d,too long and drop.",
                    static_cast<int>(tooLong ? kMaxStructuredText + 1 : text.size()));
        return 1;
    }
    if (text.empty()) return 1;
    const std::string logged = RunLog_Enabled(2) ? L(text) : std::string();
    // A full queue refuses the alarm: the library keeps it unacknowledged and offers it again.
    if (!offerAlarm(std::move(text))) return 0;
    if (!logged.empty()) LOG_DEV(2, F, "ProcessMsg [%s].", logged.c_str());
    return 1;
}

void CVexaDeviceMgr::pfnDeviceAsyncCallback(const VEXA_CMS_ASYNC_ANSWER* answer, void* user) {
    if (!answer || !user) return;
    try {
        static_cast<CVexaDeviceMgr*>(user)->onAsyncAnswer(answer);
    } catch (const std::exception& e) {
        LOG_REG(5, "CVexaDeviceMgr::pfnDeviceAsyncCallback", "exception: %s", e.what());
    }
}

