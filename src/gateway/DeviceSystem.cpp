// Device information, clock, reboot, upgrade and network settings of both device families.
#include <tinyxml.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/StatusList.h"
#include "common/TimeConvert.h"
#include "common/Utf8.h"
#include "common/XmlBase.h"
#include "common/XmlCursor.h"
#include "common/XmlLimits.h"
#include "common/ZornaMessage.h"
#include "gateway/DeviceSystem.h"
#include "gateway/VexaDeviceGateway.h"
#include "palsafe.h"

namespace {

using vexa::status::kBadParameters;
using vexa::status::kInvalidContent;

const char* const kOvixNs = "http://www.ovix.org/ver20/XMLSchema";
const char* const kMakerNs = "http://www.vexa.com/ver20/XMLSchema";
// Device documents are held to the device's request limit and never sent cut.
constexpr size_t kMaxDeviceDocument = 1023;

// Lines about one device's bad answers are rate limited per function.
vexa::LogGate& answerGate() {
    static vexa::LogGate gate;
    return gate;
}

// Text that can stand in an XML document: valid UTF-8 without control characters.
bool xmlTextOk(const std::string& s) {
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return vexa::isValidUtf8(s);
}

TiXmlElement* newRoot(TiXmlDocument& doc, const char* name, const char* ns) {
    doc.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", ""));
    TiXmlElement* root = new TiXmlElement(name);
    root->SetAttribute("version", "2.0");
    root->SetAttribute("xmlns", ns);
    doc.LinkEndChild(root);
    return root;
}

void addText(TiXmlElement* parent, const char* name, const std::string& text) {
    TiXmlElement* e = new TiXmlElement(name);
    e->LinkEndChild(new TiXmlText(text.c_str()));
    parent->LinkEndChild(e);
}

// The document as text (TinyXML escapes every text); false when it does not fit the device limit.
bool printDocument(const TiXmlDocument& doc, std::string& xml) {
    TiXmlPrinter printer;
    printer.SetStreamPrinting();
    doc.Accept(&printer);
    xml = printer.Str();
    return xml.size() <= kMaxDeviceDocument;
}

// A device's answer to a write: a refusal in its status document becomes that status.
uint32_t writeOutcome(const std::string& answer, std::string& response) {
    Json::Value status;
    const size_t b = answer.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        response.clear();
        return 0;
    }
    const uint32_t rc = CVexaDevice::parseOVIXResponseStatus(answer, status);
    response.clear();
    return rc;
}

