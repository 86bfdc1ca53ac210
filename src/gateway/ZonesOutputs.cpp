#include "gateway/ZonesOutputs.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/StatusList.h"
#include "common/Utf8.h"
#include "gateway/SecurityControl.h"
#include "gateway/VexaDeviceGateway.h"

const ExDevKind kExDevKinds[9] = {
    {"OutputModulesMgr", "SearchOutputModuleStatus", "OutputModList", "OutputMod",
     kExOnline | kExHeartbeat | kExTamper | kExBattery | kExSignal | kExTemperature | kExRepeater | kExPower},
    {"RelayMgr", "SearchRelayStatus", "OutputList", "Output", kExOpen},
    {"SirenMgr", "SearchSirenStatus", "SirenList", "Siren",
     kExOnline | kExOpen | kExHeartbeat | kExTamper | kExBattery | kExSignal | kExTemperature},
    {"RepeaterMgr", "SearchRepeaterStatus", "RepeaterList", "Repeater",
     kExOnline | kExOpen | kExHeartbeat | kExTamper | kExBattery | kExSignal | kExTemperature},
    {"CardReaderMgr", "SearchCardReaderStatus", "CardReaderList", "CardReader",
     kExOnline | kExOpen | kExHeartbeat | kExTamper | kExBattery | kExSignal | kExTemperature | kExRepeater},
    {"ExtensionModule", "SearchExtensionModuleStatus", "ExtensionList", "ExtensionModule",
     kExOnline | kExHeartbeat | kExTamper | kExTemperature},
    {"KeypadMgr", "SearchKeypadStatus", "KeypadList", "Keypad",
     kExOnline | kExHeartbeat | kExTamper | kExBattery | kExSignal | kExTemperature | kExRepeater},
    {"RemoteMgr", "SearchRemoteStatus", "RemoteList", "Remote", kExOnline | kExHeartbeat | kExBattery},
    {"TransmitterMgr", "SearchTransmitterStatus", "TransmitterList", "Transmitter",
     kExOnline | kExHeartbeat | kExBattery | kExSignal | kExTemperature | kExRepeater},
};

