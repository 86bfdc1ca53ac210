// gwhost: a small real host for the VexaDev plug-in. Loads libVexaDev.so, sends the
// configuration commands, creates and connects devices, and prints everything that comes back
// as JSON lines on standard output.
#include <json/json.h>
#include <signal.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Console.h"
#include "MediaSink.h"
#include "PluginHost.h"
#include "devsim/AlarmTexts.h"
#include "devsim/Equipment.h"
#include "devsim/Simulator.h"

namespace {

std::mutex g_out;
std::atomic<bool> g_stop{false};
// The console, while one runs: every printed line goes to its event ring as well.
std::atomic<gwhost::Console*> g_console{nullptr};

std::string compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

void emit(const Json::Value& v) {
    const std::string s = compact(v);
    {
        std::lock_guard<std::mutex> lk(g_out);
        fprintf(stdout, "%s\n", s.c_str());
        fflush(stdout);
    }
    if (gwhost::Console* c = g_console.load()) c->publish(v["event"].isString() ? v["event"].asString() : "", s);
}

// "k=v;k=v;" text of a status callback.
std::map<std::string, std::string> pairs(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ';')) {
        const size_t eq = item.find('=');
        if (eq != std::string::npos) out[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return out;
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
        // Every status reported, in order: a quick off-and-on again is not lost between polls.
        mutable std::mutex trailMx;
        std::vector<uint32_t> trail;
        // What the console shows (under trailMx).
        std::string statusText, serial, address;
        std::chrono::steady_clock::time_point onlineSince;
        std::vector<uint32_t> statusesSince(size_t mark) const {
            std::lock_guard<std::mutex> lk(trailMx);
            return mark < trail.size() ? std::vector<uint32_t>(trail.begin() + static_cast<long>(mark), trail.end())
                                       : std::vector<uint32_t>();
        }
        size_t statusCount() const {
            std::lock_guard<std::mutex> lk(trailMx);
            return trail.size();
        }
    };
    mutable std::mutex devMx;  // the console adds and removes devices on its own threads
    std::vector<std::shared_ptr<Dev>> devices;

    static void VEXA_CALL onStatus(void*, uint32_t status, const char* text, void* user) {
        Dev* d = static_cast<Dev*>(user);
        {
            std::lock_guard<std::mutex> lk(d->trailMx);
            d->trail.push_back(status);
            d->statusText = text ? std::string(text).substr(0, 256) : "";
            if (status == 0) {
                const auto kv = pairs(d->statusText);
                auto get = [&](const char* k) {
                    const auto it = kv.find(k);
                    return it == kv.end() ? std::string() : it->second;
                };
                if (!get("serialNo").empty()) d->serial = get("serialNo");
                d->address = get("regIP").empty() ? "" : get("regIP") + ":" + get("regPort");
                if (d->status != 0) d->onlineSince = std::chrono::steady_clock::now();
            }
        }
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

    struct Call {
        uint32_t rc = 0;
        Json::Value answer;  // null when the answer is not a JSON object
        Json::Value line;    // what is printed for the call
        // The call returned 0 and the answer is data or an "OK" status document.
        bool ok() const {
            return rc == 0 && answer.isObject() &&
                   (!answer.isMember("statusCode") || (answer["statusCode"].isInt() && answer["statusCode"].asInt() == 1));
        }
    };

    // One device-API call: the host call, its code and the answer on one line (printed unless
    // the caller prints a shorter form itself).
    Call call(Dev* d, const std::string& method, const std::string& uri, const std::string& body, bool show = true) {
        Json::Value env;
        env["method"] = method;
        env["uri"] = uri;
        env["body"] = body;
        std::vector<char> rsp(256 * 1024);
        Call c;
        c.rc = d->tables.ovix->OVIX_GetwayImpl(d->tables.handle, compact(env).c_str(), rsp.data(),
                                               static_cast<uint32_t>(rsp.size()), nullptr);
        rsp.back() = '\0';
        const std::string text(rsp.data());
        Json::Value& out = c.line;
        out["event"] = "answer";
        out["deviceId"] = d->spec.id;
        out["method"] = method;
        out["uri"] = uri;
        if (!body.empty()) {
            Json::Value parsed;
            out["body"] = Json::Reader().parse(body, parsed) && parsed.isObject() ? parsed : Json::Value(body);
        }
        out["rc"] = c.rc;
        if (Json::Reader().parse(text, c.answer) && c.answer.isObject())
            out["answer"] = c.answer;
        else {
            out["answer"] = text;
            c.answer = Json::Value();
        }
        if (show) emit(out);
        return c;
    }

    Json::Value request(Dev* d, const std::string& method, const std::string& uri, const std::string& body) {
        return call(d, method, uri, body).answer;
    }

    // One media order through the order interface; prints the command, the code and the answer.
    struct OrderResult {
        int32_t rc = -1;
        std::string answer;
    };
    OrderResult order(Dev* d, const std::string& command, const std::string& fields) {
        const std::string& id = d->spec.id;
        const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Message><DevIndexCode>" + id +
                                 "</DevIndexCode><Pack type=\"TNP\"><Command>" + command + "</Command><DevIndexCode>" +
                                 id + "</DevIndexCode>" + fields + "</Pack></Message>";
        return sendOrder(d, command, text);
    }

    // An order text as given; `command` only labels the printed line.
    OrderResult sendOrder(Dev* d, const std::string& command, const std::string& text) {
        OrderResult r;
        r.rc = static_cast<int32_t>(gwhost::transOrder(d->tables, text, r.answer));
        Json::Value v;
        v["event"] = "order";
        v["deviceId"] = d->spec.id;
        v["command"] = command;
        v["rc"] = r.rc;
        char hex[16];
        snprintf(hex, sizeof hex, "0x%08x", static_cast<uint32_t>(r.rc));
        v["rcHex"] = hex;
        v["answer"] = compactXml(r.answer);
        emit(v);
        return r;
    }

    // The answer on one line: line breaks and the blanks between tags dropped.
    static std::string compactXml(const std::string& xml) {
        std::string out;
        out.reserve(xml.size());
        size_t i = 0;
        while (i < xml.size()) {
            const char c = xml[i];
            if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
                size_t j = i;
                while (j < xml.size() && (xml[j] == '\n' || xml[j] == '\r' || xml[j] == '\t' || xml[j] == ' ')) ++j;
                const bool betweenTags = (out.empty() || out.back() == '>') && (j == xml.size() || xml[j] == '<');
                if (!betweenTags) out.append(xml, i, j - i);
                i = j;
                continue;
            }
            out += c;
            ++i;
        }
        return out;
    }

    Dev* find(const std::string& id) { return findShared(id).get(); }
    std::shared_ptr<Dev> findShared(const std::string& id) const {
        std::lock_guard<std::mutex> lk(devMx);
        for (auto& d : devices)
            if (d->spec.id == id) return d;
        return nullptr;
    }
    std::vector<std::shared_ptr<Dev>> list() const {
        std::lock_guard<std::mutex> lk(devMx);
        return devices;
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
        auto d = std::make_shared<Dev>();
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
        std::lock_guard<std::mutex> lk(devMx);
        devices.push_back(d);
        return d.get();
    }

    // Disconnects and destroys one device; false when there is none of that id.
    bool remove(const std::string& id) {
        std::shared_ptr<Dev> d;
        {
            std::lock_guard<std::mutex> lk(devMx);
            for (auto it = devices.begin(); it != devices.end(); ++it)
                if ((*it)->spec.id == id) {
                    d = *it;
                    devices.erase(it);
                    break;
                }
        }
        if (!d) return false;
        d->tables.conn->DisConnectImpl_V2(d->tables.handle);
        plugin.table()->Plugin_DestroyDevice(d->tables.handle);
        Json::Value v;
        v["event"] = "deviceRemoved";
        v["deviceId"] = id;
        emit(v);
        return true;
    }

    int stop() {
        const GWPluginInterface* t = plugin.table();
        if (!t) return 1;
        for (auto& d : list()) {
            d->tables.conn->DisConnectImpl_V2(d->tables.handle);
            t->Plugin_DestroyDevice(d->tables.handle);
        }
        {
            std::lock_guard<std::mutex> lk(devMx);
            devices.clear();
        }
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

Json::Value streamJson(const gwhost::StreamStats& s) {
    Json::Value v;
    v["id"] = static_cast<Json::UInt64>(s.id);
    v["transport"] = s.tcp ? "tcp" : "udp";
    v["peer"] = s.peer;
    v["pid"] = s.pid;
    v["bytes"] = static_cast<Json::UInt64>(s.bytes);
    v["packets"] = static_cast<Json::UInt64>(s.packets);
    v["syncErrors"] = static_cast<Json::UInt64>(s.syncErrors);
    v["continuityErrors"] = static_cast<Json::UInt64>(s.continuityErrors);
    v["skippedBytes"] = static_cast<Json::UInt64>(s.skippedBytes);
    v["truncatedBytes"] = static_cast<Json::UInt64>(s.truncatedBytes);
    v["durationMs"] = static_cast<Json::Int64>(s.seconds() * 1000);
    v["ended"] = s.ended;
    return v;
}

Json::Value totalsJson(const gwhost::SinkTotals& t) {
    Json::Value v;
    v["streams"] = static_cast<Json::UInt64>(t.streams);
    v["live"] = static_cast<Json::UInt64>(t.live);
    v["bytes"] = static_cast<Json::UInt64>(t.bytes);
    v["packets"] = static_cast<Json::UInt64>(t.packets);
    v["syncErrors"] = static_cast<Json::UInt64>(t.syncErrors);
    v["continuityErrors"] = static_cast<Json::UInt64>(t.continuityErrors);
    v["refusedConnections"] = static_cast<Json::UInt64>(t.refusedConnections);
    v["droppedDatagrams"] = static_cast<Json::UInt64>(t.droppedDatagrams);
    return v;
}

// Text of the first <name> element of an answer; empty when there is none.
std::string xmlField(const std::string& xml, const std::string& name) {
    const std::string open = "<" + name + ">", close = "</" + name + ">";
    const size_t a = xml.find(open);
    if (a == std::string::npos) return "";
    const size_t b = xml.find(close, a + open.size());
    return b == std::string::npos ? "" : xml.substr(a + open.size(), b - a - open.size());
}

std::string el(const char* name, const std::string& value) {
    return std::string("<") + name + ">" + value + "</" + name + ">";
}

std::string compactUtc(time_t t) {
    struct tm tmv;
    gmtime_r(&t, &tmv);
    char buf[32];
    strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tmv);
    return buf;
}

// The three media parts of the demo: each order's code and answer, and what the sink saw.
// A demo part's progress lines: {"event": kind, "part", "step", "ok"}.
class DemoSteps {
protected:
    explicit DemoSteps(const char* kind) : m_kind(kind) {}
    Json::Value event(const std::string& what) const {
        Json::Value v;
        v["event"] = m_kind;
        v["part"] = m_part;
        v["step"] = what;
        return v;
    }
    bool step(const std::string& what, bool ok) {
        Json::Value v = event(what);
        v["ok"] = ok;
        emit(v);
        return ok;
    }
    const char* m_kind;
    std::string m_part;
};

class MediaDemo : public DemoSteps {
public:
    MediaDemo(Host& host, gwhost::MediaSink& sink) : DemoSteps("media"), m_host(host), m_sink(sink) {}

    // Live view over `link` ("TCP" or "UDP"), watched for `span`.
    bool live(Host::Dev* cam, const std::string& link, std::chrono::milliseconds span) {
        m_part = link == "UDP" ? "live-udp" : "live";
        note("live view: the camera streams channel 1 to the host's media sink over " + link);
        const uint64_t mark = m_sink.lastStreamId();
        const auto req = m_host.order(cam, "PLAY_STREAM_REQ",
                                      el("Channel", "1") + el("LinkType", link) + el("ChannelType", "MAIN") +
                                          el("SinkIP", "127.0.0.1") + el("SinkPort", std::to_string(m_sink.port())));
        const std::string session = xmlField(req.answer, "Session");
        if (!step("session obtained", req.rc == 0 && !session.empty())) return false;
        const auto push = m_host.order(cam, "PLAY_STREAM_PUSH_REQ", el("Session", session));
        if (!step("stream pushed", push.rc == 0)) return false;
        const uint64_t id = firstBytes(mark);
        if (!id) return false;
        stream(std::to_string(span.count()) + " ms of stream", id, span);
        const auto stop = m_host.order(cam, "STOP_STREAM_REQ", el("LinkType", link) + el("Session", session));
        bool ok = step("stream stopped", stop.rc == 0);
        return quiet("no more bytes after the stop", id) && ok;
    }

    bool playback(Host::Dev* nvr) {
        m_part = "playback";
        note("playback: the recorder plays the last hour of channel 1; pause stops the bytes, resume restarts them");
        const time_t now = time(nullptr);
        const uint64_t mark = m_sink.lastStreamId();
        const auto req = m_host.order(
            nvr, "PLAYBACK_FILE_REQ",
            el("Channel", "1") + el("SinkIP", "127.0.0.1") + el("SinkPort", std::to_string(m_sink.port())) +
                el("FileName", "") + el("PlaybackType", "ByTime") + el("StartTime", compactUtc(now - 3600)) +
                el("EndTime", compactUtc(now)) + el("StartOffset", "0") + el("StreamType", "1"));
        const std::string session = xmlField(req.answer, "Session");
        if (!step("session obtained", req.rc == 0 && !session.empty())) return false;
        const auto push = m_host.order(nvr, "PLAYBACK_FILE_PUSH_REQ", el("Session", session));
        if (!step("stream pushed", push.rc == 0)) return false;
        const uint64_t id = firstBytes(mark);
        if (!id) return false;
        stream("half a second of playback", id, std::chrono::milliseconds(500));
        bool ok = step("paused", m_host.order(nvr, "PAUSE_STREAM_REQ", el("Session", session)).rc == 0);
        ok = quiet("bytes stop while paused", id) && ok;
        const uint64_t before = m_sink.stream(id) ? m_sink.stream(id)->bytes : 0;
        const uint64_t lastBefore = m_sink.lastStreamId();
        ok = step("resumed", m_host.order(nvr, "RESUME_STREAM_REQ", el("Session", session)).rc == 0) && ok;
        // The same connection carries on; a device that opened a new one counts as well.
        const bool restarted = m_sink.waitBytes(id, before + 1, std::chrono::seconds(3)) ||
                               m_sink.waitStream(1, std::chrono::milliseconds(0), lastBefore).has_value();
        ok = step("bytes restart after the resume", restarted) && ok;
        if (restarted) stream("half a second after the resume", id, std::chrono::milliseconds(500));
        ok = step("stopped", m_host.order(nvr, "STOP_PLAYBACK_REQ", el("Session", session)).rc == 0) && ok;
        return quiet("no more bytes after the stop", id) && ok;
    }

    bool talk(Host::Dev* cam) {
        m_part = "talk";
        note("voice talk: the camera's audio channel streams to the media sink");
        const uint64_t mark = m_sink.lastStreamId();
        const auto req = m_host.order(cam, "START_TALK_REQ",
                                      el("Channel", "1") + el("LinkType", "TCP") + el("SinkIP", "127.0.0.1") +
                                          el("SinkPort", std::to_string(m_sink.port())));
        const std::string session = xmlField(req.answer, "Session");
        Json::Value v = event("audio codec");
        v["AudioEncType"] = xmlField(req.answer, "AudioEncType");
        emit(v);
        if (!step("session obtained", req.rc == 0 && !session.empty())) return false;
        const auto push = m_host.order(cam, "START_TALK_PUSH_REQ", el("Session", session));
        if (!step("talk pushed", push.rc == 0)) return false;
        const uint64_t id = firstBytes(mark);
        if (!id) return false;
        stream("half a second of voice", id, std::chrono::milliseconds(500));
        bool ok = step("stopped", m_host.order(cam, "STOP_TALK_REQ", el("Session", session)).rc == 0);
        return quiet("no more bytes after the stop", id) && ok;
    }

private:
    // Id of the first stream after `mark` that brings bytes; 0 when none comes in time.
    uint64_t firstBytes(uint64_t mark) {
        const auto s = m_sink.waitStream(1, std::chrono::seconds(5), mark);
        step("bytes arrive at the sink", s.has_value());
        return s ? s->id : 0;
    }

    // Shows what stream `id` brought during `span` after this point.
    void stream(const std::string& what, uint64_t id, std::chrono::milliseconds span) {
        const auto a = m_sink.stream(id);
        std::this_thread::sleep_for(span);
        const auto b = m_sink.stream(id);
        if (!a || !b) return;
        Json::Value v = event(what);
        v["bytesInSpan"] = static_cast<Json::UInt64>(b->bytes - a->bytes);
        v["packetsInSpan"] = static_cast<Json::UInt64>(b->packets - a->packets);
        v["stream"] = streamJson(*b);
        emit(v);
    }

    // In-flight bytes drain first; then nothing more may come.
    bool quiet(const std::string& what, uint64_t id) {
        const bool drained = m_sink.waitQuiet(std::chrono::milliseconds(200), std::chrono::seconds(3), id);
        const bool none = drained && m_sink.noMoreBytes(std::chrono::milliseconds(300), id);
        Json::Value v = event(what);
        v["ok"] = none;
        if (const auto s = m_sink.stream(id)) v["stream"] = streamJson(*s);
        emit(v);
        return none;
    }

    Host& m_host;
    gwhost::MediaSink& m_sink;
};

bool runMediaDemo(Host& host, devsim::Simulator& sim, uint16_t reg, uint16_t alarm) {
    gwhost::MediaSink sink;
    std::string why;
    if (!sink.start("127.0.0.1", 0, &why)) {
        note("the media sink cannot listen: " + why);
        return false;
    }
    Json::Value s;
    s["event"] = "mediaSink";
    s["address"] = "127.0.0.1";
    s["port"] = sink.port();
    emit(s);

    note("media: a camera and a recorder (aldonV5) come on line");
    auto* cam = host.add({"camera-0002", "camera-key-2", "encodingDev", "aldonV5"});
    auto* nvr = host.add({"recorder-0001", "recorder-key", "encodingDev", "aldonV5"});
    if (!cam || !nvr) return false;
    auto device = [&](const std::string& id, const std::string& key, const devsim::CameraOptions& o) {
        devsim::DeviceConfig c;
        c.deviceId = id;
        c.key = key;
        c.family = devsim::Family::AldonV5;
        c.cmsPort = reg;
        c.amsPort = alarm;
        c.handler = devsim::makeCamera(o)->handler();
        auto d = sim.addDevice(c);
        d->start();
        return d;
    };
    // A short reboot keeps the device-API part that follows quick.
    devsim::CameraOptions camOptions = devsim::cameraDefaults(), nvrOptions = devsim::recorderDefaults();
    camOptions.rebootDelay = nvrOptions.rebootDelay = std::chrono::milliseconds(300);
    auto simCam = device("camera-0002", "camera-key-2", camOptions);
    auto simNvr = device("recorder-0001", "recorder-key", nvrOptions);
    if (!waitFor([&] { return cam->status == 0 && nvr->status == 0; }, std::chrono::seconds(10))) {
        note("media demo: the camera or the recorder did not come on line");
        return false;
    }

    MediaDemo demo(host, sink);
    bool ok = demo.live(cam, "TCP", std::chrono::milliseconds(1000));
    ok = demo.live(cam, "UDP", std::chrono::milliseconds(300)) && ok;
    ok = demo.playback(nvr) && ok;
    ok = demo.talk(cam) && ok;
    sink.stop();
    Json::Value t;
    t["event"] = "mediaSinkTotals";
    t["totals"] = totalsJson(sink.totals());
    emit(t);
    return ok;
}

// Member `key` of `v`; null when `v` is no object or has none (answers are read, not trusted).
const Json::Value& at(const Json::Value& v, const char* key) {
    static const Json::Value none;
    const Json::Value* m = v.isObject() ? v.find(key, key + strlen(key)) : nullptr;
    return m ? *m : none;
}

std::string utcText(time_t t, const char* format) {
    struct tm tmv;
    gmtime_r(&t, &tmv);
    char buf[40];
    strftime(buf, sizeof buf, format, &tmv);
    return buf;
}

// The rest of the device API: the panel's zones, relays and extension devices, a camera's clock,
// a recorder's records of one day, and a reboot. Each call is printed with its code and answer.
class DeviceApiDemo : public DemoSteps {
public:
    explicit DeviceApiDemo(Host& host) : DemoSteps("deviceApi"), m_host(host) {}

    bool zones(Host::Dev* panel) {
        m_part = "zones";
        note("the host searches the status of the panel's zones");
        const auto c = m_host.call(panel, "POST", "/OVIX/SecurityCP/status/zones?format=json",
                                   R"({"ZoneCond":{"searchID":"gwhost-demo","searchResultPosition":0,"maxResults":8}})");
        const Json::Value& list = at(at(c.answer, "ZoneSearch"), "ZoneList");
        return step("zone status found", c.ok() && list.isArray() && !list.empty());
    }

    bool relayAndExtensions(Host::Dev* panel) {
        m_part = "relay";
        note("the host switches relay 1 of the panel on and reads it back with the extension devices");
        const auto sw = m_host.call(panel, "POST", "/OVIX/SecurityCP/control/outputs?format=json",
                                    R"({"OutputsCtrl":{"switch":"open","List":[{"seq":"1"}]}})");
        bool ok = step("relay switched", sw.ok());
        const auto st = m_host.call(panel, "GET", "/OVIX/SecurityCP/status/exDevStatus?format=json", "");
        const Json::Value& all = at(st.answer, "ExDevStatus");
        bool open = false;
        const Json::Value& outputs = at(all, "OutputList");
        if (outputs.isArray())
            for (const Json::Value& o : outputs) {
                const Json::Value& out = at(o, "Output");
                open = open || (at(out, "seq") == "1" && at(out, "status") == "open");
            }
        ok = step("relay 1 reads back open", st.ok() && open) && ok;
        m_part = "extension devices";
        Json::Value v = event("listed");
        if (all.isObject())
            for (const std::string& kind : all.getMemberNames())
                v["lists"][kind] = at(all, kind.c_str()).isArray() ? at(all, kind.c_str()).size() : 0u;
        v["ok"] = st.ok() && all.isObject() && all.size() > 1;
        emit(v);
        return v["ok"].asBool() && ok;
    }

    bool clock(Host::Dev* cam) {
        m_part = "clock";
        note("the host reads the camera's clock, sets it by hand to the host's time, and reads it again");
        const std::string uri = "/OVIX/System/time?format=json";
        const auto before = m_host.call(cam, "GET", uri, "");
        bool ok = step("clock read", before.ok() && at(at(before.answer, "Time"), "localTime").isString());
        const std::string now = utcText(time(nullptr), "%Y-%m-%dT%H:%M:%S+00:00");
        const auto set = m_host.call(cam, "PUT", uri, R"({"Time":{"timeMode":"manual","localTime":")" + now + R"("}})");
        ok = step("clock set", set.ok()) && ok;
        const auto after = m_host.call(cam, "GET", uri, "");
        return step("clock reads back manual", after.ok() && at(at(after.answer, "Time"), "timeMode") == "manual") && ok;
    }

    // Yesterday (UTC) on channel 1, page by page; each page shows its records' times and URLs.
    bool records(Host::Dev* nvr) {
        m_part = "records";
        const time_t today = time(nullptr) / 86400 * 86400, day = today - 86400;
        note("the host lists the recorder's channel-1 records of " + utcText(day, "%Y-%m-%d") +
             " (UTC) with their playback URLs");
        const std::string uri = "/OVIX/ContentMgmt/search?format=json&devIndex=demo";
        unsigned total = 0;
        bool ok = true, urls = true, more = true;
        for (int page = 0; more && page < 20; ++page) {
            Json::Value body;
            Json::Value& d = body["CMSearchDescription"];
            d["searchID"] = "6b1d3e0a-9c4f-4a27-8e55-0f3c2a7d9b18";
            d["trackIDList"][0]["trackID"] = 101;
            d["timeSpanList"][0]["timeSpan"]["startTime"] = utcText(day, "%Y-%m-%dT%H:%M:%SZ");
            d["timeSpanList"][0]["timeSpan"]["endTime"] = utcText(today - 1, "%Y-%m-%dT%H:%M:%SZ");
            d["maxResults"] = kPage;
            d["searchResultPostion"] = total;
            d["metadataList"][0]["metadataDescriptor"] = "recordType.meta.vexadev.local";
            body["mediaInfo"]["ip"] = "127.0.0.1";
            body["mediaInfo"]["port"] = 554;
            auto c = m_host.call(nvr, "POST", uri, compact(body), false);
            // The page on one line: the answer without its match list, then one entry a record.
            Json::Value result = at(c.answer, "CMSearchResult");
            Json::Value shown(Json::arrayValue);
            const Json::Value& matches = at(result, "matchList");
            if (matches.isArray())
                for (const Json::Value& m : matches) {
                    const Json::Value& item = at(m, "searchMatchItem");
                    Json::Value r;
                    r["startTime"] = at(at(item, "timeSpan"), "startTime");
                    r["endTime"] = at(at(item, "timeSpan"), "endTime");
                    r["playbackURI"] = at(at(item, "mediaSegmentDescriptor"), "playbackURI");
                    const Json::Value& u = r["playbackURI"];
                    urls = urls && u.isString() && u.asString().compare(0, 21, "rtsp://127.0.0.1:554/") == 0;
                    shown.append(r);
                }
            if (result.isObject()) {
                result.removeMember("matchList");
                c.line["answer"]["CMSearchResult"] = result;
                c.line["records"] = shown;
            }
            emit(c.line);
            ok = ok && c.ok() && result.isObject();
            total += shown.size();
            more = ok && at(result, "responseStatusStrg") == "MORE" && !shown.empty();
        }
        Json::Value v = event("day listed");
        v["records"] = total;
        v["ok"] = ok && !more && total > 0 && urls;
        emit(v);
        return v["ok"].asBool();
    }

    bool reboot(Host::Dev* cam) {
        m_part = "reboot";
        note("the host reboots the camera: it goes off line (status 10), comes back (status 0) and answers again");
        const size_t mark = cam->statusCount();
        bool ok = step("reboot accepted", m_host.call(cam, "PUT", "/OVIX/System/reboot?format=json", "").ok());
        const bool back = ok && waitFor(
                                    [&] {
                                        const auto s = cam->statusesSince(mark);
                                        for (size_t i = 0; i < s.size(); ++i)
                                            if (s[i] == 10)
                                                for (size_t j = i + 1; j < s.size(); ++j)
                                                    if (s[j] == 0) return true;
                                        return false;
                                    },
                                    std::chrono::seconds(10));
        ok = step("off line and back on line", back) && ok;
        const auto info = m_host.call(cam, "GET", "/OVIX/System/deviceInfo?format=json", "");
        return step("answers after the reboot", info.ok() && at(info.answer, "DeviceInfo").isObject()) && ok;
    }

private:
    static constexpr int kPage = 40;  // the largest page the record search takes

    Host& m_host;
};

bool runDeviceApiDemo(Host& host) {
    Host::Dev* panel = host.find("panel-0001");
    Host::Dev* cam = host.find("camera-0002");
    Host::Dev* nvr = host.find("recorder-0001");
    if (!panel || !cam || !nvr || panel->status != 0 || cam->status != 0 || nvr->status != 0) {
        note("device-API demo: the panel, the camera or the recorder is not on line");
        return false;
    }
    DeviceApiDemo demo(host);
    bool ok = demo.zones(panel);
    ok = demo.relayAndExtensions(panel) && ok;
    ok = demo.clock(cam) && ok;
    ok = demo.records(nvr) && ok;
    return demo.reboot(cam) && ok;
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
    const bool media = runMediaDemo(host, sim, reg, alarm);
    if (!media) note("demo step failed: a media part did not run as expected");
    ok = ok && media;
    const bool api = runDeviceApiDemo(host);
    if (!api) note("demo step failed: a device-API part did not run as expected");
    ok = ok && api;
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

// One JSON object a line: {"device","method","uri","body"}, {"device","order"} (media order XML)
// or {"sleep":ms}.
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
        if (step["order"].isString()) {
            const std::string text = str("order");
            const size_t a = text.find("<Command>"), b = text.find("</Command>");
            const bool named = a != std::string::npos && b != std::string::npos && b > a;
            host.sendOrder(d, named ? text.substr(a + 9, b - a - 9) : "", text);
            continue;
        }
        host.request(d, str("method"), str("uri"), str("body"));
    }
}

