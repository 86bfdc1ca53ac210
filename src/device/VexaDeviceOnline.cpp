// Bringing a logged-in device on line (keep-alive, event subscription, alarm host and picture
// server) and the device base information query.
#include <tinyxml.h>

#include <cstring>

#include "common/Bounded.h"
#include "common/ConfigCenter.h"
#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "common/XmlLimits.h"
#include "palsafe.h"

namespace {

using vexa::clampU32;

constexpr size_t kMaxDeviceDocument = 1023;
constexpr const char* kSchema = "http://www.vexadev.local/ver20/XMLSchema";
constexpr const char* kHttpHostsUrl = "/OVIX/Event/notification/httpHosts/1";
constexpr const char* kPictureServerUrl = "/OVIX/System/PictureServer?format=json";


bool isIpKind(const std::string& kind) { return kind == "ipAddress" || kind == "ipv4Address" || kind == "ipv6Address"; }

// Alarm-host document; false when it would not fit the device's limit (never sent cut).
bool alarmHostDocument(const std::string& address, int32_t port, std::string& out) {
    std::string kind;
    CVexaDeviceMgr::addressTypeName(kind, address.c_str(), kHttpHostsUrl);
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
    auto* root = new TiXmlElement("HttpHostNotification");
    root->SetAttribute("version", "2.0");
    root->SetAttribute("xmlns", kSchema);
    doc.LinkEndChild(root);
    auto add = [root](const char* name, const std::string& text) {
        auto* e = new TiXmlElement(name);
        if (!text.empty()) e->LinkEndChild(new TiXmlText(text.c_str()));
        root->LinkEndChild(e);
    };
    add("id", "1");
    add("url", "");
    add("protocolType", "Aldon");
    add("parameterFormatType", "XML");
    add("addressingFormatType", isIpKind(kind) ? "ipaddress" : "hostname");
    add(kind.c_str(), address);  // TinyXML escapes the text
    add("portNo", std::to_string(port));
    add("userName", "");
    add("httpAuthenticationMethod", "none");
    TiXmlPrinter printer;
    printer.SetIndent("");
    printer.SetLineBreak("");
    doc.Accept(&printer);
    out = printer.CStr();
    return out.size() <= kMaxDeviceDocument;
}

bool pictureServerDocument(const std::string& address, int32_t port, const std::string& ak, const std::string& sk,
                           std::string& out) {
    std::string kind;
    CVexaDeviceMgr::addressTypeName(kind, address.c_str(), "/OVIX/System/PictureServer");
    Json::Value info(Json::objectValue);
    info["pictureServerType"] = "cloudStorage";
    info["addressingFormatType"] = isIpKind(kind) ? "ipaddress" : "hostname";
    info[kind] = address;
    info["portNo"] = port;
    Json::Value& cloud = info["cloudStorage"];
    // The storage server takes every cloud service on its one port.
    cloud["cloudManageHttpPort"] = port;
    cloud["cloudTransDataPort"] = port;
    cloud["cloudCmdPort"] = port;
    cloud["cloudHeartBeatPort"] = port;
    cloud["cloudStorageHttpPort"] = port;
    cloud["cloudUsername"] = "";
    cloud["cloudPassword"] = "";
    cloud["cloudPoolId"] = 1;
    cloud["clouldProtocolVersion"] = "Image and Video Cloud";
    cloud["clouldAccessKey"] = ak;
    cloud["clouldSecretKey"] = sk;
    Json::Value doc(Json::objectValue);
    doc["PictureServerInformation"] = info;
    out = vexa::writeJson(doc);
    return out.size() <= kMaxDeviceDocument;
}

}  // namespace

