#include "MediaSender.h"

#include "runlog.h"

#include <algorithm>
#include <cstring>

namespace devsim {

namespace {
constexpr const char* kMod = "devsim";
constexpr uint64_t kPacketBits = kTsPacketSize * 8;
constexpr size_t kMaxTcpBatch = 512;  // packets in one TCP write
constexpr auto kMinPeriod = std::chrono::milliseconds(5);
using SteadyClock = std::chrono::steady_clock;
}  // namespace

const char* streamStateName(StreamState s) {
    switch (s) {
        case StreamState::Connecting: return "connecting";
        case StreamState::Running: return "running";
        case StreamState::Paused: return "paused";
        case StreamState::Stopped: return "stopped";
    }
    return "?";
}

// ---------------------------------------------------------------------------------------------
// MediaSender

MediaSender::MediaSender(asio::io_context& io, std::shared_ptr<void> keep, Params p, std::shared_ptr<StreamRecord> rec,
                         std::function<void()> ended)
    : m_keep(std::move(keep)),
      m_strand(asio::make_strand(io)),
      m_tcp(m_strand),
      m_udp(m_strand),
      m_timer(m_strand),
      m_connectTimer(m_strand),
      m_p(std::move(p)),
      m_rec(std::move(rec)),
      m_ended(std::move(ended)) {
    if (m_p.bitRate == 0) m_p.bitRate = 1;
    if (m_p.perWrite == 0) m_p.perWrite = 1;
    {
        std::lock_guard<std::mutex> lk(m_rec->mx);
        m_pid = m_rec->info.pid;
    }
    const auto unit = std::chrono::duration<double>(static_cast<double>(m_p.perWrite * kPacketBits) /
                                                    static_cast<double>(m_p.bitRate));
    m_period = std::max<SteadyClock::duration>(std::chrono::duration_cast<SteadyClock::duration>(unit), kMinPeriod);
}

void MediaSender::start(Ready ready) {
    auto self = shared_from_this();
    asio::post(m_strand, [self, ready = std::move(ready)]() mutable {
        if (self->m_state != StreamState::Connecting) {
            ready(mediaError::connectFailed);
            return;
        }
        self->m_ready = std::move(ready);
        const bool v6 = self->m_p.addr.is_v6();
        asio::error_code ec;
        if (self->m_p.udp) {
            self->m_udp.open(v6 ? asio::ip::udp::v6() : asio::ip::udp::v4(), ec);
            if (!ec) self->m_udp.non_blocking(true, ec);
            self->connected(ec);
            return;
        }
        self->m_connectTimer.expires_after(self->m_p.connectTimeout);
        self->m_connectTimer.async_wait([self](asio::error_code tec) {
            if (tec || self->m_state != StreamState::Connecting) return;
            asio::error_code ig;
            self->m_tcp.close(ig);
            self->finish("connect: timed out");
        });
        self->m_tcp.async_connect(asio::ip::tcp::endpoint(self->m_p.addr, self->m_p.port),
                                  [self](asio::error_code cec) { self->connected(cec); });
    });
}

void MediaSender::connected(const asio::error_code& ec) {
    if (m_state != StreamState::Connecting) return;
    m_connectTimer.cancel();
    if (ec) {
        finish("connect: " + ec.message());
        return;
    }
    if (!m_p.udp) {
        asio::error_code ig;
        m_tcp.set_option(asio::ip::tcp::no_delay(true), ig);
        watchPeer();
    }
    m_state = StreamState::Running;
    update([](StreamInfo& i) {
        i.state = StreamState::Running;
        i.answerError = mediaError::ok;
    });
    Ready r = std::move(m_ready);
    m_ready = nullptr;
    if (r) r(mediaError::ok);
    startTicks();
}

void MediaSender::watchPeer() {
    auto self = shared_from_this();
    m_tcp.async_read_some(asio::buffer(m_sink), [self](asio::error_code ec, size_t) {
        if (self->m_state == StreamState::Stopped || ec == asio::error::operation_aborted) return;
        if (ec) {
            self->finish(ec == asio::error::eof ? std::string("peer closed") : "read: " + ec.message());
            return;
        }
        self->watchPeer();  // whatever the sink says is ignored
    });
}

void MediaSender::startTicks() {
    m_base = SteadyClock::now();
    m_sentSinceBase = 0;
    m_next = m_base;
    tick();
}

uint64_t MediaSender::duePackets() const {
    const double elapsed = std::chrono::duration<double>(SteadyClock::now() - m_base).count();
    const double due = elapsed * static_cast<double>(m_p.bitRate) / static_cast<double>(kPacketBits);
    return due > 0 ? static_cast<uint64_t>(due) : 0;
}

void MediaSender::tick() {
    if (m_state != StreamState::Running) return;
    const uint64_t total = duePackets();
    uint64_t due = total > m_sentSinceBase ? total - m_sentSinceBase : 0;
    // A socket that backs up does not build a backlog: packets not sent in time are never made,
    // so the counter runs on without a gap.
    const double perPeriod = std::chrono::duration<double>(m_period).count() * static_cast<double>(m_p.bitRate) /
                             static_cast<double>(kPacketBits);
    const uint64_t cap = std::max<uint64_t>(m_p.perWrite * 4, static_cast<uint64_t>(perPeriod * 4) + 1);
    if (due > cap) {
        m_sentSinceBase += due - m_p.perWrite;
        due = m_p.perWrite;
    }
    if (m_p.udp) {
        sendUdp(due);
    } else if (m_writing) {
        if (due > 0) update([](StreamInfo& i) { i.backedUp++; });
    } else if (due > 0) {
        writeTcp();
    }
    if (m_state != StreamState::Running) return;
    const auto now = SteadyClock::now();
    m_next += m_period;
    if (m_next < now) m_next = now + m_period;
    m_timer.expires_at(m_next);
    auto self = shared_from_this();
    m_timer.async_wait([self](asio::error_code ec) {
        if (!ec) self->tick();
    });
}

void MediaSender::fill(size_t packets, std::string& out) {
    out.resize(packets * kTsPacketSize);
    for (size_t k = 0; k < packets; ++k) {
        auto* p = reinterpret_cast<unsigned char*>(&out[k * kTsPacketSize]);
        p[0] = 0x47;
        p[1] = static_cast<unsigned char>((m_first ? 0x40 : 0x00) | ((m_pid >> 8) & 0x1F));
        p[2] = static_cast<unsigned char>(m_pid & 0xFF);
        p[3] = static_cast<unsigned char>(0x10 | (m_cc & 0x0F));  // payload only
        std::memset(p + 4, 0xFF, kTsPacketSize - 4);
        m_first = false;
        m_cc = (m_cc + 1) & 0x0F;
    }
}

void MediaSender::writeTcp() {
    const uint64_t total = duePackets();
    uint64_t due = total > m_sentSinceBase ? total - m_sentSinceBase : 0;
    if (due == 0) return;
    size_t n = m_p.perWrite == 1 ? 1 : static_cast<size_t>(std::min<uint64_t>(due, kMaxTcpBatch));
    if (m_p.totalBytes > 0) {
        const uint64_t left = (m_p.totalBytes - std::min(m_sentBytes, m_p.totalBytes) + kTsPacketSize - 1) / kTsPacketSize;
        n = static_cast<size_t>(std::min<uint64_t>(n, left));
        if (n == 0) return;
    }
    fill(n, m_out);
    m_sentSinceBase += n;
    m_writing = true;
    auto self = shared_from_this();
    asio::async_write(m_tcp, asio::buffer(m_out), [self, n](asio::error_code ec, size_t wrote) {
        self->m_writing = false;
        if (self->m_state == StreamState::Stopped) return;
        if (ec) {
            self->finish("write: " + ec.message());
            return;
        }
        self->m_sentBytes += wrote;
        self->update([&](StreamInfo& i) {
            i.bytes += wrote;
            i.packets += n;
            i.datagrams++;
        });
        if (self->m_p.totalBytes > 0 && self->m_sentBytes >= self->m_p.totalBytes) {
            asio::error_code ig;
            self->m_tcp.shutdown(asio::ip::tcp::socket::shutdown_send, ig);
            self->finish("end of recording");
            return;
        }
        if (self->m_state == StreamState::Running && self->m_p.perWrite == 1) self->writeTcp();
    });
}

void MediaSender::sendUdp(uint64_t due) {
    const asio::ip::udp::endpoint to(m_p.addr, m_p.port);
    while (due >= m_p.perWrite && m_state == StreamState::Running) {
        // The counter only moves for packets that left, so a full buffer leaves no gap.
        const unsigned saveCc = m_cc;
        const bool saveFirst = m_first;
        fill(m_p.perWrite, m_out);
        asio::error_code ec;
        const size_t sent = m_udp.send_to(asio::buffer(m_out), to, 0, ec);
        if (ec) {
            m_cc = saveCc;
            m_first = saveFirst;
            if (ec == asio::error::would_block || ec == asio::error::try_again || ec == asio::error::no_buffer_space ||
                ec == asio::error::connection_refused) {
                update([](StreamInfo& i) { i.backedUp++; });
                m_sentSinceBase += due;  // skip this tick's share
                return;
            }
            finish("send: " + ec.message());
            return;
        }
        due -= m_p.perWrite;
        m_sentSinceBase += m_p.perWrite;
        m_sentBytes += sent;
        update([&](StreamInfo& i) {
            i.bytes += sent;
            i.packets += m_p.perWrite;
            i.datagrams++;
        });
        if (m_p.totalBytes > 0 && m_sentBytes >= m_p.totalBytes) {
            finish("end of recording");
            return;
        }
    }
}

void MediaSender::stop(const std::string& why, std::function<void()> done) {
    auto self = shared_from_this();
    asio::post(m_strand, [self, why, done = std::move(done)] {
        self->finish(why);
        if (done) done();
    });
}

void MediaSender::operate(bool pause, Ready done) {
    auto self = shared_from_this();
    asio::post(m_strand, [self, pause, done = std::move(done)] {
        const StreamState s = self->m_state;
        if (s == StreamState::Stopped) {
            done(mediaError::unknownSession);
            return;
        }
        if (s == StreamState::Connecting) {
            done(mediaError::badRequest);
            return;
        }
        if (pause && s == StreamState::Running) {
            self->m_state = StreamState::Paused;
            self->m_timer.cancel();
            self->update([](StreamInfo& i) {
                i.state = StreamState::Paused;
                i.pauses++;
            });
        } else if (!pause && s == StreamState::Paused) {
            self->m_state = StreamState::Running;
            self->update([](StreamInfo& i) {
                i.state = StreamState::Running;
                i.resumes++;
            });
            self->startTicks();
        }
        done(mediaError::ok);
    });
}

void MediaSender::finish(const std::string& why) {
    if (m_state == StreamState::Stopped) return;
    const bool wasConnecting = m_state == StreamState::Connecting;
    m_state = StreamState::Stopped;
    asio::error_code ig;
    m_timer.cancel();
    m_connectTimer.cancel();
    m_tcp.close(ig);
    m_udp.close(ig);
    update([&](StreamInfo& i) {
        i.state = StreamState::Stopped;
        i.endReason = why;
        if (wasConnecting) i.answerError = mediaError::connectFailed;
    });
    if (wasConnecting)
        RunLog_Write(3, kMod, "media stream to %.64s:%u not set up: %.200s", m_p.addr.to_string().c_str(),
                     static_cast<unsigned>(m_p.port), why.c_str());
    Ready r = std::move(m_ready);
    m_ready = nullptr;
    if (r) r(mediaError::connectFailed);
    std::function<void()> e = std::move(m_ended);
    m_ended = nullptr;
    if (e) e();
}

}  // namespace devsim
