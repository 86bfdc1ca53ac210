// A media server stand-in for the host: listens on one address and port for TCP connections and
// UDP datagrams carrying 188-byte transport-stream packets, and counts what arrives per stream.
// A stream is one TCP connection, or one (peer address, peer port, packet identifier) over UDP.
// One I/O thread of its own; every other member may be called from any thread.
#ifndef GWHOST_MEDIA_SINK_H
#define GWHOST_MEDIA_SINK_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gwhost {

struct StreamStats {
    using Clock = std::chrono::steady_clock;

    uint64_t id = 0;         // 1, 2, ... in the order the streams appeared
    bool tcp = true;         // false: UDP
    std::string peer;        // "address:port" of the sender
    int pid = -1;            // packet identifier of the last good packet; -1 before the first
    uint64_t bytes = 0;      // everything received, packets or not
    uint64_t packets = 0;    // packets that began with the sync byte
    uint64_t syncErrors = 0;        // packet positions that did not hold the sync byte
    uint64_t continuityErrors = 0;  // counter not previous + 1 (mod 16) for the same identifier
    uint64_t skippedBytes = 0;      // TCP: bytes passed over while looking for the sync byte again
    uint64_t truncatedBytes = 0;    // TCP: a partial packet left when the connection ended
    bool ended = false;             // TCP closed, UDP idle past the idle limit, or sink stopped
    Clock::time_point firstPacket{};  // both unset (epoch) while packets == 0
    Clock::time_point lastPacket{};

    // Seconds between the first and the last packet (0 with fewer than two).
    double seconds() const;
};

struct SinkTotals {
    uint64_t streams = 0;  // streams seen since start
    uint64_t live = 0;     // streams not ended
    uint64_t bytes = 0;
    uint64_t packets = 0;
    uint64_t syncErrors = 0;
    uint64_t continuityErrors = 0;
    uint64_t refusedConnections = 0;  // TCP connections closed at once: stream limit reached
    uint64_t droppedDatagrams = 0;    // UDP datagrams for a new stream past the limit
};

struct SinkOptions {
    size_t maxStreams = 1024;                          // live streams; ended ones kept as many again
    std::chrono::milliseconds udpIdle{3000};           // a UDP stream ends after this long silent
    size_t tcpReadSize = 16384;                        // per connection, reused for every read
};

class MediaSink {
public:
    explicit MediaSink(SinkOptions options = SinkOptions());
    ~MediaSink();
    MediaSink(const MediaSink&) = delete;
    MediaSink& operator=(const MediaSink&) = delete;

    // Binds TCP and UDP on `address` ("127.0.0.1", "::1", "0.0.0.0") and `port`; port 0 picks
    // one free for both. False with a reason when the sink runs already or a bind fails.
    bool start(const std::string& address, uint16_t port, std::string* why = nullptr);
    // The port listened on; 0 while stopped.
    uint16_t port() const;
    // Closes everything and ends the live streams (the end handler sees each). Idempotent.
    void stop();

    // Called once per stream when it ends, on the sink's thread (or on the thread calling stop).
    // Set it before start; it must not call back into stop().
    void onStreamEnd(std::function<void(const StreamStats&)> handler);

    // Every stream known, live and ended, in id order.
    std::vector<StreamStats> snapshot() const;
    std::optional<StreamStats> stream(uint64_t id) const;
    SinkTotals totals() const;
    // Highest stream id given out so far (0: none); streams after a mark have higher ids.
    uint64_t lastStreamId() const;

    // Waits until a stream with an id above `afterId` has at least `minBytes`; that stream, or
    // nothing at the time-out or at stop.
    std::optional<StreamStats> waitStream(uint64_t minBytes, std::chrono::milliseconds timeout,
                                          uint64_t afterId = 0);
    // Waits until stream `id` has at least `minBytes`. False at the time-out or at stop.
    bool waitBytes(uint64_t id, uint64_t minBytes, std::chrono::milliseconds timeout);
    // Waits until no byte has arrived for `quiet` (on stream `id`, or any stream for 0). False
    // when bytes still arrive at the time-out.
    bool waitQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout, uint64_t id = 0);
    // True when no byte arrives during the next `window` (on stream `id`, or any for 0); returns
    // false as soon as one does.
    bool noMoreBytes(std::chrono::milliseconds window, uint64_t id = 0);

private:
    struct Impl;
    std::shared_ptr<Impl> m_impl;
};

}  // namespace gwhost

#endif
