// Process-wide table of live command sessions, shared by the two access libraries so that an
// alarm link is only taken from a device that is logged in. Touched at login, at the end of a
// session and at alarmHello, never per frame.
#ifndef VEXASDK_SESSION_DIRECTORY_H
#define VEXASDK_SESSION_DIRECTORY_H

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#if defined(_WIN32)
#define VEXASDK_SESSION_API
#else
#define VEXASDK_SESSION_API __attribute__((visibility("default")))
#endif

namespace vexasdk {

class VEXASDK_SESSION_API SessionDirectory {
public:
    enum class Verdict { Live, NoSession, OtherAddress };
    // Told (outside the directory's lock) that the session `token` of a device ended.
    using EndListener = void (*)(const std::string& deviceId, uint64_t token);

    static SessionDirectory& instance();

    // A command session of deviceId is live from peerAddress; an earlier one of the same device
    // ends. Returns the new session's token (never 0).
    uint64_t add(const std::string& deviceId, const std::string& peerAddress);
    // The session `token` ended; nothing happens when a newer session replaced it.
    void remove(const std::string& deviceId, uint64_t token);
    // Whether deviceId has a live session (from peerAddress unless anyAddress); token receives it.
    Verdict check(const std::string& deviceId, const std::string& peerAddress, bool anyAddress,
                  uint64_t& token) const;
    void setEndListener(EndListener fn);

private:
    SessionDirectory() = default;
    struct Entry {
        uint64_t token;
        std::string peer;
    };
    mutable std::mutex m_mu;
    std::unordered_map<std::string, Entry> m_live;
    uint64_t m_nextToken = 1;
    EndListener m_listener = nullptr;
};

}  // namespace vexasdk

#endif
