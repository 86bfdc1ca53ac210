// Arbitrary bytes as a panel's answer to the first extension-device search and to the first
// zone status page and its basic information. The searches end, answer with one of their codes,
// and a success answer is a whole JSON document of valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../unit/gateway/FakeChannel.h"
#include "common/JsonUtil.h"
#include "common/StatusList.h"
#include "common/Utf8.h"
#include "gateway/VexaDeviceGateway.h"
#include "gateway/ZonesOutputs.h"
#include "runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    const std::string answer(reinterpret_cast<const char*>(data), size);
    std::string rsp;
    Json::Value doc;

    FakeChannel devs;
    devs.script(0, answer);
    devs.fallback = {0, "{}"};
    uint32_t rc = getExDevStatus(devs, rsp);
    if (rc == 0) {
        if (!vexa::parseJson(rsp, doc) || !doc["ExDevStatus"].isObject() || !vexa::isValidUtf8(rsp)) __builtin_trap();
    } else if (rc != vexa::status::kNotSupport || !rsp.empty()) {
        __builtin_trap();
    }
    if (devs.sent.size() > 8 + static_cast<size_t>(kPanelSearchMaxPages)) __builtin_trap();

    FakeChannel zones;
    zones.script(0, answer);
    zones.script(0, answer);
    zones.fallback = {0, "{}"};
    rc = searchZoneStatus(zones, rsp, R"({"ZoneCond":{"searchID":"s","searchResultPosition":0,"maxResults":8}})");
    if (rc == 0) {
        if (!vexa::parseJson(rsp, doc) || !doc["ZoneSearch"]["ZoneList"].isArray() || !vexa::isValidUtf8(rsp))
            __builtin_trap();
    } else if (!rsp.empty()) {  // a failure (the answer's own code included) leaves no raw answer behind
        __builtin_trap();
    }
    return 0;
}
