// VEXACMS stand-in: registration, keep-alive supervision, device messages and requests.
// A session's protocol state lives on its link's I/O thread; API calls from other threads touch
// the tables below under lib().mu, write request frames themselves and hand the rest of the
// socket work to that thread.
#include "VexaCmsSdk.h"

#include "LibraryCore.h"
#include "SessionDirectory.h"
#include "WireFrame.h"
#include "WireNames.h"
#include "runlog.h"

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <unordered_map>
#include <mutex>
#include <vector>

using vexasdk::Link;
using vexasdk::LinkHandler;
using vexawire::getString;
using vexawire::getU32;
namespace wtype = vexawire::type;
namespace wmember = vexawire::member;
namespace wreason = vexawire::reason;
namespace wop = vexawire::mediaOp;

namespace {

constexpr uint32_t kDefaultTimeoutMs = 30000;
// A list answer is one record per entry; bound what a single frame can make us allocate.
constexpr size_t kMaxListEntries = 65536;
constexpr char kList[] = "list";
// Server session IDs travel as signed 32-bit values: 1 .. INT32_MAX, then 1 again.
constexpr uint32_t kMaxSessionId = INT32_MAX;

thread_local uint32_t t_lastError = VEXA_SDK_ERR_NONE;
uint32_t& lastError() { return t_lastError; }

struct SyncWait {
    std::mutex mu;
    std::condition_variable cv;
    bool done = false;
    uint32_t sdkError = VEXA_SDK_ERR_NONE;
    Json::Value answer;

    void complete(uint32_t err, Json::Value ans = Json::Value()) {
        {
            std::lock_guard<std::mutex> lk(mu);
            if (done) return;
            done = true;
            sdkError = err;
            answer = std::move(ans);
        }
        cv.notify_all();
    }
};

struct Pending {
    int32_t handle = -1;
    std::string answerType;          // the frame type that completes it
    std::shared_ptr<SyncWait> wait;  // null: asynchronous (answer through the async callback)
};
using PendingList = std::vector<std::pair<uint32_t, Pending>>;

class CmsSession;

// The core's mu guards everything below as well.
struct CmsLib final : vexasdk::LibraryCore {
    CmsLib() : LibraryCore("VEXACMS", "wait to log in", lastError) {}

    bool dasEnabled = false;
    bool running = false;  // between initLocked and finiLocked
    // How long a synchronous call waits for its answer; read without the lock on every request.
    std::atomic<uint32_t> recvTimeoutMs{kDefaultTimeoutMs};
    bool recvTimeoutSet = false;  // option 1 by order: the first call after Init is the receive time-out
    VEXA_CMS_EXCEPTION_CB excCb = nullptr;
    void* excUser = nullptr;
    VEXA_CMS_ASYNC_CB asyncCb = nullptr;
    void* asyncUser = nullptr;
    VEXA_CMS_MSG_CB msgCb = nullptr;
    void* msgUser = nullptr;
    std::string topic;

    std::unordered_map<int32_t, std::shared_ptr<CmsSession>> sessions;
    std::unordered_map<std::string, int32_t> byDevice;
    std::map<uint32_t, Pending> pending;
    PendingList finiLeft;  // requests still waiting when Fini dropped the tables
    uint32_t nextSeq = 1;
    int32_t nextHandle = 0;
    uint32_t nextSessionId = 0;  // 0: not drawn yet

    void initLocked() override;
    void finiLocked() override;
    void finiDone() override;

    // Callers hold mu.
    uint32_t allocSeq() {
        for (;;) {
            const uint32_t s = nextSeq++;
            if (s != 0 && pending.find(s) == pending.end()) return s;
        }
    }
    int32_t allocHandle() {
        for (;;) {
            const int32_t h = nextHandle;
            nextHandle = nextHandle == INT32_MAX ? 0 : nextHandle + 1;
            if (sessions.find(h) == sessions.end()) return h;
        }
    }
    PendingList takePending(int32_t handle) {
        PendingList out;
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->second.handle == handle) {
                out.emplace_back(it->first, std::move(it->second));
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        return out;
    }
};

// Never destroyed: callbacks and API calls may still run while the process exits.
CmsLib& lib() {
    static CmsLib* l = new CmsLib;
    return *l;
}

VEXA_BOOL fail(uint32_t code) { return lib().fail(code); }
VEXA_BOOL ok() { return lib().ok(); }

// Wakes every request of an ended session exactly once. Runs on an I/O thread.
void completeGone(PendingList& list) {
    for (auto& kv : list) {
        if (kv.second.wait) {
            kv.second.wait->complete(VEXA_SDK_ERR_GONE);
            continue;
        }
        VEXA_CMS_ASYNC_CB cb;
        void* user;
        {
            std::lock_guard<std::mutex> lk(lib().mu);
            cb = lib().asyncCb;
            user = lib().asyncUser;
        }
        if (!cb) continue;
        VEXA_CMS_ASYNC_ANSWER a{};
        a.lUserHandle = kv.second.handle;
        a.dwAsyncHandle = kv.first;
        a.dwErrorNo = VEXA_SDK_ERR_GONE;
        cb(&a, user);
    }
    list.clear();
}

// An unsigned 32-bit integer member (a real number, text or out-of-range value is not).
bool u32Member(const Json::Value& msg, const char* name, uint32_t& out) {
    const Json::Value* v = msg.find(name, name + strlen(name));
    if (!v || (v->type() != Json::intValue && v->type() != Json::uintValue) || !v->isUInt()) return false;
    out = v->asUInt();
    return true;
}

// The library's verdict on an answer frame: only an integer "error" of 0 is success.
uint32_t answerError(const Json::Value& msg) {
    const Json::Value* e = msg.find(wmember::error, wmember::error + sizeof wmember::error - 1);
    if (!e) return VEXA_SDK_ERR_MALFORMED;
    if (e->type() == Json::intValue) return e->asInt64() == 0 ? VEXA_SDK_ERR_NONE : VEXA_SDK_ERR_DEVICE;
    if (e->type() == Json::uintValue) return e->asUInt64() == 0 ? VEXA_SDK_ERR_NONE : VEXA_SDK_ERR_DEVICE;
    return VEXA_SDK_ERR_MALFORMED;
}

class CmsSession final : public vexasdk::PeerSession, public std::enable_shared_from_this<CmsSession> {
public:
    enum class State { Fresh, Challenged, LoggingIn, LoggedIn, Closed };

