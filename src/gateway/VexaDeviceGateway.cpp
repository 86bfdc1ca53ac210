// Device-API dispatcher (placeholder until the routing tables land).
#include "VexaDevice.h"

uint32_t CVexaDevice::OVIX_Getway(const char*, char*, uint32_t) { return VEXA_ERR_NOT_SUPPORTED; }
