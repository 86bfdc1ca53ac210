// gwhost: a small real host for the VexaDev plug-in. Loads libVexaDev.so, sends the
// configuration commands, creates and connects devices, and prints everything that comes back
// as JSON lines on standard output.
#include <json/json.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PluginHost.h"
#include "devsim/AlarmTexts.h"
#include "devsim/Equipment.h"
#include "devsim/Simulator.h"

namespace {

std::mutex g_out;
std::atomic<bool> g_stop{false};

std::string compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

void emit(const Json::Value& v) {
    const std::string s = compact(v);
    std::lock_guard<std::mutex> lk(g_out);
    fprintf(stdout, "%s\n", s.c_str());
    fflush(stdout);
}

struct HostDeviceSpec {
    std::string id, key, type, protocol, alarmActive = "active";
    int allowDirectConn = 1;
};

struct Host {
    gwhost::PluginHost plugin;
    struct Dev {
        HostDeviceSpec spec;
        gwhost::DeviceTables tables;
        std::atomic<uint32_t> status{0xFFFFFFFF};
        std::atomic<uint64_t> events{0};
    };
    std::vector<std::unique_ptr<Dev>> devices;

    static void VEXA_CALL onStatus(void*, uint32_t status, const char* text, void* user) {
        Dev* d = static_cast<Dev*>(user);
        d->status = status;
        Json::Value v;
        v["event"] = "status";
        v["deviceId"] = d->spec.id;
        v["status"] = static_cast<int>(status);
        v["text"] = text ? text : "";
        emit(v);
    }

    static Json::Value decodeEvent(const AlarmEventInfo& e) {
        Json::Value v;
        v["eventCode"] = e.dwEventCode;
        v["category"] = e.dwCategory;
        const std::string content(e.szContent, strnlen(e.szContent, sizeof e.szContent));
        Json::Value parsed;
        Json::CharReaderBuilder b;
        b["stackLimit"] = 64;
        std::string errs;
        std::string wrapped = "{" + content + "}";
        if (!wrapped.empty() && wrapped[wrapped.size() - 2] == ',') wrapped.erase(wrapped.size() - 2, 1);  // "a":1, fragments
        std::unique_ptr<Json::CharReader> r(b.newCharReader());
        if (!content.empty() && r->parse(wrapped.data(), wrapped.data() + wrapped.size(), &parsed, &errs))
            v["content"] = parsed;
        else
            v["content"] = content;
        Json::Value t;
        t["second"] = e.struTime[1];
        t["minute"] = e.struTime[2];
        t["hour"] = e.struTime[3];
        t["day"] = e.struTime[4];
        t["month"] = e.struTime[5];
        t["year"] = e.struTime[6];
        t["utcOffset"] = e.struTime[9];
        v["time"] = t;
        v["channel"] = e.iChannel;
        v["activePostCount"] = e.iActivePostCount;
        v["active"] = e.dwActive;
        auto text = [](const char* f, size_t n) { return std::string(f, strnlen(f, n)); };
        v["name"] = text(e.szName, sizeof e.szName);
        v["timeText"] = text(e.szTime, sizeof e.szTime);
        v["eventType"] = text(e.szEventType, sizeof e.szEventType);
        v["description"] = text(e.szDescription, sizeof e.szDescription);
        v["deviceID"] = text(e.szDeviceID, sizeof e.szDeviceID);
        v["serialNo"] = text(e.szSerialNo, sizeof e.szSerialNo);
        return v;
    }

    static void VEXA_CALL onEvent(void*, const void*, const void* event, uint32_t, void* user) {
        Dev* d = static_cast<Dev*>(user);
        if (!event) return;
        const auto* e = static_cast<const AlarmEventInfo*>(event);
        if (e->dwSize != sizeof(AlarmEventInfo)) return;
        Json::Value v = decodeEvent(*e);
        v["event"] = "alarm";
        v["host"] = d->spec.id;
        d->events++;
        emit(v);
    }

    // One device-API call; prints the request and the answer.
    Json::Value request(Dev* d, const std::string& method, const std::string& uri, const std::string& body) {
        Json::Value env;
        env["method"] = method;
        env["uri"] = uri;
        env["body"] = body;
        std::vector<char> rsp(256 * 1024);
        d->tables.ovix->OVIX_GetwayImpl(d->tables.handle, compact(env).c_str(), rsp.data(),
                                        static_cast<uint32_t>(rsp.size()), nullptr);
        const std::string text(rsp.data());
        Json::Value answer;
        Json::Value out;
        out["event"] = "answer";
        out["deviceId"] = d->spec.id;
        out["method"] = method;
        out["uri"] = uri;
        if (Json::Reader().parse(text, answer) && answer.isObject())
            out["answer"] = answer;
        else
            out["answer"] = text;
        emit(out);
        return answer;
    }

