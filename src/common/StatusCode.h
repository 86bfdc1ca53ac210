// Status documents: the JSON answer the plug-in writes itself for a 32-bit device-API error code.
// The code's top four bits select the class (1..7; codes 0 and 1 count as class 1).
#ifndef VEXA_STATUS_CODE_H
#define VEXA_STATUS_CODE_H

#include <json/json.h>

#include <cstdint>
#include <string>

#include "common/StatusList.h"

// Known code: sets "statusCode", "statusString", "subStatusCode", "errorCode" and "errorMsg" in
// doc (a doc that is not an object is replaced by one), httpStatus to the class's status, and
// returns true. Unknown code: false, doc and httpStatus untouched.
bool buildStatusDocument(uint32_t errorCode, Json::Value& doc, uint32_t& httpStatus);

// Compact text of the status document, "" for an unknown code.
std::string statusDocumentText(uint32_t errorCode);

// subStatusCode key of a known code, null otherwise.
const char* statusSubKey(uint32_t errorCode);

#endif
