// Peripherals of a simulated alarm panel: relay outputs that switch, and extension devices of
// every kind (output modules, relays, sirens, repeaters, card readers, extension modules,
// keypads, remotes, transmitters) that answer the panel's paged status searches.
#ifndef DEVSIM_PANEL_PERIPHERALS_H
#define DEVSIM_PANEL_PERIPHERALS_H

#include <json/json.h>

#include <functional>
#include <string>
#include <vector>

namespace devsim {

// Kinds, as the model domains name them.
enum class PeripheralKind {
    OutputModule, Relay, Siren, Repeater, CardReader, ExtensionModule, Keypad, Remote, Transmitter
};

struct Peripheral {
    PeripheralKind kind = PeripheralKind::Relay;
    std::string id;  // "childDevID"
    bool online = true;
    bool open = false;  // relay or siren switched on
    bool heartbeatAbnormal = false;
    bool tamper = false;
    std::string battery = "normal";
    int batteryValue = 100;
    int signal = 90;
    int temperature = 25;
    std::string repeater;  // name of the repeater it reaches the panel through; empty: directly
    // Output modules only.
    int volt = 12, current = 0, load = 0, energy = 0;
};

// The default set: two of every kind (relays "1".."4"), ids unique per kind.
std::vector<Peripheral> defaultPeripherals();

// Model-command side of the peripherals (called with the panel's lock held). Returns the
// answer document, or null when the domain and identifier are not a peripheral command.
// `page` answers a paged search over the given entries with the panel's page rules.
Json::Value peripheralCommand(std::vector<Peripheral>& all, const std::string& domain, const std::string& identifier,
                              const Json::Value& data, bool bodyOk,
                              const std::function<Json::Value(const std::vector<Json::Value>&)>& page);

}  // namespace devsim

#endif
