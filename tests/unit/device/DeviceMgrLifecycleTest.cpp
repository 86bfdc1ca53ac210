// The manager's start and stop, its alarm loop on a manual clock, log-record lines, session tables.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "PluginHost.h"
#include "TestSupport.h"
#include "device/EventIntake.h"
#include "device/LogRecords.h"
#include "device/SessionTables.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

const GWPluginInterface* T() { return GWPLUGIN_GetPluginInterface(); }

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { vtest::enterTempDir(); }
    void TearDown() override {
        T()->Plugin_Fini();
        mgr->setClock(nullptr);
        mgr->setAlarmLoopPass(nullptr);
    }
    size_t count() {
        std::lock_guard<std::mutex> lk(lock);
        return passes.size();
    }
    uint64_t passAt(size_t i) {
        std::lock_guard<std::mutex> lk(lock);
        return passes.at(i);
    }
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    vexa::ManualClock clock{31ull * 60 * 1000};  // just past the first period
    std::mutex lock;
    std::vector<uint64_t> passes;  // clock time of each alarm-loop pass
};

// Also run under LSan: a hundred cycles, with the libraries listening every tenth, leave no
// thread, socket or memory behind. Each stop ends an alarm loop waiting for its period.
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

TEST_F(Lifecycle, UninitWithoutStartedLibrariesSucceedsAndEmptiesTheSessionTables) {
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    std::vector<unsigned char> rec(CVexaDeviceMgr::kPreviewRecordSize, 1), out(rec.size());
    ASSERT_EQ(mgr->addPreviewSession(rec.data(), "kept"), 1);
    vtest::LogCapture log(3);
    EXPECT_EQ(mgr->uninit(), 0);
    EXPECT_TRUE(log.contains("CVexaSdkMgr UnInit succ."));
    EXPECT_EQ(mgr->getAndDelPreviewSession(out.data(), "kept"), 0);
    EXPECT_EQ(mgr->init(), 0);
}

TEST_F(Lifecycle, AlarmLoopRunsOncePerPeriodOfTheClockAndComesBackAfterRestart) {
    mgr->setClock(&clock);
    mgr->setAlarmLoopPass([this] {
        std::lock_guard<std::mutex> lk(lock);
        passes.push_back(clock.nowMs());
    });
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    ASSERT_TRUE(vtest::waitUntil([&] { return count() == 1; }));
    const uint64_t first = clock.nowMs();
    clock.advance(10 * 60 * 1000);  // still inside the period: the loop re-reads the clock and waits on
    EXPECT_FALSE(vtest::waitUntil([&] { return count() == 2; }, std::chrono::milliseconds(50)));
    clock.advance(21 * 60 * 1000);
    ASSERT_TRUE(vtest::waitUntil([&] { return count() == 2; }));
    EXPECT_GE(passAt(1) - first, CVexaDeviceMgr::kAlarmLoopPeriodMs);
    // A restart must bring the loop back (its stop flag is cleared).
    ASSERT_EQ(T()->Plugin_Fini(), 0u);
    clock.advance(60 * 60 * 1000);
    ASSERT_EQ(T()->Plugin_Init(), 0u);
    EXPECT_TRUE(vtest::waitUntil([&] { return count() == 3; }));
}

// The storage pass of the alarm loop: which devices are asked, a device that left meanwhile, the
// push of what the check reports.
TEST(AlarmLoopPass, OnlyLoggedInVideoDevicesAreAskedAndTheirAlarmsPushed) {
    struct Intake : EventIntake {
        void start() override {}
        void stopOperations() override {}
        void stopAlarms() override {}
        void setClock(const vexa::Clock*) override {}
        void pushAlarm(std::string text) override { pushed.push_back(std::move(text)); }
        bool offerAlarm(std::string) override { return true; }
        void pushOperation(std::string) override {}
        std::string checkStorage(CVexaDevice& dev) override {
            asked.push_back(dev.deviceId());
            if (onAsked) onAsked();
            return "<diskerror of " + dev.deviceId() + "/>";
        }
        std::vector<std::string> asked, pushed;
        std::function<void()> onAsked;
    } intake;
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    vtest::enterTempDir();
    mgr->setEventIntake(&intake);
    mgr->setAlarmLoopPass([] {});  // the pass runs here, not on the loop's thread
    ASSERT_EQ(mgr->init(), 0);
    std::map<std::string, std::shared_ptr<CVexaDevice>> devs;
    for (const char* p : {"DeviceId=cam-a;DevType=encodingDev;", "DeviceId=cam-b;DevType=encodingDev;",
                          "DeviceId=cam-c;DevType=encodingDev;", "DeviceId=panel;DevType=SecurityCP;"}) {
        auto d = std::make_shared<CVexaDevice>();
        d->Connect_V2(p);
        if (d->deviceId() != "cam-c") d->setLogin({static_cast<int32_t>(devs.size()) + 1, "127.0.0.1", 1, "VEXA", "S"});
        devs[d->deviceId()] = d;
    }
    // While cam-a is asked, the host disconnects cam-b: the pass finds it gone.
    intake.onAsked = [&] { devs["cam-b"]->DisConnect(), intake.onAsked = nullptr; };
    vtest::LogCapture log(2);
    mgr->procAlarmLoop();
    EXPECT_EQ(intake.asked, std::vector<std::string>{"cam-a"});
    EXPECT_EQ(intake.pushed, std::vector<std::string>{"<diskerror of cam-a/>"});
    EXPECT_TRUE(log.contains("[deviceID=cam-b]Device not exist."));
    EXPECT_TRUE(log.contains("CVexaDeviceMgr::procAlarmLoop>,ProcessMsg [<diskerror of cam-a/>]."));
    mgr->uninit();
    mgr->setEventIntake(nullptr);
    mgr->setAlarmLoopPass(nullptr);
}

