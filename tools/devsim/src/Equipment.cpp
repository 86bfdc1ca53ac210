#include "devsim/Equipment.h"

#include "DeviceSystemSim.h"
#include "MediaSender.h"
#include "SimInternal.h"
#include "WireNames.h"
#include "devsim/AlarmTexts.h"
#include "runlog.h"

#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>

namespace devsim {

namespace {

namespace wtype = vexawire::type;
namespace wmember = vexawire::member;

constexpr const char* kSchema = "http://www.vexadev.local/ver20/XMLSchema";
constexpr const char* kXmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr size_t kSeenCap = 4096;  // requests kept for inspection

std::string compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    return Json::writeString(b, v);
}

bool parseJson(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder b;
    b["collectComments"] = false;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    return r->parse(text.data(), text.data() + text.size(), &out, nullptr);
}

std::string str(const Json::Value& frame, const char* name) {
    const Json::Value* v = frame.find(name, name + std::strlen(name));
    return v && v->isString() ? v->asString() : std::string();
}

int intOf(const Json::Value& frame, const char* name, int dflt) {
    const Json::Value* v = frame.find(name, name + std::strlen(name));
    return v && v->isInt() ? v->asInt() : dflt;
}

// ----- model answers

Answer modelAnswer(const Json::Value& doc, std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
    Json::Value m(Json::objectValue);
    m["data"] = compact(doc);
    return Answer::with(std::move(m), delay);
}

Json::Value okDoc(Json::Value data = Json::Value(Json::objectValue)) {
    Json::Value d(Json::objectValue);
    d["status"] = 200;
    d["data"] = std::move(data);
    return d;
}

Json::Value errDoc(int status, const std::string& code, const char* msg) {
    Json::Value d(Json::objectValue);
    d["status"] = status;
    if (!code.empty()) d["code"] = code;
    d["errorMsg"] = msg;
    return d;
}

// Panel error codes (model "code" texts).
const char* const kArmed = "0x01400015";
const char* const kFaulty = "0x01400019";
const char* const kNoArea = "0x0140001a";

Json::Value badParameters() { return errDoc(400, "", "badParameters"); }

// ----- ovix answers

constexpr size_t kMaxXmlBody = 1024 * 1024;
constexpr int kMaxXmlDepth = 64;

// TinyXML has no depth limit, stops at a NUL and steps past the end of a text cut inside a
// multi-byte sequence: such bodies are refused before it sees them.
bool xmlSafe(const std::string& s) {
    if (s.size() > kMaxXmlBody || s.find('\0') != std::string::npos) return false;
    for (size_t back = 1; back <= 3 && back <= s.size(); ++back) {
        const unsigned char c = static_cast<unsigned char>(s[s.size() - back]);
        const size_t seqLen = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (seqLen > back) return false;
    }
    int depth = 0;
    for (size_t i = s.find('<'); i != std::string::npos && i + 1 < s.size(); i = s.find('<', i + 1)) {
        const char next = s[i + 1];
        if (next == '/') {
            depth -= depth > 0 ? 1 : 0;
        } else if (next != '?' && next != '!') {
            const size_t gt = s.find('>', i);
            if (gt == std::string::npos) break;
            if (s[gt - 1] != '/' && ++depth > kMaxXmlDepth) return false;
            i = gt;
        }
    }
    return true;
}

// A request body as a document with one root element (named `root` unless null) and nothing
// but blanks, the declaration, processing instructions and comments beside it.
bool readXml(const std::string& body, const char* root, TiXmlDocument& doc) {
    if (!xmlSafe(body)) return false;
    const char* rest = doc.Parse(body.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (doc.Error() || !doc.RootElement() || (rest && rest[strspn(rest, " \t\r\n")])) return false;
    int elements = 0;
    for (const TiXmlNode* n = doc.FirstChild(); n; n = n->NextSibling()) {
        const int t = n->Type();
        if (t == TiXmlNode::TINYXML_ELEMENT)
            ++elements;
        else if (t != TiXmlNode::TINYXML_COMMENT && t != TiXmlNode::TINYXML_DECLARATION &&
                 !(t == TiXmlNode::TINYXML_UNKNOWN && n->ValueStr().compare(0, 1, "?") == 0))
            return false;
    }
    return elements == 1 && (!root || doc.RootElement()->ValueStr() == root);
}

const TiXmlElement* findElement(const TiXmlNode* parent, const char* name) {
    for (const TiXmlElement* e = parent->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (e->ValueStr() == name) return e;
        if (const TiXmlElement* inner = findElement(e, name)) return inner;
    }
    return nullptr;
}

// Text of the first element `name` in document order; false when there is none.
bool xmlText(const TiXmlDocument& doc, const char* name, std::string& out) {
    const TiXmlElement* e = findElement(&doc, name);
    if (!e) return false;
    out = e->GetText() ? e->GetText() : "";
    return true;
}

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

const char* statusString(int statusCode) {
    switch (statusCode) {
        case 0:
        case 1:
            return "OK";
        case 2:
            return "Device Busy";
        case 3:
            return "Device Error";
        case 4:
            return "Invalid Operation";
        case 5:
            return "Invalid Format";
        case 6:
            return "Content Error";
        case 7:
            return "Reboot Required";
    }
    return "Unknown";
}

std::string responseStatusXml(const std::string& url, int statusCode, const std::string& sub) {
    std::string x = kXmlDecl;
    x += "<ResponseStatus version=\"2.0\" xmlns=\"";
    x += kSchema;
    x += "\">\n<requestURL>" + xmlEscape(url) + "</requestURL>\n<statusCode>" + std::to_string(statusCode) +
         "</statusCode>\n<statusString>" + statusString(statusCode) + "</statusString>\n<subStatusCode>" +
         xmlEscape(sub) + "</subStatusCode>\n</ResponseStatus>\n";
    return x;
}

std::string responseStatusJson(const std::string& url, int statusCode, const std::string& sub) {
    Json::Value d(Json::objectValue);
    d["requestURL"] = url;
    d["statusCode"] = statusCode;
    d["statusString"] = statusString(statusCode);
    d["subStatusCode"] = sub;
    return compact(d);
}

std::string openRoot(const char* name, const std::string& attrs = "") {
    std::string x = kXmlDecl;
    x += "<";
    x += name;
    x += " version=\"2.0\" xmlns=\"";
    x += kSchema;
    x += "\"" + attrs + ">\n";
    return x;
}

std::string elem(const char* name, const std::string& text) {
    return std::string("<") + name + ">" + xmlEscape(text) + "</" + name + ">\n";
}

// ----- clock

// "CST-8:00:00" (POSIX: minutes west are positive) to minutes east of UTC.
bool parseTimeZone(const std::string& tz, int& minutesEast) {
    size_t i = 0;
    while (i < tz.size() && std::isalpha(static_cast<unsigned char>(tz[i]))) ++i;
    if (i == 0 || i >= tz.size()) return false;
    int sign = 1;
    if (tz[i] == '+' || tz[i] == '-') sign = tz[i++] == '-' ? -1 : 1;
    int h = 0, m = 0, sec = 0;
    int n = 0;
    if (std::sscanf(tz.c_str() + i, "%d%n", &h, &n) != 1 || h < 0 || h > 14) return false;
    i += static_cast<size_t>(n);
    if (i < tz.size() && tz[i] == ':') {
        if (std::sscanf(tz.c_str() + i, ":%d%n", &m, &n) != 1 || m < 0 || m > 59) return false;
        i += static_cast<size_t>(n);
        if (i < tz.size() && tz[i] == ':') {
            if (std::sscanf(tz.c_str() + i, ":%d%n", &sec, &n) != 1 || sec < 0 || sec > 59) return false;
            i += static_cast<size_t>(n);
        }
    }
    minutesEast = -sign * (h * 60 + m);
    return true;
}

// "YYYY-MM-DDThh:mm:ss" (anything after the seconds ignored) as seconds of a UTC-like clock.
bool parseWallTime(const std::string& t, int64_t& out) {
    int Y, M, D, h, m, s;
    char sep = 0;
    if (std::sscanf(t.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &Y, &M, &D, &sep, &h, &m, &s) != 7) return false;
    if ((sep != 'T' && sep != ' ') || Y < 1970 || M < 1 || M > 12 || D < 1 || D > 31 || h > 23 || m > 59 || s > 60)
        return false;
    std::tm tm{};
    tm.tm_year = Y - 1900;
    tm.tm_mon = M - 1;
    tm.tm_mday = D;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    out = static_cast<int64_t>(timegm(&tm));
    return true;
}

int64_t nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string formatWallTime(int64_t wall, int minutesEast) {
    const time_t t = static_cast<time_t>(wall);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[48];
    const int off = minutesEast < 0 ? -minutesEast : minutesEast;
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, minutesEast < 0 ? '-' : '+', off / 60, off % 60);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Builders

std::string wrapModelBody(int configType, const std::string& body) {
    switch (configType) {
        case 0:
            return "{}";
        case 1:
            return "{\r\n\"data\": {\r\n\"Value\": " + body + "}\r\n}";
        case 2:
            return "{\r\n\"data\":\r\n" + body + "}";
    }
    return std::string();
}

Json::Value configRequest(const std::string& domain, const std::string& identifier, int configType,
                          const std::string& body, uint32_t seq, const std::string& subId) {
    Json::Value f(Json::objectValue);
    f[wmember::type] = wtype::config;
    f[wmember::seq] = seq;
    f["configType"] = configType;
    f["target"] = "global";
    f["subId"] = subId;
    f["scope"] = "global";
    f["domain"] = domain;
    f["identifier"] = identifier;
    f["body"] = wrapModelBody(configType, body);
    return f;
}

Json::Value ovixRequest(const std::string& method, const std::string& url, const std::string& body, uint32_t seq) {
    Json::Value f(Json::objectValue);
    f[wmember::type] = wtype::ovix;
    f[wmember::seq] = seq;
    f["request"] = method + " " + url;
    f["body"] = body;
    return f;
}

// ---------------------------------------------------------------------------------------------
// Equipment

namespace {

std::string keyOf(const Json::Value& req, std::string* method = nullptr, std::string* url = nullptr) {
    const std::string type = str(req, wmember::type);
    if (type == wtype::config) return str(req, "domain") + "/" + str(req, "identifier");
    if (type == wtype::ovix) {
        const std::string line = str(req, "request");
        const size_t sp = line.find(' ');
        const std::string u = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        if (method) *method = sp == std::string::npos ? line : line.substr(0, sp);
        if (url) *url = u;
        return u.substr(0, u.find('?'));
    }
    if (type == wtype::media) {
        const std::string op = str(req, "op");
        return op.empty() ? type : type + "/" + op;
    }
    return type;
}

Answer deviceErrorAnswer(const Json::Value& req, const Fault& f) {
    const std::string type = str(req, wmember::type);
    Json::Value m(Json::objectValue);
    if (type == wtype::config || type == wtype::ferro) {
        m["data"] = compact(errDoc(f.status, f.code, "device error"));
    } else if (type == wtype::ovix) {
        std::string url;
        keyOf(req, nullptr, &url);
        m["body"] = responseStatusXml(url, f.statusCode, f.subStatusCode);
    } else {
        m["error"] = f.transportError;
    }
    return Answer::with(std::move(m), f.delay);
}

Answer garbageAnswer(const Json::Value& req, const Fault& f) {
    const std::string type = str(req, wmember::type);
    Json::Value m(Json::objectValue);
    if (type == wtype::ovix)
        m["body"] = f.garbage.empty() ? "Service Unavailable: device busy, retry later" : f.garbage;
    else if (type == wtype::config || type == wtype::ferro)
        m["data"] = f.garbage.empty() ? "<html><body><h1>500 Internal Server Error</h1></body></html>" : f.garbage;
    else if (type == wtype::getConfig)
        m["audioCodec"] = f.garbage.empty() ? "G.711" : f.garbage;
    else if (type == wtype::media)
        m["error"] = f.garbage.empty() ? "busy" : f.garbage;
    else
        m["error"] = f.transportError;
    return Answer::with(std::move(m), f.delay);
}

}  // namespace

bool Equipment::keyMatches(const std::string& entry, const std::string& key) {
    if (key.size() < entry.size() || key.compare(0, entry.size(), entry) != 0) return false;
    return key.size() == entry.size() || key[entry.size()] == '/' || (!entry.empty() && entry.back() == '/');
}

bool Equipment::entryHits(const std::string& entry, const SeenRequest& seen) {
    if (entry.find('?') == std::string::npos) return keyMatches(entry, seen.key);
    return seen.type == wtype::ovix && seen.url.compare(0, entry.size(), entry) == 0;
}

RequestHandler Equipment::handler() {
    std::shared_ptr<Equipment> self = shared_from_this();
    return [self](const Json::Value& req) { return self->handle(req); };
}

Answer Equipment::handle(const Json::Value& req) {
    Fault hit;
    bool haveFault = false;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        SeenRequest s;
        s.type = str(req, wmember::type);
        s.key = keyOf(req, &s.method, &s.url);
        s.body = str(req, "body");
        s.frame = req;
        if (m_seen.size() >= kSeenCap) m_seen.erase(m_seen.begin(), m_seen.begin() + kSeenCap / 2);
        m_seen.push_back(std::move(s));
        const SeenRequest& seen = m_seen.back();
        if (!m_answerOnly.empty() && std::none_of(m_answerOnly.begin(), m_answerOnly.end(),
                                                  [&](const std::string& e) { return entryHits(e, seen); }))
            return Answer::none();
        for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
            const bool hits =
                it->match.empty() || std::any_of(it->match.begin(), it->match.end(),
                                                 [&](const std::string& e) { return entryHits(e, seen); });
            if (!hits) continue;
            hit = *it;
            haveFault = true;
            if (it->times > 0 && --it->times == 0) m_faults.erase(it);
            break;
        }
    }
    if (haveFault) {
        switch (hit.action) {
            case FaultAction::Silent:
                return Answer::none();
            case FaultAction::TransportError: {
                Json::Value m(Json::objectValue);
                m["error"] = hit.transportError;
                return Answer::with(std::move(m), hit.delay);
            }
            case FaultAction::DeviceError:
                return deviceErrorAnswer(req, hit);
            case FaultAction::Garbage:
                return garbageAnswer(req, hit);
            case FaultAction::MissingError: {
                Answer a = str(req, wmember::type) == wtype::media ? Answer() : serve(req);
                a.later = nullptr;
                if (!a.members.isObject()) a.members = Json::Value(Json::objectValue);
                a.members[wmember::error] = Json::Value();
                a.delay += hit.delay;
                return a;
            }
            case FaultAction::Answer:
                break;
        }
    }
    Answer a = serve(req);
    if (haveFault) a.delay += hit.delay;
    return a;
}

