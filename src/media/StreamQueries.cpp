// The device's talk codec and the two queries answered from the device API: a channel's audio
// sampling rate and a channel's record segments.
#include <cstdint>
#include <vector>

#include "common/JsonUtil.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "common/Utf8.h"
#include "device/RecordSearchTime.h"
#include "media/MediaOrders.h"
#include "media/OrderMessage.h"

using vexa::media::fieldText;
using vexa::media::kBadParameters;
using vexa::media::kOrderFailed;

namespace {

const char* const kAudioFunc = "CVexaDevice::getAudioType";
const char* const kTalkFunc = "CVexaDevice::ProcQueryTalkParamOVIX";
const char* const kRecordFunc = "CVexaDevice::ProcQueryRecordFileOVIX";
constexpr size_t kMaxSearchDocument = 1023;
constexpr int kMaxResults = 40;
constexpr uint8_t kGet = 0, kPost = 2;
// A record query that fails without a numbered exit.
constexpr int kUnnumbered = -1;

vexa::LogGate& gate() {
    static vexa::LogGate g;
    return g;
}

// Message / Pack "TNP" / Command / Result "OK"/200 or "Fail"/401, left inside Pack.
void beginAnswer(CXmlCursor& rsp, const char* command, bool ok) {
    CTarnMessage m;
    m.Command = command;
    m.PackType = "TNP";
    m.ResultText = ok ? "OK" : "Fail";
    m.ResultId = ok ? 200 : 401;
    rsp.resetPosition();
    m.build(rsp);
}

// A device answer opened at the children of its first element; a malformed answer has none.
bool openRoot(CXmlCursor& doc, const std::string& answer) {
    return doc.setDocument(answer) && doc.findElement() && doc.enterElement();
}

bool allDigits(const std::string& s) { return s.find_first_not_of("0123456789") == std::string::npos; }

// Kilohertz text ("16", "44.1") in hertz. False for anything else, so junk never wraps.
bool samplingRateHz(const std::string& text, std::string& hz) {
    const char* const blanks = " \t\r\n";
    const size_t b = text.find_first_not_of(blanks);
    if (b == std::string::npos) return false;
    const std::string t = text.substr(b, text.find_last_not_of(blanks) - b + 1);
    const size_t dot = t.find('.');
    const std::string whole = t.substr(0, dot);
    const std::string frac = dot == std::string::npos ? std::string() : t.substr(dot + 1);
    if (whole.empty() || whole.size() > 9 || frac.size() > 3 || (dot != std::string::npos && frac.empty()) ||
        !allDigits(whole) || !allDigits(frac))
        return false;
    int64_t value = std::stoll(whole) * 1000;
    if (!frac.empty()) value += std::stoll((frac + "00").substr(0, 3));
    hz = std::to_string(value);
    return true;
}

// Value of a query parameter of a playback URI, up to the next '&'.
std::string uriParam(const std::string& uri, const char* key) {
    const size_t at = uri.find(key);
    if (at == std::string::npos) return std::string();
    const size_t from = at + std::char_traits<char>::length(key);
    const size_t amp = uri.find('&', from);
    return uri.substr(from, amp == std::string::npos ? std::string::npos : amp - from);
}

struct Segment {
    std::string begin, end, name;
    int32_t size = 0;
};

// One match item (the current element); 0 or its numbered exit.
int readItem(CXmlCursor& doc, Segment& seg) {
    int exitNo = 0;
    std::string uri;
    doc.enterElement();
    if (!doc.findElement("timeSpan")) {
        exitNo = 10;
    } else {
        doc.enterElement();
        if (!fieldText(doc, "startTime", seg.begin))
            exitNo = 11;
        else if (!fieldText(doc, "endTime", seg.end))
            exitNo = 12;
        doc.leaveElement();
    }
    if (!exitNo && !doc.findElementWrap("mediaSegmentDescriptor")) {
        exitNo = 13;
    } else if (!exitNo) {
        doc.enterElement();
        if (!fieldText(doc, "playbackURI", uri)) exitNo = 14;
        doc.leaveElement();
    }
    doc.leaveElement();
    seg.name = uriParam(uri, "name=");
    seg.size = vexa::decimalValue(uriParam(uri, "size="));
    return exitNo;
}

// The device's search answer: 0 with the segments, a numbered exit, or kUnnumbered.
int readSearchAnswer(const std::string& answer, const SearchContext& ctx, const std::string& dev, int32_t& matches,
                     std::vector<Segment>& segments) {
    CXmlCursor doc;
    if (!doc.setDocument(answer))
        return doc.parseResult() == "No root element" || doc.parseResult() == "Empty document" ? 7 : 6;
    doc.findElement();
    doc.enterElement();
    std::string text;
    if (!fieldText(doc, "numOfMatches", text) || text.empty()) return 8;
    matches = vexa::decimalValue(text);
    if (matches < 1) return kUnnumbered;
    if (!doc.findElementWrap("matchList")) return 9;
    doc.enterElement();
    if (!doc.findElement("searchMatchItem")) return kUnnumbered;
    do {
        Segment seg;
        if (const int exitNo = readItem(doc, seg)) return exitNo;
        if (covertSerachRspTimeByDevCap(seg.begin, seg.end, ctx) != 0) {
            if (gate().allow(dev))
                LOG_DEV(5, kRecordFunc, "[start=%s,end=%s]match item time cannot be converted",
                        vexa::logText(seg.begin).c_str(), vexa::logText(seg.end).c_str());
            return kUnnumbered;
        }
        segments.push_back(std::move(seg));
    } while (doc.findElement());
    return 0;
}

// Device text as the markup document writes it (an empty one as an empty-element tag), in valid
// UTF-8 for the host.
std::string element(const char* name, const std::string& text) {
    if (text.empty()) return std::string("<") + name + "/>";
    return std::string("<") + name + ">" + CXmlCursor::escape(vexa::sanitizeUtf8(text), false) + "</" + name + ">";
}

// The segment list as one fragment: adding element by element costs time quadratic in its size.
std::string segmentList(const std::vector<Segment>& segments) {
    std::string out = "<SegmentList>";
    for (const Segment& s : segments)
        out += "<RecordSegment>" + element("BeginTime", s.begin) + element("EndTime", s.end) +
               element("MediaDataLen", std::to_string(s.size)) + element("FileName", s.name) + "</RecordSegment>";
    return out + "</SegmentList>";
}

int32_t vexaAudioType(MediaPort& port) {
    int32_t index = 1;
    ModelCommand cmd;
    cmd.kind = 3;
    cmd.domain = "DynamicCapability";
    cmd.identifier = "GetFunctions";
    cmd.body = "{\"identifier\":\"VoiceTalk\"}";
    std::string answer;
    Json::Value root;
    if (port.model(answer, cmd) != 0 || !vexa::parseJson(answer, root)) return index;
    const Json::Value* actions = vexa::jsonMember(root, "actions");
    if (!actions || !actions->isArray()) return index;
    for (Json::ArrayIndex i = 0; i < actions->size(); ++i) {
        const Json::Value& action = (*actions)[i];
        std::string identifier;
        if (!vexa::jsonString(action, "identifier", identifier) || identifier != "StartVoiceTalk") continue;
        const Json::Value* type = &action;
        for (const char* step : {"input", "schema", "properties", "AudioCodeInfo", "properties", "type"}) {
            type = vexa::jsonMember(*type, step);
            if (!type || !type->isObject()) break;
        }
        if (!type || !type->isObject()) continue;
        vexa::jsonInt32(*type, "default", index);
        break;
    }
    return index;
}

}  // namespace

