// Media orders over a scripted port: the records the library is given, the answers the host gets,
// and bad orders refused with their code and log line, nothing stored and nothing written.
#include <gtest/gtest.h>

#include <cstring>

#include "FakeMediaPort.h"
#include "OrderTexts.h"
#include "TestSupport.h"
#include "common/Clock.h"
#include "media/MediaOrders.h"
#include "media/OrderMessage.h"

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

using vtest::mediaOrder;
std::string order(const std::string& command, const std::string& fields) { return mediaOrder(command, fields); }
std::string live(const std::string& link = "TCP", const std::string& port = "9000", const std::string& chan = "2") {
    return vtest::liveOrder(link, 0, chan, "127.0.0.1", port);
}
std::string playback(const std::string& start = "20240501T000000Z", const std::string& extra = "") {
    return vtest::playbackOrder(9100, start, "20240501T010000Z", extra, "3");
}
std::string named(const std::string& command, const std::string& session = "1000") {
    return vtest::sessionOrder(command, session);
}
const char* kTime = "<Time><localTime>2024-05-01T08:00:00+08:00</localTime></Time>";

struct Host {
    FakeMediaPort port;
    char buf[2048];
    int32_t run(const std::string& text, int32_t size = sizeof(buf)) {
        std::memset(buf, 'x', sizeof buf);
        return MediaOrders(port).TransOrder(text.c_str(), buf, size);
    }
    bool untouched() const { return buf[0] == 'x'; }
};

TEST(MediaOrders, BadOrdersAreRefusedWithTheirCodeAndLineAndNothingStoredOrWritten) {
    struct Case {
        const char* name;
        std::string text;
        int32_t rc;
        const char* line;  // nullptr: no line at level 5
        int32_t handle;
        bool sessionIdFails;
        std::string sessionId;
    };
    const int32_t kFail = 0x30000001, kBad = 0x60000001;
    const Case cases[] = {
        {"five chars", "<a/> ", -1, nullptr, 7, false, "1000"},
        {"not xml", "just some words", -1, nullptr, 7, false, "1000"},
        {"no Message", "<Order><Pack/></Order>", -1, nullptr, 7, false, "1000"},
        {"other letter case", order("play_stream_req", ""), -1, "Unknow command: play_stream_req!", 7, false, "1000"},
        {"no Pack", "<Message><Command>PLAY_STREAM_REQ</Command></Message>", -1, "Unknow command: !", 7, false, "1000"},
        {"offline", live(), kFail, "Dev cam1 is not online!", -1, false, "1000"},
        {"link type", live("SCTP"), kFail, "Parse playstrem xml fail!", 7, false, "1000"},
        {"port 0", live("TCP", "0"), kFail, "Parse playstrem xml fail!", 7, false, "1000"},
        {"port 65536", live("UDP", "65536"), kFail, "Parse playstrem xml fail!", 7, false, "1000"},
        {"port not a number", live("TCP", "90x"), kFail, "Parse playstrem xml fail!", 7, false, "1000"},
        {"negative channel", live("TCP", "9000", "-1"), kFail, "Parse playstrem xml fail!", 7, false, "1000"},
        {"session id fails", live(), kFail, "VEXA_CMS_GetSevrSessionId failed", 7, true, "1000"},
        {"session id empty", live(), kFail, "VEXA_CMS_GetSevrSessionId failed", 7, false, ""},
        {"session id beyond 32 bits", live(), kFail, "VEXA_CMS_GetSevrSessionId failed", 7, false, "4294967296"},
        {"never issued", named("PLAY_STREAM_PUSH_REQ", "77"), kFail, "getAndDelPreviewSession fail, [session = 77]",
         7, false, "1000"},
        {"push without session", order("PLAY_STREAM_PUSH_REQ", ""), kFail, "Parse playstrem xml fail!", 7, false,
         "1000"},
        {"stop link type", order("STOP_STREAM_REQ", "<LinkType>X</LinkType><Session>1</Session>"), kFail,
         "Parse stop strem xml fail!", 7, false, "1000"},
        {"playback without SinkIP", order("PLAYBACK_FILE_REQ", "<Channel>1</Channel>"), kFail, "format error", 7,
         false, "1000"},
        {"playback time out of range", playback("20241301T000000Z"), kBad, "time text is invalid", 7, false, "1000"},
        {"talk port before address", order("START_TALK_REQ", "<Channel>1</Channel><SinkPort>9</SinkPort>"
                                                             "<SinkIP>127.0.0.1</SinkIP>"),
         kFail, "Parse talk xml fail!", 7, false, "1000"},
        {"pause offline", named("PAUSE_STREAM_REQ"), kFail, "Dev cam1 is not online!", -1, false, "1000"},
    };
    for (const Case& c : cases) {
        Host h;
        h.port.handle = c.handle;
        h.port.sessionIdFails = c.sessionIdFails;
        h.port.nextSessionId = c.sessionId;
        h.port.script(0, kTime);
        vtest::LogCapture log(5);
        EXPECT_EQ(h.run(c.text), c.rc) << c.name;
        EXPECT_TRUE(h.untouched()) << c.name;
        EXPECT_TRUE(c.line ? log.contains(c.line) : log.lines().empty()) << c.name;
        std::vector<unsigned char> rec(SessionTables::kPlaybackRecordSize);
        EXPECT_EQ(h.port.takeSession(SessionTables::kPreview, rec.data(), c.sessionId), 0) << c.name;
        EXPECT_EQ(h.port.takeSession(SessionTables::kPlayback, rec.data(), c.sessionId), 0) << c.name;
    }
}

