// ZORNA ALARM requests into host events: the event table, the record fields and the times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AlarmTestGate.h"
#include "TestSupport.h"
#include "alarm/ZornaAlarm.h"

namespace {

const AlarmSource kDvr{"dvr7", "SN-DVR-7", false};

std::string request(const std::string& params) { return vtest::zornaRequest("ALARM", "<DeviceID>dvr7</DeviceID>" + params); }

// Parses the envelope the way the worker does, then converts for source (null: not registered).
int convert(const std::string& text, AlarmEvent& event, const AlarmSource* source = &kDvr) {
    CXmlCursor cursor(text);
    CZornaMessage message;
    EXPECT_TRUE(message.parseAlarm(cursor));
    return ProcFERROAlarmReq(message, text, source, event);
}

TEST(ZornaAlarm, EventTableByTypeAndAction) {
    const std::string common = "<TimeZoneIdx>15</TimeZoneIdx><Time>2024-03-05 06:07:08</Time>"
                               "<VideoChannel>4</VideoChannel><AlarmInChannel>3</AlarmInChannel><DiskNumber>2</DiskNumber>";
    const std::string tail = " post=1 active=1 dev=dvr7 sn=SN-DVR-7 name= time=2024-03-05T06:07:08+00:00";
    const struct { const char *type, *action; std::string fields; const char *content, *note; } cases[] = {
        {"0", "START", "code=0x10202 cat=30 ch=1" + tail, "", "EVENT_TYPE_DEV_HDD_FULL, dvr7, disk no is 2\n"},
        {"1", "", "code=0x10206 cat=30 ch=1" + tail, "", "EVENT_TYPE_DEV_HDD_ERROR, dvr7, 2\n"},
        {"5", "stop", "code=0x20101 cat=30 ch=4" + tail, "", "EVENT_TYPE_VIDEO_LOST, dvr7\n"},
        {"6", "STOP", "code=0x90001 cat=30 ch=1 post=1 active=0" + tail.substr(16), "\"inputIOPortID\":3,",
         "EVENT_TYPE_IO_IN, dvr7, 3\n"},
        {"7", "START", "code=0x20102 cat=30 ch=4" + tail, "", "EVENT_TYPE_VIDEO_BLOCK, dvr7, 4\n"},
        {"08", "START", "code=0x20103 cat=30 ch=4" + tail, "", "EVENT_TYPE_VIDEO_MOTION, dvr7, 4\n"},
        {"abc", "START", "code=0x10202 cat=30 ch=1" + tail, "", "EVENT_TYPE_DEV_HDD_FULL, dvr7, disk no is 2\n"},
        {"2", "START", "", "", ""}, {"9", "START", "", "", ""}, {"-1", "START", "", "", ""},
    };
    for (const auto& c : cases) {
        AlarmEvent ev;
        EXPECT_EQ(convert(request(common + "<Type>" + c.type + "</Type><Action>" + c.action + "</Action>"), ev), 0);
        ASSERT_EQ(ev.ready, !c.fields.empty()) << c.type;
        if (!ev.ready) continue;
        EXPECT_EQ(ev.info.dwSize, 8808u);
        EXPECT_EQ(vtest::fieldsOf(ev.info), c.fields) << c.type;
        EXPECT_STREQ(ev.info.szContent, c.content) << c.type;
        EXPECT_STREQ(ev.noteFunc, "CAlarmMsgMgr::ProcFERROAlarmReq");
        EXPECT_EQ(ev.note, std::string("CAldonDeviceObject OnAlarmReq ") + c.note) << c.type;
    }
}

TEST(ZornaAlarm, TimesInTheZoneOfTheAlarm) {
    vtest::TzScope tz("XXX-3");  // the machine at UTC+03:00
    const std::vector<int32_t> none(10, 0);
    const struct { const char* name; std::string time, zone; std::vector<int32_t> block; const char* jsonTime; } cases[] = {
        {"zone 28", "2024-03-05 06:07:08", "28", {0, 8, 7, 6, 5, 3, 2024, 0, 0, 28800}, "2024-03-05T06:07:08+08:00"},
        {"no zone: the machine's", "2024-03-05 06:07:08", "", {0, 8, 7, 6, 5, 3, 2024, 0, 0, 10800},
         "2024-03-05T06:07:08+03:00"},
        // One rule for both fields: an index it refuses leaves both empty.
        {"zone 0", "2024-03-05 06:07:08", "0", none, ""},
        {"zone out of the table", "2024-03-05 06:07:08", "36", none, ""},
        {"impossible date", "2023-02-29 00:00:00", "15", none, ""},
        {"no time", "", "15", none, ""},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        AlarmEvent ev;
        std::string params = "<Type>8</Type><TimeZoneIdx>" + c.zone + "</TimeZoneIdx>";
        if (!c.time.empty()) params += "<Time>" + c.time + "</Time>";
        // A time that cannot be converted is no failure: the event goes out without it.
        ASSERT_EQ(convert(request(params), ev), 0) << c.name;
        ASSERT_TRUE(ev.ready) << c.name;
        EXPECT_EQ(std::vector<int32_t>(ev.info.struTime, ev.info.struTime + 10), c.block) << c.name;
        EXPECT_STREQ(ev.info.szTime, c.jsonTime) << c.name;
        EXPECT_EQ(log.contains("TimeZoneIdx exception: " + c.zone + "!, alarm sent without time"),
                  c.zone == "0" || c.zone == "36")
            << c.name;
    }
    // A machine offset the zone table has no text for gives no time text, so no block either.
    vtest::TzScope odd("XXX-8:45");
    AlarmEvent ev;
    ASSERT_EQ(convert(request("<Type>8</Type><Time>2024-03-05 06:07:08</Time>"), ev), 0);
    EXPECT_EQ(std::vector<int32_t>(ev.info.struTime, ev.info.struTime + 10), none);
    EXPECT_STREQ(ev.info.szTime, "");
}

TEST(ZornaAlarm, FailuresAreLoggedAndGiveNoEvent) {
    const struct { const char* name; std::string text; const AlarmSource* source; std::string line; } cases[] = {
        {"no Params", "<ZORNAMessage><CommandType>REQUEST</CommandType><Command>ALARM</Command></ZORNAMessage>", &kDvr,
         "5 VEXA_DEV [CAlarmMsgMgr::ProcFERROAlarmReq("},
        {"Params only deeper down",
         "<ZORNAMessage><CommandType>REQUEST</CommandType><Command>ALARM</Command><X><Params><DeviceID>dvr7"
         "</DeviceID><Type>8</Type></Params></X></ZORNAMessage>",
         &kDvr, "parse alarm data fail!"},
        {"device not registered", request("<Type>8</Type>"), nullptr, "4 VEXA_DEV [CAlarmMsgMgr::ProcFERROAlarmReq("},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        AlarmEvent ev;
        EXPECT_EQ(convert(c.text, ev, c.source), -1) << c.name;
        EXPECT_FALSE(ev.ready) << c.name;
        EXPECT_TRUE(log.contains(c.line)) << c.name;
        EXPECT_EQ(log.contains("GetDeviceImpl fail, DevID:dvr7"), c.source == nullptr) << c.name;
    }
}

}  // namespace
