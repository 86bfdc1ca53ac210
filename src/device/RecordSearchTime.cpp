#include "device/RecordSearchTime.h"

#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/StatusList.h"
#include "common/TimeConvert.h"
#include "common/XmlCursor.h"

namespace {

const char* const kReqFunc = "CVexaDevice::covertSearchReqTimeByDevCap";
const char* const kRspFunc = "CVexaDevice::covertSerachRspTimeByDevCap";
constexpr uint32_t kBadParameters = vexa::status::kBadParameters;

vexa::LogGate& gate() {
    static vexa::LogGate g;
    return g;
}

// A device answer opened at the children of its first element; a malformed answer has none.
bool openRoot(CXmlCursor& doc, const std::string& answer) {
    if (!doc.setDocument(answer)) return false;
    return doc.findElement() && doc.enterElement();
}

bool childText(CXmlCursor& doc, const char* name, std::string& text) {
    if (!doc.findElementWrap(name)) return false;
    text = doc.elementText();
    return true;
}

// One device answer read for a child of its first element. 0 and found; 0 and not found (only
// when the request failed or the child is missing); 0x60000001 for an answer without an element.
uint32_t askChild(const DeviceGet& get, const std::string& deviceId, const char* url, const char* name,
                  bool& answered, bool& found, std::string& text) {
    std::string answer;
    answered = get(answer, url) == 0;
    found = false;
    if (!answered) return 0;
    CXmlCursor doc;
    if (!openRoot(doc, answer)) {
        if (gate().allow(deviceId)) LOG_DEV(5, kReqFunc, "xml root get failed");
        return kBadParameters;
    }
    found = childText(doc, name, text);
    return 0;
}

bool searchesLocal(const std::string& type) {
    return type == "DVR" || type == "HybirdNVR" || type == "NVR" || type == "DVS";
}

}  // namespace

uint32_t covertSearchReqTimeByDevCap(const DeviceGet& get, const std::string& deviceId, SearchContext& ctx,
                                     std::string& start, std::string& end) {
    bool answered = false, found = false;
    std::string text;
    if (uint32_t rc = askChild(get, deviceId, "/OVIX/System/capabilities", "isSupportTimeTypeSTD", answered, found, text))
        return rc;
    if (answered && !found && gate().allow(deviceId)) LOG_DEV(3, kReqFunc, "xml param isSupportTimeTypeSTD not find");
    if (found) ctx.supportsSTD = text == "true" ? 1 : 0;
    if (ctx.supportsSTD) return 0;

    std::string type;
    if (uint32_t rc = askChild(get, deviceId, "/OVIX/System/deviceInfo", "deviceType", answered, found, type)) return rc;
    if (answered && !found) {
        if (gate().allow(deviceId)) LOG_DEV(5, kReqFunc, "xml param deviceType is illegal");
        return kBadParameters;
    }
    if (!searchesLocal(type)) return 0;

    // Without a usable device time the gateway machine's offset stands in.
    int zone = kMachineZoneIdx;
    std::string local;
    if (uint32_t rc = askChild(get, deviceId, "/OVIX/System/time", "localTime", answered, found, local)) return rc;
    if (answered && !found) {
        if (gate().allow(deviceId)) LOG_DEV(5, kReqFunc, "xml param localTime is illegal");
        return kBadParameters;
    }
    std::string uplink;
    if (found && ConvertJsonTimeToAldonTime(local, zone, uplink) != 0 && gate().allow(deviceId))
        LOG_DEV(4, kReqFunc, "[localTime=%s]device zone unknown, gateway offset used", vexa::logText(local).c_str());

    std::string localStart, localEnd;
    if (ConvertUtcToLocalJsonTime(start, zone, localStart) != 0 || ConvertUtcToLocalJsonTime(end, zone, localEnd) != 0) {
        if (gate().allow(deviceId))
            LOG_DEV(5, kReqFunc, "[start=%s,stop=%s]search time cannot be converted", vexa::logText(start).c_str(),
                    vexa::logText(end).c_str());
        return kBadParameters;
    }
    LOG_DEV(2, kReqFunc, "converUTCTo8601Time utc[start=%s,stop=%s],local[start=%s,stop=%s],iTimeZone[%d]",
            start.c_str(), end.c_str(), localStart.c_str(), localEnd.c_str(), zone);
    start = localStart;
    end = localEnd;
    ctx.needsConversion = 1;
    ctx.timeZoneIdx = zone;
    return 0;
}

int covertSerachRspTimeByDevCap(std::string& start, std::string& end, const SearchContext& ctx) {
    if (!ctx.needsConversion) return 0;
    std::string utcStart, utcEnd;
    if (ConvertLocalToUtcJsonTime(start.substr(0, 19), ctx.timeZoneIdx, utcStart) != 0 ||
        ConvertLocalToUtcJsonTime(end.substr(0, 19), ctx.timeZoneIdx, utcEnd) != 0)
        return -1;
    LOG_DEV(2, kRspFunc, "conver8601ToUTCTime local[start=%s,stop=%s],utc[start=%s,stop=%s],iTimeZone[%d]",
            vexa::logText(start).c_str(), vexa::logText(end).c_str(), utcStart.c_str(), utcEnd.c_str(),
            ctx.timeZoneIdx);
    start = utcStart;
    end = utcEnd;
    return 0;
}