TEST(MediaOrders, LiveViewStoresTheRecordTheLibraryStartsAndStops) {
    for (const char* link : {"TCP", "UDP"}) {
        for (const char* pto : {"VEXA", "aldonV5"}) {
            Host h;
            h.port.pto = pto;
            ASSERT_EQ(h.run(live(link)), 0);
            EXPECT_EQ(std::string(h.buf), kDecl + "<Message><Pack type=\"TNP\"><Command>PLAYBACK_FILE_RSP</Command>"
                                                  "<Result id=\"200\">OK</Result><Session>1000</Session><DevId>dev1"
                                                  "</DevId></Pack></Message>");
            EXPECT_EQ(h.port.takeSession(SessionTables::kPlayback, h.buf, "1000"), 0);  // a live session only
            ASSERT_EQ(h.run(named("PLAY_STREAM_PUSH_REQ")), 0);
            const auto r = h.port.record<VEXA_CMS_LIVE_PARAM>("startLive");
            const bool tcp = std::string(link) == "TCP";
            EXPECT_EQ(std::string(r.szSessionID) + "|" + std::to_string(r.dwChannel) + "|" +
                          std::to_string(r.dwStreamType) + "|" + r.szMediaIP + "|" + std::to_string(r.wTcpPort) + "|" +
                          std::to_string(r.wUdpPort) + "|" + std::to_string(r.byNative),
                      std::string("1000|2|2|127.0.0.1|") + (tcp ? "9000|0|" : "0|9000|") +
                          (std::string(pto) == "aldonV5" ? "1" : "0"));
            EXPECT_EQ(h.run(named("PLAY_STREAM_PUSH_REQ")), 0x30000001);  // taken once
            ASSERT_EQ(h.run(named("STOP_STREAM_REQ")), 0);
            EXPECT_STREQ(h.port.record<VEXA_CMS_STOP_PARAM>("stopLive").szSessionID, "1000");
            h.port.libraryFails = true;
            EXPECT_EQ(h.run(named("STOP_STREAM_REQ")), 0x30000001);
        }
    }
}

