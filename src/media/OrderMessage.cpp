#include "media/OrderMessage.h"

#include <cctype>
#include <climits>
#include <cstdlib>

#include "common/Log.h"

namespace {
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

bool find(CXmlCursor& doc, const char* name) { return doc.findElementWrap(name); }

// Back to the start of the current level: the handlers read their fields from there.
void rewindLevel(CXmlCursor& doc) {
    if (doc.parentPosition() && doc.leaveElement()) doc.enterElement();
}

bool linkTypeKnown(const std::string& t) { return t == "TCP" || t == "UDP"; }

// Session, or SessionId when there is no Session element; present and a number.
bool sessionField(CXmlCursor& doc, int32_t& session) {
    if (find(doc, "Session")) return vexa::media::strictDecimal(doc.elementText(), session);
    return vexa::media::fieldNumber(doc, "SessionId", session);
}
}  // namespace

namespace vexa {
namespace media {

bool strictDecimal(const std::string& text, int32_t& value) {
    size_t b = text.find_first_not_of(" \t\r\n");
    const size_t e = text.find_last_not_of(" \t\r\n");
    if (b == std::string::npos) return false;
    const bool neg = text[b] == '-';
    if (neg) ++b;
    if (b > e || e - b >= 10) return false;  // no digits, or more than ten
    int64_t v = 0;
    for (size_t i = b; i <= e; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
    }
    if (neg) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool fieldText(CXmlCursor& doc, const char* name, std::string& text) {
    if (!find(doc, name)) return false;
    text = doc.elementText();
    return true;
}

bool fieldNumber(CXmlCursor& doc, const char* name, int32_t& value) {
    return find(doc, name) && strictDecimal(doc.elementText(), value);
}

bool validSinkIp(const std::string& ip) { return !ip.empty() && ip.size() <= 127; }
bool validSinkPort(int32_t port) { return port >= 1 && port <= 65535; }

}  // namespace media
}  // namespace vexa

bool CTarnMessage::parse(CXmlCursor& doc) {
    doc.resetPosition();
    if (!find(doc, "Message")) return false;
    doc.enterElement();
    if (find(doc, "DevId")) DevId = vexa::decimalValue(doc.elementText());
    if (find(doc, "DevIndexCode")) DevIndexCode = doc.elementText();
    if (!find(doc, "Pack")) {
        rewindLevel(doc);
        return true;
    }
    PackType = doc.attribute("type");
    doc.enterElement();
    if (find(doc, "Command")) Command = doc.elementText();
    if (find(doc, "ZORNAMessage")) {
        doc.enterElement();
        if (find(doc, "Params")) {
            doc.enterElement();
            if (find(doc, "SessionID")) SessionID = vexa::decimalValue(doc.elementText());
            if (find(doc, "VoiceChan")) VoiceChan = vexa::decimalValue(doc.elementText());
            doc.leaveElement();
        }
        doc.leaveElement();
    } else if (find(doc, "Command")) {
        Command = doc.elementText();
    }
    if (find(doc, "Result")) {
        ResultId = vexa::decimalValue(doc.attribute("id"));
        ResultText = doc.elementText();
    }
    if (find(doc, "DevIndexCode")) DevIndexCode = doc.elementText();
    if (find(doc, "Channel")) Channel = vexa::decimalValue(doc.elementText());
    if (find(doc, "ZORNAMessage")) {
        doc.leaveElement();
        PackContent = doc.elementContent();
        CXmlCursor inner(PackContent);
        if (!Zorna.parse(inner)) return false;
        doc.enterElement();
        return true;
    }
    rewindLevel(doc);
    return true;
}

bool CTarnMessage::build(CXmlCursor& doc) const {
    doc.setDocument(kDeclaration);
    bool ok = doc.addElement("Message") && doc.enterElement();
    if (ok && DevId != -1) ok = doc.addElement("DevId", std::to_string(DevId));
    if (ok && !DevIndexCode.empty()) ok = doc.addElement("DevIndexCode", DevIndexCode);
    ok = ok && doc.addElement("Pack") && doc.setAttribute("type", PackType) && doc.enterElement();
    if (ok && !Command.empty()) ok = doc.addElement("Command", Command);
    if (ok && !ResultText.empty())
        ok = doc.addElement("Result", ResultText) && doc.setAttribute("id", std::to_string(ResultId));
    if (ok && !PackContent.empty()) {
        CXmlCursor frag(PackContent);
        if (frag.findElementWrap("ZORNAMessage") && frag.enterElement() && frag.findElementWrap("Status")) {
            const int32_t status = vexa::decimalValue(frag.elementText());
            frag.setElementText(std::to_string(status == 501 ? 200 : status));
        }
        ok = doc.addMarkup(frag.document());
    }
    return ok;
}

void CTarnMessage::setResult(bool ok) {
    ResultText = ok ? "OK" : "FAILED";
    ResultId = ok ? 200 : 410;
}

bool CTarnPlayStreamReq::parse(CXmlCursor& doc) {
    using namespace vexa::media;
    return fieldText(doc, "DevIndexCode", DevIndexCode) && fieldNumber(doc, "Channel", Channel) && Channel >= 0 &&
           fieldText(doc, "LinkType", LinkType) && linkTypeKnown(LinkType) &&
           fieldText(doc, "ChannelType", ChannelType) && fieldText(doc, "SinkIP", SinkIP) && validSinkIp(SinkIP) &&
           fieldNumber(doc, "SinkPort", SinkPort) && validSinkPort(SinkPort);
}

bool CTarnSessionReq::parse(CXmlCursor& doc) {
    return vexa::media::fieldText(doc, "DevIndexCode", DevIndexCode) && sessionField(doc, Session);
}

bool CTarnStopReq::parse(CXmlCursor& doc) {
    if (!vexa::media::fieldText(doc, "DevIndexCode", DevIndexCode)) return false;
    if (vexa::media::fieldText(doc, "LinkType", LinkType) && !linkTypeKnown(LinkType)) return false;
    return sessionField(doc, Session);
}

bool CTarnPlayBackFileReq::ParsePlayBackFileReq(CXmlCursor& doc) {
    static const char* F = "CTarnPlayBackFileReq::ParsePlayBackFileReq";
    using namespace vexa::media;
    const auto formatError = [] {
        LOG_DEV(5, F, "%s", "format error");
        return false;
    };
    if (!fieldText(doc, "DevIndexCode", DevIndexCode)) return false;
    if (!fieldNumber(doc, "Channel", Channel) || Channel < 0) return false;
    if (!fieldText(doc, "SinkIP", SinkIP)) return formatError();
    if (!validSinkIp(SinkIP)) return false;
    if (!find(doc, "SinkPort")) return formatError();
    if (!strictDecimal(doc.elementText(), SinkPort) || !validSinkPort(SinkPort)) return false;
    if (!fieldText(doc, "FileName", FileName)) return false;
    if (!fieldText(doc, "PlaybackType", PlaybackType)) return formatError();
    if (!fieldText(doc, "StartTime", StartTime) || !fieldText(doc, "EndTime", EndTime)) return false;
    if (!fieldNumber(doc, "StartOffset", StartOffset)) return false;
    int32_t type = 1;
    StreamType = find(doc, "StreamType") && strictDecimal(doc.elementText(), type) && type == 2 ? 2 : 1;
    return true;
}

bool CTarnPlayBackFileRsp::build(CXmlCursor& doc) const {
    doc.resetPosition();
    return Msg.build(doc) && doc.addElement("Session", std::to_string(Session)) && doc.addElement("DevId", DevId);
}