namespace {

using vexa::status::kBadParameters;
using vexa::status::kInvalidContent;
using vexa::status::kNotSupport;

const char* const kSearchId = "c69915d579ff4d8ca7b55ffa22a91521";

// Lines about one handler's bad input (host body or device answer) are rate-limited, each
// kind of line on its own.
bool badInputLogAllowed(const char* func, const char* what = "") {
    static vexa::LogGate gate;
    return gate.allow(std::string(func) + what);
}

// ---- value rules: a member is taken only with the right type --------------------------------

const Json::Value* member(const Json::Value& obj, const char* name) { return vexa::jsonMember(obj, name); }

void copyString(Json::Value& out, const char* to, const Json::Value& in, const char* from) {
    const Json::Value* v = member(in, from);
    if (v && v->isString()) out[to] = vexa::sanitizeUtf8(v->asString());  // device text: valid UTF-8 only
}

void copyInt(Json::Value& out, const char* to, const Json::Value& in, const char* from) {
    const Json::Value* v = member(in, from);
    if (v && v->isInt()) out[to] = v->asInt();
}

void copyBool(Json::Value& out, const char* to, const Json::Value& in, const char* from) {
    const Json::Value* v = member(in, from);
    if (v && v->isBool()) out[to] = v->asBool();
}

// A string member's text; false when absent or not a string.
bool text(const Json::Value& in, const char* name, std::string& out) { return vexa::jsonString(in, name, out); }

// out[to] = (text == match) when the member is a string.
void flagIfText(Json::Value& out, const char* to, const Json::Value& in, const char* from, const char* match) {
    std::string t;
    if (text(in, from, t)) out[to] = t == match;
}

// ---- model commands ---------------------------------------------------------------------------

uint32_t sendModel(DeviceChannel& ch, std::string& answer, ModelCommand cmd, const char* func) {
    answer.clear();
    uint32_t rc = ch.model(answer, cmd, "global");
    if (rc == 0 && (rc = modelAnswerFailure(answer)) != 0)
        LOG_DEV(5, func, "[identifier=%s,rsp=%s]model answer carries a failure", cmd.identifier.c_str(),
                vexa::logText(answer).c_str());
    if (rc != 0) {
        LOG_DEV(5, func, "[domain=%s,identifier=%s,rc=0x%x]model command failed", cmd.domain.c_str(),
                cmd.identifier.c_str(), rc);
        answer.clear();  // the host gets the status document of the code, never the raw answer
    }
    return rc;
}

ModelCommand dataCommand(const char* domain, const char* identifier, const Json::Value& body) {
    ModelCommand cmd;
    cmd.kind = 3;
    cmd.domain = domain;
    cmd.identifier = identifier;
    cmd.body = vexa::writeJson(body);
    return cmd;
}

// What a paged search has gathered so far, against the bounds every search here keeps.
class Gathering {
public:
    explicit Gathering(const char* func) : m_func(func) {}
    // Appends entry to list unless a bound is reached; false once full.
    bool add(Json::Value& list, Json::Value&& entry) {
        if (m_full) return false;
        const size_t size = vexa::writeJson(entry).size() + 1;
        if (m_entries >= kPanelSearchMaxEntries || m_bytes + size > kPanelSearchMaxText) {
            if (badInputLogAllowed(m_func, "/bound"))
                LOG_DEV(4, m_func, "[entries=%zu,bytes=%zu]search stops gathering, answering what was gathered",
                        m_entries, m_bytes);
            m_full = true;
            return false;
        }
        ++m_entries;
        m_bytes += size;
        list.append(std::move(entry));
        return true;
    }
    bool full() const { return m_full; }

private:
    const char* m_func;
    size_t m_entries = 0, m_bytes = 0;
    bool m_full = false;
};

// Page counters of an answer: numOfMatches (0 when absent or wrong) and totalMatches (kept when
// absent), both held wide so device values cannot overflow the sums.
void pageCounts(const Json::Value& root, int64_t& got, int64_t& total) {
    got = 0;
    const Json::Value* n = member(root, "numOfMatches");
    if (n && n->isInt()) got = n->asInt();
    const Json::Value* t = member(root, "totalMatches");
    if (t && t->isInt()) total = t->asInt();
}

// ---- zones --------------------------------------------------------------------------------------

Json::Value zoneOf(const Json::Value& m) {
    Json::Value z(Json::objectValue);
    const Json::Value* id = member(m, "zoneID");
    if (id && id->isInt()) z["id"] = static_cast<Json::Int64>(id->asInt()) - 1;
    std::string t, status = "notRelated";
    if (text(m, "onlineStatus", t)) status = vexa::sanitizeUtf8(t);
    if (text(m, "heartbeatStatus", t) && t == "abnormal") status = "heartbeatAbnormal";
    if (text(m, "trigger", t) && t == "triggered") status = "trigger";
    if (text(m, "faultStatus", t) && t == "fault") status = "breakDown";
    z["status"] = status;
    flagIfText(z, "tamperEvident", m, "antiDismantle", "abnormal");
    flagIfText(z, "shielded", m, "shieldedStatus", "shielded");
    flagIfText(z, "bypassed", m, "bypassStatus", "bypassed");
    if (text(m, "deactivationMode", t)) {
        if (t == "entirely") z["bypassed"] = true;
        if (t == "off" || t == "lidOnly") z["bypassed"] = false;
    }
    if (text(m, "armStatus", t)) {
        if (t == "armed" || t == "armFailed") z["armed"] = t == "armed";
        if (t == "arming" || t == "disarmed") z["isArming"] = t == "arming";
    }
    flagIfText(z, "alarm", m, "alarmStatus", "alarm");
    copyString(z, "powerSupplySource", m, "powerSupplySource");
    copyString(z, "batteryType", m, "batteryType");
    copyString(z, "charge", m, "batteryStatus");
    copyInt(z, "chargeValue", m, "batteryValue");
    copyInt(z, "signal", m, "signalIntensityValue");
    copyInt(z, "temperature", m, "temperatureValue");
    static const struct { const char *to, *group, *from; } kNested[] = {
        {"waterDetectorAlarm", "waterLeakDetector", "waterDetectedAlarm"},
        {"smokeDetectedExceed", "smokeDetector", "smokeDetectedAlarm"},
        {"temperatureExceed", "temperatureDetector", "temperatureDetectedAlarm"},
    };
    for (const auto& n : kNested)
        if (const Json::Value* g = member(m, n.group)) copyString(z, n.to, *g, n.from);
    copyInt(z, "humidity", m, "humidityValue");
    copyString(z, "healthStatus", m, "healthStatus");
    if (const Json::Value* g = member(m, "magnetShockDetector"))
        for (const char* n : {"magnetOpenStatus", "magnetShockStatus", "magnetTiltStatus"}) flagIfText(z, n, *g, n, "yes");
    if (const Json::Value* g = member(m, "tripleTechnologyPirDetector"))
        flagIfText(z, "pirCamConnected", *g, "pircamConnected", "connected");
    return z;
}

// Basic information of one zone into its status element. The panel lists the subsystems a
// zone is linked to, each as a number or as an object with "subSystemNo"; the first is the
// zone's own subsystem.
void mergeBasicInfo(Json::Value& zone, const Json::Value& info) {
    copyString(zone, "name", info, "zoneName");
    copyInt(zone, "deviceNo", info, "deviceNo");
    for (const char* n : {"deactivationMode", "oneTimeDeactivationMode", "detectorType"}) copyString(zone, n, info, n);
    const Json::Value* links = member(info, "linkageSubSystems");
    if (!links || !links->isArray()) return;
    Json::Value linked(Json::arrayValue);
    for (const Json::Value& l : *links) {
        const Json::Value* no = l.isObject() ? member(l, "subSystemNo") : &l;
        if (no && no->isInt()) linked.append(no->asInt());
    }
    if (linked.empty()) return;
    zone["subSystemNo"] = linked[0];
    zone["linkageSubSystem"] = linked;
}

// The "id" of one {"Zone": ...} entry, null when it has none.
const Json::Value* zoneId(const Json::Value& entry) {
    const Json::Value* z = member(entry, "Zone");
    const Json::Value* id = z ? member(*z, "id") : nullptr;
    return id && id->isInt64() ? id : nullptr;
}

// Basic information for the zones of `list` from index `from` on, asked in pieces the panel
// answers whole. A failure leaves those zones as they are.
void fetchBasicInfo(DeviceChannel& ch, Json::Value& list, Json::ArrayIndex from, const std::string& searchId,
                    const char* func) {
    while (from < list.size()) {
        const Json::ArrayIndex end = std::min<Json::ArrayIndex>(list.size(), from + kZoneBasicInfoPage);
        Json::Value cond(Json::objectValue);
        cond["searchID"] = searchId;
        cond["searchResultPosition"] = 1;
        cond["maxResults"] = kZoneBasicInfoPage;
        Json::Value& ids = cond["searchByZoneIDs"] = Json::Value(Json::arrayValue);
        std::map<Json::Int64, std::vector<Json::ArrayIndex>> byId;  // host zone number -> entries
        for (Json::ArrayIndex i = from; i < end; ++i) {
            const Json::Value* id = zoneId(list[i]);
            if (!id) continue;
            std::vector<Json::ArrayIndex>& at = byId[id->asInt64()];
            if (at.empty()) ids.append(static_cast<Json::Int64>(id->asInt64() + 1));
            at.push_back(i);
        }
        Json::Value root;
        std::string answer;
        if (!ids.empty() && sendModel(ch, answer, dataCommand("ZoneMgr", "SearchZoneBasicInfo", cond), func) == 0 &&
            vexa::parseJson(answer, root)) {
            const Json::Value* matches = member(root, "matchResults");
            if (matches && matches->isArray()) {
                for (const Json::Value& m : *matches) {
                    const Json::Value* zid = member(m, "zoneID");
                    if (!zid || !zid->isInt()) continue;
                    const auto it = byId.find(static_cast<Json::Int64>(zid->asInt()) - 1);
                    if (it == byId.end()) continue;
                    for (const Json::ArrayIndex i : it->second) mergeBasicInfo(list[i]["Zone"], m);
                    byId.erase(it);  // a zone the answer repeats is completed once
                }
            }
        }
        from = end;
    }
}

// ---- extension devices ----------------------------------------------------------------------

Json::Value exDevOf(const Json::Value& m, unsigned members) {
    Json::Value d(Json::objectValue);
    copyString(d, "seq", m, "childDevID");
    std::string t, status = "notRelated";
    if ((members & kExOnline) && text(m, "onlineStatus", t)) status = vexa::sanitizeUtf8(t);
    if ((members & kExOpen) && text(m, "openStatus", t)) status = vexa::sanitizeUtf8(t);
    if ((members & kExHeartbeat) && text(m, "heartbeatStatus", t) && t == "abnormal") status = "heartbeatAbnormal";
    d["status"] = status;
    if ((members & kExTamper) && text(m, "antiDismantle", t) && (t == "abnormal" || t == "normal"))
        d["tamperEvident"] = t == "abnormal";
    if (members & kExBattery) {
        copyString(d, "charge", m, "batteryStatus");
        copyInt(d, "chargeValue", m, "batteryValue");
    }
    if (members & kExSignal) copyInt(d, "signal", m, "signalIntensityValue");
    if (members & kExTemperature) copyInt(d, "temperature", m, "temperatureValue");
    if (members & kExRepeater) {
        copyBool(d, "isViaRepeater", m, "isViaRepeater");
        copyString(d, "repeaterName", m, "repeaterName");
    }
    if (members & kExPower) {
        copyInt(d, "voltValue", m, "voltValue");
        copyInt(d, "currentValue", m, "currentValue");
        copyInt(d, "powerLoad", m, "loadPower");
        copyInt(d, "energySumVaule", m, "loadPowerConsumption");
    }
    return d;
}

// Searches one kind page by page into `kinds`; gives up the kind on a failure.
void searchExDevKind(DeviceChannel& ch, const ExDevKind& kind, Json::Value& kinds, Gathering& gathered) {
    static const char* F = "CVexaDevice::getExDevStatus";
    Json::Value cond(Json::objectValue);
    cond["searchID"] = kSearchId;
    cond["maxResults"] = kExDevPageSize;
    int64_t count = 0, total = 0;
    for (int page = 0; page < kPanelSearchMaxPages; ++page) {
        cond["searchResultPosition"] = static_cast<Json::Int64>(count + 1);
        std::string answer;
        if (sendModel(ch, answer, dataCommand(kind.domain, kind.identifier, cond), F) != 0) return;
        Json::Value root;
        if (!vexa::parseJson(answer, root)) {
            if (badInputLogAllowed(F))
                LOG_DEV(5, F, "[identifier=%s,rsp=%s]answer is not json", kind.identifier, vexa::logText(answer).c_str());
            return;
        }
        int64_t got = 0;
        pageCounts(root, got, total);
        const Json::Value* matches = member(root, "matchResults");
        if (matches && matches->isArray()) {
            Json::Value converted(Json::arrayValue);
            convertExDevStatus(converted, *matches, kind);
            for (Json::Value& e : converted) {
                Json::Value& list = kinds[kind.list];
                if (list.isNull()) list = Json::Value(Json::arrayValue);
                if (!gathered.add(list, std::move(e))) return;
            }
        }
        // A page that brings nothing new would be asked for again and again.
        if (got <= 0) {
            if (count < total && badInputLogAllowed(F, "/pages"))
                LOG_DEV(4, F, "[identifier=%s,count=%lld,total=%lld]search ends early", kind.identifier,
                        static_cast<long long>(count), static_cast<long long>(total));
            return;
        }
        count += got;
        if (count >= total) return;
    }
}

}  // namespace

