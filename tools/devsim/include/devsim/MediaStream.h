// Media streams a simulated camera or recorder opens on the gateway's orders, as tests observe
// them.
#ifndef DEVSIM_MEDIA_STREAM_H
#define DEVSIM_MEDIA_STREAM_H

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace devsim {

// "error" of a mediaAnswer.
namespace mediaError {
constexpr int ok = 0;
constexpr int unknownSession = 1;  // stop / operate for a session with no such running stream
constexpr int connectFailed = 2;   // the media server could not be reached
constexpr int remoteRefused = 3;   // not a loopback address and remote media not allowed
constexpr int noRecording = 4;     // startRecord span holds no recording
constexpr int badRequest = 5;      // missing or invalid member, unknown op, session already streaming
}  // namespace mediaError

enum class StreamState { Connecting, Running, Paused, Stopped };
const char* streamStateName(StreamState s);

constexpr size_t kTsPacketSize = 188;

// One start order (startLive, startRecord, startVoice) and what became of it. Integers that
// were absent or not integers read -1.
struct StreamInfo {
    std::string session;
    std::string op;
    Json::Value frame;  // the start request as received
    int64_t channel = -1;
    int64_t streamType = -1;
    std::string mediaIp;
    std::string linkType;  // startLive only
    int64_t mediaPort = -1;
    int64_t native = -1;
    std::string start, stop;  // startRecord: device-local times as received
    int64_t audioCode = -1;   // startVoice
    bool udp = false;         // how it is sent

    StreamState state = StreamState::Connecting;
    int answerError = -1;   // -1 until answered
    std::string endReason;  // "stop", "session end", "end of recording", "peer closed", an error text
    uint16_t pid = 0;       // packet identifier of this stream
    uint64_t bytes = 0;
    uint64_t packets = 0;
    uint64_t datagrams = 0;      // UDP datagrams, TCP writes
    uint64_t pauses = 0;
    uint64_t resumes = 0;
    uint64_t backedUp = 0;       // ticks without sending because the socket had not taken the last write
    uint64_t recordBytes = 0;    // startRecord: what the span holds; the stream ends after it
};

}  // namespace devsim

#endif