int32_t MediaOrders::getAudioType() {
    const std::string pto = m_port.devicePto();
    if (pto == "VEXA") return vexaAudioType(m_port);
    if (pto == "aldonV5") {
        VEXA_CMS_DEVICE_INFO_BLOCK block{};
        block.dwSize = sizeof block;
        VEXA_CMS_DEV_CONFIG_QUERY query{};
        query.lpOutBuffer = &block;
        query.dwOutBufferSize = sizeof block;
        if (!m_port.getDevConfig(m_port.userHandle(), VEXA_CMS_GET_DEVICE_INFO, query)) {
            LOG_DEV(5, kAudioFunc, "VEXA_CMS_GetDevConfig VEXA_FERRO_GET_DEVICE_INFO error %ld",
                    static_cast<long>(m_port.lastError()));
            return 0;
        }
        return static_cast<int32_t>(block.dwAudioCodec);
    }
    // No other family registers; an unknown codec gives the empty codec name.
    if (gate().allow(m_port.deviceId()))
        LOG_DEV(4, kAudioFunc, "[pto=%s]no talk codec for this device family", vexa::logText(pto).c_str());
    return -1;
}

int32_t MediaOrders::ProcQueryTalkParamOVIX(CXmlCursor& order, const CTarnMessage&, CXmlCursor& rsp) {
    int32_t result = kOrderFailed;
    const std::string dev = m_port.deviceId();
    std::string channel, answer, rate;
    if (m_port.deviceType() == "SecurityCP") {
        LOG_DEV(2, kTalkFunc, "not support.");
    } else if (!fieldText(order, "Channel", channel) ||
               m_port.ovix(answer, "/OVIX/System/TwoWayAudio/channels/" + std::to_string(vexa::decimalValue(channel)),
                           std::string(), kGet) != 0) {
        if (gate().allow(dev)) LOG_DEV(5, kTalkFunc, "ProcQueryRecordFileOVIX error 2");
    } else {
        CXmlCursor doc;
        if (!openRoot(doc, answer)) {
            if (gate().allow(dev)) LOG_DEV(5, kTalkFunc, "xml root get failed");
            return kBadParameters;
        }
        std::string khz;
        if (fieldText(doc, "audioSamplingRate", khz) && !samplingRateHz(khz, rate) && gate().allow(dev))
            LOG_DEV(4, kTalkFunc, "[audioSamplingRate=%s]not a rate, answered empty", vexa::logText(khz).c_str());
        result = 0;
    }
    beginAnswer(rsp, "QUERY_TALK_OVIX_RSP", result == 0);
    if (result == 0) {
        rsp.addElement("TwoWayAudioChannel");
        rsp.addChildElement("audioSamplingRate", rate);
    }
    LOG_DEV(2, kTalkFunc, "ProcQueryTalkParamOVIX rsp: %s", vexa::logText(rsp.document()).c_str());
    return result;
}