void Equipment::addFault(Fault f) {
    std::lock_guard<std::mutex> lk(m_mx);
    if (f.times == 0) return;
    m_faults.push_back(std::move(f));
}

void Equipment::clearFaults() {
    std::lock_guard<std::mutex> lk(m_mx);
    m_faults.clear();
}

void Equipment::answerOnly(std::vector<std::string> keys) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_answerOnly = std::move(keys);
}

std::vector<SeenRequest> Equipment::requests() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_seen;
}

std::vector<SeenRequest> Equipment::requestsFor(const std::string& key) const {
    std::lock_guard<std::mutex> lk(m_mx);
    std::vector<SeenRequest> out;
    for (const auto& s : m_seen)
        if (entryHits(key, s)) out.push_back(s);
    return out;
}

void Equipment::clearRequests() {
    std::lock_guard<std::mutex> lk(m_mx);
    m_seen.clear();
}

// ---------------------------------------------------------------------------------------------
// PanelModel

PanelModel::PanelModel(const PanelOptions& o) : m_opt(o) {
    if (m_opt.subsystems < 1) m_opt.subsystems = 1;
    if (m_opt.zones < 0) m_opt.zones = 0;
    for (int i = 1; i <= m_opt.subsystems; ++i) {
        Sub s;
        s.st.id = i;
        m_subs.push_back(s);
    }
    for (int z = 1; z <= m_opt.zones; ++z) {
        ZoneState st;
        st.id = z;
        st.subsystem = (z - 1) % m_opt.subsystems + 1;
        m_zones.push_back(st);
    }
    m_intercom = Json::Value(Json::objectValue);
    m_intercom["enabled"] = true;
    m_intercom["callerType"] = "host";
    m_intercom["recheckPriorityMode"] = "siren";
    Json::Value sirens(Json::arrayValue), support(Json::arrayValue);
    Json::Value s1(Json::objectValue);
    s1["childDevID"] = "1";
    sirens.append(s1);
    support.append(s1);
    Json::Value s2(Json::objectValue);
    s2["childDevID"] = "2";
    support.append(s2);
    m_intercom["linkageSirens"] = sirens;
    m_intercom["supportLinkageSirens"] = support;
    Json::Value sip(Json::objectValue);
    sip["enabled"] = false;
    sip["registerStatus"] = "unregistered";
    m_intercom["SIPCfg"] = sip;
}

std::shared_ptr<PanelModel> makePanel(const PanelOptions& o) { return std::make_shared<PanelModel>(o); }

PanelModel::Sub* PanelModel::findSub(int id) {
    return id >= 1 && id <= static_cast<int>(m_subs.size()) ? &m_subs[static_cast<size_t>(id - 1)] : nullptr;
}

PanelModel::Sub& PanelModel::subRef(int id) {
    Sub* s = findSub(id);
    if (!s) throw std::out_of_range("no subsystem " + std::to_string(id));
    return *s;
}

ZoneState& PanelModel::zoneRef(int id) {
    if (id < 1 || id > static_cast<int>(m_zones.size())) throw std::out_of_range("no zone " + std::to_string(id));
    return m_zones[static_cast<size_t>(id - 1)];
}