TEST(MediaOrders, PlaybackIsStoredInTheDevicesZoneAndPausedAndResumed) {
    Host h;
    h.port.script(0, kTime);
    ASSERT_EQ(h.run(playback("20240501T000000Z", "<StreamType>3</StreamType>")), 0);
    EXPECT_EQ(h.port.ovixCalls.at(0).url, "/OVIX/System/time");
    ASSERT_EQ(h.run(named("PLAYBACK_FILE_PUSH_REQ")), 0);
    const auto r = h.port.record<VEXA_CMS_RECORD_PARAM>("startRecord");
    char text[512];
    std::snprintf(text, sizeof text, "%s|%u|%s|%u|%u|%u|%u|%04u-%02u-%02u %02u:%02u:%02u|%02u:%02u", r.szSessionID,
                  r.dwChannel, r.szMediaIP, r.wMediaPort, r.byNative, r.dwStreamType, r.dwByTime, r.struStart.wYear,
                  r.struStart.byMonth, r.struStart.byDay, r.struStart.byHour, r.struStart.byMinute,
                  r.struStart.bySecond, r.struStop.byHour, r.struStop.byMinute);
    EXPECT_STREQ(text, "1000|3|127.0.0.1|9100|1|1|1|2024-05-01 08:00:00|09:00");
    for (const char* c : {"PAUSE_STREAM_REQ", "RESUME_STREAM_REQ"}) {
        ASSERT_EQ(h.run(named(c)), 0);
        EXPECT_NE(std::string(h.buf).find("<Command>PAUSE_STREAM_RSP</Command>"), std::string::npos);
        EXPECT_EQ(h.port.calls.back().operation, std::string(c) == "PAUSE_STREAM_REQ" ? 0u : 1u);
    }
    // A session nobody pushed is gone after five minutes.
    vexa::ManualClock clock;
    h.port.tables.setClock(&clock);
    h.port.nextSessionId = "1001";
    h.port.script(0, "<Time/>");  // no localTime: the gateway's offset, still stored
    ASSERT_EQ(h.run(playback()), 0);
    clock.advance(301 * 1000);
    h.port.nextSessionId = "1002";
    h.port.script(0, "<Time/>");
    ASSERT_EQ(h.run(playback()), 0);
    EXPECT_EQ(h.run(named("PLAYBACK_FILE_PUSH_REQ", "1001")), 0x30000001);
    h.port.script(0, "no markup");
    EXPECT_EQ(h.run(playback()), 0x60000001);  // an answer without an element
}

TEST(MediaOrders, VoiceTalkTellsTheCodecAndStoresTheTalkRecord) {
    struct Case { const char* type; uint32_t codec; const char* name; uint32_t libraryCode; uint32_t channel; };
    const Case cases[] = {{"IPCamera", 1, "G711U", 2, 4}, {"SecurityCP", 6, "PCM", 100, 0}, {"IPCamera", 9, "", 0, 4}};
    for (const Case& c : cases) {
        Host h;
        h.port.type = c.type;
        h.port.audioCodec = c.codec;
        ASSERT_EQ(h.run(order("START_TALK_REQ", "<Channel>4</Channel><LinkType>UDP</LinkType><SinkIP>127.0.0.1"
                                                "</SinkIP><SinkPort>9200</SinkPort>")),
                  0);
        EXPECT_NE(std::string(h.buf).find("<Command>START_TALK_RSP</Command><Result id=\"200\">OK</Result><Session>"
                                          "1000</Session><DevId>dev1</DevId><AudioEncType" +
                                          std::string(*c.name ? ">" + std::string(c.name) + "</AudioEncType>" : "/>")),
                  std::string::npos)
            << h.buf;
        ASSERT_EQ(h.run(named("START_TALK_PUSH_REQ")), 0);
        const auto r = h.port.record<VEXA_CMS_VOICE_PARAM>("startVoice");
        EXPECT_EQ(std::string(r.szSessionID) + "|" + r.szMediaIP + "|" + std::to_string(r.dwChannel) + "|" +
                      std::to_string(r.wMediaPort) + "|" + std::to_string(r.byEnable) + "|" +
                      std::to_string(r.dwAudioCode),
                  "1000|127.0.0.1|" + std::to_string(c.channel) + "|9200|1|" + std::to_string(c.libraryCode));
        ASSERT_EQ(h.run(named("STOP_TALK_REQ")), 0);
        EXPECT_STREQ(h.port.record<VEXA_CMS_VOICE_STOP_PARAM>("stopVoice").szSessionID, "1000");
    }
}

TEST(MediaOrders, AnswerFitsTheBufferOrIsNotWrittenAndFragmentStatusIsRewritten) {
    Host h;
    ASSERT_EQ(h.run(named("STOP_STREAM_REQ")), 0);
    const int32_t len = static_cast<int32_t>(std::strlen(h.buf));
    for (int32_t size : {len, 0, -5}) {
        EXPECT_EQ(h.run(named("STOP_STREAM_REQ"), size), -1) << size;
        EXPECT_TRUE(h.untouched());
    }
    EXPECT_EQ(h.run(named("STOP_STREAM_REQ"), len + 1), 0);
    CTarnMessage m;
    m.PackType = "TNP";
    m.PackContent = "<ZORNAMessage><Status>501</Status></ZORNAMessage><Extra>1</Extra>";
    CXmlCursor doc;
    ASSERT_TRUE(m.build(doc));
    EXPECT_EQ(doc.document(), kDecl + "<Message><Pack type=\"TNP\"><ZORNAMessage><Status>200</Status></ZORNAMessage>"
                                      "<Extra>1</Extra></Pack></Message>");
}

}  // namespace