// "ADDR:PORT", "[v6addr]:PORT" or ":PORT" (127.0.0.1).
bool splitAddress(const std::string& text, std::string& addr, uint16_t& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    addr = text.substr(0, colon);
    if (addr.size() >= 2 && addr.front() == '[' && addr.back() == ']') addr = addr.substr(1, addr.size() - 2);
    if (addr.empty()) addr = "127.0.0.1";
    const std::string p = text.substr(colon + 1);
    if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long v = strtoul(p.c_str(), nullptr, 10);
    if (v > 65535) return false;
    port = static_cast<uint16_t>(v);
    return true;
}

// The console's view of the host: the same host calls as the host file, plus live view into a
// media sink of the console's own.
class HostConsole : public gwhost::ConsoleHost {
public:
    explicit HostConsole(Host& host) : m_host(host) {}
    bool startSink(std::string& why) { return m_sink.start("127.0.0.1", 0, &why); }
    void stopSink() { m_sink.stop(); }
    void setRunning(bool on) { m_running = on; }

    bool running() const override { return m_running; }
    bool hasDevice(const std::string& id) const override { return m_host.findShared(id) != nullptr; }

    std::vector<gwhost::ConsoleDevice> devices() const override {
        std::vector<gwhost::ConsoleDevice> out;
        const auto now = std::chrono::steady_clock::now();
        for (const auto& d : m_host.list()) {
            gwhost::ConsoleDevice c;
            c.id = d->spec.id;
            c.type = d->spec.type;
            c.protocol = d->spec.protocol;
            c.camera = d->spec.type == "encodingDev";
            const uint32_t st = d->status;
            c.status = st == 0xFFFFFFFF ? -1 : static_cast<int64_t>(st);
            std::lock_guard<std::mutex> lk(d->trailMx);
            c.serial = d->serial;
            c.address = d->address;
            c.statusText = d->statusText;
            if (st == 0) c.onlineSeconds = std::chrono::duration<double>(now - d->onlineSince).count();
            out.push_back(c);
        }
        return out;
    }

