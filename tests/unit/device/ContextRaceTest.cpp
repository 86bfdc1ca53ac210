// Answers racing their contexts' registration, answers that are really dropped, and the aging
// of the media-session tables on the manager's injected clock.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/Context.h"
#include "TestSupport.h"
#include "device/VexaDeviceMgr.h"

namespace {

VEXA_CMS_ASYNC_ANSWER answerFor(int32_t user, uint32_t seq, const std::string& text) {
    VEXA_CMS_ASYNC_ANSWER a{};
    a.lUserHandle = user;
    a.dwAsyncHandle = seq;
    a.pData = text.data();
    a.dwDataLen = static_cast<uint32_t>(text.size());
    return a;
}

class AnswerRace : public ::testing::Test {
protected:
    void SetUp() override {
        vtest::enterTempDir();
        mgr->init();
        mgr->setTickSource([this] { return now.load(); });
    }
    void TearDown() override {
        mgr->setAnswerMissHook(nullptr);
        mgr->setTickSource(nullptr);
        mgr->uninit();
    }
    void answer(int32_t user, uint32_t seq, const std::string& text) {
        auto a = answerFor(user, seq, text);
        CVexaDeviceMgr::pfnDeviceAsyncCallback(&a, mgr);
    }
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    std::atomic<uint64_t> now{1000000};
    // Fresh login handles per run: dropped-answer lines are rate-limited per login.
    static int32_t freshUser(int32_t n) {
        static int32_t run = 0;
        return ++run * 1000 + n;
    }
};

// The sender registers its context just after the answer missed it: the answer must still
// complete the wait at once.
TEST_F(AnswerRace, ContextRegisteredRightAfterTheMissGetsTheAnswer) {
    auto ctx = std::make_shared<CContext>(9001, true);
    mgr->setAnswerMissHook([&](uint32_t seq) {
        if (seq == 9001) mgr->addContext(9001, ctx);
    });
    vtest::LogCapture log(2);
    answer(11, 9001, "racing");
    EXPECT_EQ(ctx->Wait(0), 0u);
    EXPECT_EQ(ctx->response(), "racing");
    EXPECT_FALSE(log.contains("not find context."));
    mgr->removeContext(9001, ctx.get());
    EXPECT_EQ(mgr->earlyAnswerCount(), 0u);
}

TEST_F(AnswerRace, ManyThreadsRacingLoseNoAnswer) {
    constexpr uint32_t kPairs = 8, kPerPair = 2500;  // 20,000 requests
    vtest::LogCapture log(5);
    std::atomic<uint32_t> wrong{0};
    std::atomic<bool> failed{false};  // a lost answer ends the run instead of waiting out every request
    std::vector<std::thread> threads;
    std::vector<std::atomic<uint32_t>> registered(kPairs);
    for (uint32_t p = 0; p < kPairs; ++p) {
        registered[p] = 0;
        const uint32_t base = 100000 + p * kPerPair;
        threads.emplace_back([&, p, base] {
            for (uint32_t i = 0; i < kPerPair && !failed; ++i) {
                auto ctx = std::make_shared<CContext>(base + i, true);
                mgr->addContext(base + i, ctx);
                registered[p] = i + 1;
                if (ctx->Wait(10000) != 0 || ctx->response() != std::to_string(base + i)) wrong++, failed = true;
                mgr->removeContext(base + i, ctx.get());
            }
        });
        threads.emplace_back([&, p, base] {
            for (uint32_t i = 0; i < kPerPair && !failed; ++i) {
                // Answers run ahead of registration, but never beyond the early-answer bound.
                while (i > registered[p].load() + 64 && !failed) std::this_thread::yield();
                answer(static_cast<int32_t>(p), base + i, std::to_string(base + i));
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0u);
    EXPECT_EQ(mgr->contextCount(), 0u);
    EXPECT_EQ(mgr->earlyAnswerCount(), 0u);
    EXPECT_EQ(log.count("not find context."), 0u);
}

// Answers nobody will take are logged once each; answers kept for a sender are not.
TEST_F(AnswerRace, OnlyReallyDroppedAnswersAreLogged) {
    const int32_t u = freshUser(0);
    auto line = [u](int32_t user, uint32_t seq) {
        return "[userID=" + std::to_string(u + user) + ",AsynHandle=" + std::to_string(seq) + "]not find context.";
    };
    vtest::LogCapture log(5);
    // Late: its context was already removed.
    auto done = std::make_shared<CContext>(7001, true);
    mgr->addContext(7001, done);
    mgr->removeContext(7001, done.get());
    answer(u + 21, 7001, "late");
    EXPECT_TRUE(log.contains(line(21, 7001)));
    // Early and claimed: no line.
    answer(u + 22, 7002, "early");
    EXPECT_FALSE(log.contains("AsynHandle=7002]"));
    // A duplicate of a kept answer is dropped; the first one counts.
    answer(u + 23, 7002, "again");
    EXPECT_TRUE(log.contains(line(23, 7002)));
    auto ctx = std::make_shared<CContext>(7002, true);
    mgr->addContext(7002, ctx);
    EXPECT_EQ(ctx->Wait(0), 0u);
    EXPECT_EQ(ctx->response(), "early");
    mgr->removeContext(7002, ctx.get());
    // Unclaimed past its time to live (on the manager's clock): dropped when next looked at.
    answer(u + 24, 7003, "stale");
    now += CVexaDeviceMgr::kEarlyAnswerTtlMs + 1;
    auto other = std::make_shared<CContext>(7004, true);
    mgr->addContext(7004, other);
    EXPECT_TRUE(log.contains(line(24, 7003)));
    mgr->removeContext(7004, other.get());
    // Over the bound: the oldest is evicted.
    for (uint32_t i = 0; i <= CVexaDeviceMgr::kMaxEarlyAnswers; ++i) {
        answer(u + 25, 8000 + i, "x");
        now += 1;
    }
    EXPECT_EQ(log.count(line(25, 8000)), 1u);
    EXPECT_EQ(log.count("[userID=" + std::to_string(u + 25) + ","), 1u);
    EXPECT_EQ(mgr->earlyAnswerCount(), CVexaDeviceMgr::kMaxEarlyAnswers);
}

TEST(SessionTables, PurgeOnTheManagersClock) {
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    static uint64_t start = 0;
    uint64_t now = start += 100000000;  // each run later than the records of the one before
    mgr->setTickSource([&now] { return now; });
    std::vector<unsigned char> rec(CVexaDeviceMgr::kPlaybackRecordSize, 0x5a), out(rec.size());
    struct Case {
        uint64_t ageS;
        int found;
    } cases[] = {{299, 1}, {301, 0}};
    for (const Case& c : cases) {
        const std::string key = "old-" + std::to_string(c.ageS);
        ASSERT_EQ(mgr->addPlaybackSession(rec.data(), key), 1);
        now += c.ageS * 1000;
        ASSERT_EQ(mgr->addPlaybackSession(rec.data(), "trigger-" + key), 1);  // adding purges
        EXPECT_EQ(mgr->getAndDelPlaybackSession(out.data(), key), c.found) << c.ageS;
        mgr->getAndDelPlaybackSession(out.data(), "trigger-" + key);
    }
    // The cap holds until the records age out.
    for (size_t i = 0; i < CVexaDeviceMgr::kMaxSessions; ++i)
        ASSERT_EQ(mgr->addPreviewSession(rec.data(), "s" + std::to_string(i)), 1);
    vtest::LogCapture log(5);
    EXPECT_EQ(mgr->addPreviewSession(rec.data(), "one-more"), 0);
    EXPECT_TRUE(log.contains("<CVexaDeviceMgr::addPreviewSession>,addPreviewSession fail, [session = one-more]"));
    now += 301 * 1000;
    EXPECT_EQ(mgr->addPreviewSession(rec.data(), "one-more"), 1);
    EXPECT_EQ(mgr->getAndDelPreviewSession(out.data(), "s0"), 0);
    EXPECT_EQ(mgr->getAndDelPreviewSession(out.data(), "one-more"), 1);
    EXPECT_EQ(out, rec);
    mgr->setTickSource(nullptr);
}

}  // namespace
