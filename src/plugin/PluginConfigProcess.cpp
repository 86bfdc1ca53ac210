#include "plugin/PluginConfigProcess.h"

#include <cstring>
#include <vector>

#include "common/ConfigCenter.h"
#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "PAL.h"
#include "plugin/PluginFrame.h"
#include "device/SessionLoad.h"
#include "device/VexaDeviceMgr.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

typedef uint32_t (*Handler)(const std::string&);
struct Command {
    const char* name;
    Handler handler;
    bool needsInit;  // starts the libraries or touches them: only between Plugin_Init and Plugin_Fini
};
const Command kCommands[] = {
    {"SetVexaSdkLog", &PluginConfigProcess::SetVexaSdkLogProcess, true},
    {"NetZoneTableNotify", &PluginConfigProcess::NetZoneTableNotifyProcess, true},
    {"InitListenPort", &PluginConfigProcess::InitListenPortProcess, false},
};
constexpr int kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);

// A port text: decimal 1..65535 only, nothing else around it.
bool parsePort(const std::string& text, uint32_t& port) {
    if (text.empty() || text.size() > 5) return false;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    if (v < 1 || v > 65535) return false;
    port = v;
    return true;
}

}  // namespace

uint32_t PluginConfigProcess::process(const char* head, const char* message) {
    static const char* F = "SetConfigProcess";
    LOG_REG(2, F, "enter SetConfigProcess, nConfigProcFuncCount-%d", kCommandCount);
    if (!head || !message) return VEXA_ERR_STATE;
    for (const Command& c : kCommands) {
        if (strcmp(c.name, head) != 0) continue;
        LOG_REG(2, F, "set plugin config, find process, head: %s, msg: %s", head, vexa::logText(message).c_str());
        uint32_t rc = VEXA_ERR_STATE;
        if (!pluginRunSerialised(c.needsInit, [&] { rc = c.handler(message); })) {
            LOG_REG(4, F, "%s refused, plug-in not initialised", head);
            return VEXA_ERR_STATE;
        }
        return rc;
    }
    LOG_REG(4, F, "Not support cmd:%s!", vexa::logText(head).c_str());
    return VEXA_ERR_STATE;
}

uint32_t PluginConfigProcess::SetVexaSdkLogProcess(const std::string& message) {
    const int32_t level = PAL_Atoi32(message.c_str());
    LOG_REG(3, "PluginConfigProcess::SetVexaSdkLogProcess", "SetVexaSdkLogProcess start [LogLevel = %d]", level);
    return CVexaDeviceMgr::instance()->setLogLevel(level) == -1 ? VEXA_ERR_STATE : 0;
}

uint32_t PluginConfigProcess::InitListenPortProcess(const std::string& message) {
    static const char* F = "PluginConfigProcess::InitListenPortProcess";
    CConfigCenter* cfg = CConfigCenter::instance();
    // Devices are told the ports the libraries listen on: those stay until the libraries stop.
    if (CVexaDeviceMgr::instance()->sdkStarted()) {
        LOG_REG(4, F, "libraries already running, listen ports ignored");
        return 0;
    }
    size_t pos = 0;
    while (pos <= message.size()) {
        size_t semi = message.find(';', pos);
        if (semi == std::string::npos) semi = message.size();
        const std::string piece = message.substr(pos, semi - pos);
        pos = semi + 1;
        const size_t eq = piece.find('=');
        if (piece.empty() || eq == std::string::npos) continue;
        const std::string key = piece.substr(0, eq);
        const std::string value = piece.substr(eq + 1);
        void (CConfigCenter::*set)(uint32_t) = nullptr;
        if (key == "aldonV5RegPort")
            set = &CConfigCenter::setInnerRegPort;
        else if (key == "pssUploadPort")
            set = &CConfigCenter::setInnerStoragePort;
        else if (key == "aldonV5AlarmPort")
            set = &CConfigCenter::setHostAlarmPort;
        else
            continue;
        uint32_t port = 0;
        if (!parsePort(value, port)) {
            LOG_REG(4, F, "[%s=%s]port out of range, ignored", key.c_str(), vexa::logText(value).c_str());
            continue;
        }
        (cfg->*set)(port);
        if (set == &CConfigCenter::setHostAlarmPort) cfg->setInnerAlarmPort(port);
    }
    return 0;
}

