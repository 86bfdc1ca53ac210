// Alarms end to end: simulated devices push every alarm form (alarm port and command
// connection) -> access libraries -> alarm worker -> converters -> the host's event callback.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "GatewayFixture.h"
#include "common/JsonUtil.h"
#include "TestSupport.h"
#include "devsim/AlarmTexts.h"

namespace {

using devsim::Family;
using devsim::State;
using std::chrono::seconds;

struct Event {
    std::string host;
    AlarmEventInfo info;
    Json::Value content;
};

class Alarms : public vtest::GatewayFixture {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        GatewayFixture::SetUp();
    }

    static void VEXA_CALL onEvent(void* dev, const void* block, const void* event, uint32_t zero, void* user) {
        auto* self = static_cast<Alarms*>(user);
        const auto* info = static_cast<const AlarmEventInfo*>(event);
        if (!block || !info || zero != 0) return;
        Event e;
        e.info = *info;
        std::string content(info->szContent, strnlen(info->szContent, sizeof info->szContent));
        if (!content.empty() && content.back() == ',') content.pop_back();  // "inputIOPortID":3, fragments
        vexa::parseJson("{" + content + "}", e.content);
        std::lock_guard<std::mutex> lk(self->m_lock);
        e.host = self->m_names[dev];
        self->m_events.push_back(std::move(e));
        self->m_count++;
    }

    // A host device with an event callback, and its simulated twin logged in with an alarm
    // connection.
    devsim::DevicePtr online(const std::string& id, Family family, bool active = true) {
        const char* pto = family == Family::Vexa ? "VEXA" : "aldonV5";
        auto host = addHostDevice("DeviceId=" + id + ";DeviceKey=k;DevProtocol=" + pto +
                                  ";AllowDirectConn=1;AlarmActiveStatus=" + (active ? "active" : "inactive") + ";");
        {
            std::lock_guard<std::mutex> lk(m_lock);
            m_names[host.handle] = id;
        }
        host.event->SetEventCallBackImpl(host.handle, &Alarms::onEvent, this);
        auto dev = sim->addDevice(deviceConfig(id, "k", family));
        dev->start();
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        dev->connectAlarm();
        EXPECT_TRUE(dev->waitAlarm(devsim::AlarmState::Ready, seconds(10))) << id;
        return dev;
    }

    static void send(const devsim::DevicePtr& dev, const devsim::AlarmText& a) {
        if (a.route.commandMessage)
            dev->sendMessage(a.route.messageType, a.route.domain, a.route.identifier, a.route.alarmType,
                             a.route.dataType, a.text);
        else
            dev->pushAlarm(a.route.alarmType, a.route.dataType, a.text);
    }

    std::vector<Event> waitEvents(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        vtest::waitUntil([&] { return m_count.load() >= n; }, limit);
        std::lock_guard<std::mutex> lk(m_lock);
        return m_events;
    }
    void clearEvents() {
        std::lock_guard<std::mutex> lk(m_lock);
        m_events.clear();
        m_count = 0;
    }

    std::mutex m_lock;
    std::map<void*, std::string> m_names;
    std::vector<Event> m_events;
    std::atomic<size_t> m_count{0};
};

devsim::AlarmText plain(devsim::AlarmForm form, int dataType, const std::string& text) {
    devsim::AlarmText a;
    a.form = form;
    a.route.alarmType = 2;
    a.route.dataType = dataType;
    a.text = text;
    return a;
}

std::string text(const char* field, size_t n) { return std::string(field, strnlen(field, n)); }

