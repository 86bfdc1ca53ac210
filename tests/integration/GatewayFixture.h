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

#include "PluginHost.h"
#include "devsim/Simulator.h"
#include "vexadev/VexaDevPlugin.h"

namespace vtest {

using HostDevice = gwhost::DeviceTables;

struct StatusEvent { uint32_t status; std::string text; };

// A host event and the identifier of the device it was raised for.
struct HostEvent { std::string device; AlarmEventInfo info; };

class GatewayFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Settings written to local_config.xml before Plugin_Init (override in a subclass).
    virtual std::string configXml() const;

    // Creates a host device and connects it with the given parameter text.
    HostDevice addHostDevice(const std::string& params);
    // A host device with key "k" that may connect directly and whose events are recorded; an
    // empty type leaves DevType out.
    HostDevice addHost(const std::string& id, devsim::Family family, const std::string& type = "",
                       bool active = true);
    void destroyHostDevice(HostDevice& d);
    // A simulated device aimed at this gateway.
    devsim::DeviceConfig deviceConfig(const std::string& id, const std::string& key,
                                      devsim::Family family = devsim::Family::Vexa) const;
    // Starts a simulated device with key "k" and waits for its login (and its alarm link).
    devsim::DevicePtr startDevice(const std::string& id, devsim::Family family,
                                  devsim::RequestHandler handler = nullptr, bool alarmLink = false);

    // Waits until the host saw `status` for the device; returns its text.
    bool waitStatus(const HostDevice& d, uint32_t status, std::string* text = nullptr,
                    std::chrono::milliseconds limit = std::chrono::seconds(15));
    std::vector<StatusEvent> statuses(const HostDevice& d);
    uint32_t currentStatus(const HostDevice& d);

    // Events of the devices made by addHost, in the order the host got them.
    std::vector<HostEvent> events();
    bool waitEvents(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20));

    // One device-API envelope through the host table; the answer.
    static std::string call(const HostDevice& d, const std::string& method, const std::string& uri,
                            const std::string& body = "");
    // The answer's subStatusCode, "<document>" for another JSON object, "<not json: ...>" else.
    static std::string subKey(const std::string& answer);

    const GWPluginInterface* table = nullptr;
    uint16_t regPort = 0, alarmPort = 0, storagePort = 0;
    std::unique_ptr<devsim::Simulator> sim;

private:
    static void VEXA_CALL onStatus(void* dev, uint32_t status, const char* text, void* user);
    static void VEXA_CALL onEvent(void* dev, const void* block, const void* event, uint32_t zero, void* user);
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::map<void*, std::vector<StatusEvent>> m_status;
    std::map<void*, std::string> m_names;
    std::vector<HostEvent> m_events;
    std::vector<HostDevice> m_devices;
};

}  // namespace vtest

#endif
