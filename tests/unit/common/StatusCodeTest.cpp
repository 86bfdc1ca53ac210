#include <gtest/gtest.h>

#include <string>

#include "common/StatusCode.h"

namespace {

struct Listed { uint32_t code; const char *key, *msg; };
const Listed kListed[] = {
#define VEXA_TEST_ROW(name, code, key, msg) {code, key, msg},
    VEXA_STATUS_MAP(VEXA_TEST_ROW)
#undef VEXA_TEST_ROW
};

// Class number -> statusString and HTTP status as the host reads them.
const struct { const char* text; uint32_t http; } kClass[8] = {
    {"", 0}, {"OK", 200}, {"Device Busy", 503}, {"Device Error", 500}, {"Invalid Operation", 403},
    {"Invalid Format", 400}, {"Content Error", 400}, {"Reboot Required", 200}};

TEST(StatusDocument, EveryListedCodeRoundTrips) {
    for (const Listed& e : kListed) {
        const uint32_t cls = e.code <= 1 ? 1 : e.code >> 28;
        Json::Value doc;
        uint32_t http = 0;
        ASSERT_TRUE(buildStatusDocument(e.code, doc, http)) << std::hex << e.code;
        EXPECT_EQ(doc.size(), 5u);
        EXPECT_EQ(http, kClass[cls].http) << std::hex << e.code;
        EXPECT_TRUE(doc["statusCode"] == Json::UInt(cls) && doc["errorCode"] == Json::UInt(e.code)) << std::hex << e.code;
        EXPECT_EQ(doc["statusString"].asString() + "|" + doc["subStatusCode"].asString() + "|" + doc["errorMsg"].asString(),
                  std::string(kClass[cls].text) + "|" + e.key + "|" + e.msg);
        EXPECT_STREQ(statusSubKey(e.code), e.key);
    }
}

// The exact bytes the host receives for a few codes.
TEST(StatusDocument, CompactTexts) {
    const struct { uint32_t code; const char* text; } rows[] = {
        {vexa::status::kOk, R"({"errorCode":1,"errorMsg":"ok","statusCode":1,"statusString":"OK","subStatusCode":"ok"})"},
        {0x40000006, R"({"errorCode":1073741830,"errorMsg":"Invalid operation.","statusCode":4,)"
                     R"("statusString":"Invalid Operation","subStatusCode":"invalidOperation"})"},
        {0x70000002, R"({"errorCode":1879048194,"errorMsg":"autoReboot","statusCode":7,)"
                     R"("statusString":"Reboot Required","subStatusCode":"autoReboot"})"},
    };
    for (const auto& r : rows) EXPECT_EQ(statusDocumentText(r.code), r.text) << std::hex << r.code;
}

TEST(StatusDocument, CodesWithoutDocumentLeaveEverythingAlone) {
    // Results without a document (258 among them: the host must see invalidOperation), class 0,
    // class 8 and up, and gaps next to listed codes of every class.
    const uint32_t unknown[] = {
#define VEXA_TEST_CODE(name, code) code,
        VEXA_RESULT_MAP(VEXA_TEST_CODE)
#undef VEXA_TEST_CODE
        2u, 0x0fffffffu, 0x80000001u, 0x90000001u, 0x10000001u, 0x20000000u, 0x2000000cu, 0x30000002u,
        0x40000003u, 0x50000004u, 0x60000002u, 0x70000003u};
    for (uint32_t code : unknown) {
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
    ASSERT_TRUE(buildStatusDocument(vexa::status::kBadParameters, doc, http));
    EXPECT_EQ(doc["extra"].asString(), "x");
    EXPECT_EQ(doc.size(), 6u);
    // A doc of the wrong type must not make the JSON library throw.
    for (Json::Value bad : {Json::Value(Json::arrayValue), Json::Value("text"), Json::Value(7)}) {
        ASSERT_TRUE(buildStatusDocument(vexa::status::kDeviceError, bad, http));
        EXPECT_EQ(bad["subStatusCode"].asString(), "deviceError");
    }
}

}  // namespace
