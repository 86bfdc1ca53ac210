// The talk codec lookup and the two device-API queries over a scripted port: every exit of the
// record query, the time base of the search, and whole answer documents.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "FakeMediaPort.h"
#include "TestSupport.h"
#include "media/MediaOrders.h"
#include "media/OrderMessage.h"

namespace {

using Script = std::vector<std::pair<uint32_t, std::string>>;
const std::string kStd = "<c><isSupportTimeTypeSTD>true</isSupportTimeTypeSTD></c>", kNoStd = "<c/>";
const std::string kNvr = "<i><deviceType>NVR</deviceType></i>";
const std::string kOrder = "<DevIndexCode>a&lt;b</DevIndexCode><Channel>2</Channel><StreamType>1</StreamType>"
                           "<BeginTime>2024-05-01T00:00:00Z</BeginTime><EndTime>2024-05-01T01:00:00Z</EndTime>";
const int32_t kBad = 0x60000001;

std::string head(const char* command, bool ok) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Message><Pack type=\"TNP\"><Command>") + command +
           "</Command><Result id=\"" + (ok ? "200\">OK" : "401\">Fail") + "</Result>";
}
std::string localTime(const char* t) { return std::string("<t><localTime>") + t + "</localTime></t>"; }
std::string item(const std::string& start, const std::string& end, const std::string& uri) {
    return "<searchMatchItem><timeSpan><startTime>" + start + "</startTime><endTime>" + end + "</endTime></timeSpan>"
           "<mediaSegmentDescriptor><playbackURI>" + uri + "</playbackURI></mediaSegmentDescriptor></searchMatchItem>";
}
std::string result(const std::string& matches, const std::string& items) {
    return "<r><numOfMatches>" + matches + "</numOfMatches><matchList>" + items + "</matchList></r>";
}
const std::string kItem = item("2024-05-01T08:00:00Z", "2024-05-01T08:30:00Z", "rtsp://d?name=f1&amp;size=1024&amp;t");

// One query as the order interface runs it: parsed order, handler, response document.
int32_t query(FakeMediaPort& port, bool talk, const std::string& fields, const Script& script, std::string& rsp) {
    for (const auto& s : script) port.script(s.first, s.second);
    CXmlCursor doc("<Message><Pack type=\"TNP\"><Command>x</Command>" + fields + "</Pack></Message>"), answer;
    CTarnMessage msg;
    EXPECT_TRUE(msg.parse(doc));
    MediaOrders o(port);
    const int32_t rc = talk ? o.ProcQueryTalkParamOVIX(doc, msg, answer) : o.ProcQueryRecordFileOVIX(doc, msg, answer);
    rsp = answer.document();
    return rc;
}

