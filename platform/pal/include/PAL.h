// Portable runtime (stand-in): threads, events, clocks, locks and string helpers.
#ifndef PAL_H
#define PAL_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

typedef void* PAL_THREAD;
typedef void* PAL_EVENT;
typedef uint32_t (*PAL_THREAD_FUNC)(void* arg);
typedef int64_t PAL_TIME;  // microseconds since the epoch

#define PAL_INVALID_THREAD nullptr
#define PAL_WAIT_OBJECT_0 0
#define PAL_WAIT_TIMEOUT 258

// Broken-down local time: the calendar fields plus the offset east of UTC in seconds.
struct PAL_EXPTIME {
    int32_t tm_usec;
    int32_t tm_sec;
    int32_t tm_min;
    int32_t tm_hour;
    int32_t tm_mday;
    int32_t tm_mon;   // 0-11
    int32_t tm_year;  // years since 1900
    int32_t tm_wday;
    int32_t tm_yday;
    int32_t tm_isdst;
    int32_t tm_gmtoff;
};

// stackSize 0 means the default stack. Returns PAL_INVALID_THREAD on failure.
PAL_THREAD PAL_Thread_Create(PAL_THREAD_FUNC fn, void* arg, uint32_t stackSize, uint32_t r1 = 0, uint32_t r2 = 0,
                             uint32_t r3 = 0);
int PAL_Thread_Wait(PAL_THREAD thread);
void PAL_Sleep(uint32_t ms);
uint64_t PAL_GetTimeTick64();
int PAL_GetSystemLastError();
int PAL_GetCurExePath(char* buf, uint32_t capacity);

PAL_EVENT PAL_CreateEvent(int manualReset);
int PAL_SetEvent(PAL_EVENT ev);
int PAL_WaitForSingleObject(PAL_EVENT ev, uint32_t ms);
void PAL_CloseEvent(PAL_EVENT ev);

PAL_TIME PAL_TimeNow();
int PAL_ExpTimeFromTimeLocal(PAL_TIME t, PAL_EXPTIME* out);

void PAL_AtomicSet(volatile int32_t* target, int32_t value);
int32_t PAL_Atoi32(const char* text);
int64_t PAL_Atoi64(const char* text);
const char* PAL_Strstr(const char* text, const char* pattern);
const char* PAL_Strcasestr(const char* text, const char* pattern);
int PAL_Strcmp(const char* a, const char* b);
char* PAL_Strcpy(char* dst, const char* src);
void PAL_ZeroMemory(void* dst, size_t n);

// UTF-8 text to the process's local multibyte encoding, into a separate string. A UTF-8 or
// plain ASCII ("C") locale needs no conversion; text that cannot be converted is kept as is.
// Returns 0 on success (also when nothing had to change).
int PAL_Utf8ToLocal(const char* in, size_t len, std::string& out);

class PAL_Mutex {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    // BasicLockable, so std::lock_guard and std::condition_variable_any work too.
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }

private:
    std::mutex m_mutex;
};

namespace pal {
using pal_mutex = PAL_Mutex;
}

class PAL_Guard {
public:
    explicit PAL_Guard(PAL_Mutex& m) : m_mutex(&m) { m_mutex->Lock(); }
    ~PAL_Guard() { Release(); }
    void Release() {
        if (m_mutex) {
            m_mutex->Unlock();
            m_mutex = nullptr;
        }
    }
    PAL_Guard(const PAL_Guard&) = delete;
    PAL_Guard& operator=(const PAL_Guard&) = delete;

private:
    PAL_Mutex* m_mutex;
};

#endif