    CmsSession(std::shared_ptr<Link> link, VEXA_CMS_REGISTER_CB cb, void* user)
        : PeerSession(lib(), std::move(link)), m_cb(cb), m_user(user) {
        memset(&m_info, 0, sizeof m_info);
    }

    // Changed under lib().mu; read without it by the session's own thread (heartbeats).
    std::atomic<bool> m_inTable{false};
    // Read from other threads only under lib().mu.
    int32_t m_handle = -1;

    void onFrame(Json::Value& msg) override {
        const std::string type = msg[wmember::type].asString();
        if (type == wtype::dasRequest) return onDasRequest(msg);
        if (type == wtype::hello) return onHello(msg);
        if (type == wtype::auth) return onAuth(msg);
        if (type == wtype::heartbeat) return onHeartbeat();
        if (type == wtype::logout) return onLogout();
        if (type == wtype::message) return onMessage(msg);
        if (type == wtype::configAnswer || type == wtype::ferroAnswer || type == wtype::ovixAnswer ||
            type == wtype::getConfigAnswer || type == wtype::mediaAnswer)
            return onAnswer(type, msg);
        ignoreUnknown(type);
    }

    void onBadFrame(const std::string& why) override {
        logBadFrame(why);
        refuse(wreason::frame, true);
    }

    void onTimer() override {
        if (m_state == State::LoggedIn) {
            RunLog_Write(4, m_core.module, "%s: heartbeat time-out", who().c_str());
            end(1, true);
        } else {
            PEER_BAD_INPUT("%s: no login in time, closing", who().c_str());
            end(0, false);
        }
    }

    void onPeerClosed(const std::string& why) override {
        if (m_state == State::LoggedIn) RunLog_Write(4, m_core.module, "%s: connection lost (%s)", who().c_str(), why.c_str());
        end(2, m_state == State::LoggedIn);
    }

    void onShutdown() override { end(0, false); }

    // Used by VEXA_CMS_ForceLogout after the session left the tables; on the link's thread.
    void forcedOut(PendingList pend) {
        m_state = State::Closed;
        leaveDirectory();
        if (!m_link->isClosed()) {
            sendType(wtype::forcedLogout);
            m_link->close();
        }
        completeGone(pend);
    }

    // Alarm links bound to this session close with it. On the link's thread (or once it stopped).
    void leaveDirectory() {
        if (!m_dirToken) return;
        vexasdk::SessionDirectory::instance().remove(m_deviceId, m_dirToken);
        m_dirToken = 0;
    }

    // From any thread. A request made while the login callback still runs waits for loginAck:
    // the device takes requests only after it.
    bool write(std::string frame) {
        if (!m_acked.load(std::memory_order_acquire)) {
            std::lock_guard<std::mutex> lk(m_earlyMu);
            if (!m_acked.load(std::memory_order_relaxed)) {
                m_early.push_back(std::move(frame));
                return true;
            }
        }
        return m_link->write(std::move(frame));
    }
    void post(std::function<void()> fn) { m_link->post(std::move(fn)); }

    // A newer login of the device took the tables; on this link's thread.
    void replaced() {
        m_state = State::Closed;
        m_dirToken = 0;  // the directory holds the newer session already
        if (m_link->isClosed()) return;
        sendRefused(wreason::duplicate);
        m_link->close();
    }

    void setSupervision(uint32_t sec, uint32_t count) {
        if (m_state == State::LoggedIn) m_link->armTimer(vexasdk::secondsProductMs(sec, count), true);
    }

private:
    VEXA_BOOL call(int32_t handle, uint32_t dataType, void* in, uint32_t inLen) {
        if (!m_cb) return 0;
        try {
            return m_cb(handle, dataType, &m_info, sizeof m_info, in, inLen, m_user);
        } catch (...) {
            return 0;
        }
    }

    // A callback may have stopped the listener or forced this session out.
    bool gone() { return m_link->isClosed() || (m_handle >= 0 && !m_inTable.load()); }

    void refuse(const char* reason, bool sessionLost = false) {
        sendRefused(reason);
        end(sessionLost ? 2 : 0, sessionLost && m_state == State::LoggedIn);
    }

    // Leaves the tables; false when already out (forced out, replaced).
    bool detach(PendingList& pend) {
        std::lock_guard<std::mutex> lk(lib().mu);
        if (!m_inTable) return false;
        m_inTable = false;
        auto& L = lib();
        auto it = L.sessions.find(m_handle);
        if (it != L.sessions.end() && it->second.get() == this) L.sessions.erase(it);
        auto d = L.byDevice.find(m_deviceId);
        if (d != L.byDevice.end() && d->second == m_handle) L.byDevice.erase(d);
        pend = L.takePending(m_handle);
        return true;
    }

    // excType 0: no exception record.
    void end(uint32_t excType, bool notify) {
        PendingList pend;
        const bool had = detach(pend);
        m_state = State::Closed;
        leavePending();
        leaveDirectory();
        m_link->close();
        if (had && notify) {
            call(m_handle, VEXA_CMS_DEV_OFF, nullptr, 0);
            if (excType) {
                VEXA_CMS_EXCEPTION_CB cb;
                void* user;
                {
                    std::lock_guard<std::mutex> lk(lib().mu);
                    cb = lib().excCb;
                    user = lib().excUser;
                }
                VEXA_CMS_EXCEPTION e{excType, m_handle, 0};
                if (cb) cb(&e, user);
            }
        }
        completeGone(pend);
    }

    void protocolError(const char* what) {
        PEER_BAD_INPUT("%s: %s, closing", who().c_str(), what);
        refuse(wreason::protocol, true);
    }

    void onDasRequest(const Json::Value& msg) {
        if (m_state != State::Fresh) return protocolError("address request after hello");
        bool enabled;
        {
            std::lock_guard<std::mutex> lk(lib().mu);
            enabled = lib().dasEnabled;
        }
        VEXA_CMS_DAS_ANSWER ans;
        memset(&ans, 0, sizeof ans);
        if (enabled) {
            VEXA_CMS_DEV_REG_INFO saved = m_info;
            fillPeer();
            vexasdk::setField(m_info.szDeviceID, sizeof m_info.szDeviceID, getString(msg, wmember::deviceId));
            vexasdk::setField(m_info.szServerAddress, sizeof m_info.szServerAddress, getString(msg, "serverAddress"));
            const uint32_t port = getU32(msg, "serverPort");
            m_info.wServerPort = port > 65535 ? 0 : static_cast<uint16_t>(port);
            call(-1, VEXA_CMS_DAS_REQ, &ans, sizeof ans);
            m_info = saved;
            if (gone()) return;
        }
        Json::Value m(Json::objectValue);
        m[wmember::type] = wtype::dasAnswer;
        m["address"] = vexasdk::fieldText(ans.szAddress, sizeof ans.szAddress);
        m["port"] = ans.wPort;
        m["domain"] = vexasdk::fieldText(ans.szDomain, sizeof ans.szDomain);
        m["serverId"] = vexasdk::fieldText(ans.szServerID, sizeof ans.szServerID);
        m_link->send(m);
    }