uint32_t PluginConfigProcess::NetZoneTableNotifyProcess(const std::string& message) {
    static const char* F = "PluginConfigProcess::NetZoneTableNotifyProcess";
    CConfigCenter* cfg = CConfigCenter::instance();
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    Json::Value root;
    if (!vexa::parseJson(message, root) || !root.isObject()) {
        LOG_REG(5, F, "parse m_jsonParams fail");
        return VEXA_ERR_STATE;
    }
    // While the libraries run, devices have been told the current addresses and ports: a new
    // table must not change them.
    if (mgr->sdkStarted()) {
        mgr->initSDK(cfg->innerAddress(), static_cast<int32_t>(cfg->innerRegPort()),
                     static_cast<int32_t>(cfg->hostAlarmPort()));
        LOG_REG(4, F, "libraries already running, new network zone table ignored");
        return 0;
    }
    // Read the whole table before changing anything, so a bad table starts nothing half-way.
    std::string accessIp;
    bool haveAccess = false;
    uint32_t netId = 0;
    if (const Json::Value* infos = vexa::jsonMember(root, "accessNetInfos")) {
        if (infos->isArray()) {
            for (const Json::Value& e : *infos) {
                std::string proto, ip;
                if (!vexa::jsonString(e, "protocolType", proto) || proto != "VEXA") continue;
                if (!vexa::jsonString(e, "accessIp", ip)) continue;
                const Json::Value* id = vexa::jsonMember(e, "id");
                accessIp = ip;
                haveAccess = !ip.empty();
                netId = (id && id->isUInt()) ? id->asUInt() : 0;
            }
        }
    }
    const uint32_t innerReg = cfg->innerRegPort();
    const uint32_t innerStorage = cfg->innerStoragePort();
    // The alarm port the library will listen on: the host's, else the configured one (a port
    // the system picks has no NAT entry).
    const uint32_t hostAlarm = cfg->hostAlarmPort();
    const int32_t configured = cfg->getInt("AlarmPort");
    const uint32_t innerAlarm =
        hostAlarm ? hostAlarm : (configured >= 1 && configured <= 65535 ? static_cast<uint32_t>(configured) : 0);
    std::string outer;
    uint32_t outerReg = 0, outerAlarm = 0, outerStorage = 0;
    if (const Json::Value* nats = vexa::jsonMember(root, "natIps")) {
        if (nats->isArray() && haveAccess) {
            for (const Json::Value& e : *nats) {
                std::string localIp, localPort, natIp, natPort;
                if (!vexa::jsonString(e, "localIp", localIp) || !vexa::jsonString(e, "localPort", localPort) ||
                    !vexa::jsonString(e, "natIp", natIp) || !vexa::jsonString(e, "natPort", natPort))
                    continue;
                if (localIp != accessIp) continue;
                uint32_t local = 0, nat = 0;
                if (!parsePort(localPort, local)) continue;
                if (!parsePort(natPort, nat)) {
                    LOG_REG(4, F, "[natPort=%s]port out of range, ignored", vexa::logText(natPort).c_str());
                    continue;
                }
                if (local == innerStorage) {
                    outer = natIp;
                    outerStorage = nat;
                    LOG_REG(3, F, "setPssAL5OuterAddr:%s:%d!", vexa::logText(natIp).c_str(), static_cast<int>(nat));
                } else if (local == innerAlarm) {
                    outer = natIp;
                    outerAlarm = nat;
                    LOG_REG(3, F, "setAlarmAL5SecurityOuterAddr:%s:%d!", vexa::logText(natIp).c_str(),
                            static_cast<int>(nat));
                } else if (local == innerReg) {
                    outer = natIp;
                    outerReg = nat;
                    LOG_REG(3, F, "[regOuterAddr=%s:%d]setRegOuterAddr", vexa::logText(natIp).c_str(),
                            static_cast<int>(nat));
                }
            }
        }
    }
    if (haveAccess) {
        cfg->setAccessNetId(netId);
        cfg->setInnerAddress(accessIp);
    }
    // A port without an entry in this table has no outer value: none is left from an earlier table.
    cfg->setOuterStoragePort(outerStorage);
    cfg->setOuterAlarmPort(outerAlarm);
    cfg->setOuterRegPort(outerReg);
    cfg->setOuterAddress(outer);
    if (!haveAccess) {
        LOG_DEV(6, F, "strNetInfoIp is NULL,sdk not run!!!");
        return VEXA_ERR_STATE;
    }
    if (innerReg < 1 || innerReg > 65535) {
        LOG_REG(5, F, "registration port %u not set, sdk not run", innerReg);
        return VEXA_ERR_STATE;
    }
    const int rc = mgr->initSDK(accessIp, static_cast<int32_t>(innerReg), static_cast<int32_t>(hostAlarm));
    return rc == 0 ? 0 : VEXA_ERR_STATE;
}

std::string PluginConfigProcess::portStatus() {
    CConfigCenter* cfg = CConfigCenter::instance();
    const char* status = CVexaDeviceMgr::instance()->cmsListening() ? "Valid" : "Invalid";
    Json::Value doc(Json::objectValue);
    Json::Value& list = doc["portList"] = Json::Value(Json::arrayValue);
    const struct {
        const char* name;
        uint32_t port;
    } ports[] = {{"FERRO_Alarm_Port", cfg->innerAlarmPort()}, {"Registration_Port", cfg->innerRegPort()}};
    for (const auto& p : ports) {
        Json::Value e(Json::objectValue);
        e["status"] = status;
        e["portValueType"] = "single";
        e["portName"] = p.name;
        e["Single"]["portNo"] = p.port;
        list.append(e);
    }
    // Whether devices can still get in: sessions served, the cap (0: none) and the verdict.
    const vexa::SessionLoad load = vexa::deviceSessionLoad();
    doc["deviceSessions"] = load.sessions;
    doc["maxDeviceSessions"] = load.maxSessions;
    doc["sessionStatus"] = load.full ? "Full" : "Available";
    return vexa::writeJson(doc);
}

extern "C" VEXA_EXPORT uint32_t VEXA_CALL Plugin_SetConfig(const char* head, const char* message) {
    try {
        return PluginConfigProcess::process(head, message);
    } catch (...) {
        return VEXA_ERR_STATE;
    }
}

extern "C" VEXA_EXPORT uint32_t VEXA_CALL Plugin_GetPortStatus(std::string* out) {
    try {
        if (!out) return VEXA_ERR_STATE;
        *out = PluginConfigProcess::portStatus();
        return 0;
    } catch (...) {
        return VEXA_ERR_STATE;
    }
}
