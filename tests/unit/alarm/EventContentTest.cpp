#include <gtest/gtest.h>

#include "alarm/EventContent.h"
#include "common/JsonUtil.h"
#include "common/Utf8.h"

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
        {"fits, in the given order", {{"b", "x"}, {"a", 2}}, 100, true, "\"b\":\"x\",\"a\":2"},
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

TEST(EventContent, FieldCopyKeepsCharactersWhole) {
    char f[5];
    vexa::copyTextField(f, sizeof f, "ab\xe6\x97\xa5");  // 2 + 3 bytes: the last character does not fit
    EXPECT_STREQ(f, "ab");
    vexa::copyTextField(f, sizeof f, "abcdef");
    EXPECT_STREQ(f, "abcd");
    vexa::copyTextField(f, 0, "x");  // nothing written, no crash
    vexa::copyTextField(f, sizeof f, "a\xff");  // repaired, then cut whole
    EXPECT_STREQ(f, "a\xef\xbf\xbd");
}

// Each ill-formed sequence (its maximal valid prefix) becomes one U+FFFD; valid text is untouched.
TEST(Utf8, IllFormedSequencesBecomeReplacementCharacters) {
    const std::string R = "\xef\xbf\xbd";
    const struct { const char* name; std::string in, out; } cases[] = {
        {"two to four bytes", "\xc3\xa9\xe6\x97\xa5\xf0\x9f\x94\x94", "\xc3\xa9\xe6\x97\xa5\xf0\x9f\x94\x94"},
        {"NUL is a character", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"lone continuation bytes", "a\x80\xbf" "b", "a" + R + R + "b"},
        {"latin-1 text", "Caf\xe9 Nord", "Caf" + R + " Nord"},
        {"overlong two bytes", "\xc0\xaf", R + R},
        {"surrogate", "\xed\xa0\x80", R + R + R},
        {"above U+10FFFF", "\xf4\x90\x80\x80", R + R + R + R},
        {"truncated sequence then ASCII", "\xe6\x97x", R + "x"},
        {"truncated at the end", "ok\xf0\x9f\x94", "ok" + R},
        {"new start inside a sequence", "\xe6\xc3\xa9", R + "\xc3\xa9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vexa::sanitizeUtf8(c.in), c.out) << c.name;
        EXPECT_EQ(vexa::isValidUtf8(c.in), c.in == c.out) << c.name;
        EXPECT_TRUE(vexa::isValidUtf8(c.out)) << c.name;
    }
}

TEST(EventContent, DeviceTextIsRepairedAtAnyDepthAndInNames) {
    Json::Value nested(Json::objectValue);
    nested["zone\xff"] = "Hall\xc0";
    nested["list"].append("\xed\xa0\x80");
    std::string out;
    ASSERT_TRUE(vexa::writeMemberList({{"name\xfe", "Caf\xe9"}, {"CIDAlarm", nested}}, 1000, out));
    EXPECT_EQ(out, "\"name\xef\xbf\xbd\":\"Caf\xef\xbf\xbd\",\"CIDAlarm\":{\"list\":[\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\"],"
                   "\"zone\xef\xbf\xbd\":\"Hall\xef\xbf\xbd\"}");
}

}  // namespace
