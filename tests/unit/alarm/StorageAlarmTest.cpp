// Storage alarms: the analysis of storage answers, its state across polls and the alarm document.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "alarm/AlarmMsgMgr.h"
#include "alarm/StorageAlarm.h"
#include "EventSink.h"
#include "TestSupport.h"
#include "common/TimeConvert.h"
#include "device/VexaDevice.h"

namespace {

using vtest::onEvent;
using vtest::Sink;

std::string hdd(const std::string& status, const std::string& freeSpace) {
    std::string s = "<hdd><id>1</id><capacity>1000</capacity>";
    if (!status.empty()) s += "<status>" + status + "</status>";
    if (!freeSpace.empty()) s += "<freeSpace>" + freeSpace + "</freeSpace>";
    return s + "</hdd>";
}

std::string storage(const std::string& disks) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<storage version=\"2.0\"><hddList>" + disks +
           "</hddList><nasList/></storage>";
}

const std::string kLoopOn = "<storageExtension><LoopEnable>true</LoopEnable></storageExtension>";
const std::string kLoopOff = "<storageExtension><LoopEnable>false</LoopEnable></storageExtension>";

class StorageAlarm : public ::testing::Test {
protected:
    void SetUp() override {
        dev = std::make_shared<CVexaDevice>();
        dev->SetEventCallBack(&onEvent, &sink);
        dev->Connect_V2("DeviceId=nvr3;DevType=encodingDev;AlarmActiveStatus=active;");
    }
    void TearDown() override { dev->DisConnect(); }

    // Event type of the alarm a poll reports, "" when it reports nothing.
    std::string poll(const std::string& answer, const std::string* extension = &kLoopOff) {
        const std::string doc = checkStorageState(*dev, answer, extension);
        if (doc.empty()) return std::string();
        TiXmlDocument x;
        x.Parse(doc.c_str());
        const TiXmlElement* type = x.RootElement() ? x.RootElement()->FirstChildElement("eventType") : nullptr;
        return type && type->GetText() ? type->GetText() : "?";
    }

    Sink sink;
    std::shared_ptr<CVexaDevice> dev;
};

TEST(StorageAnalysis, StateOfOneAnswer) {
    const struct { const char* name; std::string answer; bool raisedBefore; bool loop; vexa::StorageState state; bool raisedAfter; bool loopAsked; } cases[] = {
        {"one disk ok with space", storage(hdd("ok", "500")), false, false, vexa::kStorageNormal, false, false},
        {"one disk ok and full", storage(hdd("ok", "0")), false, false, vexa::kStorageFull, true, true},
        {"full but loop recording", storage(hdd("ok", "0")), false, true, vexa::kStorageNormal, false, true},
        {"full but loop recording after an alarm", storage(hdd("ok", "0")), true, true, vexa::kStorageRecover, false,
         true},
        {"space back after an alarm", storage(hdd("ok", "10")), true, false, vexa::kStorageRecover, false, false},
        {"idle disk counts", storage(hdd("idle", "0")), false, false, vexa::kStorageFull, true, true},
        {"negative space is full", storage(hdd("ok", "-1")), false, false, vexa::kStorageFull, true, true},
        {"space summed over disks", storage(hdd("ok", "0") + hdd("ok", "0.5")), false, false, vexa::kStorageNormal,
         false, false},
        {"missing disk's space ignored", storage(hdd("ok", "0") + hdd("notexist", "900")), false, false,
         vexa::kStorageFull, true, true},
        {"only a missing disk", storage(hdd("notexist", "0")), false, false, vexa::kStorageNormal, false, false},
        {"disk error at once", storage(hdd("error", "100") + hdd("ok", "0")), false, true, vexa::kStorageError, true,
         false},
        {"error after a good disk", storage(hdd("ok", "0") + hdd("unformatted", "")), false, false, vexa::kStorageError,
         true, false},
        {"status in another case is an error", storage(hdd("OK", "5")), false, false, vexa::kStorageError, true, false},
        {"empty status is an error", storage("<hdd><status/></hdd>"), false, false, vexa::kStorageError, true, false},
        {"no status, no space", storage(hdd("", "")), false, false, vexa::kStorageNormal, false, false},
        {"space without status counts", storage(hdd("", "0")), false, false, vexa::kStorageFull, true, true},
        {"space text not a number reads 0", storage(hdd("ok", "lots")), false, false, vexa::kStorageFull, true, true},
        {"no disks", storage(""), true, false, vexa::kStorageRecover, false, false},
        {"other children between disks", storage("<note/>" + hdd("ok", "0") + "<note/>" + hdd("ok", "3")), false, false,
         vexa::kStorageNormal, false, false},
        {"not XML", "{\"storage\":1}", true, false, vexa::kStorageUnknown, true, false},
        {"empty answer", "", true, false, vexa::kStorageUnknown, true, false},
        {"other root", "<status><hddList/></status>", true, false, vexa::kStorageUnknown, true, false},
        {"no hddList", "<storage><nasList/></storage>", true, false, vexa::kStorageUnknown, true, false},
        {"cut off", storage(hdd("ok", "0")).substr(0, 60), true, false, vexa::kStorageUnknown, true, false},
    };
    for (const auto& c : cases) {
        bool raised = c.raisedBefore;
        bool asked = false;
        const vexa::StorageState s = vexa::storageStateFromXml(c.answer, raised, [&] {
            asked = true;
            return c.loop;
        });
        EXPECT_EQ(s, c.state) << c.name;
        EXPECT_EQ(raised, c.raisedAfter) << c.name;
        EXPECT_EQ(asked, c.loopAsked) << c.name;
    }
}

