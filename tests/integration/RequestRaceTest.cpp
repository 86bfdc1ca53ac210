// Requests against devices that answer at once: the answer often reaches the plug-in while the
// host thread is still registering its pending request. None may be lost (a lost one waits out
// the time-out and the host gets a failure document instead of the device's "ok"), and no answer
// may be reported as unmatched.
//
// VEXA_LOAD_FULL=1 runs with more host threads and prints the figures.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "GatewayFixture.h"
#include "common/JsonUtil.h"
#include "TestSupport.h"

namespace {

bool fullSize() {
    const char* v = getenv("VEXA_LOAD_FULL");
    return v && *v && *v != '0';
}

class RequestRace : public vtest::GatewayFixture {
protected:
    std::string configXml() const override {
        return "<config><req_timeout>2</req_timeout><sendTimeOut>2</sendTimeOut></config>";
    }
};

TEST_F(RequestRace, AnswersRacingRegistrationAreNeverLost) {
    const int devices = 8, threads = fullSize() ? 64 : 32, requests = 20000;
    vtest::LogCapture log(4);
    std::vector<vtest::HostDevice> hosts;
    for (int i = 0; i < devices; ++i) {
        const std::string id = "race-" + std::to_string(i);
        hosts.push_back(addHostDevice("DeviceId=" + id + ";DeviceKey=k;DevProtocol=VEXA;AllowDirectConn=1;"));
        sim->addDevice(deviceConfig(id, "k"))->start();  // answers every request at once
    }
    for (auto& h : hosts) ASSERT_TRUE(waitStatus(h, 0));
    vtest::waitUntil([] { return false; }, std::chrono::milliseconds(300));  // on-line set-ups done

    const char* env = "{\"method\":\"PUT\",\"uri\":\"/OVIX/SecurityCP/control/arm/1?format=json&ways=away\",\"body\":\"\"}";
    std::atomic<int> next{0}, notOk{0};
    std::mutex firstLock;
    std::string firstBad;
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> ts;
    for (int k = 0; k < threads; ++k)
        ts.emplace_back([&, k] {
            // Lowest priority: the I/O threads' wake-ups preempt the host thread, often right
            // after the send and before its pending request is registered.
            setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
            std::vector<char> rsp(8192);
            while (next.fetch_add(1) < requests) {
                const vtest::HostDevice& d = hosts[k % devices];
                rsp[0] = 0;
                const uint32_t rc = d.ovix->OVIX_GetwayImpl(d.handle, env, rsp.data(), rsp.size(), nullptr);
                Json::Value v;
                if (rc == 0 && vexa::parseJson(rsp.data(), v) && v.isObject() && v["subStatusCode"].isString() &&
                    v["subStatusCode"].asString() == "ok")
                    continue;
                if (notOk.fetch_add(1) == 0) {
                    std::lock_guard<std::mutex> lk(firstLock);
                    firstBad = "rc " + std::to_string(rc) + ": " + rsp.data();
                }
            }
        });
    for (auto& t : ts) t.join();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (fullSize()) printf("[figures] %d requests, %d host threads, %d devices: %.2f s, %d not ok\n", requests,
                           threads, devices, secs, notOk.load());
    EXPECT_EQ(notOk.load(), 0) << "first: " << firstBad;
    EXPECT_EQ(log.count("not find context."), 0u);
}

}  // namespace
