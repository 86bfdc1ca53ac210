#include "TestSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "runlog.h"

namespace vtest {

LogCapture::LogCapture(int level) { RunLog_SetSink(&LogCapture::sink, this, level); }
LogCapture::~LogCapture() { RunLog_SetSink(nullptr, nullptr, 100); }

void LogCapture::sink(int level, const char* module, const char* text, void* user) {
    auto* self = static_cast<LogCapture*>(user);
    std::lock_guard<std::mutex> lk(self->m_lock);
    self->m_lines.push_back(std::to_string(level) + " " + module + " " + text);
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> lk(m_lock);
    return m_lines;
}

size_t LogCapture::count(const std::string& needle) const {
    std::lock_guard<std::mutex> lk(m_lock);
    size_t n = 0;
    for (const auto& l : m_lines)
        if (l.find(needle) != std::string::npos) ++n;
    return n;
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lk(m_lock);
    m_lines.clear();
}

static int countDir(const char* path) {
    DIR* d = opendir(path);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

int threadCount() { return countDir("/proc/self/task"); }
int openFdCount() { return countDir("/proc/self/fd") - 1; }  // minus the directory's own fd

long residentKiB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int dial(uint16_t port, const char* from) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, from, &a.sin_addr);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in to = a;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool canConnect(uint16_t port) {
    const int fd = dial(port);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

std::string enterTempDir() {
    char tmpl[] = "/tmp/vexatest-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (!d) return std::string();
    if (chdir(d) != 0) return std::string();
    return d;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

}  // namespace vtest
