// A host whose connection-status callback sleeps 1 s must delay no device but its own: 20
// devices logging in at once are all answered promptly, logged-in devices keep getting their
// heartbeats answered, and each device's callbacks still arrive in order, one at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <thread>

#include "GatewayFixture.h"
#include "TestSupport.h"

namespace {

using devsim::State;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kDevices = 20;
constexpr milliseconds kHeartbeat{250};

class SlowHost : public vtest::GatewayFixture {
protected:
    struct PerDevice {
        std::vector<uint32_t> seen;
        int running = 0;
        bool overlapped = false;
    };
    static void VEXA_CALL onSlowStatus(void* dev, uint32_t status, const char*, void* user) {
        auto* self = static_cast<SlowHost*>(user);
        {
            std::lock_guard<std::mutex> lk(self->m_lock);
            PerDevice& p = self->m_seen[dev];
            p.overlapped |= p.running++ > 0;
            p.seen.push_back(status);
        }
        std::this_thread::sleep_for(seconds(1));
        std::lock_guard<std::mutex> lk(self->m_lock);
        self->m_seen[dev].running--;
        self->m_done++;
    }
    std::mutex m_lock;
    std::map<void*, PerDevice> m_seen;
    std::atomic<int> m_done{0};
};

TEST_F(SlowHost, SleepingStatusCallbackDelaysNoOtherDevice) {
    std::vector<vtest::HostDevice> hosts;
    std::vector<devsim::DevicePtr> devs;
    for (int i = 0; i < kDevices; ++i) {
        const std::string id = "slow-" + std::to_string(i);
        hosts.push_back(addHostDevice("DeviceId=" + id + ";DeviceKey=k;DevProtocol=VEXA;AllowDirectConn=1;"));
        hosts.back().conn->SetConnStatusCallBackImpl_V2(hosts.back().handle, &SlowHost::onSlowStatus, this);
        auto cfg = deviceConfig(id, "k");
        cfg.heartbeatInterval = kHeartbeat;
        devs.push_back(sim->addDevice(cfg));
    }
    const auto t0 = std::chrono::steady_clock::now();
    auto since = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
    for (auto& d : devs) d->start();
    // A loginAck held back by another device's callback would take about 1 s per device.
    EXPECT_TRUE(sim->waitReached(State::LoggedIn, kDevices, seconds(2)))
        << sim->countReached(State::LoggedIn) << " of " << kDevices << " logged in within 2 s";
    ASSERT_TRUE(sim->waitReached(State::LoggedIn, kDevices, seconds(60)));
    const double allIn = since();

    // While the callbacks sleep, heartbeats are answered: two outstanding at once means one
    // waited longer than the heartbeat period (a blocked I/O thread piles up several).
    int worstBacklog = 0;
    std::string worst;
    vtest::waitUntil([&] {
        for (auto& d : devs) {
            const devsim::DeviceStatus st = d->status();
            const int backlog = static_cast<int>(st.heartbeatsSent - st.heartbeatsAcked);
            if (backlog > worstBacklog) worstBacklog = backlog, worst = d->id();
        }
        return false;
    }, milliseconds(2500));
    EXPECT_LE(worstBacklog, 2) << worst << " had " << worstBacklog << " heartbeats unanswered at once";
    for (auto& d : devs) EXPECT_GE(d->status().heartbeatsAcked, 3u) << d->id();

    for (auto& d : devs) d->logout();
    ASSERT_TRUE(vtest::waitUntil([&] { return m_done.load() >= 2 * kDevices; }, seconds(90)))
        << m_done.load() << " callbacks returned";
    if (getenv("VEXA_LOAD_FULL"))
        printf("[figures] %d devices: all loginAcks after %.2f s, worst heartbeat backlog %d, "
               "all %d callbacks done after %.1f s\n", kDevices, allIn, worstBacklog, 2 * kDevices, since());
    std::lock_guard<std::mutex> lk(m_lock);
    for (size_t i = 0; i < hosts.size(); ++i) {
        const PerDevice& p = m_seen[hosts[i].handle];
        EXPECT_EQ(p.seen, (std::vector<uint32_t>{0, 10})) << devs[i]->id();
        EXPECT_FALSE(p.overlapped) << devs[i]->id() << ": two callbacks ran at once";
    }
}

}  // namespace
