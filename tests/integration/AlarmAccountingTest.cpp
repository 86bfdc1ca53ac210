// Alarm accounting under a slow host: a device floods its alarm link as fast as the socket
// takes it while the host's event callback sleeps 1 ms per event. Every alarm the gateway
// acknowledges must reach the host exactly once; model-command alarms in the same flood may be
// dropped, but drops + deliveries = alarms sent, and the log says how many were dropped.
//
// VEXA_LOAD_FULL=1 runs the full sizes (60,000 alarms) and prints the figures.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "alarm/AlarmMsgMgr.h"
#include "GatewayFixture.h"
#include "TestSupport.h"
#include "WireFrame.h"
#include "devsim/AlarmTexts.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

bool fullSize() {
    const char* v = getenv("VEXA_LOAD_FULL");
    return v && *v && *v != '0';
}

long rssKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return atol(line.c_str() + 6);
    return -1;
}

// A device's alarm link written by hand: blocking writes, so the device pushes exactly as fast
// as the gateway reads; a reader thread records every alarmAck.
class RawAlarmLink {
public:
    RawAlarmLink(uint16_t port, const std::string& deviceId) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
        Json::Value hello;
        hello["type"] = "alarmHello";
        hello["deviceId"] = deviceId;
        hello["protocolVersion"] = 2;
        writeAll(vexawire::encodeFrame(hello));
        m_reader = std::thread([this] { readLoop(); });
    }
    ~RawAlarmLink() {
        shutdown(m_fd, SHUT_RDWR);  // unblocks both threads
        if (m_writer.joinable()) m_writer.join();
        if (m_reader.joinable()) m_reader.join();
        close(m_fd);
    }
    bool waitReady() {
        return vtest::waitUntil([&] { return m_ready.load() != 0; }, seconds(10)) && m_ready.load() == 1;
    }
    // Alarm i (seq i + 1) carries a time of its own, so each host event names its alarm.
    void flood(int n, int64_t firstTime, const std::string& deviceId) {
        m_writer = std::thread([=] {
            for (int i = 0; i < n; ++i) {
                devsim::ApiAlarm a;
                a.deviceId = deviceId;
                a.time = firstTime + i;
                Json::Value f;
                f["type"] = "alarm";
                f["seq"] = i + 1;
                f["alarmType"] = 2;
                f["dataType"] = 2;
                f["payload"] = devsim::apiAlarmJson(a);
                if (!writeAll(vexawire::encodeFrame(f))) return;
                m_sent++;
            }
        });
    }
    std::vector<uint32_t> acks() {
        std::lock_guard<std::mutex> lk(m_lock);
        return m_acks;
    }
    size_t ackCount() {
        std::lock_guard<std::mutex> lk(m_lock);
        return m_acks.size();
    }
    std::atomic<int> m_sent{0};

private:
    bool writeAll(const std::string& b) {
        for (size_t off = 0; off < b.size();) {
            const ssize_t w = send(m_fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
            if (w <= 0) return false;
            off += static_cast<size_t>(w);
        }
        return true;
    }
    void readLoop() {
        vexawire::FrameDecoder dec;
        char buf[8192];
        for (;;) {
            const ssize_t r = read(m_fd, buf, sizeof buf);
            if (r <= 0) break;
            dec.feed(buf, static_cast<size_t>(r));
            Json::Value f;
            std::string why;
            vexawire::FrameDecoder::Result res;
            while ((res = dec.next(f, why)) == vexawire::FrameDecoder::Result::Frame) {
                const std::string type = vexawire::getString(f, "type");
                if (type == "alarmHelloAck") m_ready = 1;
                if (type == "refused") m_ready = 2;
                if (type == "alarmAck") {
                    std::lock_guard<std::mutex> lk(m_lock);
                    m_acks.push_back(vexawire::getU32(f, "seq"));
                }
            }
            if (res == vexawire::FrameDecoder::Result::Error) break;
        }
        if (!m_ready) m_ready = 2;
    }

    int m_fd = -1;
    std::atomic<int> m_ready{0};
    std::thread m_reader, m_writer;
    std::mutex m_lock;
    std::vector<uint32_t> m_acks;
};

