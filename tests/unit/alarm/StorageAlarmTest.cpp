// Storage alarms: the analysis of storage answers, its state across polls and the alarm document.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <memory>
#include <string>
#include <vector>

#include "AlarmTestGate.h"
#include "TestSupport.h"
#include "alarm/AlarmMsgMgr.h"
#include "alarm/StorageAlarm.h"
#include "common/TimeConvert.h"
#include "device/VexaDevice.h"

namespace {

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

TEST(StorageAnalysis, StateOfOneAnswer) {
    using S = vexa::StorageState;
    const struct { const char* name; std::string answer; bool raisedBefore, loop; S state; bool raisedAfter, loopAsked; } cases[] = {
        {"one disk ok with space", storage(hdd("ok", "500")), false, false, vexa::kStorageNormal, false, false},
        {"full but loop recording", storage(hdd("ok", "0")), false, true, vexa::kStorageNormal, false, true},
        {"full but loop recording after an alarm", storage(hdd("ok", "0")), true, true, vexa::kStorageRecover, false, true},
        {"idle disk counts", storage(hdd("idle", "0")), false, false, vexa::kStorageFull, true, true},
        {"space summed over disks", storage(hdd("ok", "0") + hdd("ok", "0.5")), false, false, vexa::kStorageNormal, false, false},
        {"missing disk's space ignored", storage(hdd("ok", "0") + hdd("notexist", "900")), false, false, vexa::kStorageFull, true, true},
        {"only a missing disk", storage(hdd("notexist", "0")), false, false, vexa::kStorageNormal, false, false},
        {"disk error at once", storage(hdd("error", "100") + hdd("ok", "0")), false, true, vexa::kStorageError, true, false},
        {"status in another case is an error", storage(hdd("OK", "5")), false, false, vexa::kStorageError, true, false},
        {"space without status counts", storage(hdd("", "0")), false, false, vexa::kStorageFull, true, true},
        {"no disks", storage(""), true, false, vexa::kStorageRecover, false, false},
        {"not XML", "{\"storage\":1}", true, false, vexa::kStorageUnknown, true, false},
        {"no hddList", "<storage><nasList/></storage>", true, false, vexa::kStorageUnknown, true, false},
    };
    for (const auto& c : cases) {
        bool raised = c.raisedBefore, asked = false;
        EXPECT_EQ(vexa::storageStateFromXml(c.answer, raised, [&] { return asked = true, c.loop; }), c.state) << c.name;
        EXPECT_EQ(raised, c.raisedAfter) << c.name;
        EXPECT_EQ(asked, c.loopAsked) << c.name;
    }
    for (const std::string& answer : {std::string("<storageExtension><LoopEnable>TRUE</LoopEnable></storageExtension>"),
                                      std::string("<storageExtension><x><LoopEnable>true</LoopEnable></x></storageExtension>"),
                                      std::string("<storageExtension><LoopEnable>true</LoopEnable>"), kLoopOff})
        EXPECT_FALSE(vexa::storageLoopEnableFromXml(answer)) << answer;
}

class StorageAlarm : public ::testing::Test {
protected:
    void SetUp() override { dev = add("nvr3"); }
    void TearDown() override {
        for (auto& d : devices) d->DisConnect();
    }
    std::shared_ptr<CVexaDevice> add(const std::string& id) {
        auto d = std::make_shared<CVexaDevice>();
        d->SetEventCallBack(&vtest::onEvent, &sink);
        d->Connect_V2(("DeviceId=" + id + ";DevType=encodingDev;AlarmActiveStatus=active;").c_str());
        devices.push_back(d);
        return d;
    }
    // Event type of the alarm a poll reports, "" when it reports nothing.
    std::string poll(const std::string& answer, const std::string* extension) {
        const std::string doc = checkStorageState(*dev, answer, extension);
        if (doc.empty()) return std::string();
        TiXmlDocument x;
        x.Parse(doc.c_str());
        const TiXmlElement* type = x.RootElement() ? x.RootElement()->FirstChildElement("eventType") : nullptr;
        return type && type->GetText() ? type->GetText() : "?";
    }

    vtest::Sink sink;
    std::shared_ptr<CVexaDevice> dev;
    std::vector<std::shared_ptr<CVexaDevice>> devices;
};

TEST_F(StorageAlarm, FullThenRecoveryThenNothing) {
    vtest::LogCapture log;
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
    };
    for (const auto& s : steps) EXPECT_EQ(poll(s.answer, s.extension), s.reported) << s.name;
    EXPECT_TRUE(log.contains("2 VEXA_DEV") && log.contains("[deviceID=nvr3]storage loop is enable,not need send diskfull."));
    // Without a session nothing is asked, nothing reported, and the flag stays.
    dev->setHddAlarmRaised(true);
    EXPECT_EQ(checkStorageState(*dev), "");
    EXPECT_TRUE(dev->hddAlarmRaised());
}

// The document's layout, its escaping of the identifier, and that it becomes the host's event.
TEST_F(StorageAlarm, AlarmDocumentBecomesAHostEvent) {
    vtest::TzScope tz("XXX-5:30");
    auto odd = add("a<b>&\"c'");
    const struct { const CVexaDevice* dev; int state; const char* type; } cases[] = {
        {dev.get(), 2, "diskerror"}, {dev.get(), 3, "diskfull"}, {odd.get(), 4, "diskrecover"},
        {dev.get(), 1, nullptr}, {dev.get(), 5, nullptr},
    };
    for (const auto& c : cases) {
        sink.events.clear();
        const std::string doc = buildHddAlarm(*c.dev, c.state);
        if (!c.type) {
            EXPECT_EQ(doc, "") << c.state;
            continue;
        }
        EXPECT_EQ(doc.find("<?xml"), std::string::npos) << c.state;
        TiXmlDocument x;
        x.Parse(doc.c_str());
        ASSERT_FALSE(x.Error()) << doc;
        std::vector<std::string> names, texts;
        for (const TiXmlElement* e = x.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
            names.push_back(e->ValueStr());
            texts.push_back(e->GetText() ? e->GetText() : "");
        }
        EXPECT_EQ(x.RootElement()->ValueStr(), "EventNotificationAlert");
        EXPECT_EQ(names, (std::vector<std::string>{"channelID", "dateTime", "eventType", "eventState",
                                                   "eventDescription", "deviceID", "channelName"}));
        ASSERT_EQ(texts.size(), 7u);
        EXPECT_TRUE(isValidJsonTime(texts[1]) && texts[1].substr(19) == "+05:30") << texts[1];
        EXPECT_EQ(texts, (std::vector<std::string>{"0", texts[1], c.type, "active", std::string(c.type) + " alarm",
                                                   c.dev->deviceId(), ""}));
        CAlarmMsgMgr::instance()->processAlarm(doc);
        ASSERT_EQ(sink.events.size(), 1u);
        EXPECT_STREQ(sink.events[0].szEventType, c.type);
        EXPECT_EQ(std::string(sink.events[0].szDeviceID), c.dev->deviceId());
        EXPECT_EQ(sink.events[0].dwActive, 1u);
    }
}

}  // namespace
