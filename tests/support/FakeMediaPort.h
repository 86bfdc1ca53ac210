// A media port that records every library call and answers from a script: media orders run
// without a device, so tests and fuzz harnesses see the exact records the library was given.
#ifndef VEXA_TEST_FAKE_MEDIA_PORT_H
#define VEXA_TEST_FAKE_MEDIA_PORT_H

#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "media/MediaPort.h"

struct FakeMediaPort : MediaPort {
    struct Answer { uint32_t rc; std::string text; };
    struct Ovix { std::string url, body; uint8_t method; };
    struct Call { std::string name; std::vector<unsigned char> record; uint32_t operation; };

    int32_t handle = 7;
    std::string id = "dev1", pto = "aldonV5", type = "IPCamera";
    std::vector<ModelCommand> models;
    std::vector<Ovix> ovixCalls;
    std::deque<Answer> answers;  // model and pass-through answers in order; then the fallback
    Answer fallback{0, ""};
    std::vector<Call> calls;     // library calls with a copy of their record
    bool sessionIdFails = false, libraryFails = false;
    std::string nextSessionId = "1000";
    uint32_t audioCodec = 1;
    SessionTables tables;

    void script(uint32_t rc, const std::string& text) { answers.push_back({rc, text}); }
    const Call* last(const std::string& name) const {
        for (auto it = calls.rbegin(); it != calls.rend(); ++it)
            if (it->name == name) return &*it;
        return nullptr;
    }
    template <typename R>
    R record(const std::string& name) const {
        R r;
        std::memset(&r, 0xEE, sizeof r);
        if (const Call* c = last(name)) std::memcpy(&r, c->record.data(), sizeof r);
        return r;
    }

    int32_t userHandle() override { return handle; }
    std::string deviceId() override { return id; }
    std::string devicePto() override { return pto; }
    std::string deviceType() override { return type; }
    uint32_t model(std::string& response, const ModelCommand& cmd) override {
        models.push_back(cmd);
        return next(response);
    }
    uint32_t ovix(std::string& response, const std::string& url, const std::string& body, uint8_t method) override {
        ovixCalls.push_back({url, body, method});
        return next(response);
    }
    int addSession(SessionTables::Kind kind, const void* record, const std::string& key) override {
        return tables.add(kind, record, key);
    }
    int takeSession(SessionTables::Kind kind, void* out, const std::string& key) override {
        return tables.take(kind, out, key);
    }
    bool newSessionId(char* buffer, uint32_t size) override {
        if (sessionIdFails || nextSessionId.size() >= size) return false;
        std::memcpy(buffer, nextSessionId.c_str(), nextSessionId.size() + 1);
        return true;
    }
    bool startLive(int32_t, const VEXA_CMS_LIVE_PARAM& p) override { return note("startLive", &p, sizeof p); }
    bool stopLive(int32_t, const VEXA_CMS_STOP_PARAM& p) override { return note("stopLive", &p, sizeof p); }
    bool startRecord(int32_t, const VEXA_CMS_RECORD_PARAM& p) override { return note("startRecord", &p, sizeof p); }
    bool stopRecord(int32_t, const VEXA_CMS_STOP_PARAM& p) override { return note("stopRecord", &p, sizeof p); }
    bool operateRecord(int32_t, uint32_t op, const VEXA_CMS_OPERATE_PARAM& p) override {
        return note("operateRecord", &p, sizeof p, op);
    }
    bool startVoice(int32_t, const VEXA_CMS_VOICE_PARAM& p) override { return note("startVoice", &p, sizeof p); }
    bool stopVoice(int32_t, const VEXA_CMS_VOICE_STOP_PARAM& p) override { return note("stopVoice", &p, sizeof p); }
    bool getDevConfig(int32_t, uint32_t command, VEXA_CMS_DEV_CONFIG_QUERY& q) override {
        if (!note("getDevConfig", &q, sizeof q, command)) return false;
        if (q.lpOutBuffer && q.dwOutBufferSize >= sizeof(VEXA_CMS_DEVICE_INFO_BLOCK))
            static_cast<VEXA_CMS_DEVICE_INFO_BLOCK*>(q.lpOutBuffer)->dwAudioCodec = audioCodec;
        return true;
    }
    uint32_t lastError() override { return libraryFails ? 7 : 0; }

private:
    bool note(const char* name, const void* rec, size_t size, uint32_t op = 0) {
        const auto* b = static_cast<const unsigned char*>(rec);
        calls.push_back({name, std::vector<unsigned char>(b, b + size), op});
        return !libraryFails;
    }
    uint32_t next(std::string& response) {
        const Answer a = answers.empty() ? fallback : answers.front();
        if (!answers.empty()) answers.pop_front();
        response = a.text;
        return a.rc;
    }
};

#endif
