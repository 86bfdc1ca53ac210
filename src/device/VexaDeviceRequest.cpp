// The request channel of a device: model commands (asynchronous send, synchronous wait),
// pass-through of device-API requests, FERRO commands, and reading a device-API status answer.
#include <tinyxml.h>

#include <cstring>
#include <strings.h>

#include "common/Bounded.h"
#include "common/ConfigCenter.h"
#include "device/Context.h"
#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/StatusCode.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "common/XmlLimits.h"
#include "palsafe.h"

namespace {

using vexa::copyField;

uint32_t waitMs() {
    const int64_t ms = CConfigCenter::instance()->reqWaitMs();
    return vexa::clampU32(ms);
}

std::string wrapBody(const ModelCommand& cmd) {
    switch (cmd.kind) {
        case 1: return "{}";
        case 2: return "{\r\n\"data\": {\r\n\"Value\": " + cmd.body + "}\r\n}";
        case 3: return "{\r\n\"data\":\r\n" + cmd.body + "}";
        default: return std::string();
    }
}

uint32_t configType(uint32_t kind) { return kind == 2 ? 1 : kind == 3 ? 2 : 0; }

const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE"};
constexpr size_t kMaxRequestLine = 255;  // the library's request-line field holds 255 characters

}  // namespace

uint32_t CVexaDevice::devConfigSync(std::string& response, int32_t userHandle, const ModelCommand& cmd,
                                    const std::string& target) {
    static const char* F = "CVexaDevice::devConfigSync";
    const std::string id = deviceId();
    if (destroyed()) {
        LOG_DEV(5, F, "[deviceID=%s]device is destory.", id.c_str());
        return VEXA_RC_DEVICE_GONE;
    }
    if (userHandle < 0) {
        LOG_DEV(5, F, "[userID=%ld,deviceID=%s]userID is invalid.", static_cast<long>(userHandle), id.c_str());
        return VEXA_RC_DEVICE_GONE;
    }
    const std::string body = wrapBody(cmd);
    if (body.size() >= kMaxBody) {
        LOG_DEV(5, F, "[userID=%d,deviceID=%s]devConfigSync failed. Req body too big.", userHandle, id.c_str());
        return VEXA_RC_BODY_TOO_BIG;
    }
    auto ctx = std::make_shared<CContext>(0, true);
    std::vector<char>& bodyBuf = ctx->answerBuffer();  // body and answer buffers live with the context
    bodyBuf.assign(body.begin(), body.end());
    bodyBuf.push_back('\0');

    VEXA_CMS_CONFIG_REQ rec;
    memset(&rec, 0, sizeof rec);
    copyField(rec.szTarget, sizeof rec.szTarget, target, 31, F);
    copyField(rec.szSubID, sizeof rec.szSubID, cmd.subId, 31, F);
    copyField(rec.szScope, sizeof rec.szScope, cmd.scope, 63, F);
    copyField(rec.szDomain, sizeof rec.szDomain, cmd.domain, 63, F);
    copyField(rec.szIdentifier, sizeof rec.szIdentifier, cmd.identifier, 63, F);
    rec.pBody = body.empty() ? nullptr : bodyBuf.data();
    rec.dwBodyLen = static_cast<uint32_t>(body.size());
    rec.pAnswer = nullptr;  // answers arrive through the asynchronous callback
    rec.dwAnswerSize = 0;
    const uint32_t type = configType(cmd.kind);
    if (!VEXA_CMS_ConfigDev(userHandle, type, &rec, VEXA_CMS_RECORD_MODEL)) {
        LOG_DEV(5, F, "[userID=%ld,deviceID=%s,configType=%d,topicInfo=%s/%s,errCode=%d]VEXA_CMS_ConfigDev failed.",
                static_cast<long>(userHandle), id.c_str(), static_cast<int>(type), cmd.domain.c_str(),
                cmd.identifier.c_str(), static_cast<int>(VEXA_CMS_GetLastError()));
        return VEXA_RC_SEND_FAILED;
    }
    const uint32_t seq = rec.dwAsyncHandle;
    if (RunLog_Enabled(2))
        LOG_DEV(2, F, "[userID=%ld,deviceID=%s,AsynHandle=%ld,configType=%d,topicInfo=%s/%s,req=%s,needRsp=%d]",
                static_cast<long>(userHandle), id.c_str(), static_cast<long>(seq), static_cast<int>(type),
                cmd.domain.c_str(), cmd.identifier.c_str(), vexa::logText(body).c_str(), 1);
    std::shared_ptr<CContext> wait;
    try {
        wait = std::make_shared<CContext>(seq, true, CVexaDeviceMgr::instance()->clock());
    } catch (const std::bad_alloc&) {
        LOG_DEV(5, F, "make_shared falied[%d]", PAL_GetSystemLastError());
        return VEXA_RC_NO_CONTEXT;
    }
    wait->answerBuffer().swap(bodyBuf);
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    mgr->addContext(seq, wait);
    const uint32_t rc = wait->Wait(waitMs());
    if (rc != 0) {
        LOG_DEV(5, F, "[userID=%ld,deviceID=%s,AsynHandle=%ld,configType=%d,topicInfo=%s/%s]wait timeout.",
                static_cast<long>(userHandle), id.c_str(), static_cast<long>(seq), static_cast<int>(type),
                cmd.domain.c_str(), cmd.identifier.c_str());
    } else {
        response = wait->response();
    }
    mgr->removeContext(seq, wait.get());
    if (rc != 0) return rc;
    return covertVexaRsp(response);
}

