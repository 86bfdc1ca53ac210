#include "gateway/SecurityControl.h"

#include <cstdint>

#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/StatusList.h"
#include "gateway/UrlMatch.h"

const char* const kSubSystemSearchId = "c69915d579ff4d8ca7b55ffa22a91521";

namespace {

using vexa::status::kBadParameters;
using vexa::status::kInvalidContent;

struct Control {
    const char* prefix;  // path up to and including the control word
    const char* identifier;
    bool arm;
};

const Control kControls[] = {
    {"/OVIX/SecurityCP/control/arm", "CtrlSubSystemArmList", true},
    {"/OVIX/SecurityCP/control/disarm", "CtrlSubSystemDisarmList", false},
    {"/OVIX/SecurityCP/control/clearAlarm", "CtrlSubSystemClearAlarmList", false},
};

// The control named by the path (never by text in the query, which the host may fill freely).
const Control* controlOf(const std::string& path, bool withSegment) {
    for (const Control& c : kControls) {
        const std::string prefix = std::string(c.prefix) + (withSegment ? "/" : "");
        if (withSegment ? path.compare(0, prefix.size(), prefix) == 0 : path == prefix) return &c;
    }
    return nullptr;
}

// Subsystem number of the last path segment: decimal digits only, within int32.
bool parseSubSystemId(const std::string& s, int32_t& out) {
    if (s.empty() || s.size() > 10) return false;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

uint32_t sendModel(DeviceChannel& ch, std::string& response, const char* identifier, const std::string& body,
                   const char* func) {
    ModelCommand cmd;
    cmd.kind = 3;
    cmd.domain = "AlarmSubSystemMgr";
    cmd.identifier = identifier;
    cmd.body = body;
    response.clear();
    uint32_t rc = ch.model(response, cmd, "global");
    if (rc == 0 && (rc = modelAnswerFailure(response)) != 0)
        LOG_DEV(5, func, "[identifier=%s,rsp=%s]model answer carries a failure", identifier,
                vexa::logText(response).c_str());
    if (rc != 0) {
        LOG_DEV(5, func, "[identifier=%s,rc=0x%x]model command failed", identifier, rc);
        response.clear();  // the host gets the status document of the mapped code
    }
    return rc;
}

// A successful control answer reaches the host only while arming is still in progress.
void keepProcessAnswer(std::string& response) {
    if (response.empty()) return;
    Json::Value root;
    std::string mode;
    if (!vexa::parseJson(response, root) || !root.isObject() || !vexa::jsonString(root, "armMode", mode) ||
        mode != "process")
        response.clear();
}

// Body checks shared by the list handlers: parse failure kInvalidContent, no "SubSysList" array
// kBadParameters.
uint32_t readSubSysList(const std::string& body, Json::Value& root, const char* func) {
    if (!vexa::parseJson(body, root)) {
        LOG_DEV(5, func, "body is not json");
        return kInvalidContent;
    }
    const Json::Value* list = root.isObject() ? vexa::jsonMember(root, "SubSysList") : nullptr;
    if (!list || !list->isArray()) {
        LOG_DEV(5, func, "body has no SubSysList");
        return kBadParameters;
    }
    return 0;
}

}  // namespace

uint32_t modelAnswerFailure(const std::string& answer) {
    Json::Value root;
    if (!vexa::parseJson(answer, root) || !root.isObject()) return 0;
    const Json::Value* status = vexa::jsonMember(root, "status");
    if (!status) return 0;
    if (!status->isIntegral()) return kInvalidContent;
    if (status->isInt() && status->asInt() == 200) return 0;
    std::string copy = answer;
    const uint32_t rc = CVexaDevice::covertVexaRsp(copy);
    return rc ? rc : kInvalidContent;
}

uint32_t setSubSystem(DeviceChannel& ch, std::string& response, const std::string& uri) {
    static const char* F = "CVexaDevice::setSubSystem";
    const std::string path = uri.substr(0, uri.find('?'));
    const Control* ctl = controlOf(path, true);
    if (!ctl) {
        LOG_DEV(5, F, "wrong Uri: %s", vexa::logText(uri).c_str());
        return kBadParameters;
    }
    // The segment after the control word names one subsystem or, as 0xffffffff, all of them.
    const std::string segment = path.substr(std::string(ctl->prefix).size() + 1);
    Json::Value body(Json::objectValue);
    int32_t id = 0;
    if (segment == "0xffffffff") {
        body["operationMode"] = "all";
    } else if (parseSubSystemId(segment, id)) {
        body["operationMode"] = "assigned";
        body["subSystemIDList"].append(id);
    } else {
        LOG_DEV(5, F, "wrong subsystem in Uri: %s", vexa::logText(uri).c_str());
        return kBadParameters;
    }
    if (ctl->arm) {
        std::string ways;
        getUrlParam(ways, "ways", uri);
        body["armType"] = ways;
    }
    const uint32_t rc = sendModel(ch, response, ctl->identifier, vexa::writeJson(body), F);
    if (rc == 0) keepProcessAnswer(response);
    return rc;
}

uint32_t setSubSystemList(DeviceChannel& ch, std::string& response, const std::string& uri, const std::string& body) {
    static const char* F = "CVexaDevice::setSubSystemList";
    const Control* ctl = controlOf(uri.substr(0, uri.find('?')), false);
    if (!ctl) {
        LOG_DEV(5, F, "wrong Uri: %s", vexa::logText(uri).c_str());
        return kBadParameters;
    }
    Json::Value root;
    if (const uint32_t rc = readSubSysList(body, root, F)) return rc;
    Json::Value out(Json::objectValue);
    out["operationMode"] = "assigned";
    bool haveArmType = false;
    for (const Json::Value& item : root["SubSysList"]) {
        const Json::Value* sub = item.isObject() ? vexa::jsonMember(item, "SubSys") : nullptr;
        if (!sub || !sub->isObject()) continue;
        const Json::Value* id = vexa::jsonMember(*sub, "id");
        if (id && id->isInt()) out["subSystemIDList"].append(id->asInt());
        // The first subsystem that names an arming type decides it for the whole list.
        std::string armType;
        if (ctl->arm && !haveArmType && vexa::jsonString(*sub, "armType", armType)) {
            out["armType"] = armType;
            haveArmType = true;
        }
    }
    const uint32_t rc = sendModel(ch, response, ctl->identifier, vexa::writeJson(out), F);
    if (rc == 0) keepProcessAnswer(response);
    return rc;
}

uint32_t setFaultArmConfirm(DeviceChannel& ch, std::string& response, const std::string& body) {
    static const char* F = "CVexaDevice::setFaultArmConfirm";
    Json::Value root;
    if (const uint32_t rc = readSubSysList(body, root, F)) return rc;
    const uint32_t rc =
        sendModel(ch, response, "SetSubSystemFaultArmConfirm", vexa::writeJson(root["SubSysList"]), F);
    response.clear();
    return rc;
}

uint32_t getSubSystemStatus(DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::getSubSystemStatus";
    Json::Value cond(Json::objectValue);
    cond["searchID"] = kSubSystemSearchId;
    cond["maxResults"] = kSubSystemPageSize;
    Json::Value result(Json::objectValue);
    Json::Value& list = result["SubSysList"] = Json::Value(Json::arrayValue);
    int64_t count = 0, total = 0;  // device-supplied: kept wide so no sum overflows
    size_t gathered = 0;            // bytes of the entries' JSON text so far
    bool full = false;
    for (int page = 0; page < kSubSystemMaxPages && !full; ++page) {
        cond["searchResultPosition"] = static_cast<Json::Int64>(count + 1);
        std::string answer;
        if (const uint32_t rc = sendModel(ch, answer, "SearchSubSystemStatus", vexa::writeJson(cond), F)) {
            response.clear();
            return rc;
        }
        Json::Value root;
        if (!vexa::parseJson(answer, root) || !root.isObject()) {
            LOG_DEV(5, F, "answer is not json");
            response.clear();
            return kBadParameters;
        }
        int64_t got = 0;
        const Json::Value* n = vexa::jsonMember(root, "numOfMatches");
        if (n && n->isIntegral() && n->isInt64()) got = n->asInt64();
        const Json::Value* t = vexa::jsonMember(root, "totalMatches");
        if (t && t->isIntegral() && t->isInt64()) total = t->asInt64();
        const Json::Value* matches = vexa::jsonMember(root, "matchResults");
        if (matches && matches->isArray()) {
            for (const Json::Value& m : *matches) {
                Json::Value sub(Json::objectValue);
                if (m.isObject()) {
                    const Json::Value* v = vexa::jsonMember(m, "subSystemID");
                    if (v && v->isInt()) sub["id"] = v->asInt();
                    v = vexa::jsonMember(m, "enabled");
                    if (v && v->isBool()) sub["enabled"] = v->asBool();
                    v = vexa::jsonMember(m, "subSystemArmStatus");
                    if (v && v->isString()) sub["arming"] = v->asString();
                    v = vexa::jsonMember(m, "alarmStatus");
                    if (v && v->isString()) sub["alarm"] = v->asString() == "alarm";
                }
                Json::Value entry(Json::objectValue);
                entry["SubSys"] = sub;
                const size_t size = vexa::writeJson(entry).size() + 1;
                if (list.size() >= kSubSystemMaxEntries || gathered + size > kSubSystemMaxText) {
                    LOG_DEV(4, F, "[entries=%u,bytes=%zu]search stops gathering, answering what was gathered",
                            list.size(), gathered);
                    full = true;
                    break;
                }
                gathered += size;
                list.append(std::move(entry));
            }
        }
        if (full) break;
        // A page that brings nothing new would repeat forever: answer with what was gathered.
        if (got <= 0) {
            if (count < total) LOG_DEV(4, F, "[count=%lld,total=%lld]search ends early", (long long)count, (long long)total);
            break;
        }
        count = got > INT32_MAX ? count + INT32_MAX : count + got;
        if (count >= total) break;
    }
    response = vexa::writeJson(result);
    return 0;
}

uint32_t searchSubSystemArmStatus(DeviceChannel& ch, std::string& response, const std::string& body) {
    static const char* F = "CVexaDevice::searchSubSystemArmStatus";
    // The host's text goes into the device's frame as JSON: only a search condition object,
    // written anew, so nothing the host adds after the document reaches the device.
    Json::Value root;
    if (!vexa::parseJson(body, root)) {
        LOG_DEV(5, F, "body is not json");
        return kInvalidContent;
    }
    if (!root.isObject()) {
        LOG_DEV(5, F, "body is not an object");
        return kBadParameters;
    }
    std::string answer;
    const uint32_t rc = sendModel(ch, answer, "SearchSubSystemArmStatus", vexa::writeJson(root), F);
    if (rc != 0) {
        response.clear();
        return rc;
    }
    Json::Value out(Json::objectValue);
    out["OutputList"] = answer;
    response = vexa::writeJson(out);
    return 0;
}
