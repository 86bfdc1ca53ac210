#include <gtest/gtest.h>

#include "common/XmlBase.h"
#include "common/XmlLimits.h"

namespace {

TEST(XmlBaseLoad, RefusesWhatTinyXmlCannotTakeSafely) {
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<a>";
    for (int i = 0; i < 5000; ++i) deep += "</a>";
    const struct {
        const char* name;
        std::string text;
        bool ok;
    } cases[] = {
        {"element", "<a/>", true},
        {"declaration and root", "<?xml version=\"1.0\"?><storage><hddList/></storage>", true},
        {"empty", "", false},
        {"not xml", "{\"eventType\":\"VMD\"}", false},
        {"declaration only", "<?xml version=\"1.0\"?>", false},
        {"never ended", "<a><b></a>", false},
        {"NUL inside", std::string("<a>1</a>\0<b/>", 13), false},
        {"nesting too deep", deep, false},
        {"too large", "<a>" + std::string(vexa::kMaxXmlText, 'x') + "</a>", false},
    };
    for (const auto& c : cases) {
        CXmlBase x;
        EXPECT_EQ(x.load(c.text), c.ok) << c.name;
        EXPECT_EQ(x.loaded(), c.ok) << c.name;
        if (!c.ok) {
            EXPECT_FALSE(x.findElement("a")) << c.name;
        }
    }
}

TEST(XmlBaseLoad, ReloadForgetsThePreviousDocument) {
    CXmlBase x;
    ASSERT_TRUE(x.load("<a><b/></a>"));
    ASSERT_TRUE(x.findElement("a"));
    EXPECT_FALSE(x.load("<broken"));
    EXPECT_EQ(x.current(), nullptr);
    EXPECT_FALSE(x.findElement("a"));
    ASSERT_TRUE(x.load("<c/>"));
    EXPECT_TRUE(x.findElement("c"));
}

const char* const kAlert =
    "<EventNotificationAlert version=\"2.0\"><eventType>VMD</eventType><deviceID>D1</deviceID>"
    "<channelID>2</channelID><channelName/><eventDescription><![CDATA[a<b]]></eventDescription>"
    "<note>x &amp; y</note><mixed><i/>text</mixed></EventNotificationAlert>";

TEST(XmlBaseCursor, FindLooksAheadSiblingSearchLooksEverywhere) {
    CXmlBase x;
    ASSERT_TRUE(x.load(kAlert));
    EXPECT_FALSE(x.findElement("deviceID"));  // not on the top level
    EXPECT_EQ(x.current(), nullptr);
    ASSERT_TRUE(x.findElement("EventNotificationAlert"));
    EXPECT_EQ(x.attribute("version"), "2.0");
    EXPECT_EQ(x.attribute("absent"), "");
    ASSERT_TRUE(x.enterElement());
    EXPECT_EQ(x.elementName(), "eventType");
    ASSERT_TRUE(x.findElement("channelID"));
    EXPECT_EQ(x.elementText(), "2");
    EXPECT_FALSE(x.findElement("deviceID"));  // behind the cursor: the cursor stays
    EXPECT_EQ(x.elementName(), "channelID");
    ASSERT_TRUE(x.findSiblingElement("deviceID"));
    EXPECT_EQ(x.elementText(), "D1");
    EXPECT_TRUE(x.hasElement("eventType"));
    EXPECT_FALSE(x.hasElement("EventNotificationAlert"));
    EXPECT_EQ(x.elementName(), "deviceID");  // hasElement does not move
    ASSERT_TRUE(x.leaveElement());
    EXPECT_EQ(x.elementName(), "EventNotificationAlert");
    EXPECT_FALSE(x.leaveElement());
}

TEST(XmlBaseCursor, ElementTextIsTheFirstTextChild) {
    const struct {
        const char* element;
        const char* text;
    } cases[] = {{"channelName", ""}, {"eventDescription", "a<b"}, {"note", "x & y"}, {"mixed", ""}};
    CXmlBase x;
    ASSERT_TRUE(x.load(kAlert));
    ASSERT_TRUE(x.findElement("EventNotificationAlert"));
    std::string text;
    for (const auto& c : cases) {
        EXPECT_TRUE(x.childText(c.element, text)) << c.element;
        EXPECT_EQ(text, c.text) << c.element;
    }
    EXPECT_FALSE(x.childText("absent", text));
    ASSERT_TRUE(x.enterElement());
    for (const auto& c : cases) {
        ASSERT_TRUE(x.findSiblingElement(c.element));
        EXPECT_EQ(x.elementText(), c.text) << c.element;
    }
}

TEST(XmlBaseCursor, EnteringAnElementWithoutChildrenStaysInside) {
    CXmlBase x;
    ASSERT_TRUE(x.load("<r><e/><deviceID>D</deviceID></r>"));
    ASSERT_TRUE(x.findElement("r"));
    ASSERT_TRUE(x.enterElement());
    ASSERT_TRUE(x.findElement("e"));
    ASSERT_TRUE(x.enterElement());
    EXPECT_EQ(x.current(), nullptr);
    EXPECT_FALSE(x.findSiblingElement("deviceID"));
    EXPECT_FALSE(x.findElement("deviceID"));
    EXPECT_FALSE(x.enterElement());
    ASSERT_TRUE(x.leaveElement());
    EXPECT_TRUE(x.findSiblingElement("deviceID"));
    x.resetPosition();
    EXPECT_TRUE(x.findElement("r"));
}

TEST(XmlBaseCursor, StepsThroughRepeatedElementsInOrder) {
    CXmlBase x;
    ASSERT_TRUE(x.load("<storage><hddList><hdd><status>ok</status></hdd><other/>"
                       "<hdd><status>idle</status></hdd><hdd><status>error</status></hdd></hddList></storage>"));
    ASSERT_TRUE(x.findElement("storage"));
    ASSERT_TRUE(x.enterElement());
    ASSERT_TRUE(x.findSiblingElement("hddList"));
    ASSERT_TRUE(x.enterElement());
    std::string all, status;
    for (bool more = x.findElement("hdd"); more; more = x.nextElement("hdd")) {
        ASSERT_TRUE(x.childText("status", status));
        all += status + ",";
    }
    EXPECT_EQ(all, "ok,idle,error,");
}

}  // namespace
