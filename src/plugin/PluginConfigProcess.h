// Host configuration commands ("SetVexaSdkLog", "NetZoneTableNotify", "InitListenPort") and the
// port status document.
#ifndef VEXA_PLUGIN_CONFIG_PROCESS_H
#define VEXA_PLUGIN_CONFIG_PROCESS_H

#include <cstdint>
#include <string>

class PluginConfigProcess {
public:
    static uint32_t process(const char* head, const char* message);
    static uint32_t SetVexaSdkLogProcess(const std::string& message);
    static uint32_t NetZoneTableNotifyProcess(const std::string& message);
    static uint32_t InitListenPortProcess(const std::string& message);
    static std::string portStatus();
};

#endif
