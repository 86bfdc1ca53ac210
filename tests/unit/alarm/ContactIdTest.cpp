#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ContactId.h"
#include "JsonUtil.h"
#include "EventSink.h"
#include "TestSupport.h"
#include "VexaDevice.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

using vtest::onEvent;
using vtest::Sink;

// A registered device "p1" whose events land in the sink.
class ContactId : public ::testing::Test {
protected:
    void SetUp() override { dev = makeDevice("p1", "SN-0042", "active"); }
    void TearDown() override {
        for (auto& d : devices) d->DisConnect();
    }
    std::shared_ptr<CVexaDevice> makeDevice(const std::string& id, const std::string& serial, const char* active) {
        auto d = std::make_shared<CVexaDevice>();
        d->SetEventCallBack(onEvent, &sink);
        d->Connect_V2(("DeviceId=" + id + ";AlarmActiveStatus=" + active + ";").c_str());
        d->setLogin({-1, "10.0.0.9", 8000, "VEXA", serial});
        devices.push_back(d);
        return d;
    }
    Sink sink;
    std::shared_ptr<CVexaDevice> dev;
    std::vector<std::shared_ptr<CVexaDevice>> devices;
};

// "{" + content + "}" parsed; fails the test when it is not JSON.
Json::Value content(const AlarmEventInfo& e) {
    Json::Value v;
    EXPECT_TRUE(vexa::parseJson("{" + std::string(e.szContent) + "}", v)) << e.szContent;
    return v;
}

// "a.b.0.c" into a value; null when any step is missing.
const Json::Value* at(const Json::Value& root, const std::string& path) {
    const Json::Value* v = &root;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t dot = path.find('.', pos);
        if (dot == std::string::npos) dot = path.size();
        const std::string key = path.substr(pos, dot - pos);
        if (v->isArray() && !key.empty() && isdigit(static_cast<unsigned char>(key[0]))) {
            const Json::ArrayIndex i = static_cast<Json::ArrayIndex>(std::stoul(key));
            if (i >= v->size()) return nullptr;
            v = &(*v)[i];
        } else {
            v = vexa::jsonMember(*v, key.c_str());
            if (!v) return nullptr;
        }
        pos = dot + 1;
    }
    return v;
}

// Expected value as compact JSON; nullptr: the member must be absent.
struct Check {
    const char* path;
    const char* json;
};

void expectChecks(const AlarmEventInfo& e, const std::vector<Check>& checks, const std::string& name) {
    const Json::Value doc = content(e);
    for (const Check& c : checks) {
        const Json::Value* v = at(doc, c.path);
        if (!c.json) {
            EXPECT_EQ(v, nullptr) << name << ": " << c.path << " should be absent";
            continue;
        }
        ASSERT_NE(v, nullptr) << name << ": " << c.path << " missing in " << e.szContent;
        Json::Value want;
        ASSERT_TRUE(vexa::parseJson(c.json, want)) << c.json;
        EXPECT_EQ(*v, want) << name << ": " << c.path << " = " << vexa::writeJson(*v);
    }
}

std::string envelope(const std::string& params, const std::string& outside = "", const std::string& devId = "p1") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ZORNAMessage><Version>3.0</Version><Sequence>17</Sequence>"
           "<CommandType>REQUEST</CommandType><Command>CIDREPORT</Command><Params><DeviceID>" +
           devId + "</DeviceID>" + params + "</Params>" + outside + "</ZORNAMessage>";
}

const char* const kBaseParams =
    "<CIDCode>1130</CIDCode><CIDDescribe>Burglary</CIDDescribe><CIDType>1</CIDType><SubSys>2</SubSys>"
    "<TimeZoneIdx>28</TimeZoneIdx><TriggerTime>2024-05-06 07:08:09</TriggerTime>"
    "<DSTTriggerTime>2024-05-06 08:08:09</DSTTriggerTime><UploadTime>2024-05-06 07:08:10</UploadTime>"
    "<CIDParam>1,2,37,4</CIDParam><UUID>5b1c0e9a-77f1-4f5e-9b7e-2d5c6a1e0f11</UUID><zoneName>Front door</zoneName>"
    "<deviceNo>3</deviceNo><intercomTriggerEnabled>true</intercomTriggerEnabled>";

