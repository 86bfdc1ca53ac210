// What the media orders need from a device, the session tables and the access library. Orders on
// a real device use DeviceMediaPort; tests and the fuzz harness put a scripted port in its place.
#ifndef VEXA_MEDIA_PORT_H
#define VEXA_MEDIA_PORT_H

#include <cstdint>
#include <string>

#include "VexaCmsSdk.h"
#include "device/SessionTables.h"
#include "device/VexaDevice.h"

struct MediaPort {
    virtual ~MediaPort() = default;

    // The device: login handle (-1 while off line), identifier, family ("VEXA" / "aldonV5") and
    // type ("SecurityCP" for panels).
    virtual int32_t userHandle() = 0;
    virtual std::string deviceId() = 0;
    virtual std::string devicePto() = 0;
    virtual std::string deviceType() = 0;

    // Request channel: a model command and a device-API request (method 0 GET, 2 POST); 0 when
    // the device answered.
    virtual uint32_t model(std::string& response, const ModelCommand& cmd) = 0;
    virtual uint32_t ovix(std::string& response, const std::string& url, const std::string& body,
                          uint8_t method) = 0;

    // Session tables: 1 stored / taken, 0 otherwise (the table logs why).
    virtual int addSession(SessionTables::Kind kind, const void* record, const std::string& key) = 0;
    virtual int takeSession(SessionTables::Kind kind, void* out, const std::string& key) = 0;

    // Access library: true on success, lastError() after a failure.
    virtual bool newSessionId(char* buffer, uint32_t size) = 0;
    virtual bool startLive(int32_t handle, const VEXA_CMS_LIVE_PARAM& param) = 0;
    virtual bool stopLive(int32_t handle, const VEXA_CMS_STOP_PARAM& param) = 0;
    virtual bool startRecord(int32_t handle, const VEXA_CMS_RECORD_PARAM& param) = 0;
    virtual bool stopRecord(int32_t handle, const VEXA_CMS_STOP_PARAM& param) = 0;
    virtual bool operateRecord(int32_t handle, uint32_t operation, const VEXA_CMS_OPERATE_PARAM& param) = 0;
    virtual bool startVoice(int32_t handle, const VEXA_CMS_VOICE_PARAM& param) = 0;
    virtual bool stopVoice(int32_t handle, const VEXA_CMS_VOICE_STOP_PARAM& param) = 0;
    virtual bool getDevConfig(int32_t handle, uint32_t command, VEXA_CMS_DEV_CONFIG_QUERY& query) = 0;
    virtual uint32_t lastError() = 0;
};

class DeviceMediaPort : public MediaPort {
public:
    explicit DeviceMediaPort(CVexaDevice& dev) : m_dev(dev) {}
    int32_t userHandle() override;
    std::string deviceId() override;
    std::string devicePto() override;
    std::string deviceType() override;
    uint32_t model(std::string& response, const ModelCommand& cmd) override;
    uint32_t ovix(std::string& response, const std::string& url, const std::string& body, uint8_t method) override;
    int addSession(SessionTables::Kind kind, const void* record, const std::string& key) override;
    int takeSession(SessionTables::Kind kind, void* out, const std::string& key) override;
    bool newSessionId(char* buffer, uint32_t size) override;
    bool startLive(int32_t handle, const VEXA_CMS_LIVE_PARAM& param) override;
    bool stopLive(int32_t handle, const VEXA_CMS_STOP_PARAM& param) override;
    bool startRecord(int32_t handle, const VEXA_CMS_RECORD_PARAM& param) override;
    bool stopRecord(int32_t handle, const VEXA_CMS_STOP_PARAM& param) override;
    bool operateRecord(int32_t handle, uint32_t operation, const VEXA_CMS_OPERATE_PARAM& param) override;
    bool startVoice(int32_t handle, const VEXA_CMS_VOICE_PARAM& param) override;
    bool stopVoice(int32_t handle, const VEXA_CMS_VOICE_STOP_PARAM& param) override;
    bool getDevConfig(int32_t handle, uint32_t command, VEXA_CMS_DEV_CONFIG_QUERY& query) override;
    uint32_t lastError() override;

private:
    CVexaDevice& m_dev;
};

#endif
