#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/StatusCode.h"

namespace {

// Kept first: under ctest every test runs in its own process, so these are the table's first uses.
TEST(StatusDocument, ConcurrentFirstCalls) {
    const uint32_t codes[] = {1, 0x40000006, 0x70000002, 0x20000009, 0x80000001, 0x4000ffff};
    std::vector<std::string> results(8);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&results, &codes, t] {
            std::string all;
            for (int round = 0; round < 200; ++round)
                for (uint32_t c : codes) all += statusDocumentText(c) + "|";
            results[t] = all;
        });
    for (auto& th : threads) th.join();
    for (const std::string& r : results) EXPECT_EQ(r, results[0]);
    EXPECT_NE(results[0].find("\"subStatusCode\":\"networkError\""), std::string::npos);
}

struct Entry { uint32_t code, statusCode; const char* statusString; uint32_t http; const char *sub, *msg; };

// Every code with a known meaning, written out as the reference texts give them.
const Entry kEntries[] = {
    {0x00000001, 1, "OK", 200, "ok", "ok"},
    {0x10000002, 1, "OK", 200, "riskPassword", "Risky password."},
    {0x20000001, 2, "Device Busy", 503, "noMemory", "Insufficient memory."},
    {0x20000002, 2, "Device Busy", 503, "serviceUnavailable", "service unavailable."},
    {0x20000003, 2, "Device Busy", 503, "upgrading", "Upgrading."},
    {0x20000004, 2, "Device Busy", 503, "deviceBusy", "Device busy or no response."},
    {0x20000005, 2, "Device Busy", 503, "reConnectIpc", "Reconnect the video server."},
    {0x20000006, 2, "Device Busy", 503, "transferUpgradePackageFailed", "Transferring upgrade package failed."},
    {0x20000007, 2, "Device Busy", 503, "startUpgradeFailed", "Starting upgrade failed."},
    {0x20000008, 2, "Device Busy", 503, "getUpgradeProcessfailed", "Getting upgrade process failed."},
    {0x20000009, 2, "Device Busy", 503, "networkError", "Network error."},
    {0x2000000a, 2, "Device Busy", 503, "configOperating", "config Operating."},
    {0x2000000b, 2, "Device Busy", 503, "certificateExist", "certificate Exist."},
    {0x30000001, 3, "Device Error", 500, "deviceError", "Device hardware error."},
    {0x40000001, 4, "Invalid Operation", 403, "notSupport", "Not supported."},
    {0x40000002, 4, "Invalid Operation", 403, "lowPrivilege", "No permission."},
    {0x40000006, 4, "Invalid Operation", 403, "invalidOperation", "Invalid operation."},
    {0x4000000a, 4, "Invalid Operation", 403, "invalidContent", "Invalid message content."},
    {0x4000111d, 4, "Invalid Operation", 403, "unKnownErrorCode", "Unknown error code."},
    {0x40001176, 4, "Invalid Operation", 403, "gettingResourceNodeInformationFailed", "Getting resource node information failed."},
    {0x40008000, 4, "Invalid Operation", 403, "armingFailed", "Arming failed."},
    {0x40008001, 4, "Invalid Operation", 403, "disarmingFailed", "Disarming failed."},
    {0x40008052, 4, "Invalid Operation", 403, "findMeProcess", "Detecting findme..."},
    {0x4000a2fa, 4, "Invalid Operation", 403, "systemIsArmed", "System is armed."},
    {0x4000a2fd, 4, "Invalid Operation", 403, "silencingAlarmFailed", "Silencing alarm failed."},
    {0x4000a2fe, 4, "Invalid Operation", 403, "theDetectorIsInFaultStatus", "The detector is in fault status."},
    {0x4000a2ff, 4, "Invalid Operation", 403, "theAreaIsDisabled", "The area is disabled."},
    {0x4000a301, 4, "Invalid Operation", 403, "theDetectorIsInTheTestMode", "The detector is in the test mode."},
    {0x4000a303, 4, "Invalid Operation", 403, "theDeviceIsAlarming", "The device is alarming."},
    {0x4000a306, 4, "Invalid Operation", 403, "theDetectorNameAlreadyExists", "The detector name already exists."},
    {0x4000a307, 4, "Invalid Operation", 403, "theAreaNameAlreadyExists", "The area name already exists."},
    {0x4000a308, 4, "Invalid Operation", 403, "thePeripheralNameAlreadyExists", "The peripheral name already exists."},
    {0x4000a36f, 4, "Invalid Operation", 403, "noOperationAllowedDuringArming", "No operation allowed during arming."},
    {0x50000001, 5, "Invalid Format", 400, "badXmlFormat", "Wrong XML format."},
    {0x50000002, 5, "Invalid Format", 400, "badJsonFormat", "Invalid JSON format."},
    {0x50000003, 5, "Invalid Format", 400, "badURLFormat", "Invalid URL format."},
    {0x60000001, 6, "Content Error", 400, "badParameters", "Incorrect parameter."},
    {0x6000003f, 6, "Content Error", 400, "requestMemoryNULL", "No memory is requested."},
    {0x70000001, 7, "Reboot Required", 200, "rebootRequired", "Reboot device to take effect."},
    {0x70000002, 7, "Reboot Required", 200, "autoReboot", "autoReboot"},
};

