// Registration load: N simulated devices (spread over several devsim processes) register with
// one plug-in loaded as a host loads it, heartbeat for a while, then log out. Reports the time
// to bring all of them on line and off again, and the plug-in process's memory, threads and
// descriptors before and after.
//
//   registration_load [--devices 1000] [--procs 2] [--hold 60] [--hb 5]
#include <json/json.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <dirent.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "PluginHost.h"

namespace {

std::atomic<int> g_online{0};
std::atomic<int> g_loggedOut{0};
std::atomic<int> g_other{0};

void VEXA_CALL onStatus(void*, uint32_t status, const char*, void*) {
    if (status == 0)
        g_online++;
    else if (status == 10)
        g_loggedOut++;
    else
        g_other++;
}

long procStatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, strlen(key), key) == 0) return atol(line.c_str() + strlen(key) + 1);
    return -1;
}

int countDir(const char* path) {
    int n = 0;
    if (auto* d = opendir(path)) {
        while (auto* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

double secondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool waitCount(std::atomic<int>& c, int n, int limitSec) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(limitSec);
    while (c.load() < n) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int devices = 1000, procs = 2, hold = 60, hb = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--devices")) devices = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--procs")) procs = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--hold")) hold = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--hb")) hb = atoi(argv[i + 1]);
    }
    if (devices < 1 || procs < 1 || hold < 0 || hb < 1) {
        fprintf(stderr, "usage: registration_load [--devices N] [--procs P] [--hold SEC] [--hb SEC]\n");
        return 2;
    }
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
    signal(SIGPIPE, SIG_IGN);
    const std::string binDir = [] {
        char exe[PATH_MAX] = {0};
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        std::string s(exe, n > 0 ? static_cast<size_t>(n) : 0);
        return s.substr(0, s.rfind('/'));
    }();

    char dir[] = "/tmp/vexaload-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
    {
        std::ofstream cfg("local_config.xml");
        cfg << "<config><HeartbeatEnable>1</HeartbeatEnable><hb_time>" << hb << "</hb_time><hb_fail>3</hb_fail>"
            << "<req_timeout>10</req_timeout></config>";
    }
    gwhost::PluginHost host;
    std::string why;
    if (!host.load(gwhost::defaultPluginPath(), why)) {
        fprintf(stderr, "cannot load plug-in: %s\n", why.c_str());
        return 1;
    }
    const int threads0 = countDir("/proc/self/task");
    const int fds0 = countDir("/proc/self/fd");
    const long rss0 = procStatusKb("VmRSS:");
    const GWPluginInterface* t = host.table();
    t->Plugin_Init();
    const uint16_t reg = gwhost::freeLoopbackPort(), alarm = gwhost::freeLoopbackPort();
    host.setConfig("InitListenPort",
                   ("aldonV5RegPort=" + std::to_string(reg) + ";aldonV5AlarmPort=" + std::to_string(alarm) + ";").c_str());
    if (host.setConfig("NetZoneTableNotify",
                       "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\",\"id\":1}]}") != 0) {
        fprintf(stderr, "libraries did not start\n");
        return 1;
    }
    std::vector<gwhost::DeviceTables> devs(devices);
    for (int i = 0; i < devices; ++i) {
        host.createDevice(devs[i]);
        devs[i].conn->SetConnStatusCallBackImpl_V2(devs[i].handle, onStatus, nullptr);
        const std::string p = "DeviceId=dev" + std::to_string(i + 1) + ";DeviceKey=load-key;AllowDirectConn=1;";
        devs[i].conn->ConnectImpl_V2(devs[i].handle, p.c_str(), nullptr, nullptr);
    }

    const auto t0 = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    const int per = (devices + procs - 1) / procs;
    for (int p = 0, start = 1; p < procs && start <= devices; ++p, start += per) {
        const int count = std::min(per, devices - start + 1);
        const pid_t pid = fork();
        if (pid == 0) {
            if (!freopen("/dev/null", "w", stdout)) _exit(1);
            const std::string devsim = binDir + "/devsim";
            const std::string a[] = {"--cms-port", std::to_string(reg), "--count", std::to_string(count),
                                     "--id-prefix", "dev", "--start-index", std::to_string(start), "--key", "load-key",
                                     "--logout-after", std::to_string(hold), "--duration", std::to_string(hold + 60)};
            std::vector<char*> args{const_cast<char*>(devsim.c_str())};
            for (const auto& s : a) args.push_back(const_cast<char*>(s.c_str()));
            args.push_back(nullptr);
            execv(devsim.c_str(), args.data());
            _exit(127);
        }
        children.push_back(pid);
    }
    const bool allOn = waitCount(g_online, devices, 120);
    const double onlineSec = secondsSince(t0);
    const long rssOnline = procStatusKb("VmRSS:");
    const bool allOff = waitCount(g_loggedOut, devices, hold + 120);
    const double offSec = secondsSince(t0) - onlineSec;
    for (pid_t pid : children) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    for (auto& d : devs) {
        d.conn->DisConnectImpl_V2(d.handle);
        t->Plugin_DestroyDevice(d.handle);
    }
    const uint32_t fini = t->Plugin_Fini();
    const long hwm = procStatusKb("VmHWM:");
    const int threads1 = countDir("/proc/self/task");
    const int fds1 = countDir("/proc/self/fd");

    Json::Value r;
    r["devices"] = devices;
    r["devsimProcesses"] = procs;
    r["heartbeatSec"] = hb;
    r["holdSec"] = hold;
    r["allOnline"] = allOn;
    r["secondsToAllOnline"] = onlineSec;
    r["allLoggedOut"] = allOff;
    r["secondsFromOnlineToAllLoggedOut"] = offSec;
    r["unexpectedStatuses"] = g_other.load();
    r["rssKbBefore"] = static_cast<Json::Int64>(rss0);
    r["rssKbAllOnline"] = static_cast<Json::Int64>(rssOnline);
    r["peakRssKb"] = static_cast<Json::Int64>(hwm);
    r["threadsBefore"] = threads0;
    r["threadsAfter"] = threads1;
    r["fdsBefore"] = fds0;
    r["fdsAfter"] = fds1;
    r["finiResult"] = fini;
    Json::StreamWriterBuilder b;
    b["indentation"] = "  ";
    printf("%s\n", Json::writeString(b, r).c_str());
    const bool ok = allOn && allOff && g_other == 0 && fini == 0 && threads1 == threads0 && fds1 == fds0;
    return ok ? 0 : 1;
}
