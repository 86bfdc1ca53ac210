#include "common/ConfigCenter.h"

#include <fcntl.h>
#include <tinyxml.h>
#include <unistd.h>

#include <cerrno>

#include "common/Bounded.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "PAL.h"
#include "common/XmlLimits.h"

namespace {
const char* kFunc = "CConfigCenter::parseConfig";
}

int CConfigCenter::parseConfig() { return parseConfigFile(kFileName); }

int CConfigCenter::parseConfigFile(const std::string& path) {
    // Close-on-exec: a child the host starts must not inherit it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        {
            std::unique_lock<std::shared_mutex> lk(m_settingsLock);
            m_settings.clear();
        }
        RunLog_Write(5, "", "[%s(%d)] load config %s fail, error id %d, error desc %s", kFunc, __LINE__,
                     path.c_str(), TiXmlBase::TIXML_ERROR_OPENING_FILE, "Failed to open file");
        return 0;
    }
    std::string text;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > static_cast<size_t>(kMaxFileSize)) break;
    }
    ::close(fd);
    return load(text, path);
}

int CConfigCenter::parseConfigText(const std::string& text) { return load(text, kFileName); }

int CConfigCenter::load(const std::string& text, const std::string& name) {
    std::map<std::string, std::string> settings;
    int result = 0;
    if (text.size() > static_cast<size_t>(kMaxFileSize) || !vexa::xmlSafeToParse(text)) {
        RunLog_Write(5, "", "[%s(%d)] load config %s fail, error id %d, error desc %s", kFunc, __LINE__,
                     name.c_str(), TiXmlBase::TIXML_ERROR_PARSING_ELEMENT,
                     "file too large, too deeply nested or holds a NUL byte");
    } else {
        TiXmlDocument doc;
        doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
        if (doc.Error()) {
            RunLog_Write(5, "", "[%s(%d)] load config %s fail, error id %d, error desc %s", kFunc, __LINE__,
                         name.c_str(), doc.ErrorId(), doc.ErrorDesc() ? doc.ErrorDesc() : "");
        } else if (!doc.RootElement()) {
            RunLog_Write(5, "", "[%s(%d)] parse config fail, no root", kFunc, __LINE__);
        } else {
            for (const TiXmlElement* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
                const char* key = e->Value();
                const char* value = e->GetText();
                if (!key || !*key || !value || !*value) continue;
                settings[key] = value;  // a later duplicate wins
            }
            result = 1;
        }
    }
    std::unique_lock<std::shared_mutex> lk(m_settingsLock);
    m_settings.swap(settings);
    return result;
}

int32_t CConfigCenter::getInt(const std::string& key) const {
    std::shared_lock<std::shared_mutex> lk(m_settingsLock);
    auto it = m_settings.find(key);
    return it == m_settings.end() ? 0 : PAL_Atoi32(it->second.c_str());
}

bool CConfigCenter::getString(const std::string& key, std::string& value) const {
    std::shared_lock<std::shared_mutex> lk(m_settingsLock);
    auto it = m_settings.find(key);
    if (it == m_settings.end()) return false;
    value = it->second;
    return true;
}

int64_t CConfigCenter::reqTimeoutSec() const {
    const int64_t v = getInt("req_timeout");
    if (v <= 0) return 10;  // no configured value must not mean "never wait"
    if (v == 1) return 2;   // leaves the library a receive time-out above zero
    return v;
}

uint32_t CConfigCenter::libSendTimeout() const {
    const int32_t v = getInt("sendTimeOut");
    return v > 0 ? static_cast<uint32_t>(v) : 30000u;
}

uint32_t CConfigCenter::passThroughTimeoutMs() const {
    const int64_t v = getInt("sendTimeOut");
    if (v <= 0) return 30000u;
    const int64_t ms = v * 1000;
    return vexa::clampU32(ms);
}

uint32_t CConfigCenter::maxPendingLogins() const {
    const int32_t v = getInt("MaxPendingLogins");
    return v > 0 ? static_cast<uint32_t>(v) : kDefaultMaxPendingLogins;
}

uint32_t CConfigCenter::countSetting(const char* key, uint32_t def, uint32_t max) const {
    std::string text;
    if (!getString(key, text)) return def;
    uint64_t v = 0;
    bool good = !text.empty() && text.size() <= 10;
    for (char c : text) {
        if (c < '0' || c > '9') good = false;
        if (good) v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (good && v <= max) return static_cast<uint32_t>(v);
    RunLog_Write(4, "", "[%s(%d)] invalid %s '%s' (0 to %u), using %u", kFunc, __LINE__, key, vexa::logText(text).c_str(),
                 max, def);
    return def;
}

uint32_t CConfigCenter::maxDeviceSessions() const { return countSetting("MaxDeviceSessions", 0, 10000000); }

uint32_t CConfigCenter::ioThreads() const { return countSetting("IoThreads", 0, 256); }

uint32_t CConfigCenter::fdReserve() const { return countSetting("FdReserve", kDefaultFdReserve, 1000000); }

void CConfigCenter::setInnerAddress(const std::string& v) {
    std::lock_guard<std::mutex> lk(m_addrLock);
    m_innerAddress = v;
}

void CConfigCenter::setOuterAddress(const std::string& v) {
    std::lock_guard<std::mutex> lk(m_addrLock);
    m_outerAddress = v;
}

std::string CConfigCenter::innerAddress() const {
    std::lock_guard<std::mutex> lk(m_addrLock);
    return m_innerAddress;
}

std::string CConfigCenter::outerAddress() const {
    std::lock_guard<std::mutex> lk(m_addrLock);
    return m_outerAddress;
}

void CConfigCenter::reset() {
    {
        std::unique_lock<std::shared_mutex> lk(m_settingsLock);
        m_settings.clear();
    }
    m_innerRegPort = m_outerRegPort = m_innerAlarmPort = m_outerAlarmPort = 0;
    m_innerStoragePort = m_outerStoragePort = m_accessNetId = m_hostAlarmPort = 0;
    setInnerAddress("");
    setOuterAddress("");
}
