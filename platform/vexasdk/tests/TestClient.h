// Both stand-in libraries on loopback, with recording callbacks, driven by raw device-side peers.
#ifndef VEXASDK_TEST_CLIENT_H
#define VEXASDK_TEST_CLIENT_H

#include "VexaAmsSdk.h"
#include "VexaCmsSdk.h"
#include "WirePeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

using vtest::frame;
using vtest::framed;
using vtest::WirePeer;

inline std::string field(const char* p, size_t cap) { return std::string(p, strnlen(p, cap)); }

// What the callbacks saw, and how they answer.
struct Recorder {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<std::string> reg;     // "type handle device ip server:port key companion shortSerial protocol"
    std::vector<std::string> exc;     // "type handle", " not refused" when a synchronous call was not
    std::vector<std::string> async;   // "handle seq dataType error text-or-list"
    std::vector<std::string> alarms;  // see describeAlarm in AmsTest.cpp
    std::map<std::string, std::string> keys;
    bool alarmGateClosed = false;
    uint32_t keepAlive = 30;
    int inAlarmCallback = 0;

    template <class P>
    bool waitFor(P pred, int ms = 5000) {
        std::unique_lock<std::mutex> lk(mu);
        return cv.wait_for(lk, std::chrono::milliseconds(ms), pred);
    }
    // Runs f under the lock and wakes the waiters.
    template <class F>
    void locked(F f) {
        std::lock_guard<std::mutex> lk(mu);
        f();
        cv.notify_all();
    }
    void push(std::vector<std::string>& v, std::string e) { locked([&] { v.push_back(std::move(e)); }); }
    // Registration callbacks whose text starts with `prefix` ("1 " for every off-line).
    size_t count(const std::string& prefix) {
        std::lock_guard<std::mutex> lk(mu);
        return std::count_if(reg.begin(), reg.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }
};
extern Recorder* g_rec;

VEXA_BOOL regCb(int32_t handle, uint32_t type, void* out, uint32_t outLen, void* in, uint32_t inLen, void*);
VEXA_BOOL alarmCb(int32_t listen, VEXA_ALARM_MSG* m, void*);

class SdkTest : public ::testing::Test {
protected:
    void SetUp() override;  // CmsTest.cpp
    void TearDown() override;
    void amsListen(uint32_t keepAliveSec) {
        if (m_amsListen >= 0) VEXA_AMS_StopListen(m_amsListen);
        VEXA_AMS_LISTEN_PARAM lp{};
        strcpy(lp.szIP, "127.0.0.1");
        lp.fnCB = alarmCb, lp.dwKeepAliveTimeout = keepAliveSec;
        ASSERT_GE(m_amsListen = VEXA_AMS_StartListen(&lp), 0);
        m_amsPort = VEXA_AMS_GetListenPort(m_amsListen);
    }
    // connect, hello, challenge, auth with a proof made from proofKey; returns the nonce.
    std::string handshake(WirePeer& c, const std::string& id, const std::string& proofKey, int proto = 2) {
        EXPECT_TRUE(c.connect(m_port));
        c.send(frame("hello", {{"deviceId", id}, {"protocolVersion", proto}, {"shortSerial", "AB1234567890"}}));
        const std::string nonce = c.expect("challenge")["nonce"].asString();
        c.send(vtest::authFrame(proofKey, nonce));
        return nonce;
    }
    // Full login with key "k"; returns the user handle or -1 (sessionKey: protocol 4's key).
    int32_t login(WirePeer& c, const std::string& id, int proto = 2, std::string* sessionKey = nullptr) {
        m_rec.locked([&] { m_rec.keys[id] = "k"; });
        handshake(c, id, "k", proto);
        if (sessionKey) *sessionKey = c.expect("sessionKey")["key"].asString();
        Json::Value ack = c.expect("loginAck");
        return ack.isMember("userHandle") ? ack["userHandle"].asInt() : -1;
    }
    // "alarmHelloAck", "refused:<reason>" or "none".
    std::string alarmHello(WirePeer& c, const std::string& id, int proto, const std::string& key = "",
                           const char* from = nullptr) {
        EXPECT_TRUE(c.connect(m_amsPort, from));
        Json::Value a;
        if (!c.send(vtest::alarmHello(id, proto, key.empty() ? nullptr : key.c_str())) || !c.next(a)) return "none";
        return a["type"].asString() + (a["type"] == "refused" ? ":" + a["reason"].asString() : "");
    }
    // A logged-in VEXA device with its alarm link open.
    bool bound(WirePeer& cmd, WirePeer& alarm, const std::string& id) {
        return login(cmd, id) >= 0 && alarmHello(alarm, id, 2) == "alarmHelloAck";
    }

    Recorder m_rec;
    int32_t m_listen = -1, m_amsListen = -1;
    uint16_t m_port = 0, m_amsPort = 0;
};

// Runs a synchronous call on another thread: its result and the last error seen there.
template <class F>
std::future<std::pair<VEXA_BOOL, uint32_t>> callAsync(F f) {
    return std::async(std::launch::async, [f] {
        const VEXA_BOOL r = f();
        return std::make_pair(r, uint32_t(VEXA_CMS_GetLastError()));
    });
}

#endif
