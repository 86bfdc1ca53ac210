// Alarm accounting under a slow host: a device floods its alarm link as fast as the socket
// takes it while the host's event callback sleeps 1 ms per event. Every alarm the gateway
// acknowledges must reach the host exactly once; model-command alarms in the same flood may be
// dropped, but drops + deliveries = alarms sent, and the log says how many were dropped.
//
// VEXA_LOAD_FULL=1 runs the full sizes (60,000 alarms) and prints the figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <regex>
#include <set>
#include <thread>

#include "alarm/AlarmMsgMgr.h"
#include "GatewayFixture.h"
#include "WirePeer.h"
#include "devsim/AlarmTexts.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

bool fullSize() {
    const char* v = getenv("VEXA_LOAD_FULL");
    return v && *v && *v != '0';
}

// A device's alarm link written by hand: blocking writes, so the device pushes exactly as fast
// as the gateway reads; a reader thread records every alarmAck.
class RawAlarmLink {
public:
    RawAlarmLink(uint16_t port, const std::string& deviceId) : m_peer(port) {
        m_peer.send(vtest::alarmHello(deviceId, 2));
        ready = !m_peer.expect("alarmHelloAck").isNull();
        m_reader = std::thread([this] { readLoop(); });
    }
    ~RawAlarmLink() {
        shutdown(m_peer.fd(), SHUT_RDWR);  // unblocks both threads
        if (m_writer.joinable()) m_writer.join();
        if (m_reader.joinable()) m_reader.join();
    }
    // Alarm i (seq i + 1) carries a time of its own, so each host event names its alarm.
    void flood(int n, int64_t firstTime, const std::string& deviceId) {
        m_writer = std::thread([=] {
            for (int i = 0; i < n; ++i) {
                devsim::ApiAlarm a;
                a.deviceId = deviceId;
                a.time = firstTime + i;
                if (!m_peer.send(vtest::alarmFrame(static_cast<uint32_t>(i + 1), devsim::apiAlarmJson(a)))) return;
            }
        });
    }
    bool ready = false;
    std::vector<uint32_t> acks() {
        std::lock_guard<std::mutex> lk(m_lock);
        return m_acks;
    }

private:
    void readLoop() {
        Json::Value f;
        while (m_peer.next(f, 3600 * 1000))
            if (f["type"].asString() == "alarmAck") {
                std::lock_guard<std::mutex> lk(m_lock);
                m_acks.push_back(f["seq"].asUInt());
            }
    }

    vtest::WirePeer m_peer;
    std::thread m_reader, m_writer;
    std::mutex m_lock;
    std::vector<uint32_t> m_acks;
};

struct Sizes { int queue, linkAlarms, modelAlarms; };

class AlarmAccounting : public vtest::GatewayFixture {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        rssBefore = vtest::residentKiB();
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
    // Floods the device's alarm link while it sends `nModel` model-command alarms on its command
    // connection; returns the events the host got once every link alarm is acknowledged and the
    // rest is delivered or logged as dropped (or nothing moved for 15 s).
    size_t flood(const char* what, const std::string& id, int nModel, const vtest::LogCapture& log,
                 std::vector<uint32_t>& acks) {
        auto host = addHost(id, devsim::Family::Vexa);
        host.event->SetEventCallBackImpl(host.handle, &AlarmAccounting::onEvent, this);  // the slow one
        auto dev = startDevice(id, devsim::Family::Vexa);
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        RawAlarmLink link(alarmPort, id);
        EXPECT_TRUE(link.ready);
        const auto t0 = std::chrono::steady_clock::now();
        const size_t nLink = static_cast<size_t>(sizes.linkAlarms), sent = nLink + static_cast<size_t>(nModel);
        link.flood(sizes.linkAlarms, devsim::kDefaultAlarmTime, id);
        for (int i = 0; i < nModel; ++i) {
            devsim::ModelCidAlarm m;
            m.deviceId = id;
            m.utcTime = devsim::kDefaultAlarmTime + i;
            const devsim::AlarmText a = devsim::modelCidAlarm(m);
            dev->sendMessage(a.route.messageType, a.route.domain, a.route.identifier, a.route.alarmType,
                             a.route.dataType, a.text);
        }
        size_t last = 0;
        auto moved = std::chrono::steady_clock::now();
        vtest::waitUntil([&] {
            maxQueued = std::max(maxQueued, CAlarmMsgMgr::instance()->queued());
            peakRss = std::max(peakRss, vtest::residentKiB());
            const size_t p = link.acks().size() + m_count.load();
            if (p != last) last = p, moved = std::chrono::steady_clock::now();
            return (link.acks().size() >= nLink && m_count.load() + loggedDrops(log) >= sent) ||
                   std::chrono::steady_clock::now() - moved > seconds(15);
        }, std::chrono::hours(1));
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        acks = link.acks();
        vtest::waitUntil([] { return false; }, milliseconds(300));  // anything extra shows now
        const size_t delivered = m_count.load();
        if (fullSize())
            printf("[figures] %s: %.1f s, %zu delivered, %llu dropped, max queued %zu of %d, RSS %ld KiB before, "
                   "peak %ld KiB\n", what, secs, delivered, static_cast<unsigned long long>(loggedDrops(log)),
                   maxQueued, sizes.queue, rssBefore, peakRss);
        return delivered;
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
    void expectNoDuplicates() {
        std::lock_guard<std::mutex> lk(m_lock);
        EXPECT_EQ(std::set<std::string>(m_events.begin(), m_events.end()).size(), m_events.size()) << "duplicates";
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
    vtest::LogCapture log(3);
    std::vector<uint32_t> acks;
    const size_t delivered = flood("link flood", "acc-1", 0, log, acks);
    ASSERT_EQ(acks.size(), static_cast<size_t>(sizes.linkAlarms));
    for (size_t i = 0; i < acks.size(); ++i) ASSERT_EQ(acks[i], i + 1) << "acks out of order or repeated";
    EXPECT_EQ(delivered, acks.size());
    expectNoDuplicates();
    EXPECT_LE(maxQueued, static_cast<size_t>(sizes.queue));
    EXPECT_GE(maxQueued, static_cast<size_t>(sizes.queue / 2)) << "the queue never filled: nothing was tested";
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(peakRss - rssBefore, kRssGrowthLimitKiB);
#endif
}

TEST_F(AlarmAccounting, ModelAlarmsInFloodDropsPlusDeliveriesEqualSent) {
    vtest::LogCapture log(3);
    const uint64_t droppedBefore = CAlarmMsgMgr::instance()->dropped();
    std::vector<uint32_t> acks;
    const size_t delivered = flood("mixed flood", "acc-2", sizes.modelAlarms, log, acks);
    EXPECT_EQ(acks.size(), static_cast<size_t>(sizes.linkAlarms));
    const uint64_t dropped = loggedDrops(log);
    EXPECT_EQ(delivered + dropped, static_cast<size_t>(sizes.linkAlarms + sizes.modelAlarms))
        << delivered << " delivered, " << dropped << " dropped as logged";
    EXPECT_GT(dropped, 0u) << "no drop: the model-command alarms never met a full queue";
    EXPECT_EQ(CAlarmMsgMgr::instance()->dropped() - droppedBefore, dropped) << "the log and the counter disagree";
    expectNoDuplicates();
}

}  // namespace