TEST(StorageAnalysis, LoopEnableAnswer) {
    const struct { std::string answer; bool enabled; } cases[] = {
        {kLoopOn, true},
        {kLoopOff, false},
        {"<storageExtension><LoopEnable>TRUE</LoopEnable></storageExtension>", false},
        {"<storageExtension><LoopEnable/></storageExtension>", false},
        {"<storageExtension/>", false},
        {"<other><LoopEnable>true</LoopEnable></other>", false},
        {"<storageExtension><x><LoopEnable>true</LoopEnable></x></storageExtension>", false},
        {"<storageExtension><LoopEnable>true</LoopEnable>", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(vexa::storageLoopEnableFromXml(c.answer), c.enabled) << c.answer;
}

TEST_F(StorageAlarm, FullThenRecoveryThenNothing) {
    const struct { const char* name; std::string answer; const std::string* extension; std::string reported; } steps[] = {
        {"full", storage(hdd("ok", "0")), &kLoopOff, "diskfull"},
        {"still full is reported again", storage(hdd("ok", "0")), &kLoopOff, "diskfull"},
        {"malformed answer changes nothing", "<storage>", &kLoopOff, ""},
        {"space again", storage(hdd("ok", "100")), &kLoopOff, "diskrecover"},
        {"recovery only once", storage(hdd("ok", "100")), &kLoopOff, ""},
        {"full with loop recording", storage(hdd("ok", "0")), &kLoopOn, ""},
        {"full, extension query failed", storage(hdd("ok", "0")), nullptr, "diskfull"},
        {"an error", storage(hdd("smartFailed", "100")), &kLoopOff, "diskerror"},
        {"missing disk only", storage(hdd("notexist", "0")), &kLoopOff, "diskrecover"},
        {"normal", storage(hdd("notexist", "0")), &kLoopOff, ""},
    };
    for (const auto& s : steps) EXPECT_EQ(poll(s.answer, s.extension), s.reported) << s.name;
}

TEST_F(StorageAlarm, LoopRecordingIsLoggedWhenItSuppressesAFullDisk) {
    vtest::LogCapture log;
    EXPECT_EQ(poll(storage(hdd("ok", "0")), &kLoopOn), "");
    EXPECT_TRUE(log.contains("2 VEXA_DEV") && log.contains("[deviceID=nvr3]storage loop is enable,not need send diskfull."));
}

TEST_F(StorageAlarm, WithoutASessionNothingIsReportedAndTheFlagStays) {
    dev->setHddAlarmRaised(true);
    EXPECT_EQ(checkStorageState(*dev), "");
    EXPECT_TRUE(dev->hddAlarmRaised());
    EXPECT_FALSE(isStorageLoopEnable(*dev));
}

TEST_F(StorageAlarm, AlarmDocumentLayout) {
    vtest::TzScope tz("XXX-5:30");
    const struct { int state; const char* type; } cases[] = {{2, "diskerror"}, {3, "diskfull"}, {4, "diskrecover"}, {1, nullptr}, {0, nullptr}, {5, nullptr},
                 {-1, nullptr}};
    for (const auto& c : cases) {
        const std::string doc = buildHddAlarm(*dev, c.state);
        if (!c.type) {
            EXPECT_EQ(doc, "") << c.state;
            continue;
        }
        EXPECT_EQ(doc.find("<?xml"), std::string::npos) << c.state;
        TiXmlDocument x;
        x.Parse(doc.c_str());
        ASSERT_FALSE(x.Error()) << doc;
        const TiXmlElement* root = x.RootElement();
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->ValueStr(), "EventNotificationAlert");
        std::vector<std::string> names, texts;
        for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
            names.push_back(e->ValueStr());
            texts.push_back(e->GetText() ? e->GetText() : "");
        }
        EXPECT_EQ(names, (std::vector<std::string>{"channelID", "dateTime", "eventType", "eventState",
                                                   "eventDescription", "deviceID", "channelName"}));
        ASSERT_EQ(texts.size(), 7u);
        EXPECT_EQ(texts[0], "0");
        EXPECT_TRUE(isValidJsonTime(texts[1])) << texts[1];
        EXPECT_EQ(texts[1].substr(19), "+05:30");
        EXPECT_EQ(texts[2], c.type);
        EXPECT_EQ(texts[3], "active");
        EXPECT_EQ(texts[4], std::string(c.type) + " alarm");
        EXPECT_EQ(texts[5], "nvr3");
        EXPECT_EQ(texts[6], "");
    }
}

