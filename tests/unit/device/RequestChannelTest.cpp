// Pending requests alone on a manual clock (answers meeting contexts in either order, races, drops,
// time-outs), the answer conversions and the request channel's refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "common/JsonUtil.h"
#include "device/Context.h"
#include "device/PendingRequests.h"
#include "device/SpinGauge.h"
#include "device/VexaDevice.h"
#include "TestSupport.h"

namespace {

class Pending : public ::testing::Test {
protected:
    std::shared_ptr<CContext> added(uint32_t seq, bool acceptsList = true) {
        auto x = std::make_shared<CContext>(seq, acceptsList, clock);
        req.add(seq, x);
        return x;
    }
    void send(VEXA_CMS_ASYNC_ANSWER a) { req.onAnswer(&a); }
    void answer(int32_t user, uint32_t seq, const std::string& text) {
        send({user, seq, 0, 0, text.data(), static_cast<uint32_t>(text.size()), 0});
    }
    vexa::ManualClock clock;
    PendingRequests req{&clock};
};

TEST_F(Pending, WaitEndsWhenTheClockPassesItsLimit) {
    auto x = added(303);
    vtest::LogCapture log(5);
    const uint64_t start = clock.nowMs();
    auto waiter = std::async(std::launch::async, [&] {
        const uint32_t rc = x->Wait(5000);
        return std::make_pair(rc, clock.nowMs() - start);  // read after the wait ended
    });
    // Time moves only here, a second per real millisecond: the wait must end on this clock.
    for (int i = 0; i < 10000 && waiter.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready; ++i)
        clock.advance(1000);
    const auto [rc, waited] = waiter.get();
    EXPECT_EQ(rc, 258u);
    EXPECT_GE(waited, 5000u);
    EXPECT_LT(waited, 4000000u);  // a real-time wait would take five thousand advances
    EXPECT_TRUE(log.contains("Wait timeout, AldonSeq:303, nMills:5000"));
}

TEST_F(Pending, RemovingAnOldContextLeavesTheNewerOne) {
    auto older = added(404);
    vtest::LogCapture log(5);
    auto newer = added(404);
    EXPECT_TRUE(log.contains("The same aldon seq context!"));
    req.remove(404, older.get());
    EXPECT_EQ(req.find(404), newer);
    req.remove(404, newer.get());
    EXPECT_EQ(req.find(404), nullptr);
}

TEST_F(Pending, ListAnswers) {
    const VEXA_CMS_LIST_ENTRY entries[] = {{{}, "a", {}, 1, {}}, {{}, nullptr, {}, 0, {}}, {{}, "ccc", {}, 3, {}}};
    const VEXA_CMS_LIST_ANSWER list{{}, entries, 3, {}};
    struct Case { uint32_t err; bool withData; bool accepts; bool entries; };
    const Case cases[] = {{0, true, true, true}, {5, true, true, false}, {0, false, true, false}, {0, true, false, false}};
    uint32_t seq = 500;
    for (const Case& c : cases) {
        auto x = added(++seq, c.accepts);
        send({0, seq, 7, c.err, c.withData ? &list : nullptr, sizeof list, 0});
        EXPECT_EQ(x->Wait(0), c.err);
        const std::vector<std::string> all{"a", "", "ccc"};
        EXPECT_EQ(x->responseList(), c.entries ? all : std::vector<std::string>()) << seq;
        EXPECT_EQ(x->response(), "");  // the text is not touched by a list
    }
}

// The sender registers its context just after the answer missed it: the answer must still
// complete the wait at once.
TEST_F(Pending, ContextRegisteredRightAfterTheMissGetsTheAnswer) {
    auto x = std::make_shared<CContext>(9001, true, clock);
    req.setMissHook([&](uint32_t seq) {
        if (seq == 9001) req.add(9001, x);
    });
    vtest::LogCapture log(2);
    answer(11, 9001, "racing");
    EXPECT_EQ(x->Wait(0), 0u);
    EXPECT_EQ(x->response(), "racing");
    EXPECT_FALSE(log.contains("not find context."));
    req.remove(9001, x.get());
    EXPECT_EQ(req.earlyAnswerCount(), 0u);
}

TEST_F(Pending, ManyThreadsRacingLoseNoAnswer) {
    constexpr uint32_t kPairs = 8, kPerPair = 2500;  // 20,000 requests
    vtest::LogCapture log(5);
    std::atomic<uint32_t> wrong{0};
    std::atomic<bool> failed{false};  // a lost answer ends the run instead of waiting out every request
    std::vector<std::thread> threads;
    std::vector<std::atomic<uint32_t>> registered(kPairs);
    vexa::Clock& real = vexa::steadyClock();  // a lost answer must end its wait by itself
    for (uint32_t p = 0; p < kPairs; ++p) {
        registered[p] = 0;
        const uint32_t base = 100000 + p * kPerPair;
        threads.emplace_back([&, p, base] {
            for (uint32_t i = 0; i < kPerPair && !failed; ++i) {
                auto x = std::make_shared<CContext>(base + i, true, real);
                req.add(base + i, x);
                registered[p] = i + 1;
                if (x->Wait(10000) != 0 || x->response() != std::to_string(base + i)) wrong++, failed = true;
                req.remove(base + i, x.get());
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
    EXPECT_EQ(req.count(), 0u);
    EXPECT_EQ(req.earlyAnswerCount(), 0u);
    EXPECT_EQ(log.count("not find context."), 0u);
}

// Answers nobody will take are logged once each; answers kept for a sender are not.
TEST_F(Pending, OnlyReallyDroppedAnswersAreLogged) {
    auto line = [](int32_t user, uint32_t seq) {
        return "[userID=" + std::to_string(user) + ",AsynHandle=" + std::to_string(seq) + "]not find context.";
    };
    vtest::LogCapture log(5);
    // Late: its context was already removed.
    req.remove(7001, added(7001).get());
    answer(21, 7001, "late");
    EXPECT_TRUE(log.contains(line(21, 7001)));
    // Early and claimed: no line; a duplicate of a kept answer is dropped, the first one counts.
    answer(22, 7002, "early");
    EXPECT_FALSE(log.contains("AsynHandle=7002]"));
    answer(23, 7002, "again");
    EXPECT_TRUE(log.contains(line(23, 7002)));
    auto x = added(7002);
    EXPECT_EQ(x->Wait(0), 0u);
    EXPECT_EQ(x->response(), "early");
    // An answer without data still wakes its sender with the error number.
    send({26, 7005, 0, 9, nullptr, 0, 0});
    auto empty = added(7005);
    EXPECT_EQ(empty->Wait(0), 9u);
    EXPECT_EQ(empty->response(), "");
    // Unclaimed past its time to live: dropped when next looked at.
    answer(24, 7003, "stale");
    clock.advance(PendingRequests::kEarlyAnswerTtlMs + 1);
    added(7004);
    EXPECT_TRUE(log.contains(line(24, 7003)));
    // Over the bound: the oldest is evicted.
    for (uint32_t i = 0; i <= PendingRequests::kMaxEarlyAnswers; ++i) {
        answer(25, 8000 + i, "x");
        clock.advance(1);
    }
    EXPECT_EQ(log.count(line(25, 8000)), 1u);
    EXPECT_EQ(log.count("[userID=25,"), 1u);
    EXPECT_EQ(req.earlyAnswerCount(), PendingRequests::kMaxEarlyAnswers);
}

TEST_F(Pending, CloseReleasesEveryWaiterUntilOpenedAgain) {
    auto x = added(700);
    std::thread w([&] { EXPECT_EQ(x->Wait(60000), 0x20000009u); });
    req.close();
    w.join();
    EXPECT_EQ(added(701)->Wait(60000), 0x20000009u);  // closed: ends at once
    req.open();
    auto fresh = added(702);
    answer(1, 702, "ok");
    EXPECT_EQ(fresh->Wait(0), 0u);
}

TEST(AnswerConversion, ModelAnswers) {
    struct Case { const char* answer; uint32_t result; const char* response; /* null: unchanged */ };
    const Case cases[] = {
        {"{\"status\":200,\"data\":{\"Value\":5}}", 0, "5"},
        {"{\"status\":200,\"data\":{\"a\":1,\"b\":[2]}}", 0, "{\"a\":1,\"b\":[2]}"},
        {"{\"data\":\"x\"}", 0, "\"x\""},
        {"{\"status\":200}", 0, nullptr},
        {"{\"status\":404}", 0x40000001, nullptr},
        {"{\"status\":404,\"code\":\"0x01400017\"}", 0x40008001, nullptr},
        {"{\"status\":400}", 0x60000001, nullptr},
        {"{\"status\":418}", 0xFFFFFFFF, nullptr},
        // A status that is no integer, or an answer over the answer buffer, is malformed.
        {"{\"status\":\"200\",\"data\":1}", 0x4000000a, nullptr},
        {"{\"status\":200.0,\"data\":1}", 0x4000000a, nullptr},
        {"{\"status\":4294967496}", 0x4000000a, nullptr},
        {"{\"status\":400,\"code\":\"0x01400\"}", 0x4000a2fa, nullptr},  // a prefix matches the first row
        {"{\"status\":400,\"code\":\"0X0140002C\"}", 0x4000a36f, nullptr},
        {"{\"status\":400,\"code\":\"nope\"}", 0x4000111d, nullptr},
        {"{\"status\":400,\"code\":7}", 0x60000001, nullptr},
        {"not json", 0x4000000a, nullptr},
    };
    for (const Case& c : cases) {
        std::string rsp = c.answer;
        EXPECT_EQ(CVexaDevice::covertVexaRsp(rsp), c.result) << c.answer;
        EXPECT_EQ(rsp, c.response ? c.response : c.answer) << c.answer;
    }
    const std::string head = "{\"status\":200,\"data\":\"";
    for (size_t size : {CVexaDevice::kMaxBody, CVexaDevice::kMaxBody + 1}) {
        std::string rsp = head + std::string(size - head.size() - 2, 'v') + "\"}";
        EXPECT_EQ(CVexaDevice::covertVexaRsp(rsp), size > CVexaDevice::kMaxBody ? 0x4000000au : 0u) << size;
    }
}

TEST(AnswerConversion, DeviceApiStatus) {
    struct Case { const char* xml; uint32_t result; const char* subKey; /* null: no status document */ };
    const Case cases[] = {
        {"<ResponseStatus><statusCode>1</statusCode></ResponseStatus>", 0, nullptr},
        {"<ResponseStatus><statusCode>0</statusCode></ResponseStatus>", 0, nullptr},
        {"<ResponseStatus><statusCode>4</statusCode></ResponseStatus>", 0x40000001, "notSupport"},
        {"<ResponseStatus><statusCode>9</statusCode></ResponseStatus>", 0x90000001, "unKnownErrorCode"},
        {"<ResponseStatus><statusCode>99999</statusCode></ResponseStatus>", (99999u << 28) + 1, "unKnownErrorCode"},
        {"<ResponseStatus><other>1</other></ResponseStatus>", 0x60000001, nullptr},
        {"not xml", 0x60000001, nullptr},
        {"{\"statusCode\":1,\"statusString\":\"OK\"}", 0, nullptr},
        {" {\"statusCode\":4,\"subStatusCode\":\"notSupport\"}", 0x40000001, "notSupport"},
        {"{\"statusCode\":\"1\"}", 0x60000001, nullptr},
        {"", 0x60000001, nullptr},
    };
    for (const Case& c : cases) {
        Json::Value status;
        EXPECT_EQ(CVexaDevice::parseOVIXResponseStatus(c.xml, status), c.result) << c.xml;
        EXPECT_EQ(status.isNull() ? "<none>" : status["subStatusCode"].asString(), c.subKey ? c.subKey : "<none>") << c.xml;
    }
}

TEST(RequestChannel, RefusedWithoutASession) {
    auto dev = std::make_shared<CVexaDevice>();
    std::string rsp = "untouched";
    ModelCommand cmd;
    cmd.kind = 1;
    EXPECT_EQ(dev->devConfigSync(rsp, -1, cmd, "global"), 0x20000009u);
    EXPECT_EQ(dev->ovixConfig(rsp, "/OVIX/System/deviceInfo", "", 0), 0x20000009u);
    EXPECT_EQ(dev->ferroConfig(rsp, "REBOOT", ""), 0x20000009u);
    EXPECT_EQ(dev->ovixConfig(rsp, "", "", 0), 0xFFFFFFFFu);
    EXPECT_EQ(dev->ovixConfig(rsp, "/x", "", 4), 0xFFFFFFFFu);  // method code 4 refused before anything
    dev->SetConnectParams("DestroyFlag=1;");
    EXPECT_EQ(dev->devConfigSync(rsp, 5, cmd, "global"), 0x20000009u);
    EXPECT_EQ(rsp, "untouched");
    // Oversized bodies are refused, not cut (checked before any library call).
    auto big = std::make_shared<CVexaDevice>();
    ModelCommand huge;
    huge.kind = 3;
    for (size_t len : {CVexaDevice::kMaxBody, CVexaDevice::kMaxBody - 13}) {  // the second is 102400 after wrapping
        huge.body = std::string(len, 'x');
        EXPECT_EQ(big->devConfigSync(rsp, 5, huge, "global"), 0x6000003fu) << len;
    }
}

}  // namespace

// A lone waiter spins while recent answers came within the window, stops when they mostly come
// late (a busy machine), takes it up again when they are quick again, and one slow device does
// not switch it off.
TEST(SpinGauge, FollowsHowManyRecentAnswersCameWithinTheWindow) {
    struct Step { uint64_t us; int times; bool spins; };
    struct Row { const char* name; std::vector<Step> steps; };
    const Row rows[] = {
        {"fresh", {{0, 0, true}}},
        {"quick answers", {{40, 40, true}}},
        {"late answers", {{40, 40, true}, {90, 40, false}}},
        {"quick again", {{90, 40, false}, {20, 40, true}}},
        {"one device took seconds", {{40, 40, true}, {5000000, 1, true}, {40, 1, true}}},
        {"a run of time-outs", {{40, 40, true}, {5000000, 8, false}}},
    };
    for (const Row& row : rows) {
        SpinGauge g;
        for (const Step& s : row.steps) {
            for (int i = 0; i < s.times; ++i) g.record(s.us);
            EXPECT_EQ(g.worthIt(), s.spins) << row.name << " after " << s.times << " x " << s.us << " us";
        }
    }
}
