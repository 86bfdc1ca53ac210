// Arbitrary bytes as a device's search answer into the host's JSON. Input: one flag byte (whether
// the request times were shifted to device-local time), then the answer. A written answer is
// valid UTF-8 JSON whose list never outgrows the device's count and whose playback URLs are whole.
#include <cstdint>
#include <string>

#include "common/JsonUtil.h"
#include "common/Utf8.h"
#include "gateway/RecordSearch.h"
#include "runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    if (size < 1) return 0;
    SearchContext ctx;
    ctx.searchID = "s";
    ctx.channel = 3;
    ctx.mediaIP = "127.0.0.1";
    ctx.mediaPort = 554;
    ctx.needsConversion = data[0] & 1;
    ctx.timeZoneIdx = 23;
    std::string rsp;
    const int rc = searchRecordsRsp(std::string(reinterpret_cast<const char*>(data + 1), size - 1), ctx, "7", "dev", rsp);
    if (rc == -1) {
        if (!rsp.empty()) __builtin_trap();
        return 0;
    }
    Json::Value v;
    if (rc != 0 || !vexa::isValidUtf8(rsp) || !vexa::parseJson(rsp, v)) __builtin_trap();
    const Json::Value& r = v["CMSearchResult"];
    const Json::Value& list = r["matchList"];
    if (!list.isNull() && (!r["numOfMatches"].isInt() || list.size() > static_cast<unsigned>(r["numOfMatches"].asInt()) ||
                           list.size() > 1000))
        __builtin_trap();
    const std::string prefix = "rtsp://127.0.0.1:554/dac/playback/camera/73/MAIN/TCP?starttime=";
    for (const Json::Value& e : list) {
        const std::string url = e["searchMatchItem"]["mediaSegmentDescriptor"]["playbackURI"].asString();
        if (url.size() > 255 || url.compare(0, prefix.size(), prefix) != 0 ||
            url.rfind("&streamform=rtp") != url.size() - 15)
            __builtin_trap();
    }
    return 0;
}
