// A device channel that records what the handlers send and answers from a script.
#ifndef VEXA_TEST_FAKE_CHANNEL_H
#define VEXA_TEST_FAKE_CHANNEL_H

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway/DeviceChannel.h"

struct FakeChannel : DeviceChannel {
    struct Answer { uint32_t rc; std::string text; };
    struct Ovix { std::string url, body; uint8_t method; };
    std::vector<ModelCommand> sent;
    std::vector<Ovix> ovixCalls;
    std::vector<std::string> pictureResets;
    std::deque<Answer> answers;  // model and pass-through answers in order; then the fallback
    Answer fallback{0, "{}"};
    bool throwOnCall = false;

    void script(uint32_t rc, const std::string& text) { answers.push_back({rc, text}); }

    uint32_t model(std::string& response, const ModelCommand& cmd, const std::string& target) override {
        if (target != "global") throw std::logic_error("unexpected target " + target);
        sent.push_back(cmd);
        return next(response);
    }
    uint32_t ovix(std::string& response, const std::string& url, const std::string& body, uint8_t method) override {
        ovixCalls.push_back({url, body, method});
        return next(response);
    }
    uint32_t ferro(std::string& response, const std::string&, const std::string&) override { return next(response); }
    uint32_t resetPictureServer(const std::string& body) override {
        pictureResets.push_back(body);
        return 0;
    }

private:
    uint32_t next(std::string& response) {
        if (throwOnCall) throw std::runtime_error("channel broke");
        const Answer a = answers.empty() ? fallback : answers.front();
        if (!answers.empty()) answers.pop_front();
        response = a.text;  // a failing channel may leave text behind, as the real one can
        return a.rc;
    }
};

#endif
