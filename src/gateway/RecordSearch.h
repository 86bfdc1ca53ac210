// Record search, download capability and video channels of devices that speak the device API
// natively. The route handlers are declared with the dispatcher; these are their building blocks.
#ifndef VEXA_RECORD_SEARCH_H
#define VEXA_RECORD_SEARCH_H

#include <cstdint>
#include <string>

#include "device/RecordSearchTime.h"
#include "gateway/DeviceChannel.h"

// The device's XML search answer as the host's JSON. Every record carries a playback URL on the
// host's media server for the camera devIndex + channel. deviceId keys the rate limit of the
// lines about a bad answer. 0 when the JSON was written, -1 otherwise (response untouched).
int searchRecordsRsp(const std::string& answer, const SearchContext& ctx, const std::string& devIndex,
                     const std::string& deviceId, std::string& response);

// Whether the device lists the channel among its IP (proxied) or its analog video channels; a
// failed request counts as not listed.
bool isIpChannel(DeviceChannel& ch, int32_t channel);
bool isAnalogChannel(DeviceChannel& ch, int32_t channel);

#endif
