// Whole order texts through the order interface, on a scripted device: a request order and its
// push run against one port, so a session stored by one input can be taken by the next part of it.
// Answers are either delivered whole with their terminating zero or not written at all.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FakeMediaPort.h"
#include "media/MediaOrders.h"
#include "runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    FakeMediaPort port;
    port.fallback = {0, "<Time><localTime>2024-05-01T08:00:00+08:00</localTime></Time>"};
    port.pto = size % 2 ? "VEXA" : "aldonV5";
    port.fallback.text += size % 3 ? "" : "{\"actions\":[]}";
    // Inputs may hold several orders separated by NUL bytes; each runs in turn.
    const std::string all(reinterpret_cast<const char*>(data), size);
    size_t at = 0;
    for (int n = 0; n < 4 && at <= all.size(); ++n) {
        const size_t end = std::min(all.find('\0', at), all.size());
        const std::string order = all.substr(at, end - at);
        at = end + 1;
        char buf[512];
        std::memset(buf, 0x7f, sizeof buf);
        const int32_t rc = MediaOrders(port).TransOrder(order.c_str(), buf, static_cast<int32_t>(sizeof buf));
        if (rc == 0 && !std::memchr(buf, 0, sizeof buf)) __builtin_trap();
        if (rc != 0 && buf[0] != 0x7f) __builtin_trap();
    }
    return 0;
}
