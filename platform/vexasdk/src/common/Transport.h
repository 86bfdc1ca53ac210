// TCP transport shared by the access libraries: a small pool of I/O threads, listeners and
// framed links.
// Kept free of asio so that only Transport.cpp pays for its headers.
#ifndef VEXASDK_TRANSPORT_H
#define VEXASDK_TRANSPORT_H

#include <json/json.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vexasdk {

// Events of one accepted connection. Calls arrive on the link's I/O thread (one thread of the
// pool owns each link), so the calls of one link never overlap; after the link is closed (by
// either side) no further call is made.
class LinkHandler {
public:
    virtual ~LinkHandler() = default;
    virtual void onFrame(Json::Value& msg) = 0;
    // The byte stream cannot be read any further; the handler should close the link.
    virtual void onBadFrame(const std::string& why) = 0;
    virtual void onTimer() = 0;
    virtual void onPeerClosed(const std::string& why) = 0;
    // The listener or the library is going away: end quietly (no user callbacks).
    virtual void onShutdown() = 0;
};

// One framed connection. Use only on the link's I/O thread, except write and post.
class Link {
public:
    virtual ~Link() = default;
    virtual void send(const Json::Value& msg) = 0;
    // An already encoded frame (length prefix included).
    virtual void sendRaw(std::string frame) = 0;
    // From any thread: an encoded frame, written at once when nothing is queued ahead of it;
    // the rest is finished by the I/O thread. Frames keep the order of the calls. False when
    // the link is closed (nothing sent).
    virtual bool write(std::string frame) = 0;
    // From any thread: runs fn on the link's I/O thread, serialized with the handler's calls
    // (also after the link closed).
    virtual void post(std::function<void()> fn) = 0;
    // Flushes what is queued, then closes; no further handler calls.
    virtual void close() = 0;
    virtual bool isClosed() const = 0;
    // ms == 0 disarms. With resetOnFrame the time counts from the last received frame. Checked
    // by a coarse sweep: fires up to kSweepMs late.
    virtual void armTimer(uint64_t ms, bool resetOnFrame) = 0;
    virtual const std::string& peerAddress() const = 0;
    virtual uint16_t peerPort() const = 0;
    // Largest frame body taken from now on; an accepted link starts at the pre-login limit.
    virtual void setFrameLimit(uint32_t maxLen) = 0;
    // While paused no frame reaches the handler and the socket is not read (the peer's data
    // stays in the kernel); resuming delivers what was already buffered first, in order.
    virtual void pauseReading() = 0;
    virtual void resumeReading() = 0;
    // Runs fn once on the link's I/O thread after ms unless the link closed first; a new call
    // replaces the one still waiting.
    virtual void after(uint64_t ms, std::function<void()> fn) = 0;
};

// Called on an I/O thread for every accepted connection with the listener's id; a null result
// drops the connection.
using LinkFactory = std::function<std::shared_ptr<LinkHandler>(const std::shared_ptr<Link>&, int listenerId)>;

// How often the pool looks for links whose time-out passed.
constexpr uint64_t kSweepMs = 100;

class Engine {
public:
    // threads: size of the I/O pool; 0 = one per core.
    explicit Engine(const char* module, unsigned threads = 0);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool start();
    // Ends every link (onShutdown), closes every listener and joins the threads. Not from an I/O
    // thread.
    void stop();

    // True on any thread of this engine's pool.
    bool onIoThread() const;
    // The module of the engine whose pool runs the calling thread, or null.
    static const char* currentModule();
    unsigned threads() const;
    void post(std::function<void()> fn);
    // Runs fn on an I/O thread and waits for it (inline when already on one).
    void runSync(const std::function<void()>& fn);

    // Returns a listener id (>= 0) or -1 with err set; boundPort receives the actual port.
    int listen(const std::string& ip, uint16_t port, LinkFactory factory, uint16_t& boundPort, std::string& err);
    // Closes the listener and ends every link it accepted (onShutdown); from outside the pool
    // it returns once they ended. Returns false when unknown.
    bool closeListener(int id);
    uint16_t listenPort(int id) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vexasdk

#endif
