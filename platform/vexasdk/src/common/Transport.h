// TCP transport shared by the access libraries: one I/O thread, listeners and framed links.
// Kept free of asio so that only Transport.cpp pays for its headers.
#ifndef VEXASDK_TRANSPORT_H
#define VEXASDK_TRANSPORT_H

#include <json/json.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vexasdk {

// Events of one accepted connection. Every call arrives on the I/O thread; after the link is
// closed (by either side) no further call is made.
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

// One framed connection. Use only on the I/O thread.
class Link {
public:
    virtual ~Link() = default;
    virtual void send(const Json::Value& msg) = 0;
    // An already encoded frame (length prefix included).
    virtual void sendRaw(std::string frame) = 0;
    // Flushes what is queued, then closes; no further handler calls.
    virtual void close() = 0;
    virtual bool isClosed() const = 0;
    // ms == 0 disarms. With resetOnFrame the timer restarts on every received frame.
    virtual void armTimer(uint64_t ms, bool resetOnFrame) = 0;
    virtual const std::string& peerAddress() const = 0;
    virtual uint16_t peerPort() const = 0;
    // Largest frame body taken from now on; an accepted link starts at the pre-login limit.
    virtual void setFrameLimit(uint32_t maxLen) = 0;
    // While paused no frame reaches the handler and the socket is not read (the peer's data
    // stays in the kernel); resuming delivers what was already buffered first, in order.
    virtual void pauseReading() = 0;
    virtual void resumeReading() = 0;
    // Runs fn once on the I/O thread after ms unless the link closed first; a new call replaces
    // the one still waiting.
    virtual void after(uint64_t ms, std::function<void()> fn) = 0;
};

// Called on the I/O thread for every accepted connection with the listener's id; a null result
// drops the connection.
using LinkFactory = std::function<std::shared_ptr<LinkHandler>(const std::shared_ptr<Link>&, int listenerId)>;

class Engine {
public:
    explicit Engine(const char* module);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool start();
    // Ends every link (onShutdown), closes every listener and joins the thread. Not from the I/O
    // thread.
    void stop();

    bool onIoThread() const;
    void post(std::function<void()> fn);
    // Runs fn on the I/O thread and waits for it (inline when already there).
    void runSync(const std::function<void()>& fn);

    // Returns a listener id (>= 0) or -1 with err set; boundPort receives the actual port.
    int listen(const std::string& ip, uint16_t port, LinkFactory factory, uint16_t& boundPort, std::string& err);
    // Closes the listener and ends every link it accepted (onShutdown). Returns false when unknown.
    bool closeListener(int id);
    uint16_t listenPort(int id) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace vexasdk

#endif
