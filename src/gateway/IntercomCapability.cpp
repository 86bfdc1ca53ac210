// Member mapping: every listed member is copied under its own name when present with the type
// below; absent or wrongly typed members are left out.
//   HostIntercomParam      enabled bool, callerType string, linkageSirens array,
//                          supportLinkageSirens array, recheckPriorityMode string, SIPCfg object
//   HostConfigCap          isSptTwoWayAudioParamCfg bool, isSptTwoWayAudioModeControl bool
//   CtrlHostIntercomMode   request: mode string, callerType string, alarmTime integer
//                          answer:  commandStatus string, audioTimeLeft integer, intercomMode string
//   SirenIntercomParam     per siren: childDevID (as the host gave it), intercomEnabled bool,
//                          intercomDuration integer, intercomMode string
//   EventMessageSupportInfo  the answer object as a whole (the device's own list of event kinds)
// Host documents are read either wrapped in an object of the document's name or bare.
#include "gateway/IntercomCapability.h"

#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/StatusList.h"
#include "gateway/SecurityControl.h"

namespace {

using vexa::status::kBadParameters;
using vexa::status::kInvalidContent;

enum class T { Bool, Int, String, Array, Object };

struct Member {
    const char* name;
    T type;
};

bool hasType(const Json::Value& v, T t) {
    switch (t) {
        case T::Bool: return v.isBool();
        case T::Int: return v.isInt();
        case T::String: return v.isString();
        case T::Array: return v.isArray();
        case T::Object: return v.isObject();
    }
    return false;
}

template <size_t N>
void copyMembers(const Json::Value& from, Json::Value& to, const Member (&members)[N]) {
    if (!from.isObject()) return;
    for (const Member& m : members) {
        const Json::Value* v = vexa::jsonMember(from, m.name);
        if (v && hasType(*v, m.type)) to[m.name] = *v;
    }
}

// One model command; the answer must be a JSON object.
uint32_t ask(DeviceChannel& ch, uint32_t kind, const char* domain, const char* identifier, const std::string& body,
             Json::Value& answer, const char* func, const std::string& subId = "0") {
    ModelCommand cmd;
    cmd.kind = kind;
    cmd.subId = subId;
    cmd.domain = domain;
    cmd.identifier = identifier;
    cmd.body = body;
    std::string text;
    uint32_t rc = ch.model(text, cmd, "global");
    if (rc == 0) rc = modelAnswerFailure(text);
    if (rc != 0) {
        LOG_DEV(5, func, "[%s/%s,rc=0x%x]model command failed", domain, identifier, rc);
        return rc;
    }
    if (!vexa::parseJson(text, answer) || !answer.isObject()) {
        LOG_DEV(5, func, "[%s/%s]answer is not json", domain, identifier);
        return kInvalidContent;
    }
    return 0;
}

// Host body: parse failure kInvalidContent, not an object kBadParameters; a wrapper named doc is unwrapped.
uint32_t readHostDoc(const std::string& body, const char* doc, Json::Value& out, const char* func) {
    Json::Value root;
    if (!vexa::parseJson(body, root)) {
        LOG_DEV(5, func, "body is not json");
        return kInvalidContent;
    }
    if (!root.isObject()) {
        LOG_DEV(5, func, "body is not an object");
        return kBadParameters;
    }
    const Json::Value* inner = vexa::jsonMember(root, doc);
    out = inner && inner->isObject() ? *inner : root;
    return 0;
}

uint32_t answerWith(std::string& response, const char* doc, const Json::Value& content) {
    Json::Value out(Json::objectValue);
    out[doc] = content;
    response = vexa::writeJson(out);
    return 0;
}

// A child device ID becomes the command's sub-ID: short printable text only, so it is never cut.
bool childDevId(const Json::Value& v, std::string& out) {
    if (v.type() == Json::intValue || v.type() == Json::uintValue) {
        out = std::to_string(v.asInt64());
    } else if (v.isString()) {
        out = v.asString();
    } else {
        return false;
    }
    if (out.empty() || out.size() > 31) return false;
    for (char c : out)
        if (c <= ' ' || c > '~') return false;
    return true;
}

}  // namespace

