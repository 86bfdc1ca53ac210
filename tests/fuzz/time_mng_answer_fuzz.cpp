// A device's time-management answers into the converters: the time document into the host's
// JSON, the zone answer into the time sent back. Host JSON always parses; a time written to the
// device is a valid device-API time in the device's zone.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/JsonUtil.h"
#include "common/TimeConvert.h"
#include "gateway/DeviceSystem.h"
#include "runlog.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void quiet(int, const char*, const char*, void*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool init = (RunLog_SetLevel(100), RunLog_SetSink(&quiet, nullptr, 0), true);
    (void)init;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string json;
    if (transTimeMngXml2Json(text, json)) {
        Json::Value v;
        check(vexa::parseJson(json, v) && v.isObject() && v["Time"]["localTime"].isString() &&
              v["Time"]["timeMode"].isString());
    }
    int32_t east = 0;
    std::string zone, out;
    if (parseDeviceZoneOffset(text, east, zone)) {
        check(east >= -12 * 3600 && east <= 14 * 3600 && zone.compare(0, 3, "CST") == 0 && zone.size() <= 128);
        for (const char* t : {"2021-03-04T05:06:07Z", "1970-01-01T00:00:00+14:00", "2100-12-31T23:59:59-12:00"})
            if (hostTimeToDeviceTime(t, east, out)) check(out.size() == 25 && isValidJsonTime(out));
    }
    const size_t cut = text.find('|');
    if (cut != std::string::npos && hostTimeToDeviceTime(text.substr(0, cut), 20700, out))
        check(out.size() == 25 && isValidJsonTime(out));
    return 0;
}
