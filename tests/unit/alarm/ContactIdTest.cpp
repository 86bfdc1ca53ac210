#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "alarm/ContactId.h"
#include "common/JsonUtil.h"
#include "EventSink.h"
#include "AlarmTestGate.h"
#include "TestSupport.h"
#include "device/VexaDevice.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

using vtest::onEvent;
using vtest::Sink;

// A registered device "p1" whose events land in the sink.
class ContactId : public ::testing::Test {
protected:
    void SetUp() override { dev = makeDevice("p1", "SN-0042", "active"); }
    void TearDown() override { for (auto& d : devices) d->DisConnect(); }
    std::shared_ptr<CVexaDevice> makeDevice(const std::string& id, const std::string& serial, const char* active) {
        auto d = std::make_shared<CVexaDevice>();
        d->SetEventCallBack(onEvent, &sink);
        d->Connect_V2(("DeviceId=" + id + ";AlarmActiveStatus=" + active + ";").c_str());
        d->setLogin({-1, "10.0.0.9", 8000, "VEXA", serial});
        devices.push_back(d);
        return d;
    }
    struct Case;
    void runCases(const std::vector<Case>& cases, const std::function<void(const Case&)>& feed);
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
    std::istringstream steps(path);
    for (std::string key; v && std::getline(steps, key, '.');) {
        if (v->isArray() && !key.empty() && isdigit(static_cast<unsigned char>(key[0]))) {
            const auto i = static_cast<Json::ArrayIndex>(std::stoul(key));
            v = i < v->size() ? &(*v)[i] : nullptr;
        } else {
            v = vexa::jsonMember(*v, key.c_str());
        }
    }
    return v;
}

// Expected value as compact JSON; nullptr: the member must be absent.
struct Check { const char *path, *json; };

// Paths are relative to `base` unless they start with '/'.
void expectChecks(const AlarmEventInfo& e, const std::vector<Check>& checks, const std::string& base) {
    const Json::Value doc = content(e);
    for (const Check& c : checks) {
        const Json::Value* v = at(doc, c.path[0] == '/' ? std::string(c.path + 1) : base + "." + c.path);
        Json::Value want;
        if (!c.json) {
            EXPECT_EQ(v, nullptr) << c.path << " should be absent";
        } else if (!v) {
            ADD_FAILURE() << c.path << " missing in " << e.szContent;
        } else {
            ASSERT_TRUE(vexa::parseJson(c.json, want)) << c.json;
            EXPECT_EQ(*v, want) << c.path << " = " << vexa::writeJson(*v);
        }
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

// One input and the single event it must raise for "p1"; code 0: refused, no event.
struct ContactId::Case {
    const char* name;
    std::string input;
    bool videoReview;
    uint32_t code;
    const char* szTime;
    std::vector<Check> checks;
};

void ContactId::runCases(const std::vector<Case>& cases, const std::function<void(const Case&)>& feed) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sink.events.clear();
        dev->setVideoReviewEnabled(c.videoReview);
        feed(c);
        ASSERT_EQ(sink.events.size(), c.code ? 1u : 0u);
        if (!c.code) continue;
        const AlarmEventInfo& e = sink.events[0];
        EXPECT_EQ(e.dwSize, sizeof(AlarmEventInfo));
        EXPECT_EQ(e.dwEventCode, c.code);
        EXPECT_EQ(e.dwCategory, 30u);
        EXPECT_EQ(e.dwActive, 1u);
        EXPECT_STREQ(e.szTime, c.szTime);
        EXPECT_STREQ(e.szDeviceID, "p1");
        EXPECT_STREQ(e.szSerialNo, "SN-0042");
        expectChecks(e, c.checks, c.code == vexa::kCidEventVideoReview ? "VideoReview.TarnCIDParams" : "CIDAlarm");
    }
}

int convert(const std::string& xml) {
    CXmlCursor doc(xml);
    CZornaMessage msg;
    msg.parse(doc);
    return procFERROCidReportReq(msg, xml);
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}