bool PanelModel::subHasFault(int id) const {
    return std::any_of(m_zones.begin(), m_zones.end(),
                       [&](const ZoneState& z) { return z.subsystem == id && z.fault && !z.bypassed; });
}

std::vector<SubsystemState> PanelModel::subsystems() const {
    std::lock_guard<std::mutex> lk(m_mx);
    std::vector<SubsystemState> out;
    for (const auto& s : m_subs) out.push_back(s.st);
    return out;
}

SubsystemState PanelModel::subsystem(int id) const {
    std::lock_guard<std::mutex> lk(m_mx);
    if (id < 1 || id > static_cast<int>(m_subs.size())) throw std::out_of_range("no subsystem " + std::to_string(id));
    return m_subs[static_cast<size_t>(id - 1)].st;
}

std::vector<ZoneState> PanelModel::zones() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_zones;
}

ZoneState PanelModel::zone(int id) const {
    std::lock_guard<std::mutex> lk(m_mx);
    if (id < 1 || id > static_cast<int>(m_zones.size())) throw std::out_of_range("no zone " + std::to_string(id));
    return m_zones[static_cast<size_t>(id - 1)];
}

void PanelModel::setSubsystemEnabled(int id, bool enabled) {
    std::lock_guard<std::mutex> lk(m_mx);
    subRef(id).st.enabled = enabled;
}

void PanelModel::setArm(int id, const std::string& arm) {
    std::lock_guard<std::mutex> lk(m_mx);
    subRef(id).st.arm = arm.empty() ? "disarm" : arm;
}

void PanelModel::setZoneFault(int id, bool fault) {
    std::lock_guard<std::mutex> lk(m_mx);
    zoneRef(id).fault = fault;
}

void PanelModel::setZoneBypass(int id, bool bypassed) {
    std::lock_guard<std::mutex> lk(m_mx);
    ZoneState& z = zoneRef(id);
    z.bypassed = bypassed;
    z.deactivationMode = bypassed ? "entirely" : "off";
}

void PanelModel::setZoneTamper(int id, bool tamper) {
    std::lock_guard<std::mutex> lk(m_mx);
    zoneRef(id).tamper = tamper;
}

void PanelModel::triggerZone(int id) {
    std::lock_guard<std::mutex> lk(m_mx);
    ZoneState& z = zoneRef(id);
    z.alarm = true;
    subRef(z.subsystem).st.alarm = true;
}

void PanelModel::setRearmIsError(bool on) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.rearmIsError = on;
}

void PanelModel::setArmModeProcess(bool on) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.armModeProcess = on;
}

void PanelModel::setLocalDateTime(const std::string& text) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_fixedTime = text;
}

Json::Value PanelModel::eventSubscription() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_subscription;
}

int PanelModel::reboots() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_reboots;
}

Answer PanelModel::serve(const Json::Value& req) {
    if (str(req, wmember::type) != wtype::config) return defaultAnswer(req);
    const int configType = intOf(req, "configType", 0);
    const std::string body = str(req, "body");
    // Undo the gateway's wrapping: kind 2 carries data.Value, kind 3 data.
    Json::Value data;
    bool bodyOk = true;
    if (configType != 0 && !body.empty()) {
        Json::Value outer;
        bodyOk = parseJson(body, outer) && outer.isObject() && outer.isMember("data");
        if (bodyOk) {
            data = outer["data"];
            if (configType == 1) {
                bodyOk = data.isObject() && data.isMember("Value");
                data = bodyOk ? data["Value"] : Json::Value();
            }
        }
    }
    std::lock_guard<std::mutex> lk(m_mx);
    Json::Value doc = command(str(req, "domain"), str(req, "identifier"), configType, str(req, "subId"), data, bodyOk);
    Answer a = modelAnswer(doc);
    if (str(req, "domain") == "SystemMaintenance" && str(req, "identifier") == "SystemReboot")
        a.restartAfter = m_opt.rebootDelay;
    return a;
}

Json::Value PanelModel::command(const std::string& domain, const std::string& id, int configType,
                                const std::string& subId, const Json::Value& data, bool bodyOk) {
    const bool write = configType != 0;
    const Json::Value peripheralAnswer = peripheralCommand(
        m_peripherals, domain, id, data, bodyOk, [&](const std::vector<Json::Value>& all) { return page(data, all); });
    if (!peripheralAnswer.isNull()) return peripheralAnswer;
    if (domain == "AlarmSubSystemMgr") {
        if (id == "CtrlSubSystemArmList" || id == "CtrlSubSystemDisarmList" || id == "CtrlSubSystemClearAlarmList")
            return bodyOk ? control(id, data) : badParameters();
        if (id == "SetSubSystemFaultArmConfirm") return bodyOk ? faultArmConfirm(data) : badParameters();
        if (id == "SearchSubSystemStatus") return bodyOk ? subsystemSearch(data) : badParameters();
        if (id == "SearchSubSystemArmStatus") {
            Json::Value list(Json::arrayValue);
            for (const auto& s : m_subs) {
                Json::Value e(Json::objectValue);
                e["id"] = s.st.id;
                e["armStatus"] = s.st.arm;
                e["enabled"] = s.st.enabled;
                list.append(e);
            }
            Json::Value d(Json::objectValue);
            d["SubSysArmStatusList"] = list;
            return okDoc(d);
        }
    } else if (domain == "ZoneMgr") {
        if (id == "SearchZoneStatus") return bodyOk ? zoneSearch(data, false) : badParameters();
        if (id == "SearchZoneBasicInfo") return bodyOk ? zoneSearch(data, true) : badParameters();
        if (id == "SingleZoneBasicInfo") {
            char* end = nullptr;
            const long n = std::strtol(subId.c_str(), &end, 10);
            if (subId.empty() || *end || n < 1 || n > static_cast<long>(m_zones.size())) return badParameters();
            ZoneState& z = m_zones[static_cast<size_t>(n - 1)];
            if (write) {
                if (!bodyOk || !data.isObject()) return badParameters();
                const std::string mode = data.get("deactivationMode", "").isString()
                                             ? data.get("deactivationMode", "").asString()
                                             : std::string();
                if (!mode.empty()) {
                    z.deactivationMode = mode;
                    z.bypassed = mode == "entirely";
                }
                return okDoc();
            }
            Json::Value d(Json::objectValue);
            d["zoneID"] = z.id;
            d["zoneName"] = "Zone " + std::to_string(z.id);
            d["deactivationMode"] = z.deactivationMode;
            return okDoc(d);
        }
    } else if (domain == "InfoMgr") {
        if (id == "DeviceDescription") {
            Json::Value d(Json::objectValue);
            d["deviceName"] = m_opt.deviceName;
            d["model"] = m_opt.model;
            d["serialNumber"] = m_opt.serialNumber;
            d["macAddress"] = m_opt.macAddress;
            d["deviceType"] = "SecurityCP";
            d["subSystemNum"] = static_cast<int>(m_subs.size());
            d["zoneNum"] = static_cast<int>(m_zones.size());
            return okDoc(d);
        }
        if (id == "DeviceVersion") {
            Json::Value d(Json::objectValue);
            d["firmwareVersion"] = m_opt.firmwareVersion;
            d["firmwareReleasedDate"] = m_opt.firmwareReleasedDate;
            d["hardwareVersion"] = m_opt.hardwareVersion;
            return okDoc(d);
        }
    } else if (domain == "TimeMgr" && id == "LocalDateTime") {
        if (write) {
            int64_t wall = 0;
            if (!bodyOk || !data.isObject() || !data.get("localDateTime", 0).isString() ||
                !parseWallTime(data["localDateTime"].asString(), wall))
                return badParameters();
            m_fixedTime = data["localDateTime"].asString();
            return okDoc();
        }
        Json::Value d(Json::objectValue);
        d["localDateTime"] = m_fixedTime.empty()
                                 ? formatWallTime(nowSeconds() + m_opt.utcOffsetMinutes * 60, m_opt.utcOffsetMinutes)
                                 : m_fixedTime;
        return okDoc(d);
    } else if (domain == "EventSubscription" && id == "AddEventSubscribeCfg") {
        m_subscription = bodyOk && data.isObject() ? data : Json::Value(Json::objectValue);
        return okDoc();
    } else if (domain == "SystemMaintenance" && id == "SystemReboot") {
        ++m_reboots;
        return okDoc();
    } else if (domain == "AlarmSystemMgr") {
        if (id == "HostIntercomParam") {
            if (write) {
                if (!bodyOk || !data.isObject()) return badParameters();
                for (const auto& k : data.getMemberNames()) m_intercom[k] = data[k];
                return okDoc();
            }
            return okDoc(m_intercom);
        }
        if (id == "CtrlHostIntercomMode") {
            if (!bodyOk || !data.isObject() || !data.get("mode", 0).isString()) return badParameters();
            Json::Value d(Json::objectValue);
            d["commandStatus"] = "success";
            d["intercomMode"] = data["mode"].asString();
            d["audioTimeLeft"] = data.get("alarmTime", 0).isInt() ? data["alarmTime"].asInt() : 60;
            return okDoc(d);
        }
    } else if (domain == "DynamicCapability" && id == "GetFunctions") {
        const std::string what = bodyOk && data.isObject() && data.get("identifier", 0).isString()
                                     ? data["identifier"].asString()
                                     : std::string();
        Json::Value d(Json::objectValue);
        d["identifier"] = what;
        Json::Value actions(Json::arrayValue);
        if (what == "VoiceTalk") {
            Json::Value type(Json::objectValue);
            type["type"] = "integer";
            type["default"] = m_opt.audioCodec;
            Json::Value a(Json::objectValue);
            a["identifier"] = "StartVoiceTalk";
            a["input"]["schema"]["properties"]["AudioCodeInfo"]["properties"]["type"] = type;
            actions.append(a);
        } else if (what == "AlarmSystemMgr") {
            d["isSptTwoWayAudioParamCfg"] = true;
            d["isSptTwoWayAudioModeControl"] = true;
            for (const char* n : {"HostIntercomParam", "CtrlHostIntercomMode"}) {
                Json::Value a(Json::objectValue);
                a["identifier"] = n;
                actions.append(a);
            }
        }
        d["actions"] = actions;
        return okDoc(d);
    } else if (domain == "SirenMgr" && id == "SirenIntercomParam") {
        Json::Value d(Json::objectValue);
        d["childDevID"] = subId;
        d["intercomEnabled"] = true;
        d["intercomDuration"] = 30;
        d["intercomMode"] = "twoWay";
        return okDoc(d);
    } else if (domain == "EventMessageMgr" && id == "EventMessageSupportInfo") {
        Json::Value d(Json::objectValue);
        Json::Value list(Json::arrayValue);
        for (const char* t : {"zoneAlarm", "tamperAlarm", "faultAlarm", "armDisarm", "systemStatus"}) {
            Json::Value e(Json::objectValue);
            e["eventType"] = t;
            e["isSupportMessage"] = true;
            list.append(e);
        }
        d["EventMessageList"] = list;
        d["maxMessageLength"] = 128;
        return okDoc(d);
    }
    return errDoc(404, "", "notSupport");
}