TEST(RecordQuery, EveryExitFailsWithItsLineAndTheFailAnswer) {
    const std::string field[] = {"DevIndexCode", "Channel", "StreamType", "BeginTime", "EndTime"};
    const std::string span = "<timeSpan><startTime/><endTime/></timeSpan>", mi = "searchMatchItem>";
    struct Case { std::string name, fields; Script script; int exitNo; size_t calls; };
    std::vector<Case> cases;
    for (int i = 0; i < 5; ++i) {
        std::string f = kOrder;
        const size_t at = f.find("<" + field[i] + ">"), to = f.find("</" + field[i] + ">") + field[i].size() + 3;
        cases.push_back({"no" + field[i], f.erase(at, to - at), {}, i + 1, 0});
    }
    const auto dev = [&](const char* name, uint32_t rc, const std::string& answer, int exitNo) {
        cases.push_back({name, kOrder, {{0, kStd}, {rc, answer}}, exitNo, 2});
    };
    dev("searchFails", 258, "", 5), dev("notWellFormed", 0, "<r><b></r>", 6), dev("noElement", 0, "<?xml version='1.0'?>", 7);
    dev("noMatches", 0, "<r><matchList/></r>", 8), dev("emptyMatches", 0, result("", kItem), 8);
    dev("noMatchList", 0, "<r><numOfMatches>1</numOfMatches></r>", 9), dev("zeroMatches", 0, result("0", kItem), 0);
    dev("noItem", 0, result("1", "<other/>"), 0);
    dev("noTimeSpan", 0, result("1", "<" + mi + "<mediaSegmentDescriptor/></" + mi), 10);
    dev("noStart", 0, result("1", "<" + mi + "<timeSpan><endTime/></timeSpan></" + mi), 11);
    dev("noEnd", 0, result("1", "<" + mi + "<timeSpan><startTime/></timeSpan></" + mi), 12);
    dev("noDescriptor", 0, result("2", kItem + "<" + mi + span + "</" + mi), 13);
    // Every sibling after the first searchMatchItem is an item, whatever its name.
    dev("noUri", 0, result("2", kItem + "<i>" + span + "<mediaSegmentDescriptor/></i>"), 14);
    // A device searched in local time answers a time that cannot be converted back.
    cases.push_back({"badItemTime", kOrder, {{0, kNoStd}, {0, kNvr}, {0, localTime("2024-05-01T08:00:00+08:00")},
                     {0, result("1", item("2024-05-01T08:00:00Z", "2024-02-30T00:00:00Z", "u"))}}, 0, 4});
    for (const Case& c : cases) {
        vtest::LogCapture log;
        FakeMediaPort port;
        port.id = c.name;  // each row its own rate-limit source
        std::string rsp, numbered;
        EXPECT_EQ(query(port, false, c.fields, c.script, rsp), -1) << c.name;
        EXPECT_EQ(rsp, head("QUERY_RECORDFILE_OVIX_RSP", false) + "</Pack></Message>") << c.name;
        EXPECT_EQ(port.ovixCalls.size(), c.calls) << c.name;
        for (const std::string& l : log.lines())
            if (l.find("ProcQueryRecordFileOVIX error ") != std::string::npos) numbered += l.substr(l.rfind(' ') + 1);
        EXPECT_EQ(numbered, c.exitNo ? std::to_string(c.exitNo) : "") << c.name;
    }
}

TEST(RecordQuery, SuccessAnswerIsWholeWithEscapedTextsAndTheNumberedElement) {
    FakeMediaPort port;
    std::string rsp;
    const std::string second = item("2024-05-01T09:00:00Z", "2024-05-01T09:10:00", "r?name=a&lt;b\xff&amp;size=2048");
    ASSERT_EQ(query(port, false, kOrder, {{0, kStd}, {0, result("2", kItem + second)}}, rsp), 0);
    ASSERT_EQ(port.ovixCalls.size(), 2u);
    EXPECT_EQ(port.ovixCalls[0].url + char('0' + port.ovixCalls[0].method), "/OVIX/System/capabilities0");
    EXPECT_EQ(port.ovixCalls[1].url + char('0' + port.ovixCalls[1].method), "/OVIX/ContentMgmt/search?timeType=STD2");
    EXPECT_EQ(port.ovixCalls[1].body,
              "<?xml version=\"1.0\" encoding=\"utf-8\"?><CMSearchDescription><searchID>a&lt;b</searchID><trackIDList>"
              "<trackID>201</trackID></trackIDList><timeSpanList><timeSpan><startTime>2024-05-01T00:00:00Z</startTime>"
              "<endTime>2024-05-01T01:00:00Z</endTime></timeSpan></timeSpanList><maxResults>40</maxResults>"
              "<searchResultPostion>0</searchResultPostion><metadataList><metadataDescriptor>"
              "recordType.meta.vexadev.local</metadataDescriptor></metadataList></CMSearchDescription>");
    EXPECT_EQ(rsp, head("QUERY_RECORDFILE_OVIX_RSP", true) +
                       "<File><23/><SegmentCount>2</SegmentCount><SegmentList><RecordSegment><BeginTime>"
                       "2024-05-01T08:00:00Z</BeginTime><EndTime>2024-05-01T08:30:00Z</EndTime><MediaDataLen>1024"
                       "</MediaDataLen><FileName>f1</FileName></RecordSegment><RecordSegment><BeginTime>"
                       "2024-05-01T09:00:00Z</BeginTime><EndTime>2024-05-01T09:10:00</EndTime><MediaDataLen>2048"
                       "</MediaDataLen><FileName>a&lt;b\xEF\xBF\xBD</FileName></RecordSegment></SegmentList></File>"
                       "</Pack></Message>");
    EXPECT_EQ(CXmlCursor(rsp).parseResult(), "");  // the host reads it back with the same reader
}

