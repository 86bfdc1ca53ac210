// Host envelopes through the dispatcher of a device whose channel answers with fuzzer text.
// Input: one flag byte (family, buffer size, channel result), then envelope text, then after the
// first 0x01 byte the text the device answers with.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gateway/VexaDeviceGateway.h"
#include "runlog.h"

namespace {

struct ScriptedChannel : DeviceChannel {
    uint32_t rc = 0;
    std::string answer;
    uint32_t model(std::string& response, const ModelCommand&, const std::string&) override {
        response = answer;
        return rc;
    }
    uint32_t ovix(std::string& response, const std::string&, const std::string&, uint8_t) override {
        response = answer;
        return rc;
    }
    uint32_t ferro(std::string& response, const std::string&, const std::string&) override {
        response = answer;
        return rc;
    }
    uint32_t resetPictureServer(const std::string&) override { return rc; }
};

const uint32_t kSizes[] = {0, 1, 2, 9, 64, 65536};
const uint32_t kResults[] = {0, 0, 0x4000a2fa, 258};
constexpr size_t kGuard = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Lines are still formatted (into a sink that drops them), only not written out.
    static bool quiet = (RunLog_SetLevel(100), RunLog_SetSink([](int, const char*, const char*, void*) {}, nullptr, 2), true);
    (void)quiet;
    if (size < 1) return 0;
    static CVexaDevice* dev = new CVexaDevice();  // lives for the whole run
    const uint8_t flags = data[0];
    const char* rest = reinterpret_cast<const char*>(data + 1);
    const std::string text(rest, size - 1);
    const size_t cut = text.find('\x01');
    const std::string env = text.substr(0, cut);
    ScriptedChannel ch;
    ch.answer = cut == std::string::npos ? std::string("{}") : text.substr(cut + 1);
    ch.rc = kResults[(flags >> 4) & 3];
    dev->setLogin({(flags & 0x40) ? -1 : 3, "192.0.2.1", 80, (flags & 1) ? "aldonV5" : "VEXA", "S"});

    const uint32_t bufSize = kSizes[(flags >> 1) % 6];
    std::vector<char> buf(bufSize + kGuard, '\x5a');
    ovixGateway(*dev, ch, env.c_str(), buf.data(), bufSize);
    for (size_t i = bufSize; i < buf.size(); ++i)
        if (buf[i] != '\x5a') __builtin_trap();  // written past the host's size
    if (bufSize == 0) return 0;
    if (!memchr(buf.data(), '\0', bufSize)) __builtin_trap();  // not terminated within its size
    return 0;
}