const char* const kRecheck = "<Recheck><VideoURL>/clip1</VideoURL></Recheck>";
const char* const kVideoList =
    "<videoInfoList><videoInfo><videoURL>/v/a.mp4</videoURL><cameraPosition>left</cameraPosition></videoInfo>"
    "<videoInfo><videoURL>/v/b.mp4</videoURL><cameraPosition>right</cameraPosition></videoInfo>"
    "<videoInfo><videoURL>/v/c.mp4</videoURL><cameraPosition>rear</cameraPosition></videoInfo></videoInfoList>";
const char* const kPictures =
    "<PictureInfoList><PictureInfo><pictureURL>/p/1.jpg</pictureURL><cameraPosition>left</cameraPosition>"
    "</PictureInfo></PictureInfoList>";

struct ReportCase {
    const char* name;
    std::string xml;
    bool videoReview;
    int rc;
    int events;  // 0 or 1
    uint32_t code;
    const char* szTime;
    std::vector<Check> checks;
};

int convert(const std::string& xml) {
    CXmlCursor doc(xml);
    CZornaMessage msg;
    msg.parse(doc);
    return procFERROCidReportReq(msg, xml);
}

TEST_F(ContactId, CidReportCases) {
    const std::string base = kBaseParams;
    const char* T = "2024-05-06T07:08:09+08:00";
    const uint32_t P = vexa::kCidEventPlain, V = vexa::kCidEventVideoReview;
    const std::string clips = "<videoInfoList><videoInfo><videoURL>/v/a.mp4</videoURL></videoInfo>"
                              "<videoInfo><videoURL>/v/b.mp4</videoURL><cameraPosition>right</cameraPosition></videoInfo></videoInfoList>";
    const ReportCase cases[] = {
        {"plain report", envelope(base + kPictures), false, 0, 1, P, T,
         {{"CIDAlarm.subSys", "2"}, {"CIDAlarm.ZoneNo", "37"}, {"CIDAlarm.zoneName", "\"Front door\""},
          {"CIDAlarm.CIDCode", "\"1130\""}, {"CIDAlarm.CIDType", "1"}, {"CIDAlarm.CIDDescribe", "\"Burglary\""},
          {"CIDAlarm.timeZoneIdx", "28"}, {"CIDAlarm.triggerTime", "\"2024-05-06T07:08:09+08:00\""},
          {"CIDAlarm.DSTTriggerTime", "\"2024-05-06 08:08:09\""}, {"CIDAlarm.uploadTime", "\"2024-05-06 07:08:10\""},
          {"CIDAlarm.CIDParam", "\"1,2,37,4\""}, {"CIDAlarm.UUID", "\"5b1c0e9a-77f1-4f5e-9b7e-2d5c6a1e0f11\""},
          {"CIDAlarm.deviceNo", "3"}, {"CIDAlarm.isTalk", "1"}, {"CIDAlarm.temperatureValue", nullptr},
          {"CIDAlarm.Longitude", nullptr}, {"CIDAlarm.Latitude", nullptr}, {"CIDAlarm.videoURL", nullptr}}},
        {"no recheck with video review stays plain", envelope(base + kVideoList), true, 0, 1, P, T,
         {{"CIDAlarm.CIDCode", "\"1130\""}, {"VideoReview", nullptr}}},
        {"video review", envelope(base + kRecheck + kVideoList), true, 0, 1, V, T,
         {{"VideoReview.protocolType", "\"TarnCIDProtocol\""},
          {"VideoReview.TarnCIDParams.videoURL", "\"/TarnGatewayStorage/clip1\""},
          {"VideoReview.TarnCIDParams.ZoneNo", "37"}, {"VideoReview.TarnCIDParams.CIDCode", "\"1130\""},
          {"VideoReview.TarnCIDParams.videoInfoList",
           "[{\"videoURL\":\"/TarnGatewayStorage/v/a.mp4\",\"cameraPosition\":\"left\"},"
           "{\"videoURL\":\"/TarnGatewayStorage/v/b.mp4\",\"cameraPosition\":\"right\"}]"},
          {"CIDAlarm", nullptr}}},
        // D15: not dropped.
        {"video url without video review is plain", envelope(base + kRecheck + kVideoList), false, 0, 1, P, T,
         {{"CIDAlarm.ZoneNo", "37"}, {"CIDAlarm.videoURL", nullptr}, {"VideoReview", nullptr}}},
        {"recheck beside params", envelope(base, kRecheck), true, 0, 1, V, T,
         {{"VideoReview.TarnCIDParams.videoURL", "\"/TarnGatewayStorage/clip1\""}, {"VideoReview.TarnCIDParams.videoInfoList", "[]"}}},
        {"clip without position left out", envelope(base + kRecheck + clips), true, 0, 1, V, T,
         {{"VideoReview.TarnCIDParams.videoInfoList", "[{\"videoURL\":\"/TarnGatewayStorage/v/b.mp4\",\"cameraPosition\":\"right\"}]"}}},
        {"clip with position but no url left out",
         envelope(base + kRecheck + "<videoInfoList><videoInfo><videoURL></videoURL><cameraPosition>left</cameraPosition></videoInfo></videoInfoList>"),
         true, 0, 1, V, T, {{"VideoReview.TarnCIDParams.videoInfoList", "[]"}}},
        {"empty recheck url is plain", envelope(base + "<Recheck><VideoURL></VideoURL></Recheck>"), true, 0, 1, P, T,
         {{"CIDAlarm.CIDCode", "\"1130\""}}},
        {"temperature and coordinates",
         envelope(base + "<temperatureValue>41.5</temperatureValue><Longitude>113.9412</Longitude><Latitude>22.5405</Latitude>"),
         false, 0, 1, P, T,
         {{"CIDAlarm.temperatureValue", "\"41.5\""}, {"CIDAlarm.Longitude", "\"113.9412\""}, {"CIDAlarm.Latitude", "\"22.5405\""}}},
        {"present but empty optional texts stay", envelope(base + "<temperatureValue/>"), false, 0, 1, P, T,
         {{"CIDAlarm.temperatureValue", "\"\""}, {"CIDAlarm.Longitude", nullptr}}},
        {"fields in any order, minimal",
         envelope("<CIDParam></CIDParam><TriggerTime>2024-01-01 00:00:00</TriggerTime><TimeZoneIdx>15</TimeZoneIdx><CIDCode>3401</CIDCode>"),
         false, 0, 1, P, "2024-01-01T00:00:00+00:00",
         {{"CIDAlarm.ZoneNo", "0"}, {"CIDAlarm.CIDCode", "\"3401\""}, {"CIDAlarm.zoneName", "\"\""}, {"CIDAlarm.isTalk", "0"},
          {"CIDAlarm.subSys", "0"}}},
        {"cid param with two fields", envelope("<CIDParam>1,2</CIDParam><CIDCode>1</CIDCode>"), false, 0, 1, P, "",
         {{"CIDAlarm.ZoneNo", "0"}, {"CIDAlarm.CIDParam", "\"1,2\""}}},
        {"cid param with text zone", envelope("<CIDParam>1,2,zone,4</CIDParam>"), false, 0, 1, P, "", {{"CIDAlarm.ZoneNo", "0"}}},
        {"cid param zone last", envelope("<CIDParam>0,0,512</CIDParam>"), false, 0, 1, P, "", {{"CIDAlarm.ZoneNo", "512"}}},
        {"non-numeric code", envelope("<CIDCode>E130</CIDCode><CIDType>x</CIDType><SubSys>-1</SubSys>"), false, 0, 1, P, "",
         {{"CIDAlarm.CIDCode", "\"0\""}, {"CIDAlarm.CIDType", "0"}, {"CIDAlarm.subSys", "-1"}}},
        {"over-long code saturates", envelope("<CIDCode>113012345678901234</CIDCode>"), false, 0, 1, P, "",
         {{"CIDAlarm.CIDCode", "\"2147483647\""}}},
        {"short and zero-led codes", envelope("<CIDCode>0130</CIDCode><deviceNo>07</deviceNo>"), false, 0, 1, P, "",
         {{"CIDAlarm.CIDCode", "\"130\""}, {"CIDAlarm.deviceNo", "7"}}},
        // Time validity itself is covered with the time conversions; here only that a bad one empties the field.
        {"impossible date leaves time empty", envelope("<TimeZoneIdx>28</TimeZoneIdx><TriggerTime>2024-02-30 10:00:00</TriggerTime>"),
         false, 0, 1, P, "", {{"CIDAlarm.triggerTime", "\"\""}}},
        {"zone index out of range leaves time empty",
         envelope("<TimeZoneIdx>36</TimeZoneIdx><TriggerTime>2024-05-06 07:08:09</TriggerTime>"), false, 0, 1, P, "",
         {{"CIDAlarm.triggerTime", "\"\""}, {"CIDAlarm.timeZoneIdx", "36"}}},
        {"escaped texts",
         envelope("<zoneName>Door \"A\" \\ &lt;x&gt; &amp;&#1;&#10;tab&#9;</zoneName><CIDDescribe>a\"},\"x\":{\"</CIDDescribe>"),
         false, 0, 1, P, "",
         {{"CIDAlarm.zoneName", "\"Door \\\"A\\\" \\\\ <x> &\\u0001\\ntab\\t\""},
          {"CIDAlarm.CIDDescribe", "\"a\\\"},\\\"x\\\":{\\\"\""}, {"CIDAlarm.x", nullptr}}},
        {"no params", "<ZORNAMessage><Version>3.0</Version><CommandType>REQUEST</CommandType><Command>CIDREPORT</Command></ZORNAMessage>",
         false, -1, 0, 0, "", {}},
        {"not a zorna message", "<Other><Params><DeviceID>p1</DeviceID></Params></Other>", false, -1, 0, 0, "", {}},
        {"malformed", envelope(base).substr(0, 200), false, -1, 0, 0, "", {}},
        {"unknown device", envelope(base, "", "nobody"), false, -1, 0, 0, "", {}},
        {"empty device id", envelope(base, "", ""), false, -1, 0, 0, "", {}},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.name);
        sink.events.clear();
        dev->setVideoReviewEnabled(c.videoReview);
        EXPECT_EQ(convert(c.xml), c.rc);
        ASSERT_EQ(static_cast<int>(sink.events.size()), c.events);
        if (!c.events) continue;
        const AlarmEventInfo& e = sink.events[0];
        EXPECT_EQ(e.dwSize, sizeof(AlarmEventInfo));
        EXPECT_EQ(e.dwEventCode, c.code);
        EXPECT_EQ(e.dwCategory, 30u);
        EXPECT_EQ(e.dwActive, 1u);
        EXPECT_STREQ(e.szTime, c.szTime);
        EXPECT_STREQ(e.szDeviceID, "p1");
        EXPECT_STREQ(e.szSerialNo, "SN-0042");
        expectChecks(e, c.checks, c.name);
    }
}

