#include "common/ZornaMessage.h"

namespace {

const char* const kDeclaration = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n";

// Fields are found whatever their order, so each read is a lookup with wrap-around.
bool readText(CXmlCursor& doc, const char* name, std::string& out) {
    if (!doc.findElementWrap(name)) return false;
    out = doc.elementText();
    return true;
}

void readInt(CXmlCursor& doc, const char* name, int32_t& out) {
    std::string text;
    if (readText(doc, name, text)) out = vexa::decimalValue(text);
}

}  // namespace

bool vexa::zornaTimeZoneIdx(const std::string& text, int& idx) {
    idx = 0;
    if (text.empty()) return true;
    if (text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const int v = std::stoi(text);
    if (v < 1 || v > 35) return false;
    idx = v;
    return true;
}

bool CZornaMessage::parse(CXmlCursor& doc) { return parseForm(doc, true); }

bool CZornaMessage::parseAlarm(CXmlCursor& doc) { return parseForm(doc, false); }

bool CZornaMessage::parseForm(CXmlCursor& doc, bool full) {
    doc.resetPosition();
    if (!doc.findElementWrap("ZORNAMessage")) return false;
    doc.enterElement();
    readText(doc, "Version", Version);
    readInt(doc, "Sequence", Sequence);
    readText(doc, "CommandType", CommandType);
    if (full && doc.findElementWrap("Pu")) {
        doc.enterElement();
        readText(doc, "Ip", PuIp);
        readInt(doc, "Port", PuPort);
        doc.leaveElement();
    }
    if (CommandType != "REQUEST") {
        readText(doc, "WhichCommand", WhichCommand);
        readInt(doc, "Status", Status);
        readText(doc, "Description", Description);
        return true;
    }
    readText(doc, "Command", Command);
    if (!doc.findElementWrap("Params")) return true;
    doc.enterElement();
    readText(doc, "ConfigCmd", ConfigCmd);
    readText(doc, "DeviceID", DeviceID);
    if (full) {
        readText(doc, "DeviceSN", DeviceSN);
        readText(doc, "RegIp", RegIp);
        readInt(doc, "RegPort", RegPort);
    }
    return true;
}

bool CZornaMessage::build(CXmlCursor& doc) const {
    doc.setDocument(kDeclaration);
    bool ok = doc.addElement("ZORNAMessage") && doc.enterElement();
    ok = ok && doc.addElement("Version", Version) && doc.addElement("Sequence", std::to_string(Sequence)) &&
         doc.addElement("CommandType", CommandType);
    if (ok && !PuIp.empty()) {
        ok = doc.addElement("Pu") && doc.enterElement() && doc.addElement("Ip", PuIp) &&
             doc.addElement("Port", std::to_string(PuPort));
        // A trace context is only meaningful as a pair.
        if (ok && !TraceId.empty() && !SpanId.empty())
            ok = doc.addElement("TraceId", TraceId) && doc.addElement("SpanId", SpanId);
        ok = ok && doc.leaveElement();
    }
    if (ok && CommandType == "RESPONSE") {
        ok = doc.addElement("WhichCommand", WhichCommand) && doc.addElement("Status", std::to_string(Status));
        if (ok && !Description.empty()) ok = doc.addElement("Description", Description);
    } else if (ok) {
        ok = doc.addElement("Command", Command);
    }
    return ok && doc.addElement("Params") && doc.enterElement();
}