// ---- host bodies ------------------------------------------------------------------------------

uint32_t buildRelayCtrl(Json::Value& modelBody, const std::string& body) {
    static const char* F = "CVexaDevice::buildRelayCtrl";
    Json::Value root;
    if (!vexa::parseJson(body, root)) {
        if (badInputLogAllowed(F)) LOG_DEV(5, F, "body is not json");
        return kInvalidContent;
    }
    const Json::Value* ctrl = member(root, "OutputsCtrl");
    std::string sw;
    if (!ctrl || !ctrl->isObject() || !text(*ctrl, "switch", sw)) {
        if (badInputLogAllowed(F)) LOG_DEV(5, F, "body has no OutputsCtrl with a switch");
        return kBadParameters;
    }
    modelBody = Json::Value(Json::objectValue);
    modelBody["switch"] = sw;
    const Json::Value* list = member(*ctrl, "List");
    if (list && list->isArray()) {
        for (const Json::Value& e : *list) {
            std::string seq;
            if (e.isObject() && text(e, "seq", seq)) modelBody["childDevIDs"].append(seq);
        }
    }
    return 0;
}

uint32_t parseZoneIdList(std::vector<int32_t>& ids, const std::string& body) {
    static const char* F = "CVexaDevice::parseZoneIdList";
    ids.clear();
    Json::Value root;
    if (!vexa::parseJson(body, root)) {
        if (badInputLogAllowed(F)) LOG_DEV(5, F, "body is not json");
        return kInvalidContent;
    }
    const Json::Value* list = member(root, "List");
    if (!list || !list->isArray()) {
        if (badInputLogAllowed(F)) LOG_DEV(5, F, "body has no List");
        return kBadParameters;
    }
    for (const Json::Value& e : *list) {
        const Json::Value* id = e.isObject() ? member(e, "id") : nullptr;
        if (!id || !id->isInt()) continue;
        // Host zone numbers start at 0: a negative one would reach another zone or none.
        if (id->asInt() < 0) {
            if (badInputLogAllowed(F)) LOG_DEV(5, F, "[id=%d]zone number is negative", id->asInt());
            ids.clear();
            return kBadParameters;
        }
        ids.push_back(id->asInt());
    }
    return 0;
}

