#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "TestSupport.h"
#include "common/XmlCursor.h"

namespace {

TEST(XmlCursorParse, RecordsResult) {
    // prefix: the result only starts with the expected text.
    const struct { std::string text, result; bool root, prefix; } cases[] = {
        {"", "Empty document", false, false}, {"hello", "No root element", false, false},
        {"<?xml version=\"1.0\" encoding=\"GB2312\"?>\n", "No root element", false, false},
        {"<a/><b/>", "Root element has sibling", true, false},
        {"<a>< b/></a>", "Incorrect tag name character at offset 3", true, false},
        {"<a><!x></a>", "Incorrect ! tag at offset 3", true, false},
        {"<a><!-x></a>", "Incorrect comment tag at offset 3", true, false},
        {"<!DOCTYPE a [<!ENTITY x 'y'>", "Incorrect Doctype at offset 0, No root element", false, false},
        {"<a><!-- x</a>", "Incorrect Comment at offset 3, Incorrect Element tag at offset 0", true, false},
        {"<a><?pi </a>", "Incorrect Processing instruction at offset 3, Incorrect Element tag at offset 0", true, false},
        {"<a><![CDATA[x</a>", "Incorrect CDATA Section at offset 3, Incorrect Element tag at offset 0", true, false},
        {"<a></b></a>", "Incorrect Element end tag at offset 3", true, false},
        {"<a><b></a>", "Incorrect Element end tag at offset 6", true, false},
        {"<a b=1></a>", "Incorrect Element tag at offset 0, Incorrect Element end tag at offset 7, No root element",
         false, false},
        {"<a b=\"<\"/>", "Incorrect Element tag at offset 0, Incorrect tag name character at offset 6, No root element",
         false, false},
        {"<a><b>", "Incorrect Element tag at offset 3, Incorrect Element tag at offset 0", true, false},
        {vtest::nested(64), "", true, false}, {vtest::nested(100000), "Element nesting too deep at offset 192", true, true},
        // The result text stays bounded however many faults there are.
        {"<a>" + vtest::repeat("< ", 100000) + "</a>", "Incorrect tag name character at offset 3, ", true, true},
        {std::string(CXmlCursor::kMaxDocument + 1, ' '), "Document too large", false, false},
        {"<a/>" + std::string(CXmlCursor::kMaxDocument - 4, ' '), "", true, false},
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY e \"a>b\">]>\n<!-- c -->\n"
         "<r a='1' b = \"2\"><?pi x?><![CDATA[<no>]]><x/>t&amp;<y></y ></r>\n<!-- tail -->", "", true, false},
        {"<File><23/></File>", "", true, false}, {std::string("<a>x\0y</a>", 10), "", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        CXmlCursor d;
        EXPECT_EQ(d.setDocument(c.text), c.result.empty());
        EXPECT_EQ(c.prefix ? d.parseResult().substr(0, c.result.size()) : d.parseResult(), c.result);
        EXPECT_LT(d.parseResult().size(), 80u * (CXmlCursor::kMaxResults + 1));
        EXPECT_EQ(d.hasRoot(), c.root);
        if (!c.root) { EXPECT_FALSE(d.findElement()); }  // a document without a root finds nothing
    }
    CXmlCursor deep(vtest::nested(100000));  // what was indexed before the limit stays navigable
    int depth = 0;
    while (deep.findElement("e") && deep.enterElement()) ++depth;
    EXPECT_EQ(depth, CXmlCursor::kMaxDepth);
}

TEST(XmlCursorLookup, TagNameEndsWhereNameContinuesWithSeparator) {
    // found: value of attribute "k" of the element found, nullptr: none.
    const struct { const char *query, *found; } cases[] = {
        {"Params", "1"}, {"Params attr=2", "1"}, {"Params=", "1"}, {"Params/Sub", "1"}, {"Params[2]", "1"},
        {"Params]", "1"}, {"ParamsX", "x"}, {"ParamsXY", nullptr}, {"Par", "p"}, {"Pa", nullptr},
        {"params", nullptr}, {"", "x"}};
    for (const auto& c : cases) {
        CXmlCursor d("<r><ParamsX k='x'/><Par k='p'/><Params k='1' attr='2'/><Params k='2'/></r>");
        ASSERT_TRUE(d.findElement("r") && d.enterElement());
        EXPECT_EQ(d.findElement(c.query), c.found != nullptr) << c.query;
        if (c.found) { EXPECT_EQ(d.attribute("k"), c.found) << c.query; }
    }
}

TEST(XmlCursorLookup, WrapAroundFindsPassedFieldsAndStepsThroughRepeats) {
    CXmlCursor d("<m><Version>1</Version><Command>C</Command><Sequence>5</Sequence><i>1</i><x/><i>2</i><i>3</i></m>");
    ASSERT_TRUE(d.findElementWrap("m") && d.enterElement() && d.findElementWrap("Sequence"));
    EXPECT_FALSE(d.findElement("Command"));  // plain lookup only looks ahead
    EXPECT_TRUE(d.findElementWrap("Command"));
    EXPECT_EQ(d.elementText(), "C");
    std::string seen;
    for (int k = 0; k < 4; ++k) seen += d.findElementWrap("i") ? d.elementText() : "-";
    EXPECT_EQ(seen, "1231");
    // A complete miss leaves no current element: the next plain lookup starts at the first.
    EXPECT_FALSE(d.findElementWrap("absent"));
    EXPECT_EQ(d.currentPosition(), 0);
    EXPECT_TRUE(d.findElement("Version"));
}

TEST(XmlCursorLookup, EnterLeaveChildrenAndContent) {
    CXmlCursor d("<r><a><x>1</x><y>2</y><x>3</x></a><b/><u>open</r>");
    EXPECT_FALSE(d.enterElement() || d.leaveElement() || d.findChildElement("x"));  // no current element
    ASSERT_TRUE(d.findElement("r"));
    const int root = d.currentPosition();
    ASSERT_TRUE(d.enterElement() && d.findElement("a"));
    std::string children;
    while (d.findChildElement("x")) children += d.elementContent(d.childPosition());
    EXPECT_EQ(children, "13");
    EXPECT_EQ(d.elementName(), "a");  // the current element did not move
    ASSERT_TRUE(d.enterElement() && d.findElement("y") && d.leaveElement());
    EXPECT_EQ(d.elementName(), "a");
    EXPECT_TRUE(d.findChildElement("x"));  // continues after y, where we left
    EXPECT_EQ(d.elementContent(d.childPosition()), "3");
    EXPECT_TRUE(d.findElement("b"));
    EXPECT_EQ(d.elementContent(), "");
    EXPECT_FALSE(d.findElement("a"));  // siblings of a only, never its children
    for (int bad : {0, -3, 99999}) EXPECT_EQ(d.elementContent(bad), "") << bad;
    // "<u>" is never ended: it stops where the end tag of r begins.
    ASSERT_TRUE(d.findElement("u"));
    EXPECT_EQ(d.elementContent(), "open");
    EXPECT_EQ(d.elementContent(root), "<a><x>1</x><y>2</y><x>3</x></a><b/><u>open");
    d.resetPosition();
    EXPECT_TRUE(d.findElement("r"));
    EXPECT_FALSE(d.findElement("r"));
}

TEST(XmlCursorText, EscapesDecodesAndReadsAttributes) {
    // asText: written between the tags; asAttr: between the quotes. An ampersand that already
    // starts an entity reference is kept as written.
    const struct { const char *data, *asText, *asAttr, *readBack; } cases[] = {
        {"a<b>&", "a&lt;b&gt;&amp;", "a&lt;b&gt;&amp;", "a<b>&"},
        {"it's \"q\"", "it's \"q\"", "it&apos;s &quot;q&quot;", "it's \"q\""},
        {"&amp;", "&amp;", "&amp;", "&"}, {"&lt;b&gt;", "&lt;b&gt;", "&lt;b&gt;", "<b>"},
        {"&#65;&#x42;", "&#65;&#x42;", "&#65;&#x42;", "AB"}, {"&nbsp;", "&nbsp;", "&nbsp;", "&nbsp;"},
        {"&#;", "&amp;#;", "&amp;#;", "&#;"}, {"&#x;", "&amp;#x;", "&amp;#x;", "&#x;"},
        {"&a b;", "&amp;a b;", "&amp;a b;", "&a b;"}, {"&1;", "&amp;1;", "&amp;1;", "&1;"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        CXmlCursor d("<r/>");
        ASSERT_TRUE(d.findElement("r") && d.addChildElement("t", c.data) && d.setAttribute("v", c.data));
        EXPECT_EQ(d.document(), std::string("<r v=\"") + c.asAttr + "\"><t>" + c.asText + "</t></r>");
        CXmlCursor back(d.document());
        ASSERT_TRUE(back.findElement("r"));
        EXPECT_EQ(back.attribute("v"), c.readBack);
        ASSERT_TRUE(back.enterElement() && back.findElement("t"));
        EXPECT_EQ(back.elementText(), c.readBack);
    }
    const struct { const char *doc, *text; } texts[] = {
        {"<a>&#xe9;&#x20AC;&#x10FFFF;</a>", "\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF"},
        {"<a>&#0;&#xD800;&#x110000;&bogus;&#12a;& x</a>", "&#0;&#xD800;&#x110000;&bogus;&#12a;& x"},  // kept
        {"<a>1<![CDATA[<raw>&amp;]]>2</a>", "1<raw>&amp;2"}, {"<a>x<b>skip<c>deep</c></b>y<d/>z</a>", "xyz"},
        {"<a>x<!-- <b> -->y<?p q?>z</a>", "xyz"}, {"<a> 5 \n</a>", " 5 \n"}, {"<a>partial", "partial"}};
    for (const auto& c : texts) {
        CXmlCursor d(c.doc);
        ASSERT_TRUE(d.findElement());
        EXPECT_EQ(d.elementText(), c.text) << c.doc;
    }
    CXmlCursor d("<a x='1 &quot;2&quot;' y = \"it&apos;s\" empty=\"\"><b z='3'/></a>");
    ASSERT_TRUE(d.findElement("a"));
    EXPECT_EQ(d.attribute("x") + "|" + d.attribute("y") + "|" + d.attribute("empty"), "1 \"2\"|it's|");
    EXPECT_EQ(d.attribute("z") + d.attribute("a"), "");  // a child's attribute is not ours
}

void into(CXmlCursor& d, const char* name) { ASSERT_TRUE(d.findElementWrap(name) && d.enterElement()); }

// What each edit writes; that the index still matches the text is the fuzz harness's invariant.
TEST(XmlCursorEdit, WritesAtTheRightPlace) {
    const struct { const char *name, *doc; std::function<void(CXmlCursor&)> edit; const char* expected; } cases[] = {
        {"add between siblings", "<r><a/><c/></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.addElement("b", "1"));
             ASSERT_TRUE(d.findElement("c") && d.setAttribute("k", "v"));  // c found at its shifted position
         }, "<r><a/><b>1</b><c k=\"v\"/></r>"},
        {"children into empty tags", "<r><a/><b /></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.addChildElement("x", "y") && d.addChildElement("z"));
             ASSERT_TRUE(d.findElement("b") && d.addChildElement("w"));
         }, "<r><a><x>y</x><z/></a><b ><w/></b></r>"},
        {"text replaces children", "<r><a><x/><y>1</y></a><b/></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.findChildElement("y") && d.setElementText("q<"));
             EXPECT_EQ(d.childPosition(), 0);
             EXPECT_FALSE(d.findChildElement());
             ASSERT_TRUE(d.findElement("b") && d.setElementText("t") && d.findElementWrap("a") && d.setElementText(""));
         }, "<r><a></a><b>t</b></r>"},
        {"attributes grow and shrink", "<r><a k='long value'><x>1</x></a><b/></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.setAttribute("k", "s") && d.setAttribute("id", "\"7\""));
             ASSERT_TRUE(d.findChildElement("x"));
             EXPECT_EQ(d.elementContent(d.childPosition()), "1");
             ASSERT_TRUE(d.findElement("b") && d.setAttribute("n", "1"));
         }, "<r><a k='s' id=\"&quot;7&quot;\"><x>1</x></a><b n=\"1\"/></r>"},
        {"markup fragment", "<r><a/><c/></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.addMarkup("<b k='v'><i>1</i></b>"));
             EXPECT_EQ(d.elementName(), "b");
             into(d, "b");
             ASSERT_TRUE(d.findElement("i") && d.addElement("j", "2"));  // inside b, after i
             ASSERT_TRUE(d.leaveElement() && d.findElement("c") && d.addMarkup("<x/><y>3</y>"));
             EXPECT_EQ(d.elementName(), "y");
             ASSERT_TRUE(d.addElement("z"));
         }, "<r><a/><b k='v'><i>1</i><j>2</j></b><c/><x/><y>3</y><z/></r>"},
        {"refused changes leave text alone", "<r><a/></r>", [](CXmlCursor& d) {
             EXPECT_FALSE(d.setElementText("x") || d.setAttribute("k", "v") || d.addChildElement("c"));  // no element
             into(d, "r");
             for (const char* name : {"", "a b", "<x>", "-x"}) EXPECT_FALSE(d.addElement(name) || d.addElement(name, "x"));
             for (const char* markup : {"<b>", "text", ""}) EXPECT_FALSE(d.addMarkup(markup)) << markup;
             ASSERT_TRUE(d.findElement("a"));
             EXPECT_FALSE(d.setAttribute("bad name", "v"));
         }, "<r><a/></r>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CXmlCursor d(c.doc);
        c.edit(d);
        EXPECT_EQ(d.document(), c.expected);
    }
}