Json::Value PanelModel::control(const std::string& identifier, const Json::Value& data) {
    if (!data.isObject() || !data.get("operationMode", 0).isString()) return badParameters();
    const std::string mode = data["operationMode"].asString();
    const bool arm = identifier == "CtrlSubSystemArmList";
    std::vector<Sub*> targets;
    if (mode == "all") {
        for (auto& s : m_subs)
            if (s.st.enabled) targets.push_back(&s);
        if (targets.empty()) return errDoc(400, kNoArea, "theAreaIsDisabled");
    } else if (mode == "assigned") {
        const Json::Value& ids = data["subSystemIDList"];
        if (!ids.isArray() || ids.empty()) return badParameters();
        for (const auto& v : ids) {
            if (!v.isInt()) return badParameters();
            Sub* s = findSub(v.asInt());
            if (!s || !s->st.enabled) return errDoc(400, kNoArea, "theAreaIsDisabled");
            if (std::find(targets.begin(), targets.end(), s) == targets.end()) targets.push_back(s);
        }
    } else {
        return badParameters();
    }

    if (arm) {
        const Json::Value& t = data["armType"];
        if (!t.isNull() && !t.isString()) return badParameters();
        const std::string type = t.isString() && !t.asString().empty() ? t.asString() : "away";
        if (m_opt.rearmIsError) {
            // Arming everything skips what is armed already; naming an armed area is refused.
            if (mode == "all")
                targets.erase(
                    std::remove_if(targets.begin(), targets.end(), [](const Sub* s) { return s->st.arm != "disarm"; }),
                    targets.end());
            if (targets.empty() ||
                std::any_of(targets.begin(), targets.end(), [](const Sub* s) { return s->st.arm != "disarm"; }))
                return errDoc(400, kArmed, "systemIsArmed");
        }
        bool faulty = false;
        for (Sub* s : targets)
            if (subHasFault(s->st.id)) {
                s->pendingArm = type;
                faulty = true;
            }
        if (faulty) return errDoc(400, kFaulty, "theDetectorIsInFaultStatus");
        for (Sub* s : targets) {
            s->st.arm = type;
            s->pendingArm.clear();
        }
    } else if (identifier == "CtrlSubSystemDisarmList") {
        for (Sub* s : targets) {
            s->st.arm = "disarm";
            s->pendingArm.clear();
        }
    } else {
        for (Sub* s : targets) {
            s->st.alarm = false;
            for (auto& z : m_zones)
                if (z.subsystem == s->st.id) z.alarm = false;
        }
    }
    Json::Value d(Json::objectValue);
    if (m_opt.armModeProcess) d["armMode"] = "process";
    return okDoc(d);
}

Json::Value PanelModel::faultArmConfirm(const Json::Value& data) {
    if (!data.isArray() || data.empty()) return badParameters();
    std::vector<Sub*> targets;
    for (const auto& e : data) {
        if (!e.isObject() || !e["SubSys"].isObject() || !e["SubSys"]["id"].isInt()) return badParameters();
        Sub* s = findSub(e["SubSys"]["id"].asInt());
        if (!s || !s->st.enabled) return errDoc(400, kNoArea, "theAreaIsDisabled");
        targets.push_back(s);
    }
    for (Sub* s : targets) {
        if (s->st.arm == "disarm") s->st.arm = s->pendingArm.empty() ? "away" : s->pendingArm;
        s->pendingArm.clear();
    }
    return okDoc();
}

Json::Value PanelModel::page(const Json::Value& cond, const std::vector<Json::Value>& all) {
    if (!cond.isObject() || !cond.get("maxResults", 0).isInt() || !cond.get("searchResultPosition", 0).isInt())
        return badParameters();
    const int maxResults = cond["maxResults"].asInt();
    const int pos = cond["searchResultPosition"].asInt();
    if (maxResults < 1 || pos < 1) return badParameters();
    const size_t total = all.size();
    const size_t start = static_cast<size_t>(pos - 1);
    size_t n = static_cast<size_t>(maxResults);
    if (m_opt.pageLimit > 0) n = std::min(n, static_cast<size_t>(m_opt.pageLimit));
    n = start >= total ? 0 : std::min(n, total - start);
    Json::Value d(Json::objectValue);
    d["searchID"] = cond.get("searchID", "").isString() ? cond.get("searchID", "").asString() : std::string();
    d["responseStatusStrg"] = n == 0 ? "NO MATCH" : (start + n < total ? "MORE" : "OK");
    d["responseStatus"] = d["responseStatusStrg"];
    d["numOfMatches"] = static_cast<Json::UInt>(n);
    d["totalMatches"] = static_cast<Json::UInt>(total);
    Json::Value list(Json::arrayValue);
    for (size_t i = 0; i < n; ++i) list.append(all[start + i]);
    d["matchResults"] = list;
    return okDoc(d);
}

Json::Value PanelModel::subsystemSearch(const Json::Value& cond) {
    std::vector<Json::Value> all;
    for (const auto& s : m_subs) {
        Json::Value e(Json::objectValue);
        e["subSystemID"] = s.st.id;
        e["enabled"] = s.st.enabled;
        e["subSystemArmStatus"] = s.st.arm;
        e["alarmStatus"] = s.st.alarm ? "alarm" : "normal";
        all.push_back(e);
    }
    return page(cond, all);
}

Json::Value PanelModel::zoneSearch(const Json::Value& cond, bool basic) {
    std::vector<int> only;
    if (cond.isObject() && cond.isMember("searchByZoneIDs")) {
        if (!cond["searchByZoneIDs"].isArray()) return badParameters();
        for (const auto& v : cond["searchByZoneIDs"]) {
            if (!v.isInt()) return badParameters();
            only.push_back(v.asInt());
        }
    }
    std::vector<Json::Value> all;
    for (const auto& z : m_zones) {
        if (!only.empty() && std::find(only.begin(), only.end(), z.id) == only.end()) continue;
        const Sub& s = m_subs[static_cast<size_t>(z.subsystem - 1)];
        Json::Value e(Json::objectValue);
        e["zoneID"] = z.id;
        if (basic) {
            e["zoneName"] = "Zone " + std::to_string(z.id);
            e["deviceNo"] = z.id;
            e["deactivationMode"] = z.deactivationMode;
            e["oneTimeDeactivationMode"] = "off";
            e["detectorType"] = "passiveInfraredDetector";
            Json::Value link(Json::objectValue);
            link["subSystemNo"] = z.subsystem;
            link["linkageSubSystem"] = z.subsystem;
            Json::Value links(Json::arrayValue);
            links.append(link);
            e["linkageSubSystems"] = links;
        } else {
            e["onlineStatus"] = "online";
            e["heartbeatStatus"] = "normal";
            e["trigger"] = z.alarm ? "triggered" : "notTriggered";
            e["faultStatus"] = z.fault ? "fault" : "normal";
            e["bypassStatus"] = z.bypassed ? "bypassed" : "notBypassed";
            e["shieldedStatus"] = "notShielded";
            e["armStatus"] = s.st.arm == "disarm" ? "disarmed" : "armed";
            e["alarmStatus"] = z.alarm ? "alarm" : "normal";
            e["antiDismantle"] = z.tamper ? "abnormal" : "normal";
            e["batteryStatus"] = "normal";
            e["batteryValue"] = 100;
            e["signalIntensityValue"] = 90;
            e["temperatureValue"] = 24;
            e["subSystemNo"] = z.subsystem;
        }
        all.push_back(e);
    }
    return page(cond, all);
}

