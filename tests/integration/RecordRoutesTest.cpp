// Record search, download capability and channel list of native devices end to end, against
// simulated recorders (device-local search times) and cameras (standard-time search).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

#include "GatewayFixture.h"
#include "TestSupport.h"
#include "common/JsonUtil.h"
#include "devsim/Equipment.h"
#include "device/RecordSearchTime.h"

namespace {

using devsim::Family;

const std::string kSearchId = "5f0c4a52-7d1e-4b8a-9c3f-2e6d8b1a0c7e";

std::string utc(int64_t t, bool compact) {
    const time_t tt = static_cast<time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, compact ? "%04d%02d%02dT%02d%02d%02dZ" : "%04d-%02d-%02dT%02d:%02d:%02dZ",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string searchBody(int track, int64_t from, int64_t to, int max, int position, int port = 554) {
    return R"({"CMSearchDescription":{"searchID":")" + kSearchId + R"(","trackIDList":[{"trackID":)" +
           std::to_string(track) + R"(}],"timeSpanList":[{"timeSpan":{"startTime":")" + utc(from, false) +
           R"(","endTime":")" + utc(to, false) + R"("}}],"maxResults":)" + std::to_string(max) +
           R"(,"searchResultPostion":)" + std::to_string(position) + R"(,"metadataList":[{"metadataDescriptor":")" +
           kRecordTypeMetadataId + R"("}]},"mediaInfo":{"ip":"127.0.0.1","port":)" + std::to_string(port) + "}}";
}

class RecordRoutes : public vtest::GatewayFixture {
protected:
    std::string configXml() const override {
        return "<config><req_timeout>3</req_timeout><sendTimeOut>3</sendTimeOut></config>";
    }
    vtest::HostDevice online(const std::string& id, const std::shared_ptr<devsim::CameraModel>& cam) {
        auto host = addHost(id, Family::AldonV5, "encodingDev");
        startDevice(id, Family::AldonV5, cam->handler());
        EXPECT_TRUE(waitStatus(host, 0)) << id;
        return host;
    }
    // The host's entry for one recording, as the device lists it for stream type 1.
    static Json::Value entry(const devsim::CameraModel& cam, const std::string& camera, int channel,
                             const devsim::RecordingSegment& s) {
        char source[64];
        std::snprintf(source, sizeof source, "{%08X-0000-0000-0000-%012d}",
                      static_cast<unsigned>(std::hash<std::string>()("88") & 0xFFFFFFFFu), channel);
        const std::string name = cam.recordingName(s, 1), size = std::to_string(cam.recordingSize(s));
        Json::Value m;
        m["sourceID"] = source;
        m["trackID"] = channel * 100 + 1;
        m["timeSpan"]["startTime"] = utc(s.startUtc, false);
        m["timeSpan"]["endTime"] = utc(s.endUtc, false);
        Json::Value& d = m["mediaSegmentDescriptor"];
        d["contenType"] = "video";
        d["codecType"] = "H.264-BP";
        d["name"] = name;
        d["size"] = static_cast<Json::Int64>(cam.recordingSize(s));
        d["playbackURI"] = "rtsp://127.0.0.1:554/dac/playback/camera/" + camera + "/MAIN/TCP?starttime=" +
                           utc(s.startUtc, true) + "&endtime=" + utc(s.endUtc, true) + "&name=" + name + "&size=" +
                           size + "&streamform=rtp";
        Json::Value e;
        e["searchMatchItem"] = m;
        return e;
    }
};