    gwhost::ConsoleReply addDevice(const Json::Value& spec) override {
        auto str = [&](const char* k, const std::string& d) { return spec[k].isString() ? spec[k].asString() : d; };
        HostDeviceSpec s;
        s.id = str("id", "");
        s.key = str("key", "");
        s.type = str("type", "");
        s.protocol = str("protocol", "");
        s.alarmActive = str("alarmActiveStatus", "active");
        s.allowDirectConn = spec["allowDirectConn"].isInt() ? spec["allowDirectConn"].asInt() : 1;
        gwhost::ConsoleReply r;
        std::lock_guard<std::mutex> lk(m_addMx);  // two adds of one id at once make one device
        if (m_host.findShared(s.id)) {
            r.status = 409;
            r.body["error"] = "a device with this id exists";
            return r;
        }
        if (!m_host.add(s)) {
            r.status = 500;
            r.body["error"] = "the plug-in did not create the device";
            return r;
        }
        r.status = 201;
        r.body["added"] = s.id;
        return r;
    }

    gwhost::ConsoleReply removeDevice(const std::string& id) override {
        gwhost::ConsoleReply r;
        stopLive(id);
        r.status = m_host.remove(id) ? 200 : 404;
        r.body[r.status == 200 ? "removed" : "error"] = r.status == 200 ? id : "unknown device";
        return r;
    }