TEST(XmlCursorEdit, LimitsHoldForWrittenDocuments) {
    CXmlCursor d;
    ASSERT_TRUE(d.addElement("r"));
    EXPECT_EQ(d.parseResult(), "");
    int depth = 1;
    while (d.addChildElement("e") && d.enterElement() && d.findElement("e")) ++depth;
    EXPECT_EQ(depth, CXmlCursor::kMaxDepth);
    EXPECT_FALSE(d.addMarkup("<x/>") && d.enterElement() && d.addMarkup("<y/>"));
    ASSERT_TRUE(d.leaveElement());
    EXPECT_FALSE(d.setElementText(std::string(CXmlCursor::kMaxDocument, 'x')));
    EXPECT_EQ(CXmlCursor(d.document()).parseResult(), "");
}

TEST(DecimalValue, ReadsLikeAtoiWithoutOverflow) {
    const struct { const char* text; int32_t value; } cases[] = {
        {"42", 42}, {"  -7x", -7}, {"+3", 3}, {"\n\t12", 12}, {"abc", 0}, {"", 0}, {"- 1", 0}, {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"2147483648", INT32_MAX}, {"99999999999999999999999", INT32_MAX},
        {"-99999999999999999999999", INT32_MIN}};
    for (const auto& c : cases) EXPECT_EQ(vexa::decimalValue(c.text), c.value) << c.text;
}

}  // namespace
