// Values going into the access libraries' fixed-size records: bounded text copies and
// configuration numbers narrowed to the records' 32-bit fields.
#ifndef VEXA_BOUNDED_H
#define VEXA_BOUNDED_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/Log.h"
#include "palsafe.h"

namespace vexa {

// Negative -> 0, above the 32-bit range -> its top.
inline uint32_t clampU32(int64_t v) {
    if (v < 0) return 0;
    return v > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

// Copies at most maxChars of src into dst[cap]; a refused copy is recorded under func.
inline void copyField(char* dst, size_t cap, const std::string& src, size_t maxChars, const char* func) {
    if (const int err = PAL_Strncpy_s(dst, cap, src.c_str(), maxChars))
        __pal_safec_error_handle(VEXA_SAFEC_SRC, __LINE__, func, "PAL_STRNCPY_S", err);
}

}  // namespace vexa

#endif