TEST_F(ContactId, CidReportCases) {
    const std::string base = kBaseParams;
    const char* T = "2024-05-06T07:08:09+08:00";
    const uint32_t P = vexa::kCidEventPlain, V = vexa::kCidEventVideoReview;
    const std::string clips = "<videoInfoList><videoInfo><videoURL>/v/a.mp4</videoURL></videoInfo>"
                              "<videoInfo><videoURL>/v/b.mp4</videoURL><cameraPosition>right</cameraPosition></videoInfo></videoInfoList>";
    const std::vector<Case> cases = {
        {"plain report", envelope(base + kPictures), false, P, T, {{"subSys", "2"}, {"ZoneNo", "37"},
         {"zoneName", "\"Front door\""}, {"CIDCode", "\"1130\""}, {"CIDType", "1"}, {"CIDDescribe", "\"Burglary\""},
         {"timeZoneIdx", "28"}, {"triggerTime", "\"2024-05-06T07:08:09+08:00\""},
         {"DSTTriggerTime", "\"2024-05-06 08:08:09\""}, {"uploadTime", "\"2024-05-06 07:08:10\""},
         {"CIDParam", "\"1,2,37,4\""}, {"UUID", "\"5b1c0e9a-77f1-4f5e-9b7e-2d5c6a1e0f11\""}, {"deviceNo", "3"},
         {"isTalk", "1"}, {"temperatureValue", nullptr}, {"Longitude", nullptr}, {"Latitude", nullptr},
         {"videoURL", nullptr}}},
        {"no recheck with video review stays plain", envelope(base + kVideoList), true, P, T, {{"CIDCode", "\"1130\""},
         {"/VideoReview", nullptr}}},
        {"video review", envelope(base + kRecheck + kVideoList), true, V, T,
         {{"/VideoReview.protocolType", "\"TarnCIDProtocol\""}, {"videoURL", "\"/TarnGatewayStorage/clip1\""},
         {"ZoneNo", "37"}, {"CIDCode", "\"1130\""},
         {"videoInfoList", "[{\"videoURL\":\"/TarnGatewayStorage/v/a.mp4\",\"cameraPosition\":\"left\"},"
                           "{\"videoURL\":\"/TarnGatewayStorage/v/b.mp4\",\"cameraPosition\":\"right\"}]"},
         {"/CIDAlarm", nullptr}}},
        // A video without video review still goes out, as the plain event.
        {"video url without video review is plain", envelope(base + kRecheck + kVideoList), false, P, T,
         {{"ZoneNo", "37"}, {"videoURL", nullptr}, {"/VideoReview", nullptr}}},
        {"recheck beside params", envelope(base, kRecheck), true, V, T, {{"videoURL", "\"/TarnGatewayStorage/clip1\""},
         {"videoInfoList", "[]"}}},
        {"clip without position left out", envelope(base + kRecheck + clips), true, V, T,
         {{"videoInfoList", "[{\"videoURL\":\"/TarnGatewayStorage/v/b.mp4\",\"cameraPosition\":\"right\"}]"}}},
        {"clip with position but no url left out",
         envelope(base + kRecheck + "<videoInfoList><videoInfo><videoURL></videoURL><cameraPosition>left</cameraPosition></videoInfo></videoInfoList>"),
         true, V, T, {{"videoInfoList", "[]"}}},
        {"empty recheck url is plain", envelope(base + "<Recheck><VideoURL></VideoURL></Recheck>"), true, P, T,
         {{"CIDCode", "\"1130\""}}},
        {"temperature and coordinates",
         envelope(base + "<temperatureValue>41.5</temperatureValue><Longitude>113.9412</Longitude><Latitude>22.5405</Latitude>"),
         false, P, T, {{"temperatureValue", "\"41.5\""}, {"Longitude", "\"113.9412\""}, {"Latitude", "\"22.5405\""}}},
        {"present but empty optional texts stay", envelope(base + "<temperatureValue/>"), false, P, T,
         {{"temperatureValue", "\"\""}, {"Longitude", nullptr}}},
        {"fields in any order, minimal",
         envelope("<CIDParam></CIDParam><TriggerTime>2024-01-01 00:00:00</TriggerTime><TimeZoneIdx>15</TimeZoneIdx><CIDCode>3401</CIDCode>"),
         false, P, "2024-01-01T00:00:00+00:00", {{"ZoneNo", "0"}, {"CIDCode", "\"3401\""}, {"zoneName", "\"\""},
         {"isTalk", "0"}, {"subSys", "0"}}},
        {"cid param with two fields", envelope("<CIDParam>1,2</CIDParam><CIDCode>1</CIDCode>"), false, P, "",
         {{"ZoneNo", "0"}, {"CIDParam", "\"1,2\""}}},
        {"cid param with text zone", envelope("<CIDParam>1,2,zone,4</CIDParam>"), false, P, "", {{"ZoneNo", "0"}}},
        {"cid param zone last", envelope("<CIDParam>0,0,512</CIDParam>"), false, P, "", {{"ZoneNo", "512"}}},
        {"non-numeric code", envelope("<CIDCode>E130</CIDCode><CIDType>x</CIDType><SubSys>-1</SubSys>"), false, P, "",
         {{"CIDCode", "\"0\""}, {"CIDType", "0"}, {"subSys", "-1"}}},
        {"over-long code saturates", envelope("<CIDCode>113012345678901234</CIDCode>"), false, P, "",
         {{"CIDCode", "\"2147483647\""}}},
        {"short and zero-led codes", envelope("<CIDCode>0130</CIDCode><deviceNo>07</deviceNo>"), false, P, "",
         {{"CIDCode", "\"130\""}, {"deviceNo", "7"}}},
        // Time validity itself is covered with the time conversions; here only that a bad one empties the field.
        {"impossible date leaves time empty",
         envelope("<TimeZoneIdx>28</TimeZoneIdx><TriggerTime>2024-02-30 10:00:00</TriggerTime>"), false, P, "",
         {{"triggerTime", "\"\""}}},
        {"zone index out of range leaves time empty",
         envelope("<TimeZoneIdx>36</TimeZoneIdx><TriggerTime>2024-05-06 07:08:09</TriggerTime>"), false, P, "",
         {{"triggerTime", "\"\""}, {"timeZoneIdx", "36"}}},
        {"escaped texts",
         envelope("<zoneName>Door \"A\" \\ &lt;x&gt; &amp;&#1;&#10;tab&#9;</zoneName><CIDDescribe>a\"},\"x\":{\"</CIDDescribe>"),
         false, P, "", {{"zoneName", "\"Door \\\"A\\\" \\\\ <x> &\\u0001\\ntab\\t\""},
         {"CIDDescribe", "\"a\\\"},\\\"x\\\":{\\\"\""}, {"x", nullptr}}},
        {"no params",
         "<ZORNAMessage><Version>3.0</Version><CommandType>REQUEST</CommandType><Command>CIDREPORT</Command></ZORNAMessage>",
         false, 0, "", {}},
        {"not a zorna message", "<Other><Params><DeviceID>p1</DeviceID></Params></Other>", false, 0, "", {}},
        {"malformed", envelope(base).substr(0, 200), false, 0, "", {}},
        {"unknown device", envelope(base, "", "nobody"), false, 0, "", {}},
        {"empty device id", envelope(base, "", ""), false, 0, "", {}},
    };
    runCases(cases, [](const Case& c) { EXPECT_EQ(convert(c.input), c.code ? 0 : -1); });
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

// ---- model-command JSON alarms ----

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
    const std::vector<Case> cases = {
        {"full event with pictures", modelAlarm(full + "," + kMediaPictures), false, P, T, {{"subSys", "1"},
         {"ZoneNo", "5"}, {"zoneName", "\"Kitchen\""}, {"CIDCode", "\"1130\""}, {"timeZoneIdx", "\"\""},
         {"triggerTime", "\"\""}, {"CIDParam", "\"1130,1,5,3,2,7,4,admin\""},
         {"pictureUrlList", "[{\"pictureUrl\":\"/pic/1.jpg\",\"cameraPosition\":\"left\"},{\"pictureUrl\":\"/pic/2.jpg\"}]"},
         {"temperatureValue", nullptr}, {"Longitude", nullptr}}},
        {"zone 0 has no zone name",
         modelAlarm(R"("code":1401,"zoneID":0,"subSystemID":2,"moduleName":"Keypad 1","user":"u2")"), false, P, T,
         {{"zoneName", nullptr}, {"ZoneNo", "0"}, {"CIDParam", "\"1401,2,0,0,0,0,0,u2\""},
         {"pictureUrlList", nullptr}}},
        {"subsystem from subs list",
         modelAlarm(R"("code":1130,"zoneID":9,"subs":[{"subSystemID":3},{"subSystemID":4}])"), false, P, T,
         {{"subSys", "3"}, {"CIDParam", "\"1130,3,9,0,0,0,0,\""}}},
        {"numbers as decimal texts", modelAlarm(R"("code":"3401","zoneID":"12","subSystemID":"2")"), false, P, T,
         {{"CIDCode", "\"3401\""}, {"ZoneNo", "12"}, {"subSys", "2"}}},
        {"non-numeric code and zone", modelAlarm(R"("code":"34a1","zoneID":true,"subSystemID":[1])"), false, P, T,
         {{"CIDCode", "\"0\""}, {"ZoneNo", "0"}, {"subSys", "0"}}},
        {"fractional and huge codes", modelAlarm(R"("code":1130.5,"zoneID":1e12,"userID":-3)"), false, P, T,
         {{"CIDCode", "\"0\""}, {"ZoneNo", "0"}, {"CIDParam", "\"0,0,0,0,0,-3,0,\""}}},
        {"over-long code text", modelAlarm(R"("code":"113011301130")"), false, P, T, {{"CIDCode", "\"0\""}}},
        {"temperature and coordinates",
         modelAlarm(R"("code":1158,"zoneID":2,"value":"41.5","long":113.25,"lat":"22.5")"), false, P, T,
         {{"temperatureValue", "\"41.5\""}, {"Longitude", "\"113.25\""}, {"Latitude", "\"22.5\""}}},
        {"video review", modelAlarm(full + "," + kMediaVideos), true, V, T,
         {{"/VideoReview.protocolType", "\"TarnCIDProtocol\""}, {"videoURL", "\"/TarnGatewayStorage/v/a.mp4\""},
         {"CIDCode", "\"1130\""},
         {"videoInfoList", "[{\"videoURL\":\"/TarnGatewayStorage/v/a.mp4\",\"cameraPosition\":\"left\"},"
                           "{\"videoURL\":\"/TarnGatewayStorage/v/b.mp4\",\"cameraPosition\":\"right\"}]"}}},
        // Without video review the event goes out plain.
        {"video without video review is plain", modelAlarm(full + "," + kMediaVideos), false, P, T,
         {{"CIDCode", "\"1130\""}, {"videoURL", nullptr}}},
        {"first clip without path",
         modelAlarm(R"("code":1,"media":{"videoInfoList":[{"cameraPosition":"left"},{"filePath":"/v/b.mp4"}]})"), true,
         V, T, {{"videoURL", "\"/TarnGatewayStorage/v/b.mp4\""}, {"videoInfoList", "[]"}}},
        {"wrong-typed media", modelAlarm(R"("code":1,"media":{"pictureInfoList":{"a":1},"videoInfoList":"x"})"), true,
         P, T, {{"pictureUrlList", nullptr}}},
        {"media not an object", modelAlarm(R"("code":1,"media":[1,2])"), true, P, T, {{"CIDCode", "\"1\""}}},
        {"invalid time", modelAlarm(R"("code":1)", at(R"("2024-02-30T10:00:00+08:00")")), false, P, "",
         {{"CIDCode", "\"1\""}}},
        {"time not a text", modelAlarm(R"("code":1)", at("20240506")), false, P, "", {}},
        {"utc time", modelAlarm(R"("code":1)", at(R"("2024-05-06T07:08:09Z")")), false, P, "2024-05-06T07:08:09Z", {}},
        {"basic not an object", modelAlarm(R"("code":1)", R"("basic":"2024-05-06T07:08:09Z")"), false, P, "", {}},
        {"escaped texts", modelAlarm(R"("code":1,"zoneID":3,"moduleName":"Hall \"B\" \\ \u0001\n","user":"o\"k\\,x")"),
         false, P, T, {{"zoneName", "\"Hall \\\"B\\\" \\\\ \\u0001\\n\""},
         {"CIDParam", "\"1,0,3,0,0,0,0,o\\\"k\\\\,x\""}}},
        {"no payload", R"({"basic":{"dateTime":"2024-05-06T07:08:09+08:00"}})", false, 0, "", {}},
        {"payload not an object", R"({"payload":"code=1130"})", false, 0, "", {}},
        {"not an object", "[1,2,3]", false, 0, "", {}},
        {"not json", "code=1130;zone=5", false, 0, "", {}},
        {"empty", "", false, 0, "", {}},
        {"cut json", modelAlarm(full).substr(0, 60), false, 0, "", {}},
    };
    runCases(cases, [](const Case& c) { procCidAlarmJson(c.input, "p1"); });
}

