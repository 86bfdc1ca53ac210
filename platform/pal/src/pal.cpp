#include "PAL.h"

#include <iconv.h>
#include <langinfo.h>
#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace {

struct ThreadStart {
    PAL_THREAD_FUNC fn;
    void* arg;
};

struct ThreadHandle {
    pthread_t tid;
};

void* threadTrampoline(void* p) {
    ThreadStart start = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    start.fn(start.arg);
    return nullptr;
}

struct Event {
    std::mutex m;
    std::condition_variable cv;
    bool set = false;
    bool manual = false;
};

thread_local int t_lastError = 0;

}  // namespace

PAL_THREAD PAL_Thread_Create(PAL_THREAD_FUNC fn, void* arg, uint32_t stackSize, uint32_t, uint32_t, uint32_t) {
    if (!fn) {
        t_lastError = EINVAL;
        return PAL_INVALID_THREAD;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize > 0) {
        size_t sz = stackSize < PTHREAD_STACK_MIN ? PTHREAD_STACK_MIN : stackSize;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        sz *= 4;  // instrumented code needs far more stack per frame
#endif
        pthread_attr_setstacksize(&attr, sz);
    }
    auto* start = new (std::nothrow) ThreadStart{fn, arg};
    auto* handle = new (std::nothrow) ThreadHandle{};
    if (!start || !handle) {
        delete start;
        delete handle;
        pthread_attr_destroy(&attr);
        t_lastError = ENOMEM;
        return PAL_INVALID_THREAD;
    }
    const int rc = pthread_create(&handle->tid, &attr, threadTrampoline, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete start;
        delete handle;
        t_lastError = rc;
        return PAL_INVALID_THREAD;
    }
    return handle;
}

int PAL_Thread_Wait(PAL_THREAD thread) {
    if (!thread) return -1;
    auto* handle = static_cast<ThreadHandle*>(thread);
    const int rc = pthread_join(handle->tid, nullptr);
    delete handle;
    return rc == 0 ? 0 : -1;
}

void PAL_Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint64_t PAL_GetTimeTick64() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int PAL_GetSystemLastError() { return t_lastError ? t_lastError : errno; }

int PAL_GetCurExePath(char* buf, uint32_t capacity) {
    if (!buf || capacity == 0) return -1;
    const ssize_t n = readlink("/proc/self/exe", buf, capacity - 1);
    if (n < 0) {
        buf[0] = '\0';
        return -1;
    }
    buf[n] = '\0';
    return 0;
}

PAL_EVENT PAL_CreateEvent(int manualReset) {
    auto* ev = new (std::nothrow) Event;
    if (ev) ev->manual = manualReset != 0;
    return ev;
}

int PAL_SetEvent(PAL_EVENT handle) {
    if (!handle) return -1;
    auto* ev = static_cast<Event*>(handle);
    {
        std::lock_guard<std::mutex> lk(ev->m);
        ev->set = true;
    }
    ev->cv.notify_all();
    return 0;
}

int PAL_WaitForSingleObject(PAL_EVENT handle, uint32_t ms) {
    if (!handle) return -1;
    auto* ev = static_cast<Event*>(handle);
    std::unique_lock<std::mutex> lk(ev->m);
    if (!ev->cv.wait_for(lk, std::chrono::milliseconds(ms), [ev] { return ev->set; })) return PAL_WAIT_TIMEOUT;
    if (!ev->manual) ev->set = false;
    return PAL_WAIT_OBJECT_0;
}

void PAL_CloseEvent(PAL_EVENT handle) { delete static_cast<Event*>(handle); }

PAL_TIME PAL_TimeNow() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int PAL_ExpTimeFromTimeLocal(PAL_TIME t, PAL_EXPTIME* out) {
    if (!out) return -1;
    const time_t secs = static_cast<time_t>(t / 1000000);
    struct tm tmv;
    if (!localtime_r(&secs, &tmv)) return -1;
    out->tm_usec = static_cast<int32_t>(t % 1000000);
    out->tm_sec = tmv.tm_sec;
    out->tm_min = tmv.tm_min;
    out->tm_hour = tmv.tm_hour;
    out->tm_mday = tmv.tm_mday;
    out->tm_mon = tmv.tm_mon;
    out->tm_year = tmv.tm_year;
    out->tm_wday = tmv.tm_wday;
    out->tm_yday = tmv.tm_yday;
    out->tm_isdst = tmv.tm_isdst;
    out->tm_gmtoff = static_cast<int32_t>(tmv.tm_gmtoff);
    return 0;
}

void PAL_AtomicSet(volatile int32_t* target, int32_t value) {
    if (target) __atomic_store_n(target, value, __ATOMIC_SEQ_CST);
}

int64_t PAL_Atoi64(const char* text) {
    if (!text) return 0;
    // Leading blanks, an optional sign, then digits; saturates instead of overflowing.
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' || *text == '\v') ++text;
    bool neg = false;
    if (*text == '+' || *text == '-') neg = *text++ == '-';
    int64_t v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const int d = *text - '0';
        if (v > (INT64_MAX - d) / 10) return neg ? INT64_MIN : INT64_MAX;
        v = v * 10 + d;
    }
    return neg ? -v : v;
}

int32_t PAL_Atoi32(const char* text) {
    const int64_t v = PAL_Atoi64(text);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

const char* PAL_Strstr(const char* text, const char* pattern) {
    if (!text || !pattern) return nullptr;
    return strstr(text, pattern);
}

const char* PAL_Strcasestr(const char* text, const char* pattern) {
    if (!text || !pattern) return nullptr;
    return strcasestr(text, pattern);
}

int PAL_Strcmp(const char* a, const char* b) { return strcmp(a ? a : "", b ? b : ""); }

char* PAL_Strcpy(char* dst, const char* src) { return strcpy(dst, src); }

void PAL_ZeroMemory(void* dst, size_t n) {
    if (dst && n) memset(dst, 0, n);
}

int PAL_Utf8ToLocal(const char* in, size_t len, std::string& out) {
    out.assign(in ? in : "", in ? len : 0);
    const char* cs = nl_langinfo(CODESET);
    if (!cs || !*cs || !strcasecmp(cs, "UTF-8") || !strcasecmp(cs, "utf8") || !strcmp(cs, "ANSI_X3.4-1968"))
        return 0;
    iconv_t cd = iconv_open(cs, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    std::string result(len * 4 + 16, '\0');
    char* src = const_cast<char*>(in);
    size_t srcLeft = len;
    char* dst = &result[0];
    size_t dstLeft = result.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return -1;  // keep the original bytes
    result.resize(result.size() - dstLeft);
    out.swap(result);
    return 0;
}
