// Media orders end to end: host order -> plug-in -> command library -> loopback -> simulated
// camera or recorder, which streams to a media sink; the host's answers and what the device was
// told, for both device families.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <set>
#include <thread>

#include "GatewayFixture.h"
#include "MediaSink.h"
#include "OrderTexts.h"
#include "TestSupport.h"
#include "device/VexaDeviceMgr.h"
#include "devsim/Equipment.h"

namespace {

using devsim::Family;
using namespace std::chrono_literals;

std::string iso(time_t t) {
    struct tm tm {};
    gmtime_r(&t, &tm);
    char b[32];
    std::strftime(b, sizeof b, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return b;
}

std::string compact(time_t t, int eastMinutes, bool utc) {
    t += eastMinutes * 60;
    struct tm tm {};
    gmtime_r(&t, &tm);
    char b[32];
    std::strftime(b, sizeof b, utc ? "%Y%m%dT%H%M%SZ" : "%Y-%m-%dT%H:%M:%S", &tm);
    return b;
}

// What the device was told to start, as one text.
std::string told(const devsim::StreamInfo& s) {
    char b[512];
    std::snprintf(b, sizeof b, "%s ch=%lld type=%lld ip=%s link=%s port=%lld native=%lld start=%s stop=%s audio=%lld",
                  s.op.c_str(), (long long)s.channel, (long long)s.streamType, s.mediaIp.c_str(), s.linkType.c_str(),
                  (long long)s.mediaPort, (long long)s.native, s.start.c_str(), s.stop.c_str(), (long long)s.audioCode);
    return b;
}

class MediaFlow : public vtest::GatewayFixture {
protected:
    std::string configXml() const override {
        return "<config><req_timeout>2</req_timeout><sendTimeOut>2</sendTimeOut></config>";
    }
    void SetUp() override {
        GatewayFixture::SetUp();
        ASSERT_TRUE(sink.start("127.0.0.1", 0));
    }
    void TearDown() override {
        GatewayFixture::TearDown();
        sink.stop();
    }
    vtest::HostDevice online(const std::string& id, Family family, const std::shared_ptr<devsim::CameraModel>& cam,
                             const std::string& type = "encodingDev") {
        auto host = addHost(id, family, type);
        startDevice(id, family, cam->handler());
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return host;
    }
    // Sends an order; the answer text, or "rc=<code>" when the order failed.
    static std::string send(const vtest::HostDevice& d, const std::string& order) {
        std::string answer;
        const uint32_t rc = gwhost::transOrder(d, order, answer);
        if (rc == 0) return answer;
        char b[32];
        std::snprintf(b, sizeof b, "rc=0x%x", rc);
        return b;
    }
    // A request order and its push; the session, the device's stream and the sink's stream.
    std::string start(const vtest::HostDevice& d, devsim::CameraModel& cam, const std::string& request,
                      const char* push, devsim::StreamInfo& info, uint64_t& sinkId) {
        const uint64_t mark = sink.lastStreamId();
        const std::string session = vtest::sessionOf(send(d, request));
        EXPECT_NE(session, "") << request;
        EXPECT_NE(send(d, vtest::sessionOrder(push, session)).find("<Result id=\"200\">OK</Result>"),
                  std::string::npos);
        EXPECT_TRUE(cam.stream(session, info)) << session;
        const auto s = sink.waitStream(4 * devsim::kTsPacketSize, 10s, mark);
        EXPECT_TRUE(s.has_value());
        sinkId = s ? s->id : 0;
        return session;
    }
    // After a stop the stream ends at the sink, and it came through clean.
    void stopped(const vtest::HostDevice& d, const char* stop, const std::string& session, uint64_t sinkId) {
        EXPECT_NE(send(d, vtest::sessionOrder(stop, session)).find("<Result id=\"200\">OK</Result>"),
                  std::string::npos);
        EXPECT_TRUE(sink.waitQuiet(300ms, 5s, sinkId));
        EXPECT_TRUE(sink.noMoreBytes(300ms, sinkId));
        const auto s = sink.stream(sinkId);
        ASSERT_TRUE(s.has_value());
        EXPECT_GT(s->packets, 3u);
        EXPECT_EQ(s->syncErrors + s->continuityErrors, 0u);
    }
    gwhost::MediaSink sink;
};

TEST_F(MediaFlow, EveryOrderReachesTheDeviceAndStreamsToTheSink) {
    vtest::TzScope gatewayZone("ART3");  // the gateway at -03:00, the recorder at +05:30
    struct Case { const char* id; Family family; devsim::CameraOptions options; };
    devsim::CameraOptions recorder = devsim::recorderDefaults(), camera = devsim::cameraDefaults();
    recorder.timeZone = "IST-5:30:00";
    camera.videoBitRate = recorder.videoBitRate = 400000;
    const Case cases[] = {{"rec-a", Family::AldonV5, recorder}, {"cam-v", Family::Vexa, camera}};
    const int port = sink.port();
    const std::string ip = "ip=127.0.0.1", p = " port=" + std::to_string(port);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        auto cam = devsim::makeCamera(c.options);
        auto host = online(c.id, c.family, cam);
        const std::string native = c.family == Family::AldonV5 ? " native=1" : " native=0";
        devsim::StreamInfo info;
        uint64_t id = 0;
        // Live view over both links.
        for (const char* link : {"TCP", "UDP"}) {
            id = sink.lastStreamId();
            const std::string answer = send(host, vtest::liveOrder(link, port, "1"));
            EXPECT_EQ(answer.substr(0, answer.find("<Session>")),
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Message><Pack type=\"TNP\"><Command>"
                      "PLAYBACK_FILE_RSP</Command><Result id=\"200\">OK</Result>");
            const std::string session = vtest::sessionOf(answer);
            EXPECT_NE(send(host, vtest::sessionOrder("PLAY_STREAM_PUSH_REQ", session)).find("OK"), std::string::npos);
            ASSERT_TRUE(cam->stream(session, info));
            EXPECT_EQ(told(info), "startLive ch=1 type=2 " + ip + " link=" + link + p + native +
                                      " start= stop= audio=-1");
            const auto s = sink.waitStream(4 * devsim::kTsPacketSize, 10s, id);
            ASSERT_TRUE(s.has_value());
            id = s->id;
            EXPECT_EQ(s->tcp, std::string(link) == "TCP");
            stopped(host, "STOP_STREAM_REQ", session, id);
        }
        // Playback of an hour two hours ago, in the device's own time, paused and resumed.
        const time_t now = time(nullptr);
        const int east = c.family == Family::AldonV5 ? 330 : 480;
        const std::string session =
            start(host, *cam, vtest::playbackOrder(port, compact(now - 7200, 0, true), compact(now - 3600, 0, true)),
                  "PLAYBACK_FILE_PUSH_REQ", info, id);
        EXPECT_EQ(told(info), "startRecord ch=1 type=1 " + ip + " link=" + p + native + " start=" +
                                  compact(now - 7200, east, false) + " stop=" + compact(now - 3600, east, false) +
                                  " audio=-1");
        EXPECT_NE(send(host, vtest::sessionOrder("PAUSE_STREAM_REQ", session)).find("PAUSE_STREAM_RSP"), std::string::npos);
        EXPECT_TRUE(sink.waitQuiet(300ms, 5s, id));
        const uint64_t paused = sink.stream(id)->bytes;
        EXPECT_NE(send(host, vtest::sessionOrder("RESUME_STREAM_REQ", session)).find("PAUSE_STREAM_RSP"),
                  std::string::npos);
        EXPECT_TRUE(sink.waitBytes(id, paused + 8 * devsim::kTsPacketSize, 10s));
        stopped(host, "STOP_PLAYBACK_REQ", session, id);
        // Voice talk with the device's codec.
        const std::string talk = start(host, *cam, vtest::talkOrder(port, "1"), "START_TALK_PUSH_REQ", info, id);
        EXPECT_EQ(told(info), "startVoice ch=1 type=-1 " + ip + " link=" + p + " native=-1 start= stop= audio=2");
        stopped(host, "STOP_TALK_REQ", talk, id);
        // The two queries, answered from the device API; a download is answered like a playback.
        EXPECT_NE(send(host, vtest::mediaOrder("QUERY_TALK_OVIX_REQ", "<Channel>1</Channel>"))
                      .find("<TwoWayAudioChannel><audioSamplingRate>16000</audioSamplingRate>"),
                  std::string::npos);
        const time_t from = now - 7200, to = now - 3600;
        const std::string found = send(host, vtest::mediaOrder("QUERY_RECORDFILE_OVIX_REQ",
                                                               "<Channel>1</Channel><StreamType>1</StreamType><BeginTime>" +
                                                                   iso(from) + "</BeginTime><EndTime>" +
                                                                   iso(to) + "</EndTime>"));
        const auto segments = cam->recordings(1, from, to);
        ASSERT_FALSE(segments.empty());
        EXPECT_NE(found.find("<File><23/><SegmentCount>" + std::to_string(segments.size()) + "</SegmentCount>"),
                  std::string::npos)
            << found;
        EXPECT_NE(found.find("<BeginTime>" + iso(segments[0].startUtc)), std::string::npos) << found;
        std::string order = vtest::playbackOrder(port, compact(from, 0, true), compact(to, 0, true));
        const std::string download = send(host, order.replace(order.find("PLAYBACK_FILE_REQ"), 17, "DOWNLOAD_FILE_REQ"));
        EXPECT_NE(download.find("<Command>PLAYBACK_FILE_RSP</Command><Result id=\"200\">OK</Result>"), std::string::npos);
        VEXA_CMS_RECORD_PARAM stored;
        EXPECT_EQ(CVexaDeviceMgr::instance()->getAndDelPlaybackSession(&stored, vtest::sessionOf(download)), 1);
        // Nothing waits in the tables.
        for (auto kind : {SessionTables::kPreview, SessionTables::kPlayback, SessionTables::kTalk})
            EXPECT_EQ(CVexaDeviceMgr::instance()->waitingSessions(kind), 0u);
    }
}

TEST_F(MediaFlow, RefusalsAndSilenceFailTheOrderAndStartNothing) {
    auto cam = devsim::makeCamera();
    auto host = online("cam-r", Family::AldonV5, cam);
    const int port = sink.port();
    struct Case { const char* name; devsim::FaultAction fault; std::string request; const char* push; std::string rc; };
    const Case cases[] = {
        {"device refuses", devsim::FaultAction::TransportError, vtest::liveOrder("TCP", port), "PLAY_STREAM_PUSH_REQ",
         "rc=0x30000001"},
        {"device silent", devsim::FaultAction::Silent, vtest::talkOrder(port), "START_TALK_PUSH_REQ", "rc=0x30000001"},
        {"remote sink", devsim::FaultAction::Answer, vtest::liveOrder("TCP", port, "1", "192.0.2.7"),
         "PLAY_STREAM_PUSH_REQ", "rc=0x30000001"},
        {"live session pushed as playback", devsim::FaultAction::Answer, vtest::liveOrder("UDP", port),
         "PLAYBACK_FILE_PUSH_REQ", "rc=0x30000001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.fault != devsim::FaultAction::Answer) {  // Answer: no fault
            devsim::Fault f;
            f.action = c.fault;
            f.match = {"media"};
            cam->addFault(f);
        }
        const uint64_t mark = sink.lastStreamId();
        const std::string session = vtest::sessionOf(send(host, c.request));
        EXPECT_EQ(send(host, vtest::sessionOrder(c.push, session)), c.rc);
        EXPECT_TRUE(sink.noMoreBytes(200ms));
        EXPECT_EQ(sink.lastStreamId(), mark);
        EXPECT_EQ(cam->liveStreams(), 0u);
        cam->clearFaults();
    }
    // The time query unanswered: the playback is still stored, in the gateway's own zone.
    vtest::TzScope gatewayZone("ART3");
    devsim::Fault f;
    f.action = devsim::FaultAction::Silent;
    f.match = {"/OVIX/System/time"};
    cam->addFault(f);
    const time_t now = time(nullptr);
    devsim::StreamInfo info;
    uint64_t id = 0;
    start(host, *cam, vtest::playbackOrder(port, compact(now - 7200, 0, true), compact(now - 3600, 0, true)),
          "PLAYBACK_FILE_PUSH_REQ", info, id);
    EXPECT_EQ(info.start, compact(now - 7200, -180, false));
}

TEST_F(MediaFlow, ManyHostThreadsEachGetTheirOwnSessions) {
    std::vector<std::shared_ptr<devsim::CameraModel>> cams;
    std::vector<vtest::HostDevice> hosts;
    for (int i = 0; i < 8; ++i) {
        devsim::CameraOptions o = devsim::cameraDefaults();
        o.videoBitRate = 50000;
        cams.push_back(devsim::makeCamera(o));
        hosts.push_back(online("cam-" + std::to_string(i), Family::AldonV5, cams.back()));
    }
    std::mutex lock;
    std::set<std::string> sessions;
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&, t] {
            const auto& h = hosts[t % hosts.size()];
            for (int i = 0; i < 200; ++i) {
                const std::string s = vtest::sessionOf(send(h, vtest::liveOrder(i % 2 ? "UDP" : "TCP", sink.port())));
                {
                    std::lock_guard<std::mutex> lk(lock);
                    if (s.empty() || !sessions.insert(s).second) ++bad;
                }
                if (send(h, vtest::sessionOrder("PLAY_STREAM_PUSH_REQ", s)).find("OK") == std::string::npos) ++bad;
                if (send(h, vtest::sessionOrder("STOP_STREAM_REQ", s)).find("OK") == std::string::npos) ++bad;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(sessions.size(), 16u * 200u);
    EXPECT_EQ(CVexaDeviceMgr::instance()->waitingSessions(SessionTables::kPreview), 0u);
    for (auto& c : cams) EXPECT_TRUE(vtest::waitUntil([&] { return c->liveStreams() == 0; }));
}

}  // namespace
