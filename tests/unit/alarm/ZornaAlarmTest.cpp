// ZORNA ALARM requests into host events: the event table, the record fields and the times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "alarm/AlarmMsgMgr.h"
#include "EventSink.h"
#include "AlarmTestGate.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"
#include "alarm/ZornaAlarm.h"
#include "alarm/ZornaMessage.h"

namespace {

using vtest::onEvent;
using vtest::Sink;

using vtest::TzScope;

class ZornaAlarm : public ::testing::Test {
protected:
    void SetUp() override {
        dev = std::make_shared<CVexaDevice>();
        dev->SetEventCallBack(&onEvent, &sink);
        dev->Connect_V2("DeviceId=dvr7;AlarmActiveStatus=active;");
        dev->setLogin({-1, "10.0.0.7", 7000, "v3", "SN-DVR-7"});
    }
    void TearDown() override { dev->DisConnect(); }

    static std::string request(const std::string& params) {
        return "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<ZORNAMessage><Version>3.0</Version><Sequence>12"
               "</Sequence><CommandType>REQUEST</CommandType><Command>ALARM</Command><Params>" +
               params + "</Params></ZORNAMessage>";
    }
    // Parses the envelope the way the worker does, then converts.
    static int convert(const std::string& text) {
        CXmlCursor cursor(text);
        CZornaMessage message;
        EXPECT_TRUE(message.parseAlarm(cursor));
        return ProcFERROAlarmReq(message, text);
    }

    Sink sink;
    std::shared_ptr<CVexaDevice> dev;
};

TEST_F(ZornaAlarm, EventTableByType) {
    const std::string common =
        "<DeviceID>dvr7</DeviceID><Action>START</Action><TimeZoneIdx>15</TimeZoneIdx><Time>2024-03-05 06:07:08</Time>"
        "<VideoChannel>4</VideoChannel><AlarmInChannel>3</AlarmInChannel><DiskNumber>2</DiskNumber>";
    const struct { const char* type; bool event; uint32_t code; int channel; const char* content; std::string line; } cases[] = {
        {"0", true, 0x10202, 1, "", "CAldonDeviceObject OnAlarmReq EVENT_TYPE_DEV_HDD_FULL, dvr7, disk no is 2\n"},
        {"1", true, 0x10206, 1, "", "CAldonDeviceObject OnAlarmReq EVENT_TYPE_DEV_HDD_ERROR, dvr7, 2\n"},
        {"5", true, 0x20101, 4, "", "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_LOST, dvr7\n"},
        {"6", true, 0x90001, 1, "\"inputIOPortID\":3,", "CAldonDeviceObject OnAlarmReq EVENT_TYPE_IO_IN, dvr7, 3\n"},
        {"7", true, 0x20102, 4, "", "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_BLOCK, dvr7, 4\n"},
        {"8", true, 0x20103, 4, "", "CAldonDeviceObject OnAlarmReq EVENT_TYPE_VIDEO_MOTION, dvr7, 4\n"},
        {"08", true, 0x20103, 4, "", "EVENT_TYPE_VIDEO_MOTION"},
        {"2", false, 0, 0, "", ""},
        {"3", false, 0, 0, "", ""},
        {"4", false, 0, 0, "", ""},
        {"9", false, 0, 0, "", ""},
        {"-1", false, 0, 0, "", ""},
        {"", true, 0x10202, 1, "", "EVENT_TYPE_DEV_HDD_FULL"},  // read like atoi: 0
        {"abc", true, 0x10202, 1, "", "EVENT_TYPE_DEV_HDD_FULL"},  // read like atoi: 0
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        sink.events.clear();
        EXPECT_EQ(convert(request(common + "<Type>" + c.type + "</Type>")), 0) << c.type;
        ASSERT_EQ(sink.events.size(), c.event ? 1u : 0u) << c.type;
        if (!c.event) {
            EXPECT_FALSE(log.contains("OnAlarmReq")) << c.type;
            continue;
        }
        const AlarmEventInfo& e = sink.events[0];
        EXPECT_EQ(e.dwSize, 8808u);
        EXPECT_EQ(e.dwEventCode, c.code) << c.type;
        EXPECT_EQ(e.dwCategory, 30u) << c.type;
        EXPECT_EQ(e.iChannel, c.channel) << c.type;
        EXPECT_EQ(e.iActivePostCount, 1) << c.type;
        EXPECT_EQ(e.dwActive, 1u) << c.type;
        EXPECT_STREQ(e.szContent, c.content) << c.type;
        EXPECT_STREQ(e.szName, "") << c.type;
        EXPECT_STREQ(e.szDeviceID, "dvr7") << c.type;
        EXPECT_STREQ(e.szSerialNo, "SN-DVR-7") << c.type;
        EXPECT_TRUE(log.contains("2 VEXA_DEV [CAlarmMsgMgr::ProcFERROAlarmReq(")) << c.type;
        EXPECT_TRUE(log.contains(c.line)) << c.type;
    }
}

TEST_F(ZornaAlarm, StoppedInputAlarm) {
    ASSERT_EQ(convert(request("<Type>6</Type><AlarmInChannel>3</AlarmInChannel><Action>STOP</Action>"
                              "<DeviceID>dvr7</DeviceID><PassNumber>1</PassNumber><Remark>x</Remark>"
                              "<DetectionRegionList><DetectionRegionEntry/></DetectionRegionList>")),
              0);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].dwEventCode, 0x90001u);
    EXPECT_EQ(sink.events[0].iChannel, 1);
    EXPECT_EQ(sink.events[0].dwActive, 0u);
    EXPECT_STREQ(sink.events[0].szContent, "\"inputIOPortID\":3,");
}

