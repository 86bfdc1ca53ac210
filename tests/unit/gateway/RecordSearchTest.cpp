#include <gtest/gtest.h>

#include <map>

#include "FakeChannel.h"
#include "TestSupport.h"
#include "common/JsonUtil.h"
#include "common/StatusCode.h"
#include "gateway/RecordSearch.h"
#include "gateway/VexaDeviceGateway.h"

namespace {

using namespace vexa::status;

// Answers device-API requests by path; records them like FakeChannel.
struct DeviceByPath : FakeChannel {
    std::map<std::string, Answer> byPath;
    uint32_t ovix(std::string& response, const std::string& url, const std::string& body, uint8_t method) override {
        ovixCalls.push_back({url, body, method});
        const auto it = byPath.find(url.substr(0, url.find('?')));
        response = it == byPath.end() ? "" : it->second.text;
        return it == byPath.end() ? kNotSupport : it->second.rc;
    }
    std::string posted() const {  // the search document, "" when none was sent
        for (const auto& c : ovixCalls)
            if (c.method == 2) return c.url + " " + c.body;
        return "";
    }
};

const std::string kId = "0123456789abcdef0123456789abcdef0123";
const std::string kAnalog = "<VideoInputChannelList><VideoInputChannel><id>1</id><name>Gate</name></VideoInputChannel>"
                            "<VideoInputChannel><id>2</id><inputPort>x</inputPort></VideoInputChannel></VideoInputChannelList>";
const std::string kStd = "<DeviceCap><isSupportTimeTypeSTD>true</isSupportTimeTypeSTD></DeviceCap>";

std::string item(const std::string& start, const std::string& end, const std::string& uri = "rtsp://d/t?starttime=a&amp;name=ch01_1&amp;size=1024") {
    return "<searchMatchItem><sourceID>{S}</sourceID><trackID>101</trackID><timeSpan><startTime>" + start +
           "</startTime><endTime>" + end + "</endTime></timeSpan><mediaSegmentDescriptor><contentType>video</contentType>"
           "<codecType>H.264</codecType><playbackURI>" + uri + "</playbackURI></mediaSegmentDescriptor></searchMatchItem>";
}
std::string result(int n, const std::string& items) {
    return "<CMSearchResult><responseStatus>true</responseStatus><responseStatusStrg>MORE</responseStatusStrg>"
           "<numOfMatches>" + std::to_string(n) + "</numOfMatches><matchList>" + items + "</matchList></CMSearchResult>";
}
std::string body(const std::string& description) {
    return R"({"CMSearchDescription":{"searchID":")" + kId + R"(","trackIDList":[{"trackID":101}],)" + description + "}}";
}
const std::string kSpan = R"("timeSpanList":[{"timeSpan":{"startTime":"2024-05-01T01:00:00Z","endTime":"2024-05-01T02:00:00Z"}}],)";
const std::string kTail = R"("maxResults":40,"searchResultPostion":0,"metadataList":[{"metadataDescriptor":"m<&>"}])";
const std::string kGood = body(kSpan + kTail);

std::string with(std::string s, const std::string& from, const std::string& to) {
    return s.replace(s.find(from), from.size(), to);
}

Json::Value media(const std::string& json = R"({"ip":"10.0.0.9","port":554})") {
    Json::Value v;
    vexa::parseJson(json, v);
    return v;
}

TEST(RecordSearch, BadRequestsSendNoSearch) {
    std::string longMeta(900, 'm');
    const struct { std::string what, uri, body; Json::Value media; } cases[] = {
        {"no devIndex", "/OVIX/ContentMgmt/search?format=json&x=1", kGood, media()},
        {"three params", "/OVIX/ContentMgmt/search?format=json&devIndex=7&x=1", kGood, media()},
        {"port 0", "/OVIX/ContentMgmt/search?format=json&devIndex=7", kGood, media(R"({"ip":"h","port":0})")},
        {"not json", "/OVIX/ContentMgmt/search?format=json&devIndex=7", "[1]", media()},
        {"maxResults 41", "", body(kSpan + R"("maxResults":41,"searchResultPostion":0,"metadataList":[{"metadataDescriptor":"m"}])"), media()},
        {"searchID 35", "", with(kGood, kId, kId.substr(1)), media()},
        {"no metadata", "", body(kSpan + R"("maxResults":4,"searchResultPostion":0)"), media()},
        {"stream 4", "", with(kGood, "101", "104"), media()},
        {"control character", "", with(kGood, "m<&>", "m\\u0000"), media()},
        {"not utf-8", "", with(kGood, "m<&>", "m\xe9"), media()},
        {"channel 3 unknown", "", with(kGood, "101", "301"), media()},
        {"reversed", "", body(R"("timeSpanList":[{"timeSpan":{"startTime":"2024-05-01T03:00:00Z","endTime":"2024-05-01T02:00:00Z"}}],)" + kTail), media()},
        {"offset", "", body(R"("timeSpanList":[{"timeSpan":{"startTime":"2024-05-01T01:00:00+08:00","endTime":"2024-05-01T02:00:00+08:00"}}],)" + kTail), media()},
        {"no such day", "", body(R"("timeSpanList":[{"timeSpan":{"startTime":"2024-02-30T01:00:00Z","endTime":"2024-03-01T02:00:00Z"}}],)" + kTail), media()},
        {"non-digit", "", body(R"("timeSpanList":[{"timeSpan":{"startTime":"2024-05-01T0x:00:00Z","endTime":"2024-05-01T02:00:00Z"}}],)" + kTail), media()},
        {"document too long", "", body(kSpan + R"("maxResults":4,"searchResultPostion":0,"metadataList":[{"metadataDescriptor":")" + longMeta + "\"}]"), media()},
    };
    for (const auto& c : cases) {
        CVexaDevice dev;
        DeviceByPath ch;
        ch.byPath = {{"/OVIX/System/Video/inputs/channels", {0, kAnalog}}, {"/OVIX/System/capabilities", {0, kStd}}};
        std::string rsp;
        const std::string uri = c.uri.empty() ? "/OVIX/ContentMgmt/search?format=json&devIndex=7" : c.uri;
        EXPECT_EQ(ovixSearchRecords(dev, ch, uri, c.body, c.media, rsp), kBadParameters) << c.what;
        EXPECT_EQ(ch.posted(), "") << c.what;
        EXPECT_EQ(rsp, "") << c.what;
    }
}