// ---- converters -----------------------------------------------------------------------------

void convertZoneStatus(Json::Value& zoneList, const Json::Value& matchResults) {
    if (!matchResults.isArray()) return;
    for (const Json::Value& m : matchResults) {
        if (!m.isObject()) continue;
        Json::Value entry(Json::objectValue);
        entry["Zone"] = zoneOf(m);
        zoneList.append(std::move(entry));
    }
}

void convertExDevStatus(Json::Value& result, const Json::Value& matchResults, const ExDevKind& kind) {
    if (!matchResults.isArray()) return;
    for (const Json::Value& m : matchResults) {
        if (!m.isObject()) break;
        Json::Value entry(Json::objectValue);
        entry[kind.element] = exDevOf(m, kind.members);
        result.append(std::move(entry));
    }
}

// ---- handlers -----------------------------------------------------------------------------------

uint32_t getExDevStatus(DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::getExDevStatus";
    Json::Value kinds(Json::objectValue);
    Gathering gathered(F);
    for (const ExDevKind& kind : kExDevKinds) {
        searchExDevKind(ch, kind, kinds, gathered);
        if (gathered.full()) break;
    }
    response.clear();
    if (kinds.empty()) {
        LOG_DEV(4, F, "no extension device kind answered with a match");
        return kNotSupport;
    }
    Json::Value result(Json::objectValue);
    result["ExDevStatus"] = std::move(kinds);
    response = vexa::writeJson(result);
    return 0;
}

