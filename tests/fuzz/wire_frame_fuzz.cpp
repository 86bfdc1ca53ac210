// Feeds arbitrary bytes to the frame decoder, in one piece and split, and reads every frame
// with the typed getters the libraries use; the same bytes as one body must decode exactly as
// JsonCpp's own reader reads them (flat bodies take a direct path).
#include "WireFrame.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

const char kList[] = "list";

void drain(vexawire::FrameDecoder& d) {
    Json::Value m;
    std::string why;
    for (;;) {
        const auto r = d.next(m, why);
        if (r != vexawire::FrameDecoder::Result::Frame) return;
        (void)vexawire::getString(m, "type");
        (void)vexawire::getU32(m, "seq");
        (void)vexawire::getInt(m, "protocolVersion");
        (void)vexawire::getBool(m, "header");
        (void)vexawire::getString(m["alarmServer"], "address");
        const Json::Value* list = m.find(kList, kList + sizeof kList - 1);
        if (list && list->isArray())
            for (const auto& e : *list) (void)e.isString();
    }
}

void crossCheck(const char* p, size_t n) {
    static const std::unique_ptr<Json::CharReader> ref = [] {
        Json::CharReaderBuilder b;
        b["stackLimit"] = 64;
        b["collectComments"] = false;
        b["allowComments"] = false;
        b["failIfExtra"] = true;
        return std::unique_ptr<Json::CharReader>(b.newCharReader());
    }();
    if (memchr(p, '\0', n)) return;  // refused before any reading
    Json::Value want, got;
    std::string errs, why;
    bool refOk = false;
    try {
        refOk = ref->parse(p, p + n, &want, &errs) && want.isObject() && want["type"].isString();
    } catch (...) {
    }
    const bool ok = vexawire::decodeBody(p, n, got, why);
    if (ok != refOk || (ok && !(got == want))) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* p = reinterpret_cast<const char*>(data);
    crossCheck(p, size);
    vexawire::FrameDecoder whole;
    whole.feed(p, size);
    drain(whole);
    // Same bytes in two pieces: a split must not change what is decoded.
    vexawire::FrameDecoder split;
    const size_t half = size / 2;
    split.feed(p, half);
    drain(split);
    split.feed(p + half, size - half);
    drain(split);
    return 0;
}
