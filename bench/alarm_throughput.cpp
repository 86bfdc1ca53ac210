// Alarm throughput per form: texts handed to the alarm callback (as the alarm library does)
// until the host's event callback has seen every event, next to the cost of only parsing the
// same documents with the same libraries, in the same run.
//
//   alarm_throughput [--alarms 20000] [--rounds 3] [--only <part of a form name>]
//
// Next to the rates, the process's CPU time per alarm for both ways (the machine's other load
// does not enter it) and their ratio.
// Each form runs `rounds` times, both ways, in turn; the best round of each column is printed, so
// a burst of other work on the machine does not stand for the form's cost.
#include <tinyxml.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "alarm/AlarmMsgMgr.h"
#include "common/JsonUtil.h"
#include "device/VexaDeviceMgr.h"
#include "common/XmlCursor.h"
#include "devsim/AlarmTexts.h"
#include "vexadev/VexaDevPlugin.h"

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<uint64_t> g_events{0};

void VEXA_CALL onEvent(void*, const void*, const void*, uint32_t, void*) { g_events.fetch_add(1); }

struct Form {
    const char* name;
    int dataType;       // alarm record: 1 XML, 2 JSON; 0: a model-command message
    bool xml;
    std::vector<std::string> texts;
};

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double parseOnly(const Form& f, double& cpuUs) {
    const double c0 = cpuSeconds();
    const auto t0 = Clock::now();
    size_t ok = 0;
    for (const std::string& t : f.texts) {
        if (f.xml) {
            CXmlCursor cur(t);  // the classifier's first step
            TiXmlDocument doc;  // and the converter's document
            doc.Parse(t.c_str());
            ok += cur.hasRoot() && doc.RootElement();
        } else {
            Json::Value v;
            ok += vexa::parseJson(t, v);
            if (f.dataType == 0) {  // the model alarm wraps a second JSON text
                Json::Value inner;
                vexa::parseJson(v["alarm"].asString(), inner);
            }
        }
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    cpuUs = (cpuSeconds() - c0) * 1e6 / static_cast<double>(f.texts.size());
    return ok ? f.texts.size() / s : 0;
}

}  // namespace

int main(int argc, char** argv) {
    size_t n = 20000;
    int rounds = 3;
    const char* only = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--alarms")) n = static_cast<size_t>(atoll(argv[i + 1]));
        if (!strcmp(argv[i], "--rounds")) rounds = std::max(1, atoi(argv[i + 1]));
        if (!strcmp(argv[i], "--only")) only = argv[i + 1];
    }
    char dir[] = "/tmp/vexabench-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) return 1;
    std::ofstream("local_config.xml") << "<c><AlarmQueueSize>1000000</AlarmQueueSize></c>";
    const GWPluginInterface* t = GWPLUGIN_GetPluginInterface();
    t->Plugin_Init();
    void* h = nullptr;
    t->Plugin_CreateDevice(&h);
    void* tab = nullptr;
    t->Plugin_QueryInterface(h, VEXA_IF_CONNECT_V2, &tab);
    auto* conn = static_cast<const VexaIConnectV2*>(tab);
    t->Plugin_QueryInterface(h, VEXA_IF_EVENT, &tab);
    auto* ev = static_cast<const VexaIEvent*>(tab);
    conn->ConnectImpl_V2(h, "DeviceId=dev1;AlarmActiveStatus=active;", nullptr, nullptr);
    ev->SetEventCallBackImpl(h, onEvent, nullptr);

    std::vector<Form> forms = {{"device-API XML", 1, true, {}},
                               {"device-API JSON", 2, false, {}},
                               {"message envelope ALARM", 1, true, {}},
                               {"message envelope CIDREPORT", 1, true, {}},
                               {"model-command Contact ID", 0, false, {}}};
    for (size_t i = 0; i < n; ++i) {
        devsim::ApiAlarm a;
        a.time += static_cast<int64_t>(i);
        a.eventType = i % 2 ? "linedetection" : "VMD";
        forms[0].texts.push_back(devsim::apiAlarmXml(a));
        forms[1].texts.push_back(devsim::apiAlarmJson(a));
        devsim::ZornaAlarm z;
        z.sequence = static_cast<int>(i);
        forms[2].texts.push_back(devsim::zornaAlarm(z));
        devsim::CidReport c;
        c.sequence = static_cast<int>(i);
        forms[3].texts.push_back(devsim::zornaCidReport(c));
        devsim::ModelCidAlarm m;
        m.utcTime += static_cast<int64_t>(i);
        Json::Value wrap;  // what the subscription callback queues for a model-command alarm
        wrap["deviceID"] = "dev1";
        wrap["domain"] = "CIDEventMgr";
        wrap["identifier"] = "CIDEvent";
        wrap["alarmType"] = 1;
        wrap["dataType"] = 1;
        wrap["alarm"] = devsim::modelCidAlarmText(m);
        forms[4].texts.push_back(vexa::writeJson(wrap));
    }

    printf("| form | bytes | alarms/s, callback to host event | alarms/s, parsing only | ratio | CPU us per alarm, "
           "callback to host event | CPU us per alarm, parsing only | CPU cost ratio |\n");
    printf("|---|---|---|---|---|---|---|---|\n");
    CVexaDeviceMgr* mgr = CVexaDeviceMgr::instance();
    for (const Form& f : forms) {
        if (only && !strstr(f.name, only)) continue;
        double full = 0, parse = 0, fullCpu = 1e30, parseCpu = 1e30;
        bool missing = false;
        for (int r = 0; r < rounds; ++r) {
            g_events = 0;
            const double c0 = cpuSeconds();
            const auto t0 = Clock::now();
            for (const std::string& text : f.texts) {
                if (f.dataType == 0) {
                    CAlarmMsgMgr::instance()->push(text);  // as the subscription callback does
                    continue;
                }
                VEXA_ALARM_MSG msg;
                memset(&msg, 0, sizeof msg);
                msg.byAlarmType = 2;
                msg.byDataType = static_cast<uint8_t>(f.dataType);
                msg.pXmlBuf = const_cast<char*>(text.data());
                msg.dwXmlBufLen = static_cast<uint32_t>(text.size());
                CVexaDeviceMgr::pfnAlarmMsgCB(0, &msg, mgr);
            }
            while (g_events.load() < f.texts.size()) {
                if (std::chrono::duration<double>(Clock::now() - t0).count() > 120) break;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            // The waiting loop's own wake-ups are a few microseconds of the whole.
            fullCpu = std::min(fullCpu, (cpuSeconds() - c0) * 1e6 / static_cast<double>(f.texts.size()));
            missing = missing || g_events.load() < f.texts.size();
            full = std::max(full, g_events.load() / s);
            double pc = 0;
            parse = std::max(parse, parseOnly(f, pc));
            parseCpu = std::min(parseCpu, pc);
        }
        printf("| %s | %zu | %.0f | %.0f | %.2f | %.1f | %.1f | %.2f |%s\n", f.name, f.texts[0].size(), full, parse,
               parse > 0 ? full / parse : 0, fullCpu, parseCpu, parseCpu > 0 ? fullCpu / parseCpu : 0,
               missing ? " (events missing)" : "");
        fflush(stdout);
    }
    conn->DisConnectImpl_V2(h);
    t->Plugin_DestroyDevice(h);
    t->Plugin_Fini();
    return 0;
}
