// Steps the media handlers share: the on-line check, a fresh server session, the stop records and
// the plain answers.
#ifndef VEXA_MEDIA_STEPS_H
#define VEXA_MEDIA_STEPS_H

#include <cstring>
#include <string>

#include "common/Bounded.h"
#include "common/Log.h"
#include "common/LogLimit.h"
#include "media/MediaOrders.h"
#include "media/OrderMessage.h"

namespace vexa {
namespace media {

// False (logged) while the device has no login.
inline bool online(MediaPort& port, const CTarnMessage& msg, const char* func) {
    if (port.userHandle() != -1) return true;
    LOG_DEV(5, func, "Dev %s is not online!", vexa::logText(msg.DevIndexCode).c_str());
    return false;
}

// A fresh server session ID and its value. The host gets the value back as Session and the push
// order names it by that value, so an ID that is empty, not a plain positive decimal or out of
// range fails the order.
inline bool newSession(MediaPort& port, char (&id)[128], int32_t& value, const char* func) {
    std::memset(id, 0, sizeof id);
    if (port.newSessionId(id, sizeof id)) {
        id[sizeof id - 1] = '\0';
        int32_t v = 0;
        if (strictDecimal(id, v) && v > 0 && std::to_string(v) == id) {
            value = v;
            return true;
        }
    }
    LOG_DEV(5, func, "[userid=%ld,szServSessionId=%s]VEXA_CMS_GetSevrSessionId failed, error code: %d",
            static_cast<long>(port.userHandle()), vexa::logText(id).c_str(), static_cast<int>(port.lastError()));
    std::memset(id, 0, sizeof id);
    value = 0;
    return false;
}

// The session text of a record's 128-byte field, never read past the field.
inline std::string sessionText(const char (&field)[128]) { return std::string(field, strnlen(field, sizeof field)); }

// Stop, pause and resume records carry the decimal text of Session at offset 0.
template <typename Record>
Record sessionRecord(int32_t session) {
    Record r;
    std::memset(&r, 0, sizeof r);
    const std::string text = std::to_string(session);
    std::memcpy(r.szSessionID, text.c_str(), text.size());  // at most 11 characters of 64
    return r;
}

// An answer with no further elements.
inline void plainAnswer(CXmlCursor& rsp, const char* command, bool ok) {
    CTarnMessage m;
    m.Command = command;
    m.PackType = "TNP";
    m.setResult(ok);
    rsp.resetPosition();
    m.build(rsp);
}

// An answer that names the session (request orders).
inline void sessionAnswer(CXmlCursor& rsp, MediaPort& port, const char* command, bool ok, int32_t session) {
    CTarnPlayBackFileRsp a;
    if (command) a.Msg.Command = command;
    a.Msg.setResult(ok);
    a.Session = session;
    a.DevId = port.deviceId();
    a.build(rsp);
}

// The stop orders: the on-line check, the stop fields, then the library's stop call for the
// session; "[userid=...]<call> success" or "... fail, errCode=..." says how it went.
template <typename StopCall>
int32_t stopOrder(MediaPort& port, CXmlCursor& order, const CTarnMessage& msg, CXmlCursor& rsp, const char* func,
                  const char* parseFail, const char* call, const char* answer, StopCall&& stop) {
    int32_t result = kHandlerFailed;
    CTarnStopReq req;
    if (!online(port, msg, func)) {
    } else if (!req.parse(order)) {
        LOG_DEV(5, func, "%s", parseFail);
    } else {
        const long handle = port.userHandle();
        if (stop(static_cast<int32_t>(handle), req.Session)) {
            LOG_DEV(2, func, "[userid=%ld]%s success", handle, call);
            result = 0;
        } else {
            LOG_DEV(5, func, "[userid=%ld]%s fail, errCode=%d", handle, call, static_cast<int>(port.lastError()));
        }
    }
    plainAnswer(rsp, answer, result == 0);
    return result;
}

}  // namespace media
}  // namespace vexa

#endif