uint32_t CVexaDevice::covertVexaRsp(std::string& response) {
    static const char* F = "CVexaDevice::covertVexaRsp";
    Json::Value root;
    // An answer larger than the answer buffer, one that is not JSON, or a "status" that is not an
    // integer is malformed: never success.
    const Json::Value* status = nullptr;
    if (response.size() > kMaxBody || !vexa::parseJson(response, root) ||
        ((status = vexa::jsonMember(root, "status")) &&
         !(status->isInt() && (status->type() == Json::intValue || status->type() == Json::uintValue)))) {
        LOG_DEV(5, F, "[rsp=%s]VEXA_CMS_ConfigDev failed.", vexa::logText(response).c_str());
        return VEXA_RC_INVALID_CONTENT;
    }
    if (status) {
        if (status->asInt() != 200) {
            LOG_DEV(5, F, "[rsp=%s]VEXA_CMS_ConfigDev failed.", vexa::logText(response).c_str());
            std::string code;
            if (vexa::jsonString(root, "code", code)) return mapVexaErrorCode(code);
            switch (status->asInt()) {
                case 400: return vexa::status::kBadParameters;
                case 403: return vexa::status::kLowPrivilege;
                case 404: return vexa::status::kNotSupport;
                case 500: return vexa::status::kDeviceError;
                default: return vexa::status::kFailed;
            }
        }
    }
    if (const Json::Value* data = vexa::jsonMember(root, "data")) {
        const Json::Value* value = vexa::jsonMember(*data, "Value");
        response = vexa::writeJson(value ? *value : *data);
    }
    return 0;
}

uint32_t CVexaDevice::mapVexaErrorCode(const std::string& code) {
    static const struct {
        const char* text;
        uint32_t status;
    } kCodes[] = {
        {"0x01400015", vexa::status::kSystemIsArmed},        {"0x01400016", vexa::status::kArmingFailed},
        {"0x01400017", vexa::status::kDisarmingFailed},      {"0x01400018", vexa::status::kSilencingAlarmFailed},
        {"0x01400019", vexa::status::kDetectorInFault},      {"0x0140001a", vexa::status::kAreaDisabled},
        {"0x0140001c", vexa::status::kDetectorInTestMode},   {"0x0140001e", vexa::status::kDeviceAlarming},
        {"0x01400020", vexa::status::kFindMeProcess},        {"0x01400021", vexa::status::kDetectorNameExists},
        {"0x01400022", vexa::status::kAreaNameExists},       {"0x01400023", vexa::status::kPeripheralNameExists},
        {"0x0140002c", vexa::status::kNoOperationWhileArming}, {"0x00200005", vexa::status::kLowPrivilege},
    };
    // A row matches when the device's code occurs, ignoring case, inside the row's text.
    if (code.find('\0') == std::string::npos)
        for (const auto& c : kCodes)
            if (strcasestr(c.text, code.c_str())) return c.status;
    return vexa::status::kUnknownErrorCode;
}