// Pictures with signed URLs: well past 2047 characters and still whole.
TEST_F(ContactId, ModelAlarmWithManyPicturesIsDeliveredWhole) {
    std::string list;
    for (int i = 0; i < 5; ++i) {
        list += (i ? "," : "") + (R"({"filePathType":1,"filePath":"/pic/)" + std::to_string(i)) + ".jpg?sig=" +
                std::string(400, 'a') + R"(","cameraPosition":"left"})";
    }
    const std::string alarm = modelAlarm(std::string(kFullPayload) + R"(,"media":{"pictureInfoList":[)" + list + "]}");
    ASSERT_LT(alarm.size(), 4096u);
    procCidAlarmJson(alarm, "p1");
    ASSERT_EQ(sink.events.size(), 1u);
    const Json::Value doc = content(sink.events[0]);
    ASSERT_EQ(doc["CIDAlarm"]["pictureUrlList"].size(), 5u);
    EXPECT_EQ(doc["CIDAlarm"]["pictureUrlList"][4]["pictureUrl"].asString(), "/pic/4.jpg?sig=" + std::string(400, 'a'));
}

// A realistic report with signed clip URLs runs past 2047 characters; it arrives whole.
TEST_F(ContactId, RealisticLongReportIsDeliveredWhole) {
    const std::string token = "?X-Expires=3600&X-Signature=" + std::string(520, 'f') + "&X-Credential=ak-0017";
    const std::string xml = envelope(std::string(kBaseParams) + "<Recheck><VideoURL>/rec/2024/05/06/clip-main.mp4" +
                                     token + "</VideoURL></Recheck><videoInfoList><videoInfo><videoURL>/rec/left.mp4" +
                                     token + "</videoURL><cameraPosition>left</cameraPosition></videoInfo>"
                                     "<videoInfo><videoURL>/rec/right.mp4" + token +
                                     "</videoURL><cameraPosition>right</cameraPosition></videoInfo></videoInfoList>");
    ASSERT_LT(xml.size(), 4096u);
    dev->setVideoReviewEnabled(true);
    ASSERT_EQ(convert(xml), 0);
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_GT(strlen(sink.events[0].szContent), 2047u);
    const std::string main = "\"/TarnGatewayStorage/rec/2024/05/06/clip-main.mp4" + token + "\"",
                      right = "\"/TarnGatewayStorage/rec/right.mp4" + token + "\"";
    expectChecks(sink.events[0], {{"videoURL", main.c_str()}, {"videoInfoList.1.videoURL", right.c_str()}},
                 "VideoReview.TarnCIDParams");
}

