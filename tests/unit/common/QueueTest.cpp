#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "MpmcRing.h"
#include "WorkQueue.h"

namespace {

struct Rec {
    uint32_t producer;
    uint32_t seq;
};

TEST(MpmcRing, EveryRecordExactlyOnceUnderContention) {
    constexpr uint32_t kProducers = 4, kConsumers = 4, kPerProducer = 20000;
    MpmcRing<Rec> ring(1024);
    std::vector<std::atomic<uint32_t>> seen(kProducers * kPerProducer);
    std::atomic<uint32_t> consumed{0};
    std::vector<std::thread> threads;
    for (uint32_t p = 0; p < kProducers; ++p)
        threads.emplace_back([&, p] {
            for (uint32_t i = 0; i < kPerProducer; ++i)
                while (!ring.push(Rec{p, i})) std::this_thread::yield();
        });
    for (uint32_t c = 0; c < kConsumers; ++c)
        threads.emplace_back([&] {
            Rec r;
            while (consumed.load() < kProducers * kPerProducer) {
                if (ring.pop(r)) {
                    seen[r.producer * kPerProducer + r.seq].fetch_add(1);
                    consumed.fetch_add(1);
                } else {
                    std::this_thread::yield();
                }
            }
        });
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i].load(), 1u) << i;
}

TEST(MpmcRing, FullAndEmptyAreReported) {
    MpmcRing<Rec> ring(4);
    Rec r{};
    EXPECT_FALSE(ring.pop(r));
    for (uint32_t i = 0; i < ring.capacity(); ++i) EXPECT_TRUE(ring.push(Rec{0, i}));
    EXPECT_FALSE(ring.push(Rec{0, 99}));
    for (uint32_t i = 0; i < ring.capacity(); ++i) {
        ASSERT_TRUE(ring.pop(r));
        EXPECT_EQ(r.seq, i);  // first in, first out
    }
    EXPECT_FALSE(ring.pop(r));
}

TEST(WorkQueue, FullQueueDropsOldestAndCounts) {
    WorkQueue q(3);
    EXPECT_TRUE(q.push("a"));
    EXPECT_TRUE(q.push("b"));
    EXPECT_TRUE(q.push("c"));
    EXPECT_FALSE(q.push("d"));
    EXPECT_EQ(q.dropped(), 1u);
    EXPECT_EQ(q.pop(std::chrono::milliseconds(0)), "b");
    EXPECT_EQ(q.pop(std::chrono::milliseconds(0)), "c");
    EXPECT_EQ(q.pop(std::chrono::milliseconds(0)), "d");
    EXPECT_EQ(q.pop(std::chrono::milliseconds(1)), "");
}

TEST(WorkQueue, WaitingPopWakesForPushAndForWake) {
    WorkQueue q(10);
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        q.push("x");
    });
    EXPECT_EQ(q.pop(std::chrono::seconds(30)), "x");
    t.join();
    std::thread w([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        q.wake();
    });
    EXPECT_EQ(q.pop(std::chrono::seconds(30)), "");  // returns long before 30 s
    w.join();
}

}  // namespace