int32_t MediaOrders::ProcQueryRecordFileOVIX(CXmlCursor& order, const CTarnMessage&, CXmlCursor& rsp) {
    const std::string dev = m_port.deviceId();
    std::string devIndex, channel, stream, begin, end;
    int exitNo = 0;
    if (!fieldText(order, "DevIndexCode", devIndex))
        exitNo = 1;
    else if (!fieldText(order, "Channel", channel))
        exitNo = 2;
    else if (!fieldText(order, "StreamType", stream))
        exitNo = 3;
    else if (!fieldText(order, "BeginTime", begin))
        exitNo = 4;
    else if (!fieldText(order, "EndTime", end))
        exitNo = 5;
    // 64-bit, so a huge channel cannot overflow the track number.
    const int64_t track = int64_t{vexa::decimalValue(channel)} * 100 + vexa::decimalValue(stream);
    if (!exitNo && (track < INT32_MIN || track > INT32_MAX)) exitNo = 2;

    int32_t matches = 0;
    std::vector<Segment> segments;
    if (!exitNo) {
        SearchContext ctx;
        const DeviceGet get = [this](std::string& response, const std::string& url) {
            return m_port.ovix(response, url, std::string(), kGet);
        };
        if (const uint32_t rc = covertSearchReqTimeByDevCap(get, dev, ctx, begin, end))
            return static_cast<int32_t>(rc);
        const std::string search =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><CMSearchDescription><searchID>" +
            CXmlCursor::escape(devIndex, false) + "</searchID><trackIDList><trackID>" + std::to_string(track) +
            "</trackID></trackIDList><timeSpanList><timeSpan><startTime>" + CXmlCursor::escape(begin, false) +
            "</startTime><endTime>" + CXmlCursor::escape(end, false) +
            "</endTime></timeSpan></timeSpanList><maxResults>" + std::to_string(kMaxResults) +
            "</maxResults><searchResultPostion>0</searchResultPostion><metadataList><metadataDescriptor>" +
            kRecordTypeMetadataId + "</metadataDescriptor></metadataList></CMSearchDescription>";
        // A cut document would search for something else.
        if (search.size() > kMaxSearchDocument) {
            if (gate().allow(dev))
                LOG_DEV(5, kRecordFunc, "[length=%zu]search document too long", search.size());
            return kBadParameters;
        }
        std::string answer;
        const std::string url = std::string("/OVIX/ContentMgmt/search") + (ctx.supportsSTD ? "?timeType=STD" : "");
        exitNo = m_port.ovix(answer, url, search, kPost) != 0 ? 5 : readSearchAnswer(answer, ctx, dev, matches, segments);
    }
    if (exitNo > 0 && gate().allow(dev)) LOG_DEV(5, kRecordFunc, "ProcQueryRecordFileOVIX error %d", exitNo);

    beginAnswer(rsp, "QUERY_RECORDFILE_OVIX_RSP", exitNo == 0);
    int32_t result = exitNo == 0 ? 0 : kOrderFailed;
    if (result == 0) {
        const bool built = rsp.addElement("File") && rsp.enterElement() && rsp.addElement("23") &&
                           rsp.addElement("SegmentCount", std::to_string(matches)) &&
                           rsp.addMarkup(segmentList(segments));
        if (!built) {
            if (gate().allow(dev)) LOG_DEV(5, kRecordFunc, "[segments=%zu]answer too large", segments.size());
            beginAnswer(rsp, "QUERY_RECORDFILE_OVIX_RSP", false);
            result = kOrderFailed;
        }
    }
    LOG_DEV(2, kRecordFunc, "ProcQueryRecordFileOVIX rsp: %s", vexa::logText(rsp.document()).c_str());
    return result;
}