TEST_F(Alarms, EachFormBecomesItsHostEvent) {
    auto cam = online("cam-1", Family::AldonV5);
    auto panel = online("panel-1", Family::Vexa);

    devsim::ApiAlarm vmd;
    vmd.deviceId = "cam-1";
    vmd.channel = 2;
    vmd.eventType = "VMD";
    vmd.state = "inactive";
    vmd.activePostCount = 4;
    send(cam, plain(devsim::AlarmForm::ApiXml, 1, devsim::apiAlarmXml(vmd)));
    auto ev = waitEvents(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].host, "cam-1");
    EXPECT_EQ(ev[0].info.dwSize, 8808u);
    EXPECT_EQ(ev[0].info.dwEventCode, 0u);
    EXPECT_EQ(ev[0].info.dwCategory, 0u);
    EXPECT_EQ(ev[0].info.iChannel, 2);
    EXPECT_EQ(ev[0].info.dwActive, 0u);
    EXPECT_EQ(ev[0].info.iActivePostCount, 4);
    EXPECT_EQ(text(ev[0].info.szEventType, 64), "VMD");
    EXPECT_EQ(text(ev[0].info.szDescription, 256), "VMD alarm");
    EXPECT_EQ(text(ev[0].info.szTime, 64), "2024-05-06T07:08:09+08:00");
    EXPECT_EQ(text(ev[0].info.szDeviceID, 32), "cam-1");
    EXPECT_EQ(text(ev[0].info.szSerialNo, 32), "SN-cam-1");

    clearEvents();
    devsim::ApiAlarm io = vmd;
    io.eventType = "IO";
    io.state = "active";
    io.inputPort = 5;
    send(cam, plain(devsim::AlarmForm::ApiJson, 2, devsim::apiAlarmJson(io)));
    ev = waitEvents(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(text(ev[0].info.szEventType, 64), "IO");
    EXPECT_EQ(ev[0].info.dwActive, 1u);

    clearEvents();
    devsim::ZornaAlarm z;
    z.deviceId = "panel-1";
    z.type = 6;
    z.alarmInChannel = 3;
    z.action = "STOP";
    send(panel, plain(devsim::AlarmForm::ZornaAlarm, 1, devsim::zornaAlarm(z)));
    ev = waitEvents(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].info.dwEventCode, 0x90001u);
    EXPECT_EQ(ev[0].info.dwCategory, 30u);
    EXPECT_EQ(ev[0].info.iChannel, 1);
    EXPECT_EQ(ev[0].info.dwActive, 0u);
    EXPECT_EQ(ev[0].content["inputIOPortID"].asInt(), 3);
    EXPECT_EQ(ev[0].info.struTime[6], 2024);
    EXPECT_EQ(ev[0].info.struTime[5], 5);
    EXPECT_EQ(ev[0].info.struTime[4], 6);
    EXPECT_EQ(ev[0].info.struTime[3], 7);
    EXPECT_EQ(ev[0].info.struTime[9], 28800);
    EXPECT_EQ(text(ev[0].info.szTime, 64), "2024-05-06T07:08:09+08:00");
    EXPECT_EQ(text(ev[0].info.szSerialNo, 32), "panel-1");

    clearEvents();
    devsim::CidReport cid;
    cid.deviceId = "panel-1";
    cid.cidCode = 1130;
    cid.zone = 37;
    cid.zoneName = "Back \"door\"";
    send(panel, plain(devsim::AlarmForm::ZornaCidReport, 1, devsim::zornaCidReport(cid)));
    ev = waitEvents(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].info.dwEventCode, 0xd0010u);
    EXPECT_EQ(ev[0].info.dwCategory, 30u);
    EXPECT_EQ(ev[0].content["CIDAlarm"]["CIDCode"].asString(), "1130");
    EXPECT_EQ(ev[0].content["CIDAlarm"]["zoneName"].asString(), "Back \"door\"");

    clearEvents();
    devsim::ModelCidAlarm m;
    m.deviceId = "panel-1";
    m.code = 1401;
    send(panel, devsim::modelCidAlarm(m));
    ev = waitEvents(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].info.dwEventCode, 0xd0010u);
    EXPECT_EQ(ev[0].content["CIDAlarm"]["CIDCode"].asString(), "1401");
    EXPECT_EQ(text(ev[0].info.szDeviceID, 32), "panel-1");
}

TEST_F(Alarms, InactiveDeviceGetsNoEvent) {
    auto quiet = online("quiet-1", Family::AldonV5, false);
    auto loud = online("loud-1", Family::AldonV5, true);
    devsim::ApiAlarm a;
    a.deviceId = "quiet-1";
    quiet->pushAlarm(2, 1, devsim::apiAlarmXml(a));
    a.deviceId = "loud-1";
    loud->pushAlarm(2, 1, devsim::apiAlarmXml(a));
    ASSERT_TRUE(loud->waitAlarmAcks(1, seconds(10)));
    ASSERT_TRUE(quiet->waitAlarmAcks(1, seconds(10)));
    auto ev = waitEvents(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ev = waitEvents(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].host, "loud-1");
}

// Nothing lost: 100,000 alarms of mixed forms from 20 devices, each delivered once.
TEST_F(Alarms, HundredThousandMixedAlarmsEachDeliveredOnce) {
    constexpr int kDevices = 20, kPerDevice = 5000;
    std::vector<devsim::DevicePtr> devs;
    for (int d = 0; d < kDevices; ++d)
        devs.push_back(online("mix-" + std::to_string(d), d % 2 ? Family::AldonV5 : Family::Vexa));
    std::vector<std::thread> senders;
    for (int d = 0; d < kDevices; ++d)
        senders.emplace_back([&, d] {
            for (int i = 0; i < kPerDevice; ++i) send(devs[d], devsim::mixedAlarm(i, "mix-" + std::to_string(d)));
        });
    for (auto& s : senders) s.join();
    const size_t total = static_cast<size_t>(kDevices) * kPerDevice;
    auto ev = waitEvents(total, std::chrono::seconds(300));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // anything extra would show now
    ev = waitEvents(total, std::chrono::seconds(1));
    EXPECT_EQ(ev.size(), total);
    // Each alarm carries its own time: (device, time text) must be unique.
    std::set<std::string> seen;
    size_t duplicates = 0;
    for (const Event& e : ev)
        if (!seen.insert(e.host + "|" + text(e.info.szTime, 64) + "|" + std::to_string(e.info.dwEventCode)).second)
            ++duplicates;
    EXPECT_EQ(duplicates, 0u);
}

}  // namespace
