// Fleet run: several gateway nodes (scale_node processes, each loading libVexaDev.so with its own
// ports, folder and configuration) and enough devsim processes to log a fleet in across them.
// Devices go to their node by identifier range. Holds them, logs them out, and prints per node:
// devices on line at the peak, time to all on line, resident memory, CPU seconds, threads and
// descriptors, and whether all were logged out.
//
//   fleet_run [--nodes 4] [--devices 50000] [--hold 180] [--per-devsim 6250] [--hb 0]
//             [--login-rate 0] [--max-pending 0] [--io-threads N] [--alarm-rate 0]
//
// --alarm-rate R: each device also holds an alarm link to its node and sends R alarms a second.
// The session-cap scenario: one node capped at --cap sessions, --devices try (the last
// --devices - --cap of them after the others are on line), then --devices - --cap of the first
// ones log out and the waiting ones get in on their next try (--retry seconds apart).
//
//   fleet_run --scenario cap [--cap 10000] [--devices 10500] [--retry 5]
//
// Progress goes to stderr at most once a second; the report to stdout.
#include <fcntl.h>
#include <json/json.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "LoadHost.h"
#include "LoadSupport.h"
#include "PluginHost.h"

namespace {

using vload::SteadyClock;

// A child whose stdout we read line by line (JSON lines).
struct Child {
    pid_t pid = -1;
    int in = -1, out = -1;
    std::string buf;
    std::string needle;  // non-empty: only lines holding it are parsed
    std::function<void(const Json::Value&)> onLine;