    Dev* find(const std::string& id) {
        for (auto& d : devices)
            if (d->spec.id == id) return d.get();
        return nullptr;
    }

    bool start(const std::string& path, const std::string& listenIp, uint16_t reg, uint16_t alarm, uint16_t storage) {
        std::string why;
        if (!plugin.load(path, why)) {
            fprintf(stderr, "gwhost: cannot load %s: %s\n", path.c_str(), why.c_str());
            return false;
        }
        const GWPluginInterface* t = plugin.table();
        Json::Value v;
        v["event"] = "loaded";
        v["version"] = t->Plugin_GetVersion();
        emit(v);
        if (t->Plugin_Init() != 0) {
            fprintf(stderr, "gwhost: Plugin_Init failed\n");
            return false;
        }
        const std::string ports = "aldonV5RegPort=" + std::to_string(reg) + ";aldonV5AlarmPort=" +
                                  std::to_string(alarm) + ";pssUploadPort=" + std::to_string(storage) + ";";
        config("InitListenPort", ports);
        Json::Value zones;
        Json::Value access;
        access["protocolType"] = "VEXA";
        access["accessIp"] = listenIp;
        access["id"] = 1;
        zones["accessNetInfos"].append(access);
        zones["natIps"] = Json::Value(Json::arrayValue);
        const uint32_t rc = config("NetZoneTableNotify", compact(zones));
        std::string status;
        plugin.portStatus(status);
        Json::Value st;
        Json::Reader().parse(status, st);
        Json::Value e;
        e["event"] = "portStatus";
        e["status"] = st;
        emit(e);
        return rc == 0;
    }

    uint32_t config(const std::string& head, const std::string& msg) {
        const uint32_t rc = plugin.setConfig(head.c_str(), msg.c_str());
        Json::Value v;
        v["event"] = "config";
        v["command"] = head;
        v["result"] = rc;
        emit(v);
        return rc;
    }

    Dev* add(const HostDeviceSpec& spec) {
        auto d = std::make_unique<Dev>();
        d->spec = spec;
        if (plugin.createDevice(d->tables) != 0) return nullptr;
        d->tables.conn->SetConnStatusCallBackImpl_V2(d->tables.handle, &Host::onStatus, d.get());
        d->tables.event->SetEventCallBackImpl(d->tables.handle, &Host::onEvent, d.get());
        std::string params = "DeviceId=" + spec.id + ";DeviceKey=" + spec.key + ";";
        if (!spec.type.empty()) params += "DevType=" + spec.type + ";";
        if (!spec.protocol.empty()) params += "DevProtocol=" + spec.protocol + ";";
        params += "AllowDirectConn=" + std::to_string(spec.allowDirectConn) + ";";
        params += "AlarmActiveStatus=" + spec.alarmActive + ";";
        d->tables.conn->ConnectImpl_V2(d->tables.handle, params.c_str(), nullptr, nullptr);
        Json::Value v;
        v["event"] = "deviceAdded";
        v["deviceId"] = spec.id;
        emit(v);
        devices.push_back(std::move(d));
        return devices.back().get();
    }

