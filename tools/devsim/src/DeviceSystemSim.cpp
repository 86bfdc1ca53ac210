#include "DeviceSystemSim.h"

#include <tinyxml.h>

#include <cctype>
#include <cstdlib>

#include "WireNames.h"

namespace devsim {

namespace {

constexpr const char* kSchema = "http://www.vexadev.local/ver20/XMLSchema";
constexpr size_t kMaxBody = 64 * 1024;
const std::string kBase = "/OVIX/System/Network/interfaces";

std::string str(const Json::Value& v, const char* name) {
    const Json::Value* m = v.isObject() ? v.find(name, name + std::char_traits<char>::length(name)) : nullptr;
    return m && m->isString() ? m->asString() : std::string();
}

std::string esc(const std::string& s) {
    std::string o;
    for (char c : s) {
        switch (c) {
            case '<': o += "&lt;"; break;
            case '>': o += "&gt;"; break;
            case '&': o += "&amp;"; break;
            case '"': o += "&quot;"; break;
            default: o += c;
        }
    }
    return o;
}

std::string el(const char* name, const std::string& text) {
    return std::string("<") + name + ">" + esc(text) + "</" + name + ">\n";
}

std::string open(const char* name) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<") + name + " version=\"2.0\" xmlns=\"" +
           kSchema + "\">\n";
}

// Direct child text; false when absent.
bool child(const TiXmlElement* e, const char* name, std::string& out) {
    const TiXmlElement* c = e ? e->FirstChildElement(name) : nullptr;
    if (!c) return false;
    out = c->GetText() ? c->GetText() : "";
    return true;
}

bool ipv4(const std::string& s) {
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        size_t n = 0;
        int v = 0;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && n < 3) v = v * 10 + (s[i++] - '0'), ++n;
        if (n == 0 || v > 255) return false;
        if (++parts < 4 && (i >= s.size() || s[i++] != '.')) return false;
    }
    return i == s.size();
}

std::string ipAddressXml(const NetworkInterfaceState& n, bool root) {
    std::string x = root ? open("IPAddress") : "<IPAddress>\n";
    x += el("ipVersion", "v4") + el("addressingType", n.addressingType) + el("ipAddress", n.ipAddress) +
         el("subnetMask", n.subnetMask) + "<DefaultGateway>\n" + el("ipAddress", n.gateway) + "</DefaultGateway>\n";
    return x + "</IPAddress>\n";
}

std::string interfaceXml(const NetworkInterfaceState& n, bool root) {
    std::string x = root ? open("NetworkInterface") : "<NetworkInterface>\n";
    x += el("id", std::to_string(n.id)) + ipAddressXml(n, false) + "<Link>\n" + el("MACAddress", n.macAddress) +
         el("MTU", std::to_string(n.mtu)) + "</Link>\n";
    return x + "</NetworkInterface>\n";
}

// Applies an IPAddress element to a copy; false when a value is not acceptable.
bool applyAddress(const TiXmlElement* a, NetworkInterfaceState& n) {
    std::string v;
    if (child(a, "addressingType", v)) {
        if (v != "static" && v != "dynamic") return false;
        n.addressingType = v;
    }
    if (child(a, "ipAddress", v)) {
        if (!ipv4(v)) return false;
        n.ipAddress = v;
    }
    if (child(a, "subnetMask", v)) {
        if (!ipv4(v)) return false;
        n.subnetMask = v;
    }
    if (child(a ? a->FirstChildElement("DefaultGateway") : nullptr, "ipAddress", v)) {
        if (!ipv4(v)) return false;
        n.gateway = v;
    }
    return true;
}

}  // namespace

Answer ferroRequest(const Json::Value& request, std::chrono::milliseconds restartAfter) {
    const std::string command = str(request, "command");
    Json::Value m(Json::objectValue);
    bool ok = command == "REBOOT";
    if (command == "UPDATE") {
        const std::string body = str(request, "body");
        TiXmlDocument doc;
        if (body.size() < kMaxBody) doc.Parse(body.c_str(), nullptr, TIXML_ENCODING_UTF8);
        const TiXmlElement* root = doc.Error() ? nullptr : doc.RootElement();
        const TiXmlElement* params = root ? root->FirstChildElement("Params") : nullptr;
        std::string ip, port, account, password, file;
        ok = child(params, "FTPServerIP", ip) && ipv4(ip) && child(params, "FTPServerPort", port) &&
             std::atoi(port.c_str()) > 0 && child(params, "Account", account) && !account.empty() &&
             child(params, "Password", password) && !password.empty() && child(params, "File", file) && !file.empty();
    }
    m["data"] = ok ? "{\"status\":200,\"data\":{}}" : "{\"status\":400,\"code\":\"0x60000001\"}";
    Answer a = Answer::with(std::move(m));
    if (ok) a.restartAfter = restartAfter;
    return a;
}

std::vector<NetworkInterfaceState> CameraModel::networkInterfaces() const {
    std::lock_guard<std::mutex> lk(m_mx);
    return m_opt.interfaces;
}

bool isNetworkPath(const std::string& path) {
    return path.compare(0, kBase.size(), kBase) == 0 && (path.size() == kBase.size() || path[kBase.size()] == '/');
}

std::string networkRequest(std::vector<NetworkInterfaceState>& interfaces, const std::string& method,
                           const std::string& path, const std::string& body,
                           const std::function<std::string(int, const char*)>& status) {
    const bool get = method == "GET", put = method == "PUT";
    if (path == kBase) {
        if (!get) return status(4, "methodNotAllowed");
        std::string x = open("NetworkInterfaceList");
        for (const auto& n : interfaces) x += interfaceXml(n, false);
        return x + "</NetworkInterfaceList>\n";
    }
    const std::string rest = path.substr(kBase.size() + 1);
    const size_t slash = rest.find('/');
    const std::string idText = rest.substr(0, slash), tail = slash == std::string::npos ? "" : rest.substr(slash);
    if (idText.empty() || idText.size() > 3 || idText.find_first_not_of("0123456789") != std::string::npos)
        return status(6, "invalidID");
    NetworkInterfaceState* n = nullptr;
    for (auto& i : interfaces)
        if (i.id == std::atoi(idText.c_str())) n = &i;
    if (!n) return status(6, "invalidID");
    if (tail != "" && tail != "/ipAddress") return status(4, "notSupport");
    const bool address = tail == "/ipAddress";
    if (get) return address ? ipAddressXml(*n, true) : interfaceXml(*n, true);
    if (!put) return status(4, "methodNotAllowed");
    TiXmlDocument doc;
    if (body.size() < kMaxBody) doc.Parse(body.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* root = doc.Error() ? nullptr : doc.RootElement();
    if (!root || root->ValueStr() != (address ? "IPAddress" : "NetworkInterface")) return status(6, "badXmlContent");
    NetworkInterfaceState copy = *n;
    const TiXmlElement* a = address ? root : root->FirstChildElement("IPAddress");
    if (a && !applyAddress(a, copy)) return status(6, "badParameters");
    std::string mtu;
    if (!address && child(root->FirstChildElement("Link"), "MTU", mtu)) {
        const int v = std::atoi(mtu.c_str());
        if (v < 576 || v > 9000) return status(6, "badParameters");
        copy.mtu = v;
    }
    *n = copy;
    return status(1, "ok");
}

}  // namespace devsim
