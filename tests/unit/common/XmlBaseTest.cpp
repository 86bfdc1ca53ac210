#include <gtest/gtest.h>

#include "common/XmlBase.h"
#include "common/XmlLimits.h"
#include "TestSupport.h"

namespace {

TEST(XmlBaseLoad, RefusesWhatTinyXmlCannotTakeSafelyAndForgetsOnReload) {
    const std::string deep = vtest::nested(5000, "a");
    const struct { const char* name; std::string text; bool ok; } cases[] = {
        {"element", "<a/>", true}, {"declaration and root", "<?xml version=\"1.0\"?><storage><hddList/></storage>", true},
        {"empty", "", false}, {"not xml", "{\"eventType\":\"VMD\"}", false},
        {"declaration only", "<?xml version=\"1.0\"?>", false}, {"never ended", "<a><b></a>", false},
        {"NUL inside", std::string("<a>1</a>\0<b/>", 13), false}, {"nesting too deep", deep, false},
        {"too large", "<a>" + std::string(vexa::kMaxXmlText, 'x') + "</a>", false},
    };
    CXmlBase x;  // one object throughout: a refused load must forget the previous document
    for (const auto& c : cases) {
        ASSERT_TRUE(x.load("<a><b/></a>") && x.findElement("a"));
        EXPECT_EQ(x.load(c.text), c.ok) << c.name;
        EXPECT_EQ(x.loaded(), c.ok) << c.name;
        if (!c.ok) { EXPECT_TRUE(x.current() == nullptr && !x.findElement("a")) << c.name; }
    }
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
    EXPECT_EQ(x.attribute("version") + x.attribute("absent"), "2.0");
    ASSERT_TRUE(x.enterElement());
    EXPECT_EQ(x.elementName(), "eventType");
    ASSERT_TRUE(x.findElement("channelID"));
    EXPECT_EQ(x.elementText(), "2");
    EXPECT_FALSE(x.findElement("deviceID"));  // behind the cursor: the cursor stays
    EXPECT_EQ(x.elementName(), "channelID");
    ASSERT_TRUE(x.findSiblingElement("deviceID"));
    EXPECT_EQ(x.elementText(), "D1");
    EXPECT_TRUE(x.hasElement("eventType") && !x.hasElement("EventNotificationAlert"));
    EXPECT_EQ(x.elementName(), "deviceID");  // hasElement does not move
    ASSERT_TRUE(x.leaveElement());
    EXPECT_EQ(x.elementName(), "EventNotificationAlert");
    EXPECT_FALSE(x.leaveElement());
}

TEST(XmlBaseCursor, ElementTextIsTheFirstTextChild) {
    const struct { const char *element, *text; } cases[] = {
        {"channelName", ""}, {"eventDescription", "a<b"}, {"note", "x & y"}, {"mixed", ""}};
    CXmlBase x;
    ASSERT_TRUE(x.load(kAlert) && x.findElement("EventNotificationAlert"));
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

TEST(XmlBaseCursor, EmptyElements) {
    CXmlBase x;
    ASSERT_TRUE(x.load("<r><e/><deviceID>D</deviceID></r>"));
    ASSERT_TRUE(x.findElement("r") && x.enterElement() && x.findElement("e") && x.enterElement());
    // Inside an element without children: nothing is found until we leave.
    EXPECT_EQ(x.current(), nullptr);
    EXPECT_FALSE(x.findSiblingElement("deviceID") || x.findElement("deviceID") || x.enterElement());
    ASSERT_TRUE(x.leaveElement());
    EXPECT_TRUE(x.findSiblingElement("deviceID"));
    x.resetPosition();
    EXPECT_TRUE(x.findElement("r"));
}

}  // namespace
