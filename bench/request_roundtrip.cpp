// Device-API request round trip: a host thread's OVIX_Getway call, through the plug-in, the
// command library and loopback TCP to a simulated panel and back. Measured next to a raw
// loopback round trip of frames of the same size, in the same run.
//
//   request_roundtrip [--requests 4000] [--devices 16]
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

#include "PluginHost.h"
#include "WireFrame.h"
#include "devsim/Simulator.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
    double p50us, p99us, rps;
};

Stats summarize(std::vector<double>& us, double wallSec) {
    std::sort(us.begin(), us.end());
    Stats s;
    s.p50us = us.empty() ? 0 : us[us.size() / 2];
    s.p99us = us.empty() ? 0 : us[std::min(us.size() - 1, us.size() * 99 / 100)];
    s.rps = wallSec > 0 ? us.size() / wallSec : 0;
    return s;
}

bool readAll(int fd, char* p, size_t n) {
    while (n) {
        const ssize_t r = read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// Raw loopback: request frame out, answer frame back, the same sizes as the real exchange.
std::vector<double> rawLoopback(size_t requestSize, size_t answerSize, int rounds) {
    const int ls = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
    listen(ls, 1);
    Json::Value req, ans;
    req["type"] = "config";
    req["pad"] = std::string(requestSize > 40 ? requestSize - 40 : 1, 'r');
    ans["type"] = "configAnswer";
    ans["pad"] = std::string(answerSize > 40 ? answerSize - 40 : 1, 'a');
    const std::string reqFrame = vexawire::encodeFrame(req), ansFrame = vexawire::encodeFrame(ans);
    std::thread server([&] {
        const int s = accept(ls, nullptr, nullptr);
        int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::vector<char> buf(reqFrame.size());
        for (int i = 0; i < rounds; ++i) {
            if (!readAll(s, buf.data(), buf.size())) break;
            Json::Value v;
            std::string why;
            vexawire::decodeBody(buf.data() + 4, buf.size() - 4, v, why);  // the same parse work
            if (write(s, ansFrame.data(), ansFrame.size()) < 0) break;
        }
        close(s);
    });
    const int c = socket(AF_INET, SOCK_STREAM, 0);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::vector<double> us;
    std::vector<char> buf(ansFrame.size());
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        if (write(c, reqFrame.data(), reqFrame.size()) < 0 || !readAll(c, buf.data(), buf.size())) break;
        Json::Value v;
        std::string why;
        vexawire::decodeBody(buf.data() + 4, buf.size() - 4, v, why);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    close(c);
    server.join();
    close(ls);
    return us;
}

}  // namespace

int main(int argc, char** argv) {
    int requests = 4000, devices = 16;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--requests")) requests = atoi(argv[i + 1]);
        if (!strcmp(argv[i], "--devices")) devices = atoi(argv[i + 1]);
    }
    char dir[] = "/tmp/vexabench-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
    std::ofstream("local_config.xml") << "<c><req_timeout>10</req_timeout></c>";
    const GWPluginInterface* t = GWPLUGIN_GetPluginInterface();
    t->Plugin_Init();
    const uint16_t reg = gwhost::freeLoopbackPort(), alarm = gwhost::freeLoopbackPort();
    Plugin_SetConfig("InitListenPort",
                     ("aldonV5RegPort=" + std::to_string(reg) + ";aldonV5AlarmPort=" + std::to_string(alarm) + ";").c_str());
    Plugin_SetConfig("NetZoneTableNotify",
                     "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\",\"id\":1}]}");
    std::vector<gwhost::DeviceTables> hosts(devices);
    devsim::Simulator sim;
    for (int i = 0; i < devices; ++i) {
        gwhost::createDevice(t, hosts[i]);
        const std::string id = "bench" + std::to_string(i);
        hosts[i].conn->ConnectImpl_V2(hosts[i].handle, ("DeviceId=" + id + ";DeviceKey=k;AllowDirectConn=1;").c_str(),
                                      nullptr, nullptr);
        devsim::DeviceConfig c;
        c.deviceId = id;
        c.key = "k";
        c.cmsPort = reg;
        sim.addDevice(c)->start();
    }
    if (!sim.waitReached(devsim::State::LoggedIn, devices, std::chrono::seconds(20))) {
        fprintf(stderr, "devices did not log in\n");
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let on-line set-ups finish
    const char* env = "{\"method\":\"PUT\",\"uri\":\"/OVIX/SecurityCP/control/arm/1?format=json&ways=away\",\"body\":\"\"}";

    printf("| host threads | requests | p50 (us) | p99 (us) | requests/s |\n|---|---|---|---|---|\n");
    double p50single = 0;
    for (int threads : {1, 4, 16}) {
        std::vector<std::vector<double>> lat(threads);
        std::atomic<int> bad{0};
        const int per = requests / threads;
        const auto w0 = Clock::now();
        std::vector<std::thread> ts;
        for (int k = 0; k < threads; ++k)
            ts.emplace_back([&, k] {
                char rsp[4096];
                const gwhost::DeviceTables& d = hosts[k % devices];
                for (int i = 0; i < per; ++i) {
                    const auto t0 = Clock::now();
                    d.ovix->OVIX_GetwayImpl(d.handle, env, rsp, sizeof rsp, nullptr);
                    lat[k].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
                    if (!strstr(rsp, "\"ok\"")) bad++;
                }
            });
        for (auto& th : ts) th.join();
        const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
        std::vector<double> all;
        for (auto& v : lat) all.insert(all.end(), v.begin(), v.end());
        Stats s = summarize(all, wall);
        if (threads == 1) p50single = s.p50us;
        printf("| %d | %zu | %.1f | %.1f | %.0f |%s\n", threads, all.size(), s.p50us, s.p99us, s.rps,
               bad ? " (some answers were not ok)" : "");
    }
    // The real exchange: a config frame of about 300 bytes out, a short answer back.
    std::vector<double> raw = rawLoopback(300, 60, requests);
    Stats r = summarize(raw, 0);
    printf("\nraw loopback frame round trip (same sizes, same codec): p50 %.1f us, p99 %.1f us\n", r.p50us, r.p99us);
    printf("plug-in round trip / raw round trip at p50, one host thread: %.2f\n", r.p50us > 0 ? p50single / r.p50us : 0);

    for (auto& h : hosts) {
        h.conn->DisConnectImpl_V2(h.handle);
        t->Plugin_DestroyDevice(h.handle);
    }
    t->Plugin_Fini();
    return 0;
}
