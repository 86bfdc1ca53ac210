// Device-API dispatcher: envelope checks, routing by device family, path and method, and the
// answer written into the host's buffer.
#ifndef VEXA_DEVICE_GATEWAY_H
#define VEXA_DEVICE_GATEWAY_H

#include <json/json.h>

#include <cstdint>
#include <string>

#include "gateway/DeviceChannel.h"

// The dispatcher behind CVexaDevice::OVIX_Getway, with the channel the handlers use.
uint32_t ovixGateway(CVexaDevice& dev, DeviceChannel& ch, const char* szConfigJson, char* szRspBuf,
                     uint32_t nRspBufLen);

// Members of the device information document, in order, read and written alike.
constexpr int kDeviceInfoMemberCount = 21;
extern const char* const kDeviceInfoMembers[kDeviceInfoMemberCount];

// PUT /OVIX/ContentMgmt/DeviceMgmt/alarmParams: the device's alarm account and alarm switch.
uint32_t setAlarmParams(CVexaDevice& dev, const std::string& body);

// aldonV5 pre-handler: reboot and upgrade. -1 when it does not take the request.
int32_t procDevFERROCfg(CVexaDevice& dev, DeviceChannel& ch, const std::string& uri, const std::string& method,
                        const std::string& body, std::string& response);

// Route handlers: panels' zones, outputs and peripherals (ZonesOutputs.cpp), device information,
// time, reboot, upgrade and network (DeviceSystem.cpp, DeviceInfo.cpp), record search and download
// capability (RecordSearch.cpp).
uint32_t getLocalTime(DeviceChannel& ch, std::string& response);
uint32_t rebootSystem(DeviceChannel& ch, std::string& response);
uint32_t setZoneDeactivation(DeviceChannel& ch, std::string& response, const std::string& body);
uint32_t searchZoneStatus(DeviceChannel& ch, std::string& response, const std::string& body);
uint32_t ctrlOutputs(DeviceChannel& ch, std::string& response, const std::string& body);
uint32_t getExDevStatus(DeviceChannel& ch, std::string& response);
uint32_t getVexaDeviceInfo(CVexaDevice& dev, DeviceChannel& ch, std::string& response);
uint32_t RebootDev(CVexaDevice& dev, DeviceChannel& ch, std::string& response);
uint32_t UpgradeDev(CVexaDevice& dev, DeviceChannel& ch, const std::string& body, std::string& response);
uint32_t ovixPutDeviceInfo(DeviceChannel& ch, const std::string& body, std::string& response);
uint32_t ovixGetDeviceInfo(DeviceChannel& ch, std::string& response);
uint32_t ovixGetNetworkInterfaceList(DeviceChannel& ch, std::string& response);
uint32_t ovixGetNetworkInterface(DeviceChannel& ch, const std::string& path, std::string& response);
uint32_t ovixPutNetworkInterface(DeviceChannel& ch, const std::string& path, const std::string& body,
                                 std::string& response);
uint32_t ovixGetIPAddress(DeviceChannel& ch, const std::string& path, std::string& response);
uint32_t ovixPutIPAddress(DeviceChannel& ch, const std::string& path, const std::string& body,
                          std::string& response);
void ovixGetTimeMngParam(DeviceChannel& ch, int32_t& result, std::string& response);
void ovixSetTimeMngParam(DeviceChannel& ch, int32_t& result, const std::string& body, std::string& response);
// The search names the camera by the request's devIndex, which it also stores on the device.
uint32_t ovixSearchRecords(CVexaDevice& dev, DeviceChannel& ch, const std::string& uri, const std::string& body,
                           const Json::Value& mediaInfo, std::string& response);
uint32_t GetDownloadCap(DeviceChannel& ch, std::string& response);
uint32_t ovixGetVideoInputChannelList(DeviceChannel& ch, std::string& response);

#endif