TEST_F(ContactId, CidReportMembersKeepTheirDocumentedOrder) {
    const std::string xml = envelope(std::string(kBaseParams) +
                                     "<Latitude>1</Latitude><Longitude>2</Longitude><temperatureValue>3</temperatureValue>");
    ASSERT_EQ(convert(xml), 0);
    ASSERT_EQ(sink.events.size(), 1u);
    const std::string text = sink.events[0].szContent;
    const char* order[] = {"subSys", "ZoneNo", "zoneName", "CIDCode", "CIDType", "CIDDescribe", "timeZoneIdx",
                           "triggerTime", "DSTTriggerTime", "uploadTime", "CIDParam", "UUID", "deviceNo", "isTalk",
                           "temperatureValue", "Longitude", "Latitude"};
    size_t last = 0;
    for (const char* name : order) {
        const size_t pos = text.find("\"" + std::string(name) + "\":");
        ASSERT_NE(pos, std::string::npos) << name;
        EXPECT_GT(pos, last) << name << " out of order in " << text;
        last = pos;
    }
}

TEST_F(ContactId, FailuresAreLogged) {
    vtest::LogCapture log;
    EXPECT_EQ(convert(envelope(kBaseParams, "", "ghost")), -1);
    EXPECT_TRUE(log.contains("GetDeviceImpl fail, DevID:ghost"));
    EXPECT_EQ(convert("<ZORNAMessage><CommandType>REQUEST</CommandType></ZORNAMessage>"), -1);
    EXPECT_TRUE(log.contains("parse alarm data fail!"));
    EXPECT_EQ(convert(envelope(kBaseParams)), 0);
    EXPECT_TRUE(log.contains("OnAlarmReq EVENT_TYPE_CID_COMMON, p1, cid = 1130"));
    EXPECT_TRUE(sink.events.size() == 1);
}

