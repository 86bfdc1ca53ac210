#include "Admission.h"

#include "runlog.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace vexasdk {

namespace {

uint64_t nowMs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// 0: no limit.
uint64_t fileLimit() {
    struct rlimit rl;
    if (getrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<uint64_t>(rl.rlim_cur);
}

// Open descriptors of the process, -1 when they cannot be counted.
int64_t countOpen() {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    int64_t n = 0;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1;  // the directory's own descriptor
}

}  // namespace

Admission& Admission::instance() {
    static Admission* a = new Admission;  // never destroyed: sockets may close during teardown
    return *a;
}

void Admission::closeOnExec(int fd) {
    if (fd < 0) return;
    const int flags = fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

void Admission::takeSpare() {
    if (m_spare < 0) m_spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void Admission::listenerOpened(int fd) {
    closeOnExec(fd);
    std::lock_guard<std::mutex> lk(m_spareMu);
    takeSpare();
}

void Admission::releaseSpare() {
    std::lock_guard<std::mutex> lk(m_spareMu);
    if (m_spare >= 0) close(m_spare);
    m_spare = -1;
}

uint64_t Admission::inUse(int accepted, uint64_t limit) {
    const uint64_t now = nowMs();
    const int64_t own = m_own.load(std::memory_order_relaxed);
    int64_t est = own + m_rest.load(std::memory_order_relaxed) + 1;  // + the connection in hand
    // Descriptors are handed out lowest first: every one below the accepted one is in use.
    const bool behind = accepted + 1 > est;
    const uint64_t age = now - m_scanMs.load();
    const uint32_t reserve = fdReserve.load();
    const bool near = est + 2 * static_cast<int64_t>(reserve) + 64 >= static_cast<int64_t>(limit);
    // Counting /proc is linear in the descriptors: only when the estimate is known to be behind,
    // the limit changed, or it is old (often near the limit, rarely far from it).
    if (behind || limit != m_scanLimit.load() || age >= (near ? 1000u : 10000u)) {
        std::unique_lock<std::mutex> lk(m_scanMu, std::try_to_lock);
        if (lk.owns_lock()) {
            const int64_t n = countOpen();
            if (n >= 0) {
                const int64_t rest = n - m_own.load(std::memory_order_relaxed) - 1;
                m_rest.store(rest > 0 ? rest : 0);
                m_scanLimit.store(limit);
                m_scanMs.store(now);
                est = n;
            }
        }
    }
    if (accepted + 1 > est) est = accepted + 1;
    return est > 0 ? static_cast<uint64_t>(est) : 0;
}

bool Admission::keepAccepted(int fd) {
    closeOnExec(fd);
    const uint64_t limit = fileLimit();
    if (limit == 0) return true;
    const uint64_t used = inUse(fd, limit);
    if (used <= limit && limit - used >= fdReserve.load()) return true;
    refuse("limit reached");
    return false;
}

bool Admission::shedWaiting(int listenFd) {
    std::lock_guard<std::mutex> lk(m_spareMu);
    if (m_spare >= 0) {
        close(m_spare);
        m_spare = -1;
    }
    bool shed = false;
    pollfd p{listenFd, POLLIN, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
        const int c = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (c >= 0) {
            refuse("limit reached");  // counted before the device can see the close
            close(c);
            shed = true;
        }
    }
    takeSpare();
    return shed;
}

bool Admission::enterSession() {
    uint32_t c = sessions.load();
    do {
        const uint32_t cap = maxSessions.load();
        if (cap && c >= cap) {
            refuse("session cap reached");
            return false;
        }
    } while (!sessions.compare_exchange_weak(c, c + 1));
    return true;
}

void Admission::refuse(const char* why) {
    refusedFull.fetch_add(1);
    std::lock_guard<std::mutex> lk(m_lineMu);
    ++m_sinceLine;
    m_why = why;
    lineLocked(nowMs());
}

void Admission::flushLine() {
    std::lock_guard<std::mutex> lk(m_lineMu);
    if (m_sinceLine) lineLocked(nowMs());
}

void Admission::lineLocked(uint64_t now) {
    if (m_lined && now - m_lineMs < 1000) return;
    m_lined = true;
    m_lineMs = now;
    RunLog_Write(4, m_module.load(), "refusing connections: %llu refused in the last second, %u sessions, %s",
                 static_cast<unsigned long long>(m_sinceLine), sessions.load(), m_why);
    m_sinceLine = 0;
}

}  // namespace vexasdk