TEST(RecordQuery, SearchTimesFollowTheDevicesTimeBase) {
    const std::string answer = result("1", item("2024-05-01T08:00:00Z", "2024-05-01T08:30:00", "u?size=5"));
    const std::string badTime = std::string(kOrder).replace(kOrder.find("T00"), 3, "T24");
    const std::string dvr = "<i><deviceType>DVR</deviceType></i>", camera = "<i><deviceType>IPCamera</deviceType></i>";
    struct Case { const char* name; std::string fields; Script script; int32_t rc; const char *url, *start, *begin; };
    const Case cases[] = {
        {"std", kOrder, {{0, kStd}, {0, answer}}, 0, "?timeType=STD", "2024-05-01T00:00:00Z", "2024-05-01T08:00:00Z"},
        {"nvr+8", kOrder, {{0, kNoStd}, {0, kNvr}, {0, localTime("2024-05-01T08:00:00+08:00")}, {0, answer}}, 0,
         "search", "2024-05-01T08:00:00+08:00", "2024-05-01T00:00:00Z"},
        {"dvr-3:30", kOrder, {{0, kNoStd}, {0, dvr}, {0, localTime("2024-05-01T08:00:00-03:30")}, {0, answer}}, 0,
         "search", "2024-04-30T20:30:00-03:30", "2024-05-01T11:30:00Z"},
        {"camera", kOrder, {{258, ""}, {0, camera}, {0, answer}}, 0, "search", "2024-05-01T00:00:00Z",
         "2024-05-01T08:00:00Z"},
        {"badTime", badTime, {{0, kNoStd}, {0, kNvr}, {0, localTime("2024-05-01T08:00:00Z")}}, kBad, "time", 0, 0},
        {"capNoRoot", kOrder, {{0, "<c>"}}, kBad, "capabilities", 0, 0},
        {"noDeviceType", kOrder, {{0, kNoStd}, {0, "<i/>"}}, kBad, "deviceInfo", 0, 0},
        {"noLocalTime", kOrder, {{0, kNoStd}, {0, kNvr}, {0, "<t/>"}}, kBad, "time", 0, 0},
        {"documentTooLong", std::string(kOrder).insert(14, 900, 'x'), {{0, kStd}}, kBad, "capabilities", 0, 0},
    };
    for (const Case& c : cases) {
        FakeMediaPort port;
        std::string rsp;
        EXPECT_EQ(query(port, false, c.fields, c.script, rsp), c.rc) << c.name;
        ASSERT_FALSE(port.ovixCalls.empty()) << c.name;
        const auto& last = port.ovixCalls.back();
        EXPECT_EQ(last.url.substr(last.url.size() - strlen(c.url)), c.url) << c.name;
        const auto has = [](const std::string& s, const char* tag, const char* t) {
            return s.find(std::string(tag) + t + "<") != std::string::npos;
        };
        // No answer when the search cannot be made.
        EXPECT_TRUE(c.start ? has(last.body, "<startTime>", c.start) && has(rsp, "<BeginTime>", c.begin) : rsp.empty())
            << c.name << last.body << rsp;
    }
}

std::string rate(const std::string& v) {
    return "<TwoWayAudioChannel>" + (v.empty() ? "<audioSamplingRate/>" : "<audioSamplingRate>" + v + "</audioSamplingRate>") +
           "</TwoWayAudioChannel>";
}

