#include <gtest/gtest.h>

#include "common/ConfigCenter.h"
#include "TestSupport.h"

namespace {

TEST(ConfigParse, ReadsDirectChildrenOnly) {
    const struct { const char* name; std::string text; int result; const char* key; int32_t value; } cases[] = {
        {"plain", "<c><req_timeout>5</req_timeout></c>", 1, "req_timeout", 5},
        {"any root name and declaration", "<?xml version=\"1.0\"?><x><hb_time>30</hb_time></x>", 1, "hb_time", 30},
        {"blanks then digits then letters", "<c><hb_fail>  12abc</hb_fail></c>", 1, "hb_fail", 12},
        {"letters only", "<c><hb_fail>abc</hb_fail></c>", 1, "hb_fail", 0},
        {"negative", "<c><hb_fail>-4</hb_fail></c>", 1, "hb_fail", -4},
        {"empty element not stored", "<c><hb_fail></hb_fail></c>", 1, "hb_fail", 0},
        {"later duplicate wins", "<c><k>1</k><k>2</k></c>", 1, "k", 2},
        {"grandchildren ignored", "<c><g><k>9</k></g></c>", 1, "k", 0}, {"root without children", "<c/>", 1, "k", 0},
        {"huge number saturates", "<c><k>99999999999999</k></c>", 1, "k", 2147483647},
        {"not xml", "req_timeout=5", 0, "req_timeout", 0}, {"empty text", "", 0, "req_timeout", 0},
        {"unclosed element", "<c><k>1</k>", 0, "k", 0}, {"nesting too deep", "<config>" + vtest::nested(5000) + "<req_timeout>7</req_timeout></config>", 0, "req_timeout", 0},
        {"NUL byte", std::string("<c><k>1</k>\0<j>2</j></c>", 24), 0, "k", 0},
    };
    for (const auto& c : cases) {
        CConfigCenter cfg;
        vtest::LogCapture log(2);
        EXPECT_EQ(cfg.parseConfigText(c.text), c.result) << c.name;
        EXPECT_EQ(cfg.getInt(c.key), c.value) << c.name;
        if (c.result == 0) { EXPECT_TRUE(log.contains("parse")) << c.name; }
    }
}

TEST(ConfigFile, MissingFileLeavesEverythingZero) {
    vtest::enterTempDir();
    CConfigCenter cfg;
    cfg.parseConfigText("<c><req_timeout>5</req_timeout></c>");
    vtest::LogCapture log(5);
    EXPECT_EQ(cfg.parseConfig(), 0);
    EXPECT_EQ(cfg.getInt("req_timeout"), 0);
    EXPECT_TRUE(log.contains("load config local_config.xml fail"));
    vtest::writeFile("local_config.xml", "<c><req_timeout>4</req_timeout></c>");
    EXPECT_EQ(cfg.parseConfig(), 1);
    EXPECT_EQ(cfg.getInt("req_timeout"), 4);
}

TEST(ConfigFile, EffectiveTimeouts) {
    const struct { const char *reqTimeout, *sendTimeOut, *maxPending; int64_t waitMs, recvMs; uint32_t libSend, passMs, pending; } cases[] = {
        {nullptr, nullptr, nullptr, 10000, 9000, 30000, 30000, 1024},  // empty configuration: sane values, not zero
        {"0", "0", "0", 10000, 9000, 30000, 30000, 1024},
        {"-3", "-1", "-7", 10000, 9000, 30000, 30000, 1024},
        {"1", "5", "5", 2000, 1000, 5, 5000, 5},
        {"5", "30", "2048", 5000, 4000, 30, 30000, 2048},
        {"2147483647", "2147483647", "x", 2147483647000LL, 2147483646000LL, 2147483647u, 0xFFFFFFFFu, 1024},
    };
    for (const auto& c : cases) {
        CConfigCenter cfg;
        std::string text = "<c>";
        if (c.reqTimeout) text += std::string("<req_timeout>") + c.reqTimeout + "</req_timeout>";
        if (c.sendTimeOut) text += std::string("<sendTimeOut>") + c.sendTimeOut + "</sendTimeOut>";
        if (c.maxPending) text += std::string("<MaxPendingLogins>") + c.maxPending + "</MaxPendingLogins>";
        cfg.parseConfigText(text + "</c>");
        const std::string what = std::string(c.reqTimeout ? c.reqTimeout : "-") + "/" + (c.sendTimeOut ? c.sendTimeOut : "-");
        EXPECT_EQ(cfg.reqWaitMs(), c.waitMs) << what;
        EXPECT_EQ(cfg.recvTimeoutMs(), c.recvMs) << what;
        EXPECT_EQ(cfg.libSendTimeout(), c.libSend) << what;
        EXPECT_EQ(cfg.passThroughTimeoutMs(), c.passMs) << what;
        EXPECT_EQ(cfg.maxPendingLogins(), c.pending) << what;
    }
}

}  // namespace