TEST_F(ContactId, InactiveDeviceGetsNoEvent) {
    auto quiet = makeDevice("p2", "SN2", "inactive");
    vtest::LogCapture log;
    EXPECT_EQ(convert(envelope(kBaseParams, "", "p2")), 0);
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(log.contains("[deviceID=p2,pactiveStatus=0]send failed."));
}

// A realistic report with signed clip URLs runs past 2047 characters; it arrives whole.
TEST_F(ContactId, RealisticLongReportIsDeliveredWhole) {
    const std::string token = "?X-Expires=3600&X-Signature=" + std::string(520, 'f') + "&X-Credential=ak-0017";
    const std::string xml = envelope(std::string(kBaseParams) + "<Recheck><VideoURL>/rec/2024/05/06/clip-main.mp4" +
                                     token + "</VideoURL></Recheck><videoInfoList><videoInfo><videoURL>/rec/left.mp4" +
                                     token + "</videoURL><cameraPosition>left</cameraPosition></videoInfo>"
                                             "<videoInfo><videoURL>/rec/right.mp4" +
                                     token + "</videoURL><cameraPosition>right</cameraPosition></videoInfo>"
                                             "</videoInfoList>");
    ASSERT_LT(xml.size(), 4096u);
    dev->setVideoReviewEnabled(true);
    ASSERT_EQ(convert(xml), 0);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_GT(strlen(sink.events[0].szContent), 2047u);
    expectChecks(sink.events[0],
                 {{"VideoReview.TarnCIDParams.videoURL",
                   ("\"/TarnGatewayStorage/rec/2024/05/06/clip-main.mp4" + token + "\"").c_str()},
                  {"VideoReview.TarnCIDParams.videoInfoList.1.videoURL",
                   ("\"/TarnGatewayStorage/rec/right.mp4" + token + "\"").c_str()}},
                 "long");
}

