#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "common/ZornaMessage.h"

namespace {

// Every member, so that one comparison covers the whole object.
std::string fields(const CZornaMessage& m) {
    return "V=" + m.Version + " S=" + std::to_string(m.Sequence) + " T=" + m.CommandType + " C=" + m.Command +
           " CC=" + m.ConfigCmd + " W=" + m.WhichCommand + " St=" + std::to_string(m.Status) + " D=" + m.Description +
           " Dev=" + m.DeviceID + " Pu=" + m.PuIp + ":" + std::to_string(m.PuPort) + " Reg=" + m.RegIp + ":" +
           std::to_string(m.RegPort) + " SN=" + m.DeviceSN;
}

#define REQ_FIELDS "V=3.0 S=7 T=REQUEST C=ALARM CC=cfg W= St=258 D= Dev=D1 "
TEST(ZornaParse, BothForms) {
    // full: fields after the full-form parse; alarm: after the alarm-form parse, nullptr: the same.
    const struct { const char *name, *doc; bool ok; const char *full, *alarm; } cases[] = {
        {"request in writing order",
         "<?xml version=\"1.0\"?><ZORNAMessage><Version>3.0</Version><Sequence>7</Sequence>"
         "<CommandType>REQUEST</CommandType><Pu><Ip>10.0.0.2</Ip><Port>9000</Port></Pu>"
         "<Command>ALARM</Command><Params><ConfigCmd>cfg</ConfigCmd><DeviceID>D1</DeviceID>"
         "<DeviceSN>SN9</DeviceSN><RegIp>10.0.0.3</RegIp><RegPort>7660</RegPort><Type>6</Type></Params>"
         "</ZORNAMessage>",
         true, REQ_FIELDS "Pu=10.0.0.2:9000 Reg=10.0.0.3:7660 SN=SN9", REQ_FIELDS "Pu=:0 Reg=:0 SN="},
        {"request in reverse order",
         "<ZORNAMessage><Params><RegPort>7660</RegPort><RegIp>10.0.0.3</RegIp><DeviceSN>SN9</DeviceSN>"
         "<DeviceID>D1</DeviceID><ConfigCmd>cfg</ConfigCmd></Params><Command>ALARM</Command>"
         "<Pu><Port>9000</Port><Ip>10.0.0.2</Ip></Pu><CommandType>REQUEST</CommandType>"
         "<Sequence>7</Sequence><Version>3.0</Version></ZORNAMessage>",
         true, REQ_FIELDS "Pu=10.0.0.2:9000 Reg=10.0.0.3:7660 SN=SN9", REQ_FIELDS "Pu=:0 Reg=:0 SN="},
        {"response",
         "<ZORNAMessage><Sequence>-3</Sequence><Version>1.0</Version><CommandType>RESPONSE</CommandType>"
         "<Status>501</Status><WhichCommand>ALARM</WhichCommand><Description>a &lt; b</Description>"
         "<Command>ignored</Command><Params><DeviceID>ignored</DeviceID></Params></ZORNAMessage>",
         true, "V=1.0 S=-3 T=RESPONSE C= CC= W=ALARM St=501 D=a < b Dev= Pu=:0 Reg=:0 SN=", nullptr},
        // Anything but "REQUEST" is read as a response.
        {"unknown command type",
         "<ZORNAMessage><CommandType>request</CommandType><Command>X</Command></ZORNAMessage>", true,
         "V=0.1 S=0 T=request C= CC= W= St=258 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
        {"numbers saturate",
         "<ZORNAMessage><Sequence>99999999999</Sequence><CommandType>RESPONSE</CommandType>"
         "<Status>-99999999999</Status></ZORNAMessage>",
         true, "V=0.1 S=2147483647 T=RESPONSE C= CC= W= St=-2147483648 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
        {"other root", "<EventNotificationAlert><Version>2</Version></EventNotificationAlert>", false,
         "V=0.1 S=0 T= C= CC= W= St=258 D= Dev= Pu=:0 Reg=:0 SN=", nullptr},
    };
    for (const auto& c : cases) {
        CXmlCursor doc(c.doc);
        CZornaMessage full, alarm;
        EXPECT_EQ(full.parse(doc), c.ok) << c.name;
        EXPECT_EQ(alarm.parseAlarm(doc), c.ok) << c.name;
        EXPECT_EQ(fields(full), c.full) << c.name;
        EXPECT_EQ(fields(alarm), c.alarm ? c.alarm : c.full) << c.name;
    }
}
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

// The whole document, parameters appended by the caller included.
TEST(ZornaBuild, WritesTheEnvelope) {
    const struct { const char* name; std::function<void(CZornaMessage&)> fill; const char* text; } cases[] = {
        {"update request with pu and trace",
         [](CZornaMessage& m) {
             m = CZornaUpdateReq();
             m.Version = "2.0", m.Sequence = 12, m.PuIp = "10.1.1.1", m.PuPort = 554, m.TraceId = "t1";
             m.SpanId = "s1", m.DeviceID = "D<1>", m.ConfigCmd = "c&d";
         },
         "<ZORNAMessage><Version>2.0</Version><Sequence>12</Sequence><CommandType>REQUEST</CommandType>"
         "<Pu><Ip>10.1.1.1</Ip><Port>554</Port><TraceId>t1</TraceId><SpanId>s1</SpanId></Pu>"
         "<Command>UPDATE</Command><Params><DeviceID>D&lt;1&gt;</DeviceID><ConfigCmd>c&amp;d</ConfigCmd>"
         "</Params></ZORNAMessage>"},
        {"no pu block without ip",
         [](CZornaMessage& m) { m = CZornaCidReportReq(); m.PuPort = 80; m.TraceId = "t"; m.SpanId = "s"; m.Sequence = -1; },
         "<ZORNAMessage><Version>0.1</Version><Sequence>-1</Sequence><CommandType>REQUEST</CommandType>"
         "<Command>CIDREPORT</Command><Params><DeviceID/><ConfigCmd/></Params></ZORNAMessage>"},
        {"response with description",
         [](CZornaMessage& m) { m = CZornaAlarmRsp(); m.Description = "it's \"ok\""; m.Sequence = INT32_MIN; },
         "<ZORNAMessage><Version>0.1</Version><Sequence>-2147483648</Sequence><CommandType>RESPONSE"
         "</CommandType><WhichCommand>ALARM</WhichCommand><Status>200</Status><Description>it's \"ok\""
         "</Description><Params><DeviceID/><ConfigCmd/></Params></ZORNAMessage>"},
    };
    for (const auto& c : cases) {
        CZornaMessage m;
        c.fill(m);
        CXmlCursor doc("<old/>");
        ASSERT_TRUE(m.build(doc)) << c.name;
        // The caller's parameters land inside Params.
        ASSERT_TRUE(doc.addElement("DeviceID", m.DeviceID) && doc.addElement("ConfigCmd", m.ConfigCmd)) << c.name;
        EXPECT_EQ(doc.document(), std::string("<?xml version=\"1.0\" encoding=\"GB2312\"?>\n") + c.text) << c.name;
    }
}

}  // namespace