    int stop() {
        const GWPluginInterface* t = plugin.table();
        if (!t) return 1;
        for (auto& d : devices) {
            d->tables.conn->DisConnectImpl_V2(d->tables.handle);
            t->Plugin_DestroyDevice(d->tables.handle);
        }
        devices.clear();
        const uint32_t rc = t->Plugin_Fini();
        Json::Value v;
        v["event"] = "shutdown";
        v["result"] = rc;
        emit(v);
        return rc == 0 ? 0 : 1;
    }
};

bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void note(const std::string& text) {
    Json::Value v;
    v["event"] = "note";
    v["text"] = text;
    emit(v);
}

int runDemo(const std::string& pluginPath) {
    Host host;
    const uint16_t reg = gwhost::freeLoopbackPort(), alarm = gwhost::freeLoopbackPort(),
                   storage = gwhost::freeLoopbackPort();
    if (!host.start(pluginPath, "127.0.0.1", reg, alarm, storage)) {
        host.stop();
        return 1;
    }
    bool ok = true;

    note("devices come on line: a control panel (VEXA) and a camera (aldonV5)");
    auto* panel = host.add({"panel-0001", "panel-key", "SecurityCP", "VEXA"});
    auto* camera = host.add({"camera-0001", "camera-key", "encodingDev", "aldonV5"});
    auto* refused = host.add({"panel-0002", "the-right-key", "SecurityCP", "VEXA"});
    if (!panel || !camera || !refused) return 1;

    devsim::Simulator sim;
    auto cfg = [&](const std::string& id, const std::string& key, devsim::Family f) {
        devsim::DeviceConfig c;
        c.deviceId = id;
        c.key = key;
        c.family = f;
        c.cmsPort = reg;
        c.amsPort = alarm;
        return c;
    };
    devsim::PanelOptions panelOptions;
    panelOptions.subsystems = 4;
    auto panelModel = devsim::makePanel(panelOptions);
    auto cameraModel = devsim::makeCamera();
    auto panelCfg = cfg("panel-0001", "panel-key", devsim::Family::Vexa);
    panelCfg.handler = panelModel->handler();
    auto cameraCfg = cfg("camera-0001", "camera-key", devsim::Family::AldonV5);
    cameraCfg.handler = cameraModel->handler();
    auto simPanel = sim.addDevice(panelCfg);
    auto simCamera = sim.addDevice(cameraCfg);
    simPanel->start();
    simCamera->start();
    ok = ok && waitFor([&] { return panel->status == 0 && camera->status == 0; }, std::chrono::seconds(10));

    note("the host arms subsystem 1 of the panel, reads the subsystems, and disarms");
    host.request(panel, "PUT", "/OVIX/SecurityCP/control/arm/1?format=json&ways=away", "");
    Json::Value st = host.request(panel, "GET", "/OVIX/SecurityCP/status/subSystems?format=json", "");
    ok = ok && st.isObject() && st["SubSysList"].isArray() && st["SubSysList"].size() == 4;
    host.request(panel, "PUT", "/OVIX/SecurityCP/control/arm/1?format=json&ways=away", "");
    host.request(panel, "PUT", "/OVIX/SecurityCP/control/disarm?format=json",
                 "{\"SubSysList\":[{\"SubSys\":{\"id\":1}},{\"SubSys\":{\"id\":2}}]}");
    note("the host reads the camera's device information (passed through to the device)");
    host.request(camera, "GET", "/OVIX/System/deviceInfo?format=json&devIndex=1", "");

    note("the devices push an alarm of each form; each arrives as a host event");
    simPanel->connectAlarm();
    simCamera->connectAlarm();
    ok = ok && simPanel->waitAlarm(devsim::AlarmState::Ready, std::chrono::seconds(10)) &&
         simCamera->waitAlarm(devsim::AlarmState::Ready, std::chrono::seconds(10));
    {
        devsim::ApiAlarm xml;
        xml.deviceId = "camera-0001";
        xml.eventType = "linedetection";
        simCamera->pushAlarm(2, 1, devsim::apiAlarmXml(xml));
        devsim::ApiAlarm json = xml;
        json.eventType = "IO";
        json.inputPort = 2;
        simCamera->pushAlarm(2, 2, devsim::apiAlarmJson(json));
        devsim::ZornaAlarm zorna;
        zorna.deviceId = "panel-0001";
        zorna.type = 6;
        zorna.alarmInChannel = 3;
        simPanel->pushAlarm(2, 1, devsim::zornaAlarm(zorna));
        devsim::CidReport cid;
        cid.deviceId = "panel-0001";
        simPanel->pushAlarm(2, 1, devsim::zornaCidReport(cid));
        devsim::ModelCidAlarm model;
        model.deviceId = "panel-0001";
        model.code = 1401;
        const devsim::AlarmText m = devsim::modelCidAlarm(model);
        simPanel->sendMessage(m.route.messageType, m.route.domain, m.route.identifier, m.route.alarmType,
                              m.route.dataType, m.text);
    }
    ok = ok && waitFor([&] { return panel->events >= 3 && camera->events >= 2; }, std::chrono::seconds(10));

    note("a device presenting the wrong key is refused (status 8)");
    auto wrongCfg = cfg("panel-0002", "the-right-key", devsim::Family::Vexa);
    wrongCfg.wrongKey = true;
    auto simWrong = sim.addDevice(wrongCfg);
    simWrong->start();
    ok = ok && waitFor([&] { return refused->status == 8; }, std::chrono::seconds(10));

    note("the camera logs out (status 10)");
    simCamera->logout();
    ok = ok && waitFor([&] { return camera->status == 10; }, std::chrono::seconds(10));

    if (!ok) note("demo step failed: a device did not reach its expected status");
    const int rc = host.stop();
    return ok && rc == 0 ? 0 : 1;
}

bool readHostFile(const std::string& path, Json::Value& root) {
    std::ifstream in(path);
    if (!in) return false;
    Json::CharReaderBuilder b;
    b["stackLimit"] = 64;
    std::string errs;
    return Json::parseFromStream(b, in, &root, &errs) && root.isObject();
}

// Envelopes, one JSON object a line: {"device","method","uri","body"} or {"sleep":ms}.
void runScenario(Host& host, std::istream& in) {
    std::string line;
    while (!g_stop && std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        Json::Value step;
        if (!Json::Reader().parse(line, step) || !step.isObject()) {
            note("scenario line is not a JSON object: " + line);
            continue;
        }
        if (step["sleep"].isUInt()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step["sleep"].asUInt()));
            continue;
        }
        Host::Dev* d = host.find(step["device"].isString() ? step["device"].asString() : "");
        if (!d) {
            note("scenario names an unknown device: " + line);
            continue;
        }
        auto str = [&](const char* k) { return step[k].isString() ? step[k].asString() : std::string(); };
        host.request(d, str("method"), str("uri"), str("body"));
    }
}

