// Two-way audio, configuration capability and event-message support of model-command panels:
// one model command each (target "global"), answer copied into the device-API document of the
// same name. A failed command leaves no text behind; an answer that is not a JSON object gives
// kInvalidContent.
#ifndef VEXA_INTERCOM_CAPABILITY_H
#define VEXA_INTERCOM_CAPABILITY_H

#include <cstdint>
#include <string>

#include "gateway/DeviceChannel.h"

// Sirens one wireless-siren search may name (each costs one device round trip).
constexpr size_t kMaxSirensPerSearch = 64;

uint32_t getHostIntercomParam(DeviceChannel& ch, std::string& response);
uint32_t getConfigurationCap(DeviceChannel& ch, std::string& response);
uint32_t ctrlHostIntercomMode(DeviceChannel& ch, std::string& response, const std::string& body);
uint32_t searchSirenIntercomParam(DeviceChannel& ch, std::string& response, const std::string& body);
uint32_t getEventMessageSupportInfo(DeviceChannel& ch, std::string& response);

#endif
