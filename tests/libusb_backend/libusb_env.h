#pragma once

// A device manager directory with the real libusb manager only, on the virtual probe bench.
// Scans are driven by hand (no detector).
#include "DeviceMgr/api/devmgr_exception.h"
#include "DeviceMgr/backends/libusb_devicemgr.h"
#include "DeviceMgr/backends/libusb_deviceobj.h"
#include "DeviceMgr/device_manager_dir.h"
#include "DeviceMgr/devices/usbhardwaredev.h"
#include "support/fake_hardware.h"
#include "umockdev/bench_fixture.h"

#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace libusb_env {

using device_ptr = std::shared_ptr<morvane::devicemgrapi::hardware_device_api>;
using morvane::devicemgrapi::devmgr_exception;
using morvane::devices::libusb_deviceobj;

inline morvane::devices::backend_factory libusbOnly() {
    morvane::devices::backend_factory f;
    f.createManagers = [](morvane::devices::device_manager_dir& dir, morvane::logger::logmgr& log,
                          const std::shared_ptr<morvane::devices::param_db>& params, std::recursive_mutex& scan) {
        dir.connectHardwareManager("jlink", std::make_shared<morvane::devices::libusb_devicemgr>(
                                                log, morvane::devices::device_manager_dir::ID_LIBUSB_MGR, params, scan));
    };
    return f;
}

inline std::shared_ptr<libusb_deviceobj> objectOf(const device_ptr& d) {
    auto usb = std::dynamic_pointer_cast<morvane::devices::usbhardwaredev>(d);
    return usb ? std::dynamic_pointer_cast<libusb_deviceobj>(usb->getUsbDevice()) : nullptr;
}

// A directory over the libusb manager alone, with the devices it announced. Destroy it (or
// call reset()) before the testbed goes: every libusb handle and context must be gone first.
class libusb_fixture : public pavix_bench::bench_fixture {
protected:
    void SetUp() override {
        bench_fixture::SetUp();
        m_backends = std::make_unique<pavix_test::scoped_backends>(libusbOnly());
    }
    void TearDown() override {
        reset();
        m_backends.reset();
        bench_fixture::TearDown();
    }
    void reset() {
        m_dir.reset();
        connected.clear();
        disconnected.clear();
    }
    morvane::devices::device_manager_dir& dir(const std::string& supported = "0x00000000") {
        std::map<std::string, std::string> props{{"supported_devices", supported}, {"hid_access_mode", "default"}};
        m_dir = morvane::devices::device_manager_dir::create("transport_lib", m_log, props);
        m_dir->getHardwareConnectedSignal().connect([this](device_ptr d) { connected.push_back(d); });
        m_dir->getHardwareDisconnectedSignal().connect([this](device_ptr d) { disconnected.push_back(d); });
        return *m_dir;
    }
    std::list<device_ptr> devices() {
        std::list<device_ptr> out;
        m_dir->getConnectedProgrammingDevices(out);
        return out;
    }
    // The single announced device's object, opened with configuration 1 selected.
    std::shared_ptr<libusb_deviceobj> openedObject(size_t index = 0) {
        auto obj = objectOf(connected.at(index));
        if (!obj) return nullptr;
        obj->open();
        obj->setConfiguration(1);
        return obj;
    }

    morvane::logger::logmgr m_log;
    std::unique_ptr<pavix_test::scoped_backends> m_backends;
    std::shared_ptr<morvane::devices::device_manager_dir> m_dir;
    std::vector<device_ptr> connected, disconnected;
};

// Runs `fn` and returns the devmgr_exception it throws; fails the test when it throws none.
template <typename Fn>
devmgr_exception thrownBy(Fn fn) {
    try {
        fn();
    } catch (const devmgr_exception& e) {
        return e;
    }
    ADD_FAILURE() << "no devmgr_exception";
    return devmgr_exception(devmgr_exception::ErrorCode(0), "none");
}

}  // namespace libusb_env