TEST_F(ZornaAlarm, ActionOtherThanStopIsActive) {
    for (const char* action : {"START", "stop", "", "STOP"}) {
        sink.events.clear();
        convert(request(std::string("<DeviceID>dvr7</DeviceID><Type>5</Type><Action>") + action + "</Action>"));
        ASSERT_EQ(sink.events.size(), 1u) << action;
        EXPECT_EQ(sink.events[0].dwActive, std::string(action) == "STOP" ? 0u : 1u) << action;
    }
}

TEST_F(ZornaAlarm, TimesInTheZoneOfTheAlarm) {
    TzScope tz("XXX-3");  // the machine at UTC+03:00
    const struct { const char* name; std::string time, zone; std::vector<int32_t> block; const char* jsonTime; } cases[] = {
        {"zone 28", "2024-03-05 06:07:08", "28", {0, 8, 7, 6, 5, 3, 2024, 0, 0, 28800}, "2024-03-05T06:07:08+08:00"},
        {"zone 1", "2024-12-31 23:59:59", "1", {0, 59, 59, 23, 31, 12, 2024, 0, 0, -43200},
         "2024-12-31T23:59:59-12:00"},
        {"zone 24", "2000-02-29 00:00:00", "24", {0, 0, 0, 0, 29, 2, 2000, 0, 0, 20700}, "2000-02-29T00:00:00+05:45"},
        {"no zone: the machine's", "2024-03-05 06:07:08", "", {0, 8, 7, 6, 5, 3, 2024, 0, 0, 10800},
         "2024-03-05T06:07:08+03:00"},
        // One rule for both fields: an index it refuses leaves both empty.
        {"zone 0", "2024-03-05 06:07:08", "0", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"zone with a sign", "2024-03-05 06:07:08", "+28", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"zone with trailing junk", "2024-03-05 06:07:08", "28x", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"zone out of the table", "2024-03-05 06:07:08", "36", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"impossible date", "2023-02-29 00:00:00", "15", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"year out of range", "1969-12-31 23:59:59", "15", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"wrong layout", "2024/03/05 06:07:08", "15", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"no time", "", "15", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
    };
    for (const auto& c : cases) {
        sink.events.clear();
        std::string params = "<DeviceID>dvr7</DeviceID><Type>8</Type><TimeZoneIdx>" + c.zone + "</TimeZoneIdx>";
        if (!c.time.empty()) params += "<Time>" + c.time + "</Time>";
        // A time that cannot be converted is no failure: the event goes out without it.
        ASSERT_EQ(convert(request(params)), 0) << c.name;
        ASSERT_EQ(sink.events.size(), 1u) << c.name;
        const AlarmEventInfo& e = sink.events[0];
        EXPECT_EQ(std::vector<int32_t>(e.struTime, e.struTime + 10), c.block) << c.name;
        EXPECT_STREQ(e.szTime, c.jsonTime) << c.name;
    }
    // A machine offset the zone table has no text for gives no time text, so no block either.
    TzScope odd("XXX-8:45");
    sink.events.clear();
    ASSERT_EQ(convert(request("<DeviceID>dvr7</DeviceID><Type>8</Type><Time>2024-03-05 06:07:08</Time>")), 0);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(std::vector<int32_t>(sink.events[0].struTime, sink.events[0].struTime + 10), std::vector<int32_t>(10, 0));
    EXPECT_STREQ(sink.events[0].szTime, "");
}

TEST_F(ZornaAlarm, FailuresAreLoggedAndSendNothing) {
    const struct { const char* name; std::string text; std::string line; } cases[] = {
        {"no Params", "<ZORNAMessage><CommandType>REQUEST</CommandType><Command>ALARM</Command></ZORNAMessage>",
         "5 VEXA_DEV [CAlarmMsgMgr::ProcFERROAlarmReq("},
        {"Params only deeper down",
         "<ZORNAMessage><CommandType>REQUEST</CommandType><Command>ALARM</Command><X><Params><DeviceID>dvr7"
         "</DeviceID><Type>8</Type></Params></X></ZORNAMessage>",
         "parse alarm data fail!"},
        {"device not registered", request("<DeviceID>ghost</DeviceID><Type>8</Type>"),
         "4 VEXA_DEV [CAlarmMsgMgr::ProcFERROAlarmReq("},
    };
    for (const auto& c : cases) {
        vtest::LogCapture log;
        EXPECT_EQ(convert(c.text), -1) << c.name;
        EXPECT_TRUE(log.contains(c.line)) << c.name;
    }
    vtest::LogCapture log;
    convert(request("<DeviceID>ghost</DeviceID><Type>8</Type>"));
    EXPECT_TRUE(log.contains("GetDeviceImpl fail, DevID:ghost"));
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(ZornaAlarm, ThroughTheWorkerInAnyElementOrder) {
    CAlarmMsgMgr::instance()->processAlarm(
        "<ZORNAMessage><Params><Time>2024-01-02 03:04:05</Time><Type>7</Type><TimeZoneIdx>15</TimeZoneIdx>"
        "<VideoChannel>9</VideoChannel><DeviceID>dvr7</DeviceID></Params><Command>ALARM</Command>"
        "<CommandType>REQUEST</CommandType><Sequence>3</Sequence><Version>3.0</Version></ZORNAMessage>");
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].dwEventCode, 0x20102u);
    EXPECT_EQ(sink.events[0].iChannel, 9);
    EXPECT_STREQ(sink.events[0].szTime, "2024-01-02T03:04:05+00:00");
}

TEST_F(ZornaAlarm, InactiveDeviceStillLogsTheRow) {
    dev->SetConnectParams("AlarmActiveStatus=inactive;");
    vtest::LogCapture log;
    EXPECT_EQ(convert(request("<DeviceID>dvr7</DeviceID><Type>1</Type><DiskNumber>5</DiskNumber>")), 0);
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(log.contains("[deviceID=dvr7,pactiveStatus=0]send failed."));
    EXPECT_TRUE(log.contains("EVENT_TYPE_DEV_HDD_ERROR, dvr7, 5"));
}

}  // namespace
