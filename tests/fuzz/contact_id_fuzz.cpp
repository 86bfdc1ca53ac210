// Contact ID conversion of arbitrary input. First byte even: the rest is a CIDREPORT text (envelope
// parse, then the conversion); odd: the rest is the "alarm" text of a model-command alarm. Every
// delivered event must carry content that is valid JSON within the record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "alarm/ContactId.h"
#include "common/JsonUtil.h"
#include "runlog.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void checkEvent(const AlarmEvent& event) {
    if (!event.ready) return;
    const AlarmEventInfo* e = &event.info;
    const size_t len = strnlen(e->szContent, sizeof e->szContent);
    check(len < sizeof e->szContent && len <= vexa::kCidContentLimit);
    check(strnlen(e->szTime, sizeof e->szTime) <= 31);
    check(e->dwEventCode == vexa::kCidEventPlain || e->dwEventCode == vexa::kCidEventVideoReview);
    Json::Value v;
    check(vexa::parseJson("{" + std::string(e->szContent, len) + "}", v));
    check(v.isMember(e->dwEventCode == vexa::kCidEventPlain ? "CIDAlarm" : "VideoReview"));
}

bool setUp() {
    // Log lines are formatted (so their arguments are exercised) but not written.
    RunLog_SetLevel(100);
    RunLog_SetSink([](int, const char*, const char*, void*) {}, nullptr, 2);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = setUp();
    (void)ready;
    if (size < 1) return 0;
    // Bit 1 of the selector switches video review, so both event forms are reached.
    AlarmSource source;
    source.deviceId = "p1";
    source.serialNo = "SN-1";
    source.videoReview = (data[0] & 2) != 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    AlarmEvent event;
    if ((data[0] & 1) == 0) {
        CXmlCursor doc(text);
        CZornaMessage msg;
        if (msg.parse(doc)) procFERROCidReportReq(msg, text, &source, event);
    } else {
        procCidAlarmJson(text, "p1", &source, event);
    }
    checkEvent(event);
    return 0;
}