    void pump() {
        if (out < 0) return;
        char tmp[65536];
        for (;;) {
            const ssize_t n = read(out, tmp, sizeof tmp);
            if (n > 0) {
                buf.append(tmp, static_cast<size_t>(n));
                continue;
            }
            if (n == 0) {
                close(out);
                out = -1;
            }
            break;
        }
        size_t nl;
        while ((nl = buf.find('\n')) != std::string::npos) {
            if (!needle.empty() && std::search(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(nl), needle.begin(),
                                               needle.end()) == buf.begin() + static_cast<std::ptrdiff_t>(nl)) {
                buf.erase(0, nl + 1);
                continue;
            }
            Json::Value v;
            Json::CharReaderBuilder rb;
            std::string errs;
            std::unique_ptr<Json::CharReader> r(rb.newCharReader());
            if (r->parse(buf.data(), buf.data() + nl, &v, &errs) && v.isObject() && onLine) onLine(v);
            buf.erase(0, nl + 1);
        }
    }
};

// Starts `exe` with pipes to its stdin (if `withIn`) and from its stdout; our ends close on exec
// so no other child keeps them open.
bool startChild(Child& c, const std::string& exe, const std::vector<std::string>& args, bool withIn) {
    int inP[2] = {-1, -1}, outP[2];
    if ((withIn && pipe2(inP, O_CLOEXEC) != 0) || pipe2(outP, O_CLOEXEC) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        if (withIn) dup2(inP[0], STDIN_FILENO);
        dup2(outP[1], STDOUT_FILENO);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    if (withIn) close(inP[0]);
    close(outP[1]);
    c.pid = pid;
    c.in = withIn ? inP[1] : -1;
    c.out = outP[0];
    fcntl(c.out, F_SETFL, O_NONBLOCK);
    return pid > 0;
}

void pumpAll(std::vector<Child*> cs, int waitMs) {
    std::vector<pollfd> p;
    for (Child* c : cs)
        if (c->out >= 0) p.push_back(pollfd{c->out, POLLIN, 0});
    if (p.empty()) {
        usleep(static_cast<useconds_t>(waitMs) * 1000);
        return;
    }
    poll(p.data(), p.size(), waitMs);
    for (Child* c : cs) c->pump();
}

struct Node {
    std::string name;
    uint16_t reg = 0, alarm = 0;
    long first = 0, count = 0;
    Child proc;
    bool ready = false, finished = false;
    long online = 0, logins = 0, logouts = 0, other = 0, peakOnline = 0;
    int64_t lastLoginNs = 0, allOnlineAtNs = 0;
    std::string dir, portStatus, portStatusAtPeak;
    Json::Value fin;
    vload::ProcFigures atHoldStart, atHoldEnd;
};

std::vector<Child*> childrenOf(std::vector<Node>& nodes, std::vector<Child*> more = {}) {
    for (auto& n : nodes) more.push_back(&n.proc);
    return more;
}

bool startNode(Node& n, const std::string& bin, const std::vector<std::string>& extra) {
    std::vector<std::string> a{"--name",  n.name, "--reg-port", std::to_string(n.reg), "--alarm-port",
                               std::to_string(n.alarm), "--first", std::to_string(n.first), "--count",
                               std::to_string(n.count)};
    a.insert(a.end(), extra.begin(), extra.end());
    n.proc.onLine = [&n](const Json::Value& v) {
        if (v.isMember("error")) fprintf(stderr, "%s: %s\n", n.name.c_str(), v["error"].asString().c_str());
        if (v.get("ready", false).asBool()) {
            n.ready = true;
            n.dir = v["dir"].asString();
        }
        if (v.get("final", false).asBool()) {
            n.finished = true;
            n.fin = v;
        }
        if (v.isMember("online")) {
            n.online = v["online"].asInt64();
            n.logins = v["logins"].asInt64();
            n.logouts = v["logouts"].asInt64();
            n.other = v["other"].asInt64();
            n.lastLoginNs = v["lastLoginNs"].asInt64();
            if (n.online > n.peakOnline) {
                n.peakOnline = n.online;
                n.portStatusAtPeak = n.portStatus;
            }
            if (n.online >= n.count && n.allOnlineAtNs == 0) n.allOnlineAtNs = n.lastLoginNs;
        }
        if (v.isMember("portStatus")) n.portStatus = v["portStatus"].asString();
    };
    return startChild(n.proc, bin + "/scale_node", a, true);
}

bool startNodes(std::vector<Node>& nodes, const std::string& bin, const std::vector<std::string>& extra) {
    std::set<uint16_t> used;
    auto port = [&] {
        for (int i = 0; i < 100; ++i) {
            const uint16_t p = gwhost::freeLoopbackPort();
            if (p && used.insert(p).second) return p;
        }
        return uint16_t(0);
    };
    for (auto& n : nodes) {
        n.reg = port();
        n.alarm = port();
        if (!startNode(n, bin, extra)) return false;
    }
    const auto t0 = SteadyClock::now();
    while (vload::secondsSince(t0) < 120) {
        pumpAll(childrenOf(nodes), 200);
        bool all = true;
        for (auto& n : nodes) all &= n.ready;
        if (all) return true;
        for (auto& n : nodes)
            if (n.proc.out < 0 && !n.ready) return false;
    }
    return false;
}

void stopNodes(std::vector<Node>& nodes) {
    for (auto& n : nodes) {
        if (n.proc.in >= 0 && write(n.proc.in, "stop\n", 5) < 0) {
        }
        if (n.proc.in >= 0) close(n.proc.in);
        n.proc.in = -1;
    }
    const auto t0 = SteadyClock::now();
    while (vload::secondsSince(t0) < 120) {
        bool all = true;
        for (auto& n : nodes) all &= n.finished || n.proc.out < 0;
        if (all) break;
        pumpAll(childrenOf(nodes), 200);
    }
    for (auto& n : nodes) waitpid(n.proc.pid, nullptr, 0);
}

long sum(const std::vector<Node>& nodes, long Node::*f) {
    long s = 0;
    for (const auto& n : nodes) s += n.*f;
    return s;
}

std::string perNode(const std::vector<Node>& nodes, long Node::*f) {
    std::string s;
    for (const auto& n : nodes) s += (s.empty() ? "" : " ") + n.name + " " + std::to_string(n.*f);
    return s;
}

// Pumps node lines until `done` or `limitSec`; a progress line a second from `line`.
bool pumpUntil(std::vector<Node>& nodes, std::vector<Child*> more, const std::function<bool()>& done,
               double limitSec, const std::function<std::string()>& line) {
    const auto t0 = SteadyClock::now();
    auto lastLine = t0;
    for (;;) {
        pumpAll(childrenOf(nodes, more), 100);
        if (done()) return true;
        if (vload::secondsSince(t0) > limitSec) return false;
        if (vload::secondsSince(lastLine) >= 1.0) {
            lastLine = SteadyClock::now();
            fprintf(stderr, "%s\n", line().c_str());
        }
    }
}

std::vector<pid_t> startDevsims(const std::string& bin, const Node& n, long first, long count, long per,
                                const std::vector<std::string>& extra) {
    std::vector<pid_t> out;
    for (long s = first; s < first + count; s += per)
        out.push_back(vload::spawn(bin + "/devsim",
                                   vload::devsimArgs(n.reg, "dev", s, std::min(per, first + count - s), "load-key", extra)));
    return out;
}

void endDevsims(const std::vector<pid_t>& pids) {
    for (pid_t p : pids) kill(p, SIGTERM);
}

void reapDevsims(std::vector<pid_t>& pids) {
    for (pid_t p : pids) waitpid(p, nullptr, 0);
    pids.clear();
}

vload::ProcFigures devsimTotals(const std::vector<pid_t>& pids) {
    vload::ProcFigures t;
    t.rssKb = 0;
    t.cpuSec = 0;
    for (pid_t p : pids) {
        const vload::ProcFigures f = vload::procFigures(p);
        t.rssKb += std::max(0L, f.rssKb);
        t.cpuSec += std::max(0.0, f.cpuSec);
        t.threads += f.threads;
        t.fds += f.fds;
    }
    return t;
}

struct Opts {
    std::string scenario = "fleet";
    long nodes = 4, devices = 50000, hold = 180, perDevsim = 6250, hb = 0, maxPending = 0, ioThreads = -1;
    long cap = 10000, retry = 5;
    double loginRate = 0, alarmRate = 0;
};

std::vector<std::string> nodeExtra(const Opts& o) {
    std::vector<std::string> e{"--hb", std::to_string(o.hb)};
    if (o.maxPending > 0) e.insert(e.end(), {"--max-pending", std::to_string(o.maxPending)});
    if (o.ioThreads >= 0) e.insert(e.end(), {"--io-threads", std::to_string(o.ioThreads)});
    if (o.scenario == "cap") e.insert(e.end(), {"--max-sessions", std::to_string(o.cap)});
    return e;
}

std::vector<std::string> devsimExtra(const Opts& o, long retrySec) {
    std::vector<std::string> e{"--equipment", "none", "--reconnect", "--reconnect-delay", std::to_string(retrySec),
                               "--duration", std::to_string(o.hold + 1800)};
    if (o.loginRate > 0) e.insert(e.end(), {"--login-rate", std::to_string(o.loginRate)});
    return e;
}

void printJson(const Json::Value& r) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "  ";
    printf("%s\n", Json::writeString(b, r).c_str());
}

int runFleet(const Opts& o, const std::string& bin) {
    std::vector<Node> nodes(static_cast<size_t>(o.nodes));
    const long per = (o.devices + o.nodes - 1) / o.nodes;
    for (long k = 0; k < o.nodes; ++k) {
        Node& n = nodes[static_cast<size_t>(k)];
        n.name = "n" + std::to_string(k + 1);
        n.first = 1 + k * per;
        n.count = std::max(0L, std::min(per, o.devices - k * per));
    }
    if (!startNodes(nodes, bin, nodeExtra(o))) {
        fprintf(stderr, "nodes did not start\n");
        stopNodes(nodes);
        return 1;
    }
    const int64_t t0ns = vload::monoNs();
    const auto t0 = SteadyClock::now();
    std::vector<pid_t> sims;
    std::vector<std::unique_ptr<Child>> simProcs;
    std::vector<Child*> simOut;
    Json::Value simSum(Json::objectValue);
    long summaries = 0;
    for (auto& n : nodes) {
        for (long s = n.first; s < n.first + n.count; s += o.perDevsim) {
            simProcs.emplace_back(new Child);
            Child& c = *simProcs.back();
            c.needle = "\"summary\"";
            c.onLine = [&](const Json::Value& v) {
                ++summaries;
                for (const char* k : {"devices", "logins", "heartbeatsSent", "heartbeatsAcked"})
                    simSum[k] = simSum.get(k, 0).asInt64() + v.get(k, 0).asInt64();
                for (const char* group : {"reached", "final"})
                    for (const auto& st : v[group].getMemberNames())
                        simSum[group][st] = simSum[group].get(st, 0).asInt64() + v[group][st].asInt64();
            };
            auto extra = devsimExtra(o, 2);
            if (o.alarmRate > 0)  // alarm links too: the rate keeps them alive
                extra.insert(extra.end(), {"--ams-port", std::to_string(n.alarm), "--alarm-rate", std::to_string(o.alarmRate)});
            const auto args =
                vload::devsimArgs(n.reg, "dev", s, std::min(o.perDevsim, n.first + n.count - s), "load-key", extra);
            if (startChild(c, bin + "/devsim", args, false)) sims.push_back(c.pid);
            simOut.push_back(&c);
        }
    }
    const bool allOn = pumpUntil(nodes, simOut, [&] { return sum(nodes, &Node::online) >= o.devices; },
                                 120 + o.devices / 100.0, [&] {
                                     return vload::countLine("online", sum(nodes, &Node::online), o.devices, t0) +
                                            " [" + perNode(nodes, &Node::online) + "]";
                                 });
    const double secondsAllOnline = vload::secondsSince(t0);
    for (auto& n : nodes) n.atHoldStart = vload::procFigures(n.proc.pid);
    const vload::ProcFigures simsHold0 = devsimTotals(sims);
    const auto h0 = SteadyClock::now();
    pumpUntil(nodes, simOut, [&] { return vload::secondsSince(h0) >= o.hold; }, o.hold + 5, [&] {
        char b[200];
        snprintf(b, sizeof b, "holding: on line %ld/%ld, %.0f s of %ld", sum(nodes, &Node::online), o.devices,
                 vload::secondsSince(h0), o.hold);
        return std::string(b) + " [" + perNode(nodes, &Node::online) + "]";
    });
    for (auto& n : nodes) n.atHoldEnd = vload::procFigures(n.proc.pid);
    const vload::ProcFigures simsHold1 = devsimTotals(sims);
    const long onlineAtHoldEnd = sum(nodes, &Node::online);
    const long logouts0 = sum(nodes, &Node::logouts);
    const auto l0 = SteadyClock::now();
    endDevsims(sims);
    const bool allOff = pumpUntil(nodes, simOut, [&] { return sum(nodes, &Node::online) == 0; }, 120 + o.devices / 200.0,
                                  [&] {
                                      return vload::countLine("logged out", sum(nodes, &Node::logouts) - logouts0,
                                                              onlineAtHoldEnd, l0);
                                  });
    const double secondsLogout = vload::secondsSince(l0);
    pumpUntil(nodes, simOut, [&] { return summaries >= static_cast<long>(simOut.size()); }, 30,
              [&] { return "devsim summaries " + std::to_string(summaries) + "/" + std::to_string(simOut.size()); });
    reapDevsims(sims);
    for (Child* c : simOut)
        if (c->out >= 0) close(c->out);
    stopNodes(nodes);

    Json::Value r;
    r["nodes"] = static_cast<Json::Int64>(o.nodes);
    r["devices"] = static_cast<Json::Int64>(o.devices);
    r["devsimProcesses"] = static_cast<Json::Int64>((per + o.perDevsim - 1) / o.perDevsim * o.nodes);
    r["heartbeatSec"] = static_cast<Json::Int64>(o.hb > 0 ? o.hb : 30);
    r["holdSec"] = static_cast<Json::Int64>(o.hold);
    r["allOnline"] = allOn;
    r["secondsToAllOnline"] = secondsAllOnline;
    r["onlineAtHoldEnd"] = static_cast<Json::Int64>(onlineAtHoldEnd);
    r["allLoggedOut"] = allOff;
    r["secondsToAllLoggedOut"] = secondsLogout;
    r["devsimAtHoldEnd"] = vload::figuresJson(simsHold1);
    r["devsimCpuSecOverHold"] = simsHold1.cpuSec - simsHold0.cpuSec;
    r["devsimSummaries"] = simSum;
    bool ok = allOn && allOff;
    printf("| node | devices | peak on line | s to all on line | VmRSS MiB | CPU s (total / hold) | threads | fds | "
           "logged out | Fini |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (auto& n : nodes) {
        Json::Value v;
        v["name"] = n.name;
        v["devices"] = static_cast<Json::Int64>(n.count);
        v["regPort"] = n.reg;
        v["alarmPort"] = n.alarm;
        v["peakOnline"] = static_cast<Json::Int64>(n.peakOnline);
        const double toAll = n.allOnlineAtNs ? (n.allOnlineAtNs - t0ns) / 1e9 : -1;
        v["secondsToAllOnline"] = toAll;
        v["atHoldStart"] = vload::figuresJson(n.atHoldStart);
        v["atHoldEnd"] = vload::figuresJson(n.atHoldEnd);
        v["cpuSecOverHold"] = n.atHoldEnd.cpuSec - n.atHoldStart.cpuSec;
        v["logins"] = static_cast<Json::Int64>(n.logins);
        v["logouts"] = static_cast<Json::Int64>(n.logouts);
        v["otherStatuses"] = static_cast<Json::Int64>(n.other);
        v["allLoggedOut"] = n.online == 0 && n.logouts >= n.count;
        v["final"] = n.fin;
        v["workFolder"] = n.dir;
        ok &= n.peakOnline == n.count && n.online == 0 && n.fin.get("finiResult", 1).asInt() == 0;
        r["perNode"].append(v);
        printf("| %s | %ld | %ld | %.1f | %.1f | %.1f / %.1f | %d | %d | %s (%ld) | %d |\n", n.name.c_str(), n.count,
               n.peakOnline, toAll, n.atHoldEnd.rssKb / 1024.0, n.atHoldEnd.cpuSec,
               n.atHoldEnd.cpuSec - n.atHoldStart.cpuSec, n.atHoldEnd.threads, n.atHoldEnd.fds,
               v["allLoggedOut"].asBool() ? "yes" : "NO", n.logouts, n.fin.get("finiResult", -1).asInt());
    }
    r["ok"] = ok;
    printJson(r);
    return ok ? 0 : 1;
}

// Lines of the node's run log that speak of refusals or a full library (at most `max`).
Json::Value logLines(const std::string& dir, size_t max, long& count) {
    Json::Value out(Json::arrayValue);
    std::ifstream in(dir + "/run.log");
    std::string line;
    count = 0;
    while (std::getline(in, line)) {
        std::string low = line;
        std::transform(low.begin(), low.end(), low.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
        if (low.find("full") == std::string::npos && low.find("refus") == std::string::npos) continue;
        ++count;
        if (out.size() < max) out.append(line.substr(0, 400));
    }
    return out;
}

int runCap(Opts o, const std::string& bin) {
    const long leave = o.devices - o.cap;
    if (leave <= 0 || leave > o.cap) {
        fprintf(stderr, "--devices must be above --cap and at most twice it\n");
        return 2;
    }
    std::vector<Node> nodes(1);
    Node& n = nodes[0];
    n.name = "cap";
    n.first = 1;
    n.count = o.devices;
    if (!startNodes(nodes, bin, nodeExtra(o))) {
        fprintf(stderr, "node did not start\n");
        stopNodes(nodes);
        return 1;
    }
    Json::Value r;
    r["cap"] = static_cast<Json::Int64>(o.cap);
    r["devices"] = static_cast<Json::Int64>(o.devices);
    // The first `cap` devices: all but the last `leave` of them stay; those `leave` log out later.
    const auto t0 = SteadyClock::now();
    std::vector<pid_t> stay = startDevsims(bin, n, 1, o.cap - leave, o.perDevsim, devsimExtra(o, 1));
    std::vector<pid_t> leaving = startDevsims(bin, n, o.cap - leave + 1, leave, o.perDevsim, devsimExtra(o, 1));
    const bool capOn = pumpUntil(nodes, {}, [&] { return n.online >= o.cap; }, 120 + o.cap / 100.0,
                                 [&] { return vload::countLine("online", n.online, o.cap, t0); });
    r["firstOnline"] = static_cast<Json::Int64>(n.online);
    r["secondsToFirstOnline"] = vload::secondsSince(t0);
    long logLinesBefore = 0;
    logLines(n.dir, 0, logLinesBefore);

    // The late ones: their stdout tells what each device saw.
    Child late;
    std::map<std::string, std::string> firstSeen;  // device -> first terminal state
    std::set<std::string> lateIn;
    late.onLine = [&](const Json::Value& v) {
        const std::string id = v.get("deviceId", "").asString(), st = v.get("state", "").asString();
        if (id.empty()) return;
        if (st == "LoggedIn") lateIn.insert(id);
        if ((st == "Closed" || st == "Refused" || st == "LoggedIn") && !firstSeen.count(id)) firstSeen[id] = st;
    };
    std::vector<std::string> lateArgs =
        vload::devsimArgs(n.reg, "dev", o.cap + 1, leave, "load-key", devsimExtra(o, o.retry));
    const auto l0 = SteadyClock::now();
    if (!startChild(late, bin + "/devsim", lateArgs, false)) return 1;
    // Before their first retry: how the first try went.
    pumpUntil(nodes, {&late},
              [&] { return static_cast<long>(firstSeen.size()) >= leave || vload::secondsSince(l0) >= o.retry * 0.8; },
              o.retry,
              [&] { return "late devices: " + std::to_string(firstSeen.size()) + " answered"; });
    long refusedAtOnce = 0;
    for (const auto& kv : firstSeen) refusedAtOnce += kv.second != "LoggedIn";
    r["lateDevices"] = static_cast<Json::Int64>(leave);
    r["lateRefusedOnFirstTry"] = static_cast<Json::Int64>(refusedAtOnce);
    r["lateInOnFirstTry"] = static_cast<Json::Int64>(firstSeen.size() - refusedAtOnce);
    r["lateWithoutAnswerOnFirstTry"] = static_cast<Json::Int64>(leave - static_cast<long>(firstSeen.size()));
    r["secondsToFirstTryAnswers"] = vload::secondsSince(l0);
    r["onlineWhileFull"] = static_cast<Json::Int64>(n.online);
    r["portStatusWhileFull"] = n.portStatus;
    long logCount = 0;
    r["runLogLinesWhileFull"] = logLines(n.dir, 10, logCount);
    r["runLogRefusalLinesNew"] = static_cast<Json::Int64>(logCount - logLinesBefore);

    // `leave` devices log out; the waiting ones get in on their next try.
    const long out0 = n.logouts;
    const auto x0 = SteadyClock::now();
    endDevsims(leaving);
    pumpUntil(nodes, {&late}, [&] { return n.logouts - out0 >= leave; }, 60,
              [&] { return vload::countLine("logged out", n.logouts - out0, leave, x0); });
    r["secondsToLogOut"] = vload::secondsSince(x0);
    const bool lateAllIn = pumpUntil(nodes, {&late}, [&] { return static_cast<long>(lateIn.size()) >= leave; },
                                     3.0 * o.retry + 60, [&] {
                                         return vload::countLine("late devices on line", static_cast<long>(lateIn.size()),
                                                                 leave, x0);
                                     });
    pumpAll(childrenOf(nodes, {&late}), 1500);  // one more status line
    r["lateAllIn"] = lateAllIn;
    r["lateIn"] = static_cast<Json::Int64>(lateIn.size());
    r["secondsFromLogoutToLateIn"] = vload::secondsSince(x0);
    r["onlineAfter"] = static_cast<Json::Int64>(n.online);
    r["portStatusAfter"] = n.portStatus;
    r["figuresAfter"] = vload::figuresJson(vload::procFigures(n.proc.pid));

    reapDevsims(leaving);
    endDevsims(stay);
    kill(late.pid, SIGTERM);
    const auto e0 = SteadyClock::now();
    const bool allOff = pumpUntil(nodes, {&late}, [&] { return n.online == 0; }, 120,
                                  [&] { return vload::countLine("on line", n.online, o.cap, e0) + " (logging out)"; });
    reapDevsims(stay);
    waitpid(late.pid, nullptr, 0);
    if (late.out >= 0) close(late.out);
    stopNodes(nodes);
    r["allLoggedOut"] = allOff;
    r["runLogLinesAtEnd"] = logLines(n.dir, 20, logCount);
    r["runLogRefusalLinesAtEnd"] = static_cast<Json::Int64>(logCount);
    r["nodeFinal"] = n.fin;
    r["workFolder"] = n.dir;
    const bool ok = capOn && refusedAtOnce == leave && lateAllIn && allOff;
    r["ok"] = ok;
    printJson(r);
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Opts o;
    bool bad = false;
    for (int i = 1; i + 1 < argc && !bad; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        const long n = atol(v.c_str());
        if (a == "--scenario") o.scenario = v;
        else if (a == "--nodes") o.nodes = n;
        else if (a == "--devices") o.devices = n;
        else if (a == "--hold") o.hold = n;
        else if (a == "--per-devsim") o.perDevsim = n;
        else if (a == "--hb") o.hb = n;
        else if (a == "--login-rate") o.loginRate = atof(v.c_str());
        else if (a == "--alarm-rate") o.alarmRate = atof(v.c_str());
        else if (a == "--max-pending") o.maxPending = n;
        else if (a == "--io-threads") o.ioThreads = n;
        else if (a == "--cap") o.cap = n;
        else if (a == "--retry") o.retry = n;
        else bad = true;
    }
    if (argc % 2 == 0 || bad || (o.scenario != "fleet" && o.scenario != "cap") || o.nodes < 1 || o.nodes > 16 ||
        o.devices < 1 || o.hold < 0 || o.perDevsim < 1 || o.perDevsim > 8000 || o.hb < 0 || o.retry < 1 || o.cap < 1) {
        fprintf(stderr,
                "usage: fleet_run [--nodes N] [--devices N] [--hold SEC] [--per-devsim N] [--hb SEC] [--login-rate N]\n"
                "                 [--max-pending N] [--io-threads N] [--alarm-rate R]\n"
                "       fleet_run --scenario cap [--cap N] [--devices N] [--retry SEC] [--per-devsim N]\n");
        return 2;
    }
    vload::raiseFileLimit();
    signal(SIGPIPE, SIG_IGN);
    const std::string bin = vload::binDir();
    return o.scenario == "cap" ? runCap(o, bin) : runFleet(o, bin);
}
