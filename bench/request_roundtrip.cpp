// Device-API request round trip: a host thread's OVIX_Getway call, through the plug-in, the
// command library and loopback TCP to a simulated panel and back. Measured next to a raw
// loopback round trip of frames of the same size, in the same run.
//
//   request_roundtrip [--requests 4000] [--devices 16] [--threads-max 16]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "PluginHost.h"
#include "devsim/Simulator.h"
#include "vexadev/VexaDevPlugin.h"


using namespace vbench;

int main(int argc, char** argv) {
    int requests = 4000, devices = 16, threadsMax = 16;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--requests")) requests = atoi(argv[i + 1]);
        if (!strcmp(argv[i], "--devices")) devices = atoi(argv[i + 1]);
        if (!strcmp(argv[i], "--threads-max")) threadsMax = atoi(argv[i + 1]);
    }
    BenchGateway gw;
    if (!gw.start(devices, [](const std::string&, devsim::DeviceConfig&) {})) {
        fprintf(stderr, "devices did not log in\n");
        return 1;
    }
    std::vector<gwhost::DeviceTables>& hosts = gw.hosts;
    const char* env = "{\"method\":\"PUT\",\"uri\":\"/OVIX/SecurityCP/control/arm/1?format=json&ways=away\",\"body\":\"\"}";

    printf("| host threads | requests | p50 (us) | p99 (us) | requests/s |\n|---|---|---|---|---|\n");
    double p50single = 0;
    for (int threads : {1, 4, 16}) {
        if (threads > threadsMax) break;
        const double p50 = timedRow(threads, requests, [&](int k, int) {
            char rsp[4096];
            const gwhost::DeviceTables& d = hosts[k % devices];
            d.ovix->OVIX_GetwayImpl(d.handle, env, rsp, sizeof rsp, nullptr);
            return strstr(rsp, "\"ok\"") != nullptr;
        }, " (some answers were not ok)");
        if (threads == 1) p50single = p50;
    }
    // The real exchange: a config frame of about 300 bytes out, a short answer back.
    std::vector<double> raw = rawLoopback({{300, 60}}, requests);
    Stats r = summarize(raw, 0);
    printf("\nraw loopback frame round trip (same sizes, same codec): p50 %.1f us, p99 %.1f us\n", r.p50us, r.p99us);
    printf("plug-in round trip / raw round trip at p50, one host thread: %.2f\n", r.p50us > 0 ? p50single / r.p50us : 0);

    gw.stop();
    return 0;
}
