#include "common/StatusCode.h"

#include "common/JsonUtil.h"
#include "common/StatusList.h"
#include "vexadev/VexaDevPlugin.h"

#include <unordered_map>

// The host's result codes are the listed ones.
static_assert(VEXA_OK == vexa::status::kSuccess, "VEXA_OK");
static_assert(VEXA_ERR_STATE == vexa::status::kFailed, "VEXA_ERR_STATE");
static_assert(VEXA_ERR_NO_INTERFACE == vexa::status::kNoInterface, "VEXA_ERR_NO_INTERFACE");
static_assert(VEXA_ERR_BAD_HANDLE == vexa::status::kBadHandle, "VEXA_ERR_BAD_HANDLE");
static_assert(VEXA_ERR_NOT_SUPPORTED == vexa::status::kNotSupport, "VEXA_ERR_NOT_SUPPORTED");

namespace {

struct StatusClass {
    const char* text;
    uint32_t http;
};

// Indexed by class number; 0 is not a class.
const StatusClass kClasses[8] = {
    {nullptr, 0},
    {"OK", 200},
    {"Device Busy", 503},
    {"Device Error", 500},
    {"Invalid Operation", 403},
    {"Invalid Format", 400},
    {"Content Error", 400},
    {"Reboot Required", 200},
};

constexpr uint32_t classOf(uint32_t code) { return code <= 1 ? 1 : code >> 28; }

#define VEXA_STATUS_CLASS_CHECK(name, code, key, msg) \
    static_assert(classOf(code) >= 1 && classOf(code) <= 7, #name " is outside the status classes");
VEXA_STATUS_MAP(VEXA_STATUS_CLASS_CHECK)
#undef VEXA_STATUS_CLASS_CHECK

// A code listed twice, in either list, is a duplicate case label and fails the build.
constexpr bool listed(uint32_t code) {
    switch (code) {
#define VEXA_STATUS_CASE(name, code, ...) case code:
        VEXA_STATUS_MAP(VEXA_STATUS_CASE)
        VEXA_RESULT_MAP(VEXA_STATUS_CASE)
#undef VEXA_STATUS_CASE
        return true;
        default:
            return false;
    }
}
static_assert(listed(vexa::status::kOk) && listed(vexa::status::kFailed), "status lists");

struct StatusEntry {
    const char* key;
    const char* msg;
};

// Codes with a status document only; the class is checked by the caller.
bool findEntry(uint32_t code, StatusEntry& out) {
    switch (code) {
#define VEXA_STATUS_ENTRY(name, code, key, msg) \
    case code:                                  \
        out = {key, msg};                       \
        return true;
        VEXA_STATUS_MAP(VEXA_STATUS_ENTRY)
#undef VEXA_STATUS_ENTRY
        default:
            return false;
    }
}

// Class in 1..7 and entry of a known code.
bool lookUp(uint32_t code, uint32_t& cls, StatusEntry& e) {
    cls = classOf(code);
    return cls >= 1 && cls <= 7 && findEntry(code, e);
}

}  // namespace

bool buildStatusDocument(uint32_t errorCode, Json::Value& doc, uint32_t& httpStatus) {
    uint32_t cls = 0;
    StatusEntry e{};
    if (!lookUp(errorCode, cls, e)) return false;
    if (!doc.isObject()) doc = Json::Value(Json::objectValue);
    doc["statusCode"] = Json::UInt(cls);
    doc["statusString"] = kClasses[cls].text;
    doc["subStatusCode"] = e.key;
    doc["errorCode"] = Json::UInt(errorCode);
    doc["errorMsg"] = e.msg;
    httpStatus = kClasses[cls].http;
    return true;
}

std::string statusDocumentText(uint32_t errorCode) {
    // Written once per listed code: most host calls end with one of these fixed documents.
    static const std::unordered_map<uint32_t, std::string> texts = [] {
        std::unordered_map<uint32_t, std::string> m;
        Json::Value doc;
        uint32_t http = 0;
#define VEXA_STATUS_TEXT(name, code, key, msg)                                     \
    doc = Json::Value(Json::objectValue);                                          \
    if (buildStatusDocument(code, doc, http)) m.emplace(code, vexa::writeJson(doc));
        VEXA_STATUS_MAP(VEXA_STATUS_TEXT)
#undef VEXA_STATUS_TEXT
        return m;
    }();
    const auto it = texts.find(errorCode);
    return it == texts.end() ? std::string() : it->second;
}

const char* statusSubKey(uint32_t errorCode) {
    uint32_t cls = 0;
    StatusEntry e{};
    return lookUp(errorCode, cls, e) ? e.key : nullptr;
}