// Host text reaches the device escaped; keywords without text are left out.
TEST(RecordSearch, SearchDocumentEscapesHostText) {
    CVexaDevice dev;
    DeviceByPath ch;
    ch.byPath = {{"/OVIX/ContentMgmt/InputProxy/channels", {0, kAnalog}}, {"/OVIX/System/capabilities", {0, kStd}},
                 {"/OVIX/ContentMgmt/search", {0, result(0, "")}}};
    const std::string b = body(kSpan + R"("searchTypeList":[{"searchKeyword":"a&b"},{"x":1}],)" + kTail);
    std::string rsp;
    EXPECT_EQ(ovixSearchRecords(dev, ch, "/OVIX/ContentMgmt/search?devIndex=7&format=json", b, media(), rsp), 0u);
    EXPECT_EQ(ch.posted(), "/OVIX/ContentMgmt/search?timeType=STD <?xml version=\"1.0\" encoding=\"utf-8\"?><CMSearchDescription>"
              "<searchID>" + kId + "</searchID><trackIDList><trackID>101</trackID></trackIDList><timeSpanList><timeSpan>"
              "<startTime>2024-05-01T01:00:00Z</startTime><endTime>2024-05-01T02:00:00Z</endTime></timeSpan></timeSpanList>"
              "<searchTypeList><searchKeyword>a&amp;b</searchKeyword></searchTypeList><contentTypeList></contentTypeList>"
              "<maxResults>40</maxResults><searchResultPostion>0</searchResultPostion><metadataList><metadataDescriptor>"
              "m&lt;&amp;&gt;</metadataDescriptor></metadataList></CMSearchDescription>");
    EXPECT_EQ(dev.devIndex(), "7");
}

TEST(RecordSearch, UnreadableAnswersGiveTheDeviceStatusNeverOk) {
    const std::string status4 = "<ResponseStatus><statusCode>4</statusCode></ResponseStatus>";
    const std::string status1 = "<ResponseStatus><statusCode>1</statusCode></ResponseStatus>";
    const struct { FakeChannel::Answer answer; uint32_t rc; std::string rsp; } cases[] = {
        {{0, status4}, kNotSupport, statusDocumentText(kNotSupport)},
        {{0, status1}, kBadParameters, ""},
        {{0, "<a><b>"}, kBadParameters, ""},
        {{kWaitTimeout, ""}, kWaitTimeout, ""},
    };
    for (const auto& c : cases) {
        for (int route = 0; route < 3; ++route) {
            CVexaDevice dev;
            DeviceByPath ch;
            ch.byPath = {{"/OVIX/System/Video/inputs/channels", {0, kAnalog}}, {"/OVIX/System/capabilities", {0, kStd}},
                         {"/OVIX/ContentMgmt/search", c.answer}, {"/OVIX/ContentMgmt/download/capabilities", c.answer}};
            if (route == 2) ch.byPath["/OVIX/System/Video/inputs/channels"] = c.answer;
            std::string rsp;
            const uint32_t rc = route == 0 ? ovixSearchRecords(dev, ch, "/a?format=json&devIndex=7", kGood, media(), rsp)
                                : route == 1 ? GetDownloadCap(ch, rsp)
                                             : ovixGetVideoInputChannelList(ch, rsp);
            EXPECT_EQ(rc, c.rc) << c.answer.text << route;
            EXPECT_EQ(rsp, c.rsp) << c.answer.text << route;
        }
    }
}