// ---------------------------------------------------------------------------------------------
// CameraModel

CameraOptions cameraDefaults() {
    CameraOptions o;
    o.recordingDays = 3;  // a memory card holds less than a recorder's disks
    return o;
}

CameraOptions recorderDefaults() {
    CameraOptions o;
    o.deviceName = "Network Video Recorder";
    o.deviceDescription = "NVR";
    o.model = "VX-NVR7608";
    o.serialNumber = "VXNVR7608-20240101AA0001";
    o.macAddress = "02:5e:00:30:40:01";
    o.firmwareVersion = "V4.6.1";
    o.firmwareReleasedDate = "build 231205";
    o.deviceType = "NVR";
    o.analogChannels = 4;
    o.ipChannels = 4;
    o.audioChannels = 4;
    o.alarmInputs = 8;
    o.disks = {DiskState{1, "ok", 3815447, 1048576}, DiskState{2, "ok", 3815447, 2097152}};
    o.loopEnable = false;
    o.timeTypeSTD = "false";
    return o;
}

CameraModel::CameraModel(const CameraOptions& o) : m_opt(o), m_audioCodec(o.audioCodec) {}

std::shared_ptr<CameraModel> makeCamera(const CameraOptions& o) { return std::make_shared<CameraModel>(o); }

std::vector<DiskState> CameraModel::disks() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_opt.disks;
}

void CameraModel::setDisks(std::vector<DiskState> d) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.disks = std::move(d);
}

namespace {
DiskState& diskRef(std::vector<DiskState>& disks, int id) {
    for (auto& d : disks)
        if (d.id == id) return d;
    throw std::out_of_range("no disk " + std::to_string(id));
}
}  // namespace

void CameraModel::setDiskStatus(int id, const std::string& status) {
    std::lock_guard<std::mutex> lk(m_mx);
    diskRef(m_opt.disks, id).status = status;
}

void CameraModel::setDiskFree(int id, int64_t freeMb) {
    std::lock_guard<std::mutex> lk(m_mx);
    diskRef(m_opt.disks, id).freeMb = freeMb;
}

void CameraModel::setAllDisksFull() {
    std::lock_guard<std::mutex> lk(m_mx);
    for (auto& d : m_opt.disks) d.freeMb = 0;
}

void CameraModel::setLoopEnable(bool on) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.loopEnable = on;
}

bool CameraModel::loopEnable() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_opt.loopEnable;
}

void CameraModel::setLocalTime(const std::string& text) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_fixedTime = text;
}

std::string CameraModel::timeZone() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_opt.timeZone;
}

std::string CameraModel::timeMode() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_timeMode;
}

std::string CameraModel::httpHostDocument() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_httpHost;
}

Json::Value CameraModel::pictureServer() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_pictureServer;
}

std::string CameraModel::deviceName() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_opt.deviceName;
}

std::string CameraModel::localTimeText() const {
    if (!m_fixedTime.empty()) return m_fixedTime;
    int east = 0;
    if (!parseTimeZone(m_opt.timeZone, east)) east = 0;
    return formatWallTime(nowSeconds() + east * 60 + m_clockShift, east);
}

Answer CameraModel::serve(const Json::Value& req) {
    const std::string type = str(req, wmember::type);
    if (type == wtype::getConfig) {
        Json::Value m(Json::objectValue);
        std::lock_guard<std::mutex> lk(m_mx);
        m["audioCodec"] = m_audioCodec;
        return Answer::with(std::move(m));
    }
    if (type == wtype::media) {
        std::weak_ptr<Equipment> w = weak_from_this();
        return Answer::deferred([w, req](const std::shared_ptr<Responder>& r) {
            auto self = std::static_pointer_cast<CameraModel>(w.lock());
            if (self) self->media(req, r);
        });
    }
    if (type == wtype::ferro) {
        std::lock_guard<std::mutex> lk(m_mx);
        return ferroRequest(req, m_opt.rebootDelay);
    }
    if (type != wtype::ovix) return defaultAnswer(req);
    const std::string line = str(req, "request");
    const size_t sp = line.find(' ');
    const std::string method = sp == std::string::npos ? line : line.substr(0, sp);
    const std::string url = sp == std::string::npos ? std::string() : line.substr(sp + 1);
    Json::Value m(Json::objectValue);
    std::lock_guard<std::mutex> lk(m_mx);
    m["body"] = ovix(method, url, str(req, "body"));
    Answer a = Answer::with(std::move(m));
    if (method == "PUT" && url.substr(0, url.find('?')) == "/OVIX/System/reboot") a.restartAfter = m_opt.rebootDelay;
    return a;
}