TEST(TalkQuery, RateAnswersAndFailures) {
    struct Case { const char *name, *type; bool channel; uint32_t devRc; std::string answer; int32_t rc; const char *hz, *line; };
    const Case cases[] = {
        {"16", "IPCamera", true, 0, rate("16"), 0, "16000", ""}, {"44.1", "NVR", true, 0, rate(" 44.1 "), 0, "44100", ""},
        {"wide", "NVR", true, 0, rate("4294968"), 0, "4294968000", ""},  // beyond 32 bits in hertz: never wraps
        {"huge", "NVR", true, 0, rate("99999999999"), 0, "", "4 VEXA_DEV"}, {"text", "NVR", true, 0, rate("16k"), 0, "", "4 VEXA_DEV"},
        {"missing", "NVR", true, 0, "<TwoWayAudioChannel/>", 0, "", ""},
        {"panel", "SecurityCP", true, 0, "", -1, nullptr, "not support."},
        {"noChannel", "NVR", false, 0, "", -1, nullptr, "ProcQueryRecordFileOVIX error 2"},
        {"deviceFails", "NVR", true, 258, "", -1, nullptr, "ProcQueryRecordFileOVIX error 2"},
        {"noRoot", "NVR", true, 0, "<?xml version=\"1.0\"?>", kBad, nullptr, "xml root get failed"},
    };
    for (const Case& c : cases) {
        vtest::LogCapture log;
        FakeMediaPort port;
        port.type = c.type;
        port.id = c.name;
        std::string rsp;
        EXPECT_EQ(query(port, true, c.channel ? "<Channel>2</Channel>" : "", {{c.devRc, c.answer}}, rsp), c.rc);
        const bool asked = c.channel && std::string(c.type) != "SecurityCP";
        EXPECT_EQ(asked ? port.ovixCalls.at(0).url : "", asked ? "/OVIX/System/TwoWayAudio/channels/2" : "") << c.name;
        const std::string whole = head("QUERY_TALK_OVIX_RSP", c.hz) + (c.hz ? rate(c.hz) : "") + "</Pack></Message>";
        EXPECT_EQ(rsp, c.rc == kBad ? "" : whole) << c.name;
        EXPECT_TRUE(log.contains(c.line)) << c.name;
    }
}

TEST(AudioType, BothFamilies) {
    const auto acts = [](const std::string& before, const std::string& id, const std::string& type) {
        return R"({"actions":[)" + before + R"({"identifier":")" + id +
               R"(","input":{"schema":{"properties":{"AudioCodeInfo":{"properties":{"type":)" + type + "}}}}}}]}";
    };
    const std::string talk = "StartVoiceTalk", four = R"({"default":4})";
    struct Case { const char *name, *pto; uint32_t rc; std::string answer; bool fails; uint32_t codec; int32_t index; };
    const Case cases[] = {
        {"withTalk", "VEXA", 0, acts(R"({"identifier":"x","input":{}},)", talk, four), false, 0, 4},
        {"noTalk", "VEXA", 0, acts("", "x", four), false, 0, 1}, {"failed", "VEXA", 1, acts("", talk, four), false, 0, 1},
        {"pathLater", "VEXA", 0, acts(R"({"identifier":"StartVoiceTalk"},)", talk, R"({"default":2})"), false, 0, 2},
        {"defaultText", "VEXA", 0, acts("", talk, R"({"default":"4"})"), false, 0, 1},
        {"wrongTypes", "VEXA", 0, acts(R"(7,"x",null,{"identifier":5},)", talk, "[4]"), false, 0, 1},
        {"actionsObject", "VEXA", 0, R"({"actions":{"identifier":"StartVoiceTalk"}})", false, 0, 1},
        {"notJson", "VEXA", 0, "[", false, 0, 1}, {"query", "aldonV5", 0, "", false, 5, 5},
        {"queryFails", "aldonV5", 0, "", true, 5, 0}, {"queryJunk", "aldonV5", 0, "", false, 0xFFFFFFFFu, -1},
    };
    for (const Case& c : cases) {
        vtest::LogCapture log;
        FakeMediaPort port;
        port.pto = c.pto, port.libraryFails = c.fails, port.audioCodec = c.codec;
        port.script(c.rc, c.answer);
        EXPECT_EQ(MediaOrders(port).getAudioType(), c.index) << c.name;
        const bool vexa = std::string(c.pto) == "VEXA";
        std::string sent;
        for (const ModelCommand& m : port.models) sent += std::to_string(m.kind) + m.domain + "/" + m.identifier + m.body;
        EXPECT_EQ(sent, vexa ? R"(3DynamicCapability/GetFunctions{"identifier":"VoiceTalk"})" : "") << c.name;
        const auto q = port.record<VEXA_CMS_DEV_CONFIG_QUERY>("getDevConfig");
        const auto* call = port.last("getDevConfig");
        EXPECT_EQ(call && call->operation == 1u && q.dwOutBufferSize == 512u && q.lpOutBuffer, !vexa) << c.name;
        EXPECT_EQ(log.contains("VEXA_CMS_GetDevConfig VEXA_FERRO_GET_DEVICE_INFO error 7"), c.fails) << c.name;
    }
}

}  // namespace