TEST(RecordSearch, AnswerItems) {
    const std::string good = item("2024-05-01T01:00:00Z", "2024-05-01T01:30:00Z");
    const std::string noUri = with(with(good, "<playbackURI>", "<other>"), "</playbackURI>", "</other>");
    const std::string alias = with(good, "contentType>video</contentType", "contenType>video</contenType");
    const std::string longName = item("2024-05-01T01:00:00Z", "2024-05-01T01:30:00Z", "r?name=" + std::string(200, 'n'));
    // has: a text of the answer; name: the first item's name when given.
    const struct { std::string what, answer; int rc; int items; std::string has, name = ""; } cases[] = {
        {"zero matches", result(0, ""), 0, -1, R"("numOfMatches":0,)"},
        {"no status", "<CMSearchResult><numOfMatches>1</numOfMatches></CMSearchResult>", -1, -1, ""},
        {"no list", "<R><responseStatus>x</responseStatus><responseStatusStrg/><numOfMatches>2</numOfMatches></R>", -1, -1, ""},
        {"walk ends at a bad item", result(3, good + noUri + good), 0, 1, ""},
        {"content type alias", result(1, alias), 0, 1, R"("contenType":"video")"},
        {"url over 255 never cut", result(2, good + longName), 0, 1, ""},
        {"url over 255 once cleaned", result(1, item("2024-05-01T01:00:00Z", "2024-05-01T01:30:00Z", "r?name=" + std::string(80, '\xff'))), 0, 0, ""},
        {"capped at numOfMatches", result(2, good + good + good), 0, 2, R"("size":1024)"},
        {"bad time", result(1, item("2024-13-01T01:00:00Z", "2024-05-01T01:30:00Z")), 0, 0, ""},
        {"not utf-8", result(1, item("2024-05-01T01:00:00Z", "2024-05-01T01:30:00Z", "r?name=a\xff")), 0, 1, "", "a\xef\xbf\xbd"},
        {"empty source", result(1, with(good, "{S}", "")), 0, 1, R"("sourceID":null)"},
    };
    SearchContext ctx;
    ctx.channel = 1;
    for (const auto& c : cases) {
        std::string rsp = "untouched";
        EXPECT_EQ(searchRecordsRsp(c.answer, ctx, "7", "dev", rsp), c.rc) << c.what;
        Json::Value v;
        if (c.rc != 0) {
            EXPECT_EQ(rsp, "untouched") << c.what;
            continue;
        }
        ASSERT_TRUE(vexa::parseJson(rsp, v)) << c.what;
        const Json::Value& list = v["CMSearchResult"]["matchList"];
        EXPECT_EQ(c.items < 0 ? list.isNull() : list.size() == static_cast<unsigned>(c.items), true) << c.what << rsp;
        EXPECT_NE(rsp.find(c.has), std::string::npos) << c.what << rsp;
        if (!c.name.empty()) {
            EXPECT_EQ(list[0]["searchMatchItem"]["mediaSegmentDescriptor"]["name"].asString(), c.name);
        }
    }
}

TEST(RecordSearch, ChannelMembersAndIds) {
    FakeChannel ch;
    ch.script(0, kAnalog);
    std::string rsp;
    EXPECT_EQ(ovixGetVideoInputChannelList(ch, rsp), 0u);
    EXPECT_EQ(rsp, R"({"VideoInputChannelList":[{"VideoInputChannel":{"id":1,"name":"Gate"}},{"VideoInputChannel":{"id":2}}]})");
    // Channel lists are matched on whole ids.
    const struct { const char* answer; uint32_t rc; bool listed; } lists[] = {
        {"<L><C><id>11</id></C><C><id>3</id></C></L>", 0, true}, {"<L><C><id>11</id></C></L>", 0, false},
        {"<L><id>3</id></L>", kWaitTimeout, false},
    };
    for (const auto& l : lists) {
        for (bool ip : {true, false}) {
            FakeChannel c;
            c.script(l.rc, l.answer);
            EXPECT_EQ(ip ? isIpChannel(c, 3) : isAnalogChannel(c, 3), l.listed) << l.answer;
            EXPECT_EQ(c.ovixCalls.at(0).url, ip ? "/OVIX/ContentMgmt/InputProxy/channels" : "/OVIX/System/Video/inputs/channels");
        }
    }
}

}  // namespace