TEST_F(ContactId, OverLongContentIsShortenedNotCut) {
    struct Case { const char* name; std::string params; bool review; } cases[] = {
        {"long zone name", "<CIDCode>1130</CIDCode><zoneName>" + std::string(20000, 'z') + "</zoneName>", false},
        {"escape-heavy description", "<CIDCode>1130</CIDCode><CIDDescribe>" + std::string(3000, '"') +
                                         "</CIDDescribe><UUID>" + std::string(3000, '\\') + "</UUID>",
         false},
        {"control characters", "<CIDCode>1130</CIDCode><zoneName>" + [] {
             std::string s;
             for (int i = 0; i < 3000; ++i) s += "&#1;";
             return s;
         }() + "</zoneName>",
         false},
        {"long video url", std::string("<CIDCode>1130</CIDCode><Recheck><VideoURL>/") + std::string(12000, 'v') +
                               "</VideoURL></Recheck>",
         true},
        {"multibyte", "<CIDCode>1130</CIDCode><zoneName>" + [] {
             std::string s;
             for (int i = 0; i < 4000; ++i) s += "\xe9\x97\xa8";
             return s;
         }() + "</zoneName>",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sink.events.clear();
        dev->setVideoReviewEnabled(c.review);
        ASSERT_EQ(convert(envelope(c.params)), 0);
        ASSERT_EQ(sink.events.size(), 1u);
        const AlarmEventInfo& e = sink.events[0];
        EXPECT_LE(strlen(e.szContent), vexa::kCidContentLimit);
        const Json::Value doc = content(e);
        const Json::Value* cid = at(doc, c.review ? "VideoReview.TarnCIDParams" : "CIDAlarm");
        ASSERT_NE(cid, nullptr);
        // Short values survive; only the long ones were shortened.
        EXPECT_EQ((*cid)["CIDCode"], Json::Value("1130"));
        if (c.review) {
            EXPECT_EQ(doc["VideoReview"]["protocolType"], Json::Value("TarnCIDProtocol"));
        }
    }
}

// ---- model-command JSON alarms ----

struct JsonCase {
    const char* name;
    std::string alarm;
    bool videoReview;
    int events;
    uint32_t code;
    const char* szTime;
    std::vector<Check> checks;
};

const char* const kBasic = R"("basic":{"dateTime":"2024-05-06T07:08:09+08:00","UUID":"u-1"})";

std::string modelAlarm(const std::string& payload, const std::string& basic = kBasic) {
    return "{" + basic + ",\"payload\":{" + payload + "}}";
}

const char* const kFullPayload =
    R"("code":1130,"zoneID":5,"subSystemID":1,"moduleType":"wired","moduleName":"Kitchen","deviceNo":3,)"
    R"("keypad":2,"deviceIDPriority":4,"userID":7,"user":"admin","videoID":0,"deviceType":"panel",)"
    R"("detector":"PIR","device":"zone","isTalk":false,"isVideo":false)";

const char* const kMediaPictures =
    R"("media":{"pictureInfoList":[{"filePathType":1,"filePath":"/pic/1.jpg","cameraPosition":"left"},)"
    R"({"filePathType":1,"filePath":"/pic/2.jpg"},{"filePath":""},5,"x"]})";

const char* const kMediaVideos =
    R"("media":{"videoInfoList":[{"filePath":"/v/a.mp4","cameraPosition":"left"},)"
    R"({"filePath":"/v/b.mp4","cameraPosition":"right"},{"filePath":"/v/c.mp4","cameraPosition":"rear"}]})";

TEST_F(ContactId, ModelAlarmCases) {
    const std::string full = kFullPayload;
    const char* T = "2024-05-06T07:08:09+08:00";
    const uint32_t P = vexa::kCidEventPlain, V = vexa::kCidEventVideoReview;
    auto at = [](const char* dateTime) { return std::string(R"("basic":{"dateTime":)") + dateTime + "}"; };
    const JsonCase cases[] = {
        {"full event with pictures", modelAlarm(full + "," + kMediaPictures), false, 1, P, T,
         {{"CIDAlarm.subSys", "1"}, {"CIDAlarm.ZoneNo", "5"}, {"CIDAlarm.zoneName", "\"Kitchen\""},
          {"CIDAlarm.CIDCode", "\"1130\""}, {"CIDAlarm.timeZoneIdx", "\"\""}, {"CIDAlarm.triggerTime", "\"\""},
          {"CIDAlarm.CIDParam", "\"1130,1,5,3,2,7,4,admin\""},
          {"CIDAlarm.pictureUrlList", "[{\"pictureUrl\":\"/pic/1.jpg\",\"cameraPosition\":\"left\"},{\"pictureUrl\":\"/pic/2.jpg\"}]"},
          {"CIDAlarm.temperatureValue", nullptr}, {"CIDAlarm.Longitude", nullptr}}},
        {"zone 0 has no zone name", modelAlarm(R"("code":1401,"zoneID":0,"subSystemID":2,"moduleName":"Keypad 1","user":"u2")"),
         false, 1, P, T,
         {{"CIDAlarm.zoneName", nullptr}, {"CIDAlarm.ZoneNo", "0"}, {"CIDAlarm.CIDParam", "\"1401,2,0,0,0,0,0,u2\""},
          {"CIDAlarm.pictureUrlList", nullptr}}},
        {"subsystem from subs list", modelAlarm(R"("code":1130,"zoneID":9,"subs":[{"subSystemID":3},{"subSystemID":4}])"),
         false, 1, P, T, {{"CIDAlarm.subSys", "3"}, {"CIDAlarm.CIDParam", "\"1130,3,9,0,0,0,0,\""}}},
        {"numbers as decimal texts", modelAlarm(R"("code":"3401","zoneID":"12","subSystemID":"2")"), false, 1, P, T,
         {{"CIDAlarm.CIDCode", "\"3401\""}, {"CIDAlarm.ZoneNo", "12"}, {"CIDAlarm.subSys", "2"}}},
        {"non-numeric code and zone", modelAlarm(R"("code":"34a1","zoneID":true,"subSystemID":[1])"), false, 1, P, T,
         {{"CIDAlarm.CIDCode", "\"0\""}, {"CIDAlarm.ZoneNo", "0"}, {"CIDAlarm.subSys", "0"}}},
        {"fractional and huge codes", modelAlarm(R"("code":1130.5,"zoneID":1e12,"userID":-3)"), false, 1, P, T,
         {{"CIDAlarm.CIDCode", "\"0\""}, {"CIDAlarm.ZoneNo", "0"}, {"CIDAlarm.CIDParam", "\"0,0,0,0,0,-3,0,\""}}},
        {"over-long code text", modelAlarm(R"("code":"113011301130")"), false, 1, P, T, {{"CIDAlarm.CIDCode", "\"0\""}}},
        {"temperature and coordinates", modelAlarm(R"("code":1158,"zoneID":2,"value":"41.5","long":113.25,"lat":"22.5")"),
         false, 1, P, T,
         {{"CIDAlarm.temperatureValue", "\"41.5\""}, {"CIDAlarm.Longitude", "\"113.25\""}, {"CIDAlarm.Latitude", "\"22.5\""}}},
        {"video review", modelAlarm(full + "," + kMediaVideos), true, 1, V, T,
         {{"VideoReview.protocolType", "\"TarnCIDProtocol\""},
          {"VideoReview.TarnCIDParams.videoURL", "\"/TarnGatewayStorage/v/a.mp4\""},
          {"VideoReview.TarnCIDParams.CIDCode", "\"1130\""},
          {"VideoReview.TarnCIDParams.videoInfoList",
           "[{\"videoURL\":\"/TarnGatewayStorage/v/a.mp4\",\"cameraPosition\":\"left\"},"
           "{\"videoURL\":\"/TarnGatewayStorage/v/b.mp4\",\"cameraPosition\":\"right\"}]"}}},
        // D15.
        {"video without video review is plain", modelAlarm(full + "," + kMediaVideos), false, 1, P, T,
         {{"CIDAlarm.CIDCode", "\"1130\""}, {"CIDAlarm.videoURL", nullptr}}},
        {"first clip without path",
         modelAlarm(R"("code":1,"media":{"videoInfoList":[{"cameraPosition":"left"},{"filePath":"/v/b.mp4"}]})"), true, 1, V, T,
         {{"VideoReview.TarnCIDParams.videoURL", "\"/TarnGatewayStorage/v/b.mp4\""}, {"VideoReview.TarnCIDParams.videoInfoList", "[]"}}},
        {"wrong-typed media", modelAlarm(R"("code":1,"media":{"pictureInfoList":{"a":1},"videoInfoList":"x"})"), true, 1, P, T,
         {{"CIDAlarm.pictureUrlList", nullptr}}},
        {"media not an object", modelAlarm(R"("code":1,"media":[1,2])"), true, 1, P, T, {{"CIDAlarm.CIDCode", "\"1\""}}},
        {"invalid time", modelAlarm(R"("code":1)", at(R"("2024-02-30T10:00:00+08:00")")), false, 1, P, "", {{"CIDAlarm.CIDCode", "\"1\""}}},
        {"time not a text", modelAlarm(R"("code":1)", at("20240506")), false, 1, P, "", {}},
        {"utc time", modelAlarm(R"("code":1)", at(R"("2024-05-06T07:08:09Z")")), false, 1, P, "2024-05-06T07:08:09Z", {}},
        {"basic not an object", modelAlarm(R"("code":1)", R"("basic":"2024-05-06T07:08:09Z")"), false, 1, P, "", {}},
        {"escaped texts", modelAlarm(R"("code":1,"zoneID":3,"moduleName":"Hall \"B\" \\ \u0001\n","user":"o\"k\\,x")"), false, 1, P, T,
         {{"CIDAlarm.zoneName", "\"Hall \\\"B\\\" \\\\ \\u0001\\n\""}, {"CIDAlarm.CIDParam", "\"1,0,3,0,0,0,0,o\\\"k\\\\,x\""}}},
        {"no payload", R"({"basic":{"dateTime":"2024-05-06T07:08:09+08:00"}})", false, 0, 0, "", {}},
        {"payload not an object", R"({"payload":"code=1130"})", false, 0, 0, "", {}},
        {"not an object", "[1,2,3]", false, 0, 0, "", {}},
        {"not json", "code=1130;zone=5", false, 0, 0, "", {}},
        {"empty", "", false, 0, 0, "", {}},
        {"cut json", modelAlarm(full).substr(0, 60), false, 0, 0, "", {}},
    };
    for (const JsonCase& c : cases) {
        SCOPED_TRACE(c.name);
        sink.events.clear();
        dev->setVideoReviewEnabled(c.videoReview);
        procCidAlarmJson(c.alarm, "p1");
        ASSERT_EQ(static_cast<int>(sink.events.size()), c.events);
        if (!c.events) continue;
        const AlarmEventInfo& e = sink.events[0];
        EXPECT_EQ(e.dwEventCode, c.code);
        EXPECT_EQ(e.dwCategory, 30u);
        EXPECT_EQ(e.dwActive, 1u);
        EXPECT_STREQ(e.szTime, c.szTime);
        EXPECT_STREQ(e.szDeviceID, "p1");
        EXPECT_STREQ(e.szSerialNo, "SN-0042");
        expectChecks(e, c.checks, c.name);
    }
}

TEST_F(ContactId, ModelAlarmFailuresAreLogged) {
    vtest::LogCapture log;
    procCidAlarmJson(modelAlarm(kFullPayload), "ghost");
    EXPECT_TRUE(log.contains("[deviceID=ghost]device not exist."));
    procCidAlarmJson("{oops", "p1");
    EXPECT_TRUE(log.contains("[deviceID=p1,alarm={oops]procAlarmJson fail."));
    EXPECT_TRUE(sink.events.empty());
}

// Pictures with signed URLs: well past 2047 characters and still whole.
TEST_F(ContactId, ModelAlarmWithManyPicturesIsDeliveredWhole) {
    std::string list;
    for (int i = 0; i < 5; ++i) {
        if (i) list += ",";
        list += R"({"filePathType":1,"filePath":"/pic/)" + std::to_string(i) + ".jpg?sig=" + std::string(400, 'a') +
                R"(","cameraPosition":"left"})";
    }
    const std::string alarm = modelAlarm(std::string(kFullPayload) + R"(,"media":{"pictureInfoList":[)" + list + "]}");
    ASSERT_LT(alarm.size(), 4096u);
    procCidAlarmJson(alarm, "p1");
    ASSERT_EQ(sink.events.size(), 1u);
    const Json::Value doc = content(sink.events[0]);
    ASSERT_EQ(doc["CIDAlarm"]["pictureUrlList"].size(), 5u);
    EXPECT_EQ(doc["CIDAlarm"]["pictureUrlList"][4]["pictureUrl"].asString(),
              "/pic/4.jpg?sig=" + std::string(400, 'a'));
}

