#pragma once

#include "DeviceMgr/api/hardware_device_api.h"
#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/hardware_detector.h"
#include "DeviceMgr/hwdev_manager.h"

#include <algorithm>
#include <functional>
#include <vector>
#include <stdexcept>
#include <string>

namespace pavix_test {

// A hardware device with nothing behind it but its identity.
class fake_device : public morvane::devicemgrapi::hardware_device_api {
public:
    explicit fake_device(const std::string& id) { setHardwareID(id); }
    bool hasInterface(InterfaceType, unsigned short) override { return false; }
    bool hasInterface(const morvane::devicemgrapi::interface_desc&) override { return false; }
    unsigned int numberOfInterfaces(InterfaceType) override { return 0; }
    const std::string& getDescription() const override { return m_desc; }
    const std::list<morvane::devicemgrapi::interface_desc>& getInterfaceDescriptorList() const override {
        return m_list;
    }
    void open() override { m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() override { return m_open; }
    std::shared_ptr<morvane::devicemgrapi::interface_base> getInterface(
        const morvane::devicemgrapi::interface_desc&) override {
        return nullptr;
    }
    bool upgradeFirmware(const char*) override { return false; }
    void modeSwitch(unsigned char) override {}
    bool isFirmwareUpgradePossible(const char*, bool) override { return false; }
    bool isFirmwareUpgradeRequired(const char*, bool) override { return false; }

private:
    std::string m_desc = "fake";
    std::list<morvane::devicemgrapi::interface_desc> m_list;
    bool m_open = false;
};

// A hardware manager whose "bus" is a list the test edits; a scan announces the differences.
class fake_manager : public morvane::devices::hwdev_manager {
public:
    explicit fake_manager(morvane::logger::logmgr& log, uint8_t id = 0) : hwdev_manager(log, id) {}

    std::vector<std::string> bus;           // hardware IDs currently "attached"
    int starts = 0, stops = 0, scans = 0;
    std::function<void()> onStart;          // may throw
    std::function<void()> onStop;           // may throw
    std::function<void()> onScan;           // may throw

    void start() override {
        ++starts;
        if (onStart) onStart();
        scan();
    }
    void stop() override {
        ++stops;
        if (onStop) onStop();
    }
    void lookForDeviceChange() override {
        ++scans;
        if (onScan) onScan();
        scan();
    }

private:
    void scan() {
        std::vector<std::string> current = bus;
        for (const auto& dev : getProgrammingDevices()) {
            if (std::find(current.begin(), current.end(), dev->getHardwareID()) == current.end()) {
                m_disconnected_signal(dev);
                std::lock_guard<std::recursive_mutex> lock(m_devices_mutex);
                m_programming_devices.remove(dev);
            }
        }
        for (const auto& id : current) {
            bool known = false;
            for (const auto& dev : getProgrammingDevices()) known |= dev->getHardwareID() == id;
            if (!known) {
                auto dev = std::make_shared<fake_device>(id);
                addProgrammingDevice(dev);
                m_connected_signal(dev);
            }
        }
    }
};

// A detector the test fires by hand.
class fake_detector : public morvane::devices::hardware_detector {
public:
    int started = 0, stopped = 0;
    std::function<void()> onStop;
    void startHardwareDetection() override { ++started; }
    void stopHardwareDetection() override {
        ++stopped;
        if (onStop) onStop();
    }
    void fire() { m_hardware_changed(); }
};

// Installs a backend factory for the life of a scope; the default is "no hardware at all",
// so a test of the directory or the API never reaches the host's real buses.
class scoped_backends {
public:
    explicit scoped_backends(morvane::devices::backend_factory f = morvane::devices::backend_factory()) {
        morvane::devices::device_manager_dir::setBackendFactory(std::move(f));
    }
    ~scoped_backends() { morvane::devices::device_manager_dir::resetBackendFactory(); }
    scoped_backends(const scoped_backends&) = delete;
    scoped_backends& operator=(const scoped_backends&) = delete;
};

}  // namespace pavix_test