    gwhost::ConsoleReply request(const std::string& id, const std::string& method, const std::string& uri,
                                 const std::string& body, bool& ok) override {
        gwhost::ConsoleReply r;
        const auto d = m_host.findShared(id);
        if (!d) return notFound();
        const Host::Call c = m_host.call(d.get(), method, uri, body);
        ok = c.ok();
        r.body["rc"] = c.rc;
        r.body["ok"] = ok;
        r.body["answer"] = c.line["answer"];
        return r;
    }

    gwhost::ConsoleReply live(const std::string& id, const std::string& action) override {
        const auto d = m_host.findShared(id);
        if (!d) return notFound();
        gwhost::ConsoleReply r;
        if (action == "stop") {
            r.body["stopped"] = stopLive(id);
            return r;
        }
        std::unique_lock<std::mutex> lk(m_liveMx);
        auto it = m_live.find(id);
        if (action == "start" && it == m_live.end()) {
            const uint64_t mark = m_sink.lastStreamId();
            const auto req = m_host.order(d.get(), "PLAY_STREAM_REQ",
                                          el("Channel", "1") + el("LinkType", "TCP") + el("ChannelType", "MAIN") +
                                              el("SinkIP", "127.0.0.1") + el("SinkPort", std::to_string(m_sink.port())));
            const std::string session = xmlField(req.answer, "Session");
            if (req.rc != 0 || session.empty() || m_host.order(d.get(), "PLAY_STREAM_PUSH_REQ", el("Session", session)).rc != 0) {
                r.status = 502;
                r.body["error"] = "the device did not start the stream";
                r.body["rc"] = req.rc;
                return r;
            }
            const auto s = m_sink.waitStream(1, std::chrono::seconds(5), mark);
            it = m_live.emplace(id, Live{session, s ? s->id : 0}).first;
        }
        r.body["active"] = it != m_live.end();
        if (it != m_live.end()) {
            r.body["session"] = it->second.session;
            if (const auto s = m_sink.stream(it->second.streamId)) r.body["stream"] = streamJson(*s);
        }
        return r;
    }