struct Sizes {
    int queue, linkAlarms, modelAlarms;
};

class AlarmAccounting : public vtest::GatewayFixture {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        rssBefore = rssKiB();
        GatewayFixture::SetUp();
    }
    // A small queue, so the full-queue pause really happens.
    std::string configXml() const override {
        return "<config><req_timeout>3</req_timeout><HeartbeatEnable>1</HeartbeatEnable><hb_time>30</hb_time>"
               "<hb_fail>3</hb_fail><AlarmQueueSize>" + std::to_string(sizes.queue) + "</AlarmQueueSize></config>";
    }
    static void VEXA_CALL onEvent(void*, const void*, const void* event, uint32_t, void* user) {
        std::this_thread::sleep_for(milliseconds(1));  // the slow host
        auto* self = static_cast<AlarmAccounting*>(user);
        const auto* info = static_cast<const AlarmEventInfo*>(event);
        std::lock_guard<std::mutex> lk(self->m_lock);
        self->m_events.push_back(std::to_string(info->dwEventCode) + "|" +
                                 std::string(info->szTime, strnlen(info->szTime, sizeof info->szTime)));
        self->m_count++;
    }
    devsim::DevicePtr online(const std::string& id) {
        auto host = addHostDevice("DeviceId=" + id + ";DeviceKey=k;DevProtocol=VEXA;AllowDirectConn=1;"
                                  "AlarmActiveStatus=active;");
        host.event->SetEventCallBackImpl(host.handle, &AlarmAccounting::onEvent, this);
        auto dev = sim->addDevice(deviceConfig(id, "k"));
        dev->start();
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        // A device opens its alarm link once it holds the loginAck (the host may hear first).
        EXPECT_TRUE(dev->waitFor(devsim::State::LoggedIn, seconds(10))) << id;
        return dev;
    }
    // Watches the queue depth and memory until done; gives up once nothing moved for 15 s.
    void sampleQueue(const std::function<bool()>& done, const std::function<size_t()>& progress) {
        size_t last = progress();
        auto moved = std::chrono::steady_clock::now();
        vtest::waitUntil([&] {
            maxQueued = std::max(maxQueued, CAlarmMsgMgr::instance()->queued());
            peakRss = std::max(peakRss, rssKiB());
            const size_t p = progress();
            if (p != last) last = p, moved = std::chrono::steady_clock::now();
            return done() || std::chrono::steady_clock::now() - moved > seconds(15);
        }, std::chrono::hours(1));
    }
    // Drops as the log tells them: the sum over the queue's end-of-burst lines.
    static uint64_t loggedDrops(const vtest::LogCapture& log) {
        static const std::regex burst("([0-9]+) alarms dropped in it");
        uint64_t sum = 0;
        std::smatch m;
        for (const std::string& l : log.lines())
            if (l.find("CAlarmMsgMgr") != std::string::npos && std::regex_search(l, m, burst))
                sum += std::stoull(m[1]);
        return sum;
    }
    size_t events() {
        vtest::waitUntil([] { return false; }, milliseconds(300));  // anything extra shows now
        std::lock_guard<std::mutex> lk(m_lock);
        return m_events.size();
    }
    void report(const char* what, double secs, size_t delivered, uint64_t dropped) {
        if (fullSize())
            printf("[figures] %s: %.1f s, %zu delivered, %llu dropped, max queued %zu of %d, RSS %ld KiB before, "
                   "peak %ld KiB\n", what, secs, delivered, static_cast<unsigned long long>(dropped), maxQueued,
                   sizes.queue, rssBefore, peakRss);
    }

    Sizes sizes = fullSize() ? Sizes{1000, 60000, 6000} : Sizes{64, 3000, 1500};
    std::mutex m_lock;
    std::vector<std::string> m_events;
    std::atomic<size_t> m_count{0};
    size_t maxQueued = 0;
    long rssBefore = 0, peakRss = 0;
};

