#include "Console.h"

#include <httplib.h>

#include <cstdio>
#include <cstring>

namespace gwhost {

extern const ConsoleAsset kConsoleAssets[];
extern const size_t kConsoleAssetCount;

const ConsoleAsset* findConsoleAsset(const std::string& path) {
    for (size_t i = 0; i < kConsoleAssetCount; ++i)
        if (path == kConsoleAssets[i].path) return &kConsoleAssets[i];
    return nullptr;
}

namespace {

std::string compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["emitUTF8"] = true;
    return Json::writeString(b, v);
}

// A request body as a JSON object; false when it is not one.
bool parseObject(const std::string& text, Json::Value& out) {
    Json::CharReaderBuilder b;
    b["stackLimit"] = 64;
    std::unique_ptr<Json::CharReader> r(b.newCharReader());
    std::string errs;
    try {
        return r->parse(text.data(), text.data() + text.size(), &out, &errs) && out.isObject();
    } catch (const Json::Exception&) {
        return false;
    }
}

std::string member(const Json::Value& o, const char* k) {
    const Json::Value* m = o.find(k, k + strlen(k));
    return m && m->isString() ? m->asString() : std::string();
}

void reply(httplib::Response& res, int status, const Json::Value& body) {
    res.status = status;
    res.set_content(compact(body), "application/json");
}

void fail(httplib::Response& res, int status, const std::string& text) {
    Json::Value v;
    v["error"] = text;
    reply(res, status, v);
}

bool sameText(const std::string& given, const std::string& token) {
    // Every byte of the token is looked at, so the time taken does not tell how much matched.
    unsigned diff = given.size() == token.size() ? 0u : 1u;
    for (size_t i = 0; i < token.size(); ++i)
        diff |= static_cast<unsigned char>(i < given.size() ? given[i] : 0) ^ static_cast<unsigned char>(token[i]);
    return diff == 0 && !token.empty();
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Console::Console(ConsoleHost& host, Options options)
    : m_host(host), m_options(std::move(options)), m_ring(m_options.ringSize) {}

Console::~Console() { stop(); }

bool Console::start(std::string& why) {
    if (m_options.address != "127.0.0.1" && m_options.token.empty()) {
        why = "a console on " + m_options.address + " needs --console-token";
        return false;
    }
    m_server = std::make_unique<httplib::Server>();
    const size_t threads = m_options.maxStreams + 8;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    m_server->set_payload_max_length(m_options.maxBody);
    m_server->set_write_timeout(m_options.writeTimeoutSec, 0);
    m_server->set_keep_alive_timeout(2);
    routes();
    const int port = m_options.port ? (m_server->bind_to_port(m_options.address.c_str(), m_options.port) ? m_options.port : -1)
                                    : m_server->bind_to_any_port(m_options.address.c_str());
    if (port <= 0) {
        why = "cannot listen on " + m_options.address + ":" + std::to_string(m_options.port);
        m_server.reset();
        return false;
    }
    m_port = static_cast<uint16_t>(port);
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // A stop before the server runs would not reach it; it is up within moments of the bind.
    for (int i = 0; i < 500 && !m_server->is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
}

void Console::stop() {
    if (!m_server) return;
    m_stopping = true;
    m_ring.close();
    m_server->stop();
    if (m_thread.joinable()) m_thread.join();
    m_server.reset();
}

void Console::publish(const std::string& kind, const std::string& json) {
    if (kind == "alarm") m_stats.alarm();
    m_ring.push(kind, json);
}

bool Console::authorized(const std::string& header, const std::string& query) const {
    if (m_options.token.empty()) return true;
    static const std::string bearer = "Bearer ";
    if (header.compare(0, bearer.size(), bearer) == 0 && sameText(header.substr(bearer.size()), m_options.token))
        return true;
    return sameText(query, m_options.token);
}

void Console::badInput(const std::string& peer, const std::string& what) {
    constexpr uint32_t kBurst = 5;
    constexpr int64_t kWindowMs = 10000;
    const int64_t now = nowMs();
    uint64_t held = 0;
    {
        std::lock_guard<std::mutex> lk(m_logMx);
        if (m_logSlots.size() > 4096) m_logSlots.clear();
        LogSlot& slot = m_logSlots[peer];
        if (now - slot.windowStart >= kWindowMs) {
            slot.windowStart = now;
            slot.used = 0;
        }
        if (slot.used >= kBurst) {
            ++slot.held;
            return;
        }
        ++slot.used;
        held = slot.held;
        slot.held = 0;
    }
    if (held)
        fprintf(stderr, "gwhost console: %s: %s (%llu similar lines held back)\n", peer.c_str(), what.c_str(),
                static_cast<unsigned long long>(held));
    else
        fprintf(stderr, "gwhost console: %s: %s\n", peer.c_str(), what.c_str());
}

std::string Console::metrics() const {
    const Json::Value s = m_stats.snapshot();
    size_t online = 0, total = 0;
    for (const ConsoleDevice& d : m_host.devices()) {
        ++total;
        online += d.status == 0 ? 1 : 0;
    }
    std::string out;
    auto metric = [&](const char* name, const char* type, const char* help, const std::string& value,
                      const char* labels = "") {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
        out += std::string(name) + labels + " " + value + "\n";
    };
    metric("gwhost_alarms_total", "counter", "Alarm events the host received.", s["alarms"].asString());
    metric("gwhost_requests_total", "counter", "Device-API requests sent from the console.", s["requests"].asString());
    metric("gwhost_request_errors_total", "counter", "Console requests that did not succeed.",
           s["requestErrors"].asString());
    out += "# HELP gwhost_request_latency_milliseconds Round trip of the latest console requests.\n"
           "# TYPE gwhost_request_latency_milliseconds gauge\n";
    for (const char* q : {"50", "90", "99"}) {
        char line[128];
        snprintf(line, sizeof line, "gwhost_request_latency_milliseconds{quantile=\"0.%s\"} %.3f\n", q,
                 s["latencyMs"][std::string("p") + q].asDouble());
        out += line;
    }
    metric("gwhost_devices", "gauge", "Devices the host created.", std::to_string(total));
    metric("gwhost_devices_online", "gauge", "Devices on line.", std::to_string(online));
    metric("gwhost_event_streams", "gauge", "Browsers following the event stream.", std::to_string(m_streams.load()));
    metric("gwhost_event_readers_dropped_total", "counter", "Event-stream readers dropped for falling behind.",
           std::to_string(m_droppedReaders.load()));
    return out;
}

void Console::routes() {
    httplib::Server& s = *m_server;
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (authorized(req.get_header_value("Authorization"), req.get_param_value("token")))
            return httplib::Server::HandlerResponse::Unhandled;
        badInput(req.remote_addr, "request without the console token");
        fail(res, 401, "the console token is missing or wrong");
        return httplib::Server::HandlerResponse::Handled;
    });
    s.set_error_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (res.status == 413) badInput(req.remote_addr, "body over " + std::to_string(m_options.maxBody) + " bytes");
        if (!res.body.empty()) return;
        fail(res, res.status, res.status == 413 ? "body too large" : res.status == 404 ? "not found" : "bad request");
    });

    auto asset = [](const std::string& path) {
        return [path](const httplib::Request&, httplib::Response& res) {
            const ConsoleAsset* a = findConsoleAsset(path);
            if (!a) return fail(res, 404, "not found");
            res.set_content(reinterpret_cast<const char*>(a->data), a->size, a->type);
            res.set_header("Cache-Control", "no-store");
        };
    };
    s.Get("/", asset("index.html"));
    s.Get("/index.html", asset("index.html"));
    s.Get("/console.css", asset("console.css"));
    s.Get("/console.js", asset("console.js"));

    s.Get("/api/devices", [this](const httplib::Request&, httplib::Response& res) {
        Json::Value list(Json::arrayValue);
        for (const ConsoleDevice& d : m_host.devices()) {
            Json::Value v;
            v["id"] = d.id;
            v["type"] = d.type;
            v["protocol"] = d.protocol;
            v["serial"] = d.serial;
            v["address"] = d.address;
            v["status"] = static_cast<Json::Int64>(d.status);
            v["statusText"] = d.statusText;
            v["onlineSeconds"] = d.onlineSeconds;
            v["camera"] = d.camera;
            list.append(v);
        }
        Json::Value out;
        out["devices"] = list;
        out["running"] = m_host.running();
        reply(res, 200, out);
    });

    s.Post("/api/devices", [this](const httplib::Request& req, httplib::Response& res) {
        Json::Value wanted;
        if (!parseObject(req.body, wanted)) {
            badInput(req.remote_addr, "device to add is not a JSON object");
            return fail(res, 400, "body is not a JSON object");
        }
        if (!m_host.running()) return fail(res, 503, "the plug-in is stopped");
        if (member(wanted, "id").empty()) return fail(res, 400, "\"id\" is missing");
        if (m_host.hasDevice(member(wanted, "id"))) return fail(res, 409, "a device with this id exists");
        const ConsoleReply r = m_host.addDevice(wanted);
        reply(res, r.status, r.body);
    });

    s.Delete(R"(/api/devices/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string id = req.matches[1];
        if (!m_host.running()) return fail(res, 503, "the plug-in is stopped");
        if (!m_host.hasDevice(id)) return fail(res, 404, "unknown device");
        const ConsoleReply r = m_host.removeDevice(id);
        reply(res, r.status, r.body);
    });

    s.Post("/api/request", [this](const httplib::Request& req, httplib::Response& res) {
        Json::Value q;
        if (!parseObject(req.body, q)) {
            badInput(req.remote_addr, "request is not a JSON object");
            return fail(res, 400, "body is not a JSON object");
        }
        if (!m_host.running()) return fail(res, 503, "the plug-in is stopped");
        const std::string id = member(q, "device"), method = member(q, "method"), uri = member(q, "uri");
        if (method.empty() || uri.empty()) return fail(res, 400, "\"method\" and \"uri\" are needed");
        if (!m_host.hasDevice(id)) return fail(res, 404, "unknown device");
        const Json::Value& b = q["body"];
        const std::string body = b.isString() ? b.asString() : b.isNull() ? std::string() : compact(b);
        bool ok = false;
        const auto t0 = std::chrono::steady_clock::now();
        ConsoleReply r = m_host.request(id, method, uri, body, ok);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        m_stats.request(ms, ok);
        r.body["rttMs"] = ms;
        reply(res, r.status, r.body);
    });

    auto live = [this](const httplib::Request& req, httplib::Response& res) {
        const std::string id = req.matches[1];
        std::string action = "status";
        if (req.method == "POST") {
            Json::Value q;
            if (!req.body.empty() && !parseObject(req.body, q)) {
                badInput(req.remote_addr, "live-view order is not a JSON object");
                return fail(res, 400, "body is not a JSON object");
            }
            action = member(q, "action").empty() ? "start" : member(q, "action");
            if (action != "start" && action != "stop") return fail(res, 400, "\"action\" is start or stop");
        }
        if (!m_host.running()) return fail(res, 503, "the plug-in is stopped");
        if (!m_host.hasDevice(id)) return fail(res, 404, "unknown device");
        const ConsoleReply r = m_host.live(id, action);
        reply(res, r.status, r.body);
    };
    s.Post(R"(/api/live/([^/]+))", live);
    s.Get(R"(/api/live/([^/]+))", live);

    s.Get("/api/stats", [this](const httplib::Request&, httplib::Response& res) {
        Json::Value v = m_stats.snapshot();
        v["eventStreams"] = static_cast<Json::UInt64>(m_streams.load());
        v["events"] = static_cast<Json::UInt64>(m_ring.last());
        v["running"] = m_host.running();
        reply(res, 200, v);
    });

    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(metrics(), "text/plain; version=0.0.4");
    });

    s.Get("/events", [this](const httplib::Request& req, httplib::Response& res) {
        if (m_streams.fetch_add(1) >= m_options.maxStreams) {
            m_streams--;
            return fail(res, 503, "too many event streams");
        }
        // A reader starts with the recent history unless it says where it left off.
        const uint64_t last = m_ring.last();
        uint64_t cursor = last > 200 ? last - 200 : 0;
        const std::string from =
            req.has_header("Last-Event-ID") ? req.get_header_value("Last-Event-ID") : req.get_param_value("after");
        if (!from.empty() && from.size() < 20 && from.find_first_not_of("0123456789") == std::string::npos)
            cursor = std::min<uint64_t>(std::stoull(from), last);
        auto pos = std::make_shared<uint64_t>(cursor);
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, pos](size_t, httplib::DataSink& sink) {
                if (m_stopping) return false;
                bool lost = false;
                const auto batch = m_ring.since(*pos, 64, lost);
                if (lost) {  // fell behind the ring: dropped, it reconnects and starts afresh
                    m_droppedReaders++;
                    return false;
                }
                if (batch.empty()) {
                    if (m_ring.wait(*pos, std::chrono::milliseconds(1000))) return true;
                    static const char keep[] = ": keep-alive\n\n";
                    return !m_stopping && sink.write(keep, sizeof keep - 1);
                }
                std::string out;
                for (const auto& e : batch) {
                    out += "id: " + std::to_string(e.seq) + "\ndata: " + e.json + "\n\n";
                    *pos = e.seq;
                }
                return sink.write(out.data(), out.size());
            },
            [this](bool) { m_streams--; });
    });
}

}  // namespace gwhost
