// gwhost: a small real host for the VexaDev plug-in. Loads libVexaDev.so, sends the
// configuration commands, drives devices and prints what comes back as JSON lines.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PluginHost.h"

namespace {

void usage() {
    fprintf(stderr,
            "usage: gwhost --demo [--plugin PATH]\n"
            "  --demo         run the built-in scenario on free loopback ports\n"
            "  --plugin PATH  plug-in library (default: ../lib/libVexaDev.so beside this program)\n");
}

int runDemo(const std::string& pluginPath) {
    gwhost::PluginHost host;
    std::string why;
    if (!host.load(pluginPath, why)) {
        fprintf(stderr, "gwhost: cannot load %s: %s\n", pluginPath.c_str(), why.c_str());
        return 1;
    }
    const GWPluginInterface* t = host.table();
    printf("{\"event\":\"loaded\",\"version\":\"%s\"}\n", t->Plugin_GetVersion());
    if (t->Plugin_Init() != 0) {
        fprintf(stderr, "gwhost: Plugin_Init failed\n");
        return 1;
    }
    const uint16_t regPort = gwhost::freeLoopbackPort();
    const uint16_t alarmPort = gwhost::freeLoopbackPort();
    const uint16_t storagePort = gwhost::freeLoopbackPort();
    char ports[160];
    snprintf(ports, sizeof ports, "aldonV5RegPort=%u;aldonV5AlarmPort=%u;pssUploadPort=%u;", regPort, alarmPort,
             storagePort);
    uint32_t rc = host.setConfig("InitListenPort", ports);
    printf("{\"event\":\"config\",\"command\":\"InitListenPort\",\"result\":%u}\n", rc);
    const char* zones =
        "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\",\"id\":1}],\"natIps\":[]}";
    rc = host.setConfig("NetZoneTableNotify", zones);
    printf("{\"event\":\"config\",\"command\":\"NetZoneTableNotify\",\"result\":%u}\n", rc);
    std::string status;
    host.portStatus(status);
    printf("{\"event\":\"portStatus\",\"status\":%s}\n", status.c_str());
    bool ok = rc == 0 && status.find("\"Invalid\"") == std::string::npos;

    gwhost::DeviceTables dev;
    rc = host.createDevice(dev);
    printf("{\"event\":\"device\",\"created\":%s,\"interfaces\":%d}\n", rc == 0 ? "true" : "false",
           (dev.orderTrans != nullptr) + (dev.event != nullptr) + (dev.connect != nullptr) + (dev.ovix != nullptr));
    ok = ok && rc == 0;
    if (dev.handle) t->Plugin_DestroyDevice(dev.handle);

    rc = t->Plugin_Fini();
    printf("{\"event\":\"shutdown\",\"result\":%u}\n", rc);
    fflush(stdout);
    return ok && rc == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string plugin = gwhost::defaultPluginPath();
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--demo")) {
            demo = true;
        } else if (!strcmp(argv[i], "--plugin") && i + 1 < argc) {
            plugin = argv[++i];
        } else {
            usage();
            return 2;
        }
    }
    if (!demo) {
        usage();
        return 2;
    }
    return runDemo(plugin);
}