// Refusals and deliveries leave their log line; only the active, known device gets an event.
TEST_F(ContactId, OutcomesAreLogged) {
    makeDevice("p2", "SN2", "inactive");
    vtest::LogCapture log;
    const struct { bool json; std::string input; const char* devId; int rc; const char* line; size_t events; } cases[] = {
        {false, envelope(kBaseParams, "", "ghost"), "", -1, "GetDeviceImpl fail, DevID:ghost", 0},
        {false, "<ZORNAMessage><CommandType>REQUEST</CommandType></ZORNAMessage>", "", -1, "parse alarm data fail!", 0},
        {false, envelope(kBaseParams, "", "p2"), "", 0, "[deviceID=p2,pactiveStatus=0]send failed.", 0},
        {true, modelAlarm(kFullPayload), "ghost", 0, "[deviceID=ghost]device not exist.", 0},
        {true, "{oops", "p1", 0, "[deviceID=p1,alarm={oops]procAlarmJson fail.", 0},
        {false, envelope(kBaseParams), "", 0, "OnAlarmReq EVENT_TYPE_CID_COMMON, p1, cid = 1130", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        if (c.json) {
            procCidAlarmJson(c.input, c.devId);
        } else {
            EXPECT_EQ(convert(c.input), c.rc);
        }
        EXPECT_TRUE(log.contains(c.line));
        EXPECT_EQ(sink.events.size(), c.events);
    }
}

// Over-long content is shortened to the limit and stays valid JSON: short values survive.
TEST_F(ContactId, OverLongContentIsShortenedNotCut) {
    const std::string cid = "<CIDCode>1130</CIDCode>";
    std::string pics;
    for (int i = 0; i < 300; ++i) pics += std::string(i ? "," : "") + R"({"filePath":"/p/)" + std::string(60, 'q') + "\"}";
    // json: a model alarm (video review on, but it carries no clip).
    const struct { const char* name; std::string input; bool json, review; } cases[] = {
        {"long zone name", envelope(cid + "<zoneName>" + std::string(20000, 'z') + "</zoneName>"), false, false},
        {"escape-heavy description", envelope(cid + "<CIDDescribe>" + std::string(3000, '"') + "</CIDDescribe><UUID>" +
                                              std::string(3000, '\\') + "</UUID>"), false, false},
        {"control characters", envelope(cid + "<zoneName>" + repeat("&#1;", 3000) + "</zoneName>"), false, false},
        {"long video url", envelope(cid + "<Recheck><VideoURL>/" + std::string(12000, 'v') + "</VideoURL></Recheck>"),
         false, true},
        {"multibyte", envelope(cid + "<zoneName>" + repeat("\xe9\x97\xa8", 4000) + "</zoneName>"), false, false},
        {"long module name", modelAlarm(R"("code":1130,"zoneID":1,"moduleName":")" + std::string(30000, 'm') + "\""),
         true, true},
        {"escape-heavy user", modelAlarm(R"("code":1130,"user":")" + repeat("\\\"\\u0002", 3000) + "\""), true, true},
        {"many pictures", modelAlarm(R"("code":1130,"media":{"pictureInfoList":[)" + pics + "]}"), true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sink.events.clear();
        dev->setVideoReviewEnabled(c.review);
        if (c.json) {
            procCidAlarmJson(c.input, "p1");
        } else {
            ASSERT_EQ(convert(c.input), 0);
        }
        ASSERT_EQ(sink.events.size(), 1u);
        EXPECT_LE(strlen(sink.events[0].szContent), vexa::kCidContentLimit);
        const Json::Value doc = content(sink.events[0]);
        const bool clip = c.review && !c.json;
        const Json::Value* fields = at(doc, clip ? "VideoReview.TarnCIDParams" : "CIDAlarm");
        ASSERT_NE(fields, nullptr);
        EXPECT_EQ((*fields)["CIDCode"], Json::Value("1130"));
        EXPECT_LE((*fields)["pictureUrlList"].size(), vexa::kMaxCidPictures);
        if (clip) {
            EXPECT_EQ(doc["VideoReview"]["protocolType"], Json::Value("TarnCIDProtocol"));
        }
    }
}

TEST(ContactIdSubs, SubsystemNumbers) {
    struct Case { const char* subs; std::vector<int32_t> want; } cases[] = {
        {"[1,2,3]", {1, 2, 3}},
        {"[1,2]", {1, 2}},  // its log line is checked
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
        vtest::LogCapture log;
        Json::Value v;
        ASSERT_TRUE(vexa::parseJson(c.subs, v)) << c.subs;
        std::vector<int32_t> got;
        EXPECT_EQ(procSubs(v, got), static_cast<int>(c.want.size())) << c.subs;
        EXPECT_EQ(got, c.want) << c.subs;
        if (c.subs == std::string("[1,2]")) {
            EXPECT_TRUE(log.contains("[Subs=[1,2],sysNoCount=2]procSubs succ."));
        }
    }
    std::string many = "[";
    for (int i = 1; i <= 500; ++i) many += (i > 1 ? "," : "") + std::to_string(i);
    Json::Value v;
    ASSERT_TRUE(vexa::parseJson(many + "]", v));
    std::vector<int32_t> got;
    EXPECT_EQ(procSubs(v, got), static_cast<int>(vexa::kMaxSubs));
}

}  // namespace
