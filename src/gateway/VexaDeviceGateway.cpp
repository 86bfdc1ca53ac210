// Device-API dispatcher. The routing tables are data: rows are tried in order, the first whose
// path, method and query-flag tests hold takes the request.
#include "gateway/VexaDeviceGateway.h"

#include <cstdlib>
#include <exception>

#include "gateway/IntercomCapability.h"
#include "common/Bounded.h"
#include "common/JsonUtil.h"
#include "common/LogLimit.h"
#include "common/Log.h"
#include "gateway/SecurityControl.h"
#include "common/StatusCode.h"
#include "gateway/UrlMatch.h"

namespace {

const char* const F = "CVexaDevice::OVIX_Getway";

constexpr int32_t kNoHandler = -1;
using vexa::status::kBadParameters;
using vexa::status::kInvalidContent;
using vexa::status::kInvalidOperation;
using vexa::status::kNetworkError;
using vexa::status::kNotSupport;

// One host request while it is being served.
struct GatewayRequest {
    CVexaDevice& dev;
    DeviceChannel& ch;
    std::string method;
    std::string uri;
    std::string path;
    std::string body;
    bool json = false;  // "format=json" somewhere in the uri
    std::string response;
};

using Handler = int32_t (*)(GatewayRequest&);

int32_t rc32(uint32_t v) { return static_cast<int32_t>(v); }

// ---- VEXA table ------------------------------------------------------------------------------

enum class PathTest { Exact, Ignore };

struct VexaRoute {
    PathTest test;
    const char* paths[3];
    const char* method;
    bool needJson;
    Handler handler;
};

const VexaRoute kVexaRoutes[] = {
    {PathTest::Exact, {"/OVIX/System/time"}, "GET", true,
     [](GatewayRequest& r) { return rc32(getLocalTime(r.ch, r.response)); }},
    {PathTest::Exact, {"/OVIX/System/reboot"}, "PUT", true,
     [](GatewayRequest& r) { return rc32(rebootSystem(r.ch, r.response)); }},
    {PathTest::Ignore,
     {"/OVIX/SecurityCP/control/arm/IGNORE", "/OVIX/SecurityCP/control/disarm/IGNORE",
      "/OVIX/SecurityCP/control/clearAlarm/IGNORE"},
     "PUT", true, [](GatewayRequest& r) { return rc32(setSubSystem(r.ch, r.response, r.uri)); }},
    {PathTest::Exact,
     {"/OVIX/SecurityCP/control/arm", "/OVIX/SecurityCP/control/disarm", "/OVIX/SecurityCP/control/clearAlarm"},
     "PUT", true, [](GatewayRequest& r) { return rc32(setSubSystemList(r.ch, r.response, r.uri, r.body)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/control/faultArmConfirm"}, "PUT", true,
     [](GatewayRequest& r) { return rc32(setFaultArmConfirm(r.ch, r.response, r.body)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/status/subSystems"}, "GET", true,
     [](GatewayRequest& r) { return rc32(getSubSystemStatus(r.ch, r.response)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/control/searchSubSystemArmStatus"}, "POST", true,
     [](GatewayRequest& r) { return rc32(searchSubSystemArmStatus(r.ch, r.response, r.body)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/control/deactivation"}, "PUT", true,
     [](GatewayRequest& r) { return rc32(setZoneDeactivation(r.ch, r.response, r.body)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/status/zones"}, "POST", true,
     [](GatewayRequest& r) { return rc32(searchZoneStatus(r.ch, r.response, r.body)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/control/outputs"}, "POST", false,
     [](GatewayRequest& r) { return rc32(ctrlOutputs(r.ch, r.response, r.body)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/status/exDevStatus"}, "GET", false,
     [](GatewayRequest& r) { return rc32(getExDevStatus(r.ch, r.response)); }},
    {PathTest::Exact, {"/OVIX/System/deviceInfo"}, "GET", false,
     [](GatewayRequest& r) { return rc32(getVexaDeviceInfo(r.dev, r.ch, r.response)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/TwoWayAudio/paramCfg"}, "GET", false,
     [](GatewayRequest& r) { return rc32(getHostIntercomParam(r.ch, r.response)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/Configuration/capabilities"}, "GET", false,
     [](GatewayRequest& r) { return rc32(getConfigurationCap(r.ch, r.response)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/TwoWayAudio/mode"}, "PUT", false,
     [](GatewayRequest& r) { return rc32(ctrlHostIntercomMode(r.ch, r.response, r.body)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/Configuration/wirelessSiren"}, "POST", false,
     [](GatewayRequest& r) { return rc32(searchSirenIntercomParam(r.ch, r.response, r.body)); }},
    {PathTest::Exact, {"/OVIX/SecurityCP/Configuration/EventMessageSupportInfo"}, "GET", false,
     [](GatewayRequest& r) { return rc32(getEventMessageSupportInfo(r.ch, r.response)); }},
};

bool pathMatches(const VexaRoute& row, const GatewayRequest& r) {
    for (const char* p : row.paths) {
        if (!p) break;
        if (row.test == PathTest::Exact ? matchUrl(r.uri, p, 0) : matchUrlIgnore(r.path, p)) return true;
    }
    return false;
}

int32_t routeVexa(GatewayRequest& r) {
    for (const VexaRoute& row : kVexaRoutes)
        if (pathMatches(row, r) && r.method == row.method && (!row.needJson || r.json)) return row.handler(r);
    LOG_DEV(5, F, "[method=%s,url=%s]wrong http req: ", vexa::logText(r.method).c_str(), vexa::logText(r.uri).c_str());
    return rc32(kNotSupport);
}

// ---- aldonV5 table ---------------------------------------------------------------------------

// What a row does with a method it does not list.
enum class OtherMethod { NextRow, NotSupport, BadParameters, NoSupportUrl };

struct AldonRoute {
    const char* pattern;
    int nArgs;
    Handler precheck;  // runs once path and query flag hold; non-zero ends the walk with it
    const char* methods[2];
    Handler handlers[2];
    OtherMethod other;
};

// Interface number of rows 3 and 4 (the path already matched, so the number is well formed).
int32_t interfaceNumberCheck(GatewayRequest& r) {
    static const char kPrefix[] = "/OVIX/System/Network/interfaces/";
    long n = -1;
    if (r.path.compare(0, sizeof kPrefix - 1, kPrefix) == 0) n = std::strtol(r.path.c_str() + sizeof kPrefix - 1, nullptr, 10);
    if (n < 1) {
        LOG_DEV(5, F, "wrong Uri: %s", vexa::logText(r.uri).c_str());
        return rc32(kBadParameters);
    }
    return 0;
}

int32_t searchRecords(GatewayRequest& r) {
    Json::Value doc;
    const Json::Value* media = nullptr;
    if (vexa::parseJson(r.body, doc) && doc.isObject()) media = vexa::jsonMember(doc, "mediaInfo");
    if (!media) {
        LOG_DEV(5, F, "wrong mediaInfo");
        return rc32(kBadParameters);
    }
    return rc32(ovixSearchRecords(r.dev, r.ch, r.uri, r.body, *media, r.response));
}

int32_t plainGet(GatewayRequest& r) { return rc32(r.ch.ovix(r.response, r.path, "", 0)); }

const AldonRoute kAldonRoutes[] = {
    {"/OVIX/System/deviceInfo", 0, nullptr, {"PUT", "GET"},
     {[](GatewayRequest& r) { return rc32(ovixPutDeviceInfo(r.ch, r.body, r.response)); },
      [](GatewayRequest& r) { return rc32(ovixGetDeviceInfo(r.ch, r.response)); }},
     OtherMethod::NotSupport},
    {"/OVIX/System/Network/interfaces", 0, nullptr, {"GET"},
     {[](GatewayRequest& r) { return rc32(ovixGetNetworkInterfaceList(r.ch, r.response)); }},
     OtherMethod::NotSupport},
    {"/OVIX/System/Network/interfaces/%d", 1, interfaceNumberCheck, {"GET", "PUT"},
     {[](GatewayRequest& r) { return rc32(ovixGetNetworkInterface(r.ch, r.path, r.response)); },
      [](GatewayRequest& r) { return rc32(ovixPutNetworkInterface(r.ch, r.path, r.body, r.response)); }},
     OtherMethod::NotSupport},
    {"/OVIX/System/Network/interfaces/%d/ipAddress", 1, interfaceNumberCheck, {"GET", "PUT"},
     {[](GatewayRequest& r) { return rc32(ovixGetIPAddress(r.ch, r.path, r.response)); },
      [](GatewayRequest& r) { return rc32(ovixPutIPAddress(r.ch, r.path, r.body, r.response)); }},
     OtherMethod::NotSupport},
    {"/OVIX/System/reset/PictureServer", 0, nullptr, {"PUT"},
     {[](GatewayRequest& r) { return rc32(r.ch.resetPictureServer(r.body)); }}, OtherMethod::NotSupport},
    {"/OVIX/System/time", 0, nullptr, {"GET", "PUT"},
     {[](GatewayRequest& r) {
          int32_t result = kNoHandler;
          ovixGetTimeMngParam(r.ch, result, r.response);
          return result;
      },
      [](GatewayRequest& r) {
          int32_t result = kNoHandler;
          ovixSetTimeMngParam(r.ch, result, r.body, r.response);
          return result;
      }},
     OtherMethod::NotSupport},
    {"/OVIX/ContentMgmt/search", 0, nullptr, {"POST"}, {searchRecords}, OtherMethod::BadParameters},
    {"/OVIX/ContentMgmt/download/capabilities", 0, nullptr, {"GET"},
     {[](GatewayRequest& r) { return rc32(GetDownloadCap(r.ch, r.response)); }}, OtherMethod::BadParameters},
    {"/OVIX/System/IO/inputs", 0, nullptr, {"GET"}, {plainGet}, OtherMethod::NextRow},
    {"/OVIX/System/Video/inputs/channels", 0, nullptr, {"GET"},
     {[](GatewayRequest& r) { return rc32(ovixGetVideoInputChannelList(r.ch, r.response)); }},
     OtherMethod::NoSupportUrl},
    {"/OVIX/System/Audio/channels", 0, nullptr, {"GET"}, {plainGet}, OtherMethod::NextRow},
};

int32_t passThrough(GatewayRequest& r) {
    std::string url;
    if (!eraseUrlParam(r.uri, url, "devIndex")) {
        LOG_DEV(5, F, "wrong url %s", vexa::logText(r.uri).c_str());
        return rc32(kBadParameters);
    }
    const int method = getHttpMethodType(r.method);
    if (method < 0) {
        LOG_DEV(5, F, "wrong http method: %s", vexa::logText(r.method).c_str());
        return rc32(kBadParameters);
    }
    const uint32_t rc = r.ch.ovix(r.response, url, r.body, static_cast<uint8_t>(method));
    if (rc == 0) LOG_DEV(3, F, "SendHttp succ [url = %s]", vexa::logText(r.uri).c_str());
    return rc32(rc);
}

int32_t routeAldon(GatewayRequest& r) {
    const int32_t pre = procDevFERROCfg(r.dev, r.ch, r.uri, r.method, r.body, r.response);
    if (pre != kNoHandler) return pre;
    for (const AldonRoute& row : kAldonRoutes) {
        if (!matchUrl(r.uri, row.pattern, row.nArgs) || !r.json) continue;
        if (row.precheck)
            if (const int32_t rc = row.precheck(r)) return rc;
        for (int i = 0; i < 2; ++i)
            if (row.methods[i] && r.method == row.methods[i]) return row.handlers[i](r);
        switch (row.other) {
            case OtherMethod::NextRow: continue;
            case OtherMethod::NotSupport:
                LOG_DEV(5, F, "wrong http method: %s", vexa::logText(r.method).c_str());
                return rc32(kNotSupport);
            case OtherMethod::BadParameters:
                LOG_DEV(5, F, "wrong http method: %s", vexa::logText(r.method).c_str());
                return rc32(kBadParameters);
            case OtherMethod::NoSupportUrl:
                LOG_DEV(5, F, "no support url:%s, method:%s", vexa::logText(r.uri).c_str(),
                        vexa::logText(r.method).c_str());
                return rc32(kNotSupport);
        }
    }
    return passThrough(r);
}

// ---- envelope and answer ---------------------------------------------------------------------

// Reads the host's envelope; false for every shape the dispatcher does not accept.
bool readEnvelope(const char* text, std::string& method, std::string& uri, std::string& body) {
    if (!text) return false;
    std::string s(text);
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return false;
    s = s.substr(b, s.find_last_not_of(' ') - b + 1);
    if (s[0] != '{') return false;
    Json::Value root;
    if (!vexa::parseJson(s, root) || !root.isObject()) return false;
    const Json::Value* m = vexa::jsonMember(root, "method");
    const Json::Value* u = vexa::jsonMember(root, "uri");
    const Json::Value* d = vexa::jsonMember(root, "body");
    // A method of another scalar type is read as its text and then simply matches no route.
    if (!m || m->isNull() || m->isArray() || m->isObject() || !u || !u->isString() || !d || !d->isString())
        return false;
    method = m->asString();
    uri = u->asString();
    body = d->asString();
    return true;
}

int32_t dispatch(CVexaDevice& dev, DeviceChannel& ch, const char* szConfigJson, std::string& response) {
    GatewayRequest r{dev, ch, {}, {}, {}, {}, false, {}};
    if (!readEnvelope(szConfigJson, r.method, r.uri, r.body)) {
        LOG_DEV(5, F, "szConfigJson format is wrong");
        return rc32(kBadParameters);
    }
    r.path = urlPath(r.uri);
    r.json = isJsonFormat(r.uri);
    int32_t result = kNoHandler;
    try {
        if (r.path.empty()) {
            // no route without a query
        } else if (matchUrl(r.uri, "/OVIX/ContentMgmt/DeviceMgmt/alarmParams", 0) && r.method == "PUT" && r.json) {
            result = rc32(setAlarmParams(dev, r.body));  // served while offline too
        } else if (dev.userHandle() < 0) {
            LOG_DEV(5, F, "Dev %s is not online!", dev.deviceId().c_str());
            result = rc32(kNetworkError);
        } else {
            const std::string pto = dev.regProtocol();
            if (pto == "VEXA") {
                result = routeVexa(r);
            } else if (pto == "aldonV5") {
                result = routeAldon(r);
            } else {
                LOG_DEV(5, F, "[devicePto=%s]unknown device pto ", pto.c_str());
                result = rc32(kNotSupport);
            }
        }
    } catch (...) {
        LOG_DEV(5, F, "OVIX_Gateway exception");
        result = rc32(kBadParameters);
    }
    response.swap(r.response);
    return result;
}

}  // namespace

uint32_t setAlarmParams(CVexaDevice& dev, const std::string& body) {
    static const char* FN = "CVexaDevice::setAlarmParams";
    Json::Value root;
    if (!vexa::parseJson(body, root)) {
        LOG_DEV(5, FN, "body is not json");
        return kInvalidContent;
    }
    std::string account, active;
    if (!root.isObject() || !vexa::jsonString(root, "accountID", account) ||
        !vexa::jsonString(root, "activeStatus", active)) {
        LOG_DEV(5, FN, "accountID or activeStatus missing");
        return kBadParameters;
    }
    dev.setAlarmAccountId(account);
    dev.setAlarmActive(active == "active");
    return 0;
}

int32_t procDevFERROCfg(CVexaDevice& dev, DeviceChannel& ch, const std::string& uri, const std::string& method,
                        const std::string& body, std::string& response) {
    static const char* FN = "CVexaDevice::procDevFERROCfg";
    if (!isJsonFormat(uri)) {
        LOG_DEV(3, FN, "uri is not json formart: %s", vexa::logText(uri).c_str());
        return kNoHandler;
    }
    const std::string path = uri.substr(0, uri.find('?'));
    if (path == "/OVIX/System/reboot") {
        if (method == "PUT") return rc32(RebootDev(dev, ch, response));
        LOG_DEV(5, FN, "wrong http method: %s", vexa::logText(method).c_str());
        return rc32(kNotSupport);
    }
    if (path == "/OVIX/System/upgradeAldon") {
        if (method == "PUT") return rc32(UpgradeDev(dev, ch, body, response));
        LOG_DEV(5, FN, "wrong http method: %s", vexa::logText(method).c_str());
        return rc32(kBadParameters);
    }
    return kNoHandler;
}

uint32_t ovixGateway(CVexaDevice& dev, DeviceChannel& ch, const char* szConfigJson, char* szRspBuf,
                     uint32_t nRspBufLen) {
    std::string response;
    try {
        int32_t result = dispatch(dev, ch, szConfigJson, response);
        if (response.empty()) {
            const uint32_t code = result == 0 ? 1u : static_cast<uint32_t>(result);
            response = statusDocumentText(code);
            if (response.empty()) response = statusDocumentText(kInvalidOperation);
            LOG_DEV(2, F, "rsp: %s", vexa::logText(response).c_str());
        }
    } catch (...) {
        // Only allocation can fail here; answer with what can still be built.
        try {
            LOG_DEV(5, F, "OVIX_Gateway exception");
            response = statusDocumentText(kBadParameters);
        } catch (...) {
            response.clear();
        }
    }
    if (!szRspBuf || nRspBufLen == 0) return 0;
    vexa::copyField(szRspBuf, nRspBufLen, response, nRspBufLen - 1, F);
    return 0;
}

uint32_t CVexaDevice::OVIX_Getway(const char* szConfigJson, char* szRspBuf, uint32_t nRspBufLen) {
    DeviceChannelImpl ch(*this);
    return ovixGateway(*this, ch, szConfigJson, szRspBuf, nRspBufLen);
}
