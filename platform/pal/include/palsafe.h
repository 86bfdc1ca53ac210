// Bounded copies (stand-in). Every function returns 0 on success and an error number otherwise;
// callers report failures through __pal_safec_error_handle.
#ifndef PALSAFE_H
#define PALSAFE_H

#include <cstddef>

#define PALSAFE_EINVAL 22
#define PALSAFE_ERANGE 34
#define PALSAFE_ETRUNC 406

int PAL_Memcpy_s(void* dst, size_t capacity, const void* src, size_t count);
// Copies at most maxChars characters and always terminates dst (when capacity > 0). Returns
// PALSAFE_ETRUNC when the source was cut to fit.
int PAL_Strncpy_s(char* dst, size_t capacity, const char* src, size_t maxChars);
int PAL_Memset_s(void* dst, size_t capacity, int value, size_t count);
// Returns the length written, or a negative value when the text does not fit (dst is then "").
int PAL_Sprintf_s(char* dst, size_t capacity, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
int PAL_Sscanf_s(const char* src, const char* fmt, ...) __attribute__((format(scanf, 2, 3)));
// Non-negative when fmt holds exactly expected conversions.
int checkArgs(const char* fmt, int expected);

void __pal_safec_error_handle(const char* file, int line, const char* func, const char* op, int err);
// Number of failures recorded so far (for tests and diagnostics).
unsigned long palsafe_error_count();

#endif
