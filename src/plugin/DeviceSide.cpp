#include "plugin/DeviceSide.h"

#include "alarm/AlarmMsgMgr.h"
#include "alarm/OperationMsgMgr.h"
#include "alarm/StorageAlarm.h"
#include "device/EventIntake.h"
#include "device/VexaDeviceMgr.h"

namespace {

class AlarmSideIntake final : public EventIntake {
public:
    void start() override {
        CAlarmMsgMgr::instance()->init();
        COperationMsgMgr::instance()->init();
    }
    void stopOperations() override { COperationMsgMgr::instance()->stop(); }
    void stopAlarms() override { CAlarmMsgMgr::instance()->stop(); }
    void setClock(const vexa::Clock* clock) override {
        CAlarmMsgMgr::instance()->setClock(clock);
        COperationMsgMgr::instance()->setClock(clock);
    }
    void pushAlarm(std::string text) override { CAlarmMsgMgr::instance()->push(std::move(text)); }
    bool offerAlarm(std::string text) override { return CAlarmMsgMgr::instance()->offer(std::move(text)); }
    void pushOperation(std::string text) override { COperationMsgMgr::instance()->push(std::move(text)); }
    std::string checkStorage(CVexaDevice& dev) override { return checkStorageState(dev); }
};

}  // namespace

void connectDeviceSide() {
    static AlarmSideIntake intake;
    CVexaDeviceMgr::instance()->setEventIntake(&intake);
}

int startDeviceSide() {
    connectDeviceSide();
    return CVexaDeviceMgr::instance()->init();
}

int stopDeviceSide() { return CVexaDeviceMgr::instance()->uninit(); }
