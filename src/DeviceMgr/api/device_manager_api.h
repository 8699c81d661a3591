#pragma once

#include "DeviceMgr/api/hardware_device_api.h"

#include <boost/signals2/signal.hpp>

#include <cstdint>
#include <list>
#include <memory>
#include <string>

namespace morvane::devicemgrapi {

// What the Bridge API sees of the device manager.
class device_manager_api {
public:
    using device_signal = boost::signals2::signal<void(std::shared_ptr<hardware_device_api>)>;

    explicit device_manager_api(std::string name) : m_name(std::move(name)) {}
    virtual ~device_manager_api() = default;
    virtual std::string getName() const { return m_name; }
    virtual void initialize() = 0;
    virtual bool isInitializing() = 0;
    virtual void shutdown() = 0;
    virtual device_signal& getHardwareConnectedSignal() = 0;
    virtual device_signal& getHardwareDisconnectedSignal() = 0;
    virtual void getConnectedProgrammingDevices(std::list<std::shared_ptr<hardware_device_api>>& out) = 0;
    virtual std::shared_ptr<hardware_device_api> getDeviceByHardwareID(const std::string& id) = 0;
    virtual bool upgradeFirmware(const std::string& hardwareId, const std::string& fileName) = 0;
    virtual bool modeSwitch(const std::string& hardwareId, uint8_t mode) = 0;
    virtual std::string getFWDirectory() = 0;

private:
    std::string m_name;
};

}  // namespace morvane::devicemgrapi
