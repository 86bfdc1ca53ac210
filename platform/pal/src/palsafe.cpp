#include "palsafe.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "runlog.h"

namespace {
std::atomic<unsigned long> g_errors{0};
}

int PAL_Memcpy_s(void* dst, size_t capacity, const void* src, size_t count) {
    if (!dst || (!src && count)) return PALSAFE_EINVAL;
    if (count > capacity) return PALSAFE_ERANGE;
    if (count) memmove(dst, src, count);
    return 0;
}

int PAL_Strncpy_s(char* dst, size_t capacity, const char* src, size_t maxChars) {
    if (!dst || capacity == 0) return PALSAFE_EINVAL;
    if (!src) {
        dst[0] = '\0';
        return PALSAFE_EINVAL;
    }
    size_t n = 0;
    const size_t limit = maxChars < capacity - 1 ? maxChars : capacity - 1;
    while (n < limit && src[n]) ++n;
    memcpy(dst, src, n);
    dst[n] = '\0';
    // Cut short by the capacity (not by maxChars): report it, the copy stays terminated.
    if (src[n] && n < maxChars) return PALSAFE_ETRUNC;
    return 0;
}

int PAL_Memset_s(void* dst, size_t capacity, int value, size_t count) {
    if (!dst) return PALSAFE_EINVAL;
    if (count > capacity) return PALSAFE_ERANGE;
    memset(dst, value, count);
    return 0;
}

int PAL_Sprintf_s(char* dst, size_t capacity, const char* fmt, ...) {
    if (!dst || capacity == 0 || !fmt) return -1;
    va_list ap;
    va_start(ap, fmt);
    const int n = vsnprintf(dst, capacity, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        dst[0] = '\0';
        return -1;
    }
    return n;
}

int PAL_Sscanf_s(const char* src, const char* fmt, ...) {
    if (!src || !fmt) return -1;
    va_list ap;
    va_start(ap, fmt);
    const int n = vsscanf(src, fmt, ap);
    va_end(ap);
    return n;
}

int checkArgs(const char* fmt, int expected) {
    if (!fmt || expected < 0) return -1;
    int count = 0;
    for (const char* p = fmt; *p; ++p) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        ++count;
    }
    return count == expected ? count : -1;
}

void __pal_safec_error_handle(const char* file, int line, const char* func, const char* op, int err) {
    g_errors.fetch_add(1, std::memory_order_relaxed);
    RunLog_Write(4, "palsafe", "%s(%d) %s: %s failed [%d]", file ? file : "", line, func ? func : "", op ? op : "",
                 err);
}

unsigned long palsafe_error_count() { return g_errors.load(std::memory_order_relaxed); }
