// Arbitrary bytes as the configuration file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ConfigCenter.h"
#include "runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    static CConfigCenter* cfg = CConfigCenter::instance();
    cfg->parseConfigText(std::string(reinterpret_cast<const char*>(data), size));
    (void)cfg->getInt("req_timeout");
    (void)cfg->reqWaitMs();
    (void)cfg->passThroughTimeoutMs();
    return 0;
}
