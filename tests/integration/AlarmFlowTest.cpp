// Alarms end to end: simulated devices push every alarm form (alarm port and command
// connection) -> access libraries -> alarm worker -> converters -> the host's event callback.
#include <gtest/gtest.h>


#include "GatewayFixture.h"
#include "common/JsonUtil.h"
#include "devsim/AlarmTexts.h"

namespace {

using devsim::Family;
using std::chrono::seconds;

class Alarms : public vtest::GatewayFixture {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        GatewayFixture::SetUp();
    }
    // A host device with an event callback, and its simulated twin logged in with an alarm link.
    devsim::DevicePtr online(const std::string& id, Family family) {
        auto host = addHost(id, family);
        auto dev = startDevice(id, family, nullptr, true);
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return dev;
    }
    static void send(const devsim::DevicePtr& dev, const devsim::AlarmText& a) {
        if (a.route.commandMessage)
            dev->sendMessage(a.route.messageType, a.route.domain, a.route.identifier, a.route.alarmType,
                             a.route.dataType, a.text);
        else
            dev->pushAlarm(a.route.alarmType, a.route.dataType, a.text);
    }
    // Sends one alarm and returns the one event it became.
    vtest::HostEvent one(const devsim::DevicePtr& dev, const devsim::AlarmText& a) {
        const size_t before = events().size();
        send(dev, a);
        EXPECT_TRUE(waitEvents(before + 1));
        const auto ev = events();
        EXPECT_EQ(ev.size(), before + 1);
        return ev.size() > before ? ev.back() : vtest::HostEvent();
    }
};

devsim::AlarmText plain(devsim::AlarmForm form, int dataType, const std::string& text) {
    devsim::AlarmText a;
    a.form = form;
    a.route.alarmType = 2;
    a.route.dataType = dataType;
    a.text = text;
    return a;
}

template <size_t N>
std::string text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// The event's content fragments ("inputIOPortID":3,) as one JSON object.
Json::Value content(const AlarmEventInfo& info) {
    std::string c = text(info.szContent);
    if (!c.empty() && c.back() == ',') c.pop_back();
    Json::Value v;
    vexa::parseJson("{" + c + "}", v);
    return v;
}

TEST_F(Alarms, EachFormBecomesItsHostEvent) {
    auto cam = online("cam-1", Family::AldonV5);
    auto panel = online("panel-1", Family::Vexa);

    devsim::ApiAlarm vmd;
    vmd.deviceId = "cam-1";
    vmd.channel = 2;
    vmd.eventType = "VMD";
    vmd.state = "inactive";
    vmd.activePostCount = 4;
    vtest::HostEvent e = one(cam, plain(devsim::AlarmForm::ApiXml, 1, devsim::apiAlarmXml(vmd)));
    EXPECT_EQ(e.device, "cam-1");
    EXPECT_EQ(e.info.dwSize, 8808u);
    EXPECT_EQ(e.info.dwEventCode, 0u);
    EXPECT_EQ(e.info.dwCategory, 0u);
    EXPECT_EQ(e.info.iChannel, 2);
    EXPECT_EQ(e.info.dwActive, 0u);
    EXPECT_EQ(e.info.iActivePostCount, 4);
    EXPECT_EQ(text(e.info.szEventType), "VMD");
    EXPECT_EQ(text(e.info.szDescription), "VMD alarm");
    EXPECT_EQ(text(e.info.szTime), "2024-05-06T07:08:09+08:00");
    EXPECT_EQ(text(e.info.szDeviceID), "cam-1");
    EXPECT_EQ(text(e.info.szSerialNo), "SN-cam-1");

    devsim::ApiAlarm io = vmd;
    io.eventType = "IO";
    io.state = "active";
    io.inputPort = 5;
    e = one(cam, plain(devsim::AlarmForm::ApiJson, 2, devsim::apiAlarmJson(io)));
    EXPECT_EQ(text(e.info.szEventType), "IO");
    EXPECT_EQ(e.info.dwActive, 1u);

    devsim::ZornaAlarm z;
    z.deviceId = "panel-1";
    z.type = 6;
    z.alarmInChannel = 3;
    z.action = "STOP";
    e = one(panel, plain(devsim::AlarmForm::ZornaAlarm, 1, devsim::zornaAlarm(z)));
    EXPECT_EQ(e.info.dwEventCode, 0x90001u);
    EXPECT_EQ(e.info.dwCategory, 30u);
    EXPECT_EQ(e.info.iChannel, 1);
    EXPECT_EQ(e.info.dwActive, 0u);
    EXPECT_EQ(content(e.info)["inputIOPortID"].asInt(), 3);
    EXPECT_EQ(std::vector<int>(e.info.struTime + 3, e.info.struTime + 7), (std::vector<int>{7, 6, 5, 2024}));
    EXPECT_EQ(e.info.struTime[9], 28800);
    EXPECT_EQ(text(e.info.szTime), "2024-05-06T07:08:09+08:00");
    EXPECT_EQ(text(e.info.szSerialNo), "panel-1");

    devsim::CidReport cid;
    cid.deviceId = "panel-1";
    cid.cidCode = 1130;
    cid.zone = 37;
    cid.zoneName = "Back \"door\"";
    e = one(panel, plain(devsim::AlarmForm::ZornaCidReport, 1, devsim::zornaCidReport(cid)));
    EXPECT_EQ(e.info.dwEventCode, 0xd0010u);
    EXPECT_EQ(e.info.dwCategory, 30u);
    EXPECT_EQ(content(e.info)["CIDAlarm"]["CIDCode"].asString(), "1130");
    EXPECT_EQ(content(e.info)["CIDAlarm"]["zoneName"].asString(), "Back \"door\"");

    devsim::ModelCidAlarm m;
    m.deviceId = "panel-1";
    m.code = 1401;
    e = one(panel, devsim::modelCidAlarm(m));
    EXPECT_EQ(e.info.dwEventCode, 0xd0010u);
    EXPECT_EQ(content(e.info)["CIDAlarm"]["CIDCode"].asString(), "1401");
    EXPECT_EQ(text(e.info.szDeviceID), "panel-1");
}

}  // namespace
