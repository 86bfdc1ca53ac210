// A host for load runs: loads libVexaDev.so as a gateway host does, starts its libraries on
// given loopback ports, adds devices by identifier range and counts their status callbacks.
#ifndef VEXA_BENCH_LOAD_HOST_H
#define VEXA_BENCH_LOAD_HOST_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "PluginHost.h"

namespace vload {

inline int64_t monoNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class LoadHost {
public:
    struct Slot {
        LoadHost* owner = nullptr;
        gwhost::DeviceTables dev;
        std::atomic<bool> online{false};
    };

    std::atomic<long> onlineNow{0}, logins{0}, logouts{0}, other{0};
    // Steady-clock times (ns, comparable across processes on this machine) of the first and the
    // last login since resetBurst().
    std::atomic<int64_t> firstLoginNs{0}, lastLoginNs{0};

    bool load(std::string& why) { return m_host.load(gwhost::defaultPluginPath(), why); }

    // Plugin_Init, the listen ports and the network-zone table (which starts the libraries).
    bool start(uint16_t regPort, uint16_t alarmPort, std::string& why) {
        if (m_host.table()->Plugin_Init() != 0) {
            why = "Plugin_Init failed";
            return false;
        }
        m_host.setConfig("InitListenPort", ("aldonV5RegPort=" + std::to_string(regPort) +
                                            ";aldonV5AlarmPort=" + std::to_string(alarmPort) + ";")
                                               .c_str());
        if (m_host.setConfig("NetZoneTableNotify",
                             "{\"accessNetInfos\":[{\"protocolType\":\"VEXA\",\"accessIp\":\"127.0.0.1\",\"id\":1}]}") !=
            0) {
            why = "libraries did not start";
            return false;
        }
        return true;
    }

    // Creates and connects prefix<first> .. prefix<first+count-1>.
    void addDevices(const std::string& prefix, long first, long count, const std::string& key) {
        for (long i = 0; i < count; ++i) {
            m_slots.emplace_back();
            Slot& s = m_slots.back();
            s.owner = this;
            m_host.createDevice(s.dev);
            s.dev.conn->SetConnStatusCallBackImpl_V2(s.dev.handle, onStatus, &s);
            const std::string p =
                "DeviceId=" + prefix + std::to_string(first + i) + ";DeviceKey=" + key + ";AllowDirectConn=1;";
            s.dev.conn->ConnectImpl_V2(s.dev.handle, p.c_str(), nullptr, nullptr);
        }
    }

    size_t size() const { return m_slots.size(); }
    Slot& slot(size_t i) { return m_slots[i]; }
    const gwhost::PluginHost& host() const { return m_host; }

    void resetBurst() {
        firstLoginNs = 0;
        lastLoginNs = 0;
    }

    // Disconnects and destroys every device, then Plugin_Fini; its result.
    uint32_t stop() {
        for (auto& s : m_slots) {
            s.dev.conn->DisConnectImpl_V2(s.dev.handle);
            m_host.table()->Plugin_DestroyDevice(s.dev.handle);
        }
        m_slots.clear();
        return m_host.table()->Plugin_Fini();
    }

    std::string portStatus() const {
        std::string s;
        m_host.portStatus(s);
        return s;
    }

private:
    static void VEXA_CALL onStatus(void*, uint32_t status, const char*, void* user) {
        Slot& s = *static_cast<Slot*>(user);
        LoadHost& h = *s.owner;
        if (status == 0) {
            h.logins++;
            if (!s.online.exchange(true)) h.onlineNow++;
            const int64_t now = monoNs();
            int64_t zero = 0;
            h.firstLoginNs.compare_exchange_strong(zero, now);
            int64_t last = h.lastLoginNs.load();
            while (last < now && !h.lastLoginNs.compare_exchange_weak(last, now)) {
            }
            return;
        }
        if (status == 10)
            h.logouts++;
        else
            h.other++;
        if (s.online.exchange(false)) h.onlineNow--;
    }

    gwhost::PluginHost m_host;
    std::deque<Slot> m_slots;  // stable addresses: the callbacks' user pointers
};

}  // namespace vload

#endif
