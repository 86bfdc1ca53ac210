#include "devsim/PanelPeripherals.h"

#include <algorithm>
#include <stdexcept>

#include "devsim/Equipment.h"

namespace devsim {

namespace {

struct KindInfo {
    PeripheralKind kind;
    const char* domain;
    const char* search;  // status search identifier
    const char* prefix;  // of default ids
};

const KindInfo kKinds[] = {
    {PeripheralKind::OutputModule, "OutputModulesMgr", "SearchOutputModuleStatus", "om"},
    {PeripheralKind::Relay, "RelayMgr", "SearchRelayStatus", ""},
    {PeripheralKind::Siren, "SirenMgr", "SearchSirenStatus", "sr"},
    {PeripheralKind::Repeater, "RepeaterMgr", "SearchRepeaterStatus", "rp"},
    {PeripheralKind::CardReader, "CardReaderMgr", "SearchCardReaderStatus", "cr"},
    {PeripheralKind::ExtensionModule, "ExtensionModule", "SearchExtensionModuleStatus", "em"},
    {PeripheralKind::Keypad, "KeypadMgr", "SearchKeypadStatus", "kp"},
    {PeripheralKind::Remote, "RemoteMgr", "SearchRemoteStatus", "rc"},
    {PeripheralKind::Transmitter, "TransmitterMgr", "SearchTransmitterStatus", "tx"},
};

Json::Value doc(int status, Json::Value data, const char* msg = nullptr) {
    Json::Value d(Json::objectValue);
    d["status"] = status;
    if (msg) d["errorMsg"] = msg;
    else d["data"] = std::move(data);
    return d;
}

Json::Value bad() { return doc(400, Json::Value(), "badParameters"); }

// One device as its kind's status search reports it. Wireless kinds carry radio and battery
// values; relays report only whether they are switched (and, like the panel, an online flag).
Json::Value statusOf(const Peripheral& p) {
    Json::Value e(Json::objectValue);
    e["childDevID"] = p.id;
    e["onlineStatus"] = p.online ? "online" : "offline";
    if (p.kind == PeripheralKind::Relay) {
        e["openStatus"] = p.open ? "open" : "close";
        return e;
    }
    e["heartbeatStatus"] = p.heartbeatAbnormal ? "abnormal" : "normal";
    if (p.kind == PeripheralKind::Siren || p.kind == PeripheralKind::Repeater || p.kind == PeripheralKind::CardReader)
        e["openStatus"] = p.open ? "open" : "close";
    if (p.kind != PeripheralKind::Remote && p.kind != PeripheralKind::Transmitter)
        e["antiDismantle"] = p.tamper ? "abnormal" : "normal";
    if (p.kind != PeripheralKind::ExtensionModule) {
        e["batteryStatus"] = p.battery;
        e["batteryValue"] = p.batteryValue;
    }
    if (p.kind != PeripheralKind::Remote) {
        e["signalIntensityValue"] = p.signal;
        e["temperatureValue"] = p.temperature;
    }
    e["isViaRepeater"] = !p.repeater.empty();
    if (!p.repeater.empty()) e["repeaterName"] = p.repeater;
    if (p.kind == PeripheralKind::OutputModule) {
        e["voltValue"] = p.volt;
        e["currentValue"] = p.current;
        e["loadPower"] = p.load;
        e["loadPowerConsumption"] = p.energy;
    }
    return e;
}

// Relays named by "childDevIDs" (all relays when absent) switch "open" or "close".
Json::Value switchRelays(std::vector<Peripheral>& all, const Json::Value& data) {
    if (!data.isObject() || !data.get("switch", 0).isString()) return bad();
    const std::string sw = data["switch"].asString();
    if (sw != "open" && sw != "close") return bad();
    std::vector<Peripheral*> targets;
    const Json::Value& ids = data["childDevIDs"];
    if (!ids.isNull() && (!ids.isArray() || ids.empty())) return bad();
    for (Peripheral& p : all) {
        if (p.kind != PeripheralKind::Relay) continue;
        if (ids.isNull()) targets.push_back(&p);
    }
    for (const Json::Value& id : ids) {
        auto it = std::find_if(all.begin(), all.end(), [&](const Peripheral& p) {
            return p.kind == PeripheralKind::Relay && id.isString() && p.id == id.asString();
        });
        if (it == all.end()) return bad();
        targets.push_back(&*it);
    }
    for (Peripheral* p : targets) p->open = sw == "open";
    return doc(200, Json::Value(Json::objectValue));
}

}  // namespace

std::vector<Peripheral> defaultPeripherals() {
    std::vector<Peripheral> out;
    for (const KindInfo& k : kKinds) {
        const int n = k.kind == PeripheralKind::Relay ? 4 : 2;
        for (int i = 1; i <= n; ++i) {
            Peripheral p;
            p.kind = k.kind;
            p.id = k.prefix + std::to_string(i);
            if (k.kind == PeripheralKind::OutputModule) {
                p.volt = 12;
                p.current = 100 * i;
                p.load = 12 * i;
                p.energy = 1000 * i;
            }
            if (i == 2 && k.kind != PeripheralKind::Repeater) p.repeater = "rp1";
            out.push_back(p);
        }
    }
    return out;
}

Json::Value peripheralCommand(std::vector<Peripheral>& all, const std::string& domain, const std::string& identifier,
                              const Json::Value& data, bool bodyOk,
                              const std::function<Json::Value(const std::vector<Json::Value>&)>& page) {
    if (domain == "RelayMgr" && identifier == "CtrlRelayList") return bodyOk ? switchRelays(all, data) : bad();
    for (const KindInfo& k : kKinds) {
        if (domain != k.domain || identifier != k.search) continue;
        if (!bodyOk) return bad();
        std::vector<Json::Value> entries;
        for (const Peripheral& p : all)
            if (p.kind == k.kind) entries.push_back(statusOf(p));
        return page(entries);
    }
    return Json::Value();
}

// ----- PanelModel: peripherals

std::vector<Peripheral> PanelModel::peripherals() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_peripherals;
}

void PanelModel::setPeripherals(std::vector<Peripheral> all) {
    std::lock_guard<std::mutex> lk(m_mx);
    m_peripherals = std::move(all);
}

Peripheral PanelModel::peripheral(PeripheralKind kind, const std::string& id) const {
    std::lock_guard<std::mutex> lk(m_mx);
    for (const Peripheral& p : m_peripherals)
        if (p.kind == kind && p.id == id) return p;
    throw std::out_of_range("no peripheral " + id);
}

void PanelModel::updatePeripheral(PeripheralKind kind, const std::string& id, const std::function<void(Peripheral&)>& f) {
    std::lock_guard<std::mutex> lk(m_mx);
    for (Peripheral& p : m_peripherals)
        if (p.kind == kind && p.id == id) return f(p);
    throw std::out_of_range("no peripheral " + id);
}

}  // namespace devsim
