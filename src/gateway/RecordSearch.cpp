// Record search, download capability and video channel list of native device-API devices: the
// host speaks JSON, the device XML.
#include "gateway/RecordSearch.h"

#include <tinyxml.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/StatusList.h"
#include "common/TimeConvert.h"
#include "common/Utf8.h"
#include "common/XmlCursor.h"
#include "common/XmlLimits.h"
#include "gateway/UrlMatch.h"
#include "gateway/VexaDeviceGateway.h"

namespace {

const char* const kSearchFunc = "CVexaDevice::ovixSearchRecords";
const char* const kRspFunc = "CVexaDevice::searchRecordsRsp";
const char* const kCapFunc = "CVexaDevice::GetDownloadCap";
const char* const kChannelsFunc = "CVexaDevice::ovixGetVideoInputChannelList";

constexpr uint32_t kBad = vexa::status::kBadParameters;
constexpr uint8_t kGet = 0, kPost = 2;
constexpr size_t kMaxSearchDocument = 1023;
constexpr size_t kMaxPlaybackUrl = 255;
constexpr size_t kMaxCameraName = 127;
constexpr size_t kSearchIdLength = 36;
constexpr size_t kUtcTimeLength = 20;  // YYYY-MM-DDThh:mm:ssZ
constexpr int32_t kMaxResults = 40;
// A device that lists far more records than it counts cannot make the answer grow without end.
constexpr Json::ArrayIndex kMaxItems = 1000;

vexa::LogGate& gate() {
    static vexa::LogGate g;
    return g;
}

// Lines about one device's (or its host requests') bad input are rate-limited per device.
#define GATED_LOG(source, level, func, ...)                      \
    do {                                                          \
        if (gate().allow(source)) LOG_DEV(level, func, __VA_ARGS__); \
    } while (0)

std::string xmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

// "<list><item>v1</item>...</list>"
std::string listFragment(const std::string& list, const std::string& item, const std::vector<std::string>& values) {
    std::string out = "<" + list + ">";
    for (const std::string& v : values) out += "<" + item + ">" + xmlEscape(v) + "</" + item + ">";
    return out + "</" + list + ">";
}

// The answer's first element, null when the text is refused or not well-formed.
const TiXmlElement* parseRoot(TiXmlDocument& doc, const std::string& text) {
    if (!vexa::xmlSafeToParse(text)) return nullptr;
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    return doc.Error() ? nullptr : doc.RootElement();
}

bool childText(const TiXmlElement* parent, const char* name, std::string& text) {
    const TiXmlElement* e = parent ? parent->FirstChildElement(name) : nullptr;
    if (!e) return false;
    const char* t = e->GetText();
    text = t ? t : "";
    return true;
}

// Device text for a host document: valid UTF-8 only.
Json::Value clean(const std::string& text) { return Json::Value(vexa::sanitizeUtf8(text)); }

// Whole-text decimal without sign, at most 18 digits (no overflow, no junk after it).
bool plainNumber(const std::string& text, int64_t& out) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::stoll(text);
    return true;
}

// Leading digits of a size text, saturated; 0 when there are none.
int64_t sizeValue(const std::string& text) {
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        v = v > (INT64_MAX - 9) / 10 ? INT64_MAX : v * 10 + (c - '0');
    }
    return v;
}

// An answer that is not the expected document: the device's own status when it sent one, else
// badParameters. Never success: the host asked for data and got none.
uint32_t answerStatus(const std::string& answer, std::string& response) {
    Json::Value status;
    uint32_t rc = CVexaDevice::parseOVIXResponseStatus(answer, status);
    if (rc == 0) rc = kBad;
    response = status.isObject() && !status.empty() ? vexa::writeJson(status) : std::string();
    return rc;
}

// ---- host request ----------------------------------------------------------------------------

// Text a UTF-8 XML document can carry: valid UTF-8 without control characters but tab, line
// feed and carriage return (a NUL would also end the document early on the device).
bool xmlCarries(const std::string& text) {
    if (!vexa::isValidUtf8(text)) return false;
    for (unsigned char c : text)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
}

struct SearchRequest {
    std::string searchID, start, end, metadata;
    int32_t trackID = 0, maxResults = 0, position = 0;
    std::vector<std::string> keywords, contentTypes;
};

// Element 0 of a non-empty array member, when it is an object.
const Json::Value* firstEntry(const Json::Value& obj, const char* list) {
    const Json::Value* v = vexa::jsonMember(obj, list);
    if (!v || !v->isArray() || v->empty() || !(*v)[0].isObject()) return nullptr;
    return &(*v)[0];
}

