#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/MpmcRing.h"
#include "common/WorkQueue.h"

namespace {

struct Rec { uint32_t producer; uint32_t seq; };

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

// Ops: 'o' offer (A accepted, R refused), 'p' push of the next letter (k kept all, d dropped the
// oldest), 'x' pop (the text taken), 'c' clear ('.'). Counters at the end: accepted, refused, dropped, delivered, discarded.
TEST(WorkQueue, OffersPauseWhenFullUntilBelowHalf) {
    const struct { const char* name; size_t bound; const char* ops; const char* expect; uint64_t counts[5]; } cases[] = {
        {"refused when full, resumed only below half", 4, "ooooo" "xo" "xo" "xo", "AAAAR" "tR" "tR" "tA", {5, 3, 0, 3, 0}},
        {"odd bound resumes below its half", 5, "oooooo" "xo" "xo" "xo", "AAAAAR" "tR" "tR" "tA", {6, 3, 0, 3, 0}},
        {"bound 1 resumes once empty", 1, "oo" "xo", "AR" "tA", {2, 1, 0, 1, 0}},
        {"pushes fill the queue for offers too", 3, "pppo" "xo" "xo", "kkkR" "aR" "bA", {4, 2, 0, 2, 0}},
        {"full queue drops the oldest", 3, "ppppxxxx", "kkkd" "bcd?", {4, 0, 1, 3, 0}},
        {"pushes while paused still drop the oldest", 2, "ooopxoxo", "AARdtRaA", {4, 2, 1, 2, 0}},
        {"clear ends the pause", 2, "oooco", "AAR.A", {3, 1, 0, 0, 2}},
    };
    for (const auto& c : cases) {
        WorkQueue q(c.bound);
        std::string got;
        char next = 'a';
        for (const char* op = c.ops; *op; ++op) {
            std::string text = "t";
            switch (*op) {
                case 'o': got += q.tryPush(text) ? 'A' : 'R'; break;
                case 'p': got += q.push(std::string(1, next++)) ? 'k' : 'd'; break;
                case 'x': {
                    const std::string t = q.pop(std::chrono::milliseconds(0));
                    got += t.empty() ? '?' : t[0];
                    break;
                }
                default: q.clear(), got += '.';
            }
        }
        EXPECT_EQ(got, c.expect) << c.name;
        const WorkQueue::Counters k = q.counters();
        EXPECT_EQ((std::vector<uint64_t>{k.accepted, k.refused, k.dropped, k.delivered, k.discarded}),
                  std::vector<uint64_t>(c.counts, c.counts + 5)) << c.name;
        EXPECT_EQ(k.accepted, k.delivered + k.dropped + k.discarded + q.size()) << c.name;
    }
}

TEST(WorkQueue, WaitingPopWakesForPushAndForWake) {
    WorkQueue q(10);
    for (bool push : {true, false}) {
        std::thread t([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            push ? (void)q.push("x") : q.wake();
        });
        EXPECT_EQ(q.pop(std::chrono::seconds(30)), push ? "x" : "");  // returns long before 30 s
        t.join();
    }
}

}  // namespace