    void fillPeer() {
        vexasdk::setField(m_info.szDeviceIP, sizeof m_info.szDeviceIP, m_link->peerAddress());
        m_info.wDevicePort = m_link->peerPort();
    }

    void onHello(const Json::Value& msg) {
        if (m_state != State::Fresh) return protocolError("second hello");
        const std::string id = getString(msg, wmember::deviceId);
        const int64_t ver = vexawire::getInt(msg, wmember::protocolVersion, -1);
        if (id.empty() || id.size() >= sizeof m_info.szDeviceID || id.find('\0') != std::string::npos || ver < 0 ||
            ver > 255)
            return protocolError("hello without a valid deviceId/protocolVersion");
        memset(&m_info, 0, sizeof m_info);
        fillPeer();
        m_deviceId = id;
        vexasdk::setField(m_info.szDeviceID, sizeof m_info.szDeviceID, id);
        vexasdk::setField(m_info.szDevSerial, sizeof m_info.szDevSerial, getString(msg, "serial"));
        vexasdk::setField(m_info.szShortSerial, sizeof m_info.szShortSerial, getString(msg, "shortSerial"));
        vexasdk::setField(m_info.szFirmwareVersion, sizeof m_info.szFirmwareVersion, getString(msg, "firmware"));
        m_info.byDevProtocolVersion = static_cast<uint8_t>(ver);
        m_nonce = vexasdk::randomHex(16);
        Json::Value m(Json::objectValue);
        m[wmember::type] = wtype::challenge;
        m["nonce"] = m_nonce;
        m_link->send(m);
        m_state = State::Challenged;
    }

    void onAuth(const Json::Value& msg) {
        if (m_state != State::Challenged) return protocolError("auth out of order");
        const std::string proof = getString(msg, "proof");
        char key[256];
        memset(key, 0, sizeof key);
        const VEXA_BOOL r = call(-1, VEXA_CMS_DEV_AUTH, key, sizeof key);
        if (gone()) return;
        if (!r) {
            RunLog_Write(3, m_core.module, "%s: authentication refused", who().c_str());
            return refuse(wreason::auth);
        }
        const std::string expect = vexawire::hmacSha256Hex(vexasdk::fieldText(key, sizeof key), m_nonce);
        memset(key, 0, sizeof key);
        if (expect.empty() || !vexasdk::constantTimeEqual(proof, expect)) {
            PEER_BAD_INPUT("%s: wrong proof", who().c_str());
            call(-1, VEXA_CMS_DEV_SESSIONKEY_ERROR, nullptr, 0);
            if (gone()) return;
            return refuse(wreason::key);
        }
        if (m_info.byDevProtocolVersion == 4) {
            const std::string sk = vexasdk::randomHex(32);
            const std::string comp = vexasdk::randomHex(16);
            vexasdk::setFieldFull(m_info.szSessionKey, sizeof m_info.szSessionKey, sk);
            vexasdk::setFieldFull(m_info.szCompanion, sizeof m_info.szCompanion, comp);
            m_info.bySessionProtocolVersion = 4;
            Json::Value m(Json::objectValue);
            m[wmember::type] = wtype::sessionKey;
            m["key"] = sk;
            m["companion"] = comp;
            m_link->send(m);
            call(-1, VEXA_CMS_DEV_SESSIONKEY, nullptr, 0);
            if (gone()) return;
        }
        login();
    }

    void login() {
        m_state = State::LoggingIn;
        {
            std::lock_guard<std::mutex> lk(lib().mu);
            m_handle = lib().allocHandle();
            lib().sessions[m_handle] = shared_from_this();
            m_inTable = true;
        }
        VEXA_CMS_STORAGE_SERVER st;
        VEXA_CMS_ALARM_SERVER al;
        memset(&st, 0, sizeof st);
        memset(&al, 0, sizeof al);
        VEXA_CMS_LOGIN_ANSWER ans{30, 3, 30, 3, &st, &al};
        const VEXA_BOOL r = call(m_handle, VEXA_CMS_DEV_ON, &ans, sizeof ans);
        if (gone()) return;
        if (!r) {
            RunLog_Write(3, m_core.module, "%s: login refused", who().c_str());
            return refuse(wreason::login);
        }
        // The newest login of a device wins; the old connection goes without a callback.
        std::shared_ptr<CmsSession> old;
        PendingList oldPend;
        {
            std::lock_guard<std::mutex> lk(lib().mu);
            auto& L = lib();
            auto d = L.byDevice.find(m_deviceId);
            if (d != L.byDevice.end() && d->second != m_handle) {
                auto s = L.sessions.find(d->second);
                if (s != L.sessions.end()) {
                    old = s->second;
                    old->m_inTable = false;
                    L.sessions.erase(s);
                    oldPend = L.takePending(old->m_handle);
                }
            }
            L.byDevice[m_deviceId] = m_handle;
        }
        // Recorded before the device hears loginAck, so its alarm link may follow at once; this
        // also ends the alarm links of an older session of the device.
        m_dirToken = vexasdk::SessionDirectory::instance().add(m_deviceId, m_link->peerAddress());
        if (old) {
            RunLog_Write(3, m_core.module, "%s: logged in again, dropping the older connection", who().c_str());
            old->post([old] { old->replaced(); });
        }
        Json::Value m(Json::objectValue);
        m[wmember::type] = wtype::loginAck;
        m["userHandle"] = m_handle;
        m["keepAliveSec"] = ans.dwKeepAliveSec;
        m["timeoutCount"] = ans.dwTimeOutCount;
        m["alarmKeepAliveSec"] = ans.dwAlarmKeepAliveSec;
        m["alarmTimeoutCount"] = ans.dwAlarmTimeOutCount;
        Json::Value a(Json::objectValue);
        a["enable"] = al.dwEnable;
        a["alarmType"] = al.dwAlarmType;
        a["address"] = vexasdk::fieldText(al.szAddress, sizeof al.szAddress);
        a["port"] = al.wPort;
        a["subscribeMode"] = al.dwSubscribeMode;
        m["alarmServer"] = a;
        Json::Value s(Json::objectValue);
        s["enable"] = st.dwEnable;
        s["address"] = vexasdk::fieldText(st.szAddress, sizeof st.szAddress);
        s["port"] = st.wPort;
        s["accessKey"] = vexasdk::fieldText(st.szAccessKey, sizeof st.szAccessKey);
        s["secretKey"] = vexasdk::fieldText(st.szSecretKey, sizeof st.szSecretKey);
        m["storageServer"] = s;
        m_link->send(m);
        {
            std::lock_guard<std::mutex> lk(m_earlyMu);
            for (auto& f : m_early) m_link->sendRaw(std::move(f));
            m_early.clear();
            m_acked.store(true, std::memory_order_release);
        }
        m_state = State::LoggedIn;
        leavePending();
        m_link->setFrameLimit(vexawire::kMaxFrameLen);
        setSupervision(ans.dwKeepAliveSec, ans.dwTimeOutCount);
        completeGone(oldPend);
    }

