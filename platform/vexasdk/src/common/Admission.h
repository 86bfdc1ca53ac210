// Admission of connections at the edge of the library: every socket close-on-exec, the
// descriptors kept free for the rest of the process, the session cap, and one rate-limited line
// about the connections closed at once. One instance per library image.
#ifndef VEXASDK_ADMISSION_H
#define VEXASDK_ADMISSION_H

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vexasdk {

class Admission {
public:
    static Admission& instance();

    // Children the host starts must not keep device connections or the listeners alive.
    static void closeOnExec(int fd);

    // Counts one of the library's own sockets while it lives (a member of each socket owner).
    class FdToken {
    public:
        FdToken() { instance().m_own.fetch_add(1, std::memory_order_relaxed); }
        ~FdToken() { instance().m_own.fetch_sub(1, std::memory_order_relaxed); }
        FdToken(const FdToken&) = delete;
        FdToken& operator=(const FdToken&) = delete;
    };

    void setModule(const char* module) { m_module.store(module); }

    // A listener opened: close-on-exec, and the spare descriptor is held from now on.
    void listenerOpened(int fd);
    // The library stopped: no listener needs the spare any more.
    void releaseSpare();
    // A connection was just accepted on fd (not yet owned by anyone): close-on-exec, then false
    // (counted and logged) when keeping it would leave fewer than fdReserve descriptors free.
    bool keepAccepted(int fd);
    // accept failed on listenFd for lack of descriptors: the spare is given up, the waiting
    // connection taken and closed (counted and logged), the spare taken back. True when a
    // connection was taken, so the listener may accept again at once.
    bool shedWaiting(int listenFd);

    // Session cap (0: none). False (counted and logged) when the cap is reached.
    bool enterSession();
    void leaveSession() { sessions.fetch_sub(1); }

    // Counts a connection closed at once; at most one line a second counts them.
    void refuse(const char* why);
    // Logs the refusals the last line has not counted yet, once their second is over.
    void flushLine();

    std::atomic<uint32_t> fdReserve{64};
    std::atomic<uint32_t> maxSessions{0};
    std::atomic<uint32_t> sessions{0};
    std::atomic<uint64_t> refusedFull{0};

private:
    Admission() = default;
    // Descriptors in use by the whole process, estimated; accepted: the newest accepted fd.
    uint64_t inUse(int accepted, uint64_t limit);
    void takeSpare();  // under m_spareMu
    void lineLocked(uint64_t now);  // under m_lineMu

    std::atomic<const char*> m_module{"VEXASDK"};
    std::atomic<int64_t> m_own{0};   // the library's own sockets
    std::atomic<int64_t> m_rest{0};  // everything else, from the last count of /proc/self/fd
    std::atomic<uint64_t> m_scanLimit{0};
    std::atomic<uint64_t> m_scanMs{0};
    std::mutex m_scanMu;
    std::mutex m_spareMu;
    int m_spare = -1;
    std::mutex m_lineMu;
    bool m_lined = false;
    uint64_t m_lineMs = 0;
    uint64_t m_sinceLine = 0;
    const char* m_why = "";
};

}  // namespace vexasdk

#endif