bool nonEmptyArray(const Json::Value& obj, const char* name) {
    const Json::Value* v = vexa::jsonMember(obj, name);
    return v && v->isArray() && !v->empty();
}

// The string member `name` of every object entry of an optional array.
std::vector<std::string> collect(const Json::Value& obj, const char* list, const char* name) {
    std::vector<std::string> out;
    const Json::Value* v = vexa::jsonMember(obj, list);
    if (!v || !v->isArray()) return out;
    for (Json::ArrayIndex i = 0; i < v->size(); ++i) {
        std::string s;
        if (vexa::jsonString((*v)[i], name, s)) out.push_back(s);
    }
    return out;
}

// The members of the search description in the order they are checked; false at the first
// missing or wrong one.
bool readDescription(const Json::Value& root, SearchRequest& req, bool& idLengthWrong) {
    const Json::Value* d = vexa::jsonMember(root, "CMSearchDescription");
    if (!d || !d->isObject() || !vexa::jsonString(*d, "searchID", req.searchID) || !nonEmptyArray(*d, "trackIDList") ||
        !vexa::jsonMember(*d, "timeSpanList") || !vexa::jsonInt32(*d, "maxResults", req.maxResults) ||
        req.maxResults < 0 || req.maxResults > kMaxResults ||
        !vexa::jsonInt32(*d, "searchResultPostion", req.position) || req.position < 0 ||
        !vexa::jsonMember(*d, "metadataList") || !nonEmptyArray(*d, "timeSpanList") ||
        !nonEmptyArray(*d, "metadataList"))
        return false;
    const Json::Value* meta = firstEntry(*d, "metadataList");
    if (!meta || !vexa::jsonString(*meta, "metadataDescriptor", req.metadata)) return false;
    idLengthWrong = req.searchID.size() != kSearchIdLength;
    req.keywords = collect(*d, "searchTypeList", "searchKeyword");
    req.contentTypes = collect(*d, "contentTypeList", "contentType");
    for (const auto* list : {&req.keywords, &req.contentTypes})
        for (const std::string& text : *list)
            if (!xmlCarries(text)) return false;
    if (!xmlCarries(req.searchID) || !xmlCarries(req.metadata)) return false;
    const Json::Value* track = firstEntry(*d, "trackIDList");
    if (!track || !vexa::jsonInt32(*track, "trackID", req.trackID)) req.trackID = 0;
    const Json::Value* span = firstEntry(*d, "timeSpanList");
    const Json::Value* times = span ? vexa::jsonMember(*span, "timeSpan") : nullptr;
    if (times && times->isObject()) {
        vexa::jsonString(*times, "startTime", req.start);
        vexa::jsonString(*times, "endTime", req.end);
    }
    return true;
}

// A UTC search time: "YYYY-MM-DDThh:mm:ssZ" naming a real instant in the supported years.
bool validUtcTime(const std::string& t) {
    std::string shifted;
    return t.size() == kUtcTimeLength && t.back() == 'Z' && ConvertUtcToLocalJsonTime(t, kUtcZoneIdx, shifted) == 0;
}

// The devIndex value of a uri whose query holds exactly two name=value parameters, one of them
// devIndex (the device's index on the host, which names its cameras).
bool devIndexOf(const std::string& uri, std::string& index) {
    const size_t q = uri.find('?'), amp = uri.find('&');
    if (q == std::string::npos || amp == std::string::npos || amp < q || uri.find('&', amp + 1) != std::string::npos)
        return false;
    index.clear();
    for (const std::string& param : {uri.substr(q + 1, amp - q - 1), uri.substr(amp + 1)}) {
        const size_t eq = param.find('=');
        if (eq == std::string::npos || param.find('=', eq + 1) != std::string::npos) return false;
        if (param.compare(0, eq, "devIndex") == 0) index = param.substr(eq + 1);
    }
    return !index.empty();
}

bool channelListed(DeviceChannel& ch, const char* url, int32_t channel) {
    std::string answer;
    if (ch.ovix(answer, url, std::string(), kGet) != 0) return false;
    char id[64];
    std::snprintf(id, sizeof id, "<id>%d</id>", static_cast<int>(channel));
    return answer.find(id) != std::string::npos;
}

// ---- device answer ---------------------------------------------------------------------------

// "YYYYMMDDThhmmssZ" of a time whose first 19 characters are a valid wall clock.
std::string compactTime(const std::string& t) {
    return t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2) + "T" + t.substr(11, 2) + t.substr(14, 2) +
           t.substr(17, 2) + "Z";
}