    void onHeartbeat() {
        if (m_state != State::LoggedIn) return protocolError("heartbeat before login");
        call(m_handle, VEXA_CMS_DEV_DAS_PINGREO, nullptr, 0);
        if (gone()) return;
        sendType(wtype::heartbeatAck);
    }

    void onLogout() {
        if (m_state != State::LoggedIn) return protocolError("logout before login");
        RunLog_Write(3, m_core.module, "%s: logout", who().c_str());
        end(0, true);
    }

    void onMessage(const Json::Value& msg) {
        if (m_state != State::LoggedIn) return protocolError("message before login");
        VEXA_CMS_MSG_CB cb;
        void* user;
        {
            std::lock_guard<std::mutex> lk(lib().mu);
            cb = lib().msgCb;
            user = lib().msgUser;
        }
        if (!cb) return;
        VEXA_CMS_MSG rec;
        memset(&rec, 0, sizeof rec);
        rec.dwMsgType = getU32(msg, "messageType");
        vexasdk::setField(rec.szDomain, sizeof rec.szDomain, getString(msg, "domain"));
        vexasdk::setField(rec.szIdentifier, sizeof rec.szIdentifier, getString(msg, "identifier"));
        // The text stays in the frame, which outlives the callback: no copy per message.
        char* text = nullptr;
        uint32_t textLen = 0;
        static const char kAlarm[] = "alarm";
        const Json::Value* a = msg.find(kAlarm, kAlarm + sizeof kAlarm - 1);
        const char *b = nullptr, *e = nullptr;
        if (a && a->isString() && a->getString(&b, &e) && b && e > b) {
            text = const_cast<char*>(b);
            textLen = static_cast<uint32_t>(e - b);
        }
        VEXA_ALARM_MSG alarm;
        memset(&alarm, 0, sizeof alarm);
        if (rec.dwMsgType == 2) {
            alarm.byAlarmType = vexasdk::getU8(msg, "alarmType");
            alarm.byDataType = vexasdk::getU8(msg, "dataType");
            vexasdk::setField(alarm.szDeviceID, sizeof alarm.szDeviceID, m_deviceId);
            alarm.dwXmlBufLen = textLen;
            alarm.pXmlBuf = text;
            rec.pData = &alarm;
            rec.dwDataLen = sizeof alarm;
        } else if (text) {
            rec.pData = text;
            rec.dwDataLen = textLen;
        }
        try {
            cb(m_handle, 0, &rec, user);
        } catch (...) {
        }
    }

    void onAnswer(const std::string& type, const Json::Value& msg) {
        if (m_state != State::LoggedIn) return protocolError("answer before login");
        const uint32_t seq = getU32(msg, wmember::seq);
        Pending p;
        {
            std::lock_guard<std::mutex> lk(lib().mu);
            auto& L = lib();
            auto it = L.pending.find(seq);
            if (it == L.pending.end() || it->second.handle != m_handle || it->second.answerType != type) {
                uint64_t held = 0;
                if (L.gate.allow(m_link->peerAddress(), held))
                    RunLog_Write(3, m_core.module, "%s: %s with unknown seq %u dropped (%llu such lines held back)",
                                 who().c_str(), type.c_str(), seq, static_cast<unsigned long long>(held));
                return;
            }
            p = std::move(it->second);
            L.pending.erase(it);
        }
        uint32_t err = answerError(msg);
        uint32_t codec;
        if (err == VEXA_SDK_ERR_MALFORMED) {
            PEER_BAD_INPUT("%s: %s %u without an integer \"error\", request failed",
                          who().c_str(), type.c_str(), seq);
        } else if (err == VEXA_SDK_ERR_NONE && type == wtype::getConfigAnswer &&
                   !u32Member(msg, wmember::audioCodec, codec)) {
            PEER_BAD_INPUT("%s: %s %u without an unsigned \"audioCodec\", request failed",
                          who().c_str(), type.c_str(), seq);
            err = VEXA_SDK_ERR_MALFORMED;
        }
        if (p.wait) {
            p.wait->complete(err, err == VEXA_SDK_ERR_MALFORMED ? Json::Value() : msg);
            return;
        }
        VEXA_CMS_ASYNC_CB cb;
        void* user;
        {
            std::lock_guard<std::mutex> lk(lib().mu);
            cb = lib().asyncCb;
            user = lib().asyncUser;
        }
        if (!cb) return;
        VEXA_CMS_ASYNC_ANSWER a{};
        a.lUserHandle = m_handle;
        a.dwAsyncHandle = seq;
        a.dwErrorNo = err;
        const Json::Value* list = msg.find(kList, kList + sizeof kList - 1);
        std::vector<std::string> texts;
        std::vector<VEXA_CMS_LIST_ENTRY> entries;
        VEXA_CMS_LIST_ANSWER la;
        std::string data;
        if (err == VEXA_SDK_ERR_MALFORMED) {
            a.dwDataType = type == wtype::configAnswer && list ? 7 : 0;
        } else if (type == wtype::configAnswer && list && list->isArray()) {
            if (list->size() > kMaxListEntries) {
                PEER_BAD_INPUT("%s: list answer of %u entries, closing", who().c_str(),
                              list->size());
                a.dwErrorNo = VEXA_SDK_ERR_MALFORMED;
                callAsync(cb, a, user);
                return refuse(wreason::frame, true);
            }
            texts.resize(list->size());
            entries.resize(list->size());
            memset(entries.data(), 0, entries.size() * sizeof(VEXA_CMS_LIST_ENTRY));
            for (Json::ArrayIndex i = 0; i < list->size(); ++i) {
                const Json::Value& e = (*list)[i];
                if (!e.isString()) continue;  // null entry: no text pointer
                texts[i] = e.asString();
                entries[i].pText = texts[i].c_str();
                entries[i].dwTextLen = static_cast<uint32_t>(texts[i].size());
            }
            memset(&la, 0, sizeof la);
            la.pEntries = entries.empty() ? nullptr : entries.data();
            la.dwCount = static_cast<uint32_t>(entries.size());
            a.dwDataType = 7;
            a.pData = &la;
            a.dwDataLen = sizeof la;
        } else {
            data = getString(msg, "data");
            a.dwDataType = 0;
            a.pData = data.empty() ? nullptr : data.data();
            a.dwDataLen = static_cast<uint32_t>(data.size());
        }
        callAsync(cb, a, user);
    }

