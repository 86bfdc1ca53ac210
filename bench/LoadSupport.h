// Shared by the load programs: process figures from /proc, starting simulator processes, and
// a progress line on stderr at most once a second (stdout stays for the final report).
#ifndef VEXA_BENCH_LOAD_SUPPORT_H
#define VEXA_BENCH_LOAD_SUPPORT_H

#include <dirent.h>
#include <json/json.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vload {

using SteadyClock = std::chrono::steady_clock;

inline double secondsSince(SteadyClock::time_point t0) {
    return std::chrono::duration<double>(SteadyClock::now() - t0).count();
}

inline std::string procPath(pid_t pid, const char* leaf) {
    return (pid > 0 ? "/proc/" + std::to_string(pid) : std::string("/proc/self")) + "/" + leaf;
}

// A "Key:" value of /proc/<pid>/status in kB (pid 0: this process); -1 when absent.
inline long statusKb(pid_t pid, const char* key) {
    std::ifstream in(procPath(pid, "status"));
    std::string line;
    const size_t n = strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':') return atol(line.c_str() + n + 1);
    return -1;
}

inline int countDir(const std::string& path) {
    int n = 0;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// utime + stime of a process in seconds (pid 0: this process); -1 when unreadable.
inline double cpuSeconds(pid_t pid) {
    std::ifstream in(procPath(pid, "stat"));
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos) return -1;
    std::istringstream rest(all.substr(close + 2));
    std::string f;
    unsigned long long ut = 0, st = 0;
    for (int field = 3; rest >> f; ++field) {  // field 3 is the state
        if (field == 14) ut = strtoull(f.c_str(), nullptr, 10);
        if (field == 15) {
            st = strtoull(f.c_str(), nullptr, 10);
            break;
        }
    }
    return static_cast<double>(ut + st) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// What each open descriptor of a process points at ("socket:[123]", "anon_inode:[eventfd]", ...).
inline std::vector<std::string> fdTargets(pid_t pid) {
    std::vector<std::string> out;
    const std::string dir = procPath(pid, "fd");
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char buf[PATH_MAX] = {0};
            const ssize_t n = readlink((dir + "/" + e->d_name).c_str(), buf, sizeof buf - 1);
            out.push_back(std::string(e->d_name) + " -> " + (n > 0 ? std::string(buf, static_cast<size_t>(n)) : "?"));
        }
        closedir(d);
    }
    return out;
}

struct ProcFigures {
    long rssKb = -1, hwmKb = -1;
    double cpuSec = -1;
    int threads = 0, fds = 0;
};

inline ProcFigures procFigures(pid_t pid) {
    ProcFigures f;
    f.rssKb = statusKb(pid, "VmRSS");
    f.hwmKb = statusKb(pid, "VmHWM");
    f.cpuSec = cpuSeconds(pid);
    f.threads = countDir(procPath(pid, "task"));
    f.fds = countDir(procPath(pid, "fd"));
    // Each access library keeps its run log open for the life of the process, by design.
    if (const char* log = getenv("VEXA_LOG_FILE"))
        for (const auto& t : fdTargets(pid))
            if (t.size() > strlen(log) && t.compare(t.size() - strlen(log), std::string::npos, log) == 0) --f.fds;
    return f;
}

inline Json::Value figuresJson(const ProcFigures& f) {
    Json::Value v;
    v["rssKb"] = static_cast<Json::Int64>(f.rssKb);
    v["cpuSec"] = f.cpuSec;
    v["threads"] = f.threads;
    v["fds"] = f.fds;
    return v;
}

inline void raiseFileLimit() {
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        setrlimit(RLIMIT_NOFILE, &rl);
    }
}

// Folder of the running program (build/bin).
inline std::string binDir() {
    char exe[PATH_MAX] = {0};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string s(exe, n > 0 ? static_cast<size_t>(n) : 0);
    return s.substr(0, s.rfind('/'));
}

// Starts `exe` with `args`. stdout goes to `outFd` (-1: /dev/null), stderr stays; `env` entries
// ("NAME=value") are added to the child's environment. Returns the child's pid or -1.
inline pid_t spawn(const std::string& exe, const std::vector<std::string>& args, int outFd = -1,
                   const std::vector<std::string>& env = {}) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int out = outFd >= 0 ? outFd : open("/dev/null", O_WRONLY);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(126);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& s : args) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
}

// Arguments of one devsim process: devices prefix<first> .. prefix<first+count-1>.
inline std::vector<std::string> devsimArgs(uint16_t cmsPort, const std::string& prefix, long first, long count,
                                           const std::string& key, const std::vector<std::string>& extra) {
    std::vector<std::string> a{"--cms-port", std::to_string(cmsPort), "--count",  std::to_string(count),
                               "--id-prefix", prefix, "--start-index", std::to_string(first), "--key", key};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

// Prints what `line()` says to stderr once a second until stopped.
class Progress {
public:
    explicit Progress(std::function<std::string()> line) : m_line(std::move(line)) {
        m_thread = std::thread([this] {
            std::unique_lock<std::mutex> lk(m_mx);
            while (!m_cv.wait_for(lk, std::chrono::seconds(1), [this] { return m_stop; })) {
                lk.unlock();
                const std::string s = m_line();
                if (!s.empty()) fprintf(stderr, "%s\n", s.c_str());
                lk.lock();
            }
        });
    }
    ~Progress() { stop(); }
    void stop() {
        {
            std::lock_guard<std::mutex> lk(m_mx);
            m_stop = true;
        }
        m_cv.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::function<std::string()> m_line;
    std::mutex m_mx;
    std::condition_variable m_cv;
    bool m_stop = false;
    std::thread m_thread;
};

// "online 8123/15000, 4.1 s elapsed, ~3 s left"
inline std::string countLine(const char* what, long done, long total, SteadyClock::time_point t0) {
    const double el = secondsSince(t0);
    char buf[160];
    if (done > 0 && done < total)
        snprintf(buf, sizeof buf, "%s %ld/%ld, %.1f s elapsed, ~%.0f s left", what, done, total, el,
                 el * static_cast<double>(total - done) / static_cast<double>(done));
    else
        snprintf(buf, sizeof buf, "%s %ld/%ld, %.1f s elapsed", what, done, total, el);
    return buf;
}

}  // namespace vload

#endif
