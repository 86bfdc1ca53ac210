// Device-level behaviour of the simulated equipment: reboot and firmware upgrade (the device
// goes away and logs in again) and the network interfaces of cameras and recorders.
#ifndef DEVSIM_DEVICE_SYSTEM_SIM_H
#define DEVSIM_DEVICE_SYSTEM_SIM_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "devsim/Equipment.h"

namespace devsim {

// A "ferro" request (REBOOT, or UPDATE with its FTP parameters): answered, then the device
// restarts after `restartAfter`. Anything else is answered with an error document.
Answer ferroRequest(const Json::Value& request, std::chrono::milliseconds restartAfter);

// True for "/OVIX/System/Network/interfaces" and the paths below it.
bool isNetworkPath(const std::string& path);
// GET/PUT of the interface list, one interface or its address. `status(code, sub)` builds the
// device's status document.
std::string networkRequest(std::vector<NetworkInterfaceState>& interfaces, const std::string& method,
                           const std::string& path, const std::string& body,
                           const std::function<std::string(int, const char*)>& status);

}  // namespace devsim

#endif
