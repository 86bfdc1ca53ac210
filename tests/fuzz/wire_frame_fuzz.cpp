// Feeds arbitrary bytes to the frame decoder, in one piece and split, and reads every frame
// with the typed getters the libraries use.
#include "WireFrame.h"

#include <cstddef>
#include <cstdint>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* p = reinterpret_cast<const char*>(data);
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
