// Host search bodies and mediaInfo through the record search of a device that answers every
// step well. Input: one flag byte (uri form, device time base), the body, then after the first
// 0x01 byte the mediaInfo JSON. Whatever the host sends, the device gets either nothing or one
// well-formed search document that fits its limit, and a refusal sends no search.
#include <tinyxml.h>

#include <cstdint>
#include <string>

#include "common/JsonUtil.h"
#include "common/StatusList.h"
#include "common/Utf8.h"
#include "gateway/VexaDeviceGateway.h"
#include "runlog.h"

namespace {

struct Device : DeviceChannel {
    bool localTime = false;
    int searches = 0;
    std::string document;
    uint32_t model(std::string&, const ModelCommand&, const std::string&) override { return 0x40000001; }
    uint32_t ferro(std::string&, const std::string&, const std::string&) override { return 0x40000001; }
    uint32_t resetPictureServer(const std::string&) override { return 0x40000001; }
    uint32_t ovix(std::string& rsp, const std::string& url, const std::string& body, uint8_t method) override {
        const std::string path = url.substr(0, url.find('?'));
        if (method == 2) {
            ++searches;
            document = body;
            rsp = "<CMSearchResult><responseStatus>true</responseStatus><responseStatusStrg>OK</responseStatusStrg>"
                  "<numOfMatches>1</numOfMatches><matchList><searchMatchItem><trackID>101</trackID><timeSpan>"
                  "<startTime>2024-05-01T01:00:00</startTime><endTime>2024-05-01T01:30:00</endTime></timeSpan>"
                  "<mediaSegmentDescriptor><contentType>video</contentType><playbackURI>r?name=a&amp;size=1"
                  "</playbackURI></mediaSegmentDescriptor></searchMatchItem></matchList></CMSearchResult>";
        } else if (path == "/OVIX/System/capabilities") {
            rsp = std::string("<C><isSupportTimeTypeSTD>") + (localTime ? "false" : "true") + "</isSupportTimeTypeSTD></C>";
        } else if (path == "/OVIX/System/deviceInfo") {
            rsp = "<D><deviceType>NVR</deviceType></D>";
        } else if (path == "/OVIX/System/time") {
            rsp = "<T><localTime>2024-05-01T10:00:00+05:30</localTime></T>";
        } else {
            rsp = "<L><C><id>1</id></C><C><id>2</id></C><C><id>33</id></C></L>";
        }
        return 0;
    }
};

const char* const kUris[] = {"/OVIX/ContentMgmt/search?format=json&devIndex=7",
                             "/OVIX/ContentMgmt/search?devIndex=1000001$1$0&format=json",
                             "/OVIX/ContentMgmt/search?format=json&devIndex=", "/OVIX/ContentMgmt/search?format=json"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t cut = text.find('\x01');
    Json::Value media;
    if (cut != std::string::npos) vexa::parseJson(text.substr(cut + 1), media);
    Device ch;
    ch.localTime = data[0] & 4;
    CVexaDevice dev;
    std::string rsp;
    const uint32_t rc = ovixSearchRecords(dev, ch, kUris[data[0] & 3], text.substr(0, cut), media, rsp);
    if (rc != 0 && (rc != vexa::status::kBadParameters || ch.searches != 0)) __builtin_trap();
    if (ch.searches == 0) return 0;
    if (ch.searches != 1 || ch.document.size() > 1023) __builtin_trap();
    TiXmlDocument doc;
    doc.Parse(ch.document.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* root = doc.RootElement();
    if (doc.Error() || !root || std::string(root->Value()) != "CMSearchDescription") __builtin_trap();
    Json::Value back;
    if (!vexa::parseJson(rsp, back) || !vexa::isValidUtf8(rsp)) __builtin_trap();
    return 0;
}
