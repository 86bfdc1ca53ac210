#include "SessionDirectory.h"

namespace vexasdk {

SessionDirectory& SessionDirectory::instance() {
    // Never destroyed: library threads may still end sessions while the process exits.
    static SessionDirectory* d = new SessionDirectory;
    return *d;
}

uint64_t SessionDirectory::add(const std::string& deviceId, const std::string& peerAddress) {
    uint64_t ended = 0, token;
    EndListener fn;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        token = m_nextToken++;
        auto it = m_live.find(deviceId);
        if (it != m_live.end()) {
            ended = it->second.token;
            it->second = Entry{token, peerAddress};
        } else {
            m_live.emplace(deviceId, Entry{token, peerAddress});
        }
        fn = m_listener;
    }
    if (ended && fn) fn(deviceId, ended);
    return token;
}

void SessionDirectory::remove(const std::string& deviceId, uint64_t token) {
    EndListener fn;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        auto it = m_live.find(deviceId);
        if (it == m_live.end() || it->second.token != token) return;
        m_live.erase(it);
        fn = m_listener;
    }
    if (fn) fn(deviceId, token);
}

SessionDirectory::Verdict SessionDirectory::check(const std::string& deviceId, const std::string& peerAddress,
                                                  bool anyAddress, uint64_t& token) const {
    std::lock_guard<std::mutex> lk(m_mu);
    auto it = m_live.find(deviceId);
    if (it == m_live.end()) return Verdict::NoSession;
    if (!anyAddress && it->second.peer != peerAddress) return Verdict::OtherAddress;
    token = it->second.token;
    return Verdict::Live;
}

void SessionDirectory::setEndListener(EndListener fn) {
    std::lock_guard<std::mutex> lk(m_mu);
    m_listener = fn;
}

}  // namespace vexasdk