// Growth of resident memory the flood may cause: the queue is bounded, the device's backlog
// stays in its socket.
constexpr long kRssGrowthLimitKiB = 64 * 1024;

TEST_F(AlarmAccounting, EveryAcknowledgedLinkAlarmReachesHostOnce) {
    auto dev = online("acc-1");
    RawAlarmLink link(alarmPort, "acc-1");
    ASSERT_TRUE(link.waitReady());
    const auto t0 = std::chrono::steady_clock::now();
    const int n = sizes.linkAlarms;
    link.flood(n, devsim::kDefaultAlarmTime, "acc-1");
    sampleQueue([&] { return link.ackCount() >= static_cast<size_t>(n) && m_count.load() >= link.ackCount(); },
                [&] { return link.ackCount() + m_count.load(); });
    report("link flood", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), m_count.load(),
           0);

    const std::vector<uint32_t> acks = link.acks();
    ASSERT_EQ(acks.size(), static_cast<size_t>(n)) << "sent " << link.m_sent.load();
    for (size_t i = 0; i < acks.size(); ++i) ASSERT_EQ(acks[i], i + 1) << "acks out of order or repeated";
    EXPECT_EQ(events(), acks.size());
    std::lock_guard<std::mutex> lk(m_lock);
    EXPECT_EQ(std::set<std::string>(m_events.begin(), m_events.end()).size(), m_events.size()) << "duplicates";
    EXPECT_LE(maxQueued, static_cast<size_t>(sizes.queue));
    EXPECT_GE(maxQueued, static_cast<size_t>(sizes.queue / 2)) << "the queue never filled: nothing was tested";
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(peakRss - rssBefore, kRssGrowthLimitKiB);
#endif
}

TEST_F(AlarmAccounting, ModelAlarmsInFloodDropsPlusDeliveriesEqualSent) {
    vtest::LogCapture log(3);
    const uint64_t droppedBefore = CAlarmMsgMgr::instance()->dropped();
    auto dev = online("acc-2");
    RawAlarmLink link(alarmPort, "acc-2");
    ASSERT_TRUE(link.waitReady());
    const auto t0 = std::chrono::steady_clock::now();
    const int nLink = sizes.linkAlarms, nModel = sizes.modelAlarms;
    link.flood(nLink, devsim::kDefaultAlarmTime, "acc-2");
    for (int i = 0; i < nModel; ++i) {
        devsim::ModelCidAlarm m;
        m.deviceId = "acc-2";
        m.utcTime = devsim::kDefaultAlarmTime + i;
        const devsim::AlarmText a = devsim::modelCidAlarm(m);
        dev->sendMessage(a.route.messageType, a.route.domain, a.route.identifier, a.route.alarmType,
                         a.route.dataType, a.text);
    }
    const size_t sent = static_cast<size_t>(nLink + nModel);
    // Done when every link alarm is acknowledged and the queue has settled.
    sampleQueue([&] { return link.ackCount() >= static_cast<size_t>(nLink) && m_count.load() + loggedDrops(log) >= sent; },
                [&] { return link.ackCount() + m_count.load(); });
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(link.ackCount(), static_cast<size_t>(nLink));
    const size_t delivered = events();
    const uint64_t dropped = loggedDrops(log);
    report("mixed flood", secs, delivered, dropped);
    EXPECT_EQ(delivered + dropped, sent) << delivered << " delivered, " << dropped << " dropped as logged";
    EXPECT_GT(dropped, 0u) << "no drop: the model-command alarms never met a full queue";
    EXPECT_EQ(CAlarmMsgMgr::instance()->dropped() - droppedBefore, dropped) << "the log and the counter disagree";
    std::lock_guard<std::mutex> lk(m_lock);
    EXPECT_EQ(std::set<std::string>(m_events.begin(), m_events.end()).size(), m_events.size()) << "duplicates";
}

}  // namespace