uint32_t getHostIntercomParam(DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::getHostIntercomParam";
    static const Member kMembers[] = {{"enabled", T::Bool},          {"callerType", T::String},
                                      {"linkageSirens", T::Array},   {"supportLinkageSirens", T::Array},
                                      {"recheckPriorityMode", T::String}, {"SIPCfg", T::Object}};
    response.clear();
    Json::Value answer;
    if (const uint32_t rc = ask(ch, 1, "AlarmSystemMgr", "HostIntercomParam", "", answer, F)) return rc;
    Json::Value doc(Json::objectValue);
    copyMembers(answer, doc, kMembers);
    return answerWith(response, "HostIntercomParam", doc);
}

uint32_t getConfigurationCap(DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::getConfigurationCap";
    static const Member kMembers[] = {{"isSptTwoWayAudioParamCfg", T::Bool}, {"isSptTwoWayAudioModeControl", T::Bool}};
    response.clear();
    Json::Value answer;
    if (const uint32_t rc =
            ask(ch, 3, "DynamicCapability", "GetFunctions", "{\"identifier\":\"AlarmSystemMgr\"}", answer, F))
        return rc;
    Json::Value doc(Json::objectValue);
    copyMembers(answer, doc, kMembers);
    return answerWith(response, "HostConfigCap", doc);
}

uint32_t ctrlHostIntercomMode(DeviceChannel& ch, std::string& response, const std::string& body) {
    static const char* F = "CVexaDevice::ctrlHostIntercomMode";
    static const Member kRequest[] = {{"mode", T::String}, {"callerType", T::String}, {"alarmTime", T::Int}};
    static const Member kAnswer[] = {
        {"commandStatus", T::String}, {"audioTimeLeft", T::Int}, {"intercomMode", T::String}};
    response.clear();
    Json::Value host;
    if (const uint32_t rc = readHostDoc(body, "CtrlHostIntercomMode", host, F)) return rc;
    Json::Value req(Json::objectValue);
    copyMembers(host, req, kRequest);
    Json::Value answer;
    if (const uint32_t rc = ask(ch, 3, "AlarmSystemMgr", "CtrlHostIntercomMode", vexa::writeJson(req), answer, F))
        return rc;
    Json::Value doc(Json::objectValue);
    copyMembers(answer, doc, kAnswer);
    return answerWith(response, "CtrlHostIntercomMode", doc);
}

uint32_t searchSirenIntercomParam(DeviceChannel& ch, std::string& response, const std::string& body) {
    static const char* F = "CVexaDevice::searchSirenIntercomParam";
    static const Member kAnswer[] = {
        {"intercomEnabled", T::Bool}, {"intercomDuration", T::Int}, {"intercomMode", T::String}};
    response.clear();
    Json::Value host;
    if (const uint32_t rc = readHostDoc(body, "SirenIntercomParam", host, F)) return rc;
    const Json::Value* sirens = vexa::jsonMember(host, "linkageSirens");
    if (!sirens || !sirens->isArray() || sirens->size() > kMaxSirensPerSearch) {
        LOG_DEV(5, F, "linkageSirens missing or too long");
        return kBadParameters;
    }
    Json::Value list(Json::arrayValue);
    for (const Json::Value& s : *sirens) {
        const Json::Value* id = s.isObject() ? vexa::jsonMember(s, "childDevID") : nullptr;
        std::string subId;
        if (!id || !childDevId(*id, subId)) {
            LOG_DEV(5, F, "wrong childDevID");
            return kBadParameters;
        }
        Json::Value answer;
        if (const uint32_t rc = ask(ch, 1, "SirenMgr", "SirenIntercomParam", "", answer, F, subId)) return rc;
        Json::Value entry(Json::objectValue);
        entry["childDevID"] = *id;
        copyMembers(answer, entry, kAnswer);
        list.append(entry);
    }
    Json::Value doc(Json::objectValue);
    doc["linkageSirens"] = list;
    return answerWith(response, "SirenIntercomParam", doc);
}

uint32_t getEventMessageSupportInfo(DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::getEventMessageSupportInfo";
    response.clear();
    Json::Value answer;
    if (const uint32_t rc = ask(ch, 1, "EventMessageMgr", "EventMessageSupportInfo", "", answer, F)) return rc;
    return answerWith(response, "EventMessageSupportInfo", answer);
}
