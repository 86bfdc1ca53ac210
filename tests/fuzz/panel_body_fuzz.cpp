// Arbitrary bytes as the host body of the zone deactivation, relay control and zone status
// routes, against a panel that answers a short search. Each handler ends with one of its codes,
// sends only what the body names, and a success answer is a whole JSON document.
#include <cstddef>
#include <cstdint>
#include <string>

#include "../unit/gateway/FakeChannel.h"
#include "common/JsonUtil.h"
#include "common/StatusList.h"
#include "gateway/VexaDeviceGateway.h"
#include "runlog.h"

namespace {

bool bodyError(uint32_t rc) { return rc == vexa::status::kInvalidContent || rc == vexa::status::kBadParameters; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::string rsp;

    FakeChannel relay;
    uint32_t rc = ctrlOutputs(relay, rsp, body);
    Json::Value sent;
    if (rc == 0) {
        if (relay.sent.size() != 1 || !vexa::parseJson(relay.sent[0].body, sent) || !sent["switch"].isString())
            __builtin_trap();
    } else if (!bodyError(rc) || !relay.sent.empty()) {
        __builtin_trap();
    }

    FakeChannel zones;
    rc = setZoneDeactivation(zones, rsp, body);
    if ((rc != 0 && (!bodyError(rc) || !zones.sent.empty())) || !rsp.empty()) __builtin_trap();
    for (const ModelCommand& c : zones.sent)  // model zone numbers are positive decimals
        if (c.subId.empty() || c.subId[0] < '1' || c.subId[0] > '9' || c.subId.size() > 10) __builtin_trap();

    FakeChannel search;
    search.fallback = {0, R"({"numOfMatches":1,"totalMatches":3,"matchResults":[{"zoneID":1}]})"};
    rc = searchZoneStatus(search, rsp, body);
    Json::Value doc;
    if (rc == 0) {
        if (!vexa::parseJson(rsp, doc) || !doc["ZoneSearch"]["ZoneList"].isArray() || search.sent.size() > 6)
            __builtin_trap();
    } else if (!bodyError(rc) || !search.sent.empty()) {
        __builtin_trap();
    }
    return 0;
}