TEST_F(StorageAlarm, ReportedDocumentBecomesAHostEvent) {
    for (const std::string& answer : {storage(hdd("ok", "0")), storage(hdd("error", ""))}) {
        const std::string doc = checkStorageState(*dev, answer, &kLoopOff);
        ASSERT_FALSE(doc.empty()) << answer;
        CAlarmMsgMgr::instance()->processAlarm(doc);
    }
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_STREQ(sink.events[0].szEventType, "diskfull");
    EXPECT_STREQ(sink.events[0].szDescription, "diskfull alarm");
    EXPECT_STREQ(sink.events[0].szDeviceID, "nvr3");
    EXPECT_EQ(sink.events[0].dwActive, 1u);
    EXPECT_EQ(sink.events[0].iChannel, 0);
    EXPECT_STREQ(sink.events[1].szEventType, "diskerror");
}

TEST_F(StorageAlarm, DeviceIdentifierIsEscapedInTheDocument) {
    auto odd = std::make_shared<CVexaDevice>();
    odd->SetEventCallBack(&onEvent, &sink);
    odd->Connect_V2("DeviceId=a<b>&\"c';AlarmActiveStatus=active;");
    const std::string doc = buildHddAlarm(*odd, vexa::kStorageError);
    TiXmlDocument x;
    x.Parse(doc.c_str());
    ASSERT_FALSE(x.Error()) << doc;
    EXPECT_STREQ(x.RootElement()->FirstChildElement("deviceID")->GetText(), "a<b>&\"c'");
    CAlarmMsgMgr::instance()->processAlarm(doc);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_STREQ(sink.events[0].szDeviceID, "a<b>&\"c'");
    odd->DisConnect();
}

}  // namespace