// Strict dotted IPv4: four decimal octets 0..255, digits only, nothing else.
bool parseIpv4(const std::string& s) {
    int octets = 0;
    size_t i = 0;
    while (octets < 4) {
        size_t digits = 0;
        unsigned v = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && digits < 4) {
            v = v * 10 + static_cast<unsigned>(s[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || v > 255) return false;
        ++octets;
        if (octets < 4) {
            if (i >= s.size() || s[i] != '.') return false;
            ++i;
        }
    }
    return i == s.size();
}

// ---- generic device-API XML <-> JSON for the network documents ----------------------------

constexpr int kMaxNesting = 16;

bool isListName(const char* name) {
    const size_t n = std::strlen(name);
    return n > 4 && std::strcmp(name + n - 4, "List") == 0;
}

Json::Value elementToJson(const TiXmlElement* e, int depth) {
    const TiXmlElement* child = e->FirstChildElement();
    if (!child || depth >= kMaxNesting) {
        const char* t = e->GetText();
        return Json::Value(t ? t : "");
    }
    Json::Value obj(Json::objectValue);
    const bool list = isListName(e->Value());
    for (; child; child = child->NextSiblingElement()) {
        const std::string name = child->Value();
        Json::Value v = elementToJson(child, depth + 1);
        if (list) {
            if (!obj.isMember(name)) obj[name] = Json::Value(Json::arrayValue);
            if (obj[name].isArray()) obj[name].append(v);
        } else if (obj.isMember(name)) {
            if (!obj[name].isArray()) {
                Json::Value first = obj[name];
                obj[name] = Json::Value(Json::arrayValue);
                obj[name].append(first);
            }
            obj[name].append(v);
        } else {
            obj[name] = v;
        }
    }
    return obj;
}

bool validTagName(const std::string& n) {
    if (n.empty() || n.size() > 64 || !(std::isalpha(static_cast<unsigned char>(n[0])) || n[0] == '_')) return false;
    for (char c : n)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
    return true;
}

// Object members become elements, arrays repeated elements, scalars their text. False for a
// member name that is not a tag name, null or nesting beyond the limit.
bool jsonToElement(const Json::Value& v, TiXmlElement* e, int depth) {
    if (depth >= kMaxNesting) return false;
    if (v.isObject()) {
        for (const std::string& name : v.getMemberNames()) {
            if (!validTagName(name)) return false;
            const Json::Value& m = v[name];
            if (m.isArray()) {
                for (const Json::Value& item : m) {
                    TiXmlElement* c = new TiXmlElement(name.c_str());
                    e->LinkEndChild(c);
                    if (item.isArray() || !jsonToElement(item, c, depth + 1)) return false;
                }
            } else {
                TiXmlElement* c = new TiXmlElement(name.c_str());
                e->LinkEndChild(c);
                if (!jsonToElement(m, c, depth + 1)) return false;
            }
        }
        return true;
    }
    if (v.isString() || v.isBool() || v.isIntegral() || v.isDouble()) {
        const std::string text = v.isString() ? v.asString() : vexa::writeJson(v);
        if (!xmlTextOk(text)) return false;
        e->LinkEndChild(new TiXmlText(text.c_str()));
        return true;
    }
    return false;
}

// Every IPv4 address the host puts into a network document must be a real one.
bool addressesValid(const Json::Value& v, int depth) {
    if (depth >= kMaxNesting) return false;
    if (v.isObject()) {
        for (const std::string& name : v.getMemberNames()) {
            const Json::Value& m = v[name];
            if ((name == "ipAddress" || name == "subnetMask") && m.isString() && !parseIpv4(m.asString()))
                return false;
            if (!addressesValid(m, depth + 1)) return false;
        }
    } else if (v.isArray()) {
        for (const Json::Value& m : v)
            if (!addressesValid(m, depth + 1)) return false;
    }
    return true;
}

uint32_t getNetworkDoc(DeviceChannel& ch, const std::string& path, const char* rootName, const char* func,
                       std::string& response) {
    std::string xml;
    const uint32_t rc = ch.ovix(xml, path, "", 0);
    if (rc != 0) {
        LOG_DEV(5, func, "get %s failed", vexa::logText(path).c_str());
        response.clear();
        return rc;
    }
    if (!transNetworkXml2Json(xml, rootName, response)) {
        if (answerGate().allow(func)) LOG_DEV(5, func, "[xml=%s] bad answer", vexa::logText(xml).c_str());
        response.clear();
        return kBadParameters;
    }
    return 0;
}

uint32_t putNetworkDoc(DeviceChannel& ch, const std::string& path, const std::string& body, const char* rootName,
                       const char* func, std::string& response) {
    std::string xml;
    if (!transNetworkJson2Xml(body, rootName, xml)) {
        LOG_DEV(5, func, "param error: %s", vexa::logText(body).c_str());
        return kBadParameters;
    }
    std::string answer;
    const uint32_t rc = ch.ovix(answer, path, xml, 1);
    if (rc != 0) {
        LOG_DEV(5, func, "put %s failed", vexa::logText(path).c_str());
        response.clear();
        return rc;
    }
    return writeOutcome(answer, response);
}

// ---- time ----------------------------------------------------------------------------------

// Days since 1970-01-01 of a civil date (valid for the years the texts allow).
int64_t daysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<int64_t>(era) * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool validDate(int y, int m, int d) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1970 || y > 2100 || m < 1 || m > 12 || d < 1) return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

}  // namespace

