#include "PluginHost.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

namespace gwhost {

PluginHost::~PluginHost() { unload(); }

bool PluginHost::load(const std::string& path, std::string& why) {
    unload();
    m_lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_lib) {
        const char* e = dlerror();
        why = e ? e : "dlopen failed";
        return false;
    }
    auto getIf = reinterpret_cast<PFN_GWPLUGIN_GetPluginInterface>(dlsym(m_lib, "GWPLUGIN_GetPluginInterface"));
    m_setConfig = reinterpret_cast<PFN_Plugin_SetConfig>(dlsym(m_lib, "Plugin_SetConfig"));
    m_getPortStatus = reinterpret_cast<PFN_Plugin_GetPortStatus>(dlsym(m_lib, "Plugin_GetPortStatus"));
    if (!getIf || !m_setConfig || !m_getPortStatus) {
        why = "missing export";
        unload();
        return false;
    }
    m_table = getIf();
    if (!m_table) {
        why = "GWPLUGIN_GetPluginInterface returned null";
        unload();
        return false;
    }
    return true;
}

void PluginHost::unload() {
    if (m_lib) dlclose(m_lib);
    m_lib = nullptr;
    m_table = nullptr;
    m_setConfig = nullptr;
    m_getPortStatus = nullptr;
}

uint32_t PluginHost::setConfig(const char* head, const char* message) const {
    return m_setConfig ? m_setConfig(head, message) : VEXA_ERR_STATE;
}

uint32_t PluginHost::portStatus(std::string& out) const {
    return m_getPortStatus ? m_getPortStatus(&out) : VEXA_ERR_STATE;
}

uint32_t PluginHost::createDevice(DeviceTables& dev) const {
    return m_table ? gwhost::createDevice(m_table, dev) : VEXA_ERR_STATE;
}

uint32_t createDevice(const GWPluginInterface* table, DeviceTables& dev) {
    dev = DeviceTables();
    uint32_t rc = table->Plugin_CreateDevice(&dev.handle);
    if (rc != 0) return rc;
    void* t = nullptr;
    if ((rc = table->Plugin_QueryInterface(dev.handle, VEXA_IF_ORDER_TRANS, &t)) != 0) return rc;
    dev.order = static_cast<const VexaIOrderTrans*>(t);
    if ((rc = table->Plugin_QueryInterface(dev.handle, VEXA_IF_EVENT, &t)) != 0) return rc;
    dev.event = static_cast<const VexaIEvent*>(t);
    if ((rc = table->Plugin_QueryInterface(dev.handle, VEXA_IF_CONNECT_V2, &t)) != 0) return rc;
    dev.conn = static_cast<const VexaIConnectV2*>(t);
    if ((rc = table->Plugin_QueryInterface(dev.handle, VEXA_IF_OVIX, &t)) != 0) return rc;
    dev.ovix = static_cast<const VexaIOVIX*>(t);
    return 0;
}

uint32_t transOrder(const DeviceTables& dev, const std::string& order, std::string& answer, size_t capacity) {
    answer.clear();
    if (!dev.order || !dev.order->TransOrderImpl) return VEXA_ERR_BAD_HANDLE;
    if (capacity == 0 || capacity > UINT32_MAX) capacity = 64 * 1024;
    std::string rsp(capacity, '\0');
    const uint32_t rc = dev.order->TransOrderImpl(dev.handle, order.c_str(), &rsp[0], static_cast<uint32_t>(capacity));
    // The plug-in writes the answer only on success; never read past the buffer either way.
    if (rc == 0) answer.assign(rsp.data(), strnlen(rsp.data(), capacity));
    return rc;
}

namespace {

// Whether a TCP port on 127.0.0.1 can be bound now (0: any port; the bound port goes to `got`).
bool bindsOnLoopback(uint16_t port, uint16_t& got) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    if (ok) got = ntohs(a.sin_port);
    close(s);
    return ok;
}

// The first port of the kernel's ephemeral range (32768 unless configured otherwise).
unsigned ephemeralLow() {
    unsigned lo = 32768, hi = 60999;
    if (FILE* f = fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (fscanf(f, "%u %u", &lo, &hi) != 2) lo = 32768;
        fclose(f);
    }
    return lo;
}

}  // namespace

uint16_t freeLoopbackPort() {
    // Below the ephemeral range: a port found free there cannot be taken, before the caller
    // listens on it, by an outgoing connection of another test running at the same time.
    static constexpr unsigned kFirst = 10000;
    const unsigned lo = ephemeralLow();
    uint16_t got = 0;
    if (lo > kFirst + 1000) {
        std::random_device rd;
        std::mt19937 pick(rd() ^ static_cast<unsigned>(getpid()));
        std::uniform_int_distribution<unsigned> in(kFirst, lo - 1);
        for (int i = 0; i < 64; ++i)
            if (bindsOnLoopback(static_cast<uint16_t>(in(pick)), got)) return got;
    }
    return bindsOnLoopback(0, got) ? got : 0;
}

std::string defaultPluginPath() {
    char exe[PATH_MAX] = {0};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "libVexaDev.so";
    std::string dir(exe, static_cast<size_t>(n));
    dir = dir.substr(0, dir.rfind('/'));
    return dir.substr(0, dir.rfind('/')) + "/lib/libVexaDev.so";
}

}  // namespace gwhost
