#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "alarm/ZornaMessage.h"

namespace {

std::string caseName(std::string n) {
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

// Every member, so that one comparison covers the whole object.
std::string fields(const CZornaMessage& m) {
    return "V=" + m.Version + " S=" + std::to_string(m.Sequence) + " T=" + m.CommandType + " C=" + m.Command +
           " CC=" + m.ConfigCmd + " W=" + m.WhichCommand + " St=" + std::to_string(m.Status) + " D=" + m.Description +
           " Dev=" + m.DeviceID + " Pu=" + m.PuIp + ":" + std::to_string(m.PuPort) + " Reg=" + m.RegIp + ":" +
           std::to_string(m.RegPort) + " SN=" + m.DeviceSN;
}

// ---- parse ----

struct ParseCase {
    const char* name;
    const char* doc;
    bool ok;
    const char* full;   // fields after the full-form parse
    const char* alarm;  // after the alarm-form parse; nullptr: the same
};

// Readable test lines: the case name, not the parameter's bytes.
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class ZornaParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ZornaParse, BothForms) {
    const ParseCase& c = GetParam();
    CXmlCursor doc(c.doc);
    CZornaMessage full, alarm;
    EXPECT_EQ(full.parse(doc), c.ok);
    EXPECT_EQ(alarm.parseAlarm(doc), c.ok);
    EXPECT_EQ(fields(full), c.full);
    EXPECT_EQ(fields(alarm), c.alarm ? c.alarm : c.full);
}

#define REQ_FIELDS "V=3.0 S=7 T=REQUEST C=ALARM CC=cfg W= St=258 D= Dev=D1 "
INSTANTIATE_TEST_SUITE_P(
    Docs, ZornaParse,
    ::testing::Values(
        ParseCase{"request in writing order",
                  "<?xml version=\"1.0\"?><ZORNAMessage><Version>3.0</Version><Sequence>7</Sequence>"
                  "<CommandType>REQUEST</CommandType><Pu><Ip>10.0.0.2</Ip><Port>9000</Port></Pu>"
                  "<Command>ALARM</Command><Params><ConfigCmd>cfg</ConfigCmd><DeviceID>D1</DeviceID>"
                  "<DeviceSN>SN9</DeviceSN><RegIp>10.0.0.3</RegIp><RegPort>7660</RegPort><Type>6</Type></Params>"
                  "</ZORNAMessage>",
                  true, REQ_FIELDS "Pu=10.0.0.2:9000 Reg=10.0.0.3:7660 SN=SN9", REQ_FIELDS "Pu=:0 Reg=:0 SN="},
        ParseCase{"request in reverse order",
                  "<ZORNAMessage><Params><RegPort>7660</RegPort><RegIp>10.0.0.3</RegIp><DeviceSN>SN9</DeviceSN>"
                  "<DeviceID>D1</DeviceID><ConfigCmd>cfg</ConfigCmd></Params><Command>ALARM</Command>"
                  "<Pu><Port>9000</Port><Ip>10.0.0.2</Ip></Pu><CommandType>REQUEST</CommandType>"
                  "<Sequence>7</Sequence><Version>3.0</Version></ZORNAMessage>",
                  true, REQ_FIELDS "Pu=10.0.0.2:9000 Reg=10.0.0.3:7660 SN=SN9", REQ_FIELDS "Pu=:0 Reg=:0 SN="},
        ParseCase{"response",
                  "<ZORNAMessage><Sequence>-3</Sequence><Version>1.0</Version><CommandType>RESPONSE</CommandType>"
                  "<Status>501</Status><WhichCommand>ALARM</WhichCommand><Description>a &lt; b</Description>"
                  "<Command>ignored</Command><Params><DeviceID>ignored</DeviceID></Params></ZORNAMessage>",
                  true, "V=1.0 S=-3 T=RESPONSE C= CC= W=ALARM St=501 D=a < b Dev= Pu=:0 Reg=:0 SN=", nullptr},
        // Anything but "REQUEST" is read as a response.
        ParseCase{"unknown command type",
                  "<ZORNAMessage><CommandType>request</CommandType><Command>X</Command></ZORNAMessage>", true,
                  "V=0.1 S=0 T=request C= CC= W= St=258 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
        ParseCase{"request without params",
                  "<ZORNAMessage><CommandType>REQUEST</CommandType><Command>CIDREPORT</Command></ZORNAMessage>", true,
                  "V=0.1 S=0 T=REQUEST C=CIDREPORT CC= W= St=258 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
        ParseCase{"numbers saturate",
                  "<ZORNAMessage><Sequence>99999999999</Sequence><CommandType>RESPONSE</CommandType>"
                  "<Status>-99999999999</Status></ZORNAMessage>",
                  true, "V=0.1 S=2147483647 T=RESPONSE C= CC= W= St=-2147483648 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
        ParseCase{"empty envelope", "<ZORNAMessage/>", true,
                  "V=0.1 S=0 T= C= CC= W= St=258 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
        ParseCase{"other root", "<EventNotificationAlert><Version>2</Version></EventNotificationAlert>", false,
                  "V=0.1 S=0 T= C= CC= W= St=258 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
        ParseCase{"not on top level", "<Message><ZORNAMessage><Version>2</Version></ZORNAMessage></Message>", false,
                  "V=0.1 S=0 T= C= CC= W= St=258 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
        ParseCase{"no document", "", false, "V=0.1 S=0 T= C= CC= W= St=258 D= Dev= Pu=:0 Reg=:0 SN=", nullptr}),
    [](const ::testing::TestParamInfo<ParseCase>& i) { return caseName(i.param.name); });
#undef REQ_FIELDS

TEST(ZornaParse, CursorEndsInsideParams) {
    CXmlCursor doc(
        "<ZORNAMessage><CommandType>REQUEST</CommandType><Params><DeviceID>D</DeviceID>"
        "<Type>6</Type></Params></ZORNAMessage>");
    CZornaMessage m;
    ASSERT_TRUE(m.parseAlarm(doc));
    ASSERT_TRUE(doc.findElementWrap("Type"));
    EXPECT_EQ(doc.elementText(), "6");
}

// ---- write ----

struct BuildCase {
    const char* name;
    std::function<void(CZornaMessage&)> fill;
    const char* text;  // the whole document, parameters appended by the caller included
};

void PrintTo(const BuildCase& c, std::ostream* os) { *os << c.name; }

class ZornaBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(ZornaBuild, WritesAndParsesBack) {
    const BuildCase& c = GetParam();
    CZornaMessage m;
    c.fill(m);
    CXmlCursor doc("<old/>");
    ASSERT_TRUE(m.build(doc));
    // The caller's parameters land inside Params.
    ASSERT_TRUE(doc.addElement("DeviceID", m.DeviceID));
    ASSERT_TRUE(doc.addElement("ConfigCmd", m.ConfigCmd));
    EXPECT_EQ(doc.document(), std::string("<?xml version=\"1.0\" encoding=\"GB2312\"?>\n") + c.text);

    CXmlCursor back(doc.document());
    ASSERT_EQ(back.parseResult(), "");
    CZornaMessage read;
    ASSERT_TRUE(read.parse(back));
    // Written-only and request-only members do not come back.
    CZornaMessage expected = m;
    expected.TraceId = expected.SpanId = "";
    if (m.CommandType == "REQUEST") {
        expected.WhichCommand = "";
        expected.Status = 258;
        expected.Description = "";
    } else {
        expected.Command = expected.ConfigCmd = expected.DeviceID = "";
    }
    if (m.PuIp.empty()) expected.PuPort = 0;
    EXPECT_EQ(fields(read), fields(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Envelopes, ZornaBuild,
    ::testing::Values(
        BuildCase{"update request with pu and trace",
                  [](CZornaMessage& m) {
                      m = CZornaUpdateReq();
                      m.Version = "2.0";
                      m.Sequence = 12;
                      m.PuIp = "10.1.1.1";
                      m.PuPort = 554;
                      m.TraceId = "t1";
                      m.SpanId = "s1";
                      m.DeviceID = "D<1>";
                      m.ConfigCmd = "c&d";
                  },
                  "<ZORNAMessage><Version>2.0</Version><Sequence>12</Sequence><CommandType>REQUEST</CommandType>"
                  "<Pu><Ip>10.1.1.1</Ip><Port>554</Port><TraceId>t1</TraceId><SpanId>s1</SpanId></Pu>"
                  "<Command>UPDATE</Command><Params><DeviceID>D&lt;1&gt;</DeviceID><ConfigCmd>c&amp;d</ConfigCmd>"
                  "</Params></ZORNAMessage>"},
        BuildCase{"trace id without span id",
                  [](CZornaMessage& m) {
                      m = CZornaAlarmReq();
                      m.PuIp = "h";
                      m.TraceId = "t1";
                  },
                  "<ZORNAMessage><Version>3.0</Version><Sequence>0</Sequence><CommandType>REQUEST</CommandType>"
                  "<Pu><Ip>h</Ip><Port>0</Port></Pu><Command>ALARM</Command><Params><DeviceID/><ConfigCmd/>"
                  "</Params></ZORNAMessage>"},
        BuildCase{"no pu block without ip",
                  [](CZornaMessage& m) {
                      m = CZornaCidReportReq();
                      m.PuPort = 80;
                      m.TraceId = "t";
                      m.SpanId = "s";
                      m.Sequence = -1;
                  },
                  "<ZORNAMessage><Version>0.1</Version><Sequence>-1</Sequence><CommandType>REQUEST</CommandType>"
                  "<Command>CIDREPORT</Command><Params><DeviceID/><ConfigCmd/></Params></ZORNAMessage>"},
        BuildCase{"response with description",
                  [](CZornaMessage& m) {
                      m = CZornaAlarmRsp();
                      m.Description = "it's \"ok\"";
                      m.Sequence = INT32_MIN;
                  },
                  "<ZORNAMessage><Version>0.1</Version><Sequence>-2147483648</Sequence><CommandType>RESPONSE"
                  "</CommandType><WhichCommand>ALARM</WhichCommand><Status>200</Status><Description>it's \"ok\""
                  "</Description><Params><DeviceID/><ConfigCmd/></Params></ZORNAMessage>"},
        BuildCase{"response without description",
                  [](CZornaMessage& m) {
                      m = CZornaAlarmRsp();
                      m.Command = "not written";
                  },
                  "<ZORNAMessage><Version>0.1</Version><Sequence>0</Sequence><CommandType>RESPONSE</CommandType>"
                  "<WhichCommand>ALARM</WhichCommand><Status>200</Status><Params><DeviceID/><ConfigCmd/></Params>"
                  "</ZORNAMessage>"}),
    [](const ::testing::TestParamInfo<BuildCase>& i) { return caseName(i.param.name); });

}  // namespace