bool parseDeviceZoneOffset(const std::string& answer, int32_t& secondsEast, std::string& zoneText) {
    const size_t at = answer.find("CST");
    if (at == std::string::npos) return false;
    size_t i = at + 3;
    if (i >= answer.size() || (answer[i] != '+' && answer[i] != '-')) return false;
    const int sign = answer[i] == '-' ? 1 : -1;  // the zone text's sign is inverted
    ++i;
    int parts[3] = {0, 0, 0};
    int n = 0;
    while (n < 3) {
        size_t digits = 0;
        int v = 0;
        while (i < answer.size() && std::isdigit(static_cast<unsigned char>(answer[i])) && digits < 2) {
            v = v * 10 + (answer[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0) return false;
        parts[n++] = v;
        if (n < 3 && i < answer.size() && answer[i] == ':') {
            ++i;
        } else {
            break;
        }
    }
    if (parts[0] > 14 || parts[1] > 59 || parts[2] > 59) return false;
    secondsEast = sign * (parts[0] * 3600 + parts[1] * 60 + parts[2]);
    if (secondsEast < -12 * 3600 || secondsEast > 14 * 3600) return false;
    size_t end = i;
    const size_t dst = answer.find("DST", i);
    if (dst != std::string::npos) {
        end = dst + 3;
        // the daylight part runs to the end of its token
        while (end < answer.size() && !std::isspace(static_cast<unsigned char>(answer[end])) && answer[end] != '<')
            ++end;
    }
    zoneText = answer.substr(at, end - at);
    return zoneText.size() <= 128 && xmlTextOk(zoneText);
}

bool hostTimeToDeviceTime(const std::string& hostTime, int32_t deviceSecondsEast, std::string& out) {
    if (!isValidJsonTime(hostTime)) return false;
    int Y, M, D, h, m, s;
    if (std::sscanf(hostTime.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &Y, &M, &D, &h, &m, &s) != 6) return false;
    if (!validDate(Y, M, D)) return false;
    int32_t hostOff = 0;
    if (hostTime[19] != 'Z') {
        const int zh = (hostTime[20] - '0') * 10 + (hostTime[21] - '0');
        const int zm = (hostTime[23] - '0') * 10 + (hostTime[24] - '0');
        hostOff = (hostTime[19] == '-' ? -1 : 1) * (zh * 3600 + zm * 60);
    }
    const int64_t utc = daysFromCivil(Y, static_cast<unsigned>(M), static_cast<unsigned>(D)) * 86400 +
                        h * 3600 + m * 60 + s - hostOff;
    const int64_t wall = utc + deviceSecondsEast;
    int64_t days = wall / 86400, rem = wall % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    // civil date of a day count
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned dd = doy - (153 * mp + 2) / 5 + 1;
    const unsigned mm = mp < 10 ? mp + 3 : mp - 9;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400 + (mm <= 2);
    if (yy < 1970 || yy > 2100) return false;
    const int32_t a = deviceSecondsEast < 0 ? -deviceSecondsEast : deviceSecondsEast;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d%c%02d:%02d", static_cast<int>(yy), mm, dd,
                  static_cast<int>(rem / 3600), static_cast<int>(rem % 3600 / 60), static_cast<int>(rem % 60),
                  deviceSecondsEast < 0 ? '-' : '+', a / 3600, a % 3600 / 60);
    out = buf;
    return true;
}

bool transTimeMngXml2Json(const std::string& xml, std::string& json) {
    CXmlBase doc;
    if (!doc.load(xml) || !doc.findElement("Time")) return false;
    std::string mode, local;
    doc.childText("timeMode", mode);
    doc.childText("localTime", local);
    Json::Value t(Json::objectValue);
    t["localTime"] = local;
    t["timeMode"] = mode;
    Json::Value root(Json::objectValue);
    root["Time"] = t;
    json = vexa::writeJson(root);
    return true;
}

bool transDeviceInfoJson2Xml(const std::string& body, std::string& xml) {
    static const char* F = "CVexaDevice::transDeviceInfoJson2Xml";
    Json::Value root;
    const Json::Value* info = nullptr;
    if (vexa::parseJson(body, root) && root.isObject()) info = vexa::jsonMember(root, "DeviceInfo");
    if (!info || !info->isObject()) {
        LOG_DEV(5, F, "param err 1");
        return false;
    }
    std::string name, id;
    if (!vexa::jsonString(*info, "deviceName", name) || !vexa::jsonString(*info, "deviceID", id)) {
        LOG_DEV(5, F, "param err 2");
        return false;
    }
    if (name.empty() || name.size() > 32) {
        LOG_DEV(5, F, "strDevName error 1: %s", vexa::logText(name).c_str());
        return false;
    }
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || u > 126 || std::strchr("\"'*/:<>?\\|%", c)) {
            LOG_DEV(5, F, "strDevName error 2: %s", vexa::logText(name).c_str());
            return false;
        }
    }
    TiXmlDocument doc;
    TiXmlElement* rootEl = newRoot(doc, "DeviceInfo", kOvixNs);
    int number = 2;  // members from "deviceDescription" on carry their own number, from 3
    for (const char* member : kDeviceInfoMembers) {
        const Json::Value* v = vexa::jsonMember(*info, member);
        const bool numbered = std::strcmp(member, "deviceName") != 0 && std::strcmp(member, "deviceID") != 0;
        if (numbered) ++number;
        if (!v) continue;
        if (!v->isString() || !xmlTextOk(v->asString())) {
            LOG_DEV(5, F, "param err %d", number);
            return false;
        }
        addText(rootEl, member, v->asString());
    }
    if (!printDocument(doc, xml)) {
        LOG_DEV(5, F, "document too long: %d", static_cast<int>(xml.size()));
        return false;
    }
    return true;
}

