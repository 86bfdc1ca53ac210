// Contact ID reports (ZORNA CIDREPORT and model-command JSON) into host events.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "AlarmTestGate.h"
#include "TestSupport.h"
#include "alarm/ContactId.h"
#include "common/JsonUtil.h"

namespace {

using vtest::contentOf;

AlarmSource panel(bool review) { return AlarmSource{"p1", "SN-0042", review}; }

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
    const Json::Value doc = contentOf(e);
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
    return vtest::zornaRequest("CIDREPORT", "<DeviceID>" + devId + "</DeviceID>" + params, outside);
}

const char* const kBaseParams =
    "<CIDCode>1130</CIDCode><CIDDescribe>Burglary</CIDDescribe><CIDType>1</CIDType><SubSys>2</SubSys>"
    "<TimeZoneIdx>28</TimeZoneIdx><TriggerTime>2024-05-06 07:08:09</TriggerTime>"
    "<DSTTriggerTime>2024-05-06 08:08:09</DSTTriggerTime><UploadTime>2024-05-06 07:08:10</UploadTime>"
    "<CIDParam>1,2,37,4</CIDParam><UUID>5b1c0e9a-77f1-4f5e-9b7e-2d5c6a1e0f11</UUID><zoneName>Front door</zoneName>"
    "<deviceNo>3</deviceNo><intercomTriggerEnabled>true</intercomTriggerEnabled>";

const char* const kOptional =
    "<Latitude>22.5405</Latitude><Longitude>113.9412</Longitude><temperatureValue>41.5</temperatureValue>";
const char* const kRecheck = "<Recheck><VideoURL>/clip1</VideoURL></Recheck>";
const char* const kVideoList =
    "<videoInfoList><videoInfo><videoURL>/v/a.mp4</videoURL><cameraPosition>left</cameraPosition></videoInfo>"
    "<videoInfo><videoURL>/v/b.mp4</videoURL><cameraPosition>right</cameraPosition></videoInfo>"
    "<videoInfo><videoURL>/v/c.mp4</videoURL><cameraPosition>rear</cameraPosition></videoInfo></videoInfoList>";
const char* const kPictures =
    "<PictureInfoList><PictureInfo><pictureURL>/p/1.jpg</pictureURL><cameraPosition>left</cameraPosition>"
    "</PictureInfo></PictureInfoList>";

// One input and the single event it must raise for "p1"; code 0: refused, no event.
struct Case {
    const char* name;
    std::string input;
    bool videoReview;
    uint32_t code;
    const char* szTime;
    std::vector<Check> checks;
};

int convert(const std::string& xml, AlarmEvent& ev, const AlarmSource* source) {
    CXmlCursor doc(xml);
    CZornaMessage msg;
    msg.parse(doc);
    return procFERROCidReportReq(msg, xml, source, ev);
}

// Feeds each case (json: model-command alarm) and checks the event it gives.
void runCases(const std::vector<Case>& cases, bool json) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AlarmSource source = panel(c.videoReview);
        AlarmEvent ev;
        if (json) {
            procCidAlarmJson(c.input, "p1", &source, ev);
        } else {
            EXPECT_EQ(convert(c.input, ev, &source), c.code ? 0 : -1);
        }
        ASSERT_EQ(ev.ready, c.code != 0);
        if (!c.code) continue;
        const AlarmEventInfo& e = ev.info;
        char code[16];
        snprintf(code, sizeof code, "0x%x", c.code);
        EXPECT_EQ(vtest::fieldsOf(e), "code=" + std::string(code) + " cat=30 ch=0 post=0 active=1 dev=p1 sn=SN-0042 name= time=" +
                                          c.szTime);
        expectChecks(e, c.checks, c.code == vexa::kCidEventVideoReview ? "VideoReview.TarnCIDParams" : "CIDAlarm");
    }
}

