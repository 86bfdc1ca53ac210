// devsim: runs many simulated devices against a gateway and reports each state change as a
// JSON line on stdout, then one summary line.
#include "devsim/Equipment.h"
#include "devsim/Simulator.h"

#include <json/json.h>

#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

const char* kUsage =
    "usage: devsim --cms-port P [options]\n"
    "  --host ADDR            gateway address (127.0.0.1)\n"
    "  --cms-port P           registration port (required)\n"
    "  --ams-port Q           alarm port (needed with --alarm-rate)\n"
    "  --count N              number of devices (1)\n"
    "  --id-prefix S          device identifier prefix (dev)\n"
    "  --start-index I        first running number (1)\n"
    "  --key K                device key (12345678)\n"
    "  --family vexa|aldonv5  device family (vexa)\n"
    "  --proto N              protocol version sent in hello (family default)\n"
    "  --das ADDR:PORT        send an address request first\n"
    "  --heartbeat-sec S      heartbeat interval (loginAck keepAliveSec)\n"
    "  --duration SEC         run time; without it, run until SIGINT/SIGTERM\n"
    "  --logout-after SEC     log out that long after login\n"
    "  --vanish-after SEC     drop the connection that long after login\n"
    "  --wrong-key            prove with a wrong key\n"
    "  --no-heartbeat         never send heartbeats\n"
    "  --silent               connect and say nothing\n"
    "  --malformed KIND       send a bad frame instead of hello: zero, over, notjson, array, notype\n"
    "  --slow                 write one byte at a time\n"
    "  --reconnect            reconnect when a session ends or its connection closes\n"
    "  --reconnect-delay SEC  wait before reconnecting (1)\n"
    "  --login-rate N         start at most N devices a second (all at once)\n"
    "  --alarm-rate N         after login, connect the alarm port and push N alarms/s per device\n"
    "  --threads N            I/O threads (1)\n"
    "  --equipment KIND       what answers requests: panel, camera, recorder or none\n"
    "                         (panel for vexa, camera for aldonv5; none: plain OK answers)\n"
    "  --subsystems N         panel subsystems (4)\n"
    "  --zones N              panel zones (8)\n"
    "  --video-bitrate BPS    camera/recorder live and record streams, bits/s (2000000)\n"
    "  --voice-bitrate BPS    voice-talk streams, bits/s (64000)\n"
    "  --allow-remote-media   stream to media servers that are not on a loopback address\n"
    "  --recording-days N     days of recordings kept by cameras and recorders (3 / 7)\n"
    "  --no-std-search        cameras answer isSupportTimeTypeSTD false (device-local search)\n";

std::mutex g_outMx;
std::condition_variable g_printedCv;
std::map<const devsim::Device*, devsim::State> g_printed;  // last state line per device