bool transNetworkXml2Json(const std::string& xml, const char* rootName, std::string& json) {
    if (!vexa::xmlSafeToParse(xml)) return false;
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* root = doc.Error() ? nullptr : doc.RootElement();
    if (!root || std::strcmp(root->Value(), rootName) != 0) return false;
    Json::Value out(Json::objectValue);
    Json::Value inner = elementToJson(root, 0);
    if (!inner.isObject()) inner = Json::Value(Json::objectValue);
    out[rootName] = inner;
    json = vexa::writeJson(out);
    return true;
}

bool transNetworkJson2Xml(const std::string& body, const char* rootName, std::string& xml) {
    Json::Value root;
    const Json::Value* inner = nullptr;
    if (vexa::parseJson(body, root) && root.isObject()) inner = vexa::jsonMember(root, rootName);
    if (!inner || !inner->isObject() || !addressesValid(*inner, 0)) return false;
    TiXmlDocument doc;
    TiXmlElement* el = newRoot(doc, rootName, kOvixNs);
    return jsonToElement(*inner, el, 0) && printDocument(doc, xml);
}

uint32_t ParseUpgradeReq(UpgradeParams& params, const std::string& body) {
    static const char* F = "CVexaDevice::ParseUpgradeReq";
    Json::Value root;
    if (body.empty() || body[0] != '{' || !vexa::parseJson(body, root) || !root.isObject()) {
        LOG_DEV(5, F, "Parse json req %s fail", vexa::logText(body).c_str());
        return kBadParameters;
    }
    const Json::Value* p = vexa::jsonMember(root, "UpgradeParams");
    if (!p || !p->isObject() || !p->isMember("FTPServerIP") || !p->isMember("FTPServerPort") ||
        !p->isMember("userName") || !p->isMember("password") || !p->isMember("file")) {
        LOG_DEV(5, F, "param error: %s", vexa::logText(body).c_str());
        return kBadParameters;
    }
    std::string ip, user, password, file;
    int32_t port = 0;
    if (!vexa::jsonString(*p, "FTPServerIP", ip) || !parseIpv4(ip)) {
        LOG_DEV(5, F, "FTPServerIP is null");
        return kBadParameters;
    }
    if (!vexa::jsonInt32(*p, "FTPServerPort", port) || port < 1 || port > 65535) {
        LOG_DEV(5, F, "FTPServerPort is null");
        return kBadParameters;
    }
    // Texts that do not fit their field are refused, never cut.
    struct Text { const char* name; std::string* out; size_t cap; };
    const Text texts[] = {{"userName", &user, sizeof params.userName},
                          {"password", &password, sizeof params.password},
                          {"file", &file, sizeof params.file}};
    for (const Text& t : texts) {
        if (!vexa::jsonString(*p, t.name, *t.out) || t.out->empty() || t.out->size() >= t.cap ||
            t.out->find('\0') != std::string::npos || !xmlTextOk(*t.out)) {
            LOG_DEV(5, F, "%s is null", t.name);
            return kBadParameters;
        }
    }
    params = UpgradeParams{};
    const struct { char* dst; size_t cap; const std::string* src; } copies[] = {
        {params.ftpServerIp, sizeof params.ftpServerIp, &ip},
        {params.userName, sizeof params.userName, &user},
        {params.password, sizeof params.password, &password},
        {params.file, sizeof params.file, &file}};
    for (const auto& c : copies) {
        const int err = PAL_Strncpy_s(c.dst, c.cap, c.src->c_str(), c.src->size());
        if (err != 0) {
            __pal_safec_error_handle(VEXA_SAFEC_SRC, __LINE__, F, "PAL_STRNCPY_S", err);
            return kBadParameters;
        }
    }
    params.ftpServerPort = port;
    return 0;
}

