// Host bodies of the system routes (upgrade, device information, time, network): the first byte
// picks the route, the rest is the body. What goes to the device is a well-formed document within
// its limit; what the host gets is JSON.
#include <tinyxml.h>

#include <cstring>
#include <string>

#include "common/JsonUtil.h"
#include "gateway/DeviceSystem.h"
#include "gateway/VexaDeviceGateway.h"
#include "runlog.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Device-API documents have the 1023-byte device limit; FERRO bodies the channel's own.
void checkDocument(const std::string& xml, size_t limit) {
    TiXmlDocument doc;
    doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    check(!doc.Error() && doc.RootElement() && xml.size() <= limit);
}

struct Channel : DeviceChannel {
    uint32_t model(std::string& response, const ModelCommand&, const std::string&) override {
        response = "{}";
        return 0;
    }
    uint32_t ovix(std::string& response, const std::string& url, const std::string& body, uint8_t method) override {
        if (method == 1) checkDocument(body, 1023);
        response = url == "/OVIX/System/time/timeZone" ? "CST-5:45:00" : "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>";
        return 0;
    }
    uint32_t ferro(std::string& response, const std::string&, const std::string& body) override {
        checkDocument(body, 102400);
        response = "{}";
        return 0;
    }
    uint32_t resetPictureServer(const std::string&) override { return 0; }
};

void quiet(int, const char*, const char*, void*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto dev = [] {
        RunLog_SetLevel(100);
        RunLog_SetSink(&quiet, nullptr, 0);
        auto d = std::make_shared<CVexaDevice>();
        d->Connect_V2("DeviceId=fz;");
        d->setLogin({5, "127.0.0.1", 1, "aldonV5", "SN"});
        return d;
    }();
    if (size == 0) return 0;
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    Channel ch;
    std::string rsp;
    int32_t result = 0;
    UpgradeParams p;
    switch (data[0] % 5) {
        case 0:
            if (ParseUpgradeReq(p, body) == 0)
                check(memchr(p.file, '\0', sizeof p.file) && p.ftpServerPort >= 1 && p.ftpServerPort <= 65535);
            UpgradeDev(*dev, ch, body, rsp);
            break;
        case 1: ovixPutDeviceInfo(ch, body, rsp); break;
        case 2: ovixSetTimeMngParam(ch, result, body, rsp); break;
        case 3: ovixPutIPAddress(ch, "/OVIX/System/Network/interfaces/1/ipAddress", body, rsp); break;
        default: ovixPutNetworkInterface(ch, "/OVIX/System/Network/interfaces/1", body, rsp); break;
    }
    Json::Value v;
    check(rsp.empty() || vexa::parseJson(rsp, v));
    return 0;
}