    void stopAll() {
        for (const auto& d : m_host.list()) stopLive(d->spec.id);
    }

private:
    struct Live {
        std::string session;
        uint64_t streamId;
    };
    static gwhost::ConsoleReply notFound() {
        gwhost::ConsoleReply r;
        r.status = 404;
        r.body["error"] = "unknown device";
        return r;
    }
    bool stopLive(const std::string& id) {
        Live l;
        {
            std::lock_guard<std::mutex> lk(m_liveMx);
            const auto it = m_live.find(id);
            if (it == m_live.end()) return false;
            l = it->second;
            m_live.erase(it);
        }
        const auto d = m_host.findShared(id);
        return d && m_host.order(d.get(), "STOP_STREAM_REQ", el("LinkType", "TCP") + el("Session", l.session)).rc == 0;
    }

    Host& m_host;
    gwhost::MediaSink m_sink;
    std::atomic<bool> m_running{false};
    std::mutex m_liveMx, m_addMx;
    std::map<std::string, Live> m_live;
};

struct ConsoleArgs {
    std::string where, token;
};

int runHostFile(const std::string& pluginPath, const std::string& file, double duration,
                const std::string& scenario, const ConsoleArgs& consoleArgs) {
    Json::Value root(Json::objectValue);
    if (!file.empty() && !readHostFile(file, root)) {
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
    HostConsole view(host);
    std::unique_ptr<gwhost::Console> console;
    if (!consoleArgs.where.empty()) {
        gwhost::Console::Options o;
        if (!splitAddress(consoleArgs.where, o.address, o.port)) {
            fprintf(stderr, "gwhost: --console wants ADDR:PORT, got %s\n", consoleArgs.where.c_str());
            host.stop();
            return 2;
        }
        o.token = consoleArgs.token;
        console = std::make_unique<gwhost::Console>(view, o);
        std::string why;
        if (!view.startSink(why) || !console->start(why)) {
            fprintf(stderr, "gwhost: console: %s\n", why.c_str());
            host.stop();
            return 2;
        }
        view.setRunning(true);
        g_console = console.get();
        Json::Value v;
        v["event"] = "console";
        v["address"] = o.address;
        v["port"] = console->port();
        emit(v);
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
    // Console calls from here on get 503, and the ones under way end before the plug-in stops;
    // the console object outlives the last host callback.
    view.setRunning(false);
    if (console) console->stop();
    view.stopAll();
    const int rc = host.stop();
    g_console = nullptr;
    view.stopSink();
    return rc;
}

// The media sink on its own: one JSON line per stream when it ends, a summary at the end.
int runMediaSink(const std::string& where, double duration) {
    std::string addr;
    uint16_t port = 0;
    if (!splitAddress(where, addr, port)) {
        fprintf(stderr, "gwhost: --media-sink wants ADDR:PORT, got %s\n", where.c_str());
        return 2;
    }
    gwhost::MediaSink sink;
    sink.onStreamEnd([](const gwhost::StreamStats& st) {
        Json::Value v;
        v["event"] = "stream";
        v["stream"] = streamJson(st);
        emit(v);
    });
    std::string why;
    if (!sink.start(addr, port, &why)) {
        fprintf(stderr, "gwhost: media sink cannot listen on %s: %s\n", where.c_str(), why.c_str());
        return 1;
    }
    Json::Value v;
    v["event"] = "mediaSink";
    v["address"] = addr;
    v["port"] = sink.port();
    emit(v);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(duration * 1000));
    while (!g_stop && (duration <= 0 || std::chrono::steady_clock::now() < end))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sink.stop();
    Json::Value t;
    t["event"] = "mediaSinkTotals";
    t["totals"] = totalsJson(sink.totals());
    emit(t);
    return 0;
}

void usage(FILE* out = stderr) {
    fprintf(out,
            "usage: gwhost --demo [--plugin PATH]\n"
            "       gwhost --hostfile FILE [--scenario FILE|-] [--duration SEC] [--plugin PATH]\n"
            "       gwhost --media-sink ADDR:PORT [--duration SEC]\n"
            "       gwhost [--hostfile FILE] --console ADDR:PORT [--console-token T]\n"
            "  --demo          run the built-in scenario with simulated devices on free loopback ports,\n"
            "                  then live view, playback and voice talk into a media sink of its own, then\n"
            "                  zones, relays, extension devices, clock, records and a reboot\n"
            "  --hostfile FILE JSON: {\"listen\",\"regPort\",\"alarmPort\",\"storagePort\",\n"
            "                  \"devices\":[{\"id\",\"key\",\"type\",\"protocol\",\"allowDirectConn\",\n"
            "                  \"alarmActiveStatus\"}]}; runs until --duration or Ctrl-C\n"
            "  --scenario FILE device-API calls and media orders, one JSON object a line\n"
            "                  ({\"device\",\"method\",\"uri\",\"body\"}, {\"device\",\"order\":\"<Message>...\"}\n"
            "                  or {\"sleep\":ms}); - reads standard input\n"
            "  --media-sink ADDR:PORT\n"
            "                  receive media streams (transport-stream packets over TCP and UDP) on\n"
            "                  ADDR:PORT (port 0: any free one); prints one JSON line per stream when it\n"
            "                  ends and a summary; runs until --duration or Ctrl-C\n"
            "  --console ADDR:PORT\n"
            "                  serve the console (a page and a JSON API) on ADDR:PORT (port 0: any free\n"
            "                  one); without --hostfile the host starts with no devices\n"
            "  --console-token T\n"
            "                  required as \"Authorization: Bearer T\" or ?token=T on every console request;\n"
            "                  needed for any address other than 127.0.0.1\n"
            "  --duration SEC  how long --hostfile or --media-sink runs (0 or none: until Ctrl-C)\n"
            "  --plugin PATH   plug-in library (default: ../lib/libVexaDev.so beside this program)\n"
            "  --help          this text\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string plugin = gwhost::defaultPluginPath();
    std::string hostFile, scenario, mediaSink;
    ConsoleArgs console;
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
        } else if (!strcmp(argv[i], "--media-sink") && i + 1 < argc) {
            mediaSink = argv[++i];
        } else if (!strcmp(argv[i], "--console") && i + 1 < argc) {
            console.where = argv[++i];
        } else if (!strcmp(argv[i], "--console-token") && i + 1 < argc) {
            console.token = argv[++i];
        } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            usage(stdout);
            return 0;
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
    if (!mediaSink.empty()) return runMediaSink(mediaSink, duration);
    if (!hostFile.empty() || !console.where.empty())
        return runHostFile(plugin, hostFile, duration, scenario, console);
    usage();
    return 2;
}