// ---- model-command devices -----------------------------------------------------------------

uint32_t getLocalTime(DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::getLocalTime";
    ModelCommand cmd;
    cmd.kind = 1;
    cmd.domain = "TimeMgr";
    cmd.identifier = "LocalDateTime";
    std::string answer;
    const uint32_t rc = ch.model(answer, cmd, "global");
    response.clear();
    if (rc != 0) {
        LOG_DEV(5, F, "get local time failed");
        return rc;
    }
    Json::Value root;
    if (!vexa::parseJson(answer, root)) {
        if (answerGate().allow(F)) LOG_DEV(5, F, "answer is not json: %s", vexa::logText(answer).c_str());
        return kInvalidContent;
    }
    std::string local;
    if (!root.isObject() || !vexa::jsonString(root, "localDateTime", local)) {
        if (answerGate().allow(F)) LOG_DEV(5, F, "no localDateTime: %s", vexa::logText(answer).c_str());
        return kBadParameters;
    }
    Json::Value t(Json::objectValue);
    t["localTime"] = local;
    t["timeMode"] = "manual";
    Json::Value out(Json::objectValue);
    out["Time"] = t;
    response = vexa::writeJson(out);
    return 0;
}

uint32_t rebootSystem(DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::rebootSystem";
    ModelCommand cmd;
    cmd.kind = 3;
    cmd.domain = "SystemMaintenance";
    cmd.identifier = "SystemReboot";
    const uint32_t rc = ch.model(response, cmd, "global");
    if (rc != 0) {
        LOG_DEV(5, F, "reboot failed");
        response.clear();  // the host gets the status of the code, never the raw answer
        return rc;
    }
    response.clear();
    return 0;
}

uint32_t getVexaDeviceInfo(CVexaDevice& dev, DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::getVexaDeviceInfo";
    struct Step { const char* identifier; std::vector<const char*> members; };
    const Step steps[] = {
        {"DeviceDescription", {"deviceName", "model", "serialNumber", "macAddress", "deviceType"}},
        {"DeviceVersion", {"firmwareVersion", "firmwareReleasedDate", "hardwareVersion"}},
    };
    Json::Value info(Json::objectValue);
    info["deviceID"] = dev.deviceId();
    response.clear();
    for (const Step& s : steps) {
        ModelCommand cmd;
        cmd.kind = 1;
        cmd.domain = "InfoMgr";
        cmd.identifier = s.identifier;
        std::string answer;
        const uint32_t rc = ch.model(answer, cmd, "global");
        if (rc != 0) {
            LOG_DEV(5, F, "%s failed", s.identifier);
            return rc;
        }
        Json::Value root;
        if (!vexa::parseJson(answer, root)) {
            if (answerGate().allow(F)) LOG_DEV(5, F, "answer is not json: %s", vexa::logText(answer).c_str());
            return kInvalidContent;
        }
        for (const char* m : s.members) {
            std::string v;
            if (root.isObject() && vexa::jsonString(root, m, v)) info[m] = v;
        }
    }
    Json::Value out(Json::objectValue);
    out["DeviceInfo"] = info;
    response = vexa::writeJson(out);
    return 0;
}