uint32_t ctrlOutputs(DeviceChannel& ch, std::string& response, const std::string& body) {
    static const char* F = "CVexaDevice::ctrlOutputs";
    response.clear();
    Json::Value modelBody;
    if (const uint32_t rc = buildRelayCtrl(modelBody, body)) return rc;
    std::string answer;
    return sendModel(ch, answer, dataCommand("RelayMgr", "CtrlRelayList", modelBody), F);
}

uint32_t setZoneDeactivation(DeviceChannel& ch, std::string& response, const std::string& body) {
    static const char* F = "CVexaDevice::setZoneDeactivation";
    response.clear();
    std::vector<int32_t> ids;
    if (const uint32_t rc = parseZoneIdList(ids, body)) return rc;
    if (ids.empty()) return 0;
    Json::Value root, modelBody(Json::objectValue);
    vexa::parseJson(body, root);
    copyString(modelBody, "oneTimeDeactivationMode", root, "oneTimeDeactivationMode");
    copyString(modelBody, "deactivationMode", root, "deactivationMode");
    ModelCommand cmd;
    cmd.kind = 2;
    cmd.scope = "Zone";
    cmd.domain = "ZoneMgr";
    cmd.identifier = "SingleZoneBasicInfo";
    cmd.body = vexa::writeJson(modelBody);
    for (const int32_t n : ids) {
        cmd.subId = std::to_string(static_cast<int64_t>(n) + 1);  // model zone numbers start at 1
        std::string answer;
        if (const uint32_t rc = sendModel(ch, answer, cmd, F)) return rc;
    }
    return 0;
}