bool validWallClock(const std::string& t) {
    std::string utc;
    return t.size() >= 19 && ConvertLocalToUtcJsonTime(t.substr(0, 19), kUtcZoneIdx, utc) == 0;
}

std::string uriValue(const std::string& uri, const char* name) {
    std::string v;
    return getUrlParam(v, name, uri) ? v : std::string();
}

struct ItemContext {
    const SearchContext& ctx;
    const std::string& camera;
    const std::string& deviceId;
};

// One searchMatchItem as the host's entry; false when a required part is missing or unusable.
bool readItem(const TiXmlElement* item, const ItemContext& ic, Json::Value& out) {
    std::string track, start, end, content, uri, text;
    const TiXmlElement* span = item->FirstChildElement("timeSpan");
    const TiXmlElement* media = item->FirstChildElement("mediaSegmentDescriptor");
    if (!childText(item, "trackID", track) || !childText(span, "startTime", start) ||
        !childText(span, "endTime", end) || !media) {
        GATED_LOG(ic.deviceId, 5, kRspFunc, "match item without trackID, timeSpan or mediaSegmentDescriptor");
        return false;
    }
    if (!childText(media, "contentType", content) && !childText(media, "contenType", content)) {
        GATED_LOG(ic.deviceId, 5, kRspFunc, "contenType req error");
        return false;
    }
    if (!childText(media, "playbackURI", uri)) {
        GATED_LOG(ic.deviceId, 5, kRspFunc, "match item without playbackURI");
        return false;
    }
    const bool timesOk = ic.ctx.needsConversion ? covertSerachRspTimeByDevCap(start, end, ic.ctx) == 0
                                                : validWallClock(start) && validWallClock(end);
    if (!timesOk) {
        GATED_LOG(ic.deviceId, 5, kRspFunc, "[start=%s,end=%s]match item time unusable", vexa::logText(start).c_str(),
                  vexa::logText(end).c_str());
        return false;
    }
    // Cleaned before the length check: the URL the host gets is the one measured.
    const std::string name = vexa::sanitizeUtf8(uriValue(uri, "name")), size = vexa::sanitizeUtf8(uriValue(uri, "size"));
    const std::string url = vexa::sanitizeUtf8(
        "rtsp://" + ic.ctx.mediaIP + ":" + std::to_string(ic.ctx.mediaPort) + "/dac/playback/camera/" + ic.camera +
        "/MAIN/TCP?starttime=" + compactTime(start) + "&endtime=" + compactTime(end) + "&name=" + name + "&size=" +
        size + "&streamform=rtp");
    // A cut URL would play something else or nothing.
    if (url.size() > kMaxPlaybackUrl) {
        GATED_LOG(ic.deviceId, 5, kRspFunc, "[length=%zu]playback url too long: %s", url.size(),
                  vexa::logText(url).c_str());
        return false;
    }
    Json::Value m(Json::objectValue);
    m["sourceID"] = childText(item, "sourceID", text) && !text.empty() ? clean(text) : Json::Value();
    m["trackID"] = vexa::decimalValue(track);
    m["timeSpan"]["startTime"] = clean(start);
    m["timeSpan"]["endTime"] = clean(end);
    Json::Value& seg = m["mediaSegmentDescriptor"];
    seg["contenType"] = clean(content);
    for (const char* opt : {"codecType", "rateType", "lockStatus"})
        if (childText(media, opt, text)) seg[opt] = clean(text);
    if (childText(media, "remainLockTime", text) && !text.empty()) seg["remainLockTime"] = vexa::decimalValue(text);
    seg["name"] = name;
    seg["size"] = Json::Value(static_cast<Json::Int64>(sizeValue(size)));
    seg["playbackURI"] = url;
    out = Json::Value(Json::objectValue);
    out["searchMatchItem"] = std::move(m);
    return true;
}

}  // namespace

