// How full the command library is: the port status shows it and the log says when it changes.
#ifndef VEXA_SESSION_LOAD_H
#define VEXA_SESSION_LOAD_H

#include <cstdint>

namespace vexa {

struct SessionLoad {
    uint32_t sessions = 0;     // logged in plus waiting to log in
    uint32_t maxSessions = 0;  // 0: no cap
    bool full = false;         // at the cap, or connections refused in the last moments
};

// Reads the library's counters; logs "device sessions full" / "available again" on a change.
SessionLoad deviceSessionLoad();
// Forgets earlier refusals (the libraries start again).
void resetSessionLoad();

}  // namespace vexa

#endif