uint32_t CVexaDevice::ovixConfig(std::string& response, const std::string& url, const std::string& body,
                                 uint8_t method) {
    static const char* F = "CVexaDevice::ovixConfig";
    if (url.empty() || method > 3) {
        LOG_DEV(5, F, "[strUrl=%s,byMethod=%d]param is wrong", url.c_str(), method);
        return vexa::status::kFailed;
    }
    if (destroyed()) {
        LOG_DEV(5, F, "device is destory.");
        return VEXA_RC_DEVICE_GONE;
    }
    const int32_t handle = userHandle();
    if (handle == -1 || handle < 0) {
        LOG_DEV(5, F, "lUserHandle is err.");
        return VEXA_RC_DEVICE_GONE;
    }
    response.clear();
    const std::string line = std::string(kMethods[method]) + " " + url;
    if (line.size() > kMaxRequestLine) {  // never sent cut
        LOG_DEV(5, F, "[strUrl=%s,byMethod=%d]request line too long.", vexa::logText(url).c_str(), method);
        return VEXA_RC_BAD_PARAMETERS;
    }
    if (url == "/OVIX/System/Network/FERRO/heartbeat?format=json" &&
        CConfigCenter::instance()->getInt("HeartbeatEnable") != 1) {
        LOG_DEV(4, F, "SetHeartBeatEnable is not Support!");
        return vexa::status::kFailed;
    }
    if (body.size() >= kMaxBody) {  // nothing is cut silently
        LOG_DEV(5, F, "[inputLen=%d]input len is error.", static_cast<int>(body.size()));
        return vexa::status::kFailed;
    }
    std::vector<char> out(kMaxBody);
    VEXA_CMS_PASSTHROUGH rec;
    memset(&rec, 0, sizeof rec);
    rec.pUrl = line.c_str();
    rec.dwUrlLen = static_cast<uint32_t>(line.size());
    rec.pBody = body.empty() ? nullptr : body.data();
    rec.dwBodyLen = static_cast<uint32_t>(body.size());
    rec.pOutput = out.data();
    rec.dwOutputSize = static_cast<uint32_t>(out.size());
    rec.dwSendTimeOut = CConfigCenter::instance()->passThroughTimeoutMs();
    if (!VEXA_CMS_OVIXPassThrough(handle, &rec)) {
        LOG_DEV(5, F, "[UserId=%ld,url=%s,req=%s]VEXA_CMS_OVIXPassThrough fail[%d]", static_cast<long>(handle),
                vexa::logText(url).c_str(), vexa::logText(body).c_str(), static_cast<int>(VEXA_CMS_GetLastError()));
        return vexa::status::kFailed;
    }
    const size_t n = rec.dwOutputSize <= out.size() ? rec.dwOutputSize : out.size();
    if (url.find("/OVIX/SecurityCP/status/zones") != std::string::npos ||
        url.find("/OVIX/ContentMgmt/InputProxy/channels") != std::string::npos)
        response.assign(out.data(), n);
    else
        PAL_Utf8ToLocal(out.data(), n, response);  // into its own string, never past the buffer
    return 0;
}

