#include <gtest/gtest.h>

#include "EventContent.h"
#include "JsonUtil.h"

namespace {

using vexa::MemberList;

TEST(EventContent, FitsOrShortensTheLongestTextsAndStaysValid) {
    Json::Value nested(Json::objectValue);
    nested["url"] = std::string(3000, 'u');
    nested["n"] = 7;
    struct Case {
        const char* name;
        MemberList members;
        size_t limit;
        bool ok;
        const char* exact;  // when the whole result is known
    } cases[] = {
        {"fits", {{"a", "x"}, {"b", 2}}, 100, true, "\"a\":\"x\",\"b\":2"},
        {"order kept", {{"z", 1}, {"a", 2}}, 100, true, "\"z\":1,\"a\":2"},
        {"escaped names and texts", {{"q\"", "a\"b\n"}}, 100, true, "\"q\\\"\":\"a\\\"b\\n\""},
        {"longest text shortened", {{"short", "keep"}, {"long", std::string(5000, 'l')}}, 1000, true, nullptr},
        {"nested text shortened", {{"CIDAlarm", nested}}, 2047, true, nullptr},
        {"escape heavy", {{"c", std::string(4000, '\x01')}}, 2047, true, nullptr},
        {"multibyte", {{"t", std::string(3000, 'x') + "\xe6\x97\xa5\xe6\x9c\xac"}}, 1500, true, nullptr},
        {"cannot fit", {{std::string(200, 'k'), 1}}, 100, false, ""},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(vexa::writeMemberList(c.members, c.limit, out), c.ok) << c.name;
        EXPECT_LE(out.size(), c.limit) << c.name;
        if (c.exact) {
            EXPECT_EQ(out, c.exact) << c.name;
        }
        if (!c.ok) continue;
        Json::Value doc;
        ASSERT_TRUE(vexa::parseJson("{" + out + "}", doc)) << c.name << ": " << out.substr(0, 200);
        for (const auto& m : c.members) EXPECT_TRUE(doc.isMember(m.first)) << c.name;
    }
}

TEST(EventContent, ShortTextsSurviveWhenALongOneIsCut) {
    MemberList m = {{"zoneName", "Front door"}, {"videoURL", std::string(9000, 'v')}};
    std::string out;
    ASSERT_TRUE(vexa::writeMemberList(m, 8191, out));
    Json::Value doc;
    ASSERT_TRUE(vexa::parseJson("{" + out + "}", doc));
    EXPECT_EQ(doc["zoneName"].asString(), "Front door");
    EXPECT_GT(doc["videoURL"].asString().size(), 7000u);  // only what had to go went
}

TEST(EventContent, FieldCopyKeepsCharactersWhole) {
    char f[5];
    vexa::copyTextField(f, sizeof f, "ab\xe6\x97\xa5");  // 2 + 3 bytes: the last character does not fit
    EXPECT_STREQ(f, "ab");
    vexa::copyTextField(f, sizeof f, "abcdef");
    EXPECT_STREQ(f, "abcd");
    vexa::copyTextField(f, 0, "x");  // nothing written, no crash
}

}  // namespace