int runHostFile(const std::string& pluginPath, const std::string& file, double duration,
                const std::string& scenario) {
    Json::Value root;
    if (!readHostFile(file, root)) {
        fprintf(stderr, "gwhost: cannot read host file %s\n", file.c_str());
        return 2;
    }
    auto str = [](const Json::Value& o, const char* k, const std::string& d) {
        return o.isObject() && o[k].isString() ? o[k].asString() : d;
    };
    auto port = [](const Json::Value& o, const char* k) -> uint16_t {
        if (!o.isObject() || !o[k].isUInt() || o[k].asUInt() < 1 || o[k].asUInt() > 65535)
            return gwhost::freeLoopbackPort();
        return static_cast<uint16_t>(o[k].asUInt());
    };
    Host host;
    if (!host.start(pluginPath, str(root, "listen", "127.0.0.1"), port(root, "regPort"), port(root, "alarmPort"),
                    port(root, "storagePort"))) {
        host.stop();
        return 1;
    }
    const Json::Value& devs = root["devices"];
    if (devs.isArray()) {
        for (const Json::Value& d : devs) {
            HostDeviceSpec s;
            s.id = str(d, "id", "");
            if (s.id.empty()) continue;
            s.key = str(d, "key", "");
            s.type = str(d, "type", "");
            s.protocol = str(d, "protocol", "");
            s.alarmActive = str(d, "alarmActiveStatus", "active");
            s.allowDirectConn = d.isObject() && d["allowDirectConn"].isInt() ? d["allowDirectConn"].asInt() : 1;
            host.add(s);
        }
    }
    if (scenario == "-") {
        runScenario(host, std::cin);
    } else if (!scenario.empty()) {
        std::ifstream in(scenario);
        if (!in) note("cannot read scenario " + scenario);
        runScenario(host, in);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(duration * 1000));
    while (!g_stop && (duration <= 0 || std::chrono::steady_clock::now() < end))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return host.stop();
}

void usage() {
    fprintf(stderr,
            "usage: gwhost --demo [--plugin PATH]\n"
            "       gwhost --hostfile FILE [--scenario FILE|-] [--duration SEC] [--plugin PATH]\n"
            "  --demo          run the built-in scenario with simulated devices on free loopback ports\n"
            "  --hostfile FILE JSON: {\"listen\",\"regPort\",\"alarmPort\",\"storagePort\",\n"
            "                  \"devices\":[{\"id\",\"key\",\"type\",\"protocol\",\"allowDirectConn\",\n"
            "                  \"alarmActiveStatus\"}]}; runs until --duration or Ctrl-C\n"
            "  --scenario FILE device-API calls, one JSON object a line ({\"device\",\"method\",\"uri\",\"body\"}\n"
            "                  or {\"sleep\":ms}); - reads standard input\n"
            "  --plugin PATH   plug-in library (default: ../lib/libVexaDev.so beside this program)\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string plugin = gwhost::defaultPluginPath();
    std::string hostFile, scenario;
    double duration = 0;
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--demo")) {
            demo = true;
        } else if (!strcmp(argv[i], "--plugin") && i + 1 < argc) {
            plugin = argv[++i];
        } else if (!strcmp(argv[i], "--hostfile") && i + 1 < argc) {
            hostFile = argv[++i];
        } else if (!strcmp(argv[i], "--scenario") && i + 1 < argc) {
            scenario = argv[++i];
        } else if (!strcmp(argv[i], "--duration") && i + 1 < argc) {
            duration = atof(argv[++i]);
        } else {
            usage();
            return 2;
        }
    }
    signal(SIGINT, [](int) { g_stop = true; });
    signal(SIGTERM, [](int) { g_stop = true; });
    signal(SIGPIPE, SIG_IGN);
    devsim::raiseFileLimit();
    if (demo) return runDemo(plugin);
    if (!hostFile.empty()) return runHostFile(plugin, hostFile, duration, scenario);
    usage();
    return 2;
}
