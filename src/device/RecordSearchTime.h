// Record searches on native devices: which time base the device searches in, and the shift of the
// search times into it and of the found times back to UTC. Shared by the host's record search and
// the media record query, which reach the device through a GET request function.
#ifndef VEXA_RECORD_SEARCH_TIME_H
#define VEXA_RECORD_SEARCH_TIME_H

#include <cstdint>
#include <functional>
#include <string>

// Record-type metadata identifier of the device API's search document.
constexpr const char* kRecordTypeMetadataId = "recordType.meta.vexadev.local";

// One per search; all fields start at 0 or empty.
struct SearchContext {
    std::string searchID;
    int32_t channel = 0;         // trackID / 100
    std::string mediaIP;
    int32_t mediaPort = 0;
    int32_t needsConversion = 0;  // 1 when the request times were shifted to device-local time
    int32_t timeZoneIdx = 0;      // zone of that shift; -1 the gateway machine's offset
    int32_t supportsSTD = 0;      // 1 when the device searches in UTC ("?timeType=STD")
};

// GET of a device-API URL with an empty body; 0 when the device answered.
using DeviceGet = std::function<uint32_t(std::string& response, const std::string& url)>;

// Asks the device for its time base and shifts start and end ("YYYY-MM-DDThh:mm:ssZ") into
// device-local time where it needs that. deviceId only keys the rate limit of bad-answer lines.
// 0, or 0x60000001 for an unusable device answer or a time that cannot be converted (texts then
// unchanged).
uint32_t covertSearchReqTimeByDevCap(const DeviceGet& get, const std::string& deviceId, SearchContext& ctx,
                                     std::string& start, std::string& end);

// Device-local times of a search answer back to UTC when the request was shifted. Only the first
// 19 characters (the wall clock) are read. 0, or -1 when a time cannot be converted (both texts
// unchanged).
int covertSerachRspTimeByDevCap(std::string& start, std::string& end, const SearchContext& ctx);

#endif
