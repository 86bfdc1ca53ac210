// Arbitrary configuration messages: the first byte picks the command, the rest is the message.
// The registration port is left unset, so a well-formed table never starts the libraries.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ConfigCenter.h"
#include "plugin/PluginConfigProcess.h"
#include "runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (RunLog_SetLevel(100), true);
    (void)quiet;
    if (size == 0) return 0;
    const std::string msg(reinterpret_cast<const char*>(data) + 1, size - 1);
    CConfigCenter::instance()->reset();
    switch (data[0] % 3) {
        case 0: PluginConfigProcess::InitListenPortProcess(msg); break;
        case 1: PluginConfigProcess::NetZoneTableNotifyProcess(msg); break;
        default: PluginConfigProcess::process(msg.c_str(), msg.c_str()); break;
    }
    (void)PluginConfigProcess::portStatus();
    return 0;
}
