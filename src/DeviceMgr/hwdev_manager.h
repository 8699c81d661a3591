#pragma once

#include "DeviceMgr/api/hardware_device_api.h"
#include "Logger/logmgr.h"

#include <boost/signals2/signal.hpp>

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

namespace morvane::devices {

// Base of the hardware managers (one per access path). A manager scans its bus, keeps the
// hardware devices it created in its list, and announces additions and removals through its
// two signals.
//
// Threads: start() and lookForDeviceChange() run under the directory's shared scan mutex, on
// the client thread or the hot-plug thread. The device-list mutex guards only the list and
// is never held while a signal is emitted.
class hwdev_manager {
public:
    using device_ptr = std::shared_ptr<devicemgrapi::hardware_device_api>;
    using device_signal = boost::signals2::signal<void(device_ptr)>;

    hwdev_manager(logger::logmgr& log, uint8_t platformId)
        : m_log(log), m_platform_id(platformId) {}
    virtual ~hwdev_manager() = default;
    virtual void stop() = 0;
    virtual void start() = 0;
    virtual void lookForDeviceChange() = 0;

    void addProgrammingDevice(device_ptr device) {
        std::lock_guard<std::recursive_mutex> lock(m_devices_mutex);
        m_programming_devices.push_back(std::move(device));
    }

    // A copy of the device list, taken under the list mutex.
    std::list<device_ptr> getProgrammingDevices() {
        std::lock_guard<std::recursive_mutex> lock(m_devices_mutex);
        return m_programming_devices;
    }

    uint8_t getPlatformId() const { return m_platform_id; }

    device_signal m_connected_signal;
    device_signal m_disconnected_signal;

protected:
    logger::logmgr& m_log;
    uint8_t m_platform_id;
    std::list<device_ptr> m_programming_devices;
    std::recursive_mutex m_devices_mutex;
    logger::logmsg m_mgr_message{"devmgr", logger::logmsg::msgtype::Debug, 1};
};

}  // namespace morvane::devices
