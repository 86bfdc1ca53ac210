// One gateway node of a fleet run: a small host that loads libVexaDev.so from its own working
// folder and configuration, listens on its own registration and alarm ports and adds the
// devices of one identifier range. Prints one JSON line when ready and one a second with its
// counts (stdout); stops when stdin closes or says "stop", and prints a final line.
//
//   scale_node --reg-port P --alarm-port Q --first F --count N [--id-prefix dev] [--key K]
//              [--name S] [--hb SEC] [--max-pending N] [--max-sessions N] [--io-threads N]
//
// --hb 0 (default) keeps the shipped heartbeat settings (30 s, 3 misses).
#include <json/json.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "LoadHost.h"
#include "LoadSupport.h"

namespace {

void emit(Json::Value v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    const std::string s = Json::writeString(b, v);
    fprintf(stdout, "%s\n", s.c_str());
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string prefix = "dev", key = "load-key", name = "node";
    long regPort = 0, alarmPort = 0, first = 1, count = 0, hb = 0, maxPending = 0, maxSessions = 0, ioThreads = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--id-prefix") prefix = v;
        else if (a == "--key") key = v;
        else if (a == "--name") name = v;
        else if (a == "--reg-port") regPort = atol(v.c_str());
        else if (a == "--alarm-port") alarmPort = atol(v.c_str());
        else if (a == "--first") first = atol(v.c_str());
        else if (a == "--count") count = atol(v.c_str());
        else if (a == "--hb") hb = atol(v.c_str());
        else if (a == "--max-pending") maxPending = atol(v.c_str());
        else if (a == "--max-sessions") maxSessions = atol(v.c_str());
        else if (a == "--io-threads") ioThreads = atol(v.c_str());
        else {
            fprintf(stderr, "scale_node: unknown option %s\n", a.c_str());
            return 2;
        }
    }
    if (regPort <= 0 || regPort > 65535 || alarmPort <= 0 || alarmPort > 65535 || count < 0 || first < 0) {
        fprintf(stderr, "usage: scale_node --reg-port P --alarm-port Q --first F --count N [options]\n");
        return 2;
    }
    vload::raiseFileLimit();
    signal(SIGPIPE, SIG_IGN);
    signal(SIGINT, SIG_IGN);  // the controller stops nodes through stdin
    const std::string dir = "/tmp/vexanode-" + name + "-" + std::to_string(getpid());
    if (mkdir(dir.c_str(), 0700) != 0 || chdir(dir.c_str()) != 0) return 1;
    setenv("VEXA_LOG_FILE", (dir + "/run.log").c_str(), 0);
    {
        std::ofstream cfg("local_config.xml");
        cfg << "<config><req_timeout>10</req_timeout><sendTimeOut>30</sendTimeOut><HeartbeatEnable>1</HeartbeatEnable>"
            << "<hb_time>" << (hb > 0 ? hb : 30) << "</hb_time><hb_fail>3</hb_fail>"
            << "<AlarmKeepAliveSec>30</AlarmKeepAliveSec><AlarmTimeOutCount>3</AlarmTimeOutCount>";
        if (maxPending > 0) cfg << "<MaxPendingLogins>" << maxPending << "</MaxPendingLogins>";
        if (maxSessions > 0) cfg << "<MaxDeviceSessions>" << maxSessions << "</MaxDeviceSessions>";
        if (ioThreads >= 0) cfg << "<IoThreads>" << ioThreads << "</IoThreads>";
        cfg << "</config>";
    }
    vload::LoadHost h;
    std::string why;
    const vload::ProcFigures f0 = vload::procFigures(0);
    if (!h.load(why) || !h.start(static_cast<uint16_t>(regPort), static_cast<uint16_t>(alarmPort), why)) {
        Json::Value e;
        e["error"] = why;
        emit(e);
        return 1;
    }
    h.addDevices(prefix, first, count, key);
    Json::Value ready;
    ready["ready"] = true;
    ready["name"] = name;
    ready["dir"] = dir;
    ready["devices"] = static_cast<Json::Int64>(count);
    ready["portStatus"] = h.portStatus();
    emit(ready);

    std::string lastPorts;
    for (int tick = 0; tick < 24 * 3600; ++tick) {  // bounded: a day at most
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int r = poll(&p, 1, 1000);
        if (r > 0) {
            char buf[64];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0 || memmem(buf, static_cast<size_t>(n), "stop", 4)) break;
        } else if (r < 0 && errno != EINTR) {
            break;
        }
        Json::Value s;
        s["online"] = static_cast<Json::Int64>(h.onlineNow.load());
        s["logins"] = static_cast<Json::Int64>(h.logins.load());
        s["logouts"] = static_cast<Json::Int64>(h.logouts.load());
        s["other"] = static_cast<Json::Int64>(h.other.load());
        s["firstLoginNs"] = static_cast<Json::Int64>(h.firstLoginNs.load());
        s["lastLoginNs"] = static_cast<Json::Int64>(h.lastLoginNs.load());
        const std::string ports = h.portStatus();
        if (ports != lastPorts) s["portStatus"] = lastPorts = ports;
        emit(s);
    }
    Json::Value fin;
    fin["final"] = true;
    fin["onlineAtStop"] = static_cast<Json::Int64>(h.onlineNow.load());
    fin["logins"] = static_cast<Json::Int64>(h.logins.load());
    fin["logouts"] = static_cast<Json::Int64>(h.logouts.load());
    fin["other"] = static_cast<Json::Int64>(h.other.load());
    fin["portStatusAtStop"] = h.portStatus();
    fin["finiResult"] = h.stop();
    const vload::ProcFigures f1 = vload::procFigures(0);
    fin["threadsBefore"] = f0.threads;
    fin["threadsAfter"] = f1.threads;
    fin["fdsBefore"] = f0.fds;
    fin["fdsAfter"] = f1.fds;
    fin["peakRssKb"] = static_cast<Json::Int64>(vload::statusKb(0, "VmHWM"));
    emit(fin);
    return 0;
}
