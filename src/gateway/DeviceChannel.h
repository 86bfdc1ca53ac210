// What the gateway handlers need from a device: the model-command channel and the pass-through.
// The dispatcher uses the device's own channel; tests put a scripted one in its place.
#ifndef VEXA_DEVICE_CHANNEL_H
#define VEXA_DEVICE_CHANNEL_H

#include <cstdint>
#include <string>

#include "device/VexaDevice.h"

struct DeviceChannel {
    virtual ~DeviceChannel() = default;
    // A model command to the device (target "global" unless a handler says otherwise).
    virtual uint32_t model(std::string& response, const ModelCommand& cmd, const std::string& target) = 0;
    // A device-API request passed through unchanged; method as getHttpMethodType gives it.
    virtual uint32_t ovix(std::string& response, const std::string& url, const std::string& body,
                          uint8_t method) = 0;
    // A FERRO command (reboot, upgrade of native devices).
    virtual uint32_t ferro(std::string& response, const std::string& command, const std::string& body) = 0;
    virtual uint32_t resetPictureServer(const std::string& body) = 0;
};

class DeviceChannelImpl : public DeviceChannel {
public:
    explicit DeviceChannelImpl(CVexaDevice& dev) : m_dev(dev) {}
    uint32_t model(std::string& response, const ModelCommand& cmd, const std::string& target) override {
        return m_dev.devConfigSync(response, m_dev.userHandle(), cmd, target);
    }
    uint32_t ovix(std::string& response, const std::string& url, const std::string& body, uint8_t method) override {
        return m_dev.ovixConfig(response, url, body, method);
    }
    uint32_t ferro(std::string& response, const std::string& command, const std::string& body) override {
        return m_dev.ferroConfig(response, command, body);
    }
    uint32_t resetPictureServer(const std::string& body) override { return m_dev.resetPictureServer(body); }

private:
    CVexaDevice& m_dev;
};

#endif