uint32_t CVexaDevice::ferroConfig(std::string& response, const std::string& command, const std::string& body) {
    static const char* F = "CVexaDevice::ferroConfig";
    const std::string id = deviceId();
    if (destroyed()) {
        LOG_DEV(5, F, "device is destory.");
        return VEXA_RC_DEVICE_GONE;
    }
    const int32_t handle = userHandle();
    if (handle < 0) {
        LOG_DEV(5, F, "lUserHandle is err.");
        return VEXA_RC_DEVICE_GONE;
    }
    if (body.size() >= kMaxBody) {
        LOG_DEV(5, F, "[inputLen=%d]input len is error.", static_cast<int>(body.size()));
        return vexa::status::kFailed;
    }
    std::vector<char> bodyBuf(body.begin(), body.end());
    bodyBuf.push_back('\0');
    VEXA_CMS_FERRO_REQ rec;
    memset(&rec, 0, sizeof rec);
    rec.pCommand = command.c_str();
    rec.dwCommandLen = static_cast<uint32_t>(command.size());
    rec.pBody = body.empty() ? nullptr : bodyBuf.data();
    rec.dwBodyLen = static_cast<uint32_t>(body.size());
    rec.dwSendTimeOut = 10000;
    rec.dwRecvTimeOut = 120000;
    if (!VEXA_CMS_ConfigDev(handle, VEXA_CMS_CONFIG_DATA, &rec, VEXA_CMS_RECORD_FERRO)) {
        LOG_DEV(5, F, "VEXA_CMS_ConfigDev fail, ErrCode=%d, pCmdBuf: %s.", static_cast<int>(VEXA_CMS_GetLastError()),
                command.c_str());
        return VEXA_RC_SEND_FAILED;
    }
    const uint32_t seq = rec.dwAsyncHandle;
    auto wait = std::make_shared<CContext>(seq, true, CVexaDeviceMgr::instance()->clock());
    wait->answerBuffer().swap(bodyBuf);
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    mgr->addContext(seq, wait);
    const uint32_t rc = wait->Wait(waitMs());
    mgr->removeContext(seq, wait.get());
    if (rc != 0) {
        LOG_DEV(5, F, "[userID=%ld,deviceID=%s,AsynHandle=%ld,strCmd=%s]wait timeout.", static_cast<long>(handle),
                id.c_str(), static_cast<long>(seq), command.c_str());
        return rc;
    }
    response = wait->response();
    LOG_DEV(2, F, "[UserId=%ld,req=%s,rsp=%s]VEXA_CMS_ConfigDev.", static_cast<long>(handle),
            vexa::logText(body).c_str(), vexa::logText(response).c_str());
    return 0;
}

uint32_t CVexaDevice::parseOVIXResponseStatus(const std::string& xml, Json::Value& status) {
    static const char* F = "CVexaDevice::parseOVIXResponseStatus";
    std::string value;
    const size_t first = xml.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && xml[first] == '{') {
        // Requests with "format=json" are answered with the same status as a JSON object.
        Json::Value doc;
        int32_t code = 0;
        if (!vexa::parseJson(xml, doc) || !vexa::jsonInt32(doc, "statusCode", code)) {
            LOG_DEV(5, F, "%s", "json param statusCode is illegal");
            return VEXA_RC_BAD_PARAMETERS;
        }
        value = std::to_string(code);
    } else {
        TiXmlDocument doc;
        const TiXmlElement* root = nullptr;
        if (vexa::xmlSafeToParse(xml)) {
            doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
            if (!doc.Error()) root = doc.RootElement();
        }
        if (!root) {
            LOG_DEV(5, F, "%s", "xml root get failed");
            return VEXA_RC_BAD_PARAMETERS;
        }
        const TiXmlElement* code = root->FirstChildElement("statusCode");
        if (!code) {
            LOG_DEV(5, F, "%s", "xml param statusCode is illegal");
            return VEXA_RC_BAD_PARAMETERS;
        }
        const char* text = code->GetText();
        value = text ? text : "";
    }
    if (value == "1" || value == "0") return 0;
    LOG_DEV(4, F, "%s", vexa::logText(xml).c_str());
    const uint32_t n = static_cast<uint32_t>(PAL_Atoi32(value.c_str()));
    const uint32_t result = (n << 28) + 1;  // unsigned: wraps, never undefined
    uint32_t http = 0;
    status = Json::Value(Json::objectValue);
    if (!buildStatusDocument(result, status, http)) buildStatusDocument(vexa::status::kUnknownErrorCode, status, http);
    return result;
}
