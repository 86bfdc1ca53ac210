// One synthetic transport stream from a simulated device to a media server, paced by a timer on
// the simulator's I/O context. Every operation runs on the stream's own strand; the observable
// record is shared with the equipment model under its own lock.
#ifndef DEVSIM_MEDIA_SENDER_H
#define DEVSIM_MEDIA_SENDER_H

// A standard header first: asio picks its allocator from what the standard library defines,
// and every file must pick the same one.
#include <cstddef>
#include <memory>

#include <asio.hpp>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devsim/MediaStream.h"

namespace devsim {

struct StreamRecord {
    mutable std::mutex mx;
    StreamInfo info;
};

class MediaSender : public std::enable_shared_from_this<MediaSender> {
public:
    struct Params {
        asio::ip::address addr;
        uint16_t port = 0;
        bool udp = false;
        uint64_t bitRate = 2000000;  // bits per second
        unsigned perWrite = 7;       // packets per datagram (UDP); 1: one packet per write
        uint64_t totalBytes = 0;     // > 0: the stream ends after this many bytes
        std::chrono::milliseconds connectTimeout{5000};
    };
    using Ready = std::function<void(int error)>;

    // `keep` keeps the I/O context alive while this object lives; `ended` runs once when the
    // stream stops for any reason.
    MediaSender(asio::io_context& io, std::shared_ptr<void> keep, Params p, std::shared_ptr<StreamRecord> rec,
                std::function<void()> ended);

    // Connects (TCP) or opens (UDP); `ready` gets 0 once bytes can flow, connectFailed otherwise.
    void start(Ready ready);
    void stop(const std::string& why, std::function<void()> done = nullptr);
    // Pause or resume; `done` gets 0, or unknownSession when the stream has already stopped.
    void operate(bool pause, Ready done);

private:
    void connected(const asio::error_code& ec);
    void startTicks();
    void tick();
    void fill(size_t packets, std::string& out);
    void writeTcp();
    void sendUdp(uint64_t due);
    void watchPeer();
    void finish(const std::string& why);
    uint64_t duePackets() const;
    template <class F>
    void update(F f) {
        std::lock_guard<std::mutex> lk(m_rec->mx);
        f(m_rec->info);
    }

    std::shared_ptr<void> m_keep;  // first member: the context outlives every socket below
    asio::strand<asio::io_context::executor_type> m_strand;
    asio::ip::tcp::socket m_tcp;
    asio::ip::udp::socket m_udp;
    asio::steady_timer m_timer;
    asio::steady_timer m_connectTimer;
    Params m_p;
    std::shared_ptr<StreamRecord> m_rec;
    std::function<void()> m_ended;
    Ready m_ready;

    StreamState m_state = StreamState::Connecting;
    uint16_t m_pid = 0;
    unsigned m_cc = 0;
    bool m_first = true;
    bool m_writing = false;
    std::string m_out;
    std::array<char, 512> m_sink{};
    uint64_t m_sentBytes = 0;
    std::chrono::steady_clock::time_point m_base{};
    uint64_t m_sentSinceBase = 0;
    std::chrono::steady_clock::duration m_period{};
    std::chrono::steady_clock::time_point m_next{};
};

}  // namespace devsim

#endif