int searchRecordsRsp(const std::string& answer, const SearchContext& ctx, const std::string& devIndex,
                     const std::string& deviceId, std::string& response) {
    TiXmlDocument doc;
    const TiXmlElement* root = parseRoot(doc, answer);
    std::string status, statusText, matchesText;
    if (!root || !childText(root, "responseStatus", status) || !childText(root, "responseStatusStrg", statusText) ||
        !childText(root, "numOfMatches", matchesText))
        return -1;
    const int32_t matches = vexa::decimalValue(matchesText);
    Json::Value result(Json::objectValue);
    result["searchID"] = clean(ctx.searchID);
    result["responseStatus"] = status == "true";
    result["responseStatusStrg"] = clean(statusText);
    result["numOfMatches"] = matches;
    if (matches > 0) {
        const TiXmlElement* list = root->FirstChildElement("matchList");
        if (!list) return -1;
        const std::string camera = devIndex + std::to_string(ctx.channel);
        if (camera.size() > kMaxCameraName) {
            GATED_LOG(deviceId, 5, kRspFunc, "[length=%zu]camera name too long", camera.size());
            return -1;
        }
        const ItemContext ic{ctx, camera, deviceId};
        const Json::ArrayIndex limit = std::min<Json::ArrayIndex>(static_cast<Json::ArrayIndex>(matches), kMaxItems);
        Json::Value items(Json::arrayValue);
        const TiXmlElement* item = list->FirstChildElement("searchMatchItem");
        for (; item && items.size() < limit; item = item->NextSiblingElement()) {
            Json::Value entry;
            if (!readItem(item, ic, entry)) break;
            items.append(std::move(entry));
        }
        if (item && items.size() == limit)
            GATED_LOG(deviceId, 4, kRspFunc, "[numOfMatches=%d]match items beyond %u ignored", static_cast<int>(matches),
                      static_cast<unsigned>(limit));
        result["matchList"] = std::move(items);
    }
    Json::Value top(Json::objectValue);
    top["CMSearchResult"] = std::move(result);
    response = vexa::writeJson(top);
    return 0;
}

bool isIpChannel(DeviceChannel& ch, int32_t channel) {
    return channelListed(ch, "/OVIX/ContentMgmt/InputProxy/channels", channel);
}

bool isAnalogChannel(DeviceChannel& ch, int32_t channel) {
    return channelListed(ch, "/OVIX/System/Video/inputs/channels", channel);
}

uint32_t ovixSearchRecords(CVexaDevice& dev, DeviceChannel& ch, const std::string& uri, const std::string& body,
                           const Json::Value& mediaInfo, std::string& response) {
    const std::string id = dev.deviceId();
    std::string devIndex;
    if (!devIndexOf(uri, devIndex)) {
        GATED_LOG(id, 5, kSearchFunc, "uri param error: %s", vexa::logText(uri).c_str());
        return kBad;
    }
    dev.setDevIndex(devIndex);

    SearchContext ctx;
    const Json::Value* ip = vexa::jsonMember(mediaInfo, "ip");
    if (!ip || !ip->isString() || ip->asString().empty() || !vexa::jsonInt32(mediaInfo, "port", ctx.mediaPort) ||
        ctx.mediaPort < 1 || ctx.mediaPort > 65535) {
        GATED_LOG(id, 5, kSearchFunc, "MediaInfo param is wrong");
        return kBad;
    }
    ctx.mediaIP = ip->asString();

    Json::Value root;
    const size_t first = body.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || body[first] != '{' || !vexa::parseJson(body, root) || !root.isObject()) {
        GATED_LOG(id, 5, kSearchFunc, "Parse json req %s fail", vexa::logText(body).c_str());
        return kBad;
    }

    SearchRequest req;
    bool idLengthWrong = false;
    if (!readDescription(root, req, idLengthWrong)) {
        GATED_LOG(id, 5, kSearchFunc, "param error: %s", vexa::logText(body).c_str());
        return kBad;
    }
    if (idLengthWrong) {
        GATED_LOG(id, 5, kSearchFunc, "searchID is invalid %s", vexa::logText(req.searchID).c_str());
        return kBad;
    }
    // Everything the host sent is checked before the device is asked anything.
    const int32_t channel = req.trackID / 100, streamType = req.trackID % 100;
    const bool trackOk = req.trackID > 0 && channel >= 1 && streamType >= 1 && streamType <= 3 &&
                         devIndex.size() + std::to_string(channel).size() <= kMaxCameraName;
    const bool timesOk = validUtcTime(req.start) && validUtcTime(req.end) && req.start <= req.end;
    if (!trackOk || !timesOk || (!isIpChannel(ch, channel) && !isAnalogChannel(ch, channel))) {
        GATED_LOG(id, 5, kSearchFunc, "param error: %s", vexa::logText(body).c_str());
        return kBad;
    }

    const DeviceGet get = [&ch](std::string& rsp, const std::string& url) {
        return ch.ovix(rsp, url, std::string(), kGet);
    };
    if (const uint32_t rc = covertSearchReqTimeByDevCap(get, id, ctx, req.start, req.end)) return rc;

    const std::string search =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><CMSearchDescription><searchID>" + xmlEscape(req.searchID) +
        "</searchID><trackIDList><trackID>" + std::to_string(req.trackID) + "</trackID></trackIDList>" +
        "<timeSpanList><timeSpan><startTime>" + xmlEscape(req.start) + "</startTime><endTime>" + xmlEscape(req.end) +
        "</endTime></timeSpan></timeSpanList>" +
        (req.keywords.empty() ? std::string() : listFragment("searchTypeList", "searchKeyword", req.keywords)) +
        listFragment("contentTypeList", "contentType", req.contentTypes) + "<maxResults>" +
        std::to_string(req.maxResults) + "</maxResults><searchResultPostion>" + std::to_string(req.position) +
        "</searchResultPostion><metadataList><metadataDescriptor>" + xmlEscape(req.metadata) +
        "</metadataDescriptor></metadataList></CMSearchDescription>";
    // A cut document would search for something else: refuse it, send nothing.
    if (search.size() > kMaxSearchDocument) {
        GATED_LOG(id, 5, kSearchFunc, "[length=%zu]search document too long", search.size());
        return kBad;
    }
    std::string answer;
    const std::string url = std::string("/OVIX/ContentMgmt/search") + (ctx.supportsSTD ? "?timeType=STD" : "");
    if (const uint32_t rc = ch.ovix(answer, url, search, kPost)) {
        LOG_DEV(5, kSearchFunc, "SendHttp error");
        return rc;
    }

    ctx.searchID = req.searchID;
    ctx.channel = channel;
    if (searchRecordsRsp(answer, ctx, devIndex, id, response) != 0) {
        GATED_LOG(id, 5, kSearchFunc, "[req=%s]searchRecordsRsp failed.", vexa::logText(search).c_str());
        return answerStatus(answer, response);
    }
    return 0;
}

