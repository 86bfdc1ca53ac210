#include "alarm/StorageAlarm.h"

#include <cstdlib>

#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/TimeConvert.h"
#include "device/VexaDevice.h"
#include "common/XmlBase.h"

namespace {

const char* const kStorageUrl = "/OVIX/ContentMgmt/Storage";
const char* const kExtensionUrl = "/OVIX/ContentMgmt/Storage/extension";
const uint8_t kGet = 0;
// The document is handed on as text of at most this size less one; longer ones are not cut.
const size_t kAlarmBuffer = 10240;

bool loopEnabledLogged(const CVexaDevice& dev, const std::string* answer) {
    if (!answer || !vexa::storageLoopEnableFromXml(*answer)) return false;
    LOG_DEV(2, "CVexaDevice::isStorageLoopEnable", "[deviceID=%s]storage loop is enable,not need send diskfull.",
            vexa::logText(dev.deviceId()).c_str());
    return true;
}

std::string reportFor(CVexaDevice& dev, vexa::StorageState state, bool raised) {
    if (state == vexa::kStorageUnknown) return std::string();
    dev.setHddAlarmRaised(raised);
    return state == vexa::kStorageNormal ? std::string() : buildHddAlarm(dev, state);
}

}  // namespace

namespace vexa {

StorageState storageStateFromXml(const std::string& answer, bool& hddAlarmRaised,
                                 const std::function<bool()>& loopEnabled) {
    CXmlBase xml;
    if (!xml.load(answer) || !xml.findElement("storage") || !xml.enterElement() || !xml.findSiblingElement("hddList") ||
        !xml.enterElement())
        return kStorageUnknown;
    double freeTotal = 0;
    bool counted = false;
    for (bool more = xml.findSiblingElement("hdd"); more; more = xml.nextElement("hdd")) {
        std::string status, freeSpace;
        const bool hasStatus = xml.childText("status", status);
        if (hasStatus && status != "ok" && status != "idle" && status != "notexist") {
            hddAlarmRaised = true;
            return kStorageError;
        }
        if (xml.childText("freeSpace", freeSpace) && !(hasStatus && status == "notexist")) {
            freeTotal += strtod(freeSpace.c_str(), nullptr);
            counted = true;
        }
    }
    if (counted && freeTotal <= 0 && !(loopEnabled && loopEnabled())) {
        hddAlarmRaised = true;
        return kStorageFull;
    }
    if (hddAlarmRaised) {
        hddAlarmRaised = false;
        return kStorageRecover;
    }
    return kStorageNormal;
}

bool storageLoopEnableFromXml(const std::string& answer) {
    CXmlBase xml;
    std::string text;
    return xml.load(answer) && xml.findElement("storageExtension") && xml.childText("LoopEnable", text) &&
           text == "true";
}

}  // namespace vexa

std::string checkStorageState(CVexaDevice& dev) {
    std::string answer;
    if (dev.ovixConfig(answer, kStorageUrl, std::string(), kGet) != 0) return std::string();
    bool raised = dev.hddAlarmRaised();
    const vexa::StorageState state =
        vexa::storageStateFromXml(answer, raised, [&dev] { return isStorageLoopEnable(dev); });
    return reportFor(dev, state, raised);
}

std::string checkStorageState(CVexaDevice& dev, const std::string& storageAnswer, const std::string* extensionAnswer) {
    bool raised = dev.hddAlarmRaised();
    const vexa::StorageState state = vexa::storageStateFromXml(
        storageAnswer, raised, [&dev, extensionAnswer] { return loopEnabledLogged(dev, extensionAnswer); });
    return reportFor(dev, state, raised);
}

bool isStorageLoopEnable(CVexaDevice& dev) {
    std::string answer;
    if (dev.ovixConfig(answer, kExtensionUrl, std::string(), kGet) != 0) return false;
    return loopEnabledLogged(dev, &answer);
}

std::string buildHddAlarm(const CVexaDevice& dev, int state) {
    const char* type = nullptr;
    switch (state) {
        case vexa::kStorageError:
            type = "diskerror";
            break;
        case vexa::kStorageFull:
            type = "diskfull";
            break;
        case vexa::kStorageRecover:
            type = "diskrecover";
            break;
        default:
            return std::string();
    }
    TiXmlDocument doc;
    TiXmlNode* root = doc.InsertEndChild(TiXmlElement("EventNotificationAlert"));
    if (!root) return std::string();
    auto add = [root](const char* name, const std::string& text) {
        TiXmlElement e(name);
        if (!text.empty()) e.InsertEndChild(TiXmlText(text));
        root->InsertEndChild(e);
    };
    add("channelID", "0");
    add("dateTime", getLocalJsonTime());
    add("eventType", type);
    add("eventState", "active");
    add("eventDescription", std::string(type) + " alarm");
    add("deviceID", dev.deviceId());
    add("channelName", std::string());
    TiXmlPrinter printer;
    doc.Accept(&printer);
    if (printer.Size() >= kAlarmBuffer) {
        LOG_DEV(4, "CVexaDevice::buildHddAlarm", "[deviceID=%s]storage alarm too long, not sent.",
                vexa::logText(dev.deviceId()).c_str());
        return std::string();
    }
    return printer.Str();
}
