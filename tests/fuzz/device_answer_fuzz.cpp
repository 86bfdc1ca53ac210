// Arbitrary device answers through the answer conversions of the request channel: model
// answers (covertVexaRsp) and device-API status documents (parseOVIXResponseStatus).
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/JsonUtil.h"
#include "device/VexaDevice.h"
#include "runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string rsp = text;
    const uint32_t rc = CVexaDevice::covertVexaRsp(rsp);
    // A successful conversion leaves either the answer or a compact JSON text.
    if (rc == 0 && rsp != text) {
        Json::Value v;
        if (!vexa::parseJson(rsp, v)) __builtin_trap();
    }
    if (rc != 0 && rsp != text) __builtin_trap();  // failures never touch the answer
    Json::Value status;
    const uint32_t st = CVexaDevice::parseOVIXResponseStatus(text, status);
    if (st != 0 && st != 0x60000001 && !status.isObject()) __builtin_trap();
    (void)CVexaDevice::mapVexaErrorCode(text);
    return 0;
}
