// Fixed names of the stand-in device protocol: frame types, common members and refusal reasons.
// The sending and the receiving side use these, so one search finds both.
#ifndef VEXA_WIRE_NAMES_H
#define VEXA_WIRE_NAMES_H

namespace vexawire {

// Values of the "type" member.
namespace type {
// Command connection, device -> library.
inline constexpr char dasRequest[] = "dasRequest";
inline constexpr char hello[] = "hello";
inline constexpr char auth[] = "auth";
inline constexpr char heartbeat[] = "heartbeat";
inline constexpr char logout[] = "logout";
inline constexpr char message[] = "message";
// Command connection, library -> device.
inline constexpr char dasAnswer[] = "dasAnswer";
inline constexpr char challenge[] = "challenge";
inline constexpr char sessionKey[] = "sessionKey";
inline constexpr char loginAck[] = "loginAck";
inline constexpr char heartbeatAck[] = "heartbeatAck";
inline constexpr char forcedLogout[] = "forcedLogout";
inline constexpr char refused[] = "refused";
// Requests (library -> device) and their answers.
inline constexpr char config[] = "config";
inline constexpr char configAnswer[] = "configAnswer";
inline constexpr char ferro[] = "ferro";
inline constexpr char ferroAnswer[] = "ferroAnswer";
inline constexpr char ovix[] = "ovix";
inline constexpr char ovixAnswer[] = "ovixAnswer";
inline constexpr char getConfig[] = "getConfig";
inline constexpr char getConfigAnswer[] = "getConfigAnswer";
inline constexpr char media[] = "media";
inline constexpr char mediaAnswer[] = "mediaAnswer";
// Alarm connection.
inline constexpr char alarmHello[] = "alarmHello";
inline constexpr char alarmHelloAck[] = "alarmHelloAck";
inline constexpr char alarm[] = "alarm";
inline constexpr char alarmAck[] = "alarmAck";
}  // namespace type

// Members every side reads.
namespace member {
inline constexpr char type[] = "type";
inline constexpr char seq[] = "seq";
inline constexpr char error[] = "error";
inline constexpr char reason[] = "reason";
inline constexpr char deviceId[] = "deviceId";
inline constexpr char protocolVersion[] = "protocolVersion";
// getConfig and its answer.
inline constexpr char command[] = "command";
inline constexpr char audioCodec[] = "audioCodec";
// media requests.
inline constexpr char op[] = "op";
inline constexpr char session[] = "session";
inline constexpr char channel[] = "channel";
inline constexpr char streamType[] = "streamType";
inline constexpr char mediaIp[] = "mediaIp";
inline constexpr char linkType[] = "linkType";
inline constexpr char mediaPort[] = "mediaPort";
inline constexpr char native[] = "native";
inline constexpr char start[] = "start";
inline constexpr char stop[] = "stop";
inline constexpr char operation[] = "operation";
inline constexpr char audioCode[] = "audioCode";
}  // namespace member

// Values of the "op" member of a media request.
namespace mediaOp {
inline constexpr char startLive[] = "startLive";
inline constexpr char stopLive[] = "stopLive";
inline constexpr char startRecord[] = "startRecord";
inline constexpr char stopRecord[] = "stopRecord";
inline constexpr char operateRecord[] = "operateRecord";
inline constexpr char startVoice[] = "startVoice";
inline constexpr char stopVoice[] = "stopVoice";
}  // namespace mediaOp

// Values of the "linkType" member of startLive.
namespace linkType {
inline constexpr char tcp[] = "TCP";
inline constexpr char udp[] = "UDP";
}  // namespace linkType

// Values of the "reason" member of a refused frame.
namespace reason {
inline constexpr char auth[] = "auth";
inline constexpr char key[] = "key";
inline constexpr char login[] = "login";
inline constexpr char protocol[] = "protocol";
inline constexpr char duplicate[] = "duplicate";
inline constexpr char frame[] = "frame";
}  // namespace reason

}  // namespace vexawire

#endif