TEST(ContactId, CidReportCases) {
    const std::string base = kBaseParams;
    const char* T = "2024-05-06T07:08:09+08:00";
    const uint32_t P = vexa::kCidEventPlain, V = vexa::kCidEventVideoReview;
    const std::string clips = "<videoInfoList><videoInfo><videoURL>/v/a.mp4</videoURL></videoInfo>"
                              "<videoInfo><videoURL>/v/b.mp4</videoURL><cameraPosition>right</cameraPosition></videoInfo></videoInfoList>";
    const std::vector<Case> cases = {
        {"plain report", envelope(base + kOptional + kPictures), false, P, T, {{"subSys", "2"}, {"ZoneNo", "37"},
         {"zoneName", "\"Front door\""}, {"CIDCode", "\"1130\""}, {"CIDType", "1"}, {"CIDDescribe", "\"Burglary\""},
         {"timeZoneIdx", "28"}, {"triggerTime", "\"2024-05-06T07:08:09+08:00\""},
         {"DSTTriggerTime", "\"2024-05-06 08:08:09\""}, {"uploadTime", "\"2024-05-06 07:08:10\""},
         {"CIDParam", "\"1,2,37,4\""}, {"UUID", "\"5b1c0e9a-77f1-4f5e-9b7e-2d5c6a1e0f11\""}, {"deviceNo", "3"},
         {"isTalk", "1"}, {"temperatureValue", "\"41.5\""}, {"Longitude", "\"113.9412\""}, {"Latitude", "\"22.5405\""},
         {"videoURL", nullptr}}},
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
        {"empty recheck url is plain", envelope(base + "<Recheck><VideoURL></VideoURL></Recheck>"), true, P, T,
         {{"CIDCode", "\"1130\""}, {"/VideoReview", nullptr}, {"temperatureValue", nullptr}, {"Longitude", nullptr}}},
        {"fields in any order, minimal",
         envelope("<CIDParam></CIDParam><TriggerTime>2024-01-01 00:00:00</TriggerTime><TimeZoneIdx>15</TimeZoneIdx><CIDCode>3401</CIDCode>"),
         false, P, "2024-01-01T00:00:00+00:00", {{"ZoneNo", "0"}, {"CIDCode", "\"3401\""}, {"zoneName", "\"\""},
         {"isTalk", "0"}, {"subSys", "0"}}},
        {"cid param zone last", envelope("<CIDParam>0,0,512</CIDParam>"), false, P, "", {{"ZoneNo", "512"}}},
        {"non-numeric code", envelope("<CIDCode>E130</CIDCode><CIDType>x</CIDType><SubSys>-1</SubSys>"), false, P, "",
         {{"CIDCode", "\"0\""}, {"CIDType", "0"}, {"subSys", "-1"}}},
        {"escaped texts",
         envelope("<zoneName>Door \"A\" \\ &lt;x&gt; &amp;&#1;&#10;tab&#9;</zoneName><CIDDescribe>a\"},\"x\":{\"</CIDDescribe>"),
         false, P, "", {{"zoneName", "\"Door \\\"A\\\" \\\\ <x> &\\u0001\\ntab\\t\""},
         {"CIDDescribe", "\"a\\\"},\\\"x\\\":{\\\"\""}, {"x", nullptr}}},
        {"no params",
         "<ZORNAMessage><Version>3.0</Version><CommandType>REQUEST</CommandType><Command>CIDREPORT</Command></ZORNAMessage>",
         false, 0, "", {}},
    };
    runCases(cases, false);
    // The plain report's members stand in the order its checks list them.
    const AlarmSource source = panel(false);
    AlarmEvent ev;
    ASSERT_EQ(convert(cases[0].input, ev, &source), 0);
    const std::string text = ev.info.szContent;
    size_t last = 0;
    for (const Check& c : cases[0].checks) {
        if (!c.json) continue;
        const size_t pos = text.find("\"" + std::string(c.path) + "\":");
        ASSERT_NE(pos, std::string::npos) << c.path;
        EXPECT_GT(pos, last) << c.path << " out of order in " << text;
        last = pos;
    }
}

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

TEST(ContactId, ModelAlarmCases) {
    const std::string full = kFullPayload;
    const char* T = "2024-05-06T07:08:09+08:00";
    const uint32_t P = vexa::kCidEventPlain, V = vexa::kCidEventVideoReview;
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
        {"temperature and coordinates",
         modelAlarm(R"("code":1158,"zoneID":2,"value":"41.5","long":113.25,"lat":"22.5")"), false, P, T,
         {{"temperatureValue", "\"41.5\""}, {"Longitude", "\"113.25\""}, {"Latitude", "\"22.5\""}}},
        {"video review", modelAlarm(full + "," + kMediaVideos), true, V, T,
         {{"/VideoReview.protocolType", "\"TarnCIDProtocol\""}, {"videoURL", "\"/TarnGatewayStorage/v/a.mp4\""},
         {"CIDCode", "\"1130\""},
         {"videoInfoList", "[{\"videoURL\":\"/TarnGatewayStorage/v/a.mp4\",\"cameraPosition\":\"left\"},"
                           "{\"videoURL\":\"/TarnGatewayStorage/v/b.mp4\",\"cameraPosition\":\"right\"}]"}}},
        {"first clip without path",
         modelAlarm(R"("code":1,"media":{"videoInfoList":[{"cameraPosition":"left"},{"filePath":"/v/b.mp4"}]})"), true,
         V, T, {{"videoURL", "\"/TarnGatewayStorage/v/b.mp4\""}, {"videoInfoList", "[]"}}},
        {"wrong-typed media", modelAlarm(R"("code":1,"media":{"pictureInfoList":{"a":1},"videoInfoList":"x"})"), true,
         P, T, {{"pictureUrlList", nullptr}}},
        {"escaped texts", modelAlarm(R"("code":1,"zoneID":3,"moduleName":"Hall \"B\" \\ \u0001\n","user":"o\"k\\,x")"),
         false, P, T, {{"zoneName", "\"Hall \\\"B\\\" \\\\ \\u0001\\n\""},
         {"CIDParam", "\"1,0,3,0,0,0,0,o\\\"k\\\\,x\""}}},
        {"no payload", R"({"basic":{"dateTime":"2024-05-06T07:08:09+08:00"}})", false, 0, "", {}},
        {"payload not an object", R"({"payload":"code=1130"})", false, 0, "", {}},
    };
    runCases(cases, true);
}

