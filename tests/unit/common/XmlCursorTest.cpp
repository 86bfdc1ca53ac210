#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "XmlCursor.h"

namespace {

std::string caseName(std::string n) {
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

// Every element in document order as "depth name|inner markup|text": a second, independent view
// of the index that must agree with a fresh parse of the written text.
std::vector<std::string> snapshot(CXmlCursor& d) {
    std::vector<std::string> out;
    d.resetPosition();
    int depth = 0;
    for (;;) {
        if (d.findElement()) {
            out.push_back(std::to_string(depth) + " " + d.elementName() + "|" + d.elementContent() + "|" +
                          d.elementText());
            d.enterElement();
            ++depth;
        } else if (depth > 0) {
            d.leaveElement();
            --depth;
        } else {
            break;
        }
    }
    return out;
}

std::string nested(int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += "<e>";
    for (int i = 0; i < depth; ++i) s += "</e>";
    return s;
}

// ---- parse results ----

struct ParseCase {
    const char* name;
    std::string text;
    std::string result;
    bool root;
};

class XmlCursorParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(XmlCursorParse, RecordsResult) {
    const ParseCase& c = GetParam();
    CXmlCursor d;
    EXPECT_EQ(d.setDocument(c.text), c.result.empty());
    EXPECT_EQ(d.parseResult(), c.result);
    EXPECT_EQ(d.hasRoot(), c.root);
    // A document without a root finds nothing at all.
    if (!c.root) {
        EXPECT_FALSE(d.findElement());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Results, XmlCursorParse,
    ::testing::Values(
        ParseCase{"empty", "", "Empty document", false}, ParseCase{"text only", "hello", "No root element", false},
        ParseCase{"declaration only", "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n", "No root element", false},
        ParseCase{"two roots", "<a/><b/>", "Root element has sibling", true},
        ParseCase{"blank after lt", "<a>< b/></a>", "Incorrect tag name character at offset 3", true},
        ParseCase{"lt at end", "<a/><", "Incorrect tag name character at offset 4", true},
        ParseCase{"bang tag", "<a><!x></a>", "Incorrect ! tag at offset 3", true},
        ParseCase{"single dash", "<a><!-x></a>", "Incorrect comment tag at offset 3", true},
        ParseCase{"open doctype", "<!DOCTYPE a [<!ENTITY x 'y'>", "Incorrect Doctype at offset 0, No root element",
                  false},
        ParseCase{"open comment", "<a><!-- x</a>", "Incorrect Comment at offset 3, Incorrect Element tag at offset 0",
                  true},
        ParseCase{"open pi", "<a><?pi </a>",
                  "Incorrect Processing instruction at offset 3, Incorrect Element tag at offset 0", true},
        ParseCase{"open cdata", "<a><![CDATA[x</a>",
                  "Incorrect CDATA Section at offset 3, Incorrect Element tag at offset 0", true},
        ParseCase{"wrong end tag", "<a></b></a>", "Incorrect Element end tag at offset 3", true},
        ParseCase{"end tag skips inner", "<a><b></a>", "Incorrect Element end tag at offset 6", true},
        ParseCase{"end tag without name", "<a></ ></a>", "Incorrect Element end tag at offset 3", true},
        ParseCase{"unquoted attribute", "<a b=1></a>",
                  "Incorrect Element tag at offset 0, Incorrect Element end tag at offset 7, No root element", false},
        ParseCase{"attributes not apart", "<a b='1'c='2'/>", "Incorrect Element tag at offset 0, No root element",
                  false},
        ParseCase{"lt in attribute", "<a b=\"<\"/>",
                  "Incorrect Element tag at offset 0, Incorrect tag name character at offset 6, No root element",
                  false},
        ParseCase{"never ended", "<a><b>", "Incorrect Element tag at offset 3, Incorrect Element tag at offset 0",
                  true},
        ParseCase{"deepest allowed", nested(64), "", true},
        ParseCase{"too large", std::string(CXmlCursor::kMaxDocument + 1, ' '), "Document too large", false},
        ParseCase{"largest allowed", "<a/>" + std::string(CXmlCursor::kMaxDocument - 4, ' '), "", true},
        ParseCase{"all constructs",
                  "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY e \"a>b\">]>\n<!-- c -->\n"
                  "<r a='1' b = \"2\"><?pi x?><![CDATA[<no>]]><x/>t&amp;<y></y ></r>\n<!-- tail -->",
                  "", true},
        ParseCase{"digit name", "<File><23/></File>", "", true},
        ParseCase{"NUL in text", std::string("<a>x\0y</a>", 10), "", true}),
    [](const ::testing::TestParamInfo<ParseCase>& i) { return caseName(i.param.name); });

TEST(XmlCursorParse, DeepNestingStopsAndStaysNavigable) {
    CXmlCursor d(nested(100000));
    EXPECT_EQ(d.parseResult().rfind("Element nesting too deep at offset 192", 0), 0u);
    int depth = 0;
    while (d.findElement("e") && d.enterElement()) ++depth;
    EXPECT_EQ(depth, CXmlCursor::kMaxDepth);
}

TEST(XmlCursorParse, ResultTextIsBounded) {
    std::string text = "<a>";
    for (int i = 0; i < 100000; ++i) text += "< ";
    text += "</a>";
    CXmlCursor d(text);
    EXPECT_LT(d.parseResult().size(), 80u * (CXmlCursor::kMaxResults + 1));
    EXPECT_EQ(d.parseResult().rfind("Incorrect tag name character at offset 3, ", 0), 0u);
}

// ---- lookup ----

struct MatchCase {
    const char* query;
    const char* found;  // value of attribute "k" of the element found, nullptr: none
};

class XmlCursorMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(XmlCursorMatch, TagNameEndsWhereNameContinuesWithSeparator) {
    CXmlCursor d("<r><ParamsX k='x'/><Par k='p'/><Params k='1' attr='2'/><Params k='2'/></r>");
    ASSERT_TRUE(d.findElement("r"));
    ASSERT_TRUE(d.enterElement());
    const MatchCase& c = GetParam();
    EXPECT_EQ(d.findElement(c.query), c.found != nullptr);
    if (c.found) {
        EXPECT_EQ(d.attribute("k"), c.found);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, XmlCursorMatch,
                         ::testing::Values(MatchCase{"Params", "1"}, MatchCase{"Params attr=2", "1"},
                                           MatchCase{"Params=", "1"}, MatchCase{"Params/Sub", "1"},
                                           MatchCase{"Params[2]", "1"}, MatchCase{"Params]", "1"},
                                           MatchCase{"ParamsX", "x"}, MatchCase{"ParamsXY", nullptr},
                                           MatchCase{"Par", "p"}, MatchCase{"Pa", nullptr},
                                           MatchCase{"params", nullptr}, MatchCase{"", "x"}),
                         [](const ::testing::TestParamInfo<MatchCase>& i) {
                             return "q_" + caseName(i.param.query) + "_" + std::to_string(i.index);
                         });

TEST(XmlCursorLookup, WrapAroundFindsPassedFieldsAndStepsThroughRepeats) {
    CXmlCursor d(
        "<m><Version>1</Version><Command>C</Command><Sequence>5</Sequence>"
        "<i>1</i><x/><i>2</i><i>3</i></m>");
    ASSERT_TRUE(d.findElementWrap("m"));
    ASSERT_TRUE(d.enterElement());
    ASSERT_TRUE(d.findElementWrap("Sequence"));
    EXPECT_FALSE(d.findElement("Command"));  // plain lookup only looks ahead
    EXPECT_TRUE(d.findElementWrap("Command"));
    EXPECT_EQ(d.elementText(), "C");

    std::vector<std::string> seen;
    for (int k = 0; k < 4; ++k) {
        ASSERT_TRUE(d.findElementWrap("i"));
        seen.push_back(d.elementText());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3", "1"}));

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
    ASSERT_TRUE(d.findElement("r"));
    ASSERT_TRUE(d.enterElement());
    ASSERT_TRUE(d.findElement("a"));
    std::string children;
    while (d.findChildElement("x")) children += d.elementContent(d.childPosition());
    EXPECT_EQ(children, "13");
    EXPECT_EQ(d.elementName(), "a");  // the current element did not move

    ASSERT_TRUE(d.enterElement());
    ASSERT_TRUE(d.findElement("y"));
    ASSERT_TRUE(d.leaveElement());
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

struct EscapeCase {
    const char* data;
    const char* asText;  // written between the tags
    const char* asAttr;  // written between the quotes
    const char* readBack;
};

class XmlCursorEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(XmlCursorEscape, WritesAndReadsBack) {
    const EscapeCase& c = GetParam();
    CXmlCursor d("<r/>");
    ASSERT_TRUE(d.findElement("r"));
    ASSERT_TRUE(d.addChildElement("t", c.data));
    ASSERT_TRUE(d.setAttribute("v", c.data));
    EXPECT_EQ(d.document(), std::string("<r v=\"") + c.asAttr + "\"><t>" + c.asText + "</t></r>");
    CXmlCursor back(d.document());
    ASSERT_EQ(back.parseResult(), "");
    ASSERT_TRUE(back.findElement("r"));
    EXPECT_EQ(back.attribute("v"), c.readBack);
    ASSERT_TRUE(back.enterElement());
    ASSERT_TRUE(back.findElement("t"));
    EXPECT_EQ(back.elementText(), c.readBack);
}

INSTANTIATE_TEST_SUITE_P(
    Table, XmlCursorEscape,
    ::testing::Values(
        EscapeCase{"a<b", "a&lt;b", "a&lt;b", "a<b"}, EscapeCase{"x>y", "x&gt;y", "x&gt;y", "x>y"},
        EscapeCase{"R&D", "R&amp;D", "R&amp;D", "R&D"},
        EscapeCase{"it's \"q\"", "it's \"q\"", "it&apos;s &quot;q&quot;", "it's \"q\""},
        // An ampersand that already starts an entity reference is kept as written.
        EscapeCase{"&amp;", "&amp;", "&amp;", "&"}, EscapeCase{"&lt;b&gt;", "&lt;b&gt;", "&lt;b&gt;", "<b>"},
        EscapeCase{"&#65;&#x42;", "&#65;&#x42;", "&#65;&#x42;", "AB"},
        EscapeCase{"&nbsp;", "&nbsp;", "&nbsp;", "&nbsp;"}, EscapeCase{"&#;", "&amp;#;", "&amp;#;", "&#;"},
        EscapeCase{"&#x;", "&amp;#x;", "&amp;#x;", "&#x;"}, EscapeCase{"&a b;", "&amp;a b;", "&amp;a b;", "&a b;"},
        EscapeCase{"&1;", "&amp;1;", "&amp;1;", "&1;"}, EscapeCase{"tail&", "tail&amp;", "tail&amp;", "tail&"}),
    [](const ::testing::TestParamInfo<EscapeCase>& i) { return "e" + std::to_string(i.index); });

struct TextCase {
    const char* name;
    const char* doc;
    const char* text;
};

class XmlCursorText : public ::testing::TestWithParam<TextCase> {};

TEST_P(XmlCursorText, DecodesContent) {
    CXmlCursor d(GetParam().doc);
    ASSERT_TRUE(d.findElement());
    EXPECT_EQ(d.elementText(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, XmlCursorText,
    ::testing::Values(TextCase{"entities", "<a>x &lt; y &gt; &amp;&apos;&quot;</a>", "x < y > &'\""},
                      TextCase{"char refs", "<a>&#65;&#x42;&#xe9;&#x20AC;&#x10FFFF;</a>",
                               "AB\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF"},
                      TextCase{"bad refs kept", "<a>&#0;&#xD800;&#x110000;&bogus;&#12a;& x</a>",
                               "&#0;&#xD800;&#x110000;&bogus;&#12a;& x"},
                      TextCase{"cdata as is", "<a>1<![CDATA[<raw>&amp;]]>2</a>", "1<raw>&amp;2"},
                      TextCase{"children skipped", "<a>x<b>skip<c>deep</c></b>y<d/>z</a>", "xyz"},
                      TextCase{"comments and pis skipped", "<a>x<!-- <b> -->y<?p q?>z</a>", "xyz"},
                      TextCase{"blanks kept", "<a> 5 \n</a>", " 5 \n"}, TextCase{"empty tag", "<a/>", ""},
                      TextCase{"no content", "<a></a>", ""}, TextCase{"never ended", "<a>partial", "partial"}),
    [](const ::testing::TestParamInfo<TextCase>& i) { return caseName(i.param.name); });

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

struct EditCase {
    const char* name;
    const char* doc;
    std::function<void(CXmlCursor&)> edit;
    const char* expected;
};

class XmlCursorEdit : public ::testing::TestWithParam<EditCase> {};

// After each script the index must describe the written text exactly as a fresh parse does.
TEST_P(XmlCursorEdit, ShiftsPositionsAndStaysConsistent) {
    const EditCase& c = GetParam();
    CXmlCursor d(c.doc);
    c.edit(d);
    EXPECT_EQ(d.document(), c.expected);
    CXmlCursor fresh(d.document());
    EXPECT_EQ(fresh.parseResult(), "");
    EXPECT_EQ(snapshot(d), snapshot(fresh));
}

void into(CXmlCursor& d, const char* name) {
    ASSERT_TRUE(d.findElementWrap(name));
    ASSERT_TRUE(d.enterElement());
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, XmlCursorEdit,
    ::testing::Values(EditCase{"add between siblings", "<r><a/><c/></r>",
                               [](CXmlCursor& d) {
                                   into(d, "r");
                                   ASSERT_TRUE(d.findElement("a"));
                                   ASSERT_TRUE(d.addElement("b", "1"));
                                   ASSERT_TRUE(d.findElement("c"));  // found at its shifted position
                                   ASSERT_TRUE(d.setAttribute("k", "v"));
                               },
                               "<r><a/><b>1</b><c k=\"v\"/></r>"},
                      EditCase{"add at end of level", "<r><a/></r>",
                               [](CXmlCursor& d) {
                                   into(d, "r");
                                   ASSERT_TRUE(d.addElement("z"));
                                   ASSERT_TRUE(d.addElement("Description", "a<b"));
                               },
                               "<r><a/><z/><Description>a&lt;b</Description></r>"},
                      EditCase{"children into empty tag", "<r><a/><b/></r>",
                               [](CXmlCursor& d) {
                                   into(d, "r");
                                   ASSERT_TRUE(d.findElement("a"));
                                   ASSERT_TRUE(d.addChildElement("x", "y"));
                                   ASSERT_TRUE(d.addChildElement("z"));
                                   ASSERT_TRUE(d.findElement("b"));
                                   ASSERT_TRUE(d.addChildElement("w"));
                               },
                               "<r><a><x>y</x><z/></a><b><w/></b></r>"},
                      EditCase{"empty tag with blank", "<r><a /></r>",
                               [](CXmlCursor& d) {
                                   into(d, "r");
                                   ASSERT_TRUE(d.findElement("a"));
                                   ASSERT_TRUE(d.addChildElement("x"));
                               },
                               "<r><a ><x/></a></r>"},
                      EditCase{"text replaces children", "<r><a><x/><y>1</y></a><b/></r>",
                               [](CXmlCursor& d) {
                                   into(d, "r");
                                   ASSERT_TRUE(d.findElement("a"));
                                   ASSERT_TRUE(d.findChildElement("y"));
                                   ASSERT_TRUE(d.setElementText("q<"));
                                   EXPECT_EQ(d.childPosition(), 0);
                                   EXPECT_FALSE(d.findChildElement());
                                   ASSERT_TRUE(d.findElement("b"));
                                   ASSERT_TRUE(d.setElementText("t"));
                                   ASSERT_TRUE(d.findElementWrap("a"));
                                   ASSERT_TRUE(d.setElementText(""));
                               },
                               "<r><a></a><b>t</b></r>"},
                      EditCase{"attributes grow and shrink", "<r><a k='long value'><x>1</x></a><b/></r>",
                               [](CXmlCursor& d) {
                                   into(d, "r");
                                   ASSERT_TRUE(d.findElement("a"));
                                   ASSERT_TRUE(d.setAttribute("k", "s"));
                                   ASSERT_TRUE(d.setAttribute("id", "\"7\""));
                                   ASSERT_TRUE(d.findChildElement("x"));
                                   EXPECT_EQ(d.elementContent(d.childPosition()), "1");
                                   ASSERT_TRUE(d.findElement("b"));
                                   ASSERT_TRUE(d.setAttribute("n", "1"));
                               },
                               "<r><a k='s' id=\"&quot;7&quot;\"><x>1</x></a><b n=\"1\"/></r>"},
                      EditCase{"markup fragment", "<r><a/><c/></r>",
                               [](CXmlCursor& d) {
                                   into(d, "r");
                                   ASSERT_TRUE(d.findElement("a"));
                                   ASSERT_TRUE(d.addMarkup("<b k='v'><i>1</i></b>"));
                                   EXPECT_EQ(d.elementName(), "b");
                                   into(d, "b");
                                   ASSERT_TRUE(d.findElement("i"));
                                   ASSERT_TRUE(d.addElement("j", "2"));  // inside b, after i
                                   ASSERT_TRUE(d.leaveElement());
                                   ASSERT_TRUE(d.findElement("c"));
                                   ASSERT_TRUE(d.addMarkup("<x/><y>3</y>"));
                                   EXPECT_EQ(d.elementName(), "y");
                                   ASSERT_TRUE(d.addElement("z"));
                               },
                               "<r><a/><b k='v'><i>1</i><j>2</j></b><c/><x/><y>3</y><z/></r>"},
                      EditCase{"refused changes leave text alone", "<r><a/></r>",
                               [](CXmlCursor& d) {
                                   EXPECT_FALSE(d.setElementText("x"));  // no current element
                                   EXPECT_FALSE(d.setAttribute("k", "v"));
                                   EXPECT_FALSE(d.addChildElement("c"));
                                   into(d, "r");
                                   EXPECT_FALSE(d.addElement("", "x"));
                                   EXPECT_FALSE(d.addElement("a b"));
                                   EXPECT_FALSE(d.addElement("<x>"));
                                   EXPECT_FALSE(d.addElement("-x"));
                                   EXPECT_FALSE(d.addMarkup("<b>"));
                                   EXPECT_FALSE(d.addMarkup("text"));
                                   EXPECT_FALSE(d.addMarkup(""));
                                   ASSERT_TRUE(d.findElement("a"));
                                   EXPECT_FALSE(d.setAttribute("bad name", "v"));
                               },
                               "<r><a/></r>"},
                      EditCase{
                          "response from scratch", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
                          [](CXmlCursor& d) {
                              ASSERT_TRUE(d.addElement("Message"));
                              ASSERT_TRUE(d.enterElement());
                              ASSERT_TRUE(d.addElement("Pack"));
                              ASSERT_TRUE(d.setAttribute("type", "TNP"));
                              ASSERT_TRUE(d.enterElement());
                              ASSERT_TRUE(d.addElement("Command", "PLAYBACK_FILE_RSP"));
                              ASSERT_TRUE(d.addElement("Result", "OK"));
                              ASSERT_TRUE(d.setAttribute("id", "200"));
                              ASSERT_TRUE(d.addMarkup("<ZORNAMessage><Status>200</Status></ZORNAMessage>"));
                              ASSERT_TRUE(d.addElement("Session", "12"));
                          },
                          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Message><Pack type=\"TNP\">"
                          "<Command>PLAYBACK_FILE_RSP</Command><Result id=\"200\">OK</Result>"
                          "<ZORNAMessage><Status>200</Status></ZORNAMessage><Session>12</Session></Pack></Message>"},
                      // D30: the empty element named "23" is written as an empty-element tag and read back.
                      EditCase{"element named 23", "<r/>",
                               [](CXmlCursor& d) {
                                   ASSERT_TRUE(d.findElement("r"));
                                   ASSERT_TRUE(d.addChildElement("File"));
                                   ASSERT_TRUE(d.enterElement());
                                   ASSERT_TRUE(d.findElement("File"));
                                   ASSERT_TRUE(d.addChildElement("23"));
                                   ASSERT_TRUE(d.addChildElement("SegmentCount", "1"));
                                   ASSERT_TRUE(d.enterElement());
                                   ASSERT_TRUE(d.findElementWrap("23"));
                                   EXPECT_EQ(d.elementContent(), "");
                               },
                               "<r><File><23/><SegmentCount>1</SegmentCount></File></r>"}),
    [](const ::testing::TestParamInfo<EditCase>& i) { return caseName(i.param.name); });

TEST(XmlCursorEdit, StatusRewriteInsideFragment) {
    // The response build rewrites the Status of an embedded envelope before adding the fragment.
    CXmlCursor frag("<Command>X</Command><ZORNAMessage><Status>501</Status><Params/></ZORNAMessage>");
    ASSERT_TRUE(frag.findElementWrap("ZORNAMessage"));
    ASSERT_TRUE(frag.enterElement());
    ASSERT_TRUE(frag.findElementWrap("Status"));
    ASSERT_TRUE(frag.setElementText("200"));
    CXmlCursor out("<Pack/>");
    ASSERT_TRUE(out.findElement("Pack"));
    ASSERT_TRUE(out.enterElement());
    ASSERT_TRUE(out.addMarkup(frag.document()));
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
    ASSERT_TRUE(d.enterElement());
    ASSERT_TRUE(d.findElement("p"));
    EXPECT_EQ(d.elementContent(), "x<i>y</i>&lt;");
    const int p = d.currentPosition();
    ASSERT_TRUE(d.findElement("e"));
    EXPECT_EQ(d.elementContent(), "");
    EXPECT_EQ(d.elementContent(p), "x<i>y</i>&lt;");
    EXPECT_EQ(d.elementContent(0), "");
    EXPECT_EQ(d.elementContent(-3), "");
    EXPECT_EQ(d.elementContent(99999), "");
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