    static void callAsync(VEXA_CMS_ASYNC_CB cb, const VEXA_CMS_ASYNC_ANSWER& a, void* user) {
        try {
            cb(&a, user);
        } catch (...) {
        }
    }

    VEXA_CMS_REGISTER_CB m_cb;
    void* m_user;
    State m_state = State::Fresh;
    VEXA_CMS_DEV_REG_INFO m_info;
    std::string m_nonce;
    uint64_t m_dirToken = 0;       // this session's entry in the session directory
    std::mutex m_earlyMu;          // requests made before loginAck went out
    std::vector<std::string> m_early;
    std::atomic<bool> m_acked{false};
};

void CmsLib::initLocked() {
    running = true;
    recvTimeoutSet = false;
    // Tests move the session IDs to a chosen point (the wrap at the top of the range).
    const char* v = getenv("VEXA_SDK_SESSION_ID_START");
    if (v && *v) {
        char* end = nullptr;
        const unsigned long long n = strtoull(v, &end, 10);
        if (end && *end == '\0' && n >= 1 && n <= kMaxSessionId) nextSessionId = static_cast<uint32_t>(n);
    }
}

void CmsLib::finiLocked() {
    running = false;
    for (auto& kv : sessions) kv.second->leaveDirectory();
    sessions.clear();
    byDevice.clear();
    for (auto& kv : pending) finiLeft.emplace_back(kv.first, std::move(kv.second));
    pending.clear();
}

// Synchronous callers wake with "gone"; asynchronous requests end quietly with the library.
void CmsLib::finiDone() {
    PendingList left;
    {
        std::lock_guard<std::mutex> lk(mu);
        left.swap(finiLeft);
    }
    for (auto& kv : left)
        if (kv.second.wait) kv.second.wait->complete(VEXA_SDK_ERR_GONE);
}

std::shared_ptr<CmsSession> findSession(int32_t handle) {
    auto it = lib().sessions.find(handle);
    return it == lib().sessions.end() ? nullptr : it->second;
}

// Registers a request (one short lock) and writes its frame on the caller's thread. Returns the
// seq, 0 on failure (last error set).
// `encode` writes the frame for the sequence number given.
template <class Encode>
uint32_t startEncoded(int32_t handle, const Encode& encode, const char* answerType, std::shared_ptr<SyncWait> wait) {
    std::shared_ptr<CmsSession> s;
    uint32_t seq;
    {
        std::lock_guard<std::mutex> lk(lib().mu);
        if (!lib().running) return fail(VEXA_SDK_ERR_NOT_INIT), 0;
        s = findSession(handle);
        if (!s) return fail(VEXA_SDK_ERR_NO_SESSION), 0;
        seq = lib().allocSeq();
        Pending p;
        p.handle = handle;
        p.answerType = answerType;
        p.wait = std::move(wait);
        lib().pending.emplace(seq, std::move(p));
    }
    std::string frame = encode(seq);
    if (frame.size() - 4 > vexawire::kMaxFrameLen) {
        std::lock_guard<std::mutex> lk(lib().mu);
        lib().pending.erase(seq);
        return fail(VEXA_SDK_ERR_PARAM), 0;
    }
    // A link that closed meanwhile: the session's end completes the request as gone.
    s->write(std::move(frame));
    return seq;
}

uint32_t startRequest(int32_t handle, Json::Value& req, const char* answerType, std::shared_ptr<SyncWait> wait) {
    return startEncoded(
        handle,
        [&req](uint32_t seq) {
            req[wmember::seq] = seq;
            return vexawire::encodeFrame(req);
        },
        answerType, std::move(wait));
}

// Waits for a synchronous answer; false with last error set on failure.
bool waitAnswer(uint32_t seq, const std::shared_ptr<SyncWait>& w, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lk(w->mu);
    if (!w->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return w->done; })) {
        lk.unlock();
        {
            std::lock_guard<std::mutex> g(lib().mu);
            lib().pending.erase(seq);
        }
        lk.lock();
        if (!w->done) {
            t_lastError = VEXA_SDK_ERR_TIMEOUT;
            return false;
        }
    }
    if (w->sdkError != VEXA_SDK_ERR_NONE) {
        t_lastError = w->sdkError;
        return false;
    }
    return true;
}

uint32_t recvTimeout() { return lib().recvTimeoutMs.load(); }

// A synchronous call made on one of this library's threads would wait for the thread that must
// answer it.
bool onOwnThread() { return vexasdk::Engine::currentModule() == lib().module; }

std::string textOf(const char* p, uint32_t len) { return p ? std::string(p, len) : std::string(); }

// A caller's record the library will not send; logged through the gate so a looping caller
// cannot flood the log.
VEXA_BOOL refuseRecord(const char* fn, const char* why) {
    SDK_BAD_INPUT(lib().gate, lib().module, std::string(fn), "%s: %s, nothing sent", fn, why);
    return fail(VEXA_SDK_ERR_PARAM);
}

// Device-local stream time as "YYYY-MM-DDThh:mm:ss".
std::string streamTime(const VEXA_CMS_STREAM_TIME& t) {
    char b[32];
    snprintf(b, sizeof b, "%04u-%02u-%02uT%02u:%02u:%02u", unsigned(t.wYear), unsigned(t.byMonth),
             unsigned(t.byDay), unsigned(t.byHour), unsigned(t.byMinute), unsigned(t.bySecond));
    return b;
}

