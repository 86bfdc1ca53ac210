// The alarm worker's whole step on one text, with registered devices: whatever reaches the host
// must carry valid JSON content within its field and NUL-terminated texts.
#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "alarm/AlarmMsgMgr.h"
#include "common/Utf8.h"
#include "device/VexaDevice.h"
#include "runlog.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

template <size_t N>
void terminated(const char (&field)[N]) {
    check(memchr(field, '\0', N) != nullptr);
}

bool strictJsonObject(const std::string& text) {
    static const std::unique_ptr<Json::CharReader> reader = [] {
        Json::CharReaderBuilder b;
        Json::CharReaderBuilder::strictMode(&b.settings_);
        b["stackLimit"] = 200;
        return std::unique_ptr<Json::CharReader>(b.newCharReader());
    }();
    Json::Value v;
    std::string errs;
    try {
        return reader->parse(text.data(), text.data() + text.size(), &v, &errs) && v.isObject();
    } catch (const Json::Exception&) {
        return false;
    }
}

void VEXA_CALL onEvent(void*, const void*, const void* event, uint32_t, void*) {
    const auto* e = static_cast<const AlarmEventInfo*>(event);
    check(e->dwSize == sizeof(AlarmEventInfo));
    terminated(e->szContent);
    terminated(e->szName);
    terminated(e->szTime);
    terminated(e->szEventType);
    terminated(e->szDescription);
    terminated(e->szDeviceID);
    terminated(e->szSerialNo);
    for (const char* text : {e->szContent, e->szName, e->szTime, e->szEventType, e->szDescription})
        check(vexa::isValidUtf8(text));  // device bytes reach the host repaired
    std::string content(e->szContent);
    // The ZORNA input alarm's fragment keeps its trailing comma: the host splices it.
    if (e->dwEventCode == 0x90001 && !content.empty() && content.back() == ',') content.pop_back();
    check(strictJsonObject("{" + content + "}"));
}

void quiet(int, const char*, const char*, void*) {}

struct Devices {
    Devices() {
        RunLog_SetLevel(100);
        RunLog_SetSink(&quiet, nullptr, 0);  // lines are still formatted
        for (const char* p : {"DeviceId=dev1;AlarmActiveStatus=active;", "DeviceId=cam1;AlarmActiveStatus=active;",
                              "DeviceId=dvr7;AlarmActiveStatus=active;", "DeviceId=off1;AlarmActiveStatus=inactive;",
                              "DeviceId=5b1c0e9a-77f1-4f5e-9b7e-2d5c6a1e0f11;AlarmActiveStatus=active;"}) {
            auto d = std::make_shared<CVexaDevice>();
            d->SetEventCallBack(&onEvent, nullptr);
            d->Connect_V2(p);
            d->setLogin({-1, "127.0.0.1", 1, "v5", "SN-FUZZ"});
            all.push_back(d);
        }
    }
    std::vector<std::shared_ptr<CVexaDevice>> all;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Devices devices;
    CAlarmMsgMgr::instance()->processAlarm(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
