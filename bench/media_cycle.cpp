// Media order cycle: PLAY_STREAM_REQ, PLAY_STREAM_PUSH_REQ and STOP_STREAM_REQ from host threads,
// through the plug-in, the command library and loopback TCP to simulated cameras, which open and
// close a stream to an in-process media sink on every push and stop. Measured next to a raw
// loopback exchange of the two media frames of the same size, in the same run.
//
//   media_cycle [--cycles 2000] [--devices 8]
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "MediaSink.h"
#include "OrderTexts.h"
#include "devsim/Equipment.h"

using namespace vbench;

int main(int argc, char** argv) {
    int cycles = 2000, devices = 8;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--cycles")) cycles = atoi(argv[i + 1]);
        if (!strcmp(argv[i], "--devices")) devices = atoi(argv[i + 1]);
    }
    gwhost::MediaSink sink;
    if (!sink.start("127.0.0.1", 0)) return 1;
    std::vector<std::shared_ptr<devsim::CameraModel>> cams;
    BenchGateway gw;
    const bool up = gw.start(devices, [&](const std::string&, devsim::DeviceConfig& c) {
        devsim::CameraOptions o = devsim::cameraDefaults();
        o.videoBitRate = 100000;  // the cycle, not the stream, is measured
        cams.push_back(devsim::makeCamera(o));
        c.family = devsim::Family::AldonV5;
        c.handler = cams.back()->handler();
    }, "DevType=encodingDev;");
    if (!up) {
        fprintf(stderr, "devices did not log in\n");
        return 1;
    }
    const int port = sink.port();
    printf("| host threads | cycles | p50 (us) | p99 (us) | cycles/s |\n|---|---|---|---|---|\n");
    double p50single = 0;
    for (int threads : {1, 4, 16}) {
        const double p50 = timedRow(threads, cycles, [&](int k, int) {
            const gwhost::DeviceTables& d = gw.hosts[k % devices];
            std::string answer;
            gwhost::transOrder(d, vtest::liveOrder("TCP", port), answer, 4096);
            const std::string s = vtest::sessionOf(answer);
            return !gwhost::transOrder(d, vtest::sessionOrder("PLAY_STREAM_PUSH_REQ", s), answer, 4096) &&
                   !gwhost::transOrder(d, vtest::sessionOrder("STOP_STREAM_REQ", s), answer, 4096);
        }, " (some orders failed)");
        if (threads == 1) p50single = p50;
    }
    // The device side of one cycle: a startLive frame of about 240 bytes and a stopLive frame of
    // about 90, each answered with a short mediaAnswer, and between them the stream's connection
    // to the sink opened and closed.
    std::vector<double> raw = rawLoopback({{240, 50}, {90, 50}}, cycles, [port] {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) perror("connect");
        close(fd);
    });
    Stats r = summarize(raw, 0);
    printf("\nraw loopback exchange of the cycle's two frames and a sink connection: p50 %.1f us, p99 %.1f us\n",
           r.p50us, r.p99us);
    printf("plug-in cycle / raw exchange at p50, one host thread: %.2f\n", r.p50us > 0 ? p50single / r.p50us : 0);
    const gwhost::SinkTotals t = sink.totals();
    printf("sink: %llu streams, %llu packets, %llu sync and %llu continuity errors\n", (unsigned long long)t.streams,
           (unsigned long long)t.packets, (unsigned long long)t.syncErrors, (unsigned long long)t.continuityErrors);
    gw.stop();
    sink.stop();
    return 0;
}