// ---- native devices ------------------------------------------------------------------------

uint32_t RebootDev(CVexaDevice& dev, DeviceChannel& ch, std::string& response) {
    static const char* F = "CVexaDevice::RebootDev";
    std::string answer;
    const uint32_t rc = ch.ferro(answer, "REBOOT", "");
    response.clear();
    if (rc != 0) {
        LOG_DEV(5, F, "device is [%s],Reboot,failed", dev.deviceId().c_str());
        return rc;
    }
    LOG_DEV(2, F, "device is [%s],Reboot,success", dev.deviceId().c_str());
    return 0;
}

uint32_t UpgradeDev(CVexaDevice& dev, DeviceChannel& ch, const std::string& body, std::string& response) {
    static const char* F = "CVexaDevice::UpgradeDev";
    response.clear();
    UpgradeParams p;
    const uint32_t prc = ParseUpgradeReq(p, body);
    if (prc != 0) {
        LOG_DEV(5, F, "ftp upgrade params error: %s", vexa::logText(body).c_str());
        return prc;
    }
    if (dev.userHandle() < 0) {
        LOG_DEV(5, F, "Dev [%s] is not online!", dev.deviceId().c_str());
        return vexa::status::kNetworkError;
    }
    std::string doc;
    if (!buildUpgradeDocument(p, doc)) {
        LOG_DEV(5, F, "upgrade document could not be built");
        return kBadParameters;
    }
    std::string answer;
    return ch.ferro(answer, "UPDATE", doc);
}

bool buildUpgradeDocument(const UpgradeParams& p, std::string& xml) {
    CZornaUpdateReq req;
    req.Version = "2.0";
    CXmlCursor doc;
    if (!req.build(doc) || !doc.addElement("FTPServerIP", p.ftpServerIp) ||
        !doc.addElement("FTPServerPort", std::to_string(p.ftpServerPort)) ||
        !doc.addElement("Account", p.userName) || !doc.addElement("Password", p.password) ||
        !doc.addElement("File", p.file))
        return false;
    xml = doc.document();
    return true;
}

uint32_t ovixPutDeviceInfo(DeviceChannel& ch, const std::string& body, std::string& response) {
    static const char* F = "CVexaDevice::ovixPutDeviceInfo";
    std::string xml;
    response.clear();
    if (!transDeviceInfoJson2Xml(body, xml)) {
        LOG_DEV(5, F, "transDeviceInfoJson2Xml failed");
        return kBadParameters;
    }
    std::string answer;
    uint32_t rc = ch.ovix(answer, "/OVIX/System/deviceInfo", xml, 1);
    if (rc == 0) rc = writeOutcome(answer, response);
    if (rc == 0)
        LOG_DEV(3, F, "ovixPutDeviceInfo success");
    else
        LOG_DEV(5, F, "ovixPutDeviceInfo failed");
    return rc;
}

uint32_t ovixGetNetworkInterfaceList(DeviceChannel& ch, std::string& response) {
    return getNetworkDoc(ch, "/OVIX/System/Network/interfaces", "NetworkInterfaceList",
                         "CVexaDevice::ovixGetNetworkInterfaceList", response);
}

uint32_t ovixGetNetworkInterface(DeviceChannel& ch, const std::string& path, std::string& response) {
    return getNetworkDoc(ch, path, "NetworkInterface", "CVexaDevice::ovixGetNetworkInterface", response);
}

uint32_t ovixPutNetworkInterface(DeviceChannel& ch, const std::string& path, const std::string& body,
                                 std::string& response) {
    return putNetworkDoc(ch, path, body, "NetworkInterface", "CVexaDevice::ovixPutNetworkInterface", response);
}

uint32_t ovixGetIPAddress(DeviceChannel& ch, const std::string& path, std::string& response) {
    return getNetworkDoc(ch, path, "IPAddress", "CVexaDevice::ovixGetIPAddress", response);
}

