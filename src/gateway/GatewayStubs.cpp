// Routes whose handlers are not built yet answer "notSupport"; each is replaced in its own file.
#include "common/Log.h"
#include "common/StatusList.h"
#include "gateway/VexaDeviceGateway.h"

namespace {
uint32_t pending(const char* func) {
    LOG_DEV(4, func, "not supported yet");
    return vexa::status::kNotSupport;
}
}  // namespace

uint32_t getLocalTime(DeviceChannel&, std::string&) { return pending("CVexaDevice::getLocalTime"); }
uint32_t rebootSystem(DeviceChannel&, std::string&) { return pending("CVexaDevice::rebootSystem"); }
uint32_t setZoneDeactivation(DeviceChannel&, std::string&, const std::string&) {
    return pending("CVexaDevice::setZoneDeactivation");
}
uint32_t searchZoneStatus(DeviceChannel&, std::string&, const std::string&) {
    return pending("CVexaDevice::searchZoneStatus");
}
uint32_t ctrlOutputs(DeviceChannel&, std::string&, const std::string&) { return pending("CVexaDevice::ctrlOutputs"); }
uint32_t getExDevStatus(DeviceChannel&, std::string&) { return pending("CVexaDevice::getExDevStatus"); }
uint32_t getVexaDeviceInfo(CVexaDevice&, DeviceChannel&, std::string&) {
    return pending("CVexaDevice::getVexaDeviceInfo");
}
uint32_t RebootDev(DeviceChannel&, std::string&) { return pending("CVexaDevice::RebootDev"); }
uint32_t UpgradeDev(DeviceChannel&, const std::string&, std::string&) { return pending("CVexaDevice::UpgradeDev"); }
uint32_t ovixPutDeviceInfo(DeviceChannel&, const std::string&, std::string&) {
    return pending("CVexaDevice::ovixPutDeviceInfo");
}
uint32_t ovixGetNetworkInterfaceList(DeviceChannel&, std::string&) {
    return pending("CVexaDevice::ovixGetNetworkInterfaceList");
}
uint32_t ovixGetNetworkInterface(DeviceChannel&, const std::string&, std::string&) {
    return pending("CVexaDevice::ovixGetNetworkInterface");
}
uint32_t ovixPutNetworkInterface(DeviceChannel&, const std::string&, const std::string&, std::string&) {
    return pending("CVexaDevice::ovixPutNetworkInterface");
}
uint32_t ovixGetIPAddress(DeviceChannel&, const std::string&, std::string&) {
    return pending("CVexaDevice::ovixGetIPAddress");
}
uint32_t ovixPutIPAddress(DeviceChannel&, const std::string&, const std::string&, std::string&) {
    return pending("CVexaDevice::ovixPutIPAddress");
}
void ovixGetTimeMngParam(DeviceChannel&, int32_t& result, std::string&) {
    result = static_cast<int32_t>(pending("CVexaDevice::ovixGetTimeMngParam"));
}
void ovixSetTimeMngParam(DeviceChannel&, int32_t& result, const std::string&, std::string&) {
    result = static_cast<int32_t>(pending("CVexaDevice::ovixSetTimeMngParam"));
}
uint32_t ovixSearchRecords(DeviceChannel&, const std::string&, const std::string&, const Json::Value&, std::string&) {
    return pending("CVexaDevice::ovixSearchRecords");
}
uint32_t GetDownloadCap(DeviceChannel&, std::string&) { return pending("CVexaDevice::GetDownloadCap"); }
uint32_t ovixGetVideoInputChannelList(DeviceChannel&, std::string&) {
    return pending("CVexaDevice::ovixGetVideoInputChannelList");
}