std::string CameraModel::ovix(const std::string& method, const std::string& url, const std::string& body) {
    static const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE"};
    if (std::find_if(std::begin(kMethods), std::end(kMethods), [&](const char* x) { return method == x; }) ==
            std::end(kMethods) ||
        url.empty() || url[0] != '/' || url.find(' ') != std::string::npos)
        return responseStatusXml(url, 6, "badParameters");
    const std::string path = url.substr(0, url.find('?'));
    const auto ok = [&] { return responseStatusXml(url, 1, "ok"); };
    const auto bad = [&] { return responseStatusXml(url, 6, "badParameters"); };
    const auto wrongMethod = [&] { return responseStatusXml(url, 4, "methodNotAllowed"); };
    const bool get = method == "GET", put = method == "PUT";

    if (isNetworkPath(path))
        return networkRequest(m_opt.interfaces, method, path, body,
                              [&](int code, const char* sub) { return responseStatusXml(url, code, sub); });
    if (path == "/OVIX/System/deviceInfo") {
        if (get) {
            std::string x = openRoot("DeviceInfo");
            x += elem("deviceName", m_opt.deviceName) + elem("deviceID", m_opt.deviceId) +
                 elem("deviceDescription", m_opt.deviceDescription) + elem("systemContact", "VexaDev") +
                 elem("model", m_opt.model) + elem("serialNumber", m_opt.serialNumber) +
                 elem("macAddress", m_opt.macAddress) + elem("firmwareVersion", m_opt.firmwareVersion) +
                 elem("firmwareReleasedDate", m_opt.firmwareReleasedDate) + elem("bootVersion", "V1.3.4") +
                 elem("bootReleasedDate", "100316") + elem("hardwareVersion", m_opt.hardwareVersion) +
                 elem("encoderVersion", "V7.3") + elem("encoderReleasedDate", "build 230901") +
                 elem("deviceType", m_opt.deviceType) + elem("telecontrolID", "255");
            return x + "</DeviceInfo>\n";
        }
        if (put) {
            TiXmlDocument doc;
            std::string name;
            if (!readXml(body, "DeviceInfo", doc) || !xmlText(doc, "deviceName", name) ||
                trim(name).empty() || name.size() > 32)
                return bad();
            m_opt.deviceName = name;
            return ok();
        }
        return wrongMethod();
    }
    if (path == "/OVIX/System/time") {
        if (get) {
            std::string x = openRoot("Time");
            x += elem("timeMode", m_timeMode) + elem("localTime", localTimeText()) + elem("timeZone", m_opt.timeZone);
            return x + "</Time>\n";
        }
        if (put) {
            TiXmlDocument doc;
            std::string mode, local, tz;
            if (!readXml(body, "Time", doc)) return bad();
            int east = 0;
            const bool haveTz = xmlText(doc, "timeZone", tz);
            if (haveTz && !parseTimeZone(trim(tz), east)) return bad();
            const bool haveMode = xmlText(doc, "timeMode", mode);
            if (haveMode && mode != "manual" && mode != "NTP") return bad();
            int64_t wall = 0;
            const bool haveLocal = xmlText(doc, "localTime", local);
            if (haveLocal && !parseWallTime(trim(local), wall)) return bad();
            if (haveMode && mode == "manual" && !haveLocal) return bad();
            if (haveTz) m_opt.timeZone = trim(tz);
            if (haveMode) m_timeMode = mode;
            if (haveLocal) {
                if (!parseTimeZone(m_opt.timeZone, east)) east = 0;
                m_clockShift = wall - (nowSeconds() + east * 60);
                m_fixedTime.clear();
            }
            return ok();
        }
        return wrongMethod();
    }
    if (path == "/OVIX/System/time/timeZone") {
        if (get) return m_opt.timeZone;  // plain text on the device
        if (put) {
            int east = 0;
            std::string tz = trim(body);
            std::string inner;
            TiXmlDocument doc;
            if (readXml(body, nullptr, doc) && xmlText(doc, "timeZone", inner)) tz = trim(inner);
            if (!parseTimeZone(tz, east)) return bad();
            m_opt.timeZone = tz;
            return ok();
        }
        return wrongMethod();
    }
    if (path == "/OVIX/Event/notification/httpHosts/1") {
        if (put) {
            TiXmlDocument doc;
            if (!readXml(body, "HttpHostNotification", doc)) return bad();
            m_httpHost = body;
            return ok();
        }
        if (get) {
            if (!m_httpHost.empty()) return m_httpHost;
            std::string x = openRoot("HttpHostNotification");
            x += elem("id", "1") + elem("url", "") + elem("protocolType", "HTTP") + elem("parameterFormatType", "XML") +
                 elem("addressingFormatType", "ipaddress") + elem("ipAddress", "0.0.0.0") + elem("portNo", "80") +
                 elem("httpAuthenticationMethod", "none");
            return x + "</HttpHostNotification>\n";
        }
        return wrongMethod();
    }
    if (path == "/OVIX/System/PictureServer") {
        const auto status = [&](int code, const char* sub) {
            return m_opt.pictureServerXml ? responseStatusXml(url, code, sub) : responseStatusJson(url, code, sub);
        };
        if (put) {
            Json::Value v;
            if (!parseJson(body, v) || !v.isObject() || !v["PictureServerInformation"].isObject())
                return status(6, "badParameters");
            m_pictureServer = v;
            return status(1, "ok");
        }
        if (get) {
            if (m_pictureServer.isNull()) return status(4, "notSupport");
            return compact(m_pictureServer);
        }
        return status(4, "methodNotAllowed");
    }
    if (path == "/OVIX/ContentMgmt/Storage") {
        if (!get) return wrongMethod();
        std::string x = openRoot("storage");
        x += "<hddList size=\"" + std::to_string(m_opt.disks.size()) + "\">\n";
        for (const auto& d : m_opt.disks) {
            x += "<hdd>\n" + elem("id", std::to_string(d.id)) + elem("hddName", "hdd" + std::to_string(d.id)) +
                 elem("hddPath", "") + elem("hddType", "SATA") + elem("status", d.status) +
                 elem("capacity", std::to_string(d.capacityMb)) + elem("freeSpace", std::to_string(d.freeMb)) +
                 elem("property", "RW") + "</hdd>\n";
        }
        x += "</hddList>\n<nasList size=\"0\">\n</nasList>\n";
        return x + "</storage>\n";
    }
    if (path == "/OVIX/ContentMgmt/Storage/extension") {
        if (get) {
            std::string x = openRoot("storageExtension");
            x += elem("LoopEnable", m_opt.loopEnable ? "true" : "false");
            return x + "</storageExtension>\n";
        }
        if (put) {
            TiXmlDocument doc;
            std::string loop;
            if (!readXml(body, "storageExtension", doc) || !xmlText(doc, "LoopEnable", loop) ||
                (loop != "true" && loop != "false"))
                return bad();
            m_opt.loopEnable = loop == "true";
            return ok();
        }
        return wrongMethod();
    }
    if (path == "/OVIX/System/IO/inputs") {
        if (!get) return wrongMethod();
        std::string x = openRoot("IOInputPortList");
        for (int i = 1; i <= m_opt.alarmInputs; ++i)
            x += "<IOInputPort>\n" + elem("id", std::to_string(i)) + elem("name", "Alarm In " + std::to_string(i)) +
                 elem("triggering", "low") + "</IOInputPort>\n";
        return x + "</IOInputPortList>\n";
    }
    if (path == "/OVIX/System/Audio/channels") {
        if (!get) return wrongMethod();
        std::string x = openRoot("AudioChannelList");
        for (int i = 1; i <= m_opt.audioChannels; ++i)
            x += "<AudioChannel>\n" + elem("id", std::to_string(i)) + elem("enabled", "true") +
                 elem("audioMode", "talkOrListen") + elem("microphoneEnabled", "true") + "</AudioChannel>\n";
        return x + "</AudioChannelList>\n";
    }
    if (path == "/OVIX/System/Video/inputs/channels") {
        if (!get) return wrongMethod();
        std::string x = openRoot("VideoInputChannelList");
        for (int i = 1; i <= m_opt.analogChannels; ++i)
            x += "<VideoInputChannel>\n" + elem("id", std::to_string(i)) + elem("inputPort", std::to_string(i)) +
                 elem("videoInputEnabled", "true") + elem("name", "Camera " + std::to_string(i)) +
                 elem("videoFormat", "PAL") + elem("resDesc", "1920*1080P") + "</VideoInputChannel>\n";
        return x + "</VideoInputChannelList>\n";
    }
    if (path == "/OVIX/ContentMgmt/InputProxy/channels") {
        if (!get) return wrongMethod();
        if (m_opt.ipChannels <= 0) return responseStatusXml(url, 4, "notSupport");
        std::string x = openRoot("InputProxyChannelList");
        for (int i = 1; i <= m_opt.ipChannels; ++i) {
            const int id = m_opt.analogChannels + i;
            x += "<InputProxyChannel>\n" + elem("id", std::to_string(id)) +
                 elem("name", "IPCamera " + std::to_string(i)) + "<sourceInputPortDescriptor>\n" +
                 elem("proxyProtocol", "OVIX") + elem("addressingFormatType", "ipaddress") +
                 elem("ipAddress", "192.168.1." + std::to_string(100 + i)) + elem("managePortNo", "8000") +
                 elem("srcInputPort", "1") + "</sourceInputPortDescriptor>\n" + "</InputProxyChannel>\n";
        }
        return x + "</InputProxyChannelList>\n";
    }
    if (path == "/OVIX/System/TwoWayAudio/channels" || path.rfind("/OVIX/System/TwoWayAudio/channels/", 0) == 0) {
        if (!get) return wrongMethod();
        const auto channel = [&](int id) {
            return "<TwoWayAudioChannel>\n" + elem("id", std::to_string(id)) + elem("enabled", "false") +
                   elem("audioCompressionType", "G.711ulaw") +
                   (m_opt.audioSamplingRate.empty() ? std::string() : elem("audioSamplingRate", m_opt.audioSamplingRate)) +
                   elem("speakerVolume", "50") + elem("microphoneVolume", "50") + "</TwoWayAudioChannel>\n";
        };
        if (path.size() > std::strlen("/OVIX/System/TwoWayAudio/channels/")) {
            const std::string n = path.substr(std::strlen("/OVIX/System/TwoWayAudio/channels/"));
            char* end = nullptr;
            const long id = std::strtol(n.c_str(), &end, 10);
            if (*end || id < 1 || id > m_opt.audioChannels) return responseStatusXml(url, 4, "notSupport");
            return std::string(kXmlDecl) + channel(static_cast<int>(id))
                                               .insert(std::strlen("<TwoWayAudioChannel"),
                                                       std::string(" version=\"2.0\" xmlns=\"") + kSchema + "\"");
        }
        std::string x = openRoot("TwoWayAudioChannelList");
        for (int i = 1; i <= m_opt.audioChannels; ++i) x += channel(i);
        return x + "</TwoWayAudioChannelList>\n";
    }
    if (path == "/OVIX/System/reboot") return put ? ok() : wrongMethod();
    if (path == "/OVIX/System/capabilities") return get ? capabilities() : wrongMethod();
    if (path == "/OVIX/ContentMgmt/search") return method == "POST" ? search(url, body) : wrongMethod();
    if (path == "/OVIX/ContentMgmt/download/capabilities") {
        if (!get) return wrongMethod();
        std::string x = openRoot("DownloadAbility");
        x += elem("isSupportDownloadbyFileName", "true") + elem("isSupportDownloadbyTime", "true");
        return x + "</DownloadAbility>\n";
    }
    return responseStatusXml(url, 4, "notSupport");
}


// ---------------------------------------------------------------------------------------------
// CameraModel: media streams, recordings and record search

namespace {

constexpr size_t kStreamsKept = 256;
constexpr uint16_t kFirstPid = 0x100;
constexpr int kMaxResults = 40;

int64_t intMember(const Json::Value& frame, const char* name) {
    const Json::Value* v = frame.find(name, name + std::strlen(name));
    return v && v->isInt64() ? v->asInt64() : -1;
}

bool digitsAt(const std::string& t, size_t pos, size_t n, int& out) {
    if (pos + n > t.size()) return false;
    out = 0;
    for (size_t k = pos; k < pos + n; ++k) {
        if (!std::isdigit(static_cast<unsigned char>(t[k]))) return false;
        out = out * 10 + (t[k] - '0');
    }
    return true;
}

// "YYYY-MM-DDThh:mm:ss" at the start of `t`, as seconds of a UTC-like clock.
bool isoPrefix(const std::string& t, int64_t& wall) {
    int v = 0;
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':') return false;
    for (size_t pos : {0, 5, 8, 11, 14, 17})
        if (!digitsAt(t, pos, pos == 0 ? 4 : 2, v)) return false;
    return parseWallTime(t.substr(0, 19), wall);
}

