// Device information of native device-API devices: the device's XML turned into the host's JSON.
#include <tinyxml.h>

#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/StatusList.h"
#include "gateway/VexaDeviceGateway.h"
#include "common/XmlBase.h"

const char* const kDeviceInfoMembers[kDeviceInfoMemberCount] = {
    "deviceName",     "deviceID",         "deviceDescription",    "systemContact",  "model",
    "serialNumber",   "macAddress",       "firmwareVersion",      "firmwareReleasedDate", "bootVersion",
    "bootReleasedDate", "hardwareVersion", "encoderVersion",      "encoderReleasedDate", "decoderVersion",
    "decoderReleasedDate", "softwareVersion", "deviceType",       "telecontrolID",  "operationSystem",
    "devType",
};

bool transDeviceInfoXml2Json(const std::string& xml, std::string& json) {
    CXmlBase doc;
    if (!doc.load(xml) || !doc.findElement("DeviceInfo")) return false;
    Json::Value info(Json::objectValue);
    for (const char* name : kDeviceInfoMembers) {
        std::string text;
        if (doc.childText(name, text)) info[name] = text;
    }
    Json::Value root(Json::objectValue);
    root["DeviceInfo"] = info;
    json = vexa::writeJson(root);
    return true;
}

uint32_t ovixGetDeviceInfo(DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::ovixGetDeviceInfo";
    std::string xml;
    const uint32_t rc = ch.ovix(xml, "/OVIX/System/deviceInfo", "", 0);
    if (rc != 0) {
        LOG_DEV(5, F, "ovixGetDeviceInfo failed");
        return rc;
    }
    if (!transDeviceInfoXml2Json(xml, response)) {
        response.clear();
        LOG_DEV(5, F, "[strOutputXml=%s] ovixGetDeviceInfo failed", vexa::logText(xml).c_str());
        return vexa::status::kBadParameters;
    }
    LOG_DEV(2, F, "ovixGetDeviceInfo succ");
    return 0;
}
