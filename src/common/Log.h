// Log helpers: the module prefixes of this plug-in's lines.
//   VEXA_DEV: "[<function>(<line>)] ..."     REG: "<<line>>\t<<function>>,..."
#ifndef VEXA_LOG_H
#define VEXA_LOG_H

#include "runlog.h"

#define LOG_DEV(level, func, fmt, ...) \
    RunLog_Write((level), "VEXA_DEV", "[%s(%d)] " fmt, (func), __LINE__, ##__VA_ARGS__)
#define LOG_REG(level, func, fmt, ...) \
    RunLog_Write((level), "REG", "<%d>\t<%s>," fmt, __LINE__, (func), ##__VA_ARGS__)
#define LOG_MOD(level, module, func, fmt, ...) \
    RunLog_Write((level), (module), "[%s(%d)] " fmt, (func), __LINE__, ##__VA_ARGS__)

// Bounded-copy failures are recorded with this source name.
#define VEXA_SAFEC_SRC "..\\..\\src\\VexaDeviceMgr"

#endif