// The record's media address and port for a start call; null when either is missing.
const char* mediaTarget(Json::Value& req, const char* ipField, size_t cap, uint16_t port) {
    const std::string ip = vexasdk::fieldText(ipField, cap);
    if (ip.empty() || port == 0) return "no media address or port";
    req[wmember::mediaIp] = ip;
    req[wmember::mediaPort] = port;
    return nullptr;
}

// The stop calls carry the session text only.
const char* noMembers(Json::Value&) { return nullptr; }

// One synchronous media request: the op, the record's session text (bounded by its field) and
// the members `fill` adds (it returns why the record is refused, or null); waits for
// mediaAnswer on the receive time-out.
template <class Fill>
VEXA_BOOL mediaRequest(const char* fn, int32_t handle, const char* op, const char* sessionField, size_t cap,
                       VEXA_CMS_START_RESULT* result, Fill fill) {
    try {
        const std::string session = vexasdk::fieldText(sessionField, cap);
        if (session.empty()) return refuseRecord(fn, "empty session");
        Json::Value req(Json::objectValue);
        req[wmember::type] = wtype::media;
        req[wmember::op] = op;
        req[wmember::session] = session;
        if (const char* why = fill(req)) return refuseRecord(fn, why);
        if (onOwnThread()) return fail(VEXA_SDK_ERR_WOULD_BLOCK);
        auto w = std::make_shared<SyncWait>();
        const uint32_t seq = startRequest(handle, req, wtype::mediaAnswer, w);
        if (!seq || !waitAnswer(seq, w, recvTimeout())) return 0;
        if (result) memset(result, 0, sizeof *result);
        return ok();
    } catch (...) {
        return fail(VEXA_SDK_ERR_SEND);
    }
}

}  // namespace

