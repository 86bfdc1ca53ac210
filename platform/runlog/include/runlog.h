// Formatted log (stand-in). Levels: 2 detail, 3 information, 4 warning, 5 error, 6 critical.
// Lines go to the file named by VEXA_LOG_FILE, else to stderr; VEXA_LOG_LEVEL sets the lowest
// level written (default 4).
#ifndef RUNLOG_H
#define RUNLOG_H

#ifdef __cplusplus
extern "C" {
#endif

void RunLog_Write(int level, const char* module, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int RunLog_Enabled(int level);
void RunLog_SetLevel(int level);
int RunLog_GetLevel(void);

// Optional extra sink that receives every line at or above the level (tests use it to watch
// for log lines). Pass null to remove.
typedef void (*RunLogSink)(int level, const char* module, const char* text, void* user);
void RunLog_SetSink(RunLogSink sink, void* user, int level);

#ifdef __cplusplus
}
#endif

#endif