TEST_F(ContactId, ModelAlarmOverLongStaysValid) {
    std::string pics;
    for (int i = 0; i < 300; ++i) pics += std::string(i ? "," : "") + R"({"filePath":"/p/)" + std::string(60, 'q') + "\"}";
    const std::string cases[] = {
        modelAlarm(R"("code":1,"zoneID":1,"moduleName":")" + std::string(30000, 'm') + "\""),
        modelAlarm(R"("code":1,"user":")" + [] {
            std::string s;
            for (int i = 0; i < 3000; ++i) s += "\\\"\\u0002";
            return s;
        }() + "\""),
        modelAlarm(R"("code":1,"media":{"pictureInfoList":[)" + pics + "]}"),
    };
    dev->setVideoReviewEnabled(true);
    for (const std::string& alarm : cases) {
        sink.events.clear();
        procCidAlarmJson(alarm, "p1");
        ASSERT_EQ(sink.events.size(), 1u);
        EXPECT_LE(strlen(sink.events[0].szContent), vexa::kCidContentLimit);
        const Json::Value doc = content(sink.events[0]);
        EXPECT_EQ(doc["CIDAlarm"]["CIDCode"], Json::Value("1"));
        EXPECT_LE(doc["CIDAlarm"]["pictureUrlList"].size(), vexa::kMaxCidPictures);
    }
}