int CVexaDevice::proDeviceOn(int32_t handle) {
    static const char* F = "CVexaDevice::proDeviceOn";
    CConfigCenter* cfg = CConfigCenter::instance();
    const uint32_t keepAlive = clampU32(cfg->getInt("hb_time"));
    const uint32_t timeOutCount = clampU32(cfg->getInt("hb_fail"));
    const std::string id = deviceId();
    LOG_DEV(2, F, "[userHandle=%ld,deviceID=%s,devIp=%s,devPort=%d,KeepAliveSec=%d,TimeOutCount=%d]REGISTER and HEARTBEAT",
            static_cast<long>(handle), id.c_str(), address().c_str(), port(), static_cast<int>(keepAlive),
            static_cast<int>(timeOutCount));
    if (!VEXA_CMS_SetKeepAliveTime(handle, keepAlive, timeOutCount)) {
        LOG_DEV(4, F, "[errCode=%d]VEXA_CMS_SetKeepAliveTime failed.", static_cast<int>(VEXA_CMS_GetLastError()));
        return -1;
    }
    const std::string pto = regProtocol();
    if (pto == "VEXA") {
        ModelCommand cmd;
        cmd.kind = 3;
        cmd.domain = "EventSubscription";
        cmd.identifier = "AddEventSubscribeCfg";
        cmd.body = "{\"eventMode\":\"all\"}";
        std::string rsp;
        if (userHandle() != handle) return 0;  // abandoned: the session changed meanwhile
        const uint32_t rc = devConfigSync(rsp, handle, cmd, "global");
        // Without its subscription the device sends no model-command alarms: make it visible.
        if (rc != 0)
            LOG_DEV(4, F, "[deviceID=%s,userHandle=%ld,reason=0x%x]event subscription failed.", id.c_str(),
                    static_cast<long>(handle), rc);
        return 0;
    }
    if (pto != "aldonV5") return -1;

    ServerInfo svr;
    CVexaDeviceMgr::instance()->findDeviceSvrInfo(id, dasAddress(), svr);
    std::string doc;
    if (!alarmHostDocument(svr.alarmAddress, svr.alarmPort, doc)) {
        __pal_safec_error_handle(VEXA_SAFEC_SRC, __LINE__, F, "PAL_SPRINTF_S", PALSAFE_ETRUNC);
        LOG_DEV(5, F, "[byMethod=%d]config HttpHosts failed.", 1);
    } else if (userHandle() == handle) {  // abandoned when the session changed meanwhile
        std::string rsp;
        Json::Value status;
        const uint32_t rc = ovixConfig(rsp, kHttpHostsUrl, doc, 1);
        if (rc != 0)
            LOG_DEV(5, F, "[byMethod=%d]config HttpHosts failed.", 1);
        else if (parseOVIXResponseStatus(rsp, status) != 0)
            LOG_DEV(5, F, "[byMethod=%d,rsp=%s]config HttpHosts failed.", 1, vexa::logText(rsp).c_str());
        else
            LOG_DEV(3, F, "[deviceId=%s,addr=%s,port=%d]alarm server ok.", id.c_str(), svr.alarmAddress.c_str(),
                    svr.alarmPort);
    }
    if (svr.storagePort > 0 && deviceType() == "SecurityCP" && userHandle() == handle) {
        std::string rsp;
        Json::Value status;
        const bool fits = pictureServerDocument(svr.storageAddress, svr.storagePort, accessKey(), secretKey(), doc);
        if (!fits || ovixConfig(rsp, kPictureServerUrl, doc, 1) != 0 || parseOVIXResponseStatus(rsp, status) != 0)
            LOG_DEV(5, F, "config PictureServer failed.");
        else
            LOG_DEV(3, F, "[deviceId=%s,addr=%s,port=%d]picture server ok.", id.c_str(), svr.storageAddress.c_str(),
                    svr.storagePort);
    }
    return 0;
}

uint32_t CVexaDevice::resetPictureServer(const std::string& body) {
    static const char* F = "CVexaDevice::resetPictureServer";
    std::string ak = accessKey(), sk = secretKey();
    Json::Value root;
    if (vexa::parseJson(body, root)) {
        vexa::jsonString(root, "AK", ak);
        vexa::jsonString(root, "SK", sk);
    }
    ServerInfo svr;
    CVexaDeviceMgr::instance()->findDeviceSvrInfo(deviceId(), dasAddress(), svr);
    std::string doc, rsp;
    if (!pictureServerDocument(svr.storageAddress, svr.storagePort, ak, sk, doc)) {
        LOG_DEV(5, F, "config PictureServer failed.");
        return VEXA_RC_BAD_PARAMETERS;
    }
    uint32_t rc = ovixConfig(rsp, kPictureServerUrl, doc, 1);
    Json::Value status;
    // A device that refuses the setting answers with its status; that, not "ok", reaches the host.
    if (rc == 0) rc = parseOVIXResponseStatus(rsp, status);
    if (rc != 0)
        LOG_DEV(5, F, "config PictureServer failed.");
    else
        LOG_DEV(3, F, "picture server ok.[deviceId=%s, req=%s]", deviceId().c_str(), doc.c_str());
    return rc;
}