// A search time: the wall clock, optionally a fraction, then nothing (the zone the search mode
// says), "Z" or "+hh:mm" / "-hh:mm".
bool searchTime(const std::string& t, bool utcMode, int eastMin, int64_t& utc) {
    int64_t wall = 0;
    if (!isoPrefix(t, wall)) return false;
    size_t i = 19;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
        if (i == 20) return false;
    }
    const std::string zone = t.substr(i);
    int h = 0, m = 0;
    if (zone.empty()) {
        utc = utcMode ? wall : wall - eastMin * 60;
    } else if (zone == "Z") {
        utc = wall;
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':' && digitsAt(zone, 1, 2, h) &&
               digitsAt(zone, 4, 2, m) && h <= 14 && m < 60) {
        utc = wall - (zone[0] == '-' ? -1 : 1) * (h * 60 + m) * 60;
    } else {
        return false;
    }
    return true;
}

std::string timeText(int64_t t, bool compactForm) {
    const time_t tt = static_cast<time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, compactForm ? "%04d%02d%02dT%02d%02d%02d" : "%04d-%02d-%02dT%02d:%02d:%02d",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

bool xmlInt(const std::string& text, long long& out) {
    const std::string t = trim(text);
    if (t.empty() || t.size() > 12) return false;
    char* end = nullptr;
    out = std::strtoll(t.c_str(), &end, 10);
    return *end == '\0' && (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-');
}

void answerError(const std::shared_ptr<Responder>& r, int error) {
    Json::Value m(Json::objectValue);
    m[wmember::error] = error;
    r->reply(std::move(m));
}

}  // namespace

int CameraModel::eastMinutes() const {
    int east = 0;
    if (!parseTimeZone(m_opt.timeZone, east)) east = 0;
    return east;
}

int64_t CameraModel::utcNow() const { return nowSeconds() + m_clockShift; }

int64_t CameraModel::nowUtc() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return utcNow();
}

int CameraModel::utcOffsetMinutes() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return eastMinutes();
}

std::vector<RecordingSegment> CameraModel::recordings(int channel, int64_t fromUtc, int64_t toUtc) const {
    std::lock_guard<std::mutex> lk(m_mx);
    return recordingIndex(m_opt.deviceId, channel, m_opt.recordingDays, utcNow(), fromUtc, toUtc);
}

std::string CameraModel::nameOf(const RecordingSegment& s, int streamType) const {
    std::string local = timeText(s.startUtc + eastMinutes() * 60, true);
    local.erase(8, 1);  // no "T" in file names
    char buf[64];
    std::snprintf(buf, sizeof buf, "ch%02d_%s_%d", s.channel, local.c_str(), streamType);
    return buf;
}

std::string CameraModel::recordingName(const RecordingSegment& s, int streamType) const {
    std::lock_guard<std::mutex> lk(m_mx);
    return nameOf(s, streamType);
}

uint64_t CameraModel::recordingSize(const RecordingSegment& s) const {
    std::lock_guard<std::mutex> lk(m_mx);
    return static_cast<uint64_t>(std::max<int64_t>(0, s.endUtc - s.startUtc)) * m_opt.videoBitRate / 8;
}

std::string CameraModel::capabilities() const {
    std::string x = openRoot("DeviceCap");
    x += "<SysCap>\n" + elem("isSupportDst", "true") + "</SysCap>\n";
    if (!m_opt.timeTypeSTD.empty()) x += elem("isSupportTimeTypeSTD", m_opt.timeTypeSTD);
    x += "<ContentMgmtCap>\n" + elem("isSupportSearch", "true") + elem("isSupportDownload", "true") +
         "</ContentMgmtCap>\n";
    return x + "</DeviceCap>\n";
}

std::string CameraModel::search(const std::string& url, const std::string& body) {
    const auto bad = [&] { return responseStatusXml(url, 6, "badParameters"); };
    bool utcMode = false;
    const size_t q = url.find('?');
    if (q != std::string::npos) {
        const std::string query = url.substr(q + 1);
        for (size_t a = 0; a <= query.size();) {
            size_t b = query.find('&', a);
            if (b == std::string::npos) b = query.size();
            if (query.compare(a, b - a, "timeType=STD") == 0) utcMode = true;
            a = b + 1;
        }
    }
    TiXmlDocument doc;
    std::string searchId, track, st, et, text;
    long long trackId = 0, maxResults = kMaxResults, position = 0;
    if (!readXml(body, "CMSearchDescription", doc) || !xmlText(doc, "searchID", searchId) ||
        !xmlText(doc, "trackID", track) || !xmlInt(track, trackId) || !xmlText(doc, "startTime", st) ||
        !xmlText(doc, "endTime", et))
        return bad();
    if (xmlText(doc, "maxResults", text) && (!xmlInt(text, maxResults) || maxResults < 0)) return bad();
    if (xmlText(doc, "searchResultPostion", text) && (!xmlInt(text, position) || position < 0)) return bad();
    if (maxResults == 0 || maxResults > kMaxResults) maxResults = kMaxResults;
    const long long channel = trackId / 100, streamType = trackId % 100;
    if (channel < 1 || channel > m_opt.analogChannels + m_opt.ipChannels || streamType < 1 || streamType > 3)
        return bad();
    const int east = eastMinutes();
    int64_t from = 0, to = 0;
    if (!searchTime(trim(st), utcMode, east, from) || !searchTime(trim(et), utcMode, east, to) || from > to) return bad();

    const auto all = recordingIndex(m_opt.deviceId, static_cast<int>(channel), m_opt.recordingDays, utcNow(), from,
                                    to + 1);
    const size_t first = std::min(static_cast<size_t>(position), all.size());
    const size_t n = std::min(static_cast<size_t>(maxResults), all.size() - first);
    const char* status = n == 0 ? "NO MATCHES" : first + n < all.size() ? "MORE" : "OK";
    const auto shown = [&](int64_t t, bool compactForm) {
        return utcMode ? timeText(t, compactForm) + "Z" : timeText(t + east * 60, compactForm);
    };
    char source[64];
    std::snprintf(source, sizeof source, "{%08X-0000-0000-0000-%012lld}",
                  static_cast<unsigned>(std::hash<std::string>()(m_opt.deviceId) & 0xFFFFFFFFu), channel);
    std::string x = openRoot("CMSearchResult");
    x += elem("searchID", searchId) + elem("responseStatus", "true") + elem("responseStatusStrg", status) +
         elem("numOfMatches", std::to_string(n));
    if (n > 0) {
        x += "<matchList>\n";
        for (size_t k = first; k < first + n; ++k) {
            const RecordingSegment& s = all[k];
            const uint64_t size = static_cast<uint64_t>(s.endUtc - s.startUtc) * m_opt.videoBitRate / 8;
            const std::string uri = "rtsp://" + m_opt.address + "/Streaming/tracks/" + std::to_string(trackId) +
                                    "/?starttime=" + shown(s.startUtc, true) + "&endtime=" + shown(s.endUtc, true) +
                                    "&name=" + nameOf(s, static_cast<int>(streamType)) + "&size=" + std::to_string(size);
            x += "<searchMatchItem>\n" + elem("sourceID", source) + elem("trackID", std::to_string(trackId)) +
                 "<timeSpan>\n" + elem("startTime", shown(s.startUtc, false)) + elem("endTime", shown(s.endUtc, false)) +
                 "</timeSpan>\n<mediaSegmentDescriptor>\n" + elem("contentType", "video") +
                 elem("codecType", "H.264-BP") + elem("playbackURI", uri) + "</mediaSegmentDescriptor>\n" +
                 "</searchMatchItem>\n";
        }
        x += "</matchList>\n";
    }
    return x + "</CMSearchResult>\n";
}

void CameraModel::badOrder(const std::string& what) {
    uint64_t n;
    std::string id;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        n = ++m_badOrders;
        id = m_opt.deviceId;
    }
    // The first few and then one in a thousand: a flood of bad orders cannot flood the log.
    if (n <= 5 || n % 1000 == 0)
        RunLog_Write(4, "devsim", "%.64s: bad media order (%llu so far): %.200s", id.c_str(),
                     static_cast<unsigned long long>(n), what.c_str());
}