TEST_F(RecordRoutes, PagedSearchInEachTimeBase) {
    vtest::TzScope gatewayZone("ART3");  // gateway at -03:00, recorder at +05:30, answers in UTC
    devsim::CameraOptions recorder = devsim::recorderDefaults();
    recorder.timeZone = "IST-5:30:00";
    const struct { const char* id; devsim::CameraOptions options; int channel; std::string query, zone; } cases[] = {
        {"rec-s", recorder, 6, "", "+05:30"},  // an IP channel of the recorder
        {"cam-s", devsim::cameraDefaults(), 1, "?timeType=STD", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        auto cam = devsim::makeCamera(c.options);
        auto host = online(c.id, cam);
        const int64_t to = cam->nowUtc() - 3600, from = to - 4 * 3600;
        const auto all = cam->recordings(c.channel, from, to + 1);
        ASSERT_GT(all.size(), 3u);
        const std::string uri = "/OVIX/ContentMgmt/search?format=json&devIndex=D" + std::string(c.id);
        size_t position = 0;
        for (int page = 0; page < 100 && position <= all.size(); ++page) {
            cam->clearRequests();
            const std::string answer = call(host, "POST", uri, searchBody(c.channel * 100 + 1, from, to, 3, position));
            const size_t n = std::min<size_t>(3, all.size() - position);
            Json::Value expect;
            Json::Value& r = expect["CMSearchResult"];
            r["searchID"] = kSearchId;
            r["responseStatus"] = true;
            r["responseStatusStrg"] = n == 0 ? "NO MATCHES" : position + n < all.size() ? "MORE" : "OK";
            r["numOfMatches"] = static_cast<int>(n);
            for (size_t k = position; k < position + n; ++k)
                r["matchList"].append(entry(*cam, "D" + std::string(c.id) + std::to_string(c.channel), c.channel, all[k]));
            ASSERT_EQ(answer, vexa::writeJson(expect)) << "page " << page;
            if (page == 0) {
                const auto local = [&](int64_t t) {
                    std::string s = utc(t + (c.zone.empty() ? 0 : 19800), false);
                    return c.zone.empty() ? s : s.substr(0, 19) + c.zone;
                };
                const auto seen = cam->requestsFor("/OVIX/ContentMgmt/search");
                ASSERT_EQ(seen.size(), 1u);
                EXPECT_EQ(seen[0].url, "/OVIX/ContentMgmt/search" + c.query);
                EXPECT_EQ(seen[0].body, "<?xml version=\"1.0\" encoding=\"utf-8\"?><CMSearchDescription><searchID>" +
                                            kSearchId + "</searchID><trackIDList><trackID>" +
                                            std::to_string(c.channel * 100 + 1) +
                                            "</trackID></trackIDList><timeSpanList><timeSpan><startTime>" + local(from) +
                                            "</startTime><endTime>" + local(to) +
                                            "</endTime></timeSpan></timeSpanList><contentTypeList></contentTypeList>"
                                            "<maxResults>3</maxResults><searchResultPostion>0</searchResultPostion>"
                                            "<metadataList><metadataDescriptor>" + kRecordTypeMetadataId +
                                            "</metadataDescriptor></metadataList></CMSearchDescription>");
            }
            if (n < 3) break;
            position += n;
        }
    }
}

TEST_F(RecordRoutes, CapabilityChannelsAndRefusals) {
    auto cam = devsim::makeCamera(devsim::recorderDefaults());
    auto host = online("rec-c", cam);
    EXPECT_EQ(call(host, "GET", "/OVIX/ContentMgmt/download/capabilities?format=json"),
              R"({"DownloadAbility":{"isSupportDownloadbyFileName":true,"isSupportDownloadbyTime":false}})");
    Json::Value channels;
    ASSERT_TRUE(vexa::parseJson(call(host, "GET", "/OVIX/System/Video/inputs/channels?format=json"), channels));
    ASSERT_EQ(channels["VideoInputChannelList"].size(), 4u);
    EXPECT_EQ(vexa::writeJson(channels["VideoInputChannelList"][3]),
              R"({"VideoInputChannel":{"id":4,"inputPort":4,"name":"Camera 4","resDesc":"1920*1080P",)"
              R"("videoFormat":"PAL","videoInputEnabled":true}})");
    const int64_t to = cam->nowUtc() - 60, from = to - 3600;
    const struct { const char* what; std::string method, uri, body, expect; bool asksDevice; } cases[] = {
        {"channel 9 unknown", "POST", "/OVIX/ContentMgmt/search?format=json&devIndex=7", searchBody(901, from, to, 5, 0),
         "badParameters", true},
        {"maxResults 41", "POST", "/OVIX/ContentMgmt/search?format=json&devIndex=7", searchBody(101, from, to, 41, 0),
         "badParameters", false},
        {"port 70000", "POST", "/OVIX/ContentMgmt/search?format=json&devIndex=7", searchBody(101, from, to, 5, 0, 70000),
         "badParameters", false},
        {"capability by PUT", "PUT", "/OVIX/ContentMgmt/download/capabilities?format=json", "", "badParameters", false},
    };
    for (const auto& c : cases) {
        cam->clearRequests();
        EXPECT_EQ(subKey(call(host, c.method, c.uri, c.body)), c.expect) << c.what;
        EXPECT_TRUE(cam->requestsFor("/OVIX/ContentMgmt/search").empty()) << c.what;
        size_t asked = 0;  // requests of the search steps (the on-line set-up may still be talking)
        for (const char* path : {"/OVIX/ContentMgmt/InputProxy/channels", "/OVIX/System/Video/inputs/channels",
                                 "/OVIX/System/capabilities", "/OVIX/ContentMgmt/download/capabilities"})
            asked += cam->requestsFor(path).size();
        EXPECT_EQ(asked > 0, c.asksDevice) << c.what;
    }
    // An answer that cannot be read is never "ok".
    for (auto action : {devsim::FaultAction::Garbage, devsim::FaultAction::DeviceError}) {
        devsim::Fault f;
        f.action = action;
        f.match = {"/OVIX/ContentMgmt/download/capabilities"};
        cam->addFault(f);
        EXPECT_NE(subKey(call(host, "GET", "/OVIX/ContentMgmt/download/capabilities?format=json")), "ok");
        cam->clearFaults();
    }
}

// Searches for two host indexes of one recorder at once: each answer names its own cameras.
TEST_F(RecordRoutes, ConcurrentSearchesKeepTheirCameraNames) {
    auto cam = devsim::makeCamera(devsim::cameraDefaults());
    auto host = online("cam-p", cam);
    const int64_t to = cam->nowUtc() - 60, from = to - 6 * 3600;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (const char* index : {"A", "B"})
        threads.emplace_back([&, index] {
            for (int i = 0; i < 10; ++i) {
                const std::string answer = call(host, "POST", "/OVIX/ContentMgmt/search?format=json&devIndex=" + std::string(index),
                                                searchBody(101, from, to, 5, 0));
                if (answer.find("/camera/" + std::string(index) + "1/") == std::string::npos ||
                    answer.find(std::string("/camera/") + (index[0] == 'A' ? "B" : "A") + "1/") != std::string::npos)
                    ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