// Refusals leave their log line and no event; a plain event carries its note for after delivery.
TEST(ContactId, OutcomesAreLogged) {
    const AlarmSource source = panel(false);
    vtest::LogCapture log;
    AlarmEvent refused;
    EXPECT_EQ(convert("<ZORNAMessage><CommandType>REQUEST</CommandType></ZORNAMessage>", refused, &source), -1);
    procCidAlarmJson("{oops", "p1", &source, refused);
    EXPECT_FALSE(refused.ready);
    EXPECT_TRUE(log.contains("parse alarm data fail!"));
    EXPECT_TRUE(log.contains("[deviceID=p1,alarm={oops]procAlarmJson fail."));
    AlarmEvent ev;
    ASSERT_EQ(convert(envelope(kBaseParams), ev, &source), 0);
    EXPECT_EQ(ev.note, "OnAlarmReq EVENT_TYPE_CID_COMMON, p1, cid = 1130\n");
    EXPECT_STREQ(ev.noteFunc, "CAlarmMsgMgr::procFERROCidReportReq");
}

// Realistic reports with signed media URLs run past 2047 characters and arrive whole; content
// beyond the limit is shortened, never cut, and short values survive.
TEST(ContactId, LongContentIsWholeOrShortenedNeverCut) {
    const uint32_t P = vexa::kCidEventPlain, V = vexa::kCidEventVideoReview;
    const char* T = "2024-05-06T07:08:09+08:00";
    const std::string token = "?X-Expires=3600&X-Signature=" + std::string(520, 'f') + "&X-Credential=ak-0017";
    const std::string main = "\"/TarnGatewayStorage/rec/main.mp4" + token + "\"",
                      right = "\"/TarnGatewayStorage/rec/right.mp4" + token + "\"",
                      pic4 = "\"/pic/4.jpg" + token + "\"";
    std::string list, many;
    for (int i = 0; i < 5; ++i) list += (i ? ",{" : "{") + (R"("filePath":"/pic/)" + std::to_string(i)) + ".jpg" + token + "\"}";
    for (int i = 0; i < 300; ++i) many += std::string(i ? "," : "") + R"({"filePath":"/p/)" + std::string(60, 'q') + "\"}";
    const std::string cid = "<CIDCode>1130</CIDCode>", code = R"("code":1130)";
    const std::vector<Case> reports = {
        {"report with clips", envelope(std::string(kBaseParams) + "<Recheck><VideoURL>/rec/main.mp4" + token +
                                       "</VideoURL></Recheck><videoInfoList><videoInfo><videoURL>/rec/left.mp4" + token +
                                       "</videoURL><cameraPosition>left</cameraPosition></videoInfo><videoInfo><videoURL>"
                                       "/rec/right.mp4" + token + "</videoURL><cameraPosition>right</cameraPosition>"
                                       "</videoInfo></videoInfoList>"),
         true, V, T, {{"videoURL", main.c_str()}, {"videoInfoList.1.videoURL", right.c_str()}}},
        {"long video url", envelope(cid + "<Recheck><VideoURL>/" + std::string(12000, 'v') + "</VideoURL></Recheck>"),
         true, V, "", {{"CIDCode", "\"1130\""}, {"/VideoReview.protocolType", "\"TarnCIDProtocol\""}}},
    };
    const std::vector<Case> models = {
        {"model alarm with pictures", modelAlarm(std::string(kFullPayload) + R"(,"media":{"pictureInfoList":[)" + list + "]}"),
         false, P, T, {{"pictureUrlList.4.pictureUrl", pic4.c_str()}}},
        {"many pictures", modelAlarm(code + R"(,"media":{"pictureInfoList":[)" + many + "]}"), true, P, T,
         {{"CIDCode", "\"1130\""}, {"pictureUrlList.32", nullptr}}},
    };
    ASSERT_LT(reports[0].input.size(), 4096u);
    ASSERT_LT(models[0].input.size(), 4096u);
    runCases(reports, false);
    runCases(models, true);
}

TEST(ContactIdSubs, SubsystemNumbers) {
    struct Case { const char* subs; std::vector<int32_t> want; } cases[] = {
        {"[1,2]", {1, 2}},  // its log line is checked
        {R"([{"subSystemID":2},{"id":5},{"name":"x"}])", {2, 5}},
        {R"(["4","x","-1",0,7])", {4, 7}},
        {R"("1,3,abc,,8")", {1, 3, 8}},
        {"6", {6}},
        {"null", {}},
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
