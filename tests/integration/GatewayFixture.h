// A running gateway for integration tests: the plug-in (linked in), both access libraries
// listening on free loopback ports, a host that records callbacks, and simulated devices.
#ifndef VEXA_GATEWAY_FIXTURE_H
#define VEXA_GATEWAY_FIXTURE_H

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devsim/Simulator.h"
#include "vexadev/VexaDevPlugin.h"

namespace vtest {

struct HostDevice {
    void* handle = nullptr;
    const VexaIConnectV2* conn = nullptr;
    const VexaIEvent* event = nullptr;
    const VexaIOVIX* ovix = nullptr;
    const VexaIOrderTrans* order = nullptr;
};

struct StatusEvent {
    uint32_t status;
    std::string text;
};

class GatewayFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Settings written to local_config.xml before Plugin_Init (override in a subclass).
    virtual std::string configXml() const;

    // Creates a host device and connects it with the given parameter text.
    HostDevice addHostDevice(const std::string& params);
    void destroyHostDevice(HostDevice& d);
    // A simulated device aimed at this gateway.
    devsim::DeviceConfig deviceConfig(const std::string& id, const std::string& key,
                                      devsim::Family family = devsim::Family::Vexa) const;

    // Waits until the host saw `status` for the device; returns its text.
    bool waitStatus(const HostDevice& d, uint32_t status, std::string* text = nullptr,
                    std::chrono::milliseconds limit = std::chrono::seconds(15));
    std::vector<StatusEvent> statuses(const HostDevice& d);
    uint32_t currentStatus(const HostDevice& d);

    const GWPluginInterface* table = nullptr;
    uint16_t regPort = 0, alarmPort = 0, storagePort = 0;
    std::unique_ptr<devsim::Simulator> sim;

private:
    static void VEXA_CALL onStatus(void* dev, uint32_t status, const char* text, void* user);
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::map<void*, std::vector<StatusEvent>> m_status;
    std::vector<HostDevice> m_devices;
};

}  // namespace vtest

#endif
