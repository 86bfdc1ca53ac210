#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "PluginHost.h"
#include "TestSupport.h"
#include "device/VexaDeviceMgr.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

const GWPluginInterface* T() { return GWPLUGIN_GetPluginInterface(); }

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        vtest::enterTempDir();
        mgr = CVexaDeviceMgr::instance();
    }
    void TearDown() override {
        T()->Plugin_Fini();
        mgr->setTickSource(nullptr);
        mgr->setAlarmLoopPass(nullptr);
    }
    CVexaDeviceMgr* mgr = nullptr;
};

// Also run under LSan: a hundred cycles, with the libraries listening every tenth, leave no
// thread, socket or memory behind.
TEST_F(Lifecycle, InitFiniCyclesLeaveNothingBehind) {
    // A warm-up cycle first: runtimes (sanitizers among them) start helper threads lazily.
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    ASSERT_EQ(T()->Plugin_Fini(), 0u);
    const int baseline = vtest::threadCount();
    const int fds = vtest::openFdCount();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(T()->Plugin_Init(), 0u);
        EXPECT_GE(vtest::threadCount(), baseline + 4);  // workers, alarm loop, log thread
        if (i % 10 == 0) {
            const std::string ports = "aldonV5RegPort=" + std::to_string(gwhost::freeLoopbackPort()) +
                                      ";aldonV5AlarmPort=" + std::to_string(gwhost::freeLoopbackPort()) + ";";
            ASSERT_EQ(Plugin_SetConfig("InitListenPort", ports.c_str()), 0u);
            ASSERT_EQ(Plugin_SetConfig("NetZoneTableNotify",
                                       "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\"}]}"),
                      0u);
        }
        ASSERT_EQ(T()->Plugin_Fini(), 0u);
        EXPECT_EQ(vtest::threadCount(), baseline) << "cycle " << i;
    }
    EXPECT_EQ(vtest::openFdCount(), fds);
}

TEST_F(Lifecycle, UninitWithoutStartedLibrariesSucceeds) {
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    vtest::LogCapture log(3);
    EXPECT_EQ(mgr->uninit(), 0);
    EXPECT_TRUE(log.contains("CVexaSdkMgr UnInit succ."));
    EXPECT_EQ(mgr->init(), 0);
}

TEST_F(Lifecycle, AlarmLoopRunsOncePerPeriodAndComesBackAfterRestart) {
    std::atomic<uint64_t> now{31ull * 60 * 1000};  // just past the first period
    mgr->setTickSource([&] { return now.load(); });
    std::atomic<int> passes{0};
    mgr->setAlarmLoopPass([&] { passes.fetch_add(1); });
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    ASSERT_TRUE(vtest::waitUntil([&] { return passes.load() == 1; }));
    now += 10 * 60 * 1000;  // ten minutes later: still inside the period
    mgr->wakeAlarmLoop();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(passes.load(), 1);
    now += 21 * 60 * 1000;
    mgr->wakeAlarmLoop();
    ASSERT_TRUE(vtest::waitUntil([&] { return passes.load() == 2; }));

    // A restart must bring the loop back (its stop flag is cleared).
    ASSERT_EQ(T()->Plugin_Fini(), 0u);
    now += 60 * 60 * 1000;
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    EXPECT_TRUE(vtest::waitUntil([&] { return passes.load() == 3; }));
}

TEST_F(Lifecycle, ShutdownDoesNotWaitForTheAlarmPeriod) {
    std::atomic<uint64_t> now{31ull * 60 * 1000};
    mgr->setTickSource([&] { return now.load(); });
    std::atomic<int> passes{0};
    mgr->setAlarmLoopPass([&] { passes.fetch_add(1); });
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    ASSERT_TRUE(vtest::waitUntil([&] { return passes.load() == 1; }));
    // The loop now waits for 30 minutes of its clock; stopping must not.
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(T()->Plugin_Fini(), 0u);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    RecordProperty("shutdown_ms", static_cast<int>(ms));
    printf("shutdown took %lld ms\n", static_cast<long long>(ms));
}

TEST_F(Lifecycle, HeartbeatAndAuthLinesAreRateLimited) {
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    vtest::LogCapture log(2);
    for (int i = 0; i < 601; ++i) ASSERT_TRUE(mgr->push("dev1", LOG_REC_HEARTBEAT));
    ASSERT_TRUE(vtest::waitUntil([&] { return log.contains("Device HB:[dev1,600]"); }));
    EXPECT_EQ(log.count("Device HB:[dev1,"), 2u);  // the first one and the 601st
    // Authentications advance the same counter.
    mgr->push("dev2", LOG_REC_HEARTBEAT);
    mgr->push("dev2", LOG_REC_AUTH);
    for (int i = 0; i < 3599; ++i) mgr->push("dev2", LOG_REC_AUTH);
    mgr->push("dev2", LOG_REC_AUTH);
    ASSERT_TRUE(vtest::waitUntil([&] { return log.contains("Device Auth:[dev2,3600]"); }));
    EXPECT_FALSE(log.contains("Device Auth:[dev2,1]"));
    // The refused-direct-connection count restarts after a login.
    mgr->push("dev3", LOG_REC_NO_DIRECT);
    mgr->push("dev3", LOG_REC_RESET_NO_DIRECT);
    mgr->push("dev3", LOG_REC_NO_DIRECT);
    ASSERT_TRUE(vtest::waitUntil([&] { return log.count("[deviceID=dev3,1]device is added, but not allow direct connect.") == 2; }));
    // Identifiers are cut to 31 characters.
    mgr->push(std::string(40, 'x'), LOG_REC_HEARTBEAT);
    EXPECT_TRUE(vtest::waitUntil([&] { return log.contains("Device HB:[" + std::string(31, 'x') + ",1]"); }));
}

}  // namespace
