// Media order texts as a host writes them, shared by unit, integration and bench code.
#ifndef VEXA_TEST_ORDER_TEXTS_H
#define VEXA_TEST_ORDER_TEXTS_H

#include <string>

namespace vtest {

inline std::string mediaOrder(const std::string& command, const std::string& fields,
                              const std::string& devIndex = "cam1") {
    return "<Message><DevIndexCode>" + devIndex + "</DevIndexCode><Pack type=\"TNP\"><Command>" + command +
           "</Command><DevIndexCode>" + devIndex + "</DevIndexCode>" + fields + "</Pack></Message>";
}
inline std::string liveOrder(const std::string& link, int port, const std::string& chan = "1",
                             const std::string& sinkIp = "127.0.0.1", const std::string& portText = "") {
    return mediaOrder("PLAY_STREAM_REQ", "<Channel>" + chan + "</Channel><LinkType>" + link +
                                             "</LinkType><ChannelType>SUB</ChannelType><SinkIP>" + sinkIp +
                                             "</SinkIP><SinkPort>" +
                                             (portText.empty() ? std::to_string(port) : portText) + "</SinkPort>");
}
inline std::string playbackOrder(int port, const std::string& start, const std::string& end,
                                 const std::string& extra = "", const std::string& chan = "1") {
    return mediaOrder("PLAYBACK_FILE_REQ", "<Channel>" + chan + "</Channel><SinkIP>127.0.0.1</SinkIP><SinkPort>" +
                                               std::to_string(port) +
                                               "</SinkPort><FileName>f</FileName><PlaybackType>1</PlaybackType>"
                                               "<StartTime>" + start + "</StartTime><EndTime>" + end +
                                               "</EndTime><StartOffset>0</StartOffset>" + extra);
}
inline std::string talkOrder(int port, const std::string& chan = "1") {
    return mediaOrder("START_TALK_REQ", "<Channel>" + chan + "</Channel><LinkType>TCP</LinkType><SinkIP>127.0.0.1"
                                        "</SinkIP><SinkPort>" + std::to_string(port) + "</SinkPort>");
}
// Push, stop, pause and resume orders name the session.
inline std::string sessionOrder(const std::string& command, const std::string& session) {
    return mediaOrder(command, "<LinkType>TCP</LinkType><Session>" + session + "</Session>");
}
// The Session of a request order's answer; "" when there is none.
inline std::string sessionOf(const std::string& answer) {
    const size_t a = answer.find("<Session>"), b = answer.find("</Session>");
    return a == std::string::npos || b == std::string::npos ? std::string() : answer.substr(a + 9, b - a - 9);
}

}  // namespace vtest

#endif
