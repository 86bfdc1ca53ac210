// Operation messages: the device state changes (REGISTER, LOGOUT) that the registration side
// decides and the operation worker carries out, as JSON texts (identifiers escaped).
#ifndef VEXA_OPERATION_MSG_H
#define VEXA_OPERATION_MSG_H

#include <cstdint>
#include <string>

namespace vexa {

std::string makeLogoutMsg(const std::string& deviceId, int32_t offlineHint, int32_t userHandle);
std::string makeRegisterMsg(int32_t userHandle);

}  // namespace vexa

#endif
