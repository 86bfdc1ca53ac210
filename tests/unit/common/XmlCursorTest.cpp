#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "common/XmlCursor.h"

namespace {

// Every element in document order as "depth name|inner markup|text": a second, independent view
// of the index that must agree with a fresh parse of the written text.
std::vector<std::string> snapshot(CXmlCursor& d) {
    std::vector<std::string> out;
    d.resetPosition();
    for (int depth = 0;;) {
        if (d.findElement()) {
            out.push_back(std::to_string(depth++) + " " + d.elementName() + "|" + d.elementContent() + "|" +
                          d.elementText());
            d.enterElement();
        } else if (depth > 0) {
            d.leaveElement();
            --depth;
        } else {
            return out;
        }
    }
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}
std::string nested(int depth) { return repeat("<e>", depth) + repeat("</e>", depth); }

// ---- parse results ----

TEST(XmlCursorParse, RecordsResult) {
    const struct {
        std::string text, result;
        bool root;
        bool prefix = false;  // result only starts with the expected text
    } cases[] = {
        {"", "Empty document", false},
        {"hello", "No root element", false},
        {"<?xml version=\"1.0\" encoding=\"GB2312\"?>\n", "No root element", false},
        {"<a/><b/>", "Root element has sibling", true},
        {"<a>< b/></a>", "Incorrect tag name character at offset 3", true},
        {"<a/><", "Incorrect tag name character at offset 4", true},
        {"<a><!x></a>", "Incorrect ! tag at offset 3", true},
        {"<a><!-x></a>", "Incorrect comment tag at offset 3", true},
        {"<!DOCTYPE a [<!ENTITY x 'y'>", "Incorrect Doctype at offset 0, No root element", false},
        {"<a><!-- x</a>", "Incorrect Comment at offset 3, Incorrect Element tag at offset 0", true},
        {"<a><?pi </a>", "Incorrect Processing instruction at offset 3, Incorrect Element tag at offset 0", true},
        {"<a><![CDATA[x</a>", "Incorrect CDATA Section at offset 3, Incorrect Element tag at offset 0", true},
        {"<a></b></a>", "Incorrect Element end tag at offset 3", true},
        {"<a><b></a>", "Incorrect Element end tag at offset 6", true},
        {"<a></ ></a>", "Incorrect Element end tag at offset 3", true},
        {"<a b=1></a>", "Incorrect Element tag at offset 0, Incorrect Element end tag at offset 7, No root element",
         false},
        {"<a b='1'c='2'/>", "Incorrect Element tag at offset 0, No root element", false},
        {"<a b=\"<\"/>", "Incorrect Element tag at offset 0, Incorrect tag name character at offset 6, No root element",
         false},
        {"<a><b>", "Incorrect Element tag at offset 3, Incorrect Element tag at offset 0", true},
        {nested(64), "", true},
        {nested(100000), "Element nesting too deep at offset 192", true, true},
        // The result text stays bounded however many faults there are.
        {"<a>" + repeat("< ", 100000) + "</a>", "Incorrect tag name character at offset 3, ", true, true},
        {std::string(CXmlCursor::kMaxDocument + 1, ' '), "Document too large", false},
        {"<a/>" + std::string(CXmlCursor::kMaxDocument - 4, ' '), "", true},
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY e \"a>b\">]>\n<!-- c -->\n"
         "<r a='1' b = \"2\"><?pi x?><![CDATA[<no>]]><x/>t&amp;<y></y ></r>\n<!-- tail -->",
         "", true},
        {"<File><23/></File>", "", true},
        {std::string("<a>x\0y</a>", 10), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        CXmlCursor d;
        EXPECT_EQ(d.setDocument(c.text), c.result.empty());
        if (c.prefix) {
            EXPECT_EQ(d.parseResult().rfind(c.result, 0), 0u) << d.parseResult().substr(0, 200);
        } else {
            EXPECT_EQ(d.parseResult(), c.result);
        }
        EXPECT_LT(d.parseResult().size(), 80u * (CXmlCursor::kMaxResults + 1));
        EXPECT_EQ(d.hasRoot(), c.root);
        // A document without a root finds nothing at all.
        if (!c.root) {
            EXPECT_FALSE(d.findElement());
        }
    }
}

TEST(XmlCursorParse, DeepNestingStaysNavigable) {
    CXmlCursor d(nested(100000));
    int depth = 0;
    while (d.findElement("e") && d.enterElement()) ++depth;
    EXPECT_EQ(depth, CXmlCursor::kMaxDepth);
}

// ---- lookup ----

TEST(XmlCursorLookup, TagNameEndsWhereNameContinuesWithSeparator) {
    // found: value of attribute "k" of the element found, nullptr: none.
    const struct { const char *query, *found; } cases[] = {
        {"Params", "1"}, {"Params attr=2", "1"}, {"Params=", "1"}, {"Params/Sub", "1"}, {"Params[2]", "1"},
        {"Params]", "1"}, {"ParamsX", "x"}, {"ParamsXY", nullptr}, {"Par", "p"}, {"Pa", nullptr},
        {"params", nullptr}, {"", "x"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        CXmlCursor d("<r><ParamsX k='x'/><Par k='p'/><Params k='1' attr='2'/><Params k='2'/></r>");
        ASSERT_TRUE(d.findElement("r") && d.enterElement());
        EXPECT_EQ(d.findElement(c.query), c.found != nullptr);
        if (c.found) {
            EXPECT_EQ(d.attribute("k"), c.found);
        }
    }
}

TEST(XmlCursorLookup, WrapAroundFindsPassedFieldsAndStepsThroughRepeats) {
    CXmlCursor d("<m><Version>1</Version><Command>C</Command><Sequence>5</Sequence><i>1</i><x/><i>2</i><i>3</i></m>");
    ASSERT_TRUE(d.findElementWrap("m") && d.enterElement());
    ASSERT_TRUE(d.findElementWrap("Sequence"));
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

TEST(XmlCursorLookup, EnterLeaveAndChildren) {
    CXmlCursor d("<r><a><x>1</x><y>2</y><x>3</x></a><b/></r>");
    EXPECT_FALSE(d.enterElement());
    EXPECT_FALSE(d.leaveElement());
    EXPECT_FALSE(d.findChildElement("x"));  // no current element
    ASSERT_TRUE(d.findElement("r") && d.enterElement() && d.findElement("a"));
    std::string children;
    while (d.findChildElement("x")) children += d.elementContent(d.childPosition());
    EXPECT_EQ(children, "13");
    EXPECT_EQ(d.elementName(), "a");  // the current element did not move
    ASSERT_TRUE(d.enterElement() && d.findElement("y") && d.leaveElement());
    EXPECT_EQ(d.elementName(), "a");
    EXPECT_TRUE(d.findChildElement("x"));  // continues after y, where we left
    EXPECT_EQ(d.elementContent(d.childPosition()), "3");
    EXPECT_TRUE(d.findElement("b"));
    EXPECT_FALSE(d.findElement("a"));  // siblings of a only, never its children
    d.resetPosition();
    EXPECT_TRUE(d.findElement("r"));
    EXPECT_FALSE(d.findElement("r"));
}

// ---- escaping and decoding ----

TEST(XmlCursorEscape, WritesAndReadsBack) {
    // asText: written between the tags; asAttr: between the quotes.
    const struct { const char *data, *asText, *asAttr, *readBack; } cases[] = {
        {"a<b", "a&lt;b", "a&lt;b", "a<b"}, {"x>y", "x&gt;y", "x&gt;y", "x>y"}, {"R&D", "R&amp;D", "R&amp;D", "R&D"},
        {"it's \"q\"", "it's \"q\"", "it&apos;s &quot;q&quot;", "it's \"q\""},
        // An ampersand that already starts an entity reference is kept as written.
        {"&amp;", "&amp;", "&amp;", "&"}, {"&lt;b&gt;", "&lt;b&gt;", "&lt;b&gt;", "<b>"},
        {"&#65;&#x42;", "&#65;&#x42;", "&#65;&#x42;", "AB"}, {"&nbsp;", "&nbsp;", "&nbsp;", "&nbsp;"},
        {"&#;", "&amp;#;", "&amp;#;", "&#;"}, {"&#x;", "&amp;#x;", "&amp;#x;", "&#x;"},
        {"&a b;", "&amp;a b;", "&amp;a b;", "&a b;"}, {"&1;", "&amp;1;", "&amp;1;", "&1;"},
        {"tail&", "tail&amp;", "tail&amp;", "tail&"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        CXmlCursor d("<r/>");
        ASSERT_TRUE(d.findElement("r") && d.addChildElement("t", c.data) && d.setAttribute("v", c.data));
        EXPECT_EQ(d.document(), std::string("<r v=\"") + c.asAttr + "\"><t>" + c.asText + "</t></r>");
        CXmlCursor back(d.document());
        ASSERT_EQ(back.parseResult(), "");
        ASSERT_TRUE(back.findElement("r"));
        EXPECT_EQ(back.attribute("v"), c.readBack);
        ASSERT_TRUE(back.enterElement() && back.findElement("t"));
        EXPECT_EQ(back.elementText(), c.readBack);
    }
}

TEST(XmlCursorText, DecodesContent) {
    const struct { const char *doc, *text; } cases[] = {
        {"<a>x &lt; y &gt; &amp;&apos;&quot;</a>", "x < y > &'\""},
        {"<a>&#65;&#x42;&#xe9;&#x20AC;&#x10FFFF;</a>", "AB\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF"},
        {"<a>&#0;&#xD800;&#x110000;&bogus;&#12a;& x</a>", "&#0;&#xD800;&#x110000;&bogus;&#12a;& x"},  // kept
        {"<a>1<![CDATA[<raw>&amp;]]>2</a>", "1<raw>&amp;2"},
        {"<a>x<b>skip<c>deep</c></b>y<d/>z</a>", "xyz"}, {"<a>x<!-- <b> -->y<?p q?>z</a>", "xyz"},
        {"<a> 5 \n</a>", " 5 \n"}, {"<a/>", ""}, {"<a></a>", ""}, {"<a>partial", "partial"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.doc);
        CXmlCursor d(c.doc);
        ASSERT_TRUE(d.findElement());
        EXPECT_EQ(d.elementText(), c.text);
    }
}

TEST(XmlCursorAttribute, ReadsQuotedValues) {
    CXmlCursor d("<a x='1 &quot;2&quot;' y = \"it&apos;s\" empty=\"\"><b z='3'/></a>");
    ASSERT_TRUE(d.findElement("a"));
    EXPECT_EQ(d.attribute("x"), "1 \"2\"");
    EXPECT_EQ(d.attribute("y"), "it's");
    EXPECT_EQ(d.attribute("empty"), "");
    EXPECT_EQ(d.attribute("z"), "");  // a child's attribute is not ours
    EXPECT_EQ(d.attribute("a"), "");
}

// ---- writing ----

void into(CXmlCursor& d, const char* name) { ASSERT_TRUE(d.findElementWrap(name) && d.enterElement()); }

// After each script the index must describe the written text exactly as a fresh parse does.
TEST(XmlCursorEdit, ShiftsPositionsAndStaysConsistent) {
    const struct {
        const char* name;
        const char* doc;
        std::function<void(CXmlCursor&)> edit;
        const char* expected;
    } cases[] = {
        {"add between siblings", "<r><a/><c/></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.addElement("b", "1"));
             ASSERT_TRUE(d.findElement("c") && d.setAttribute("k", "v"));  // c found at its shifted position
         }, "<r><a/><b>1</b><c k=\"v\"/></r>"},
        {"add at end of level", "<r><a/></r>",
         [](CXmlCursor& d) { into(d, "r"); ASSERT_TRUE(d.addElement("z") && d.addElement("Description", "a<b")); },
         "<r><a/><z/><Description>a&lt;b</Description></r>"},
        {"children into empty tag", "<r><a/><b/></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.addChildElement("x", "y") && d.addChildElement("z"));
             ASSERT_TRUE(d.findElement("b") && d.addChildElement("w"));
         }, "<r><a><x>y</x><z/></a><b><w/></b></r>"},
        {"empty tag with blank", "<r><a /></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.addChildElement("x"));
         }, "<r><a ><x/></a></r>"},
        {"text replaces children", "<r><a><x/><y>1</y></a><b/></r>", [](CXmlCursor& d) {
             into(d, "r");
             ASSERT_TRUE(d.findElement("a") && d.findChildElement("y") && d.setElementText("q<"));
             EXPECT_EQ(d.childPosition(), 0);
             EXPECT_FALSE(d.findChildElement());
             ASSERT_TRUE(d.findElement("b") && d.setElementText("t"));
             ASSERT_TRUE(d.findElementWrap("a") && d.setElementText(""));
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
             // No current element yet.
             EXPECT_FALSE(d.setElementText("x") || d.setAttribute("k", "v") || d.addChildElement("c"));
             into(d, "r");
             for (const char* name : {"", "a b", "<x>", "-x"}) {
                 EXPECT_FALSE(d.addElement(name) || d.addElement(name, "x")) << name;
             }
             for (const char* markup : {"<b>", "text", ""}) EXPECT_FALSE(d.addMarkup(markup)) << markup;
             ASSERT_TRUE(d.findElement("a"));
             EXPECT_FALSE(d.setAttribute("bad name", "v"));
         }, "<r><a/></r>"},
        {"response from scratch", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", [](CXmlCursor& d) {
             ASSERT_TRUE(d.addElement("Message") && d.enterElement());
             ASSERT_TRUE(d.addElement("Pack") && d.setAttribute("type", "TNP") && d.enterElement());
             ASSERT_TRUE(d.addElement("Command", "PLAYBACK_FILE_RSP"));
             ASSERT_TRUE(d.addElement("Result", "OK") && d.setAttribute("id", "200"));
             ASSERT_TRUE(d.addMarkup("<ZORNAMessage><Status>200</Status></ZORNAMessage>"));
             ASSERT_TRUE(d.addElement("Session", "12"));
         },
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Message><Pack type=\"TNP\">"
         "<Command>PLAYBACK_FILE_RSP</Command><Result id=\"200\">OK</Result>"
         "<ZORNAMessage><Status>200</Status></ZORNAMessage><Session>12</Session></Pack></Message>"},
        // The empty element named "23" is written as an empty-element tag and read back.
        {"element named 23", "<r/>", [](CXmlCursor& d) {
             ASSERT_TRUE(d.findElement("r") && d.addChildElement("File") && d.enterElement());
             ASSERT_TRUE(d.findElement("File") && d.addChildElement("23") && d.addChildElement("SegmentCount", "1"));
             ASSERT_TRUE(d.enterElement() && d.findElementWrap("23"));
             EXPECT_EQ(d.elementContent(), "");
         }, "<r><File><23/><SegmentCount>1</SegmentCount></File></r>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CXmlCursor d(c.doc);
        c.edit(d);
        EXPECT_EQ(d.document(), c.expected);
        CXmlCursor fresh(d.document());
        EXPECT_EQ(fresh.parseResult(), "");
        EXPECT_EQ(snapshot(d), snapshot(fresh));
    }
}

TEST(XmlCursorEdit, StatusRewriteInsideFragment) {
    // The response build rewrites the Status of an embedded envelope before adding the fragment.
    CXmlCursor frag("<Command>X</Command><ZORNAMessage><Status>501</Status><Params/></ZORNAMessage>");
    ASSERT_TRUE(frag.findElementWrap("ZORNAMessage") && frag.enterElement());
    ASSERT_TRUE(frag.findElementWrap("Status") && frag.setElementText("200"));
    CXmlCursor out("<Pack/>");
    ASSERT_TRUE(out.findElement("Pack") && out.enterElement() && out.addMarkup(frag.document()));
    EXPECT_EQ(out.document(),
              "<Pack><Command>X</Command><ZORNAMessage><Status>200</Status><Params/></ZORNAMessage></Pack>");
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

TEST(XmlCursorContent, InnerMarkupByPosition) {
    CXmlCursor d("<r><p a=\"1\">x<i>y</i>&lt;</p><e/><u>open</r>");
    ASSERT_TRUE(d.findElement("r"));
    const int root = d.currentPosition();
    ASSERT_TRUE(d.enterElement() && d.findElement("p"));
    EXPECT_EQ(d.elementContent(), "x<i>y</i>&lt;");
    const int p = d.currentPosition();
    ASSERT_TRUE(d.findElement("e"));
    EXPECT_EQ(d.elementContent(), "");
    EXPECT_EQ(d.elementContent(p), "x<i>y</i>&lt;");
    for (int bad : {0, -3, 99999}) EXPECT_EQ(d.elementContent(bad), "") << bad;
    // "<u>" is never ended: it stops where the end tag of r begins.
    ASSERT_TRUE(d.findElement("u"));
    EXPECT_EQ(d.elementContent(), "open");
    EXPECT_EQ(d.elementContent(root), "<p a=\"1\">x<i>y</i>&lt;</p><e/><u>open");
}

// ---- numbers ----

TEST(DecimalValue, ReadsLikeAtoiWithoutOverflow) {
    const struct { const char* text; int32_t value; } cases[] = {
        {"42", 42}, {"  -7x", -7}, {"+3", 3}, {"\n\t12", 12}, {"abc", 0}, {"", 0}, {"- 1", 0}, {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"2147483648", INT32_MAX}, {"99999999999999999999999", INT32_MAX},
        {"-99999999999999999999999", INT32_MIN}};
    for (const auto& c : cases) EXPECT_EQ(vexa::decimalValue(c.text), c.value) << c.text;
}

}  // namespace
