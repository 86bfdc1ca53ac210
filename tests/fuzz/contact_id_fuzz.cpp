// Contact ID conversion of arbitrary input. First byte even: the rest is a CIDREPORT text (envelope
// parse, then the conversion); odd: the rest is the "alarm" text of a model-command alarm. Every
// delivered event must carry content that is valid JSON within the record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "alarm/ContactId.h"
#include "common/JsonUtil.h"
#include "device/VexaDevice.h"
#include "runlog.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void VEXA_CALL onEvent(void*, const void*, const void* event, uint32_t, void*) {
    const auto* e = static_cast<const AlarmEventInfo*>(event);
    const size_t len = strnlen(e->szContent, sizeof e->szContent);
    check(len < sizeof e->szContent && len <= vexa::kCidContentLimit);
    check(strnlen(e->szTime, sizeof e->szTime) <= 31);
    check(e->dwEventCode == vexa::kCidEventPlain || e->dwEventCode == vexa::kCidEventVideoReview);
    Json::Value v;
    check(vexa::parseJson("{" + std::string(e->szContent, len) + "}", v));
    check(v.isMember(e->dwEventCode == vexa::kCidEventPlain ? "CIDAlarm" : "VideoReview"));
}

std::shared_ptr<CVexaDevice> setUp() {
    // Log lines are formatted (so their arguments are exercised) but not written.
    RunLog_SetLevel(100);
    RunLog_SetSink([](int, const char*, const char*, void*) {}, nullptr, 2);
    auto d = std::make_shared<CVexaDevice>();
    d->SetEventCallBack(onEvent, nullptr);
    d->Connect_V2("DeviceId=p1;AlarmActiveStatus=active;");
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::shared_ptr<CVexaDevice> dev = setUp();
    if (size < 1) return 0;
    // Bit 1 of the selector switches video review, so both delivery paths are reached.
    dev->setVideoReviewEnabled((data[0] & 2) != 0);
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        CXmlCursor doc(text);
        CZornaMessage msg;
        if (msg.parse(doc)) procFERROCidReportReq(msg, text);
    } else {
        procCidAlarmJson(text, "p1");
    }
    return 0;
}