uint32_t ovixPutIPAddress(DeviceChannel& ch, const std::string& path, const std::string& body,
                          std::string& response) {
    return putNetworkDoc(ch, path, body, "IPAddress", "CVexaDevice::ovixPutIPAddress", response);
}

void ovixGetTimeMngParam(DeviceChannel& ch, int32_t& result, std::string& response) {
    static const char* F = "CVexaDevice::ovixGetTimeMngParam";
    std::string xml;
    const uint32_t rc = ch.ovix(xml, "/OVIX/System/time", "", 0);
    response.clear();
    if (rc != 0) {
        LOG_DEV(5, F, "ovixGetTimeMngParam failed");
        result = static_cast<int32_t>(rc);
        return;
    }
    if (!transTimeMngXml2Json(xml, response)) {
        if (answerGate().allow(F)) LOG_DEV(5, F, "xml root get failed [%s]", vexa::logText(xml).c_str());
        response.clear();
        result = static_cast<int32_t>(kBadParameters);
        return;
    }
    result = 0;
}

void ovixSetTimeMngParam(DeviceChannel& ch, int32_t& result, const std::string& body, std::string& response) {
    static const char* F = "CVexaDevice::ovixSetTimeMngParam";
    response.clear();
    result = static_cast<int32_t>(kBadParameters);
    Json::Value root;
    if (!vexa::parseJson(body, root)) {
        LOG_DEV(5, F, "Parse json req failed: [strBody = %s]", vexa::logText(body).c_str());
        return;
    }
    const Json::Value* t = root.isObject() ? vexa::jsonMember(root, "Time") : nullptr;
    if (!t || !t->isObject()) {
        LOG_DEV(5, F, "Set dev Time param error: [strBody = %s]", vexa::logText(body).c_str());
        return;
    }
    std::string mode, local;
    if (!vexa::jsonString(*t, "timeMode", mode) || mode != "manual") {
        LOG_DEV(5, F, "Set dev Time param  timeMode is error: [strBody = %s]", vexa::logText(body).c_str());
        return;
    }
    if (!vexa::jsonString(*t, "localTime", local) || !isValidJsonTime(local)) {
        LOG_DEV(5, F, "Set dev Time param  localTime is error: [strBody = %s]", vexa::logText(body).c_str());
        return;
    }
    std::string zoneAnswer;
    const uint32_t zrc = ch.ovix(zoneAnswer, "/OVIX/System/time/timeZone", "", 0);
    if (zrc != 0) {
        LOG_DEV(5, F, "ovixGetTimeZoneParam failed");
        result = static_cast<int32_t>(zrc);
        return;
    }
    int32_t east = 0;
    std::string zone, deviceTime;
    if (!parseDeviceZoneOffset(zoneAnswer, east, zone)) {
        if (answerGate().allow(F)) LOG_DEV(5, F, "ovixGetTimeZoneParam failed: %s", vexa::logText(zoneAnswer).c_str());
        return;
    }
    if (!hostTimeToDeviceTime(local, east, deviceTime)) {
        LOG_DEV(5, F, "Set dev Time param  localTime is error: [strBody = %s]", vexa::logText(body).c_str());
        return;
    }
    TiXmlDocument doc;
    TiXmlElement* el = newRoot(doc, "Time", kMakerNs);
    addText(el, "timeMode", "manual");
    addText(el, "localTime", deviceTime);
    addText(el, "timeZone", zone);
    std::string xml, answer;
    if (!printDocument(doc, xml)) {
        LOG_DEV(5, F, "ovixSetTimeMngParam failed");
        return;
    }
    uint32_t rc = ch.ovix(answer, "/OVIX/System/time", xml, 1);
    if (rc == 0) rc = writeOutcome(answer, response);
    if (rc == 0)
        LOG_DEV(3, F, "ovixSetTimeMngParam succ");
    else
        LOG_DEV(5, F, "ovixSetTimeMngParam failed");
    result = static_cast<int32_t>(rc);
}
