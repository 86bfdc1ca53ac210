#include "AlarmMsgMgr.h"

#include "ConfigCenter.h"
#include "Log.h"

void CAlarmMsgMgr::init() {
    const int32_t bound = CConfigCenter::instance()->getInt("AlarmQueueSize");
    setBound(bound > 0 ? static_cast<size_t>(bound) : kDefaultBound);
    start("CAlarmMsgMgr::init", "alarm process thread create failed");
}

void CAlarmMsgMgr::processAlarm(const std::string& text) {
    // Conversion to host events comes with the alarm converters; until then alarms are logged.
    LOG_DEV(2, "CAlarmMsgMgr::processAlarmTaskThread", "alarm received, %zu bytes", text.size());
}