TEST(StatusDocument, EveryKnownCode) {
    for (const Entry& e : kEntries) {
        Json::Value doc;
        uint32_t http = 0;
        ASSERT_TRUE(buildStatusDocument(e.code, doc, http)) << std::hex << e.code;
        EXPECT_EQ(http, e.http) << std::hex << e.code;
        EXPECT_EQ(doc.size(), 5u);
        ASSERT_TRUE(doc["statusCode"].isUInt() && doc["errorCode"].isUInt());
        EXPECT_EQ(doc["statusCode"].asUInt(), e.statusCode) << std::hex << e.code;
        EXPECT_EQ(doc["statusString"].asString(), e.statusString) << std::hex << e.code;
        EXPECT_EQ(doc["subStatusCode"].asString(), e.sub) << std::hex << e.code;
        EXPECT_EQ(doc["errorCode"].asUInt(), e.code);
        EXPECT_EQ(doc["errorMsg"].asString(), e.msg) << std::hex << e.code;
        EXPECT_STREQ(statusSubKey(e.code), e.sub);
    }
}

// Member order and spelling of the written text; the fields themselves are checked above.
TEST(StatusDocument, CompactTextOfTheNamedCases) {
    EXPECT_EQ(statusDocumentText(1), R"({"errorCode":1,"errorMsg":"ok","statusCode":1,"statusString":"OK","subStatusCode":"ok"})");
    EXPECT_EQ(statusDocumentText(0x70000002), R"({"errorCode":1879048194,"errorMsg":"autoReboot","statusCode":7,)"
                                              R"("statusString":"Reboot Required","subStatusCode":"autoReboot"})");
}

TEST(StatusDocument, UnknownCodesLeaveEverythingAlone) {
    // Class 0, 8 and up; unlisted class 1; just below/past class 2; first gaps of classes 3..7.
    for (uint32_t code : {0u, 2u, 0x0fffffffu, 0x80000001u, 0xffffffffu, 0x10000001u, 0x20000000u, 0x2000000cu,
                          0x30000002u, 0x40000003u, 0x50000004u, 0x60000002u, 0x70000003u, 0x90000001u}) {
        Json::Value doc(Json::objectValue);
        doc["keep"] = 1;
        uint32_t http = 12345;
        EXPECT_FALSE(buildStatusDocument(code, doc, http)) << std::hex << code;
        EXPECT_EQ(doc.size(), 1u) << std::hex << code;
        EXPECT_EQ(http, 12345u);
        EXPECT_EQ(statusSubKey(code), nullptr) << std::hex << code;
        EXPECT_EQ(statusDocumentText(code), "") << std::hex << code;
    }
}

TEST(StatusDocument, KeepsOtherMembersAndReplacesNonObjects) {
    Json::Value doc(Json::objectValue);
    doc["extra"] = "x";
    uint32_t http = 0;
    ASSERT_TRUE(buildStatusDocument(0x60000001, doc, http));
    EXPECT_EQ(http, 400u);
    EXPECT_EQ(doc["extra"].asString(), "x");
    EXPECT_EQ(doc.size(), 6u);

    // A doc of the wrong type must not make the JSON library throw.
    for (Json::Value bad : {Json::Value(Json::arrayValue), Json::Value("text"), Json::Value(7)}) {
        ASSERT_TRUE(buildStatusDocument(0x30000001, bad, http));
        EXPECT_TRUE(bad.isObject());
        EXPECT_EQ(bad["subStatusCode"].asString(), "deviceError");
        EXPECT_EQ(http, 500u);
    }
}

}  // namespace
