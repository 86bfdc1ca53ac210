// Alarms end to end: simulated devices over loopback push the mixed cycle of every alarm form,
// each by its own route (model-command alarms as messages on the command connection through the
// command library, the others on the alarm link through the alarm library), until the host's
// event callback has seen them all. Prints the rate and the duplicates and losses. As in the
// suite's former run of this size: half the devices of each family, one sending thread per
// device; the texts are made before the clock starts.
//
//   alarm_end_to_end [--alarms 100000] [--devices 20]
#include <dirent.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "PluginHost.h"
#include "devsim/AlarmTexts.h"
#include "devsim/Simulator.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

using Clock = std::chrono::steady_clock;

// Each alarm of one device carries a time of its own, so device, time and code name it.
struct Sink {
    std::mutex lock;
    std::unordered_map<std::string, int> seen;
    std::atomic<size_t> events{0};
    std::atomic<int64_t> lastNs{0};
    std::atomic<int> workerTid{0};  // the thread that hands events to the host
};
Sink g_sink;

void VEXA_CALL onEvent(void* dev, const void*, const void* event, uint32_t, void*) {
    const auto* info = static_cast<const AlarmEventInfo*>(event);
    std::string key = std::to_string(reinterpret_cast<uintptr_t>(dev)) + "|" + std::to_string(info->dwEventCode) +
                      "|" + std::string(info->szTime, strnlen(info->szTime, sizeof info->szTime));
    {
        std::lock_guard<std::mutex> lk(g_sink.lock);
        ++g_sink.seen[key];
    }
    g_sink.lastNs = Clock::now().time_since_epoch().count();
    g_sink.workerTid = static_cast<int>(syscall(SYS_gettid));
    g_sink.events.fetch_add(1);
}

double processCpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// CPU time (ns) of each thread of the process, by thread id.
std::map<int, uint64_t> threadCpu() {
    std::map<int, uint64_t> out;
    DIR* d = opendir("/proc/self/task");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/schedstat");
        uint64_t ns = 0;
        if (f >> ns) out[atoi(e->d_name)] = ns;
    }
    closedir(d);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    size_t alarms = 100000;
    int devices = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--alarms")) alarms = static_cast<size_t>(atoll(argv[i + 1]));
        if (!strcmp(argv[i], "--devices")) devices = std::max(1, atoi(argv[i + 1]));
    }
    setenv("TZ", "UTC", 1);
    const GWPluginInterface* table = nullptr;
    std::vector<gwhost::DeviceTables> hosts(static_cast<size_t>(devices));
    devsim::Simulator sim;
    {
        char dir[] = "/tmp/vexabench-XXXXXX";
        if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
        std::ofstream("local_config.xml") << "<c><req_timeout>10</req_timeout></c>";
    }
    table = GWPLUGIN_GetPluginInterface();
    table->Plugin_Init();
    const uint16_t reg = gwhost::freeLoopbackPort(), alarmPort = gwhost::freeLoopbackPort();
    Plugin_SetConfig("InitListenPort", ("aldonV5RegPort=" + std::to_string(reg) +
                                        ";aldonV5AlarmPort=" + std::to_string(alarmPort) + ";").c_str());
    Plugin_SetConfig("NetZoneTableNotify",
                     "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\",\"id\":1}]}");
    for (int i = 0; i < devices; ++i) {
        gwhost::createDevice(table, hosts[i]);
        const std::string id = "e2e" + std::to_string(i);
        const bool v5 = i % 2 == 1;
        hosts[i].conn->ConnectImpl_V2(hosts[i].handle,
                                      ("DeviceId=" + id + ";DeviceKey=k;AllowDirectConn=1;AlarmActiveStatus=active;" +
                                       (v5 ? "DevProtocol=aldonV5;" : "DevProtocol=VEXA;")).c_str(),
                                      nullptr, nullptr);
        hosts[i].event->SetEventCallBackImpl(hosts[i].handle, onEvent, nullptr);
        devsim::DeviceConfig c;
        c.deviceId = id;
        c.key = "k";
        c.cmsPort = reg;
        c.amsPort = alarmPort;
        c.family = v5 ? devsim::Family::AldonV5 : devsim::Family::Vexa;
        sim.addDevice(c)->start();
    }
    if (!sim.waitReached(devsim::State::LoggedIn, static_cast<size_t>(devices), std::chrono::seconds(20))) {
        fprintf(stderr, "devices did not log in\n");
        return 1;
    }
    std::vector<devsim::DevicePtr> devs = sim.devices();
    for (auto& d : devs) d->connectAlarm();
    for (auto& d : devs)
        if (!d->waitAlarm(devsim::AlarmState::Ready, std::chrono::seconds(15))) {
            fprintf(stderr, "alarm link of %s not ready\n", d->id().c_str());
            return 1;
        }

    // Texts made before the clock starts: the run measures delivery, not the simulator's writer.
    std::vector<std::vector<devsim::AlarmText>> texts(devs.size());
    size_t viaCommand = 0;
    for (size_t i = 0; i < alarms; ++i) {
        const size_t d = i % devs.size();
        texts[d].push_back(devsim::mixedAlarm(i / devs.size(), devs[d]->id()));
        viaCommand += texts[d].back().route.commandMessage;
    }

    const std::map<int, uint64_t> cpu0 = threadCpu();
    const double process0 = processCpu();
    const auto t0 = Clock::now();
    std::vector<std::thread> senders;
    for (size_t d = 0; d < devs.size(); ++d)
        senders.emplace_back([&, d] {
            for (const devsim::AlarmText& a : texts[d]) {
                if (a.route.commandMessage)
                    devs[d]->sendMessage(a.route.messageType, a.route.domain, a.route.identifier, a.route.alarmType,
                                         a.route.dataType, a.text);
                else
                    devs[d]->pushAlarm(a.route.alarmType, a.route.dataType, a.text);
            }
        });
    for (auto& t : senders) t.join();
    const double handedSec = std::chrono::duration<double>(Clock::now() - t0).count();
    // Done when every alarm arrived, or nothing arrived for 5 s.
    size_t last = 0;
    auto moved = Clock::now();
    while (g_sink.events.load() < alarms && Clock::now() - moved < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (g_sink.events.load() != last) last = g_sink.events.load(), moved = Clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // late duplicates show now
    const double sec = (g_sink.lastNs.load() - t0.time_since_epoch().count()) / 1e9;
    // CPU the run cost, in total and on its busiest threads: on a machine shared with other work
    // the wall-clock rate says more about the machine than about the path.
    std::vector<double> busy;
    double cpuTotal = 0, cpuWorker = 0;
    for (const auto& kv : threadCpu()) {
        const auto it = cpu0.find(kv.first);
        const double s = (kv.second - (it == cpu0.end() ? 0 : it->second)) / 1e9;
        busy.push_back(s);
        if (kv.first == g_sink.workerTid.load()) cpuWorker = s;
    }
    cpuTotal = processCpu() - process0;  // the sending threads have ended: not in the list above
    std::sort(busy.rbegin(), busy.rend());
    busy.resize(std::max<size_t>(busy.size(), 3));

    size_t unique = 0, dups = 0;
    {
        std::lock_guard<std::mutex> lk(g_sink.lock);
        unique = g_sink.seen.size();
        for (const auto& kv : g_sink.seen) dups += static_cast<size_t>(kv.second - 1);
    }
    uint64_t acks = 0;
    for (auto& d : devs) acks += d->status().alarmAcks;
    printf("| alarms | devices | via command library | via alarm library | link alarms acknowledged | host events | "
           "duplicates | lost | seconds | alarms/s |\n|---|---|---|---|---|---|---|---|---|---|\n");
    printf("| %zu | %zu | %zu | %zu | %llu | %zu | %zu | %zu | %.3f | %.0f |\n", alarms, devs.size(), viaCommand,
           alarms - viaCommand, static_cast<unsigned long long>(acks), g_sink.events.load(), dups,
           alarms > unique ? alarms - unique : 0, sec, sec > 0 ? unique / sec : 0);
    printf("(all handed to the simulator after %.3f s; CPU %.2f s in all, %.1f us per alarm; busiest threads "
           "%.2f / %.2f / %.2f s; the alarm worker %.2f s, %.1f us per alarm)\n",
           handedSec, cpuTotal, cpuTotal * 1e6 / static_cast<double>(alarms), busy[0], busy[1], busy[2], cpuWorker,
           cpuWorker * 1e6 / static_cast<double>(alarms));
    for (auto& h : hosts) {
        h.conn->DisConnectImpl_V2(h.handle);
        table->Plugin_DestroyDevice(h.handle);
    }
    table->Plugin_Fini();
    return unique == alarms && dups == 0 ? 0 : 2;
}