void CameraModel::media(const Json::Value& req, const std::shared_ptr<Responder>& r) {
    const std::string op = str(req, "op");
    if (op == "startLive" || op == "startRecord" || op == "startVoice") {
        startStream(op, req, r);
        return;
    }
    const std::string kind = op == "stopLive"                              ? "startLive"
                             : op == "stopRecord" || op == "operateRecord" ? "startRecord"
                             : op == "stopVoice"                           ? "startVoice"
                                                                           : "";
    if (kind.empty()) {
        badOrder("unknown op \"" + op.substr(0, 64) + "\"");
        answerError(r, mediaError::badRequest);
        return;
    }
    std::shared_ptr<MediaSender> sender;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        auto it = m_live.find(str(req, "session"));
        if (it != m_live.end() && it->second.op == kind) sender = it->second.sender;
    }
    if (!sender) {
        answerError(r, mediaError::unknownSession);
        return;
    }
    if (op == "operateRecord") {
        const int64_t operation = intMember(req, "operation");
        if (operation != 0 && operation != 1) {
            badOrder("operateRecord operation " + std::to_string(operation));
            answerError(r, mediaError::badRequest);
            return;
        }
        sender->operate(operation == 0, [r](int e) { answerError(r, e); });
        return;
    }
    sender->stop("stop", [r] { answerError(r, mediaError::ok); });
}

void CameraModel::startStream(const std::string& op, const Json::Value& req, const std::shared_ptr<Responder>& r) {
    auto rec = std::make_shared<StreamRecord>();
    StreamInfo& i = rec->info;  // not shared until the sender exists
    i.session = str(req, "session");
    i.op = op;
    i.frame = req;
    i.channel = intMember(req, "channel");
    i.streamType = intMember(req, "streamType");
    i.mediaIp = str(req, "mediaIp");
    i.linkType = str(req, "linkType");
    i.mediaPort = intMember(req, "mediaPort");
    i.native = intMember(req, "native");
    i.start = str(req, "start");
    i.stop = str(req, "stop");
    i.audioCode = intMember(req, "audioCode");
    const bool live = op == "startLive", record = op == "startRecord", voice = op == "startVoice";
    i.udp = live && i.linkType == "UDP";

    int err = mediaError::ok;
    std::string why;
    const auto fail = [&](int e, const std::string& w) {
        if (err == mediaError::ok) {
            err = e;
            why = w;
        }
    };
    asio::error_code ec;
    const asio::ip::address addr = asio::ip::make_address(i.mediaIp, ec);
    const IoAccess io = ioAccessOf(*r);
    std::shared_ptr<MediaSender> sender;
    bool watch = false;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        const int channels = m_opt.analogChannels + m_opt.ipChannels;
        if (i.session.empty() || i.session.size() > 127) fail(mediaError::badRequest, "bad session");
        if (voice ? i.channel < 0 || i.channel > m_opt.audioChannels : i.channel < 1 || i.channel > channels)
            fail(mediaError::badRequest, "unknown channel " + std::to_string(i.channel));
        if (!voice && (i.streamType < 1 || i.streamType > 3))
            fail(mediaError::badRequest, "bad streamType " + std::to_string(i.streamType));
        if (live && i.linkType != "TCP" && i.linkType != "UDP") fail(mediaError::badRequest, "bad linkType");
        if (ec) fail(mediaError::badRequest, "bad mediaIp");
        if (i.mediaPort < 1 || i.mediaPort > 65535) fail(mediaError::badRequest, "bad mediaPort");
        if (err == mediaError::ok && !addr.is_loopback() && !m_opt.allowRemoteMedia)
            fail(mediaError::remoteRefused, "media address " + i.mediaIp + " is not loopback");
        if (err == mediaError::ok && m_live.count(i.session)) fail(mediaError::badRequest, "session already streaming");
        if (record && err == mediaError::ok) {
            int64_t a = 0, b = 0;
            if (i.start.size() != 19 || i.stop.size() != 19 || !isoPrefix(i.start, a) || !isoPrefix(i.stop, b) || b <= a) {
                fail(mediaError::badRequest, "bad start/stop");
            } else {
                const int64_t shift = eastMinutes() * 60;
                int64_t covered = 0;
                for (const auto& s : recordingIndex(m_opt.deviceId, static_cast<int>(i.channel), m_opt.recordingDays,
                                                    utcNow(), a - shift, b - shift))
                    covered += std::min(s.endUtc, b - shift) - std::max(s.startUtc, a - shift);
                if (covered <= 0)
                    fail(mediaError::noRecording, "no recording between " + i.start + " and " + i.stop);
                else
                    i.recordBytes = static_cast<uint64_t>(covered) * m_opt.videoBitRate / 8;
            }
        }
        if (err == mediaError::ok && !io.io) fail(mediaError::connectFailed, "simulator stopping");
        if (err == mediaError::ok) {
            uint16_t pid = kFirstPid;
            for (bool taken = true; taken && pid < 0x1FFE;) {
                taken = false;
                for (const auto& kv : m_live)
                    if (kv.second.rec->info.pid == pid) taken = true;
                if (taken) ++pid;
            }
            i.pid = pid;
            MediaSender::Params p;
            p.addr = addr;
            p.port = static_cast<uint16_t>(i.mediaPort);
            p.udp = i.udp;
            p.bitRate = voice ? m_opt.voiceBitRate : m_opt.videoBitRate;
            p.perWrite = voice ? 1 : 7;
            p.totalBytes = i.recordBytes;
            std::weak_ptr<Equipment> w = weak_from_this();
            const std::string session = i.session;
            sender = std::make_shared<MediaSender>(*io.io, io.keep, p, rec, [w, session, rec] {
                auto self = std::static_pointer_cast<CameraModel>(w.lock());
                if (!self) return;
                std::lock_guard<std::mutex> l(self->m_mx);
                auto it = self->m_live.find(session);
                if (it != self->m_live.end() && it->second.rec == rec) self->m_live.erase(it);
            });
            m_live[session] = Live{sender, rec, op, r->sessionId()};
            watch = m_watchedLinks.insert(r->sessionId()).second;
        } else {
            i.state = StreamState::Stopped;
            i.answerError = err;
            i.endReason = why;
        }
        m_streams.push_back(rec);
        if (m_streams.size() > kStreamsKept) m_streams.erase(m_streams.begin());
    }
    if (!sender) {
        if (err == mediaError::badRequest) badOrder(op + ": " + why);
        answerError(r, err);
        return;
    }
    if (watch) {
        std::weak_ptr<Equipment> w = weak_from_this();
        const uint64_t link = r->sessionId();
        r->onSessionEnd([w, link] {
            if (auto self = std::static_pointer_cast<CameraModel>(w.lock())) self->endLink(link);
        });
    }
    sender->start([r](int e) { answerError(r, e); });
}

void CameraModel::endLink(uint64_t link) {
    std::vector<std::shared_ptr<MediaSender>> ending;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        m_watchedLinks.erase(link);
        for (const auto& kv : m_live)
            if (kv.second.link == link) ending.push_back(kv.second.sender);
    }
    for (auto& s : ending) s->stop("session end");
}

std::vector<StreamInfo> CameraModel::streams() const {
    std::lock_guard<std::mutex> lk(m_mx);
    std::vector<StreamInfo> out;
    out.reserve(m_streams.size());
    for (const auto& rec : m_streams) {
        std::lock_guard<std::mutex> l(rec->mx);
        out.push_back(rec->info);
    }
    return out;
}

bool CameraModel::stream(const std::string& session, StreamInfo& out) const {
    std::lock_guard<std::mutex> lk(m_mx);
    for (auto it = m_streams.rbegin(); it != m_streams.rend(); ++it) {
        std::lock_guard<std::mutex> l((*it)->mx);
        if ((*it)->info.session == session) {
            out = (*it)->info;
            return true;
        }
    }
    return false;
}

bool CameraModel::waitStreams(const std::function<bool(const std::vector<StreamInfo>&)>& pred,
                              std::chrono::milliseconds timeout) const {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred(streams())) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

size_t CameraModel::liveStreams() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_live.size();
}

void CameraModel::dropStreams() {
    std::vector<std::shared_ptr<MediaSender>> all;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        for (const auto& kv : m_live) all.push_back(kv.second.sender);
    }
    for (auto& s : all) s->stop("dropped");
}

void CameraModel::setAllowRemoteMedia(bool on) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.allowRemoteMedia = on;
}

void CameraModel::setVideoBitRate(uint64_t bitsPerSecond) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.videoBitRate = std::max<uint64_t>(bitsPerSecond, 1);
}

void CameraModel::setVoiceBitRate(uint64_t bitsPerSecond) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.voiceBitRate = std::max<uint64_t>(bitsPerSecond, 1);
}

void CameraModel::setAudioCodec(const Json::Value& v) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_audioCodec = v;
}

void CameraModel::setTimeTypeSTD(const std::string& text) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.timeTypeSTD = text;
}

void CameraModel::setAudioSamplingRate(const std::string& text) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.audioSamplingRate = text;
}

void CameraModel::setRecordingDays(int days) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_opt.recordingDays = std::max(days, 0);
}

}  // namespace devsim
