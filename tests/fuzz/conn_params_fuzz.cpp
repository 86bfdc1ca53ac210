// Arbitrary connection-parameter texts through the parser and a device's connect path.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto params = CVexaDevice::parseParams(text.c_str());
    for (const auto& kv : params)
        if (kv.first.empty() || kv.first.find(';') != std::string::npos) __builtin_trap();
    auto dev = std::make_shared<CVexaDevice>();
    dev->Connect_V2(text.c_str());
    dev->SetConnectParams(text.c_str());
    dev->DisConnect();
    if (CVexaDeviceMgr::instance()->deviceCount() != 0) __builtin_trap();
    return 0;
}
