// Registration load: N simulated devices (spread over several devsim processes) register with
// one plug-in loaded as a host loads it, heartbeat for a while, then log out. Reports the time
// to bring all of them on line and off again, and the plug-in process's memory, threads and
// descriptors before and after.
//
//   registration_load [--devices 1000] [--procs 2] [--hold 60] [--hb 5]
//
// --scale: in one session, request latency with --few devices on line, a login burst of --small
// devices, then a burst of --devices (each devsim process at most --per-proc of them) and request
// latency with all of them heartbeating, for --measure seconds each.
//
//   registration_load --scale [--devices 15000] [--small 1000] [--few 16] [--per-proc 7500]
//                     [--measure 12] [--hb 5] [--max-pending 16384] [--io-threads N] [--login-rate N]
//                     [--settle 5]
// (--login-rate: device starts a second in each devsim process; 0: all at once)
//
// Progress goes to stderr at most once a second; the JSON report to stdout.
#include <json/json.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoadHost.h"
#include "LoadSupport.h"

namespace {

using vload::SteadyClock;

std::mutex g_phaseMx;
std::function<std::string()> g_phaseLine;  // what the progress thread prints now

void setPhase(std::function<std::string()> f) {
    std::lock_guard<std::mutex> lk(g_phaseMx);
    g_phaseLine = std::move(f);
}

std::string phaseLine() {
    std::lock_guard<std::mutex> lk(g_phaseMx);
    return g_phaseLine ? g_phaseLine() : std::string();
}

bool waitFor(const std::function<bool()>& done, double limitSec) {
    const auto end = SteadyClock::now() + std::chrono::milliseconds(static_cast<int64_t>(limitSec * 1000));
    while (!done()) {
        if (SteadyClock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void stopChildren(std::vector<pid_t>& children) {
    for (pid_t pid : children) kill(pid, SIGTERM);
    for (pid_t pid : children) waitpid(pid, nullptr, 0);
    children.clear();
}

using vload::figuresJson;

// Loads the plug-in and starts it on free loopback ports; f0: the process before it started.
bool startHost(vload::LoadHost& h, vload::ProcFigures& f0, uint16_t& reg) {
    std::string why;
    if (!h.load(why)) {
        fprintf(stderr, "cannot load plug-in: %s\n", why.c_str());
        return false;
    }
    f0 = vload::procFigures(0);
    reg = gwhost::freeLoopbackPort();
    const uint16_t alarm = gwhost::freeLoopbackPort();
    if (!h.start(reg, alarm, why)) {
        fprintf(stderr, "%s\n", why.c_str());
        return false;
    }
    return true;
}

struct Opts {
    int devices = 1000, procs = 2, hold = 60, hb = 5;
    bool scale = false;
    int small = 1000, few = 16, perProc = 7500, measure = 12, maxPending = 16384, ioThreads = -1, loginRate = 0;
    int settle = 5;  // seconds between all on line and the requests: the on-line set-ups finish
};

void writeConfig(const Opts& o) {
    std::ofstream cfg("local_config.xml");
    cfg << "<config><HeartbeatEnable>1</HeartbeatEnable><hb_time>" << o.hb << "</hb_time><hb_fail>3</hb_fail>"
        << "<req_timeout>10</req_timeout>";
    if (o.scale) cfg << "<MaxPendingLogins>" << o.maxPending << "</MaxPendingLogins>";
    if (o.ioThreads >= 0) cfg << "<IoThreads>" << o.ioThreads << "</IoThreads>";
    cfg << "</config>";
}

// Starts devsim processes for <prefix><first> .. <prefix><first+count-1>, at most `per` devices each.
std::vector<pid_t> startDevsims(const std::string& bin, uint16_t reg, long first, long count, long per,
                                const std::vector<std::string>& extra, const std::string& prefix = "dev") {
    std::vector<pid_t> out;
    for (long start = first; start < first + count; start += per) {
        const long n = std::min(per, first + count - start);
        out.push_back(vload::spawn(bin + "/devsim", vload::devsimArgs(reg, prefix, start, n, "load-key", extra)));
    }
    return out;
}

// One host thread sends device-API requests for `seconds`, round robin over slots
// [first, first + n) that are on line. Latencies in microseconds.
std::vector<double> requestLoad(vload::LoadHost& h, size_t first, size_t n, int seconds, long& failed) {
    const char* env = "{\"method\":\"PUT\",\"uri\":\"/OVIX/SecurityCP/control/arm/1?format=json&ways=away\",\"body\":\"\"}";
    std::vector<double> us;
    failed = 0;
    const auto t0 = SteadyClock::now();
    const auto end = t0 + std::chrono::seconds(seconds);
    std::atomic<long> done{0};
    setPhase([&, t0] {
        char b[160];
        snprintf(b, sizeof b, "requests: %ld sent to %zu devices (%ld on line), %.1f s of %d", done.load(), n,
                 h.onlineNow.load(), vload::secondsSince(t0), seconds);
        return std::string(b);
    });
    size_t i = 0;
    char rsp[4096];
    while (SteadyClock::now() < end) {
        for (size_t k = 0; k < n && !h.slot(first + i % n).online; ++k) ++i;
        const gwhost::DeviceTables& d = h.slot(first + i++ % n).dev;
        const auto a = SteadyClock::now();
        rsp[0] = 0;
        d.ovix->OVIX_GetwayImpl(d.handle, env, rsp, sizeof rsp, nullptr);
        us.push_back(std::chrono::duration<double, std::micro>(SteadyClock::now() - a).count());
        if (!strstr(rsp, "\"ok\"") && failed++ == 0) fprintf(stderr, "first failed answer: %.300s\n", rsp);
        done++;
    }
    return us;
}

// The machine's 1-minute load average: other work on the cores shows in the latency tail.
std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one;
}

void settle(vload::LoadHost& h, int seconds) {
    const auto t0 = SteadyClock::now();
    setPhase([&h, t0, seconds] {
        return "settling: " + std::to_string(h.onlineNow.load()) + " on line, " +
               std::to_string(static_cast<int>(vload::secondsSince(t0))) + " s of " + std::to_string(seconds);
    });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

Json::Value latencyJson(std::vector<double> us, long failed, int devices) {
    std::sort(us.begin(), us.end());
    Json::Value v;
    v["devices"] = devices;
    v["requests"] = static_cast<Json::UInt64>(us.size());
    v["failed"] = static_cast<Json::Int64>(failed);
    v["p50us"] = us.empty() ? 0 : us[us.size() / 2];
    v["p99us"] = us.empty() ? 0 : us[std::min(us.size() - 1, us.size() * 99 / 100)];
    v["maxUs"] = us.empty() ? 0 : us.back();
    return v;
}

// requestLoad over slots [first, first + n), summarised with the load average before and after.
Json::Value timedRequests(vload::LoadHost& h, size_t first, size_t n, int seconds) {
    const std::string load0 = loadAverage();
    long failed = 0;
    std::vector<double> lat = requestLoad(h, first, n, seconds, failed);
    Json::Value v = latencyJson(std::move(lat), failed, static_cast<int>(n));
    v["loadAverageBefore"] = load0;
    v["loadAverageAfter"] = loadAverage();
    return v;
}

// A login burst of <prefix>1.. for `count` devices; they stay on line. Seconds from starting
// the simulators to all on line (and from the first login to the last) into `out`.
bool burst(vload::LoadHost& h, const std::string& bin, uint16_t reg, long count, long per, int loginRate,
           std::vector<pid_t>& children, Json::Value& out, long onlineBefore,
           const std::string& prefix = "dev") {
    h.resetBurst();
    const int64_t t0ns = vload::monoNs();
    const auto t0 = SteadyClock::now();
    const double cpu0 = vload::cpuSeconds(0);
    setPhase([&h, count, onlineBefore, t0] {
        return vload::countLine("online", h.onlineNow - onlineBefore, count, t0);
    });
    std::vector<std::string> extra{"--equipment", "none", "--reconnect", "--reconnect-delay", "1", "--duration", "3600"};
    if (loginRate > 0) extra.insert(extra.end(), {"--login-rate", std::to_string(loginRate)});
    children = startDevsims(bin, reg, 1, count, per, extra, prefix);
    const bool all = waitFor([&] { return h.onlineNow >= onlineBefore + count; }, 60 + count / 100.0);
    const double firstToLast = (h.lastLoginNs - h.firstLoginNs) / 1e9;
    const double total = (h.lastLoginNs - t0ns) / 1e9;
    out["devices"] = static_cast<Json::Int64>(count);
    out["devsimProcesses"] = static_cast<Json::UInt64>(children.size());
    out["allOnline"] = all;
    out["secondsToAllOnline"] = total;
    out["secondsFirstToLastLogin"] = firstToLast;
    out["usPerDevice"] = total * 1e6 / count;
    out["usPerDeviceFirstToLast"] = count > 1 ? firstToLast * 1e6 / (count - 1) : 0;
    out["hostCpuSec"] = vload::cpuSeconds(0) - cpu0;
    out["rssKbAllOnline"] = static_cast<Json::Int64>(vload::statusKb(0, "VmRSS"));
    return all;
}

bool logoutAll(vload::LoadHost& h, std::vector<pid_t>& children, long count, long staying = 0) {
    const auto t0 = SteadyClock::now();
    const long before = h.logouts;
    setPhase([&h, count, before, t0] { return vload::countLine("logged out", h.logouts - before, count, t0); });
    for (pid_t pid : children) kill(pid, SIGTERM);
    const bool ok = waitFor([&] { return h.onlineNow == staying; }, 60 + count / 200.0);
    stopChildren(children);
    return ok;
}

int runScale(const Opts& o, const std::string& bin) {
    vload::LoadHost h;
    vload::ProcFigures f0;
    uint16_t reg = 0;
    if (!startHost(h, f0, reg)) return 1;
    vload::Progress progress(phaseLine);
    Json::Value r;
    r["heartbeatSec"] = o.hb;
    r["measureSec"] = o.measure;
    r["settleSec"] = o.settle;
    r["maxPendingLogins"] = o.maxPending;
    r["loginRatePerDevsim"] = o.loginRate;
    bool ok = true;
    std::vector<pid_t> children;

    // Probe devices, in a simulator of their own, stay on line throughout: requests to them
    // with nothing else on line and again with all the others heartbeating show what the
    // plug-in adds under load, without an answer queueing in a simulator behind the heartbeats
    // of the thousands of other devices it plays.
    h.addDevices("probe", 1, o.few, "load-key");
    h.addDevices("dev", 1, o.small, "load-key");
    std::vector<pid_t> probes;
    Json::Value fewBurst;
    ok &= burst(h, bin, reg, o.few, o.perProc, o.loginRate, probes, fewBurst, 0, "probe");
    settle(h, o.settle);
    r["requestsFew"] = timedRequests(h, 0, o.few, o.measure);

    ok &= burst(h, bin, reg, o.small, o.perProc, o.loginRate, children, r["burstSmall"], o.few);
    settle(h, o.settle);  // logging out with on-line set-ups in flight only adds noise to the log
    ok &= logoutAll(h, children, o.small, o.few);

    h.addDevices("dev", o.small + 1, o.devices - o.small, "load-key");
    ok &= burst(h, bin, reg, o.devices, o.perProc, o.loginRate, children, r["burstLarge"], o.few);
    settle(h, o.settle);
    const double cpuHold0 = vload::cpuSeconds(0);
    double simCpu0 = 0, simCpu1 = 0;
    for (pid_t pid : children) simCpu0 += vload::cpuSeconds(pid);
    r["requestsLarge"] = timedRequests(h, o.few, o.devices, o.measure);
    for (pid_t pid : children) simCpu1 += vload::cpuSeconds(pid);
    r["hostCpuSecDuringLargeRequests"] = vload::cpuSeconds(0) - cpuHold0;
    r["devsimCpuSecDuringLargeRequests"] = simCpu1 - simCpu0;
    r["requestsProbesUnderLoad"] = timedRequests(h, 0, o.few, o.measure);
    r["figuresAllOnline"] = figuresJson(vload::procFigures(0));
    r["onlineAfterRequests"] = static_cast<Json::Int64>(h.onlineNow.load());
    ok &= logoutAll(h, children, o.devices, o.few);
    ok &= logoutAll(h, probes, o.few);
    progress.stop();

    const double perSmall = r["burstSmall"]["usPerDevice"].asDouble();
    const double perLarge = r["burstLarge"]["usPerDevice"].asDouble();
    r["burstPerDeviceRatio"] = perSmall > 0 ? perLarge / perSmall : 0;
    const double ffSmall = r["burstSmall"]["usPerDeviceFirstToLast"].asDouble();
    r["burstPerDeviceRatioFirstToLast"] = ffSmall > 0 ? r["burstLarge"]["usPerDeviceFirstToLast"].asDouble() / ffSmall : 0;
    const double p99few = r["requestsFew"]["p99us"].asDouble();
    r["requestP99Ratio"] = p99few > 0 ? r["requestsLarge"]["p99us"].asDouble() / p99few : 0;
    r["requestP99RatioProbes"] = p99few > 0 ? r["requestsProbesUnderLoad"]["p99us"].asDouble() / p99few : 0;
    r["unexpectedStatuses"] = static_cast<Json::Int64>(h.other.load());
    r["finiResult"] = h.stop();
    r["peakRssKb"] = static_cast<Json::Int64>(vload::statusKb(0, "VmHWM"));
    r["figuresBefore"] = figuresJson(f0);
    const vload::ProcFigures f1 = vload::procFigures(0);
    r["figuresAfter"] = figuresJson(f1);
    if (f1.fds != f0.fds)
        for (const auto& t : vload::fdTargets(0)) r["fdsOpenAfter"].append(t);
    r["ok"] = ok;
    Json::StreamWriterBuilder b;
    b["indentation"] = "  ";
    printf("%s\n", Json::writeString(b, r).c_str());
    return ok && h.other == 0 && f1.threads == f0.threads && f1.fds == f0.fds ? 0 : 1;
}

int runLoad(const Opts& o, const std::string& bin) {
    vload::LoadHost h;
    vload::ProcFigures f0;
    uint16_t reg = 0;
    if (!startHost(h, f0, reg)) return 1;
    h.addDevices("dev", 1, o.devices, "load-key");
    vload::Progress progress(phaseLine);
    const auto t0 = SteadyClock::now();
    setPhase([&] { return vload::countLine("online", h.onlineNow, o.devices, t0); });
    const long per = (o.devices + o.procs - 1) / o.procs;
    std::vector<pid_t> children =
        startDevsims(bin, reg, 1, o.devices, per,
                     {"--logout-after", std::to_string(o.hold), "--duration", std::to_string(o.hold + 60)});
    const bool allOn = waitFor([&] { return h.logins >= o.devices; }, 120);
    const double onlineSec = vload::secondsSince(t0);
    const long rssOnline = vload::statusKb(0, "VmRSS");
    setPhase([&] {
        const double el = vload::secondsSince(t0);
        if (el < onlineSec + o.hold)
            return vload::countLine("holding: on line", h.onlineNow, o.devices, t0) + " of ~" +
                   std::to_string(static_cast<int>(onlineSec + o.hold)) + " s";
        return vload::countLine("logged out", h.logouts, o.devices, t0);
    });
    const bool allOff = waitFor([&] { return h.logouts >= o.devices; }, o.hold + 120);
    const double offSec = vload::secondsSince(t0) - onlineSec;
    progress.stop();
    stopChildren(children);
    const long other = h.other;
    const uint32_t fini = h.stop();
    const vload::ProcFigures f1 = vload::procFigures(0);

    Json::Value r;
    r["devices"] = o.devices;
    r["devsimProcesses"] = o.procs;
    r["heartbeatSec"] = o.hb;
    r["holdSec"] = o.hold;
    r["allOnline"] = allOn;
    r["secondsToAllOnline"] = onlineSec;
    r["allLoggedOut"] = allOff;
    r["secondsFromOnlineToAllLoggedOut"] = offSec;
    r["unexpectedStatuses"] = static_cast<Json::Int64>(other);
    r["rssKbBefore"] = static_cast<Json::Int64>(f0.rssKb);
    r["rssKbAllOnline"] = static_cast<Json::Int64>(rssOnline);
    r["peakRssKb"] = static_cast<Json::Int64>(vload::statusKb(0, "VmHWM"));
    r["threadsBefore"] = f0.threads;
    r["threadsAfter"] = f1.threads;
    r["fdsBefore"] = f0.fds;
    r["fdsAfter"] = f1.fds;
    r["finiResult"] = fini;
    if (f1.fds != f0.fds)
        for (const auto& t : vload::fdTargets(0)) r["fdsOpenAfter"].append(t);
    Json::StreamWriterBuilder b;
    b["indentation"] = "  ";
    printf("%s\n", Json::writeString(b, r).c_str());
    const bool ok = allOn && allOff && other == 0 && fini == 0 && f1.threads == f0.threads && f1.fds == f0.fds;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Opts o;
    bool bad = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--scale") {
            o.scale = true;
            continue;
        }
        if (i + 1 >= argc) {
            bad = true;
            break;
        }
        const int v = atoi(argv[++i]);
        if (a == "--devices") o.devices = v;
        else if (a == "--procs") o.procs = v;
        else if (a == "--hold") o.hold = v;
        else if (a == "--hb") o.hb = v;
        else if (a == "--small") o.small = v;
        else if (a == "--few") o.few = v;
        else if (a == "--per-proc") o.perProc = v;
        else if (a == "--measure") o.measure = v;
        else if (a == "--max-pending") o.maxPending = v;
        else if (a == "--io-threads") o.ioThreads = v;
        else if (a == "--login-rate") o.loginRate = v;
        else if (a == "--settle") o.settle = v;
        else bad = true;
    }
    if (o.scale && !bad && !(o.devices >= 0 && o.few >= 1 && o.small >= o.few && o.devices >= o.small))
        bad = true;
    if (bad || o.devices < 1 || o.procs < 1 || o.hold < 0 || o.hb < 1 || o.perProc < 1 || o.measure < 1 || o.settle < 0) {
        fprintf(stderr,
                "usage: registration_load [--devices N] [--procs P] [--hold SEC] [--hb SEC]\n"
                "       registration_load --scale [--devices N] [--small N] [--few N] [--per-proc N] [--measure SEC]\n"
                "                         [--hb SEC] [--max-pending N] [--io-threads N] [--login-rate N]\n"
                "                         [--settle SEC]\n");
        return 2;
    }
    vload::raiseFileLimit();
    signal(SIGPIPE, SIG_IGN);
    const std::string bin = vload::binDir();
    char dir[] = "/tmp/vexaload-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
    // The plug-in's run log goes to a file so the progress lines stay readable.
    const std::string log = std::string(dir) + "/run.log";
    setenv("VEXA_LOG_FILE", log.c_str(), 0);
    fprintf(stderr, "working folder %s, run log %s\n", dir, getenv("VEXA_LOG_FILE"));
    writeConfig(o);
    return o.scale ? runScale(o, bin) : runLoad(o, bin);
}
