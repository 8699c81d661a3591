#pragma once

// A device manager directory with the real HID manager only, on the virtual probe bench.
// Scans are driven by hand (no detector) unless a test asks for the real one.
#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/backends/hidapi_device.h"
#include "DeviceMgr/backends/hidapi_devicemgr.h"
#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/devices/usbhardwaredev.h"
#include "DeviceMgr/libusb_detector.h"
#include "support/fake_hardware.h"
#include "umockdev/bench_fixture.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace hid_env {

using device_ptr = std::shared_ptr<morvane::devicemgrapi::hardware_device_api>;

inline morvane::devices::backend_factory hidOnly(bool withDetector) {
    morvane::devices::backend_factory f;
    f.createManagers = [](morvane::devices::device_manager_dir& dir, morvane::logger::logmgr& log,
                          const std::shared_ptr<morvane::devices::param_db>& params, std::recursive_mutex& scan) {
        dir.connectHardwareManager("hidapi", std::make_shared<morvane::devices::hidapi_devicemgr>(
                                                 log, morvane::devices::device_manager_dir::ID_HIDAPI_MGR, params, scan));
    };
    if (withDetector)
        f.createDetector = [](morvane::logger::logmgr& log) -> std::shared_ptr<morvane::devices::hardware_detector> {
            return std::make_shared<morvane::devices::libusb_detector>(log);
        };
    return f;
}

inline std::shared_ptr<morvane::devices::device_manager_dir> makeDir(morvane::logger::logmgr& log,
                                                                     const std::string& supported = "0x00000000",
                                                                     const std::string& hidMode = "default") {
    std::map<std::string, std::string> props{{"supported_devices", supported}, {"hid_access_mode", hidMode}};
    return morvane::devices::device_manager_dir::create("transport_lib", log, props);
}

inline std::list<device_ptr> devices(morvane::devices::device_manager_dir& dir) {
    std::list<device_ptr> out;
    dir.getConnectedProgrammingDevices(out);
    return out;
}

inline std::shared_ptr<morvane::devices::hiddevice> channelOf(const device_ptr& d) {
    auto usb = std::dynamic_pointer_cast<morvane::devices::usbhardwaredev>(d);
    return usb ? usb->getUsbDevice()->getHIDDevice() : nullptr;
}

// Polls `cond` until it holds or `limit` passes.
inline bool eventually(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
}

}  // namespace hid_env
