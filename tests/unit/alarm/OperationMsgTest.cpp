// Operation messages: which texts become which device-manager call, and what a call does to a
// registered device.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "alarm/OperationMsgMgr.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"
#include "device/VexaDeviceMgr.h"

namespace {

using Op = COperationMsgMgr::Operation;

TEST(OperationMsg, ParsedOnlyWhenEveryMemberHasItsType) {
    const struct { const char* name; std::string text; Op::Kind kind; std::string summary; } cases[] = {
        {"register", R"({"dataType":"REGISTER","userId":7})", Op::kRegister, "7"},
        {"logout", R"({"dataType":"LOGOUT","deviceId":"d\"1","offlineHint":3,"userHandle":9})", Op::kLogout, "d\"1/3/9"},
        {"logout with a mistyped session", R"({"dataType":"LOGOUT","deviceId":"d1","offlineHint":1,"userHandle":"9"})",
         Op::kLogout, "d1/1/-1"},
        {"built messages parse back", COperationMsgMgr::makeLogout("a;b=\"c\"", 0, 12), Op::kLogout, "a;b=\"c\"/0/12"},
        {"offlineHint as a text", R"({"dataType":"LOGOUT","deviceId":"d1","offlineHint":"1"})", Op::kNone, ""},
        {"offlineHint beyond 32 bits", R"({"dataType":"LOGOUT","deviceId":"d1","offlineHint":4294967297})", Op::kNone, ""},
        {"deviceId not a text", R"({"dataType":"LOGOUT","deviceId":1,"offlineHint":1})", Op::kNone, ""},
        {"logout in lower case", R"({"dataType":"logout","deviceId":"d1","offlineHint":1})", Op::kNone, ""},
        {"member name in other case", R"({"DataType":"REGISTER","userId":7})", Op::kNone, ""},
        {"userId as a text", R"({"dataType":"REGISTER","userId":"7"})", Op::kNone, ""},
        {"dataType not a text", R"({"dataType":1,"userId":7})", Op::kNone, ""},
    };
    for (const auto& c : cases) {
        const Op op = COperationMsgMgr::parse(c.text);
        EXPECT_EQ(op.kind, c.kind) << c.name;
        const std::string summary = op.kind == Op::kRegister ? std::to_string(op.userId)
                                    : op.kind == Op::kLogout  ? op.deviceId + "/" + std::to_string(op.offlineHint) +
                                                                   "/" + std::to_string(op.userHandle)
                                                              : "";
        EXPECT_EQ(summary, c.summary) << c.name;
    }
}

// Through the device manager, with its set-up pool running: a REGISTER for the device's handle
// runs the on-line set-up, which fails here (no access library) and so takes the device off line
// with status 10; a REGISTER for a handle no device holds any more does nothing.
class OperationFlow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        vtest::enterTempDir();
        CVexaDeviceMgr::instance()->init();
    }
    static void TearDownTestSuite() { CVexaDeviceMgr::instance()->uninit(); }
    void SetUp() override {
        dev = std::make_shared<CVexaDevice>();
        dev->SetConnStatusCallBack(&OperationFlow::onStatus, this);
        dev->Connect_V2("DeviceId=op-dev;");
    }
    void TearDown() override { dev->DisConnect(); }
    static void VEXA_CALL onStatus(void*, uint32_t status, const char*, void* user) {
        auto* self = static_cast<OperationFlow*>(user);
        std::lock_guard<std::mutex> lk(self->lock);
        self->statuses.push_back(static_cast<int32_t>(status));
    }
    std::vector<int32_t> seen() {
        std::lock_guard<std::mutex> lk(lock);
        return statuses;
    }
    // Runs the messages, then one known to act: the only status the host sees is that last one's
    // (a message wrongly taken would have shown its own status first).
    void expectOnly(const std::vector<std::string>& texts, const std::string& control, int32_t controlStatus) {
        for (const auto& t : texts) COperationMsgMgr::instance()->handle(t);
        COperationMsgMgr::instance()->handle(control);
        ASSERT_TRUE(vtest::waitUntil([&] { return !seen().empty(); })) << control;
        EXPECT_EQ(seen(), std::vector<int32_t>{controlStatus}) << control;
    }

    std::shared_ptr<CVexaDevice> dev;
    std::mutex lock;
    std::vector<int32_t> statuses;
};

TEST_F(OperationFlow, RegisterForAStaleHandleDoesNothing) {
    vtest::LogCapture log;
    dev->setLogin({41, "127.0.0.1", 7000, "VEXA", "SN"});
    ASSERT_TRUE(dev->releaseHandle(41));  // logged out: 41 is stale now
    dev->setLogin({42, "127.0.0.1", 7000, "VEXA", "SN"});
    expectOnly({R"({"dataType":"REGISTER","userId":41})", R"({"dataType":"register","userId":42})",
                R"({"dataType":"REGISTER","userId":"42"})"},
               R"({"dataType":"REGISTER","userId":42})", 10);
    EXPECT_FALSE(log.contains("userHandle=41,"));
}

}  // namespace
