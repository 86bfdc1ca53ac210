// Shared by the benchmarks: latency summaries and a raw loopback exchange of frames of given
// sizes, measured in the same run as the plug-in figures it is compared with.
#ifndef VEXA_BENCH_SUPPORT_H
#define VEXA_BENCH_SUPPORT_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "PluginHost.h"
#include "WireFrame.h"
#include "devsim/Simulator.h"
#include "vexadev/VexaDevPlugin.h"

namespace vbench {

using Clock = std::chrono::steady_clock;

struct Stats {
    double p50us, p99us, rps;
};

inline Stats summarize(std::vector<double>& us, double wallSec) {
    std::sort(us.begin(), us.end());
    Stats s;
    s.p50us = us.empty() ? 0 : us[us.size() / 2];
    s.p99us = us.empty() ? 0 : us[std::min(us.size() - 1, us.size() * 99 / 100)];
    s.rps = wallSec > 0 ? us.size() / wallSec : 0;
    return s;
}

inline bool readAll(int fd, char* p, size_t n) {
    while (n) {
        const ssize_t r = read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// Runs `one(thread, i)` `total / threads` times on each of `threads` threads, timing each call;
// prints one table row and returns the p50. `one` returns false for a failed operation.
inline double timedRow(int threads, int total, const std::function<bool(int, int)>& one, const char* failNote) {
    std::vector<std::vector<double>> lat(threads);
    std::atomic<int> bad{0};
    const int per = total / threads;
    const auto w0 = Clock::now();
    std::vector<std::thread> ts;
    for (int k = 0; k < threads; ++k)
        ts.emplace_back([&, k] {
            for (int i = 0; i < per; ++i) {
                const auto t0 = Clock::now();
                if (!one(k, i)) bad++;
                lat[k].push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            }
        });
    for (auto& th : ts) th.join();
    const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
    std::vector<double> all;
    for (auto& v : lat) all.insert(all.end(), v.begin(), v.end());
    const Stats s = summarize(all, wall);
    printf("| %d | %zu | %.1f | %.1f | %.0f |%s\n", threads, all.size(), s.p50us, s.p99us, s.rps,
           bad ? failNote : "");
    return s.p50us;
}

// Raw loopback: per round, each (request size, answer size) exchange in turn: a request frame
// out, parsed on the far side, an answer frame back, parsed; `afterFirst` (if any) runs after the
// first exchange of each round, inside the timing. One latency per round.
inline std::vector<double> rawLoopback(const std::vector<std::pair<size_t, size_t>>& exchanges, int rounds,
                                       const std::function<void()>& afterFirst = nullptr) {
    const int ls = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(ls, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(ls, reinterpret_cast<sockaddr*>(&a), &len);
    listen(ls, 1);
    std::vector<std::string> reqFrames, ansFrames;
    for (const auto& e : exchanges) {
        Json::Value req, ans;
        req["type"] = "config";
        req["pad"] = std::string(e.first > 40 ? e.first - 40 : 1, 'r');
        ans["type"] = "configAnswer";
        ans["pad"] = std::string(e.second > 40 ? e.second - 40 : 1, 'a');
        reqFrames.push_back(vexawire::encodeFrame(req));
        ansFrames.push_back(vexawire::encodeFrame(ans));
    }
    std::thread server([&] {
        const int s = accept(ls, nullptr, nullptr);
        int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        for (int i = 0; i < rounds; ++i) {
            for (size_t k = 0; k < reqFrames.size(); ++k) {
                std::vector<char> buf(reqFrames[k].size());
                if (!readAll(s, buf.data(), buf.size())) goto done;
                Json::Value v;
                std::string why;
                vexawire::decodeBody(buf.data() + 4, buf.size() - 4, v, why);  // the same parse work
                if (write(s, ansFrames[k].data(), ansFrames[k].size()) < 0) goto done;
            }
        }
    done:
        close(s);
    });
    const int c = socket(AF_INET, SOCK_STREAM, 0);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::vector<double> us;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        bool ok = true;
        for (size_t k = 0; k < reqFrames.size() && ok; ++k) {
            std::vector<char> buf(ansFrames[k].size());
            ok = write(c, reqFrames[k].data(), reqFrames[k].size()) >= 0 && readAll(c, buf.data(), buf.size());
            Json::Value v;
            std::string why;
            if (ok) vexawire::decodeBody(buf.data() + 4, buf.size() - 4, v, why);
            if (ok && k == 0 && afterFirst) afterFirst();
        }
        if (!ok) break;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    close(c);
    server.join();
    close(ls);
    return us;
}

// The plug-in linked in, listening on loopback, with `devices` simulated devices logged in
// ("bench0", "bench1", ...); `shape` adjusts each device's configuration (family, handler).
struct BenchGateway {
    const GWPluginInterface* table = nullptr;
    std::vector<gwhost::DeviceTables> hosts;
    devsim::Simulator sim;

    bool start(int devices, const std::function<void(const std::string& id, devsim::DeviceConfig&)>& shape,
               const std::string& hostParams = "") {
        char dir[] = "/tmp/vexabench-XXXXXX";
        if (!mkdtemp(dir) || chdir(dir) != 0) return false;
        std::ofstream("local_config.xml") << "<c><req_timeout>10</req_timeout></c>";
        table = GWPLUGIN_GetPluginInterface();
        table->Plugin_Init();
        const uint16_t reg = gwhost::freeLoopbackPort(), alarm = gwhost::freeLoopbackPort();
        Plugin_SetConfig("InitListenPort", ("aldonV5RegPort=" + std::to_string(reg) +
                                            ";aldonV5AlarmPort=" + std::to_string(alarm) + ";").c_str());
        Plugin_SetConfig("NetZoneTableNotify",
                         "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\",\"id\":1}]}");
        hosts.resize(devices);
        for (int i = 0; i < devices; ++i) {
            gwhost::createDevice(table, hosts[i]);
            const std::string id = "bench" + std::to_string(i);
            devsim::DeviceConfig c;
            c.deviceId = id;
            c.key = "k";
            c.cmsPort = reg;
            shape(id, c);
            const std::string pto = c.family == devsim::Family::AldonV5 ? "DevProtocol=aldonV5;" : "";
            hosts[i].conn->ConnectImpl_V2(
                hosts[i].handle, ("DeviceId=" + id + ";DeviceKey=k;AllowDirectConn=1;" + pto + hostParams).c_str(),
                nullptr, nullptr);
            sim.addDevice(c)->start();
        }
        if (!sim.waitReached(devsim::State::LoggedIn, devices, std::chrono::seconds(20))) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let on-line set-ups finish
        return true;
    }
    void stop() {
        for (auto& h : hosts) {
            h.conn->DisConnectImpl_V2(h.handle);
            table->Plugin_DestroyDevice(h.handle);
        }
        table->Plugin_Fini();
    }
};

}  // namespace vbench

#endif
