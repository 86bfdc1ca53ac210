#include "runlog.h"

#include <sys/time.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

struct Logger {
    std::mutex mutex;
    FILE* out = stderr;
    bool ownsFile = false;
    std::atomic<int> level{4};
    std::atomic<int> sinkLevel{100};
    RunLogSink sink = nullptr;
    void* sinkUser = nullptr;

    Logger() {
        if (const char* lv = getenv("VEXA_LOG_LEVEL")) level = atoi(lv);
        if (const char* path = getenv("VEXA_LOG_FILE")) {
            if (*path) {
                if (FILE* f = fopen(path, "ae")) {  // close-on-exec
                    out = f;
                    ownsFile = true;
                }
            }
        }
    }
    ~Logger() {
        if (ownsFile) fclose(out);
    }
};

Logger& logger() {
    static Logger* l = new Logger;  // never destroyed: threads may log during static teardown
    return *l;
}

}  // namespace

extern "C" int RunLog_Enabled(int level) {
    Logger& l = logger();
    return level >= l.level.load(std::memory_order_relaxed) || level >= l.sinkLevel.load(std::memory_order_relaxed);
}

extern "C" void RunLog_SetLevel(int level) { logger().level = level; }
extern "C" int RunLog_GetLevel(void) { return logger().level; }

extern "C" void RunLog_SetSink(RunLogSink sink, void* user, int level) {
    Logger& l = logger();
    std::lock_guard<std::mutex> lk(l.mutex);
    l.sink = sink;
    l.sinkUser = user;
    l.sinkLevel = sink ? level : 100;
}

extern "C" void RunLog_Write(int level, const char* module, const char* fmt, ...) {
    if (!fmt || !RunLog_Enabled(level)) return;
    char text[4096];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);

    Logger& l = logger();
    std::lock_guard<std::mutex> lk(l.mutex);
    if (l.sink && level >= l.sinkLevel.load(std::memory_order_relaxed)) l.sink(level, module ? module : "", text, l.sinkUser);
    if (level < l.level.load(std::memory_order_relaxed)) return;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tmv;
    localtime_r(&tv.tv_sec, &tmv);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tmv);
    fprintf(l.out, "%s.%03ld [%d] [%s] %s\n", stamp, static_cast<long>(tv.tv_usec / 1000), level,
            module ? module : "", text);
    fflush(l.out);
}