uint32_t GetDownloadCap(DeviceChannel& ch, std::string& response) {
    std::string answer;
    if (const uint32_t rc = ch.ovix(answer, "/OVIX/ContentMgmt/download/capabilities", std::string(), kGet)) {
        LOG_DEV(5, kCapFunc, "SendHttp error");
        return rc;
    }
    TiXmlDocument doc;
    std::string byName;
    if (!childText(parseRoot(doc, answer), "isSupportDownloadbyFileName", byName)) {
        LOG_DEV(5, kCapFunc, "[rsp=%s]no download capability in the answer", vexa::logText(answer).c_str());
        return answerStatus(answer, response);
    }
    Json::Value top(Json::objectValue);
    top["DownloadAbility"]["isSupportDownloadbyFileName"] = byName == "true";
    top["DownloadAbility"]["isSupportDownloadbyTime"] = false;
    response = vexa::writeJson(top);
    return 0;
}

uint32_t ovixGetVideoInputChannelList(DeviceChannel& ch, std::string& response) {
    enum class Kind { Integer, Boolean, Text };
    static const struct { const char* name; Kind kind; } kMembers[] = {
        {"id", Kind::Integer},        {"inputPort", Kind::Integer}, {"videoInputEnabled", Kind::Boolean},
        {"name", Kind::Text},         {"videoFormat", Kind::Text},  {"portType", Kind::Text},
        {"resDesc", Kind::Text},
    };
    std::string answer;
    if (const uint32_t rc = ch.ovix(answer, "/OVIX/System/Video/inputs/channels", std::string(), kGet)) {
        LOG_DEV(5, kChannelsFunc, "SendHttp error");
        return rc;
    }
    TiXmlDocument doc;
    const TiXmlElement* root = parseRoot(doc, answer);
    if (!root || std::string(root->Value()) != "VideoInputChannelList") {
        LOG_DEV(5, kChannelsFunc, "[rsp=%s]no VideoInputChannelList in the answer", vexa::logText(answer).c_str());
        return answerStatus(answer, response);
    }
    Json::Value list(Json::arrayValue);
    for (const TiXmlElement* e = root->FirstChildElement("VideoInputChannel"); e;
         e = e->NextSiblingElement("VideoInputChannel")) {
        Json::Value channel(Json::objectValue);
        for (const auto& m : kMembers) {
            std::string text;
            int64_t n = 0;
            if (!childText(e, m.name, text)) continue;
            // Members are copied only with the right type.
            if (m.kind == Kind::Integer && plainNumber(text, n) && n <= INT32_MAX)
                channel[m.name] = static_cast<int32_t>(n);
            else if (m.kind == Kind::Boolean && (text == "true" || text == "false"))
                channel[m.name] = text == "true";
            else if (m.kind == Kind::Text)
                channel[m.name] = clean(text);
        }
        Json::Value entry(Json::objectValue);
        entry["VideoInputChannel"] = std::move(channel);
        list.append(std::move(entry));
    }
    Json::Value top(Json::objectValue);
    top["VideoInputChannelList"] = std::move(list);
    response = vexa::writeJson(top);
    return 0;
}