// ---------------------------------------------------------------------------------------------

uint32_t CVexaDevice::DeviceLoop(char* buf, uint32_t size) {
    static const char* F = "CVexaDevice::getDeviceBaseInfo";
    if (!buf || size == 0) return VEXA_RC_BAD_PARAMETERS;  // nowhere to write
    Json::Value info(Json::objectValue);
    uint32_t rc = 0;
    const std::string pto = regProtocol();
    const std::string type = deviceType();
    const int32_t handle = userHandle();
    const bool active = alarmActive();
    const uint32_t netZone = CConfigCenter::instance()->accessNetId();
    auto offline = [&] {
        info = Json::Value(Json::objectValue);
        info["devIndex"] = "";
        info["onlineStatus"] = connStatus() == 0;
    };
    if (pto == "aldonV5") {
        std::string xml;
        rc = ovixConfig(xml, "/OVIX/System/deviceInfo", "", 0);
        TiXmlDocument doc;
        const TiXmlElement* root = nullptr;
        if (rc == 0 && vexa::xmlSafeToParse(xml)) {
            doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
            root = doc.Error() ? nullptr : doc.RootElement();
        }
        if (!root || strcmp(root->Value(), "DeviceInfo") != 0) {
            if (rc == 0) rc = VEXA_RC_BAD_PARAMETERS;
            LOG_DEV(5, F, "GetDeviceInfo fail and device is offline.[DeviceID = %s]", deviceId().c_str());
            offline();
        } else {
            auto text = [root](const char* name) {
                const TiXmlElement* e = root->FirstChildElement(name);
                return std::string(e && e->GetText() ? e->GetText() : "");
            };
            info["devType"] = text("deviceType");
            info["devVersion"] = text("firmwareVersion");
            info["active"] = active;
            info["macAddress"] = text("macAddress");
            info["netZoneId"] = netZone;
            info["protocolType"] = "aldonV5";
            if (handle >= 0) {
                info["serialNo"] = serialNo();
                info["ipAddress"] = address();
                info["port"] = port();
                info["onlineStatus"] = connStatus() == 0;
            } else {
                LOG_DEV(4, F, "Device not online! [DeviceID = %s]", deviceId().c_str());
            }
            if (type == "SecurityCP" || type == "encodingDev") {
                for (const char* list : {"alarmInputs", "alarmOutputs", "videoInputs", "audioInputs", "sirens"}) {
                    const TiXmlElement* e = root->FirstChildElement(list);
                    if (e && e->GetText()) info[list] = PAL_Atoi32(e->GetText());
                }
            }
        }
    } else {
        ModelCommand cmd;
        cmd.kind = 1;
        cmd.domain = "InfoMgr";
        cmd.identifier = "DeviceDescription";
        std::string rsp;
        rc = devConfigSync(rsp, handle, cmd, "global");
        Json::Value desc;
        if (rc == 0 && !(vexa::parseJson(rsp, desc) && desc.isObject())) rc = VEXA_RC_INVALID_CONTENT;
        if (rc != 0) {
            LOG_DEV(5, F, "GetDeviceInfo fail and device is offline");
            offline();
        } else {
            info["active"] = active;
            info["netZoneId"] = netZone;
            info["protocolType"] = "VEXA";
            info["ipAddress"] = address();
            info["port"] = port();
            // The description's members, the panel's channel lists among them.
            for (const auto& name : desc.getMemberNames())
                if (!info.isMember(name)) info[name] = desc[name];
        }
    }
    const std::string text = vexa::writeJson(info);
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;  // the host chose the size
    memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return rc;
}