TEST(ContactIdSubs, SubsystemNumbers) {
    struct Case { const char* subs; std::vector<int32_t> want; } cases[] = {
        {"[1,2,3]", {1, 2, 3}},
        {R"([{"subSystemID":2},{"id":5},{"name":"x"}])", {2, 5}},
        {R"(["4","x","-1",0,7])", {4, 7}},
        {R"("1,3,abc,,8")", {1, 3, 8}},
        {"6", {6}},
        {"null", {}},
        {"{\"a\":1}", {}},
        {"[1.5, true, null, [2]]", {}},
        {"[99999999999]", {}},
    };
    for (const Case& c : cases) {
        Json::Value v;
        ASSERT_TRUE(vexa::parseJson(c.subs, v)) << c.subs;
        std::vector<int32_t> got;
        EXPECT_EQ(procSubs(v, got), static_cast<int>(c.want.size())) << c.subs;
        EXPECT_EQ(got, c.want) << c.subs;
    }
    std::string many = "[";
    for (int i = 1; i <= 500; ++i) many += (i > 1 ? "," : "") + std::to_string(i);
    Json::Value v;
    ASSERT_TRUE(vexa::parseJson(many + "]", v));
    std::vector<int32_t> got;
    EXPECT_EQ(procSubs(v, got), static_cast<int>(vexa::kMaxSubs));
}

TEST(ContactIdSubs, LogsTheList) {
    vtest::LogCapture log;
    Json::Value v;
    ASSERT_TRUE(vexa::parseJson("[1,2]", v));
    std::vector<int32_t> got;
    procSubs(v, got);
    EXPECT_TRUE(log.contains("[Subs=[1,2],sysNoCount=2]procSubs succ."));
}

}  // namespace