uint32_t searchZoneStatus(DeviceChannel& ch, std::string& response, const std::string& body) {
    static const char* F = "CVexaDevice::searchZoneStatus";
    response.clear();
    Json::Value root;
    if (!vexa::parseJson(body, root)) {
        if (badInputLogAllowed(F)) LOG_DEV(5, F, "body is not json");
        return kInvalidContent;
    }
    const Json::Value* cond = member(root, "ZoneCond");
    std::string searchId;
    int32_t position = 0, maxResults = 0;
    if (!cond || !text(*cond, "searchID", searchId) || !vexa::jsonInt32(*cond, "searchResultPosition", position) ||
        !vexa::jsonInt32(*cond, "maxResults", maxResults) || position < 0 || maxResults < 1) {
        if (badInputLogAllowed(F)) LOG_DEV(5, F, "body has no valid ZoneCond");
        return kBadParameters;
    }
    Json::Value modelCond(Json::objectValue);
    modelCond["searchID"] = searchId;
    modelCond["maxResults"] = maxResults;
    std::string status = "NO MATCHES";
    int64_t count = 0, total = 0;
    Json::Value zones(Json::arrayValue);
    Gathering gathered(F);
    for (int page = 0; page < kPanelSearchMaxPages; ++page) {
        modelCond["searchResultPosition"] = static_cast<Json::Int64>(position) + 1 + count;
        std::string answer;
        if (const uint32_t rc = sendModel(ch, answer, dataCommand("ZoneMgr", "SearchZoneStatus", modelCond), F))
            return rc;
        Json::Value doc;
        const bool parsed = vexa::parseJson(answer, doc);
        if (!parsed || !doc.isObject()) {
            if (badInputLogAllowed(F)) LOG_DEV(5, F, "[rsp=%s]answer is not a json object", vexa::logText(answer).c_str());
            return parsed ? kBadParameters : kInvalidContent;
        }
        std::string t;
        if (text(doc, "responseStatus", t)) status = vexa::sanitizeUtf8(t);
        int64_t got = 0;
        pageCounts(doc, got, total);
        const Json::ArrayIndex first = zones.size();
        const Json::Value* matches = member(doc, "matchResults");
        if (matches) {
            Json::Value converted(Json::arrayValue);
            convertZoneStatus(converted, *matches);
            for (Json::Value& e : converted)
                if (!gathered.add(zones, std::move(e))) break;
        }
        fetchBasicInfo(ch, zones, first, searchId, F);
        if (gathered.full()) break;
        if (got <= 0) {
            if (count < std::min<int64_t>(maxResults, total) && badInputLogAllowed(F, "/pages"))
                LOG_DEV(4, F, "[count=%lld,total=%lld]search ends early", static_cast<long long>(count),
                        static_cast<long long>(total));
            break;
        }
        count += got;
        if (count >= std::min<int64_t>(maxResults, total)) break;
    }
    Json::Value search(Json::objectValue);
    search["searchID"] = searchId;
    search["responseStatusStrg"] = status;
    search["numOfMatches"] = static_cast<Json::Int64>(count);
    search["totalMatches"] = static_cast<Json::Int64>(total);
    search["ZoneList"] = std::move(zones);
    Json::Value result(Json::objectValue);
    result["ZoneSearch"] = std::move(search);
    response = vexa::writeJson(result);
    return 0;
}