extern "C" {

uint32_t VEXA_SDK_CALL VEXA_CMS_GetLastError(void) { return t_lastError; }
VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_Init(void) { return lib().init(); }
VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_Fini(void) { return lib().fini(); }
VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetSDKInitCfg(uint32_t type, const char* value) {
    return lib().setInitCfg(type, value);
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetSDKLocalCfg(uint32_t option, const void* value) {
    if (!value) return fail(VEXA_SDK_ERR_PARAM);
    std::lock_guard<std::mutex> lk(lib().mu);
    switch (option) {
    case VEXA_CMS_SEND_RECV_PARAM: {
        const auto* r = static_cast<const VEXA_CMS_SEND_RECV_PARAM_T*>(value);
        const uint32_t ms = r->dwTimeOut ? r->dwTimeOut : kDefaultTimeoutMs;
        uint32_t kind = r->dwKind;
        if (kind == VEXA_CMS_TIMEOUT_BY_ORDER) kind = lib().recvTimeoutSet ? VEXA_CMS_TIMEOUT_SEND : VEXA_CMS_TIMEOUT_RECV;
        if (kind == VEXA_CMS_TIMEOUT_RECV) {
            lib().recvTimeoutMs = ms;
            lib().recvTimeoutSet = true;
        } else if (kind != VEXA_CMS_TIMEOUT_SEND) {  // sends are queued: nothing waits on them
            return fail(VEXA_SDK_ERR_PARAM);
        }
        return ok();
    }
    case VEXA_CMS_MAX_PENDING_LOGINS:
        return lib().setMaxPendingLogins(value);
    case VEXA_SDK_INIT_MAX_SESSIONS:
    case VEXA_SDK_INIT_IO_THREADS:
    case VEXA_SDK_INIT_FD_RESERVE:
        return lib().setAdmissionOptionLocked(option, value);
    case VEXA_CMS_DEV_DAS_PINGREQ_CALLBACK:
        lib().dasEnabled = *static_cast<const uint32_t*>(value) != 0;
        return ok();
    case VEXA_CMS_EXCEPTION_CALLBACK: {
        const auto* r = static_cast<const VEXA_CMS_EXCEPTION_PARAM*>(value);
        lib().excCb = r->fnCB;
        lib().excUser = r->pUserData;
        return ok();
    }
    default:
        return fail(VEXA_SDK_ERR_PARAM);
    }
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetInterfaceAsync(uint32_t type, VEXA_CMS_ASYNC_CB cb, void* user) {
    if (type != 0) return fail(VEXA_SDK_ERR_PARAM);
    std::lock_guard<std::mutex> lk(lib().mu);
    lib().asyncCb = cb;
    lib().asyncUser = cb ? user : nullptr;
    return ok();
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SubscribeMsg(uint32_t type, const void* param) {
    if (!param) return fail(VEXA_SDK_ERR_PARAM);
    std::lock_guard<std::mutex> lk(lib().mu);
    if (type == 0) {
        const auto* r = static_cast<const VEXA_CMS_MSG_CB_PARAM*>(param);
        lib().msgCb = r->fnCB;
        lib().msgUser = r->pUserData;
        return ok();
    }
    if (type == 1) {
        const auto* r = static_cast<const VEXA_CMS_TOPIC_PARAM*>(param);
        lib().topic = r->pTopic ? std::string(r->pTopic, r->dwTopicLen) : std::string();
        return ok();
    }
    return fail(VEXA_SDK_ERR_PARAM);
}

int32_t VEXA_SDK_CALL VEXA_CMS_StartListen(const VEXA_CMS_LISTEN_PARAM* param) {
    if (!param || !param->fnCB) return fail(VEXA_SDK_ERR_PARAM), -1;
    const VEXA_CMS_REGISTER_CB cb = param->fnCB;
    void* user = param->pUserData;
    return lib().startListen(param->szIP, sizeof param->szIP, param->wPort,
                             [cb, user](const std::shared_ptr<Link>& link, int) -> std::shared_ptr<LinkHandler> {
                                 return std::make_shared<CmsSession>(link, cb, user);
                             });
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StopListen(int32_t handle) { return lib().stopListen(handle); }
uint16_t VEXA_SDK_CALL VEXA_CMS_GetListenPort(int32_t handle) { return lib().listenPort(handle); }
VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetDeviceSessionKey(const VEXA_DEV_SESSION_KEY* key) {
    return lib().setDeviceSessionKey(key);
}
VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetLogToFile(uint32_t level, const char* dir, VEXA_BOOL autoDel) {
    return lib().setLogToFile(level, dir, autoDel);
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_SetKeepAliveTime(int32_t userHandle, uint32_t keepAliveSec, uint32_t timeOutCount) {
    auto eng = lib().getEngine();
    if (!eng) return fail(VEXA_SDK_ERR_NOT_INIT);
    std::shared_ptr<CmsSession> s;
    {
        std::lock_guard<std::mutex> lk(lib().mu);
        s = findSession(userHandle);
    }
    if (!s) return fail(VEXA_SDK_ERR_NO_SESSION);
    s->post([s, keepAliveSec, timeOutCount] { s->setSupervision(keepAliveSec, timeOutCount); });
    return ok();
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_ForceLogout(int32_t userHandle) {
    auto eng = lib().getEngine();
    if (!eng) return fail(VEXA_SDK_ERR_NOT_INIT);
    std::shared_ptr<CmsSession> s;
    PendingList pend;
    {
        std::lock_guard<std::mutex> lk(lib().mu);
        auto& L = lib();
        s = findSession(userHandle);
        if (!s) return fail(VEXA_SDK_ERR_NO_SESSION);
        s->m_inTable = false;
        L.sessions.erase(userHandle);
        auto d = L.byDevice.find(s->m_deviceId);
        if (d != L.byDevice.end() && d->second == userHandle) L.byDevice.erase(d);
        pend = L.takePending(userHandle);
    }
    auto shared = std::make_shared<PendingList>(std::move(pend));
    s->post([s, shared] { s->forcedOut(std::move(*shared)); });
    return ok();
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_ConfigDev(int32_t userHandle, uint32_t configType, void* record,
                                           uint32_t recordKind) {
    if (!record) return fail(VEXA_SDK_ERR_PARAM);
    try {
        Json::Value req(Json::objectValue);
        if (recordKind == VEXA_CMS_RECORD_MODEL) {
            if (configType > VEXA_CMS_CONFIG_DATA) return fail(VEXA_SDK_ERR_PARAM);
            auto* r = static_cast<VEXA_CMS_CONFIG_REQ*>(record);
            const std::string target = vexasdk::fieldText(r->szTarget, sizeof r->szTarget);
            const std::string subId = vexasdk::fieldText(r->szSubID, sizeof r->szSubID);
            const std::string scope = vexasdk::fieldText(r->szScope, sizeof r->szScope);
            const std::string domain = vexasdk::fieldText(r->szDomain, sizeof r->szDomain);
            const std::string ident = vexasdk::fieldText(r->szIdentifier, sizeof r->szIdentifier);
            const std::string body = textOf(r->pBody, r->dwBodyLen);
            // One per device command: written straight, members in the writer's order.
            const uint32_t seq = startEncoded(
                userHandle,
                [&](uint32_t n) {
                    return vexawire::encodeMembers([&](auto& m) {
                        m.text("body", body)
                            .number("configType", configType)
                            .text("domain", domain)
                            .text("identifier", ident)
                            .text("scope", scope)
                            .number(wmember::seq, n)
                            .text("subId", subId)
                            .text("target", target)
                            .text(wmember::type, wtype::config);
                    });
                },
                wtype::configAnswer, nullptr);
            if (!seq) return 0;
            r->dwAsyncHandle = seq;
            return ok();
        }
        if (recordKind == VEXA_CMS_RECORD_FERRO) {
            auto* r = static_cast<VEXA_CMS_FERRO_REQ*>(record);
            req[wmember::type] = wtype::ferro;
            req["command"] = textOf(r->pCommand, r->dwCommandLen);
            req["body"] = textOf(r->pBody, r->dwBodyLen);
            const uint32_t seq = startRequest(userHandle, req, wtype::ferroAnswer, nullptr);
            if (!seq) return 0;
            r->dwAsyncHandle = seq;
            return ok();
        }
        return fail(VEXA_SDK_ERR_PARAM);
    } catch (...) {
        return fail(VEXA_SDK_ERR_SEND);
    }
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_OVIXPassThrough(int32_t userHandle, VEXA_CMS_PASSTHROUGH* record) {
    if (!record || !record->pUrl || (!record->pOutput && record->dwOutputSize)) return fail(VEXA_SDK_ERR_PARAM);
    if (onOwnThread()) return fail(VEXA_SDK_ERR_WOULD_BLOCK);
    try {
        Json::Value req(Json::objectValue);
        req[wmember::type] = wtype::ovix;
        req["request"] = textOf(record->pUrl, record->dwUrlLen);
        req["body"] = textOf(record->pBody, record->dwBodyLen);
        auto w = std::make_shared<SyncWait>();
        const uint32_t seq = startRequest(userHandle, req, wtype::ovixAnswer, w);
        if (!seq) return 0;
        const bool good = waitAnswer(seq, w, recvTimeout());
        if (!good && t_lastError != VEXA_SDK_ERR_DEVICE) return 0;
        const uint32_t err = t_lastError;
        std::string body;
        {
            std::lock_guard<std::mutex> lk(w->mu);
            body = getString(w->answer, "body");
        }
        if (body.size() > record->dwOutputSize) return fail(good ? VEXA_SDK_ERR_BUFFER : err);
        if (!body.empty()) memcpy(record->pOutput, body.data(), body.size());
        if (body.size() < record->dwOutputSize) record->pOutput[body.size()] = '\0';
        record->dwOutputSize = static_cast<uint32_t>(body.size());
        return good ? ok() : fail(err);
    } catch (...) {
        return fail(VEXA_SDK_ERR_SEND);
    }
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_GetDevConfig(int32_t userHandle, uint32_t command, void* record,
                                              uint32_t recordLen) {
    static const char fn[] = "VEXA_CMS_GetDevConfig";
    if (command != VEXA_CMS_GET_DEVICE_INFO) return refuseRecord(fn, "unknown command");
    if (!record || recordLen < sizeof(VEXA_CMS_DEV_CONFIG_QUERY)) return refuseRecord(fn, "no query record");
    // The caller's records need not be aligned: fields are copied, not dereferenced in place.
    VEXA_CMS_DEV_CONFIG_QUERY q;
    memcpy(&q, record, sizeof q);
    if (!q.lpOutBuffer || q.dwOutBufferSize < sizeof(VEXA_CMS_DEVICE_INFO_BLOCK))
        return refuseRecord(fn, "no output block of 512 bytes");
    if (onOwnThread()) return fail(VEXA_SDK_ERR_WOULD_BLOCK);
    try {
        Json::Value req(Json::objectValue);
        req[wmember::type] = wtype::getConfig;
        req[wmember::command] = command;
        auto w = std::make_shared<SyncWait>();
        const uint32_t seq = startRequest(userHandle, req, wtype::getConfigAnswer, w);
        if (!seq || !waitAnswer(seq, w, recvTimeout())) return 0;
        uint32_t codec;
        {
            std::lock_guard<std::mutex> lk(w->mu);
            codec = getU32(w->answer, wmember::audioCodec);  // checked on arrival
        }
        const uint32_t size = sizeof(VEXA_CMS_DEVICE_INFO_BLOCK);
        auto* out = static_cast<char*>(q.lpOutBuffer);
        memcpy(out + offsetof(VEXA_CMS_DEVICE_INFO_BLOCK, dwSize), &size, sizeof size);
        memcpy(out + offsetof(VEXA_CMS_DEVICE_INFO_BLOCK, dwAudioCodec), &codec, sizeof codec);
        return ok();
    } catch (...) {
        return fail(VEXA_SDK_ERR_SEND);
    }
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_GetSevrSessionId(char* buffer, uint32_t size) {
    if (!buffer) return fail(VEXA_SDK_ERR_PARAM);
    uint32_t id;
    try {
        std::lock_guard<std::mutex> lk(lib().mu);
        auto& n = lib().nextSessionId;
        if (n == 0) {
            // A random start in 2^16 .. 2^30, so IDs differ across runs and a wrap is far off.
            const uint32_t r = static_cast<uint32_t>(std::stoul(vexasdk::randomHex(4), nullptr, 16));
            n = (1u << 16) + r % ((1u << 30) - (1u << 16));
        }
        id = n;
        n = n >= kMaxSessionId ? 1 : n + 1;
    } catch (...) {
        return fail(VEXA_SDK_ERR_PARAM);
    }
    char text[16];
    const int len = snprintf(text, sizeof text, "%u", id);
    if (len <= 0 || static_cast<uint32_t>(len) >= size) return fail(VEXA_SDK_ERR_BUFFER);
    memcpy(buffer, text, static_cast<size_t>(len) + 1);
    return ok();
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StartLiveStreaming(int32_t userHandle, uint32_t, const VEXA_CMS_LIVE_PARAM* param,
                                                    VEXA_CMS_START_RESULT* result) {
    static const char fn[] = "VEXA_CMS_StartLiveStreaming";
    if (!param) return refuseRecord(fn, "no record");
    const VEXA_CMS_LIVE_PARAM& p = *param;
    return mediaRequest(fn, userHandle, wop::startLive, p.szSessionID, sizeof p.szSessionID, result, [&](Json::Value& r) {
        const bool tcp = p.wTcpPort != 0;
        r[wmember::channel] = p.dwChannel;
        r[wmember::streamType] = p.dwStreamType;
        r[wmember::linkType] = tcp ? vexawire::linkType::tcp : vexawire::linkType::udp;
        r[wmember::native] = p.byNative;
        return mediaTarget(r, p.szMediaIP, sizeof p.szMediaIP, tcp ? p.wTcpPort : p.wUdpPort);
    });
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StartRecordStreaming(int32_t userHandle, uint32_t, const VEXA_CMS_RECORD_PARAM* param,
                                                      VEXA_CMS_START_RESULT* result) {
    static const char fn[] = "VEXA_CMS_StartRecordStreaming";
    if (!param) return refuseRecord(fn, "no record");
    const VEXA_CMS_RECORD_PARAM& p = *param;
    return mediaRequest(fn, userHandle, wop::startRecord, p.szSessionID, sizeof p.szSessionID, result, [&](Json::Value& r) {
        r[wmember::channel] = p.dwChannel;
        r[wmember::streamType] = p.dwStreamType;
        r[wmember::native] = p.byNative;
        r[wmember::start] = streamTime(p.struStart);
        r[wmember::stop] = streamTime(p.struStop);
        return mediaTarget(r, p.szMediaIP, sizeof p.szMediaIP, p.wMediaPort);
    });
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StartVoice(int32_t userHandle, const VEXA_CMS_VOICE_PARAM* param,
                                            VEXA_CMS_START_RESULT* result) {
    static const char fn[] = "VEXA_CMS_StartVoice";
    if (!param) return refuseRecord(fn, "no record");
    const VEXA_CMS_VOICE_PARAM& p = *param;
    return mediaRequest(fn, userHandle, wop::startVoice, p.szSessionID, sizeof p.szSessionID, result, [&](Json::Value& r) {
        r[wmember::channel] = p.dwChannel;
        r[wmember::audioCode] = p.dwAudioCode;
        return mediaTarget(r, p.szMediaIP, sizeof p.szMediaIP, p.wMediaPort);
    });
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_OperateRecordStreaming(int32_t userHandle, uint32_t, uint32_t operation,
                                                        const VEXA_CMS_OPERATE_PARAM* param) {
    static const char fn[] = "VEXA_CMS_OperateRecordStreaming";
    if (!param) return refuseRecord(fn, "no record");
    return mediaRequest(fn, userHandle, wop::operateRecord, param->szSessionID, sizeof param->szSessionID, nullptr,
                        [&](Json::Value& r) -> const char* {
                            if (operation != VEXA_CMS_RECORD_PAUSE && operation != VEXA_CMS_RECORD_RESUME)
                                return "operation neither pause nor resume";
                            r[wmember::operation] = operation;
                            return nullptr;
                        });
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StopLiveStreaming(int32_t userHandle, uint32_t, const VEXA_CMS_STOP_PARAM* param) {
    static const char fn[] = "VEXA_CMS_StopLiveStreaming";
    if (!param) return refuseRecord(fn, "no record");
    return mediaRequest(fn, userHandle, wop::stopLive, param->szSessionID, sizeof param->szSessionID, nullptr, noMembers);
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StopRecordStreaming(int32_t userHandle, uint32_t, const VEXA_CMS_STOP_PARAM* param) {
    static const char fn[] = "VEXA_CMS_StopRecordStreaming";
    if (!param) return refuseRecord(fn, "no record");
    return mediaRequest(fn, userHandle, wop::stopRecord, param->szSessionID, sizeof param->szSessionID, nullptr,
                        noMembers);
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_StopVoice(int32_t userHandle, const VEXA_CMS_VOICE_STOP_PARAM* param) {
    static const char fn[] = "VEXA_CMS_StopVoice";
    if (!param) return refuseRecord(fn, "no record");
    return mediaRequest(fn, userHandle, wop::stopVoice, param->szSessionID, sizeof param->szSessionID, nullptr,
                        noMembers);
}

VEXA_BOOL VEXA_SDK_CALL VEXA_CMS_GetSDKStats(VEXA_SDK_STATS* stats) { return lib().getStats(stats); }

}  // extern "C"