TEST(LogRecordLines, OnePerPeriodPerDevice) {
    LogRecords records;
    const std::atomic<uint32_t> running{0};
    vtest::LogCapture log(2);
    auto pushAll = [&](const std::string& id, uint32_t type, int n = 1) {
        for (int i = 0; i < n; ++i) ASSERT_TRUE(records.push(id, type));
        for (int i = 0; i < 10; ++i) records.proc(running);  // up to 1000 records per pass
    };
    pushAll("dev1", LOG_REC_HEARTBEAT, 601);
    EXPECT_EQ(log.count("Device HB:[dev1,"), 2u);  // the first one and the 601st
    EXPECT_TRUE(log.contains("Device HB:[dev1,600]"));
    // Authentications advance the same counter.
    pushAll("dev2", LOG_REC_HEARTBEAT);
    pushAll("dev2", LOG_REC_AUTH, 3600);
    EXPECT_TRUE(log.contains("Device Auth:[dev2,3600]"));
    EXPECT_FALSE(log.contains("Device Auth:[dev2,1]"));
    // The refused-direct-connection count restarts after a login, all counts when the device leaves.
    for (uint32_t type : {LOG_REC_NO_DIRECT, LOG_REC_RESET_NO_DIRECT, LOG_REC_NO_DIRECT}) pushAll("dev3", type);
    EXPECT_EQ(log.count("[deviceID=dev3,1]device is added, but not allow direct connect."), 2u);
    for (uint32_t type : {LOG_REC_FORGET, LOG_REC_HEARTBEAT}) pushAll("dev1", type);
    EXPECT_EQ(log.count("Device HB:[dev1,1]"), 2u);
    // Identifiers are cut to 31 characters.
    pushAll(std::string(40, 'x'), LOG_REC_HEARTBEAT);
    EXPECT_TRUE(log.contains("Device HB:[" + std::string(31, 'x') + ",1]"));
}

TEST(SessionTableRules, BoundsAndAgesOnTheClock) {
    vexa::ManualClock clock;
    SessionTables t(&clock);
    std::vector<unsigned char> rec(SessionTables::kPlaybackRecordSize, 0x5a), out(rec.size());
    EXPECT_EQ(t.add(SessionTables::kPlayback, rec.data(), "s1"), 1);
    rec[0] = 2;
    EXPECT_EQ(t.add(SessionTables::kPlayback, rec.data(), "s1"), 0);  // the first record stays
    EXPECT_EQ(t.add(SessionTables::kPlayback, nullptr, "s2"), 0);
    EXPECT_EQ(t.take(SessionTables::kPlayback, out.data(), "s1"), 1);
    EXPECT_EQ(out[0], 0x5a);
    EXPECT_EQ(t.take(SessionTables::kPlayback, out.data(), "s1"), 0);
    struct Case { uint64_t ageS; int found; };
    const Case cases[] = {{299, 1}, {301, 0}};
    for (const Case& c : cases) {
        const std::string key = "old-" + std::to_string(c.ageS);
        ASSERT_EQ(t.add(SessionTables::kPlayback, rec.data(), key), 1);
        clock.advance(c.ageS * 1000);
        ASSERT_EQ(t.add(SessionTables::kPlayback, rec.data(), "trigger-" + key), 1);  // adding purges
        EXPECT_EQ(t.take(SessionTables::kPlayback, out.data(), key), c.found) << c.ageS;
    }
    // The cap holds until the records age out.
    for (size_t i = 0; i < SessionTables::kMaxSessions; ++i)
        ASSERT_EQ(t.add(SessionTables::kPreview, rec.data(), "s" + std::to_string(i)), 1);
    vtest::LogCapture log(5);
    EXPECT_EQ(t.add(SessionTables::kPreview, rec.data(), "one-more"), 0);
    EXPECT_TRUE(log.contains("<CVexaDeviceMgr::addPreviewSession>,addPreviewSession fail, [session = one-more]"));
    clock.advance(301 * 1000);
    EXPECT_EQ(t.add(SessionTables::kPreview, rec.data(), "one-more"), 1);
    EXPECT_EQ(t.take(SessionTables::kPreview, out.data(), "s0"), 0);
    EXPECT_EQ(t.take(SessionTables::kPreview, out.data(), "one-more"), 1);
    EXPECT_EQ(out, rec);
}

}  // namespace
