// Zones, relay outputs and extension devices of model-command alarm panels: zone status search,
// zone deactivation, relay switching and the status of every kind of peripheral. The handlers
// themselves are declared with the dispatcher (VexaDeviceGateway.h).
#ifndef VEXA_ZONES_OUTPUTS_H
#define VEXA_ZONES_OUTPUTS_H

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Page size of the extension-device searches and of the zone basic-information request.
constexpr int kExDevPageSize = 96;
constexpr int kZoneBasicInfoPage = 256;
// Bounds of every paged search here: pages, gathered entries and bytes of their JSON text.
constexpr int kPanelSearchMaxPages = 1000;
constexpr size_t kPanelSearchMaxEntries = 10000;
constexpr size_t kPanelSearchMaxText = 1024 * 1024;

// One kind of extension device: where it is asked for and which members its answer yields.
struct ExDevKind {
    const char* domain;
    const char* identifier;
    const char* list;     // list name under "ExDevStatus"
    const char* element;  // wrapper name of each device
    unsigned members;     // ExDevMember bits
};
enum ExDevMember : unsigned {
    kExOnline = 1, kExOpen = 2, kExHeartbeat = 4, kExTamper = 8, kExBattery = 16, kExSignal = 32,
    kExTemperature = 64, kExRepeater = 128, kExPower = 256,
};
extern const ExDevKind kExDevKinds[9];

// Host body of the relay control into the model body; 0, kInvalidContent or kBadParameters.
uint32_t buildRelayCtrl(Json::Value& modelBody, const std::string& body);
// Host zone numbers of a deactivation body, in order; 0, kInvalidContent or kBadParameters.
uint32_t parseZoneIdList(std::vector<int32_t>& ids, const std::string& body);
// Appends {"Zone": ...} per object element of a zone status answer's matches.
void convertZoneStatus(Json::Value& zoneList, const Json::Value& matchResults);
// Appends {kind.element: ...} per element up to the first that is not an object.
void convertExDevStatus(Json::Value& result, const Json::Value& matchResults, const ExDevKind& kind);

#endif
