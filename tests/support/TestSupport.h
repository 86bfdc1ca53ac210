// Shared test helpers.
#ifndef VEXA_TEST_SUPPORT_H
#define VEXA_TEST_SUPPORT_H

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vtest {

// Collects log lines while alive.
class LogCapture {
public:
    explicit LogCapture(int level = 2);
    ~LogCapture();
    std::vector<std::string> lines() const;
    bool contains(const std::string& needle) const { return count(needle) > 0; }
    size_t count(const std::string& needle) const;
    void clear();

private:
    static void sink(int level, const char* module, const char* text, void* user);
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

// Threads of this process right now.
int threadCount();
// Open file descriptors of this process right now.
int openFdCount();
// Resident memory of this process right now, KiB (-1 if unknown).
long residentKiB();
// Polls cond every 5 ms until it holds or the time runs out.
bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit = std::chrono::seconds(10));
// A blocking connection to 127.0.0.1:port from a chosen loopback source address; -1 on failure.
int dial(uint16_t port, const char* from = "127.0.0.1");
// True when a TCP connection to 127.0.0.1:port is accepted.
bool canConnect(uint16_t port);
// A fresh empty directory; the process changes into it (for the configuration file).
std::string enterTempDir();
void writeFile(const std::string& path, const std::string& text);
// s written n times; depth elements nested in each other.
inline std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}
inline std::string nested(int depth, const std::string& tag = "e") {
    return repeat("<" + tag + ">", depth) + repeat("</" + tag + ">", depth);
}

// Sets the machine's zone (TZ) while alive and puts the previous one back.
class TzScope {
public:
    explicit TzScope(const char* tz) : m_had(getenv("TZ") != nullptr), m_old(m_had ? getenv("TZ") : "") { set(tz); }
    ~TzScope() { m_had ? set(m_old.c_str()) : (void)(unsetenv("TZ"), tzset()); }

private:
    static void set(const char* tz) { setenv("TZ", tz, 1), tzset(); }
    bool m_had;
    std::string m_old;
};

}  // namespace vtest

#endif