void printLine(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    const std::string s = Json::writeString(b, v);
    std::lock_guard<std::mutex> lk(g_outMx);
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool parseUInt(const char* s, unsigned long max, unsigned long& out) {
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(s, &end, 10);
    if (errno || *end || s[0] == '-' || v > max) return false;
    out = v;
    return true;
}

bool parseSeconds(const char* s, double& out) {
    if (!s || !*s) return false;
    char* end = nullptr;
    const double v = std::strtod(s, &end);
    if (*end || !std::isfinite(v) || v < 0 || v > 10 * 365 * 86400.0) return false;
    out = v;
    return true;
}

std::chrono::milliseconds ms(double sec) { return std::chrono::milliseconds(static_cast<int64_t>(sec * 1000.0)); }

int usage(const std::string& why) {
    std::fprintf(stderr, "devsim: %s\n%s", why.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    devsim::DeviceConfig base;
    base.key = "12345678";
    std::string prefix = "dev";
    unsigned long count = 1, startIndex = 1, threads = 1;
    double duration = -1, alarmRate = 0, loginRate = 0;
    bool haveCms = false;
    std::string equipment;
    devsim::PanelOptions panel;
    unsigned long videoBitRate = 0, voiceBitRate = 0, recordingDays = 0;
    bool haveDays = false, allowRemoteMedia = false, noStdSearch = false;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto val = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        unsigned long u = 0;
        double d = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--host") {
            const char* v = val();
            if (!v || !*v) return usage("--host needs a value");
            base.host = v;
        } else if (a == "--cms-port") {
            if (!parseUInt(val(), 65535, u) || u == 0) return usage("bad --cms-port");
            base.cmsPort = static_cast<uint16_t>(u);
            haveCms = true;
        } else if (a == "--ams-port") {
            if (!parseUInt(val(), 65535, u) || u == 0) return usage("bad --ams-port");
            base.amsPort = static_cast<uint16_t>(u);
        } else if (a == "--count") {
            if (!parseUInt(val(), 100000, count) || count == 0) return usage("bad --count");
        } else if (a == "--id-prefix") {
            const char* v = val();
            if (!v) return usage("--id-prefix needs a value");
            prefix = v;
        } else if (a == "--start-index") {
            if (!parseUInt(val(), 4000000000UL, startIndex)) return usage("bad --start-index");
        } else if (a == "--key") {
            const char* v = val();
            if (!v) return usage("--key needs a value");
            base.key = v;
        } else if (a == "--family") {
            const char* v = val();
            const std::string f = v ? v : "";
            if (f == "vexa")
                base.family = devsim::Family::Vexa;
            else if (f == "aldonv5")
                base.family = devsim::Family::AldonV5;
            else
                return usage("bad --family");
        } else if (a == "--proto") {
            if (!parseUInt(val(), 1000000, u)) return usage("bad --proto");
            base.protocolVersion = static_cast<int>(u);
        } else if (a == "--das") {
            const char* v = val();
            const std::string s = v ? v : "";
            const auto colon = s.rfind(':');
            if (colon == std::string::npos || colon == 0 || !parseUInt(s.c_str() + colon + 1, 65535, u))
                return usage("bad --das (ADDR:PORT)");
            base.dasRequest = true;
            base.dasServerAddress = s.substr(0, colon);
            base.dasServerPort = static_cast<uint16_t>(u);
        } else if (a == "--heartbeat-sec") {
            if (!parseSeconds(val(), d) || d <= 0) return usage("bad --heartbeat-sec");
            base.heartbeatInterval = ms(d);
        } else if (a == "--duration") {
            if (!parseSeconds(val(), duration)) return usage("bad --duration");
        } else if (a == "--logout-after") {
            if (!parseSeconds(val(), d) || d <= 0) return usage("bad --logout-after");
            base.logoutAfter = ms(d);
        } else if (a == "--vanish-after") {
            if (!parseSeconds(val(), d) || d <= 0) return usage("bad --vanish-after");
            base.vanishAfter = ms(d);
        } else if (a == "--wrong-key") {
            base.wrongKey = true;
        } else if (a == "--no-heartbeat") {
            base.noHeartbeat = true;
        } else if (a == "--silent") {
            base.silent = true;
        } else if (a == "--malformed") {
            const char* v = val();
            if (!v || !devsim::parseMalformed(v, base.malformed) || base.malformed == devsim::Malformed::None)
                return usage("bad --malformed");
        } else if (a == "--slow") {
            base.slowWriter = true;
        } else if (a == "--reconnect") {
            base.autoReconnect = true;
        } else if (a == "--reconnect-delay") {
            if (!parseSeconds(val(), d)) return usage("bad --reconnect-delay");
            base.reconnectDelay = ms(d);
        } else if (a == "--login-rate") {
            if (!parseSeconds(val(), loginRate) || loginRate <= 0) return usage("bad --login-rate");
        } else if (a == "--alarm-rate") {
            if (!parseSeconds(val(), alarmRate)) return usage("bad --alarm-rate");
        } else if (a == "--equipment") {
            const char* v = val();
            equipment = v ? v : "";
            if (equipment != "panel" && equipment != "camera" && equipment != "recorder" && equipment != "none")
                return usage("bad --equipment");
        } else if (a == "--subsystems") {
            if (!parseUInt(val(), 256, u) || u == 0) return usage("bad --subsystems");
            panel.subsystems = static_cast<int>(u);
        } else if (a == "--zones") {
            if (!parseUInt(val(), 4096, u)) return usage("bad --zones");
            panel.zones = static_cast<int>(u);
        } else if (a == "--video-bitrate") {
            if (!parseUInt(val(), 1000000000UL, videoBitRate) || videoBitRate < 1504) return usage("bad --video-bitrate");
        } else if (a == "--voice-bitrate") {
            if (!parseUInt(val(), 1000000000UL, voiceBitRate) || voiceBitRate < 1504) return usage("bad --voice-bitrate");
        } else if (a == "--allow-remote-media") {
            allowRemoteMedia = true;
        } else if (a == "--recording-days") {
            if (!parseUInt(val(), 3650, recordingDays)) return usage("bad --recording-days");
            haveDays = true;
        } else if (a == "--no-std-search") {
            noStdSearch = true;
        } else if (a == "--threads") {
            if (!parseUInt(val(), 64, threads) || threads == 0) return usage("bad --threads");
        } else {
            return usage("unknown option " + a);
        }
    }
    if (!haveCms) return usage("--cms-port is required");
    if (alarmRate > 0 && base.amsPort == 0) return usage("--alarm-rate needs --ams-port");

    const uint64_t files = devsim::raiseFileLimit();
    if (files < count * 2 + 64)
        std::fprintf(stderr, "devsim: warning: open-file limit %llu may be too low for %lu devices\n",
                     static_cast<unsigned long long>(files), count);

    // Signals are taken by this thread only; the I/O threads inherit the mask.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const auto runFor = duration >= 0 ? ms(duration) : std::chrono::milliseconds(0);
    const auto started = std::chrono::steady_clock::now();
    {
        devsim::Simulator sim(static_cast<unsigned>(threads));
        sim.setStateListener([&](devsim::Device& dev, devsim::State s, const devsim::DeviceStatus& st) {
            Json::Value v(Json::objectValue);
            v["deviceId"] = dev.id();
            v["state"] = devsim::stateName(s);
            if (s == devsim::State::LoggedIn) {
                v["userHandle"] = static_cast<Json::Int64>(st.userHandle);
                v["keepAliveSec"] = st.loginAck.get("keepAliveSec", Json::Value()).isInt()
                                        ? st.loginAck["keepAliveSec"].asInt()
                                        : 0;
                if (!st.sessionKey.empty()) v["sessionKey"] = st.sessionKey;
                if (!st.dasAnswer.isNull()) v["dasAnswer"] = st.dasAnswer;
            }
            if (s == devsim::State::Refused) v["reason"] = st.refusal;
            if (s == devsim::State::Closed && !st.closeWhy.empty()) v["why"] = st.closeWhy;
            printLine(v);
            {
                std::lock_guard<std::mutex> lk(g_outMx);
                g_printed[&dev] = s;
            }
            g_printedCv.notify_all();
            if (s == devsim::State::LoggedIn && alarmRate > 0) {
                dev.connectAlarm();
                std::chrono::milliseconds left = std::chrono::hours(24 * 365);
                if (duration >= 0)
                    left = runFor - std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - started);
                dev.startAlarmRate(alarmRate, left, 2, 1, std::string());  // mixed forms
            }
        });
        auto devs = sim.addDevices(base, prefix, static_cast<unsigned>(startIndex), static_cast<unsigned>(count));
        // One model per device: each keeps its own state.
        if (equipment.empty()) equipment = base.family == devsim::Family::Vexa ? "panel" : "camera";
        for (auto& d : devs) {
            if (equipment == "panel") {
                d->setHandler(devsim::makePanel(panel)->handler());
            } else if (equipment == "camera" || equipment == "recorder") {
                auto o = equipment == "camera" ? devsim::cameraDefaults() : devsim::recorderDefaults();
                o.deviceId = d->id();
                if (videoBitRate) o.videoBitRate = videoBitRate;
                if (voiceBitRate) o.voiceBitRate = voiceBitRate;
                if (haveDays) o.recordingDays = static_cast<int>(recordingDays);
                if (noStdSearch) o.timeTypeSTD = "false";
                o.allowRemoteMedia = allowRemoteMedia;
                d->setHandler(devsim::makeCamera(o)->handler());
            }
        }
        bool interrupted = false;
        if (loginRate > 0) {
            // Paced starts; a stop signal ends the pacing (it is taken again below).
            const auto t0 = std::chrono::steady_clock::now();
            for (size_t i = 0; i < devs.size(); ++i) {
                std::this_thread::sleep_until(t0 + std::chrono::microseconds(static_cast<int64_t>(i * 1e6 / loginRate)));
                sigset_t pending;
                if (i % 64 == 0 && sigpending(&pending) == 0 &&
                    (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1))
                    break;
                devs[i]->start();
            }
        } else {
            sim.startAll();
        }

        if (duration >= 0) {
            struct timespec ts;
            ts.tv_sec = static_cast<time_t>(runFor.count() / 1000);
            ts.tv_nsec = static_cast<long>((runFor.count() % 1000) * 1000000L);
            for (;;) {
                const int r = sigtimedwait(&sigs, nullptr, &ts);
                if (r > 0) interrupted = true;
                if (r > 0 || errno == EAGAIN) break;
                // EINTR: wait for what is left.
                const auto el = std::chrono::steady_clock::now() - started;
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(runFor - el);
                if (left.count() <= 0) break;
                ts.tv_sec = static_cast<time_t>(left.count() / 1000);
                ts.tv_nsec = static_cast<long>((left.count() % 1000) * 1000000L);
            }
        } else {
            int sig = 0;
            sigwait(&sigs, &sig);
            interrupted = true;
        }

        // Leave politely: devices still logged in log out.
        for (auto& d : devs)
            if (d->state() == devsim::State::LoggedIn) d->logout();
        // Wait for the state lines, not only the states, so none comes after the summary.
        {
            std::unique_lock<std::mutex> lk(g_outMx);
            g_printedCv.wait_for(lk, std::chrono::seconds(5), [] {
                for (const auto& kv : g_printed)
                    if (kv.second == devsim::State::LoggedIn) return false;
                return true;
            });
        }

        Json::Value sum(Json::objectValue);
        sum["summary"] = true;
        sum["devices"] = static_cast<Json::UInt64>(devs.size());
        sum["interrupted"] = interrupted;
        Json::Value reached(Json::objectValue), final(Json::objectValue), reasons(Json::objectValue);
        uint64_t hbSent = 0, hbAcked = 0, req = 0, ans = 0, alarms = 0, acks = 0, logins = 0;
        std::map<std::string, uint64_t> why;
        for (auto& d : devs) {
            const auto st = d->status();
            hbSent += st.heartbeatsSent;
            hbAcked += st.heartbeatsAcked;
            req += st.requests;
            ans += st.answersSent;
            alarms += st.alarmsSent;
            acks += st.alarmAcks;
            logins += st.logins;
            if (!st.refusal.empty()) why[st.refusal]++;
        }
        for (int i = 0; i < devsim::kStateCount; ++i) {
            const auto s = static_cast<devsim::State>(i);
            reached[devsim::stateName(s)] = static_cast<Json::UInt64>(sim.countReached(s));
            final[devsim::stateName(s)] = static_cast<Json::UInt64>(sim.countIn(s));
        }
        for (const auto& kv : why) reasons[kv.first] = static_cast<Json::UInt64>(kv.second);
        sum["logins"] = static_cast<Json::UInt64>(logins);
        sum["reached"] = reached;
        sum["final"] = final;
        sum["refusals"] = reasons;
        sum["heartbeatsSent"] = static_cast<Json::UInt64>(hbSent);
        sum["heartbeatsAcked"] = static_cast<Json::UInt64>(hbAcked);
        sum["requests"] = static_cast<Json::UInt64>(req);
        sum["answers"] = static_cast<Json::UInt64>(ans);
        sum["alarmsSent"] = static_cast<Json::UInt64>(alarms);
        sum["alarmAcks"] = static_cast<Json::UInt64>(acks);
        // No more state lines after the summary.
        sim.setStateListener(nullptr);
        printLine(sum);
    }
    return 0;
}
