// Operation messages: device state changes (REGISTER, LOGOUT) carried out on a worker thread,
// outside the library callback or the host call that decided them.
#ifndef VEXA_OPERATION_MSG_MGR_H
#define VEXA_OPERATION_MSG_MGR_H

#include <string>

#include "alarm/MsgWorker.h"
#include "common/Singleton.h"
#include "device/OperationMsg.h"

class COperationMsgMgr : public singleton<COperationMsgMgr>, public CMsgWorker {
public:
    static constexpr size_t kDefaultBound = 10000;

    void init();

    // Message builders (defined with the device lifecycle that sends them).
    static std::string makeLogout(const std::string& deviceId, int32_t offlineHint, int32_t userHandle) {
        return vexa::makeLogoutMsg(deviceId, offlineHint, userHandle);
    }
    static std::string makeRegister(int32_t userHandle) { return vexa::makeRegisterMsg(userHandle); }

    // What a message asks for; anything unparsable, incomplete or mistyped is kNone.
    struct Operation {
        enum Kind { kNone, kRegister, kLogout } kind = kNone;
        int32_t userId = -1;      // REGISTER: the login handle to bring on-line
        std::string deviceId;     // LOGOUT
        int32_t offlineHint = 0;  // LOGOUT
        int32_t userHandle = -1;  // LOGOUT: the session it is about; -1 none
    };
    static Operation parse(const std::string& text);

    // Handles one message; exposed for tests.
    void handle(const std::string& text);

protected:
    void process(const std::string& text) override { handle(text); }
    const char* name() const override { return "COperationMsgMgr"; }
    const char* items() const override { return "operation messages"; }
};

#endif
