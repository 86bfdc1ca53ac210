// Pending-request contexts, the answer callback and the answer conversions of the request
// channel, without a network.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/Context.h"
#include "common/JsonUtil.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"

namespace {

VEXA_CMS_ASYNC_ANSWER textAnswer(uint32_t seq, uint32_t err, const std::string* text) {
    VEXA_CMS_ASYNC_ANSWER a{};
    a.lUserHandle = 1;
    a.dwAsyncHandle = seq;
    a.dwDataType = 0;
    a.dwErrorNo = err;
    a.pData = text ? text->data() : nullptr;
    a.dwDataLen = text ? static_cast<uint32_t>(text->size()) : 0;
    return a;
}

class Contexts : public ::testing::Test {
protected:
    void SetUp() override {
        vtest::enterTempDir();
        mgr->init();
    }
    void TearDown() override { mgr->uninit(); }
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
};

TEST_F(Contexts, AnswerBeforeTheWaitCompletesItAtOnce) {
    auto ctx = std::make_shared<CContext>(101, true);
    mgr->addContext(101, ctx);
    const std::string text = "{\"status\":200}";
    auto a = textAnswer(101, 0, &text);
    CVexaDeviceMgr::pfnDeviceAsyncCallback(&a, mgr);
    EXPECT_EQ(ctx->Wait(0), 0u);  // no time at all: the answer is already there
    EXPECT_EQ(ctx->response(), text);
    mgr->removeContext(101, ctx.get());
}

TEST_F(Contexts, AnswerBeforeRegistrationIsKeptAndMatched) {
    const std::string text = "early";
    auto a = textAnswer(202, 7, &text);
    CVexaDeviceMgr::pfnDeviceAsyncCallback(&a, mgr);
    auto ctx = std::make_shared<CContext>(202, true);
    mgr->addContext(202, ctx);
    EXPECT_EQ(ctx->Wait(0), 7u);
    EXPECT_EQ(ctx->response(), "early");
    mgr->removeContext(202, ctx.get());
}

TEST_F(Contexts, NoAnswerTimesOutWith258) {
    auto ctx = std::make_shared<CContext>(303, true);
    mgr->addContext(303, ctx);
    vtest::LogCapture log(5);
    EXPECT_EQ(ctx->Wait(0), 258u);
    EXPECT_TRUE(log.contains("Wait timeout, AldonSeq:303, nMills:0"));
    mgr->removeContext(303, ctx.get());
    // A late answer finds no context, is logged, and harms nothing.
    const std::string text = "late";
    auto a = textAnswer(303, 0, &text);
    CVexaDeviceMgr::pfnDeviceAsyncCallback(&a, mgr);
    EXPECT_TRUE(log.contains("[userID=1,AsynHandle=303]not find context."));
}

TEST_F(Contexts, RemovingAnOldContextLeavesTheNewerOne) {
    auto older = std::make_shared<CContext>(404, true);
    auto newer = std::make_shared<CContext>(404, true);
    mgr->addContext(404, older);
    vtest::LogCapture log(5);
    mgr->addContext(404, newer);
    EXPECT_TRUE(log.contains("The same aldon seq context!"));
    mgr->removeContext(404, older.get());
    EXPECT_EQ(mgr->findContext(404), newer);
    mgr->removeContext(404, newer.get());
    EXPECT_EQ(mgr->findContext(404), nullptr);
}

TEST_F(Contexts, ListAnswers) {
    const char* texts[] = {"a", nullptr, "ccc"};
    VEXA_CMS_LIST_ENTRY entries[3];
    memset(entries, 0, sizeof entries);
    for (int i = 0; i < 3; ++i) {
        entries[i].pText = texts[i];
        entries[i].dwTextLen = texts[i] ? static_cast<uint32_t>(strlen(texts[i])) : 0;
    }
    VEXA_CMS_LIST_ANSWER list;
    memset(&list, 0, sizeof list);
    list.pEntries = entries;
    list.dwCount = 3;
    struct Case {
        uint32_t err;
        bool withData;
        size_t expectEntries;
    } cases[] = {{0, true, 3}, {5, true, 0}, {0, false, 0}};
    uint32_t seq = 500;
    for (const Case& c : cases) {
        auto ctx = std::make_shared<CContext>(++seq, true);
        mgr->addContext(seq, ctx);
        VEXA_CMS_ASYNC_ANSWER a{};
        a.dwAsyncHandle = seq;
        a.dwDataType = 7;
        a.dwErrorNo = c.err;
        a.pData = c.withData ? &list : nullptr;
        a.dwDataLen = sizeof list;
        CVexaDeviceMgr::pfnDeviceAsyncCallback(&a, mgr);
        EXPECT_EQ(ctx->Wait(0), c.err);
        auto got = ctx->responseList();
        ASSERT_EQ(got.size(), c.expectEntries);
        if (c.expectEntries) {
            EXPECT_EQ(got, (std::vector<std::string>{"a", "", "ccc"}));
        }
        EXPECT_EQ(ctx->response(), "");  // the text is not touched by a list
        mgr->removeContext(seq, ctx.get());
    }
    // A null data pointer still wakes the sender with its error number.
    auto ctx = std::make_shared<CContext>(600, true);
    mgr->addContext(600, ctx);
    auto a = textAnswer(600, 9, nullptr);
    CVexaDeviceMgr::pfnDeviceAsyncCallback(&a, mgr);
    EXPECT_EQ(ctx->Wait(0), 9u);
    EXPECT_EQ(ctx->response(), "");
    mgr->removeContext(600, ctx.get());
}

TEST_F(Contexts, EveryWaiterEndsExactlyOnceUnderConcurrentAnswers) {
    constexpr uint32_t kN = 800;  // within the early-answer bound: every answer can overtake its context
    std::atomic<uint32_t> done{0}, wrong{0};
    std::vector<std::thread> waiters;
    for (int t = 0; t < 4; ++t)
        waiters.emplace_back([&, t] {
            for (uint32_t i = t; i < kN; i += 4) {
                const uint32_t seq = 10000 + i;
                auto ctx = std::make_shared<CContext>(seq, true);
                mgr->addContext(seq, ctx);
                const uint32_t rc = ctx->Wait(10000);
                if (rc != 0 || ctx->response() != std::to_string(seq)) wrong++;
                mgr->removeContext(seq, ctx.get());
                done++;
            }
        });
    std::thread answerer([&] {
        // Answers in reverse order, some before their context exists.
        for (uint32_t i = kN; i-- > 0;) {
            const std::string text = std::to_string(10000 + i);
            auto a = textAnswer(10000 + i, 0, &text);
            CVexaDeviceMgr::pfnDeviceAsyncCallback(&a, mgr);
        }
    });
    answerer.join();
    for (auto& w : waiters) w.join();
    EXPECT_EQ(done.load(), kN);
    EXPECT_EQ(wrong.load(), 0u);
    EXPECT_EQ(mgr->contextCount(), 0u);
}

TEST_F(Contexts, ShutdownReleasesEveryWaiter) {
    auto ctx = std::make_shared<CContext>(700, true);
    mgr->addContext(700, ctx);
    std::thread w([&] { EXPECT_EQ(ctx->Wait(60000), 0x20000009u); });
    mgr->closeContexts();
    w.join();
    // Until the next init, new requests end at once too.
    auto late = std::make_shared<CContext>(701, true);
    mgr->addContext(701, late);
    EXPECT_EQ(late->Wait(60000), 0x20000009u);
    mgr->removeContext(700, ctx.get());
    mgr->removeContext(701, late.get());
}

TEST(AnswerConversion, ModelAnswers) {
    struct Case {
        const char* answer;
        uint32_t result;
        const char* response;  // null: unchanged
    } cases[] = {
        {"{\"status\":200,\"data\":{\"Value\":5}}", 0, "5"},
        {"{\"status\":200,\"data\":{\"a\":1,\"b\":[2]}}", 0, "{\"a\":1,\"b\":[2]}"},
        {"{\"data\":\"x\"}", 0, "\"x\""},
        {"{\"status\":200}", 0, nullptr},
        {"{\"status\":404}", 0x40000001, nullptr},
        {"{\"status\":404,\"code\":\"0x01400017\"}", 0x40008001, nullptr},
        {"{\"status\":400}", 0x60000001, nullptr},
        {"{\"status\":403}", 0x40000002, nullptr},
        {"{\"status\":500}", 0x30000001, nullptr},
        {"{\"status\":418}", 0xFFFFFFFF, nullptr},
        // A status that is no integer, or an answer over the answer buffer, is malformed.
        {"{\"status\":\"200\",\"data\":1}", 0x4000000a, nullptr},
        {"{\"status\":1.5,\"data\":1}", 0x4000000a, nullptr},
        {"{\"status\":200.0,\"data\":1}", 0x4000000a, nullptr},
        {"{\"status\":true,\"data\":1}", 0x4000000a, nullptr},
        {"{\"status\":null}", 0x4000000a, nullptr},
        {"{\"status\":4294967496}", 0x4000000a, nullptr},
        {"{\"status\":400,\"code\":\"0x01400\"}", 0x4000a2fa, nullptr},  // a prefix matches the first row
        {"{\"status\":400,\"code\":\"\"}", 0x4000a2fa, nullptr},
        {"{\"status\":400,\"code\":\"0X0140002C\"}", 0x4000a36f, nullptr},
        {"{\"status\":400,\"code\":\"nope\"}", 0x4000111d, nullptr},
        {"{\"status\":400,\"code\":7}", 0x60000001, nullptr},
        {"not json", 0x4000000a, nullptr},
        {"", 0x4000000a, nullptr},
    };
    for (const Case& c : cases) {
        std::string rsp = c.answer;
        EXPECT_EQ(CVexaDevice::covertVexaRsp(rsp), c.result) << c.answer;
        EXPECT_EQ(rsp, c.response ? c.response : c.answer) << c.answer;
    }
    struct Sized {
        size_t size;
        uint32_t result;
    } sized[] = {{CVexaDevice::kMaxBody, 0}, {CVexaDevice::kMaxBody + 1, 0x4000000a}};
    for (const Sized& c : sized) {
        const std::string head = "{\"status\":200,\"data\":\"";
        std::string rsp = head + std::string(c.size - head.size() - 2, 'v') + "\"}";
        EXPECT_EQ(CVexaDevice::covertVexaRsp(rsp), c.result) << c.size;
    }
}

TEST(AnswerConversion, DeviceApiStatus) {
    struct Case {
        const char* xml;
        uint32_t result;
        const char* subKey;  // of the status document; null: none built
    } cases[] = {
        {"<ResponseStatus><statusCode>1</statusCode></ResponseStatus>", 0, nullptr},
        {"<ResponseStatus><statusCode>0</statusCode></ResponseStatus>", 0, nullptr},
        {"<ResponseStatus><statusCode>4</statusCode></ResponseStatus>", 0x40000001, "notSupport"},
        {"<ResponseStatus><statusCode>6</statusCode></ResponseStatus>", 0x60000001, "badParameters"},
        {"<ResponseStatus><statusCode>9</statusCode></ResponseStatus>", 0x90000001, "unKnownErrorCode"},
        {"<ResponseStatus><statusCode>99999</statusCode></ResponseStatus>", (99999u << 28) + 1, "unKnownErrorCode"},
        {"<ResponseStatus><other>1</other></ResponseStatus>", 0x60000001, nullptr},
        {"not xml", 0x60000001, nullptr},
        {"{\"statusCode\":1,\"statusString\":\"OK\"}", 0, nullptr},
        {" {\"statusCode\":4,\"subStatusCode\":\"notSupport\"}", 0x40000001, "notSupport"},
        {"{\"statusCode\":\"1\"}", 0x60000001, nullptr},
        {"{\"other\":1}", 0x60000001, nullptr},
        {"", 0x60000001, nullptr},
    };
    for (const Case& c : cases) {
        Json::Value status;
        EXPECT_EQ(CVexaDevice::parseOVIXResponseStatus(c.xml, status), c.result) << c.xml;
        if (c.subKey) {
            EXPECT_EQ(status["subStatusCode"].asString(), c.subKey) << c.xml;
        } else {
            EXPECT_TRUE(status.isNull()) << c.xml;
        }
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
    huge.body = std::string(CVexaDevice::kMaxBody, 'x');
    EXPECT_EQ(big->devConfigSync(rsp, 5, huge, "global"), 0x6000003fu);
    huge.kind = 3;
    huge.body = std::string(CVexaDevice::kMaxBody - 13, 'x');  // exactly 102400 after wrapping
    EXPECT_EQ(big->devConfigSync(rsp, 5, huge, "global"), 0x6000003fu);
}

}  // namespace
